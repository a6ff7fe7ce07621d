#include "frmMAC.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "form.h"
#include "resource.h"

namespace norvane::win32 {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide text");

constexpr wchar_t kClassName[] = L"Norvane.frmMAC";
constexpr unsigned kDesignDpi = 96;
constexpr int kTwipsPerInch = 1440;
// Fixed frame: the controls are placed for one client size.
constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = 0;
// The window's own font, used by every control without one of its own: the
// system's dialog face at the design size of the layout.
constexpr wchar_t kWindowFace[] = L"MS Shell Dlg";
constexpr double kWindowPoints = 8.25;

std::wstring Wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

// Per-monitor DPI calls exist from Windows 10 on; older systems get the
// system DPI, which is all they have.
struct DpiCalls {
  UINT(WINAPI* dpi_for_window)(HWND) = nullptr;
  BOOL(WINAPI* adjust_for_dpi)(LPRECT, DWORD, BOOL, DWORD, UINT) = nullptr;
};

template <typename Function>
Function Lookup(HMODULE module, const char* name) {
  // Through void (*)() to keep the function-pointer cast well defined.
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const DpiCalls& Dpi() {
  static const DpiCalls calls = [] {
    DpiCalls c;
    if (const HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
      c.dpi_for_window =
          Lookup<decltype(c.dpi_for_window)>(user32, "GetDpiForWindow");
      c.adjust_for_dpi = Lookup<decltype(c.adjust_for_dpi)>(
          user32, "AdjustWindowRectExForDpi");
    }
    return c;
  }();
  return calls;
}

unsigned SystemDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<unsigned>(dpi) : kDesignDpi;
}

unsigned WindowDpi(HWND window) {
  if (Dpi().dpi_for_window) {
    if (const UINT dpi = Dpi().dpi_for_window(window)) return dpi;
  }
  return SystemDpi();
}

// The outer size of a window whose client area is the layout's at dpi.
SIZE WindowSize(unsigned dpi) {
  RECT r{0, 0, Scale(layout::kClientWidth, dpi),
         Scale(layout::kClientHeight, dpi)};
  if (Dpi().adjust_for_dpi) {
    Dpi().adjust_for_dpi(&r, kWindowStyle, FALSE, kWindowExStyle, dpi);
  } else {
    AdjustWindowRectEx(&r, kWindowStyle, FALSE, kWindowExStyle);
  }
  return {r.right - r.left, r.bottom - r.top};
}

HFONT MakeFont(const std::wstring& face, double points, bool bold, BYTE charset,
               unsigned dpi) {
  const int height = -static_cast<int>(std::lround(points * dpi / 72.0));
  return CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                     FALSE, charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                     face.c_str());
}

// The window's state: its controls and what they are drawn with at the
// current DPI.
struct Form {
  const AddressPlatform* platform = nullptr;
  std::array<HWND, layout::kControlCount> controls{};
  unsigned dpi = 0;
  HFONT window_font = nullptr;
  HFONT title_font = nullptr;
  HFONT address_font = nullptr;
  HICON logo = nullptr;
  int logo_size = 0;
  HWND focus = nullptr;  // the control to give the focus back to
  // Set once CreateWindowExW has returned the window, which from then on
  // owns this state; before, a failed creation leaves it to the creator.
  bool created = false;
};

