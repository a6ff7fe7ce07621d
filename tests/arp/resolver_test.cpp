// The Linux resolver without root or sockets: the reading of replies and
// events recorded from a real kernel (the fuzzer's seed corpus, some with a
// field changed to stand for another state), and the run over a fake kernel:
// refusals, cache, probes, events, deadlines, the pace and the bound.
#include <gtest/gtest.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <thread>

#include "read_file.h"
#include "resolver.h"

namespace norvane::netlink {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// 198.51.100.x in network byte order; host A is 198.51.100.2.
constexpr std::uint32_t Host(std::uint32_t x) { return 0x006433C6 | x << 24; }
constexpr std::uint32_t kHostA = Host(2);
const LinkAddress kMac = {0x00, 0x0C, 0x29, 0x0A, 0x0B, 0xFF};  // host A's
constexpr std::uint32_t kPort = 0x4906;  // the recording socket's port id

std::vector<std::uint8_t> Recorded(const std::string& name) {
  const std::string bytes = test::ReadFile(NORVANE_NETLINK_CORPUS "/" + name);
  return {bytes.begin(), bytes.end()};
}

TEST(Netlink, RouteAndLinkReplies) {
  const struct {
    const char* file;
    std::uint32_t seq, port;
    std::optional<Reason> refusal;  // none: nothing read
    std::uint32_t gateway = 0;
  } cases[] = {
      {"route-onlink", 1, kPort, Reason::kNone},
      {"route-gateway", 2, kPort, Reason::kOffLink, kHostA},
      {"route-broadcast", 4, kPort, Reason::kNotUnicast},
      {"route-local-fibmatch", 3, kPort, Reason::kNoRoute},  // RTN_LOCAL
      {"route-onlink", 2, kPort, std::nullopt},      // another request's
      {"route-onlink", 1, kPort + 1, std::nullopt},  // another socket's
      {"neigh-missing", 6, kPort, std::nullopt},     // an error
      {"huge-length", 6, kPort, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto route = ParseRouteReply(Recorded(c.file), c.seq, c.port);
    ASSERT_EQ(route.has_value(), c.refusal.has_value());
    if (!route) continue;
    EXPECT_NE(route->oif, 0u);
    EXPECT_EQ(RefuseRoute(*route), c.refusal);
    EXPECT_EQ(route->gateway, c.gateway);
  }
  EXPECT_EQ(RefuseRoute({RTN_UNICAST, 0, false}), Reason::kNoRoute);

  const auto link = ParseLinkReply(Recorded("link"), 5, kPort);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->address, (LinkAddress{2, 0, 0, 0, 0, 1}));
  EXPECT_EQ(RefuseLink(*link), Reason::kNone);
  const std::pair<Link, Reason> links[] = {
      {{1, IFF_NOARP, "x", kMac}, Reason::kNoArp},
      {{1, IFF_LOOPBACK, "x", kMac}, Reason::kNoArp},
      {{1, IFF_POINTOPOINT, "x", kMac}, Reason::kNoArp},
      {{1, 0, "x", {}}, Reason::kBadAnswer},
      {{1, 0, "x", LinkAddress(20, 0xAB)}, Reason::kBadAnswer},  // not fitting
  };
  for (const auto& [other, refusal] : links) {
    EXPECT_EQ(RefuseLink(other), refusal);
  }
}

// The recorded reply for host A, and as an event in each state.
TEST(Netlink, NeighbourInEachState) {
  std::vector<std::uint8_t> reply = Recorded("neigh-reachable");
  std::int32_t ifindex = 0;
  std::memcpy(&ifindex, &reply[16 + offsetof(ndmsg, ndm_ifindex)], 4);
  const auto entry = ParseNeighbourReply(reply, 7, kPort);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->address, kMac);
  EXPECT_EQ(Judge(*entry, kHostA, ifindex), Verdict::kResolved);
  EXPECT_EQ(Judge(*entry, kHostA + 1, ifindex), Verdict::kPending);
  EXPECT_EQ(Judge(*entry, kHostA, ifindex + 1), Verdict::kPending);
  const struct {
    std::uint16_t state;
    Verdict verdict;
    Source source = Source::kUnknown;
  } cases[] = {
      {NUD_REACHABLE, Verdict::kResolved, Source::kReachable},
      {NUD_STALE, Verdict::kResolved, Source::kStale},
      {NUD_DELAY, Verdict::kResolved, Source::kDelay},
      {NUD_PROBE, Verdict::kResolved, Source::kProbe},
      {NUD_PERMANENT, Verdict::kResolved, Source::kPermanent},
      {NUD_NOARP, Verdict::kResolved, Source::kNoArp},
      {NUD_INCOMPLETE, Verdict::kPending},
      {NUD_NONE, Verdict::kPending},
      {NUD_FAILED, Verdict::kFailed},
  };
  constexpr std::size_t kType = offsetof(nlmsghdr, nlmsg_type);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    std::memcpy(&reply[16 + offsetof(ndmsg, ndm_state)], &c.state, 2);
    EXPECT_EQ(Judge(ParseNeighbourEvents(reply).at(0), kHostA, ifindex),
              c.verdict);
    EXPECT_EQ(SourceOf(c.state), c.source);
    // The removal of the entry, whatever its state.
    reply[kType] = RTM_DELNEIGH;
    EXPECT_EQ(Judge(ParseNeighbourEvents(reply).at(0), kHostA, ifindex),
              Verdict::kPending);
    reply[kType] = RTM_NEWNEIGH;
  }

  // A usable entry without an address, or with one longer than the answer.
  for (const LinkAddress& address : {LinkAddress{}, LinkAddress(8, 0x02)}) {
    EXPECT_EQ(Judge({false, ifindex, NUD_REACHABLE, kHostA, address}, kHostA,
                    ifindex),
              Verdict::kUnusable);
  }
}

