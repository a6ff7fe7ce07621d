// Norvane.exe: loads the vendor table, then shows frmMAC until it is closed.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <string>

#include "frmMAC.h"
#include "startup.h"

namespace {

// The one start-up failure: a modal box without an owner, as no window
// exists yet. The program ends once the user has pressed OK.
void ShowTableError(const norvane::TableError& error) {
  const std::wstring text(error.message.begin(), error.message.end());
  const std::wstring title(error.title.begin(), error.title.end());
  MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  // Form_Load: the whole table is read before any window exists; a missing
  // table shows its box and ends the program with a non-zero status.
  if (!norvane::LoadOUI(ShowTableError)) return norvane::kTableExitStatus;

  const HWND window = norvane::win32::CreateMainWindow(instance);
  return window ? norvane::win32::RunMainWindow(window, show) : 1;
}
