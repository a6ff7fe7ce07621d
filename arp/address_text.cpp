#include "address_text.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cwchar>
#include <optional>

#include "ip6_text.h"
#include "mac.h"
#include "text.h"

namespace norvane {
namespace {

static_assert(sizeof(wchar_t) == 4, "wchar_t holds one code point");

// The text in the locale's multibyte encoding; empty when a character has no
// encoding there (or the text holds a lone surrogate or a NUL).
std::optional<std::string> ToLocaleBytes(const std::u16string& text) {
  std::string bytes;
  std::mbstate_t state{};
  char out[MB_LEN_MAX];
  for (std::size_t i = 0; i < text.size();) {
    const std::optional<char32_t> code = NextCodePoint(text, i);
    if (!code || *code == 0) return std::nullopt;
    const std::size_t n =
        std::wcrtomb(out, static_cast<wchar_t>(*code), &state);
    if (n == static_cast<std::size_t>(-1)) return std::nullopt;
    bytes.append(out, n);
  }
  // Back to the initial shift state, for stateful encodings.
  const std::size_t n = std::wcrtomb(out, L'\0', &state);
  if (n == static_cast<std::size_t>(-1)) return std::nullopt;
  bytes.append(out, n - 1);
  return bytes;
}

}  // namespace

std::optional<IpAddress> ParseAddress6(const std::u16string& text,
                                       const std::string& interface_name) {
  const std::optional<std::string> bytes = ToLocaleBytes(text);
  if (!bytes) return std::nullopt;
  const std::optional<Ip6Text> parsed = ParseIp6(*bytes);
  if (!parsed) return std::nullopt;
  if (!IsLinkLocal6(parsed->bytes)) return IpAddress::Inet6(parsed->bytes);
  const std::string& zone =
      parsed->zone.empty() ? interface_name : parsed->zone;
  if (zone.empty()) return IpAddress::Inet6(parsed->bytes);
  std::uint32_t index = 0;
  if (std::all_of(zone.begin(), zone.end(),
                  [](char c) { return c >= '0' && c <= '9'; })) {
    const auto [end, error] =
        std::from_chars(zone.data(), zone.data() + zone.size(), index);
    if (error != std::errc() || end != zone.data() + zone.size()) index = 0;
  } else {
    index = if_nametoindex(zone.c_str());
  }
  if (index == 0) return std::nullopt;
  return IpAddress::Inet6(parsed->bytes, index);
}

std::uint32_t ParseAddress(const std::u16string& text) {
  const std::optional<std::string> bytes = ToLocaleBytes(text);
  if (!bytes) return kMalformedAddress;
  return inet_addr(bytes->c_str());
}

}  // namespace norvane
