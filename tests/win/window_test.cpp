// The Win32 frmMAC in-process: its layout at the monitor's DPI, its fonts and
// logo, and its one command against a fake resolver (the success path that
// Wine's SendARP cannot take). Needs a display: run through in-xvfb.sh.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "frmMAC.h"
#include "oui.h"
#include "resource.h"

namespace norvane::win32 {
namespace {

namespace layout = norvane::layout;

std::u16string TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1,
                    L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return {text.begin(), text.end()};
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// Answers every query with 00-0C-29-0A-0B-FF, or fails, and counts them.
bool resolves = true;
int queries = 0;
const AddressPlatform kFake{
    [](const std::u16string&) -> std::uint32_t { return 0x0764'33C6; },
    [](std::uint32_t, HardwareBuffer& buffer, std::uint32_t& length) {
      ++queries;
      buffer = {0x00, 0x0C, 0x29, 0x0A, 0x0B, 0xFF};
      length = 6;
      return resolves;
    }};

class WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    resolves = true;
    queries = 0;
    OUIList = {u"# vendors", u"00-0C-29   (hex)        VMware, Inc."};
    window_ = CreateMainWindow(GetModuleHandleW(nullptr), kFake);
    ASSERT_NE(window_, nullptr);
    dpi_ = static_cast<int>(GetDpiForWindow(window_));
    // The scaling the test runs at, when it is told.
    if (const char* want = std::getenv("NORVANE_WINE_DPI")) {
      ASSERT_EQ(dpi_, std::atoi(want));
    }
  }
  void TearDown() override {
    if (window_) DestroyWindow(window_);
    OUIList.clear();
  }
  HWND Control(layout::Id id) const {
    return GetDlgItem(window_, ControlId(id));
  }
  void Type(layout::Id id, const wchar_t* text) const {
    SetWindowTextW(Control(id), text);
  }
  void Click() const {
    SendMessageW(window_, WM_COMMAND,
                 MAKEWPARAM(ControlId(layout::kCmdRetreive), BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(layout::kCmdRetreive)));
  }
  // A key as the message loop hands it to the dialog manager.
  bool Key(layout::Id id, WPARAM key) const {
    MSG message{Control(id), WM_KEYDOWN, key, 0, 0, {}};
    return IsDialogMessageW(window_, &message);
  }
  std::array<std::u16string, 3> Boxes() const {
    return {TextOf(Control(layout::kTxtIP)), TextOf(Control(layout::kTxtMAC)),
            TextOf(Control(layout::kTxtVendor))};
  }
  HWND window_ = nullptr;
  int dpi_ = 96;
};

TEST(Scale, TwipsToPixels) {
  EXPECT_EQ(Scale(layout::kClientWidth, 96), 271);
  EXPECT_EQ(Scale(layout::kClientHeight, 96), 197);
  EXPECT_EQ(Scale(layout::kClientWidth, 144), 407);  // 406.5 rounds up
  const RECT label4 = PixelRect(layout::kControls[layout::kLabel4], 96);
  EXPECT_EQ(label4.left, 64);
  EXPECT_EQ(label4.right, 273);  // two pixels past the client area
  // Edges, not sizes, are scaled: boxes that meet in twips meet in pixels.
  const RECT ip = PixelRect(layout::kControls[layout::kTxtIP], 120);
  EXPECT_EQ(ip.left, 10);
  EXPECT_EQ(ip.right, Scale(120 + 2295, 120));
}

TEST_F(WindowTest, CaptionClientAreaAndControls) {
  EXPECT_EQ(TextOf(window_), layout::kCaption);
  RECT client{};
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right, Scale(layout::kClientWidth, dpi_));
  EXPECT_EQ(client.bottom, Scale(layout::kClientHeight, dpi_));

