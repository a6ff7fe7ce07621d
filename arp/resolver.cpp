// The Linux resolver's logic for a run of many addresses: one subscription
// to neighbour events for the whole run; for each address the refusals, the
// route, the interface and the cache; the addresses still unresolved are
// probed, paced and with a bounded number of neighbour entries held at a
// time, and each waits for its own event or its deadline.
#include "resolver.h"

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <algorithm>
#include <deque>
#include <map>
#include <variant>

#include "ip6_text.h"

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
// In IPv6 neither the unspecified address, loopback, multicast nor an
// IPv4-mapped address can, and a link-local one needs its link.
Reason NeighbourRefusal(const IpAddress& address) {
  if (address.is_inet6()) {
    const Ip6Bytes& bytes = address.bytes;
    if (IsUnspecified6(bytes) || IsLoopback6(bytes) || IsMulticast6(bytes) ||
        IsMapped6(bytes)) {
      return Reason::kNotUnicast;
    }
    return IsLinkLocal6(bytes) && address.scope == 0 ? Reason::kNoRoute
                                                     : Reason::kNone;
  }
  const std::uint32_t first_octet = ntohl(address.inet()) >> 24;
  return first_octet != 0 && first_octet != 127 && first_octet < 224
             ? Reason::kNone
             : Reason::kNotUnicast;
}

// The answer from a hardware address as the kernel reports it. An address
// that does not fit is a failure, never cut short.
Resolution Answer(const LinkAddress& address, Source source,
                  bool router = false) {
  Resolution answer;
  answer.source = source;
  answer.router = router;
  if (address.empty() || address.size() > answer.buffer.size()) {
    answer.reason = Reason::kBadAnswer;
    return answer;
  }
  std::copy(address.begin(), address.end(), answer.buffer.begin());
  answer.length = static_cast<std::uint32_t>(address.size());
  answer.resolved = true;
  return answer;
}

Resolution Refusal(Reason reason, const IpAddress& gateway = {}) {
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
  std::chrono::milliseconds retrans_time{0};
};

// An address being resolved by the kernel, and the positions that wait for it.
struct Waiting {
  std::vector<std::size_t> positions;
  std::int32_t ifindex = 0;
  std::chrono::steady_clock::time_point deadline;
  std::chrono::milliseconds wait{0};  // its deadline after its probe
  std::chrono::milliseconds hold{0};  // how long the kernel holds its entry
  bool sent = false;                  // false while its probe is refused
};

// A neighbour entry the run had the kernel create, until the kernel is done
// with it.
struct Held {
  std::int32_t ifindex = 0;
  std::chrono::steady_clock::time_point release;
};

// After a refused probe, none goes out for this long unless an entry of the
// run's own is released first.
constexpr auto kRefusalPause = 50ms;
// Beyond a scan's deadline after the second probe, or a single address's
// after the last: time for the answer to come back.
constexpr auto kScanMargin = 250ms;
constexpr auto kSingleMargin = 500ms;
// An event may come a little after the resolution time.
constexpr auto kHoldMargin = 100ms;

class Run {
 public:
  using Clock = std::chrono::steady_clock;

  Run(Kernel& kernel, std::span<const IpAddress> addresses,
      const ResolveOptions& options, const ResolveDone& done, Prober* prober)
      : kernel_(kernel),
        prober_(prober),
        addresses_(addresses),
        options_(options),
        done_(done),
        interval_(std::chrono::nanoseconds(1s) / std::max(options.rate, 1u)) {}

