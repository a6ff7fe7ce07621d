// The platform-independent half of the hardware address query: the refusal
// rules and the formatting of the answer bytes.
#include "mac.h"

#include <algorithm>
#include <cstddef>

namespace norvane {
namespace {

// What inet_addr returns for text it cannot read.
constexpr std::uint32_t kMalformedAddress = 0xFFFFFFFF;

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

}  // namespace

bool QueryMAC(const std::u16string& text, std::u16string& result,
              const AddressPlatform& platform) {
  // A C string parser would stop at an embedded NUL and query whatever came
  // before it; such a text is malformed as a whole instead.
  const std::uint32_t address = text.find(u'\0') == std::u16string::npos
                                    ? platform.parse(text)
                                    : kMalformedAddress;
  if (address == 0) return false;

  HardwareBuffer buffer{};
  std::uint32_t length = buffer.size();
  if (!platform.resolve(address, buffer, length)) return false;
  // An answer that begins with four zero bytes counts as no answer.
  if (std::all_of(buffer.begin(), buffer.begin() + 4,
                  [](std::uint8_t byte) { return byte == 0; })) {
    return false;
  }
  if (length == 0) return false;

  // The platform may report more bytes than the buffer holds; only what is
  // really in the buffer is read.
  const std::size_t count = std::min<std::size_t>(length, buffer.size());
  std::u16string text_out;
  text_out.reserve(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text_out += u'-';
    text_out += kHexDigits[buffer[i] >> 4];
    text_out += kHexDigits[buffer[i] & 0x0F];
  }
  result = text_out;
  return true;
}

std::u16string GetMAC(const std::u16string& text,
                      const AddressPlatform& platform) {
  if (text.empty()) return std::u16string();
  std::u16string result;
  if (QueryMAC(text, result, platform)) return result;
  return kQueryErrorText;
}

}  // namespace norvane
