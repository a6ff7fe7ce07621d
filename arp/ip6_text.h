// IPv6 addresses as text: read in every form people write them (full,
// compressed, with a dotted IPv4 tail, with a zone), written in the one
// canonical form (lower case, the longest run of zero groups compressed,
// ::ffff:a.b.c.d for a mapped IPv4 address). Pure: no system call, alike on
// both systems.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvane {

using Ip6Bytes = std::array<std::uint8_t, 16>;

// An address as read, and the zone after its '%' (an interface name or
// index, not checked against the system here); empty without one.
struct Ip6Text {
  Ip6Bytes bytes{};
  std::string zone;
};

// The longest zone text taken: an interface name's room (IFNAMSIZ - 1) or
// an index's ten digits, whichever is longer.
inline constexpr std::size_t kMaxZoneLength = 15;

// The address text read whole, or nothing: groups of one to four hex digits,
// one "::" at most, a dotted IPv4 tail in place of the last two groups, and
// an optional zone of 1 to kMaxZoneLength characters, none of them a space,
// '%', '/' or a control character.
std::optional<Ip6Text> ParseIp6(std::string_view text);

// The canonical text of the address, without a zone.
std::string FormatIp6(const Ip6Bytes& bytes);

// The kinds of address a neighbour can never have, and those that need a
// zone to say which link they are on.
bool IsUnspecified6(const Ip6Bytes& bytes);
bool IsLoopback6(const Ip6Bytes& bytes);
bool IsMulticast6(const Ip6Bytes& bytes);
bool IsMapped6(const Ip6Bytes& bytes);     // ::ffff:0:0/96
bool IsLinkLocal6(const Ip6Bytes& bytes);  // fe80::/10

}  // namespace norvane
