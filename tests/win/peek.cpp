// peek.exe CAPTION: what the top-level window captioned CAPTION shows, as
// another program reads it, one tab-separated line a fact:
//   client WIDTH HEIGHT
//   focus ID            (the focused child's control id, or 0)
//   child ID CLASS STYLE(hex) LEFT TOP RIGHT BOTTOM(screen) TEXT(WM_GETTEXT)
//         HWND(hex, 16 digits)
// one child line each in Z order (the tab order). 1 when there is none.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
  const HWND window = argc == 2 ? FindWindowA(nullptr, argv[1]) : nullptr;
  if (!window) return 1;
  _setmode(_fileno(stdout), _O_BINARY);  // lines end in \n alone
  RECT client{};
  GetClientRect(window, &client);
  GUITHREADINFO thread{sizeof thread, 0, {}, {}, {}, {}, {}, {}, {}};
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread);
  std::printf(
      "client\t%ld\t%ld\nfocus\t%d\n", client.right, client.bottom,
      IsChild(window, thread.hwndFocus) ? GetDlgCtrlID(thread.hwndFocus) : 0);
  for (HWND child = GetWindow(window, GW_CHILD); child;
       child = GetWindow(child, GW_HWNDNEXT)) {
    char name[64] = {};
    char text[256] = {};
    GetClassNameA(child, name, sizeof name);
    SendMessageTimeoutA(child, WM_GETTEXT, sizeof text,
                        reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    RECT box{};
    GetWindowRect(child, &box);
    std::printf("child\t%d\t%s\t%08lx\t%ld\t%ld\t%ld\t%ld\t%s\t%016llX\n",
                GetDlgCtrlID(child), name,
                static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
                box.left, box.top, box.right, box.bottom, text,
                static_cast<unsigned long long>(
                    reinterpret_cast<std::uintptr_t>(child)));
  }
}
