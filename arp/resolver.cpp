// The Linux resolver's logic for a run of many addresses: one subscription
// to neighbour events for the whole run; for each address the refusals, the
// route, the interface and the cache; the addresses still unresolved are
// probed, paced and a bounded number at a time, and each waits for its own
// event or its deadline.
#include "resolver.h"

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <algorithm>
#include <map>
#include <variant>

namespace norvane {
namespace {

using namespace std::chrono_literals;
using netlink::Link;
using netlink::LinkAddress;
using netlink::Neighbour;
using netlink::Route;
using netlink::Verdict;

// Only a unicast address outside 0.0.0.0/8 and 127.0.0.0/8 can belong to a
// neighbour; multicast, the reserved block and the limited broadcast cannot.
bool MayBeNeighbour(std::uint32_t address) {
  const std::uint32_t first_octet = ntohl(address) >> 24;
  return first_octet != 0 && first_octet != 127 && first_octet < 224;
}

// The answer from a hardware address as the kernel reports it. An address
// that does not fit is a failure, never cut short.
Resolution Answer(const LinkAddress& address, Source source) {
  Resolution answer;
  answer.source = source;
  if (address.empty() || address.size() > answer.buffer.size()) {
    answer.reason = Reason::kBadAnswer;
    return answer;
  }
  std::copy(address.begin(), address.end(), answer.buffer.begin());
  answer.length = static_cast<std::uint32_t>(address.size());
  answer.resolved = true;
  return answer;
}

Resolution Refusal(Reason reason, std::uint32_t gateway = 0) {
  Resolution refusal;
  refusal.reason = reason;
  refusal.gateway = gateway;
  return refusal;
}

// An interface as the run needs it.
struct LinkFacts {
  Reason refusal = Reason::kSystem;
  std::int32_t index = 0;
  std::string name;
  // Read when the first address on the interface needs the kernel.
  std::optional<std::chrono::milliseconds> resolution_time;
};

// An address being resolved by the kernel, and the positions that wait for it.
struct Waiting {
  std::vector<std::size_t> positions;
  std::int32_t ifindex = 0;
  std::chrono::steady_clock::time_point deadline;
};

class Run {
 public:
  Run(Kernel& kernel, std::span<const std::uint32_t> addresses,
      const ResolveOptions& options, const ResolveDone& done)
      : kernel_(kernel),
        addresses_(addresses),
        options_(options),
        done_(done),
        interval_(std::chrono::nanoseconds(1s) / std::max(options.rate, 1u)) {}

  void Go() {
    auto next_probe = std::chrono::steady_clock::now();
    while (next_ < addresses_.size() || !waiting_.empty()) {
      if (options_.stop && options_.stop->load()) {
        FailAll(Reason::kSystem);
        return;
      }
      auto now = std::chrono::steady_clock::now();
      // The per-address steps, until one needs a probe that must wait.
      while (next_ < addresses_.size() && HasRoom() && now >= next_probe) {
        if (Examine(next_++, now)) {
          next_probe = std::max(next_probe, now - interval_) + interval_;
          now = std::chrono::steady_clock::now();
        }
      }
      if (next_ == addresses_.size() && waiting_.empty()) return;
      auto until = Earliest();
      if (next_ < addresses_.size() && HasRoom()) {
        until = std::min(until, next_probe);
      }
      std::vector<Neighbour> events;
      switch (kernel_.Wait(until, events)) {
        case Arrival::kEvents:
          for (const Neighbour& n : events) Settle(n);
          break;
        case Arrival::kLost:
          Recheck();
          break;
        case Arrival::kDeadline:
          break;
        case Arrival::kError:
          FailAll(Reason::kSystem);
          return;
      }
      Expire();
    }
  }

  void FailAll(Reason reason) {
    for (auto& [address, waiting] : waiting_) {
      for (std::size_t position : waiting.positions) {
        done_(position, Refusal(reason));
      }
    }
    waiting_.clear();
    for (; next_ < addresses_.size(); ++next_) {
      done_(next_, Refusal(reason));
    }
  }

 private:
  // Answers the address at position from what the kernel knows, or has it
  // resolved; true when a probe went out.
  bool Examine(std::size_t position,
               std::chrono::steady_clock::time_point now) {
    const std::uint32_t address = addresses_[position];
    if (auto found = waiting_.find(address); found != waiting_.end()) {
      found->second.positions.push_back(position);
      return false;
    }
    const auto decided = Decide(address);
    if (decided.index() == 0) {
      done_(position, std::get<0>(decided));
      return false;
    }
    LinkFacts& link = links_.at(std::get<1>(decided));
    if (!kernel_.Probe(address, link.index)) {
      done_(position, Refusal(Reason::kSystem));
      return false;
    }
    if (!link.resolution_time) {
      link.resolution_time = kernel_.ResolutionTime(link.name);
    }
    const auto wait = options_.timeout > 0ms ? options_.timeout
                                             : *link.resolution_time + 500ms;
    waiting_.emplace(address, Waiting{{position}, link.index, now + wait});
    return true;
  }

