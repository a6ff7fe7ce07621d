// Start-up: the vendor table is loaded before the window is made, so a
// missing table ends the program before any window appears.
#include <QApplication>
#include <clocale>

#include "frmMAC.h"
#include "icon_images.h"
#include "startup.h"
#include "table_error.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  std::setlocale(LC_ALL, "");
  QGuiApplication::setDesktopFileName("net.velmora.Norvane");
  QApplication::setWindowIcon(norvane::qt::DeepestIcon(":/norvane.ico"));

  if (!norvane::LoadOUI(norvane::qt::ShowTableError))
    return norvane::kTableExitStatus;

  frmMAC window;
  window.show();
  return app.exec();
}
