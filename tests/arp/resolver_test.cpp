// The Linux resolver's logic over a fake kernel: what is refused, answered
// from the cache or probed, how events end the waits, the pace and the
// bound on waiting addresses. No root, no sockets.
#include <gtest/gtest.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <atomic>
#include <map>
#include <thread>

#include "resolver.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using netlink::Neighbour;
using netlink::Route;
using Clock = std::chrono::steady_clock;

// 198.51.100.x in network byte order.
constexpr std::uint32_t Host(std::uint32_t x) { return 0x006433C6 | x << 24; }
constexpr std::int32_t kEth = 2, kNoArpLink = 3;
const netlink::LinkAddress kMac = {0x00, 0x0C, 0x29, 0x0A, 0x0B, 0xFF};

struct FakeKernel : Kernel {
  std::map<std::uint32_t, Route> routes;
  std::map<std::uint32_t, Neighbour> cache;
  // The event each probed address brings; none for a silent one.
  std::map<std::uint32_t, Neighbour> replies;
  std::uint32_t lost = 0;  // its event is lost, as to an overrun buffer
  std::size_t limit = 256;
  std::vector<std::pair<std::uint32_t, Clock::time_point>> probes;
  std::vector<Neighbour> pending;  // events not yet received
  bool subscribed = false;

  std::optional<Route> GetRoute(std::uint32_t destination,
                                unsigned flags) override {
    if (!routes.contains(destination)) return std::nullopt;
    Route route = routes[destination];
    // The table entry of a local address names the interface holding it.
    if (route.type == RTN_LOCAL) route.oif = flags & RTM_F_FIB_MATCH ? kEth : 1;
    return route;
  }
  std::optional<netlink::Link> GetLink(std::uint32_t index) override {
    if (index == 1 || index > kNoArpLink) return std::nullopt;
    return netlink::Link{static_cast<std::int32_t>(index),
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
    // The cache holds what the events said, the lost one included.
    bool lose = false;
    for (const Neighbour& event : pending) {
      cache[*event.destination] = event;
      lose |= *event.destination == lost;
    }
    events = std::exchange(pending, {});
    return lose ? Arrival::kLost : Arrival::kEvents;
  }
  std::chrono::milliseconds ResolutionTime(const std::string&) override {
    return 100ms;
  }
  std::size_t WaitingLimit() override { return limit; }
};

Neighbour Entry(std::uint32_t x, std::uint16_t state,
                netlink::LinkAddress address = kMac) {
  return Neighbour{false, kEth, state, Host(x), address};
}

TEST(Resolver, EachAddressTakesItsWay) {
  FakeKernel kernel;
  for (std::uint32_t x = 1; x < 20; ++x) {
    kernel.routes[Host(x)] = {RTN_UNICAST, kEth, false};
  }
  kernel.routes[Host(1)] = {RTN_LOCAL, 0, false};
  kernel.routes[Host(2)] = {RTN_UNICAST, kEth, true, Host(254)};
  kernel.routes[Host(3)] = {RTN_BROADCAST, kEth, false};
  kernel.routes.erase(Host(4));
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
      {Host(3), Reason::kNotUnicast},
      {Host(4), Reason::kNoRoute},
      {Host(5), Reason::kNoArp},
      {Host(6), Reason::kNone, Source::kStale},
      {Host(9), Reason::kNone, Source::kReachable, true},
      {Host(10), Reason::kNoReply, Source::kUnknown, true},  // its event
      {Host(11), Reason::kNoReply, Source::kUnknown, true},  // the deadline
      {Host(12), Reason::kBadAnswer, Source::kReachable, true},
      {Host(11), Reason::kNoReply, Source::kUnknown, true},  // joins the wait
      {Host(14), Reason::kNone, Source::kReachable, true},
  };
  std::vector<std::uint32_t> addresses;
  for (const auto& c : cases) addresses.push_back(c.address);
  std::vector<Resolution> answers(addresses.size());
  std::vector<Clock::duration> times(addresses.size());
  std::size_t count = 0;
  const auto start = Clock::now();
  Resolve(kernel, addresses, {}, [&](std::size_t i, const Resolution& r) {
    ++count;
    answers[i] = r;
    times[i] = Clock::now() - start;
  });
  ASSERT_EQ(count, addresses.size());
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i);
    EXPECT_EQ(answers[i].resolved, c.reason == Reason::kNone);
    EXPECT_EQ(answers[i].reason, c.reason);
    EXPECT_EQ(answers[i].source, c.source);
    EXPECT_EQ(
        std::count_if(kernel.probes.begin(), kernel.probes.end(),
                      [&](auto probe) { return probe.first == c.address; }),
        c.probed ? 1 : 0);
    if (answers[i].resolved) {
      EXPECT_TRUE(
          std::equal(kMac.begin(), kMac.end(), answers[i].buffer.begin()));
      EXPECT_EQ(answers[i].length, 6u);
    }
  }
  EXPECT_EQ(answers[4].gateway, Host(254));
  // A failure event ends the wait at once, long before the deadline of
  // 100 ms (the resolution time) and 500 ms.
  EXPECT_LT(times[10], 300ms);
  EXPECT_GE(times[11], 600ms);
}

// The C library's inet_addr behind the locale's encoding.
TEST(Resolver, ParsesAsInetAddr) {
  const auto parse = SystemPlatform().parse;
  EXPECT_EQ(parse(u"0xC6.51.25602"), Host(2));
  EXPECT_EQ(parse(u"198.51.100.2 trailing"), Host(2));
  for (const std::u16string text : {u"198.51.100.\uFF12", u"198.51.100.2\xD800",
                                    u"not an address", u"198.51.100.256"})
    EXPECT_EQ(parse(text), kMalformedAddress);
}

TEST(Resolver, PacedBoundedAndStopped) {
  FakeKernel kernel;
  kernel.limit = 3;
  std::vector<std::uint32_t> addresses;
  for (std::uint32_t x = 1; x <= 12; ++x) {
    kernel.routes[Host(x)] = {RTN_UNICAST, kEth, false};
    addresses.push_back(Host(x));
  }
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
}  // namespace norvane
