// frmMAC in-process, what the real program under Wine cannot show: its layout,
// fonts and logo at the monitor's DPI, and input given during a slow query.
// gui_test.sh drives the real program: its boxes, keys, focus and what it
// tells screen readers. Needs a display: run through in-xvfb.sh.
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "frmMAC.h"
#include "resolve_each.h"

using namespace norvane;
using namespace norvane::win32;

// Runs at 96 and, told by NORVANE_WINE_DPI, at 144 dots per inch.
TEST(Window, LayoutFontsAndLogoFollowTheDpi) {
  const HWND window = CreateMainWindow(GetModuleHandleW(nullptr));
  ASSERT_NE(window, nullptr);
  const unsigned dpi = GetDpiForWindow(window);
  if (const char* want = std::getenv("NORVANE_WINE_DPI")) {
    EXPECT_EQ(dpi, unsigned(std::atoi(want)));
  }
  RECT box{};
  GetClientRect(window, &box);
  EXPECT_EQ(box.right, MulDiv(271, dpi, 96));  // 406.5 is 407 at 144
  EXPECT_EQ(box.bottom, MulDiv(197, dpi, 96));
  GetWindowRect(GetDlgItem(window, ControlId(layout::kTxtIP)), &box);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
  EXPECT_EQ(std::tuple(box.left, box.top, box.right, box.bottom),
            std::tuple(MulDiv(8, dpi, 96), MulDiv(80, dpi, 96),
                       MulDiv(161, dpi, 96), MulDiv(99, dpi, 96)));
  // The title in Tahoma itself, bold, 9.75 points.
  const HDC dc = GetDC(window);
  SelectObject(dc,
               reinterpret_cast<HFONT>(SendDlgItemMessageW(
                   window, ControlId(layout::kLblTitle), WM_GETFONT, 0, 0)));
  wchar_t face[LF_FACESIZE] = {};
  GetTextFaceW(dc, LF_FACESIZE, face);
  TEXTMETRICW font{};
  GetTextMetricsW(dc, &font);
  ReleaseDC(window, dc);
  EXPECT_STREQ(face, L"Tahoma");
  EXPECT_EQ(font.tmWeight, FW_BOLD);
  EXPECT_EQ(font.tmHeight - font.tmInternalLeading, MulDiv(975, dpi, 7200));
  ICONINFO logo{};
  BITMAP mask{};
  const int size = MulDiv(48, dpi, 96);
  const Icon icon = LoadLogo(GetModuleHandleW(nullptr), size);
  ASSERT_TRUE(GetIconInfo(icon.get(), &logo));
  GetObjectW(logo.hbmMask, sizeof mask, &mask);
  EXPECT_EQ(mask.bmWidth, size);
  EXPECT_NE(GetClassLongPtrW(window, GCLP_HICON), 0u);  // the app's icon
  EXPECT_GT(SendDlgItemMessageW(window, ControlId(layout::kTxtIP),
                                EM_GETLIMITTEXT, 0, 0),
            1 << 30);  // no length limit
  DestroyWindow(window);
}

// Clicks on the button, then presses of Space on it, posted as the queue
// holds the input given while a query blocks the window.
HWND button = nullptr;

void Give(int clicks, int spaces) {
  for (int i = 0; i < clicks; ++i) {
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    PostMessageW(button, WM_LBUTTONUP, 0, 0);
  }
  for (int i = 0; i < spaces; ++i) {
    PostMessageW(button, WM_KEYDOWN, VK_SPACE, 1);
    PostMessageW(button, WM_KEYUP, VK_SPACE, 0xC0000001);
  }
}

// A silent host: while the query blocks, the user clicks the button twenty
// times and presses Space on it. None of that runs another query.
int queries = 0;

bool SlowResolve(std::uint32_t, HardwareBuffer&, std::uint32_t&) {
  if (++queries == 1) Give(20, 1);
  return false;
}

TEST(Window, InputGivenDuringAQueryIsDropped) {
  const AddressPlatform slow{
      [](const std::u16string&) -> std::uint32_t { return 0x0964'33C6; },
      ResolveEach<SlowResolve>};
  const HWND window = CreateMainWindow(GetModuleHandleW(nullptr), slow);
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_SHOW);
  button = GetDlgItem(window, ControlId(layout::kCmdRetreive));
  // Dispatches what waits in the queue, as the message loop would.
  const auto run = [] {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  };
  Give(1, 0);
  run();
  EXPECT_EQ(queries, 1);
  // A click given after the query runs the next one.
  Give(1, 0);
  run();
  EXPECT_EQ(queries, 2);
  DestroyWindow(window);
}