TEST(Netlink, WaitingStaysWellBelowTheThresholds) {
  EXPECT_EQ(WaitingLimit(std::nullopt, std::nullopt), 256u);  // unreadable
  EXPECT_EQ(WaitingLimit(4096, 8192), 256u);
  EXPECT_EQ(WaitingLimit(64, 32), 16u);
  EXPECT_EQ(WaitingLimit(1, 1), 1u);
}

constexpr std::int32_t kEth = 2, kNoArpLink = 3;

// Every 198.51.100.x is on link on kEth unless routes says otherwise (a
// route of type 0: none).
struct FakeKernel : Kernel {
  std::map<std::uint32_t, Route> routes;
  std::map<std::uint32_t, Neighbour> cache;
  // The event each probed address brings; none for a silent one.
  std::map<std::uint32_t, Neighbour> replies;
  // From this address's event on, events are lost, as to an overrun buffer.
  std::uint32_t lost = 0;
  std::size_t limit = 256;
  std::vector<std::pair<std::uint32_t, Clock::time_point>> probes;
  std::vector<Neighbour> pending;  // events not yet received
  bool subscribed = false;

  std::optional<Route> GetRoute(std::uint32_t destination,
                                unsigned flags) override {
    Route route{RTN_UNICAST, kEth, false};
    if (routes.contains(destination)) route = routes[destination];
    // The table entry of a local address names the interface holding it.
    if (route.type == RTN_LOCAL) route.oif = flags & RTM_F_FIB_MATCH ? kEth : 1;
    if (route.type == 0) return std::nullopt;
    return route;
  }
  std::optional<Link> GetLink(std::uint32_t index) override {
    if (index == 1 || index > kNoArpLink) return std::nullopt;
    return Link{static_cast<std::int32_t>(index),
                index == kEth ? IFF_UP : IFF_NOARP, "eth", kMac};
  }
  std::optional<Neighbour> GetNeighbour(std::uint32_t destination,
                                        std::int32_t) override {
    EXPECT_TRUE(subscribed) << "looked at the cache before subscribing";
    if (!cache.contains(destination)) return std::nullopt;
    return cache[destination];
  }
  bool Subscribe() override { return subscribed = true; }
  bool Probe(std::uint32_t destination, std::int32_t ifindex) override {
    EXPECT_EQ(ifindex, kEth);
    probes.emplace_back(destination, Clock::now());
    if (replies.contains(destination)) pending.push_back(replies[destination]);
    return true;
  }
  Arrival Wait(Clock::time_point deadline,
               std::vector<Neighbour>& events) override {
    if (pending.empty()) {
      std::this_thread::sleep_until(deadline);
      return Arrival::kDeadline;
    }
    // The cache holds what the events said, the lost ones included.
    for (const Neighbour& event : pending) cache[*event.destination] = event;
    events = std::exchange(pending, {});
    return cache.contains(lost) ? Arrival::kLost : Arrival::kEvents;
  }
  std::chrono::milliseconds ResolutionTime(const std::string&) override {
    return 100ms;
  }
  std::size_t WaitingLimit() override { return limit; }
};

Neighbour Entry(std::uint32_t x, std::uint16_t state,
                LinkAddress address = kMac) {
  return Neighbour{false, kEth, state, Host(x), address};
}

