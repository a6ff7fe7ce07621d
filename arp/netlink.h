// Reading the kernel's rtnetlink answers for the Linux resolver. Everything
// here works on plain byte buffers, so it can be tried without a socket.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mac.h"

namespace norvane::netlink {

// A hardware address exactly as the kernel reports it (any length).
using LinkAddress = std::vector<std::uint8_t>;

// The kernel's answer to a route lookup (RTM_NEWROUTE), of either family.
struct Route {
  std::uint8_t type = 0;     // RTN_UNICAST, RTN_LOCAL, RTN_BROADCAST, ...
  std::uint32_t oif = 0;     // output interface; 0 when the answer has none
  bool via_gateway = false;  // a gateway, a via or several next hops
  IpAddress gateway{};       // the gateway, of the route's family
};

// The kernel's description of one interface (RTM_NEWLINK).
struct Link {
  std::int32_t index = 0;
  std::uint32_t flags = 0;  // IFF_*
  std::string name;
  LinkAddress address;
};

// One neighbour cache entry (RTM_NEWNEIGH) or its removal (RTM_DELNEIGH),
// IPv4 (ARP) or IPv6 (neighbour discovery).
struct Neighbour {
  bool deleted = false;
  std::int32_t ifindex = 0;
  std::uint16_t state = 0;  // NUD_*
  // An IPv6 link-local destination carries ifindex as its scope.
  std::optional<IpAddress> destination;
  LinkAddress address;
  bool router = false;  // NTF_ROUTER: the neighbour said it is a router
};

// One IPv4 address of an interface (RTM_NEWADDR).
struct InterfaceAddress {
  std::int32_t ifindex = 0;
  std::uint8_t prefix = 0;
  std::uint32_t address = 0;  // the local address, network byte order
};

// Each reads one datagram received in answer to a request with sequence
// number seq from the socket with port id portid. Empty when the datagram
// holds an error, a message of another kind, or nothing readable.
std::optional<Route> ParseRouteReply(std::span<const std::uint8_t> datagram,
                                     std::uint32_t seq, std::uint32_t portid);
std::optional<Link> ParseLinkReply(std::span<const std::uint8_t> datagram,
                                   std::uint32_t seq, std::uint32_t portid);
std::optional<Neighbour> ParseNeighbourReply(
    std::span<const std::uint8_t> datagram, std::uint32_t seq,
    std::uint32_t portid);

// What one datagram of a dump (the answer to a request with NLM_F_DUMP)
// brought.
enum class DumpPart {
  kMore,   // its messages; more datagrams follow
  kDone,   // the dump ended
  kError,  // the kernel refused the dump, or the datagram is unreadable
};
// Each appends the interfaces or IPv4 addresses one datagram of a dump for
// request seq of the socket with port id portid holds.
DumpPart ParseLinkDump(std::span<const std::uint8_t> datagram,
                       std::uint32_t seq, std::uint32_t portid,
                       std::vector<Link>& links);
DumpPart ParseAddressDump(std::span<const std::uint8_t> datagram,
                          std::uint32_t seq, std::uint32_t portid,
                          std::vector<InterfaceAddress>& addresses);

// Appends the IPv6 neighbour entries one datagram of a neighbour dump holds
// whose hardware address is usable (IsUsable, with an address), unicast
// destinations only.
DumpPart ParseNeighbourDump(std::span<const std::uint8_t> datagram,
                            std::uint32_t seq, std::uint32_t portid,
                            std::vector<Neighbour>& neighbours);

// The interfaces with their IPv4 networks, in the order of links, each
// interface's networks in the order of addresses. An interface is scannable
// when it is up and its neighbours can be asked (RefuseLink).
std::vector<LocalInterface> Interfaces(
    const std::vector<Link>& links,
    const std::vector<InterfaceAddress>& addresses,
    const std::vector<Neighbour>& inet6_neighbours = {});

// The neighbour messages of one datagram from the neighbour event group, in
// order; unreadable messages are left out.
std::vector<Neighbour> ParseNeighbourEvents(
    std::span<const std::uint8_t> datagram);

// True for the entry states whose hardware address can be used as it is:
// reachable, stale, delay, probe, permanent and noarp.
bool IsUsable(std::uint16_t state);

// The state an answer came from, in the query's terms.
Source SourceOf(std::uint16_t state);

// Why an address with this route (not RTN_LOCAL) has no neighbour to ask;
// Reason::kNone when it may have one on route.oif.
Reason RefuseRoute(const Route& route);

// Why the neighbours on this interface cannot be asked; Reason::kNone when
// they can.
Reason RefuseLink(const Link& link);

// What one neighbour message says about the entry for destination on
// interface ifindex.
enum class Verdict {
  kPending,   // nothing yet (another entry, or still resolving)
  kResolved,  // usable, with an address of 1 to 6 bytes
  kFailed,    // resolution failed
  kUnusable,  // usable state, but no address or one that does not fit
};
Verdict Judge(const Neighbour& neighbour, const IpAddress& destination,
              std::int32_t ifindex);

// How many addresses may wait for resolution at once, well below the
// neighbour table's garbage collection thresholds (gc_thresh1..3, the
// kernel's defaults where they cannot be read), so that a run never makes
// the kernel evict entries or refuse new ones.
std::size_t WaitingLimit(std::optional<long> thresh2,
                         std::optional<long> thresh3);

}  // namespace norvane::netlink
