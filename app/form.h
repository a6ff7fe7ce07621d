// The main window's one command, free of any window toolkit: each front end
// hands it the window's three text boxes and calls it on a click of
// cmdRetreive.
#pragma once

#include <string>

#include "mac.h"

namespace norvane {

// Written into txtIP when there is no address to query, and recognised there
// as no address on the next click.
inline constexpr char16_t kPromptText[] = u"Sila masukkan IP!";

// The texts of txtIP, txtMAC and txtVendor as the click sees them.
class FormBoxes {
 public:
  virtual ~FormBoxes() = default;
  virtual std::u16string IPText() const = 0;
  virtual void SetIPText(const std::u16string& text) = 0;
  virtual void SetMACText(const std::u16string& text) = 0;
  virtual void SetVendorText(const std::u16string& text) = 0;
};

// One query: an empty txtIP, or one holding exactly the prompt, gets the
// prompt and empty result boxes; any other text goes unchanged to GetMAC, its
// result into txtMAC and that result's vendor into txtVendor, in that order.
// Blocks until the platform answers.
void cmdRetreive_Click(FormBoxes& boxes,
                       const AddressPlatform& platform = SystemPlatform());

}  // namespace norvane