  // Whether one more address may wait for the kernel. The limit is read
  // only once a first one waits.
  bool HasRoom() {
    if (waiting_.empty()) return true;
    if (limit_ == 0) limit_ = std::max<std::size_t>(kernel_.WaitingLimit(), 1);
    return waiting_.size() < limit_;
  }

  // The answer from the route, the interface and the cache, or the index
  // of the interface (in links_) on which the kernel must resolve it.
  std::variant<Resolution, std::uint32_t> Decide(std::uint32_t address) {
    if (!MayBeNeighbour(address)) return Refusal(Reason::kNotUnicast);
    const std::optional<Route> route = kernel_.GetRoute(address, 0);
    if (!route) return Refusal(Reason::kNoRoute);
    if (route->type == RTN_LOCAL) {
      // The lookup answers through the loopback interface; the table entry
      // itself names the interface that holds the address.
      const std::optional<Route> entry =
          kernel_.GetRoute(address, RTM_F_FIB_MATCH);
      if (!entry || entry->oif == 0) return Refusal(Reason::kSystem);
      const std::optional<Link> link = kernel_.GetLink(entry->oif);
      if (!link) return Refusal(Reason::kSystem);
      if (link->flags & IFF_LOOPBACK) return Refusal(Reason::kNoArp);
      return Answer(link->address, Source::kOwn);
    }
    // Broadcast, unreachable, blackhole and the like have no neighbour, and a
    // host behind a gateway is not on the local network.
    if (const Reason refusal = netlink::RefuseRoute(*route);
        refusal != Reason::kNone) {
      return Refusal(refusal, route->gateway);
    }
    const LinkFacts& link = Facts(route->oif);
    if (link.refusal != Reason::kNone) return Refusal(link.refusal);
    // Subscribe before looking at the cache, so that no change of the entry
    // can slip between the look and the wait.
    if (!kernel_.Subscribe()) return Refusal(Reason::kSystem);
    if (const auto cached = kernel_.GetNeighbour(address, link.index);
        cached && netlink::IsUsable(cached->state)) {
      return Answer(cached->address, netlink::SourceOf(cached->state));
    }
    return route->oif;
  }

  const LinkFacts& Facts(std::uint32_t index) {
    auto [found, added] = links_.try_emplace(index);
    if (added) {
      if (const std::optional<Link> link = kernel_.GetLink(index)) {
        found->second.refusal = netlink::RefuseLink(*link);
        found->second.index = link->index;
        found->second.name = link->name;
      }
    }
    return found->second;
  }

  // Ends the wait for the entry that neighbour describes, if it says enough.
  void Settle(const Neighbour& neighbour) {
    if (!neighbour.destination) return;
    const auto found = waiting_.find(*neighbour.destination);
    if (found == waiting_.end()) return;
    Resolution answer;
    switch (netlink::Judge(neighbour, found->first, found->second.ifindex)) {
      case Verdict::kPending:
        return;
      case Verdict::kResolved:
      case Verdict::kUnusable:
        answer = Answer(neighbour.address, netlink::SourceOf(neighbour.state));
        break;
      case Verdict::kFailed:
        answer = Refusal(Reason::kNoReply);
        break;
    }
    for (std::size_t position : found->second.positions) {
      done_(position, answer);
    }
    waiting_.erase(found);
  }

  // Events were lost: asks for every awaited entry instead.
  void Recheck() {
    std::vector<Neighbour> entries;
    for (const auto& [address, waiting] : waiting_) {
      if (auto entry = kernel_.GetNeighbour(address, waiting.ifindex)) {
        entries.push_back(*entry);
      }
    }
    for (const Neighbour& entry : entries) Settle(entry);
  }

  std::chrono::steady_clock::time_point Earliest() const {
    auto earliest = std::chrono::steady_clock::time_point::max();
    for (const auto& [address, waiting] : waiting_) {
      earliest = std::min(earliest, waiting.deadline);
    }
    return earliest;
  }

  void Expire() {
    const auto now = std::chrono::steady_clock::now();
    for (auto it = waiting_.begin(); it != waiting_.end();) {
      if (it->second.deadline > now) {
        ++it;
        continue;
      }
      for (std::size_t position : it->second.positions) {
        done_(position, Refusal(Reason::kNoReply));
      }
      it = waiting_.erase(it);
    }
  }

  Kernel& kernel_;
  std::span<const std::uint32_t> addresses_;
  const ResolveOptions& options_;
  const ResolveDone& done_;
  std::size_t limit_ = 0;  // read once a first address waits
  const std::chrono::nanoseconds interval_;
  std::size_t next_ = 0;
  std::map<std::uint32_t, LinkFacts> links_;
  std::map<std::uint32_t, Waiting> waiting_;
};

}  // namespace

void Resolve(Kernel& kernel, std::span<const std::uint32_t> addresses,
             const ResolveOptions& options, const ResolveDone& done) {
  Run(kernel, addresses, options, done).Go();
}

}  // namespace norvane
