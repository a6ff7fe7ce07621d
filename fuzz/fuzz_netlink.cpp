// Arbitrary bytes read as rtnetlink datagrams, the way the Linux resolver
// reads the kernel's answers and neighbour events.
#include <cstddef>
#include <cstdint>
#include <span>

#include "netlink.h"

namespace {

using namespace norvane::netlink;

// An entry is only ever taken as resolved with a usable state and an
// address that fits the 6-byte answer buffer.
void CheckVerdict(const Neighbour& entry) {
  const Verdict verdict =
      Judge(entry, entry.destination.value_or(0), entry.ifindex);
  if (verdict == Verdict::kResolved &&
      (!entry.destination || !IsUsable(entry.state) || entry.address.empty() ||
       entry.address.size() > 6)) {
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
  if (const auto entry = ParseNeighbourReply(datagram, 0, 0)) {
    CheckVerdict(*entry);
  }
  for (const Neighbour& event : ParseNeighbourEvents(datagram)) {
    CheckVerdict(event);
  }
  return 0;
}