  for (std::size_t i = 0; i < layout::kControls.size(); ++i) {
    const layout::Control& c = layout::kControls[i];
    SCOPED_TRACE(std::string(c.name));
    const HWND control = Control(static_cast<layout::Id>(i));
    ASSERT_NE(control, nullptr);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_EQ(IsWindowEnabled(control), TRUE);
    const bool edit = c.kind == layout::Kind::kTextBox;
    const bool button = c.kind == layout::Kind::kButton;
    EXPECT_EQ(ClassOf(control), edit     ? L"Edit"
                                : button ? L"Button"
                                         : L"Static");
    if (c.kind != layout::Kind::kImage) {
      EXPECT_EQ(TextOf(control), c.text);
    }
    EXPECT_EQ(bool(style & WS_TABSTOP), edit || button);

    RECT box{};
    GetWindowRect(control, &box);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&box), 2);
    const RECT want = PixelRect(c, static_cast<unsigned>(dpi_));
    EXPECT_EQ(box.left, want.left);
    EXPECT_EQ(box.top, want.top);
    if (c.fit != layout::Fit::kToCaption) {
      EXPECT_EQ(box.right, want.right);
      EXPECT_EQ(box.bottom, want.bottom);
    } else {
      // One line of the window's font, as wide as the caption.
      const HDC dc = GetDC(control);
      SelectObject(
          dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
      TEXTMETRICW metrics{};
      GetTextMetricsW(dc, &metrics);
      SIZE extent{};
      const std::wstring text(c.text.begin(), c.text.end());
      GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()),
                            &extent);
      ReleaseDC(control, dc);
      EXPECT_EQ(box.bottom - box.top, metrics.tmHeight);
      EXPECT_EQ(box.right - box.left, extent.cx);
    }
  }

  const auto style = [&](layout::Id id) {
    return GetWindowLongW(Control(id), GWL_STYLE);
  };
  EXPECT_GT(SendMessageW(Control(layout::kTxtIP), EM_GETLIMITTEXT, 0, 0),
            1 << 30);                                    // no length limit
  EXPECT_NE(GetClassLongPtrW(window_, GCLP_HICON), 0u);  // the app's icon
  EXPECT_NE(GetClassLongPtrW(window_, GCLP_HICONSM), 0u);
  EXPECT_FALSE(style(layout::kTxtIP) & ES_READONLY);
  EXPECT_TRUE(style(layout::kTxtMAC) & ES_READONLY);
  EXPECT_TRUE(style(layout::kTxtVendor) & ES_READONLY);
  EXPECT_EQ(style(layout::kLblTitle) & SS_TYPEMASK, SS_CENTER);
  EXPECT_EQ(style(layout::kLabel4) & SS_TYPEMASK, SS_CENTER);
  EXPECT_EQ(style(layout::kCmdRetreive) & BS_TYPEMASK, BS_PUSHBUTTON);
  // Enter and Esc send IDOK and IDCANCEL: no control may have those ids.
  EXPECT_EQ(GetDlgItem(window_, IDOK), nullptr);
  EXPECT_EQ(GetDlgItem(window_, IDCANCEL), nullptr);
}

TEST_F(WindowTest, ChildrenStandInTabOrder) {
  const std::vector<layout::Id> order{layout::kTxtIP,  layout::kCmdRetreive,
                                      layout::kTxtMAC, layout::kTxtVendor,
                                      layout::kLabel3, layout::kLabel2,
                                      layout::kLabel1, layout::kLblTitle,
                                      layout::kLabel4, layout::kImage1};
  std::vector<layout::Id> children;
  for (HWND child = GetWindow(window_, GW_CHILD); child;
       child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(
        static_cast<layout::Id>(GetDlgCtrlID(child) - kFirstControlId));
  }
  EXPECT_EQ(children, order);
}

