// frmMAC as a plain Win32 window: its controls laid out from the shared
// twips table at the DPI of the monitor it stands on, and its one command.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

#include "layout.h"
#include "mac.h"

namespace norvane::win32 {

// Each control's id is this plus its index in layout::kControls. The ids
// stay clear of IDOK (1) and IDCANCEL (2): the dialog manager sends those for
// Enter and Esc, and no control may answer to them.
inline constexpr int kFirstControlId = 100;

constexpr int ControlId(layout::Id id) { return kFirstControlId + id; }

// Pixels for a length in twips at dpi dots per inch (15 twips a pixel at 96).
int Scale(int twips, unsigned dpi);

// A control's box in client pixels at dpi. Edges are scaled, not sizes, so
// controls that touch in twips touch in pixels.
RECT PixelRect(const layout::Control& control, unsigned dpi);

struct IconDeleter {
  void operator()(HICON icon) const { DestroyIcon(icon); }
};
using Icon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

// The image of the embedded logo icon that the system finds best for size by
// size pixels, as an icon of that size; null when there is none.
Icon LoadLogo(HINSTANCE instance, int size);

// Creates frmMAC hidden, laid out for the DPI of the monitor it lands on,
// with the texts of the layout table. Its queries go to platform, which must
// outlive the window. Returns nullptr when the window cannot be created.
HWND CreateMainWindow(HINSTANCE instance,
                      const AddressPlatform& platform = SystemPlatform());

// Shows the window with the focus in txtIP and runs the message loop, with
// the dialog manager's keyboard handling, until the window is closed.
// Returns the program's exit status.
int RunMainWindow(HWND window, int show);

}  // namespace norvane::win32
