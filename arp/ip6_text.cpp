#include "ip6_text.h"

#include <algorithm>
#include <charconv>

namespace norvane {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A dotted IPv4 tail: four decimal numbers of 0 to 255, without leading
// zeros (which some readers would take for octal).
bool ParseTail(std::string_view text, std::uint8_t* out) {
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return false;
      text.remove_prefix(1);
    }
    std::size_t n = 0;
    while (n < text.size() && n < 4 && IsDigit(text[n])) ++n;
    if (n == 0 || n > 3 || (n > 1 && text[0] == '0')) return false;
    unsigned value = 0;
    std::from_chars(text.data(), text.data() + n, value);
    if (value > 255) return false;
    out[part] = static_cast<std::uint8_t>(value);
    text.remove_prefix(n);
  }
  return text.empty();
}

bool ValidZone(std::string_view zone) {
  if (zone.empty() || zone.size() > kMaxZoneLength) return false;
  return std::none_of(zone.begin(), zone.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F || c == '%' || c == '/';
  });
}

}  // namespace

std::optional<Ip6Text> ParseIp6(std::string_view text) {
  Ip6Text result;
  if (const std::size_t percent = text.find('%');
      percent != std::string_view::npos) {
    result.zone = std::string(text.substr(percent + 1));
    if (!ValidZone(result.zone)) return std::nullopt;
    text = text.substr(0, percent);
  }
  // The groups before "::" go to the front, those after it to the back.
  std::array<std::uint16_t, 8> head{}, tail{};
  std::size_t heads = 0, tails = 0;
  bool compressed = false;
  std::uint8_t v4[4];
  bool has_v4 = false;
  std::size_t i = 0;
  if (text.starts_with("::")) {
    compressed = true;
    i = 2;
  } else if (text.starts_with(":")) {
    return std::nullopt;
  }
  while (i < text.size()) {
    // One group, or the dotted tail.
    std::size_t n = 0;
    while (i + n < text.size() && n < 5 && HexValue(text[i + n]) >= 0) ++n;
    if (i + n < text.size() && text[i + n] == '.') {
      if (!ParseTail(text.substr(i), v4)) return std::nullopt;
      has_v4 = true;
      break;
    }
    if (n == 0 || n > 4) return std::nullopt;
    std::uint16_t group = 0;
    for (std::size_t k = 0; k < n; ++k) {
      group = static_cast<std::uint16_t>(group << 4 | HexValue(text[i + k]));
    }
    if (heads + tails >= 8) return std::nullopt;
    (compressed ? tail[tails++] : head[heads++]) = group;
    i += n;
    if (i == text.size()) break;
    if (text[i] != ':') return std::nullopt;
    ++i;
    if (i < text.size() && text[i] == ':') {
      if (compressed) return std::nullopt;
      compressed = true;
      ++i;
    } else if (i == text.size()) {
      return std::nullopt;  // a lone ':' at the end
    }
  }
  const std::size_t groups = heads + tails + (has_v4 ? 2 : 0);
  if (compressed ? groups > 7 : groups != 8) return std::nullopt;
  std::array<std::uint16_t, 8> all{};
  std::copy_n(head.begin(), heads, all.begin());
  const std::size_t end = has_v4 ? 6 : 8;
  std::copy_n(tail.begin(), tails, all.begin() + (end - tails));
  for (std::size_t g = 0; g < end; ++g) {
    result.bytes[2 * g] = static_cast<std::uint8_t>(all[g] >> 8);
    result.bytes[2 * g + 1] = static_cast<std::uint8_t>(all[g]);
  }
  if (has_v4) std::copy_n(v4, 4, result.bytes.begin() + 12);
  return result;
}

std::string FormatIp6(const Ip6Bytes& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  if (IsMapped6(bytes)) {
    std::string text = "::ffff:";
    for (int k = 12; k < 16; ++k) {
      if (k > 12) text += '.';
      text += std::to_string(bytes[k]);
    }
    return text;
  }
  std::array<unsigned, 8> groups{};
  for (int g = 0; g < 8; ++g) groups[g] = bytes[2 * g] << 8 | bytes[2 * g + 1];
  // The longest run of two or more zero groups, the first of equal ones.
  int best = -1, best_length = 1;
  for (int g = 0; g < 8;) {
    if (groups[g] != 0) {
      ++g;
      continue;
    }
    int length = 0;
    while (g + length < 8 && groups[g + length] == 0) ++length;
    if (length > best_length) best = g, best_length = length;
    g += length;
  }
  std::string text;
  for (int g = 0; g < 8; ++g) {
    if (g == best) {
      text += "::";
      g += best_length - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = groups[g] >> shift & 0xF;
      if (digit != 0 || started || shift == 0) {
        text += kHex[digit];
        started = true;
      }
    }
  }
  return text;
}

bool IsUnspecified6(const Ip6Bytes& bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](std::uint8_t b) { return b == 0; });
}

bool IsLoopback6(const Ip6Bytes& bytes) {
  return std::all_of(bytes.begin(), bytes.end() - 1,
                     [](std::uint8_t b) { return b == 0; }) &&
         bytes[15] == 1;
}

bool IsMulticast6(const Ip6Bytes& bytes) { return bytes[0] == 0xFF; }

bool IsMapped6(const Ip6Bytes& bytes) {
  return std::all_of(bytes.begin(), bytes.begin() + 10,
                     [](std::uint8_t b) { return b == 0; }) &&
         bytes[10] == 0xFF && bytes[11] == 0xFF;
}

bool IsLinkLocal6(const Ip6Bytes& bytes) {
  return bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80;
}

}  // namespace norvane
