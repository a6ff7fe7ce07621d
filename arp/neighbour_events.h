// The kernel's neighbour events for a program that keeps listening between
// its scans: every entry the kernel resolves, confirms, changes or fails,
// whoever made it talk to the neighbour. Joining the group needs no
// privileges.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "netlink.h"
#include "watch_table.h"

namespace norvane {

// What one event says of its address: its hardware address (a usable entry
// with one that fits), or its failure; nothing for anything else (an entry
// still resolving, a removal, another interface's when ifindex is not 0).
std::optional<Sighting> SightingOf(const netlink::Neighbour& neighbour,
                                   std::int32_t ifindex);

class NeighbourEvents {
 public:
  enum class Read {
    kRead,  // what had arrived is appended (perhaps nothing)
    kLost,  // events were lost to a full receive buffer
    kError,
  };

  // Subscribed to the events of the interface called interface_name (of
  // every interface when it is empty); null when that cannot be done.
  static std::unique_ptr<NeighbourEvents> Open(
      const std::string& interface_name);
  virtual ~NeighbourEvents() = default;

  // Readable when events have arrived; for poll.
  virtual int fd() const = 0;
  // Reads what has arrived, without waiting.
  virtual Read Take(std::vector<Sighting>& sightings) = 0;
};

}  // namespace norvane
