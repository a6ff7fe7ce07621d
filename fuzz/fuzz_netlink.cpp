// Arbitrary bytes read as rtnetlink datagrams, the way the Linux resolver
// reads the kernel's answers and neighbour events.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "netlink.h"

namespace {

using namespace norvane::netlink;

// An entry resolves only when it is the queried one, not a removal, in a
// usable state, with an address that fits the 6-byte answer buffer.
void Check(const Neighbour& entry) {
  const std::uint32_t destination = entry.destination.value_or(0);
  if ((Judge(entry, destination, entry.ifindex) == Verdict::kResolved &&
       (!entry.destination || entry.deleted || !IsUsable(entry.state) ||
        entry.address.empty() || entry.address.size() > 6)) ||
      Judge(entry, destination ^ 1, entry.ifindex) != Verdict::kPending ||
      Judge(entry, destination, entry.ifindex ^ 1) != Verdict::kPending) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::span<const std::uint8_t> datagram(data, size);
  // Sequence number and port id 0 accept every message.
  (void)ParseRouteReply(datagram, 0, 0);
  (void)ParseLinkReply(datagram, 0, 0);
  if (const auto entry = ParseNeighbourReply(datagram, 0, 0)) Check(*entry);
  for (const Neighbour& event : ParseNeighbourEvents(datagram)) Check(event);
  std::vector<Link> links;
  std::vector<InterfaceAddress> addresses;
  (void)ParseLinkDump(datagram, 0, 0, links);
  (void)ParseAddressDump(datagram, 0, 0, addresses);
  for (const norvane::LocalInterface& interface :
       Interfaces(links, addresses)) {
    for (const norvane::AttachedNetwork& network : interface.networks) {
      if (network.prefix > 32) __builtin_trap();
    }
  }
  return 0;
}