Form* FormOf(HWND window) {
  return reinterpret_cast<Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

HFONT FontOf(const Form& form, layout::Font font) {
  switch (font) {
    case layout::Font::kTitle:
      return form.title_font;
    case layout::Font::kAddress:
      return form.address_font;
    case layout::Font::kDefault:
      break;
  }
  return form.window_font;
}

// The box of a label that follows its caption: one line of its font.
SIZE CaptionSize(HWND control, HFONT font, std::u16string_view text) {
  const HDC dc = GetDC(control);
  const HGDIOBJ previous = SelectObject(dc, font);
  const std::wstring wide = Wide(text);
  SIZE size{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  size.cy = metrics.tmHeight;
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
  return size;
}

void DeleteResources(Form& form) {
  for (HFONT* font :
       {&form.window_font, &form.title_font, &form.address_font}) {
    if (*font) DeleteObject(*font);
    *font = nullptr;
  }
  if (form.logo) DestroyIcon(form.logo);
  form.logo = nullptr;
}

// Fonts, logo and geometry for dpi; called at creation and on a DPI change.
void ApplyDpi(HWND window, Form& form, unsigned dpi) {
  Form fresh;
  fresh.window_font =
      MakeFont(kWindowFace, kWindowPoints, false, DEFAULT_CHARSET, dpi);
  // The two label fonts are Western, upright, plain.
  for (const auto& [font, style] :
       {std::pair{&fresh.title_font, layout::kTitleFont},
        std::pair{&fresh.address_font, layout::kAddressFont}}) {
    *font =
        MakeFont(Wide(style.face), style.points, style.bold, ANSI_CHARSET, dpi);
  }
  fresh.logo_size = MulDiv(layout::kLogoImageSize, static_cast<int>(dpi),
                           static_cast<int>(kDesignDpi));
  fresh.logo = LoadLogo(
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)),
      fresh.logo_size);

  for (std::size_t i = 0; i < layout::kControls.size(); ++i) {
    const layout::Control& c = layout::kControls[i];
    const HWND control = form.controls[i];
    const HFONT font = FontOf(fresh, c.font);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    RECT box = PixelRect(c, dpi);
    if (c.fit == layout::Fit::kToCaption) {
      const SIZE size = CaptionSize(control, font, c.text);
      box.right = box.left + size.cx;
      box.bottom = box.top + size.cy;
    }
    SetWindowPos(control, nullptr, box.left, box.top, box.right - box.left,
                 box.bottom - box.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }

  DeleteResources(form);
  form.window_font = fresh.window_font;
  form.title_font = fresh.title_font;
  form.address_font = fresh.address_font;
  form.logo = fresh.logo;
  form.logo_size = fresh.logo_size;
  form.dpi = dpi;
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// The three text boxes as the click logic sees them.
class WindowBoxes final : public FormBoxes {
 public:
  explicit WindowBoxes(const Form& form) : form_(form) {}

  std::u16string IPText() const override {
    const HWND box = form_.controls[layout::kTxtIP];
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(box)) + 1,
                      L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
    return std::u16string(text.begin(), text.end());
  }
  void SetIPText(const std::u16string& text) override {
    Set(layout::kTxtIP, text);
  }
  void SetMACText(const std::u16string& text) override {
    Set(layout::kTxtMAC, text);
  }
  void SetVendorText(const std::u16string& text) override {
    Set(layout::kTxtVendor, text);
  }

 private:
  void Set(layout::Id id, const std::u16string& text) {
    SetWindowTextW(form_.controls[id], Wide(text).c_str());
  }
  const Form& form_;
};

void cmdRetreive_ClickOn(const Form& form) {
  // The query blocks this thread; the busy cursor says so until it is done.
  const HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  WindowBoxes boxes(form);
  cmdRetreive_Click(boxes, *form.platform);
  SetCursor(previous);
}

void CreateControls(HWND window, Form& form, HINSTANCE instance) {
  // Creation order is the tab order: the controls that hold a place first,
  // by place, then the image, which has none.
  std::array<std::size_t, layout::kControlCount> order{};
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(
      order.begin(), order.end(), [](std::size_t a, std::size_t b) {
        const unsigned ta = static_cast<unsigned>(layout::kControls[a].tab);
        const unsigned tb = static_cast<unsigned>(layout::kControls[b].tab);
        return ta < tb;  // kNoTab (-1) sorts last
      });

  for (const std::size_t i : order) {
    const layout::Control& c = layout::kControls[i];
    const wchar_t* window_class = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD ex_style = 0;
    switch (c.kind) {
      case layout::Kind::kImage:
        style |= SS_OWNERDRAW;
        break;
      case layout::Kind::kLabel:
        style |=
            SS_NOPREFIX |
            (c.fit == layout::Fit::kCentred ? SS_CENTER : SS_LEFTNOWORDWRAP);
        break;
      case layout::Kind::kTextBox:
        window_class = L"EDIT";
        style |= WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
        if (c.read_only) style |= ES_READONLY;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case layout::Kind::kButton:
        window_class = L"BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;  // never BS_DEFPUSHBUTTON
        break;
    }
    const auto id =
        static_cast<std::intptr_t>(ControlId(static_cast<layout::Id>(i)));
    form.controls[i] = CreateWindowExW(
        ex_style, window_class, Wide(c.text).c_str(), style, 0, 0, 0, 0, window,
        reinterpret_cast<HMENU>(id), instance, nullptr);
    // Text boxes take text of any length (0 lifts the limit to the largest).
    if (c.kind == layout::Kind::kTextBox) {
      SendMessageW(form.controls[i], EM_SETLIMITTEXT, 0, 0);
    }
  }
  form.focus = form.controls[layout::kTxtIP];
}

void DrawImage1(const Form& form, const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  // At its natural size from the top-left corner, never stretched to the box.
  if (form.logo) {
    DrawIconEx(item.hDC, item.rcItem.left, item.rcItem.top, form.logo,
               form.logo_size, form.logo_size, 0, nullptr, DI_NORMAL);
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  Form* form = FormOf(window);
  switch (message) {
    case WM_NCCREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_CREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      CreateControls(window, *form, create->hInstance);
      ApplyDpi(window, *form, WindowDpi(window));
      return 0;
    }
    case WM_COMMAND:
      // Only the button's click. Enter and Esc arrive as IDOK and IDCANCEL
      // from the dialog manager, and nothing answers to them.
      if (form && LOWORD(wparam) == ControlId(layout::kCmdRetreive) &&
          HIWORD(wparam) == BN_CLICKED) {
        cmdRetreive_ClickOn(*form);
      }
      return 0;
    case WM_CTLCOLORSTATIC:
      // Read-only boxes keep the colour of a text box; the system would grey
      // them.
      if (form &&
          (reinterpret_cast<HWND>(lparam) == form->controls[layout::kTxtMAC] ||
           reinterpret_cast<HWND>(lparam) ==
               form->controls[layout::kTxtVendor])) {
        const HDC dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_DRAWITEM:
      if (form && wparam == static_cast<WPARAM>(ControlId(layout::kImage1))) {
        DrawImage1(*form, *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
        return TRUE;
      }
      break;
    case WM_ACTIVATE:
      // As a dialog does: the focus leaves with the window and comes back to
      // the same control.
      if (!form) break;
      if (LOWORD(wparam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus && IsChild(window, focus)) form->focus = focus;
      } else if (form->focus) {
        SetFocus(form->focus);
      }
      return 0;
    case WM_DPICHANGED: {
      if (!form) break;
      const unsigned dpi = HIWORD(wparam);
      ApplyDpi(window, *form, dpi);
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      const SIZE size = WindowSize(dpi);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, size.cx,
                   size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      if (form) {
        DeleteResources(*form);
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (form->created) delete form;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool RegisterWindowClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  if (GetClassInfoExW(instance, kClassName, &wc)) return true;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_NORVANE), IMAGE_ICON,
                 GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  wc.hIconSm = static_cast<HICON>(LoadImageW(
      instance, MAKEINTRESOURCEW(IDI_NORVANE), IMAGE_ICON,
      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  return RegisterClassExW(&wc) != 0;
}

// Reads a little-endian value from the .ico bytes.
template <typename T>
T Read(const std::uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

}  // namespace

int Scale(int twips, unsigned dpi) {
  return MulDiv(twips, static_cast<int>(dpi), kTwipsPerInch);
}

RECT PixelRect(const layout::Control& control, unsigned dpi) {
  return {Scale(control.left, dpi), Scale(control.top, dpi),
          Scale(control.left + control.width, dpi),
          Scale(control.top + control.height, dpi)};
}

HICON LoadLogo(HINSTANCE instance, int size) {
  const HRSRC found =
      FindResourceW(instance, MAKEINTRESOURCEW(IDR_LOGO), MAKEINTRESOURCEW(10));
  if (!found) return nullptr;
  const HGLOBAL loaded = LoadResource(instance, found);
  const auto* data = static_cast<const std::uint8_t*>(LockResource(loaded));
  const std::size_t length = SizeofResource(instance, found);
  if (!data || length < 6 || Read<std::uint16_t>(data + 2) != 1) return nullptr;

  // The file's directory (16-byte entries with file offsets) as the group
  // directory the system chooses from (14-byte entries with ids 1 to n).
  const std::size_t count = Read<std::uint16_t>(data + 4);
  if (length < 6 + 16 * count) return nullptr;
  std::vector<std::uint8_t> group(6 + 14 * count);
  std::memcpy(group.data(), data, 6);
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(&group[6 + 14 * i], data + 6 + 16 * i, 12);
    const auto id = static_cast<std::uint16_t>(i + 1);
    std::memcpy(&group[6 + 14 * i + 12], &id, sizeof id);
  }
  const int id = LookupIconIdFromDirectoryEx(group.data(), TRUE, size, size,
                                             LR_DEFAULTCOLOR);
  if (id < 1 || static_cast<std::size_t>(id) > count) return nullptr;

  const std::uint8_t* entry = data + 6 + 16 * static_cast<std::size_t>(id - 1);
  const std::uint32_t bytes = Read<std::uint32_t>(entry + 8);
  const std::uint32_t offset = Read<std::uint32_t>(entry + 12);
  if (offset > length || bytes > length - offset) return nullptr;
  return CreateIconFromResourceEx(const_cast<std::uint8_t*>(data + offset),
                                  bytes, TRUE, 0x00030000, size, size,
                                  LR_DEFAULTCOLOR);
}

HWND CreateMainWindow(HINSTANCE instance, const AddressPlatform& platform) {
  if (!RegisterWindowClass(instance)) return nullptr;
  auto* form = new Form;
  form->platform = &platform;
  // Sized for the system DPI first; once the window knows its monitor, it
  // is sized again for that monitor's DPI.
  SIZE size = WindowSize(SystemDpi());
  const HWND window = CreateWindowExW(
      kWindowExStyle, kClassName, Wide(layout::kCaption).c_str(), kWindowStyle,
      CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr,
      instance, form);
  if (!window) {
    delete form;
    return nullptr;
  }
  form->created = true;
  size = WindowSize(form->dpi);
  SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return window;
}

int RunMainWindow(HWND window, int show) {
  ShowWindow(window, show);
  UpdateWindow(window);
  if (const Form* form = FormOf(window)) SetFocus(form->focus);

  MSG message;
  BOOL got;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (got == -1) return 1;
    // Tab, Shift+Tab and the arrow keys move the focus as in a dialog.
    if (IsDialogMessageW(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace norvane::win32
