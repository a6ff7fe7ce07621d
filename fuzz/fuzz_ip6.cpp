// Reads arbitrary text as an IPv6 address. What is read writes back as text
// that reads as the same address and writes back the same again; a zone is
// kept as it was typed.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ip6_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = norvane::ParseIp6(text);
  if (!parsed) return 0;
  if (parsed->zone.size() > norvane::kMaxZoneLength) std::abort();
  const std::string canonical = norvane::FormatIp6(parsed->bytes);
  const auto again = norvane::ParseIp6(canonical);
  if (!again || again->bytes != parsed->bytes || !again->zone.empty()) {
    std::abort();
  }
  if (norvane::FormatIp6(again->bytes) != canonical) std::abort();
  const auto zoned = norvane::ParseIp6(canonical + "%" + parsed->zone);
  if (!parsed->zone.empty() && (!zoned || zoned->zone != parsed->zone)) {
    std::abort();
  }
  return 0;
}