  void Go() {
    auto next_probe = Clock::now();
    while (next_ < addresses_.size() || !waiting_.empty() ||
           !confirming_.empty()) {
      if (options_.stop && options_.stop->load()) {
        FailAll(Reason::kSystem);
        return;
      }
      auto now = Clock::now();
      Release(now);
      // The per-address steps, until one needs a probe that must wait.
      while (WantsProbe() && now >= next_probe && MayProbe(now)) {
        const bool sent = !refused_.empty()           ? Retry(now)
                          : next_ < addresses_.size() ? Examine(next_++, now)
                                                      : Confirm();
        if (sent) {
          next_probe = std::max(next_probe, now - interval_) + interval_;
          now = Clock::now();
        }
      }
      if (next_ == addresses_.size() && waiting_.empty() &&
          confirming_.empty()) {
        return;
      }
      if (!prober_ && WantsProbe() && now >= next_probe &&
          now >= blocked_until_ && !HasRoom() && !told_table_) {
        told_table_ = true;
        if (options_.table_sets_pace) options_.table_sets_pace(limit_);
      }
      auto until = Earliest();
      if (WantsProbe()) {
        if (now < blocked_until_) {
          until = std::min(until, blocked_until_);
        } else if (!HasRoom()) {
          until = std::min(until, EarliestRelease());
        } else {
          until = std::min(until, next_probe);
        }
      }
      if (prober_ && WantsProbe()) {
        until = std::min(until, std::max(next_probe, prober_->NextAsk()));
      }
      std::vector<Neighbour> events;
      switch (prober_ ? Hear(until) : kernel_.Wait(until, events)) {
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
  // Whether an address waits for its first or another probe.
  bool WantsProbe() const {
    return !refused_.empty() || next_ < addresses_.size() ||
           !confirming_.empty();
  }

  bool MayProbe(Clock::time_point now) {
    return now >= blocked_until_ && HasRoom();
  }

  // Answers the address at position from what the kernel knows, or has it
  // resolved; true when a probe went out.
  bool Examine(std::size_t position, Clock::time_point now) {
    const IpAddress& address = addresses_[position];
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
    if (prober_) {
      // The prober ends the address itself: no deadline of the run's.
      const Reason refusal = prober_->Ask(address, link.index);
      if (refusal != Reason::kNone) {
        done_(position, Refusal(refusal));
        return false;
      }
      waiting_.emplace(address, Waiting{{position},
                                        link.index,
                                        Clock::time_point::max(),
                                        0ms,
                                        0ms,
                                        true});
      return true;
    }
    if (!link.resolution_time) {
      link.resolution_time = kernel_.ResolutionTime(link.name);
      link.retrans_time = kernel_.RetransTime(link.name);
    }
    // A scan covers the kernel's second probe, so that one lost frame loses
    // no host; a single address has the kernel's whole resolution time.
    const auto wait = options_.timeout > 0ms ? options_.timeout
                      : addresses_.size() > 1
                          ? link.retrans_time + kScanMargin
                          : *link.resolution_time + kSingleMargin;
    Waiting waiting{{position}, link.index, now, wait, *link.resolution_time,
                    false};
    switch (kernel_.Probe(address, link.index)) {
      case Probing::kFailed:
        done_(position, Refusal(Reason::kSystem));
        return false;
      case Probing::kRefused:
        // It keeps trying for as long as the kernel could take to make room.
        waiting.deadline = now + std::max(wait, 2 * waiting.hold);
        waiting_.emplace(address, std::move(waiting));
        Refused(address, now);
        return false;
      case Probing::kSent:
        break;
    }
    Sent(address, waiting, now);
    waiting_.emplace(address, std::move(waiting));
    return true;
  }

  // Probes an address answered from a stale entry, so that the kernel checks
  // it; what the kernel finds comes as an event to whoever listens. The entry
  // is there already: the probe adds none to hold.
  bool Confirm() {
    const auto [address, ifindex] = confirming_.front();
    confirming_.pop_front();
    return kernel_.Probe(address, ifindex) == Probing::kSent;
  }

  // Probes again the address whose probe was refused longest ago; true when
  // the probe went out.
  bool Retry(Clock::time_point now) {
    const IpAddress address = refused_.front();
    const auto found = waiting_.find(address);
    if (found == waiting_.end() || found->second.sent) {
      refused_.pop_front();  // answered or ended meanwhile
      return false;
    }
    switch (kernel_.Probe(address, found->second.ifindex)) {
      case Probing::kFailed:
        for (std::size_t position : found->second.positions) {
          done_(position, Refusal(Reason::kSystem));
        }
        waiting_.erase(found);
        refused_.pop_front();
        return false;
      case Probing::kRefused:
        blocked_until_ = now + kRefusalPause;
        return false;
      case Probing::kSent:
        break;
    }
    refused_.pop_front();
    Sent(address, found->second, now);
    return true;
  }

  void Sent(const IpAddress& address, Waiting& waiting, Clock::time_point now) {
    waiting.sent = true;
    waiting.deadline = now + waiting.wait;
    held_[address] = Held{waiting.ifindex, now + waiting.hold + kHoldMargin};
  }

  void Refused(const IpAddress& address, Clock::time_point now) {
    refused_.push_back(address);
    blocked_until_ = now + kRefusalPause;
  }

  // Whether one more entry may be held. The limit is read only once a
  // first one is held.
  bool HasRoom() {
    if (prober_) return prober_->NextAsk() <= Clock::now();
    if (held_.empty()) return true;
    if (limit_ == 0) limit_ = std::max<std::size_t>(kernel_.WaitingLimit(), 1);
    return held_.size() < limit_;
  }

  // The answer from the route, the interface and the cache, or the index
  // of the interface (in links_) on which the kernel must resolve it.
  std::variant<Resolution, std::uint32_t> Decide(const IpAddress& address) {
    if (const Reason refusal = NeighbourRefusal(address);
        refusal != Reason::kNone) {
      return Refusal(refusal);
    }
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
      if (!OnChosenInterface(link->name)) {
        return Refusal(Reason::kOtherInterface);
      }
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
    if (link.refusal == Reason::kNone && !OnChosenInterface(link.name)) {
      return Refusal(Reason::kOtherInterface);
    }
    if (link.refusal != Reason::kNone) return Refusal(link.refusal);
    // Asked on the wire: who is there now, not what the cache remembers.
    if (prober_) return route->oif;
    // Subscribe before looking at the cache, so that no change of the entry
    // can slip between the look and the wait.
    if (!kernel_.Subscribe()) return Refusal(Reason::kSystem);
    if (const auto cached = kernel_.GetNeighbour(address, link.index);
        cached && netlink::IsUsable(cached->state)) {
      if (options_.confirm_stale && cached->state == NUD_STALE) {
        confirming_.emplace_back(address, link.index);
      }
      return Answer(cached->address, netlink::SourceOf(cached->state),
                    cached->router);
    }
    return route->oif;
  }

  bool OnChosenInterface(const std::string& name) const {
    return options_.interface_name.empty() || options_.interface_name == name;
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

  // Releases the entry that neighbour describes once the kernel is done with
  // it, and ends the wait for it if the message says enough.
  void Settle(const Neighbour& neighbour) {
    if (!neighbour.destination) return;
    if (const auto held = held_.find(*neighbour.destination);
        held != held_.end() && neighbour.ifindex == held->second.ifindex &&
        (neighbour.deleted ||
         netlink::Judge(neighbour, held->first, held->second.ifindex) !=
             Verdict::kPending)) {
      held_.erase(held);
      blocked_until_ = {};  // room, perhaps, for a refused probe
    }
    const auto found = waiting_.find(*neighbour.destination);
    if (found == waiting_.end()) return;
    Resolution answer;
    switch (netlink::Judge(neighbour, found->first, found->second.ifindex)) {
      case Verdict::kPending:
        return;
      case Verdict::kResolved:
      case Verdict::kUnusable:
        answer = Answer(neighbour.address, netlink::SourceOf(neighbour.state),
                        neighbour.router);
        break;
      case Verdict::kFailed:
        // Only the failure of the run's own probe ends the wait.
        if (!found->second.sent) return;
        answer = Refusal(Reason::kNoReply);
        break;
    }
    for (std::size_t position : found->second.positions) {
      done_(position, answer);
    }
    waiting_.erase(found);
  }

  // The prober's answers, each for every position that waits for it.
  Arrival Hear(Clock::time_point until) {
    Prober::Answers answers;
    const Arrival arrival = prober_->Wait(until, answers);
    for (const auto& [address, answer] : answers) {
      const auto found = waiting_.find(address);
      if (found == waiting_.end()) continue;
      for (std::size_t position : found->second.positions) {
        done_(position, answer);
      }
      waiting_.erase(found);
    }
    return arrival;
  }

  // Events were lost: asks for every held and every awaited entry instead.
  void Recheck() {
    std::vector<Neighbour> entries;
    for (const auto& [address, held] : held_) {
      if (auto entry = kernel_.GetNeighbour(address, held.ifindex)) {
        entries.push_back(*entry);
      }
    }
    for (const auto& [address, waiting] : waiting_) {
      if (held_.contains(address)) continue;
      if (auto entry = kernel_.GetNeighbour(address, waiting.ifindex)) {
        entries.push_back(*entry);
      }
    }
    for (const Neighbour& entry : entries) Settle(entry);
  }

  // The entries the kernel has given up on by now, without an event seen.
  void Release(Clock::time_point now) {
    std::erase_if(held_,
                  [&](const auto& held) { return held.second.release <= now; });
  }

  Clock::time_point Earliest() const {
    auto earliest = Clock::time_point::max();
    for (const auto& [address, waiting] : waiting_) {
      earliest = std::min(earliest, waiting.deadline);
    }
    return earliest;
  }

  Clock::time_point EarliestRelease() const {
    auto earliest = Clock::time_point::max();
    for (const auto& [address, held] : held_) {
      earliest = std::min(earliest, held.release);
    }
    return earliest;
  }

  void Expire() {
    const auto now = Clock::now();
    for (auto it = waiting_.begin(); it != waiting_.end();) {
      if (it->second.deadline > now) {
        ++it;
        continue;
      }
      const Reason reason =
          it->second.sent ? Reason::kNoReply : Reason::kTableFull;
      for (std::size_t position : it->second.positions) {
        done_(position, Refusal(reason));
      }
      it = waiting_.erase(it);
    }
  }

  Kernel& kernel_;
  Prober* const prober_;  // null: the kernel resolves
  std::span<const IpAddress> addresses_;
  const ResolveOptions& options_;
  const ResolveDone& done_;
  std::size_t limit_ = 0;  // read once a first entry is held
  const std::chrono::nanoseconds interval_;
  std::size_t next_ = 0;
  std::map<std::uint32_t, LinkFacts> links_;
  std::map<IpAddress, Waiting> waiting_;
  std::map<IpAddress, Held> held_;
  std::deque<IpAddress> refused_;  // oldest refusal first
  // Addresses answered from stale entries, to probe, with their interface.
  std::deque<std::pair<IpAddress, std::int32_t>> confirming_;
  Clock::time_point blocked_until_;  // no probe before, after a refusal
  bool told_table_ = false;
};

}  // namespace

void Resolve(Kernel& kernel, std::span<const IpAddress> addresses,
             const ResolveOptions& options, const ResolveDone& done,
             Prober* prober) {
  Run(kernel, addresses, options, done, prober).Go();
}

}  // namespace norvane
