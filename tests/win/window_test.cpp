// frmMAC in-process, what the real program under Wine cannot show: its layout,
// fonts and logo at the monitor's DPI, a query that succeeds, input given
// during a slow query, and what a screen reader reads.
// Needs a display: run through in-xvfb.sh.
#include <gtest/gtest.h>
#include <oleacc.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

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

// Left clicks where the cursor stands, then presses of Space.
void Give(int clicks, int spaces) {
  std::vector<INPUT> input(2 * static_cast<std::size_t>(clicks + spaces));
  for (std::size_t i = 0; i < input.size(); ++i) {
    const bool up = i % 2 == 1;
    if (i < 2 * static_cast<std::size_t>(clicks)) {
      input[i].type = INPUT_MOUSE;
      input[i].mi.dwFlags = up ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_LEFTDOWN;
    } else {
      input[i].type = INPUT_KEYBOARD;
      input[i].ki.wVk = VK_SPACE;
      input[i].ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    }
  }
  SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
}

// A silent host: while the query blocks, the user clicks the button twenty
// times and presses Space on it. None of that runs another query.
int queries = 0;

bool SlowResolve(std::uint32_t, HardwareBuffer&, std::uint32_t&) {
  if (++queries == 1) {
    Give(20, 1);
    Sleep(300);  // the platform's wait for an answer
  }
  return false;
}

TEST(Window, InputGivenDuringAQueryIsDropped) {
  const AddressPlatform slow{
      [](const std::u16string&) -> std::uint32_t { return 0x0964'33C6; },
      ResolveEach<SlowResolve>};
  const HWND window = CreateMainWindow(GetModuleHandleW(nullptr), slow);
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  const HWND button = GetDlgItem(window, ControlId(layout::kCmdRetreive));
  SetFocus(button);
  RECT box{};
  GetWindowRect(button, &box);
  SetCursorPos((box.left + box.right) / 2, (box.top + box.bottom) / 2);
  // Dispatches what arrives meanwhile, as the message loop would.
  auto pump = [](DWORD milliseconds) {
    for (const DWORD end = GetTickCount() + milliseconds; GetTickCount() < end;
         Sleep(10)) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
  };
  pump(300);
  Give(1, 0);
  pump(1000);
  EXPECT_EQ(queries, 1);
  // A click given after the query runs the next one.
  Give(1, 0);
  pump(500);
  EXPECT_EQ(queries, 2);
  DestroyWindow(window);
}

// A control's name, or its description, as a screen reader reads it.
std::wstring Accessible(HWND control, bool description) {
  IAccessible* object = nullptr;
  if (FAILED(AccessibleObjectFromWindow(control, OBJID_CLIENT, IID_IAccessible,
                                        reinterpret_cast<void**>(&object)))) {
    return L"(no accessible object)";
  }
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR text = nullptr;
  (description ? object->get_accDescription(self, &text)
               : object->get_accName(self, &text));
  std::wstring result = text ? text : L"";
  SysFreeString(text);
  object->Release();
  return result;
}

// Wine's accessibility layer (8.0) takes no annotations: SetHwndPropStr
// answers E_NOTIMPL.
bool TakesAnnotations(HWND window) {
  IAccPropServices* services = nullptr;
  if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr,
                              CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                              reinterpret_cast<void**>(&services)))) {
    return false;
  }
  const bool takes = SUCCEEDED(services->SetHwndPropStr(
      window, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_HELP, L"probe"));
  services->Release();
  return takes;
}

TEST(Window, ScreenReadersHearEachBoxByItsLabel) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  const HWND window = CreateMainWindow(GetModuleHandleW(nullptr));
  ASSERT_NE(window, nullptr);
  auto read = [window](layout::Id id, bool description) {
    return Accessible(GetDlgItem(window, ControlId(id)), description);
  };
  EXPECT_EQ(read(layout::kCmdRetreive, false), L"Dapatkan");
  // Where the layer takes annotations; under Wine, gui_test.sh reads what the
  // window asked of it.
  if (TakesAnnotations(window)) {
    EXPECT_EQ(read(layout::kTxtIP, false), L"IP Address:");
    EXPECT_EQ(read(layout::kTxtMAC, false), L"MAC Address:");
    EXPECT_EQ(read(layout::kTxtVendor, false), L"Vendor:");
    EXPECT_EQ(read(layout::kImage1, true), L"Velmora Networks logo");
  }
  DestroyWindow(window);
  CoUninitialize();
}
