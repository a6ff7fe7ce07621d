// The address a query is for, of either family: an IPv4 address (its four
// bytes first, in network order) or an IPv6 one with, for a link-local
// address, the index of the interface it belongs to.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <compare>
#include <cstdint>

namespace norvane {

struct IpAddress {
  enum class Family : std::uint8_t { kInet, kInet6 };

  Family family = Family::kInet;
  std::array<std::uint8_t, 16> bytes{};
  // The interface index of a link-local IPv6 address; 0 for the others.
  std::uint32_t scope = 0;

  constexpr IpAddress() = default;
  // An IPv4 address in network byte order, as the C library holds it.
  constexpr IpAddress(std::uint32_t network_order) {  // NOLINT: implicit
    const auto in = std::bit_cast<std::array<std::uint8_t, 4>>(network_order);
    std::copy(in.begin(), in.end(), bytes.begin());
  }
  static IpAddress Inet6(const std::array<std::uint8_t, 16>& bytes,
                         std::uint32_t scope = 0) {
    IpAddress address;
    address.family = Family::kInet6;
    address.bytes = bytes;
    address.scope = scope;
    return address;
  }

  bool is_inet6() const { return family == Family::kInet6; }
  // The IPv4 address in network byte order (0 for an IPv6 one).
  std::uint32_t inet() const {
    if (is_inet6()) return 0;
    return std::bit_cast<std::uint32_t>(
        std::array<std::uint8_t, 4>{bytes[0], bytes[1], bytes[2], bytes[3]});
  }

  auto operator<=>(const IpAddress&) const = default;
};

}  // namespace norvane
