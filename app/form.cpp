#include "form.h"

#include "oui.h"

namespace norvane {

void cmdRetreive_Click(FormBoxes& boxes, const AddressPlatform& platform) {
  const std::u16string ip = boxes.IPText();
  if (ip.empty() || ip == kPromptText) {
    boxes.SetIPText(kPromptText);
    boxes.SetMACText(u"");
    boxes.SetVendorText(u"");
    return;
  }
  const std::u16string mac = GetMAC(ip, platform);
  boxes.SetMACText(mac);
  boxes.SetVendorText(FindVendor(mac));
}

}  // namespace norvane
