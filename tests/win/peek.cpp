// peek.exe: what a top-level window shows, for the window tests to compare.
//
//   peek.exe CAPTION
//
// Finds the top-level window whose caption is exactly CAPTION and prints, in
// UTF-8, one line per fact, fields separated by tabs:
//
//   client  WIDTH  HEIGHT            size of its client area
//   focus   ID                       control id of the focused child, or 0
//   capture ID                       control id of the child holding the
//                                    mouse, or 0
//   child   ID  CLASS  STYLE  LEFT  TOP  RIGHT  BOTTOM  TEXT
//
// one child line per child window in Z order (the tab order), with its box in
// screen pixels, its style in hexadecimal and its text from WM_GETTEXT, as any
// other program would read it. Exits with 1 when no such window exists.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                       static_cast<int>(text.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring Wide(const char* text) {
  const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), size);
  out.resize(out.size() - 1);
  return out;
}

// The text another process gets by asking the window, as a screen reader or
// a test would.
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                           5000, &length)) {
    return L"<no answer>";
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(),
                      reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                      5000, &copied);
  text.resize(copied);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: peek.exe CAPTION\n", stderr);
    return 2;
  }
  _setmode(_fileno(stdout), _O_BINARY);  // lines end in \n alone
  const HWND window = FindWindowW(nullptr, Wide(argv[1]).c_str());
  if (!window) {
    std::fprintf(stderr, "peek: no window captioned \"%s\"\n", argv[1]);
    return 1;
  }

  RECT client{};
  GetClientRect(window, &client);
  std::printf("client\t%ld\t%ld\n", client.right, client.bottom);

  GUITHREADINFO thread{};
  thread.cbSize = sizeof thread;
  int focus = 0;
  int capture = 0;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread)) {
    if (thread.hwndFocus && IsChild(window, thread.hwndFocus))
      focus = GetDlgCtrlID(thread.hwndFocus);
    if (thread.hwndCapture && IsChild(window, thread.hwndCapture))
      capture = GetDlgCtrlID(thread.hwndCapture);
  }
  std::printf("focus\t%d\n", focus);
  std::printf("capture\t%d\n", capture);

  for (HWND child = GetWindow(window, GW_CHILD); child;
       child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[64] = {};
    GetClassNameW(child, name, 64);
    RECT box{};
    GetWindowRect(child, &box);
    std::printf("child\t%d\t%s\t%08lx\t%ld\t%ld\t%ld\t%ld\t%s\n",
                GetDlgCtrlID(child), Utf8(name).c_str(),
                static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
                box.left, box.top, box.right, box.bottom,
                Utf8(TextOf(child)).c_str());
  }
  return 0;
}
