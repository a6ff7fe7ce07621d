// The Linux resolver's logic for a run of many addresses, over what it asks
// of the kernel (Kernel), so that it can be tried against a fake one.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "mac.h"
#include "netlink.h"

namespace norvane {

// What waiting for neighbour events brought.
enum class Arrival {
  kEvents,    // events arrived
  kLost,      // events were lost to an overrun receive buffer (ENOBUFS)
  kDeadline,  // the deadline passed first
  kError,
};

// What became of a probe.
enum class Probing {
  kSent,     // the kernel is resolving the address
  kRefused,  // no room in the neighbour table: try again later
  kFailed,
};

// What the resolver asks of the kernel.
class Kernel {
 public:
  virtual ~Kernel() = default;
  virtual std::optional<netlink::Route> GetRoute(const IpAddress& destination,
                                                 unsigned flags) = 0;
  virtual std::optional<netlink::Link> GetLink(std::uint32_t index) = 0;
  // The cache entry for destination on interface ifindex, if there is one.
  virtual std::optional<netlink::Neighbour> GetNeighbour(
      const IpAddress& destination, std::int32_t ifindex) = 0;
  // Starts receiving neighbour events (once; later calls do nothing).
  virtual bool Subscribe() = 0;
  // Has the kernel resolve destination on interface ifindex, which makes it
  // create a neighbour entry and hold it until it resolves or fails.
  virtual Probing Probe(const IpAddress& destination, std::int32_t ifindex) = 0;
  // Waits for neighbour events until deadline; on kEvents they are in events.
  virtual Arrival Wait(std::chrono::steady_clock::time_point deadline,
                       std::vector<netlink::Neighbour>& events) = 0;
  // How long the kernel takes to give up on a silent neighbour of the
  // interface called name.
  virtual std::chrono::milliseconds ResolutionTime(const std::string& name) = 0;
  // How long after its first probe the kernel sends its second one.
  virtual std::chrono::milliseconds RetransTime(const std::string& name) = 0;
  // How many neighbour entries the run may have the kernel hold at once.
  virtual std::size_t WaitingLimit() = 0;
};

// A way of asking that replaces the kernel's neighbour resolution for a run:
// the addresses the routes and interfaces leave open are asked and answered
// by it, never from the neighbour cache, with no neighbour entry made.
class Prober {
 public:
  using Answers = std::vector<std::pair<IpAddress, Resolution>>;
  virtual ~Prober() = default;
  // When another address may be asked (now or earlier: at once).
  virtual std::chrono::steady_clock::time_point NextAsk() = 0;
  // Starts asking for address on interface ifindex; Reason::kNone when it
  // does, or why the address cannot be asked.
  virtual Reason Ask(const IpAddress& address, std::int32_t ifindex) = 0;
  // Goes on asking and listening until deadline or until addresses end;
  // each address asked ends once, in answers, answered or not (kNoReply).
  // Never kLost.
  virtual Arrival Wait(std::chrono::steady_clock::time_point deadline,
                       Answers& answers) = 0;
};

// Resolves every address through kernel: each is refused, answered from the
// route, the interface or the cache, or probed and waited for until its
// event or its deadline. Probes are paced at options.rate a second, and the
// entries they make the kernel hold, counted until the kernel is done with
// each (resolved, failed, or its resolution time after the probe), stay
// within kernel.WaitingLimit(). A probe the kernel refuses for want of room
// is tried again. Calls done once for each address. With a prober, the
// addresses the routes and interfaces do not answer are asked through it
// instead, at its pace, and no neighbour entry is made.
void Resolve(Kernel& kernel, std::span<const IpAddress> addresses,
             const ResolveOptions& options, const ResolveDone& done,
             Prober* prober = nullptr);

}  // namespace norvane
