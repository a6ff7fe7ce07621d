#include "frmMAC.h"

#include <oleacc.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
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

struct FontDeleter {
  void operator()(HFONT font) const { DeleteObject(font); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

Font MakeFont(const std::wstring& face, double points, bool bold, BYTE charset,
              unsigned dpi) {
  const int height = -static_cast<int>(std::lround(points * dpi / 72.0));
  return Font(CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE,
                          FALSE, FALSE, charset, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, face.c_str()));
}

// What the controls are drawn with at one DPI.
struct Drawing {
  Font window_font;
  Font title_font;
  Font address_font;
  Icon logo;
  int logo_size = 0;

  HFONT FontOf(layout::Font font) const {
    switch (font) {
      case layout::Font::kTitle:
        return title_font.get();
      case layout::Font::kAddress:
        return address_font.get();
      case layout::Font::kDefault:
        break;
    }
    return window_font.get();
  }
};

using Controls = std::array<HWND, layout::kControlCount>;

// What a screen reader is told that the system cannot work out itself: the
// text boxes' names and the logo's description. Set through the
// accessibility layer's annotation service, and cleared when this goes.
class Annotations {
 public:
  explicit Annotations(const Controls& controls) {
    started_com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr,
                                CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                reinterpret_cast<void**>(&services_)))) {
      services_ = nullptr;
      return;
    }
    // The button's name is its own caption.
    for (const auto& [label, box] : layout::kCaptions) {
      Set(controls[box], PROPID_ACC_NAME, layout::kControls[label].text);
    }
    Set(controls[layout::kImage1], PROPID_ACC_DESCRIPTION,
        layout::kLogoDescription);
  }
  ~Annotations() {
    if (services_) {
      for (const auto& [control, property] : set_) {
        services_->ClearHwndProps(control, OBJID_CLIENT, CHILDID_SELF,
                                  &property, 1);
      }
      services_->Release();
    }
    if (started_com_) CoUninitialize();
  }
  Annotations(const Annotations&) = delete;
  Annotations& operator=(const Annotations&) = delete;

 private:
  void Set(HWND control, const MSAAPROPID& property, std::u16string_view text) {
    if (SUCCEEDED(services_->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF,
                                            property, Wide(text).c_str()))) {
      set_.emplace_back(control, property);
    }
  }
  bool started_com_ = false;
  IAccPropServices* services_ = nullptr;
  std::vector<std::pair<HWND, MSAAPROPID>> set_;
};

// The window's state, made at WM_NCCREATE and freed at WM_NCDESTROY.
struct Form {
  explicit Form(const AddressPlatform& p) : platform(p) {}
  const AddressPlatform& platform;
  Controls controls{};
  unsigned dpi = 0;
  Drawing drawing;
  // Made with the controls; gone at WM_DESTROY, while they still exist.
  std::optional<Annotations> annotations;
  HWND focus = nullptr;  // the control to give the focus back to
};

Form* FormOf(HWND window) {
  return reinterpret_cast<Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
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

// Fonts, logo and geometry for dpi; called at creation and on a DPI change.
void ApplyDpi(HWND window, Form& form, unsigned dpi) {
  Drawing fresh;
  fresh.window_font = MakeFont(kWindowFace, layout::kWindowFontPoints, false,
                               DEFAULT_CHARSET, dpi);
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
    const HFONT font = fresh.FontOf(c.font);
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

  // The controls have let go of the old fonts: they go now.
  form.drawing = std::move(fresh);
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

// Drops the keys and clicks waiting in this thread's queue: those given while
// a query blocked it. Replayed, each click would run another whole query.
void DropWaitingInput() {
  MSG message;
  for (const auto& [first, last] : {std::pair{WM_KEYFIRST, WM_KEYLAST},
                                    std::pair{WM_MOUSEFIRST, WM_MOUSELAST}}) {
    while (PeekMessageW(&message, nullptr, first, last, PM_REMOVE)) {
    }
  }
}

void cmdRetreive_ClickOn(const Form& form) {
  // The query blocks this thread; the busy cursor says so until it is done.
  const HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  WindowBoxes boxes(form);
  cmdRetreive_Click(boxes, form.platform);
  DropWaitingInput();
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
  if (const Drawing& drawing = form.drawing; drawing.logo) {
    DrawIconEx(item.hDC, item.rcItem.left, item.rcItem.top, drawing.logo.get(),
               drawing.logo_size, drawing.logo_size, 0, nullptr, DI_NORMAL);
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  Form* form = FormOf(window);
  switch (message) {
    case WM_NCCREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      SetWindowLongPtrW(
          window, GWLP_USERDATA,
          reinterpret_cast<LONG_PTR>(new Form(
              *static_cast<const AddressPlatform*>(create->lpCreateParams))));
      break;
    }
    case WM_CREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      CreateControls(window, *form, create->hInstance);
      ApplyDpi(window, *form, WindowDpi(window));
      form->annotations.emplace(form->controls);
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
      if (form) form->annotations.reset();
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      // The last message, also after a failed creation.
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      delete form;
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

// The bytes of a data resource; empty when there is none.
std::span<BYTE> DataResource(HINSTANCE instance, int id) {
  const HRSRC found =
      FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
  const HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
  void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return {};
  return {static_cast<BYTE*>(data), SizeofResource(instance, found)};
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

Icon LoadLogo(HINSTANCE instance, int size) {
  const std::span<BYTE> directory = DataResource(instance, IDR_LOGO);
  if (directory.empty()) return nullptr;
  const int id = LookupIconIdFromDirectoryEx(directory.data(), TRUE, size, size,
                                             LR_DEFAULTCOLOR);
  if (id == 0) return nullptr;
  const std::span<BYTE> image = DataResource(instance, id);
  if (image.empty()) return nullptr;
  return Icon(
      CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()),
                               TRUE, 0x00030000, size, size, LR_DEFAULTCOLOR));
}

HWND CreateMainWindow(HINSTANCE instance, const AddressPlatform& platform) {
  if (!RegisterWindowClass(instance)) return nullptr;
  // Sized for the system DPI first; once the window knows its monitor, it
  // is sized again for that monitor's DPI.
  SIZE size = WindowSize(SystemDpi());
  const HWND window = CreateWindowExW(
      kWindowExStyle, kClassName, Wide(layout::kCaption).c_str(), kWindowStyle,
      CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr,
      instance, const_cast<AddressPlatform*>(&platform));
  if (!window) return nullptr;
  size = WindowSize(FormOf(window)->dpi);
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