TEST_F(WindowTest, LabelFontsAndTheWindowFont) {
  const auto font = [&](layout::Id id) {
    LOGFONTW f{};
    GetObjectW(
        reinterpret_cast<HFONT>(SendMessageW(Control(id), WM_GETFONT, 0, 0)),
        sizeof f, &f);
    return f;
  };
  const LOGFONTW title = font(layout::kLblTitle);
  EXPECT_STREQ(title.lfFaceName, L"Tahoma");
  EXPECT_EQ(title.lfHeight, -MulDiv(975, dpi_, 7200));  // 9.75 pt
  EXPECT_EQ(title.lfWeight, FW_BOLD);
  EXPECT_EQ(title.lfCharSet, ANSI_CHARSET);
  EXPECT_FALSE(title.lfItalic || title.lfUnderline || title.lfStrikeOut);

  const LOGFONTW address = font(layout::kLabel4);
  EXPECT_STREQ(address.lfFaceName, L"Tahoma");
  EXPECT_EQ(address.lfHeight, -MulDiv(825, dpi_, 7200));  // 8.25 pt
  EXPECT_EQ(address.lfWeight, FW_NORMAL);
  EXPECT_EQ(address.lfCharSet, ANSI_CHARSET);

  for (const layout::Id id : {layout::kLabel1, layout::kTxtIP,
                              layout::kCmdRetreive, layout::kTxtVendor}) {
    EXPECT_STREQ(font(id).lfFaceName, L"MS Shell Dlg");
    EXPECT_EQ(font(id).lfHeight, address.lfHeight);
  }

  // Tahoma is really there, bold included, not a stand-in.
  const HDC dc = GetDC(window_);
  const HFONT bold = CreateFontIndirectW(&title);
  const HGDIOBJ previous = SelectObject(dc, bold);
  wchar_t face[LF_FACESIZE] = {};
  GetTextFaceW(dc, LF_FACESIZE, face);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, previous);
  DeleteObject(bold);
  ReleaseDC(window_, dc);
  EXPECT_STREQ(face, L"Tahoma");
  EXPECT_EQ(metrics.tmWeight, FW_BOLD);
}

TEST_F(WindowTest, LogoIsTheWindowsNotTheFiles) {
  for (const int size : {48, 32, 72}) {
    const HICON logo = LoadLogo(GetModuleHandleW(nullptr), size);
    ASSERT_NE(logo, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(logo, &info));
    BITMAP mask{};
    GetObjectW(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, size);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(logo);
  }
  // The executable's only icon group is the application icon.
  const HMODULE self = GetModuleHandleW(nullptr);
  EXPECT_NE(FindResourceW(self, MAKEINTRESOURCEW(IDI_NORVANE), RT_GROUP_ICON),
            nullptr);
  EXPECT_EQ(FindResourceW(self, MAKEINTRESOURCEW(IDR_LOGO), RT_GROUP_ICON),
            nullptr);
}

TEST_F(WindowTest, ClickShowsTheAddressAndItsVendor) {
  Type(layout::kTxtIP, L"198.51.100.7");
  Click();
  EXPECT_EQ(Boxes(),
            (std::array<std::u16string, 3>{
                u"198.51.100.7", u"00-0C-29-0A-0B-FF", u"VMware, Inc."}));
  EXPECT_EQ(queries, 1);

  resolves = false;
  Click();
  EXPECT_EQ(Boxes(),
            (std::array<std::u16string, 3>{
                u"198.51.100.7", u"Error: Gagal memanggil SendARP()", u""}));

  // No address: the prompt, empty results and no query, twice over.
  for (int i = 0; i < 2; ++i) {
    Type(layout::kTxtIP, i == 0 ? L"" : L"Sila masukkan IP!");
    Click();
    EXPECT_EQ(Boxes(),
              (std::array<std::u16string, 3>{u"Sila masukkan IP!", u"", u""}));
  }
  EXPECT_EQ(queries, 2);
}

TEST_F(WindowTest, EnterAndEscPressNothing) {
  Type(layout::kTxtIP, L"198.51.100.7");
  for (const layout::Id id :
       {layout::kTxtIP, layout::kTxtMAC, layout::kTxtVendor}) {
    EXPECT_TRUE(Key(id, VK_RETURN));
    EXPECT_TRUE(Key(id, VK_ESCAPE));
  }
  EXPECT_EQ(queries, 0);
  EXPECT_TRUE(IsWindow(window_));
  EXPECT_EQ(Boxes(),
            (std::array<std::u16string, 3>{u"198.51.100.7", u"", u""}));
}

}  // namespace
}  // namespace norvane::win32