TEST(Resolver, EachAddressTakesItsWay) {
  FakeKernel kernel;
  kernel.routes[Host(1)] = {RTN_LOCAL, 0, false};
  kernel.routes[Host(2)] = {RTN_UNICAST, kEth, true, Host(254)};
  kernel.routes[Host(4)] = {};
  kernel.routes[Host(5)] = {RTN_UNICAST, kNoArpLink, false};
  kernel.cache[Host(6)] = Entry(6, NUD_STALE);
  kernel.cache[Host(9)] = Entry(9, NUD_FAILED);
  kernel.replies[Host(9)] = Entry(9, NUD_REACHABLE);
  kernel.cache[Host(10)] = Entry(10, NUD_INCOMPLETE);
  kernel.replies[Host(10)] = Entry(10, NUD_FAILED);
  kernel.replies[Host(12)] = Entry(12, NUD_REACHABLE, {1, 2, 3, 4, 5, 6, 7, 8});
  kernel.replies[Host(14)] = Entry(14, NUD_REACHABLE);
  kernel.lost = Host(14);  // the cache is asked instead

  const struct {
    std::uint32_t address;
    Reason reason;  // kNone: resolved, to kMac
    Source source = Source::kUnknown;
    bool probed = false;
  } cases[] = {
      {0x0100007F, Reason::kNotUnicast},  // 127.0.0.1, no route asked
      {0x03020100, Reason::kNotUnicast},  // 0.1.2.3
      {0x010000E0, Reason::kNotUnicast},  // 224.0.0.1
      {Host(1), Reason::kNone, Source::kOwn},
      {Host(2), Reason::kOffLink},
      {Host(4), Reason::kNoRoute},
      {Host(5), Reason::kNoArp},
      {Host(6), Reason::kNone, Source::kStale},
      {Host(9), Reason::kNone, Source::kReachable, true},
      {Host(11), Reason::kNoReply, Source::kUnknown, true},  // the deadline
      {Host(10), Reason::kNoReply, Source::kUnknown, true},  // its event
      {Host(12), Reason::kBadAnswer, Source::kReachable, true},
      {Host(11), Reason::kNoReply, Source::kUnknown, true},  // joins the wait
      {Host(14), Reason::kNone, Source::kReachable, true},
  };
  std::vector<std::uint32_t> addresses;
  for (const auto& c : cases) addresses.push_back(c.address);
  std::vector<Resolution> answers(addresses.size());
  std::vector<Clock::duration> times(addresses.size());
  std::vector<std::size_t> order;
  const auto start = Clock::now();
  Resolve(kernel, addresses, {}, [&](std::size_t i, const Resolution& r) {
    answers[i] = r;
    times[i] = Clock::now() - start;
    order.push_back(i);
  });
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i);
    EXPECT_EQ(answers[i].resolved, c.reason == Reason::kNone);
    EXPECT_EQ(answers[i].reason, c.reason);
    EXPECT_EQ(answers[i].source, c.source);
    EXPECT_EQ(std::ranges::count(kernel.probes, c.address,
                                 [](const auto& probe) { return probe.first; }),
              c.probed ? 1 : 0);
    if (answers[i].resolved) {
      EXPECT_TRUE(
          std::equal(kMac.begin(), kMac.end(), answers[i].buffer.begin()));
      EXPECT_EQ(answers[i].length, 6u);
    }
  }
  EXPECT_EQ(answers[4].gateway, Host(254));
  // Host 10's failure event ends its wait at once: it is answered before
  // host 11, asked for earlier and so of an earlier deadline, that the
  // deadline of 100 ms (the resolution time) and 500 ms ends.
  EXPECT_LT(std::ranges::find(order, 10u), std::ranges::find(order, 9u));
  EXPECT_GE(times[9], 600ms);
}

// The C library's inet_addr behind the locale's encoding.
TEST(Resolver, ParsesAsInetAddr) {
  const auto parse = SystemPlatform().parse;
  EXPECT_EQ(parse(u"0xC6.51.25602"), kHostA);
  EXPECT_EQ(parse(u"198.51.100.2 trailing"), kHostA);
  for (const std::u16string text : {u"198.51.100.\uFF12", u"198.51.100.2\xD800",
                                    u"not an address", u"198.51.100.256"})
    EXPECT_EQ(parse(text), kMalformedAddress);
}

TEST(Resolver, PacedBoundedAndStopped) {
  FakeKernel kernel;
  kernel.limit = 3;
  std::vector<std::uint32_t> addresses;
  for (std::uint32_t x = 1; x <= 12; ++x) addresses.push_back(Host(x));
  ResolveOptions options;
  options.rate = 200;
  options.timeout = 20ms;
  std::size_t most = 0, done = 0;
  const auto start = Clock::now();
  Resolve(kernel, addresses, options, [&](std::size_t, const Resolution& r) {
    EXPECT_EQ(r.reason, Reason::kNoReply);
    most = std::max(most, kernel.probes.size() - ++done);
  });
  EXPECT_EQ(done, addresses.size());
  ASSERT_EQ(kernel.probes.size(), addresses.size());
  EXPECT_LE(most, 3u);
  // 200 a second: a late probe may be caught up, never more, so any three
  // probes span an interval of 5 ms at least. At most 3 wait, each 20 ms, so
  // 12 take 4 rounds at least.
  for (std::size_t i = 2; i < kernel.probes.size(); ++i) {
    EXPECT_GE(kernel.probes[i].second - kernel.probes[i - 2].second,
              5ms - 100us);
  }
  EXPECT_GE(Clock::now() - start, 4 * 20ms);

  // A caller with no use for the rest stops the run: what waits and what is
  // not yet asked for end at once, with no probe more.
  std::atomic<bool> stop{false};
  options.stop = &stop;
  kernel.probes.clear();
  done = 0;
  Resolve(kernel, addresses, options, [&](std::size_t, const Resolution& r) {
    if (++done == 1) stop = true;
    EXPECT_EQ(r.reason, done == 1 ? Reason::kNoReply : Reason::kSystem);
  });
  EXPECT_EQ(done, addresses.size());
  EXPECT_LE(kernel.probes.size(), 3u);
}

}  // namespace
}  // namespace norvane::netlink
