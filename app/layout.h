// The main window's layout in twips (1/1440 inch), measured from the top-left
// corner of the client area. Shared by every front end; each converts to its
// own units (15 twips to a pixel at 96 dots per inch).
#pragma once

#include <array>
#include <string_view>

namespace norvane::layout {

inline constexpr int kTwipsPerPixel = 15;

// Whole pixels at 96 dots per inch; every value below is a multiple of 15.
constexpr int Pixels(int twips) { return twips / kTwipsPerPixel; }

inline constexpr std::u16string_view kCaption = u"        Norvane v1.0";
inline constexpr int kClientWidth = 4065;
inline constexpr int kClientHeight = 2955;

enum class Kind { kImage, kLabel, kTextBox, kButton };

// How a control's box relates to its text.
enum class Fit {
  kFixed,      // the box of the table, text from its left edge
  kCentred,    // the box of the table, text centred in it
  kToCaption,  // the box follows the caption in the font in use, one line
};

// The size of the window's own font, in points: the size the layout was drawn
// for, whatever size the desktop picks for other programs.
inline constexpr double kWindowFontPoints = 8.25;

// kDefault is the window's font; the others name the two label fonts.
enum class Font { kDefault, kTitle, kAddress };

struct FontSpec {
  std::u16string_view face;
  double points;
  bool bold;
};

inline constexpr FontSpec kTitleFont{u"Tahoma", 9.75, true};
inline constexpr FontSpec kAddressFont{u"Tahoma", 8.25, false};

// The place of a control that never takes the focus and has no tab stop.
inline constexpr int kNoTab = -1;

struct Control {
  std::string_view name;
  Kind kind;
  int left, top, width, height;
  std::u16string_view text;  // caption or initial text
  Font font;
  int tab;
  Fit fit;
  bool read_only;
};

// Index of each control in kControls.
enum Id {
  kImage1,
  kLblTitle,
  kLabel4,
  kLabel1,
  kTxtIP,
  kCmdRetreive,
  kLabel3,
  kTxtMAC,
  kLabel2,
  kTxtVendor,
  kControlCount
};

// Top to bottom, as they stand in the window.
inline constexpr std::array<Control, kControlCount> kControls{{
    {"Image1", Kind::kImage, 240, 0, 720, 720, u"", Font::kDefault, kNoTab,
     Fit::kFixed, false},
    {"lblTitle", Kind::kLabel, 1200, 120, 2775, 255, u"Velmora Networks",
     Font::kTitle, 7, Fit::kCentred, false},
    {"Label4", Kind::kLabel, 960, 480, 3135, 255, u"http://www.velmora.example",
     Font::kAddress, 8, Fit::kCentred, false},
    {"Label1", Kind::kLabel, 120, 960, 810, 195, u"IP Address:", Font::kDefault,
     6, Fit::kToCaption, false},
    {"txtIP", Kind::kTextBox, 120, 1200, 2295, 285, u"192.168.0.1",
     Font::kDefault, 0, Fit::kFixed, false},
    {"cmdRetreive", Kind::kButton, 2640, 1200, 1095, 255, u"Dapatkan",
     Font::kDefault, 1, Fit::kFixed, false},
    {"Label3", Kind::kLabel, 120, 1560, 1005, 195, u"MAC Address:",
     Font::kDefault, 4, Fit::kToCaption, false},
    {"txtMAC", Kind::kTextBox, 120, 1800, 3855, 285, u"", Font::kDefault, 2,
     Fit::kFixed, true},
    {"Label2", Kind::kLabel, 120, 2160, 555, 195, u"Vendor:", Font::kDefault, 5,
     Fit::kToCaption, false},
    {"txtVendor", Kind::kTextBox, 120, 2400, 3855, 285, u"", Font::kDefault, 3,
     Fit::kFixed, true},
}};

// Each caption label and the text box it names for assistive technology; no
// caption has an access key, so nothing visible changes.
struct Caption {
  Id label, box;
};
inline constexpr std::array<Caption, 3> kCaptions{{
    {kLabel1, kTxtIP},
    {kLabel3, kTxtMAC},
    {kLabel2, kTxtVendor},
}};

// What a screen reader says of the logo.
inline constexpr std::u16string_view kLogoDescription =
    u"Velmora Networks logo";

// The logo's image that Image1 shows, at its natural size.
inline constexpr int kLogoImageSize = 48;

}  // namespace norvane::layout
