// The two questions a host's name is asked with, as bytes on the wire, and
// the readers of their answers: a DNS message holding the PTR record of an
// address's reverse name (as multicast DNS responders send it), and a
// NetBIOS node status response. The readers take any bytes at all: every
// length is checked against the message, compression pointers only ever
// point back and are followed a bounded number of times, and a name longer
// than DNS allows is no name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace norvane::names {

// The longest name a DNS message can carry, as text: 255 bytes on the wire.
inline constexpr std::size_t kLongestName = 253;

// The PTR query for address (network byte order): "d.c.b.a.in-addr.arpa",
// asking for a unicast answer, with id.
std::vector<std::uint8_t> BuildPtrQuery(std::uint16_t id,
                                        std::uint32_t address);

struct PtrAnswer {
  std::uint32_t address = 0;  // network byte order, from the record's owner
  std::string name;           // labels joined by '.', no final dot
};

// The first PTR record of the answer section of a response whose owner is
// an IPv4 address's reverse name; nothing when message holds none or is no
// well-formed response.
std::optional<PtrAnswer> ReadPtrAnswer(std::span<const std::uint8_t> message);

// The NetBIOS node status request for the wildcard name "*", with id.
std::vector<std::uint8_t> BuildNodeStatusRequest(std::uint16_t id);

struct NodeStatus {
  std::uint16_t id = 0;
  std::string name;  // its trailing blanks removed
};

// The first unique workstation name (suffix 0x00, not a group name) of a
// node status response; nothing when there is none or message is no
// well-formed response.
std::optional<NodeStatus> ReadNodeStatus(std::span<const std::uint8_t> message);

}  // namespace norvane::names
