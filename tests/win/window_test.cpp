// frmMAC in-process, what the real program under Wine cannot show: its layout,
// fonts and logo at the monitor's DPI, and a query that succeeds.
// Needs a display: run through in-xvfb.sh.
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "frmMAC.h"
#include "oui.h"

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
  ASSERT_TRUE(GetIconInfo(LoadLogo(GetModuleHandleW(nullptr), size), &logo));
  GetObjectW(logo.hbmMask, sizeof mask, &mask);
  EXPECT_EQ(mask.bmWidth, size);
  EXPECT_NE(GetClassLongPtrW(window, GCLP_HICON), 0u);  // the app's icon
  EXPECT_GT(SendDlgItemMessageW(window, ControlId(layout::kTxtIP),
                                EM_GETLIMITTEXT, 0, 0),
            1 << 30);  // no length limit
  DestroyWindow(window);
}

// Wine's SendARP always fails: here a fake answers.
bool FakeResolve(std::uint32_t, HardwareBuffer& buffer, std::uint32_t& length) {
  buffer = {0x00, 0x0C, 0x29, 0x0A, 0x0B, 0xFF};
  length = 6;
  return true;
}

TEST(Window, ClickShowsTheAddressAndItsVendor) {
  const AddressPlatform fake{
      [](const std::u16string&) -> std::uint32_t { return 0x0764'33C6; },
      ResolveEach<FakeResolve>};
  OUIList = {u"00-0C-29   (hex)        VMware, Inc."};
  const HWND window = CreateMainWindow(GetModuleHandleW(nullptr), fake);
  ASSERT_NE(window, nullptr);
  SetDlgItemTextW(window, ControlId(layout::kTxtIP), L"198.51.100.7");
  SendDlgItemMessageW(window, ControlId(layout::kCmdRetreive), BM_CLICK, 0, 0);
  wchar_t mac[32] = {}, vendor[32] = {};
  GetDlgItemTextW(window, ControlId(layout::kTxtMAC), mac, 32);
  GetDlgItemTextW(window, ControlId(layout::kTxtVendor), vendor, 32);
  EXPECT_STREQ(mac, L"00-0C-29-0A-0B-FF");
  EXPECT_STREQ(vendor, L"VMware, Inc.");
  DestroyWindow(window);
  OUIList.clear();
}
