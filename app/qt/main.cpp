// Start-up: the vendor table is loaded before the window is made, so a
// missing table ends the program before any window appears.
#include <QApplication>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "frmMAC.h"
#include "icon_images.h"
#include "startup.h"
#include "table_error.h"

namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// True when the window would go to a display server that is not there: no
// -platform argument, QT_QPA_PLATFORM unset or naming X or Wayland, and
// neither DISPLAY nor WAYLAND_DISPLAY set. Other platforms (offscreen, vnc,
// eglfs) need no session.
bool NoGraphicalSession(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 ||
        std::strcmp(argv[i], "--platform") == 0) {
      return false;
    }
  }
  if (IsSet("QT_QPA_PLATFORM")) {
    const std::string_view platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform.starts_with("xcb") && !platform.starts_with("wayland"))
      return false;
  }
  return !IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char* argv[]) {
  norvane::OpenStandardStreams();
  // Said in one line, where Qt would abort with a page about plugins.
  if (NoGraphicalSession(argc, argv)) {
    std::fputs(
        "norvane: the window needs a graphical session, and neither DISPLAY "
        "nor WAYLAND_DISPLAY is set\n",
        stderr);
    return 1;
  }
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
