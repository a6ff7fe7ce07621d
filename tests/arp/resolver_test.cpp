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
#include <tuple>

#include "ip6_text.h"
#include "neighbour_events.h"
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

IpAddress V6(const char* text, std::uint32_t scope = 0) {
  return IpAddress::Inet6(ParseIp6(text)->bytes, scope);
}

// The v6 ones recorded in a namespace: nv0 (index 3) holds 2001:db8::a/64,
// reaches 2001:db8:1::/64 through 2001:db8::1 and 2001:db8:2::/64 through
// fe80::1; the router 2001:db8::1 is reachable, fe80::2 stale.
TEST(Netlink, RoutesLinksAndInet6Neighbours) {
  const struct {
    const char* file;
    std::uint32_t seq, port;
    std::optional<Reason> refusal;  // none: nothing read
    IpAddress gateway = {};
  } cases[] = {
      {"route-onlink", 1, kPort, Reason::kNone},
      {"route-gateway", 2, kPort, Reason::kOffLink, kHostA},
      {"route-broadcast", 4, kPort, Reason::kNotUnicast},
      {"route-local-fibmatch", 3, kPort, Reason::kNoRoute},  // RTN_LOCAL
      {"route-onlink", 2, kPort, std::nullopt},      // another request's
      {"route-onlink", 1, kPort + 1, std::nullopt},  // another socket's
      {"neigh-missing", 6, kPort, std::nullopt},     // an error
      {"huge-length", 6, kPort, std::nullopt},
      {"route6-onlink", 11, kPort, Reason::kNone},
      {"route6-gateway", 12, kPort, Reason::kOffLink, V6("2001:db8::1")},
      {"route6-linklocal-gateway", 13, kPort, Reason::kOffLink,
       V6("fe80::1", 3)},
      {"route6-linklocal", 14, kPort, Reason::kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto route = ParseRouteReply(Recorded(c.file), c.seq, c.port);
    ASSERT_EQ(route.has_value(), c.refusal.has_value());
    if (!route) continue;
    EXPECT_EQ(route->oif, 3u);  // every one recorded on index 3
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

  const auto router = ParseNeighbourReply(Recorded("neigh6-router"), 15, kPort);
  ASSERT_TRUE(router);
  EXPECT_TRUE(router->router);
  EXPECT_EQ(router->address, (LinkAddress{0x00, 0x0C, 0x29, 0x0A, 0x0B, 0xFE}));
  EXPECT_EQ(Judge(*router, V6("2001:db8::1"), 3), Verdict::kResolved);
  const auto local =
      ParseNeighbourReply(Recorded("neigh6-linklocal"), 16, kPort);
  ASSERT_TRUE(local);
  EXPECT_FALSE(local->router);
  // A link-local entry is its link's: the same address elsewhere is another.
  EXPECT_EQ(Judge(*local, V6("fe80::2", 3), 3), Verdict::kResolved);
  EXPECT_EQ(Judge(*local, V6("fe80::2", 2), 3), Verdict::kPending);
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

// Dumps recorded in a namespace: lo; nv0p, down, 192.0.2.129/25; nv0, up,
// 198.51.100.1/24 and 203.0.113.1/26; nv1p, down; nv1, up but NOARP,
// 192.0.2.1/24.
TEST(Netlink, InterfacesFromDumps) {
  const auto link_dump = Recorded("dump-link");
  const auto address_dump = Recorded("dump-address");
  std::vector<Link> links;
  std::vector<InterfaceAddress> addresses;
  ASSERT_EQ(ParseLinkDump(link_dump, 8, kPort, links), DumpPart::kDone);
  ASSERT_EQ(ParseAddressDump(address_dump, 9, kPort, addresses),
            DumpPart::kDone);
  std::vector<std::tuple<std::string, bool, std::vector<std::uint32_t>>> got;
  for (const LocalInterface& interface : Interfaces(links, addresses)) {
    std::vector<std::uint32_t> networks;
    for (const auto& network : interface.networks) {
      networks.push_back(network.address);
      networks.push_back(network.prefix);
    }
    got.emplace_back(interface.name, interface.scannable, networks);
  }
  EXPECT_EQ(got, (decltype(got){
                     {"lo", false, {0x7F000001, 8}},
                     {"nv0p", false, {0xC0000281, 25}},
                     {"nv0", true, {0xC6336401, 24, 0xCB007101, 26}},
                     {"nv1p", false, {}},
                     {"nv1", false, {0xC0000201, 24}},
                 }));

  // Another request's dump, and one cut short: nothing taken for the whole.
  links.clear();
  EXPECT_EQ(ParseLinkDump(link_dump, 9, kPort, links), DumpPart::kError);
  const std::span<const std::uint8_t> cut(address_dump.data(),
                                          address_dump.size() - 20);
  EXPECT_EQ(ParseAddressDump(cut, 9, kPort, addresses), DumpPart::kMore);
  EXPECT_EQ(ParseAddressDump({}, 9, kPort, addresses), DumpPart::kError);
}

TEST(Netlink, WaitingStaysWellBelowTheThresholds) {
  EXPECT_EQ(WaitingLimit(std::nullopt, std::nullopt), 256u);  // unreadable
  EXPECT_EQ(WaitingLimit(4096, 8192), 256u);
  EXPECT_EQ(WaitingLimit(64, 32), 16u);
  EXPECT_EQ(WaitingLimit(1, 1), 1u);
}

constexpr std::int32_t kEth = 2, kNoArpLink = 3;

// Every 198.51.100.x is on link on kEth unless routes says otherwise (a
// route of type 0: none). The kernel holds each probed address's entry until
// its event, or its resolution time after the probe.
struct FakeKernel : Kernel {
  std::map<IpAddress, Route> routes;
  std::map<IpAddress, Neighbour> cache;
  // The event each probed address brings; none for a silent one.
  std::map<IpAddress, Neighbour> replies;
  std::map<IpAddress, Clock::duration> reply_after;  // else at once
  // When set, a silent address's entry fails this long after its probe.
  std::optional<Clock::duration> fail_after;
  // Probes refused (the table full) for each address before one is taken.
  std::map<IpAddress, int> refusals;
  // From this address's event on, events are lost, as to an overrun buffer.
  std::uint32_t lost = 0;
  std::size_t limit = 256;
  std::chrono::milliseconds resolution_time = 100ms, retrans_time = 40ms;
  std::vector<std::pair<IpAddress, Clock::time_point>> probes;
  std::size_t refused = 0, most_held = 0;
  std::vector<std::pair<Clock::time_point, Neighbour>> pending;  // by time
  std::map<IpAddress, Clock::time_point> held;  // entry, its end
  bool subscribed = false;

  std::optional<Route> GetRoute(const IpAddress& destination,
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
  std::optional<Neighbour> GetNeighbour(const IpAddress& destination,
                                        std::int32_t) override {
    EXPECT_TRUE(subscribed) << "looked at the cache before subscribing";
    if (!cache.contains(destination)) return std::nullopt;
    return cache[destination];
  }
  bool Subscribe() override { return subscribed = true; }
  Probing Probe(const IpAddress& destination, std::int32_t ifindex) override {
    EXPECT_EQ(ifindex, kEth);
    const auto now = Clock::now();
    if (refusals[destination] > 0) {
      --refusals[destination];
      ++refused;
      return Probing::kRefused;
    }
    probes.emplace_back(destination, now);
    std::erase_if(held, [&](const auto& h) { return h.second <= now; });
    held[destination] = now + resolution_time;
    most_held = std::max(most_held, held.size());
    if (replies.contains(destination)) {
      const auto after = reply_after.contains(destination)
                             ? reply_after[destination]
                             : Clock::duration{};
      pending.emplace_back(now + after, replies[destination]);
    } else if (fail_after) {
      pending.emplace_back(now + *fail_after,
                           Neighbour{false, kEth, NUD_FAILED, destination, {}});
    }
    std::ranges::stable_sort(pending, {},
                             [](const auto& p) { return p.first; });
    return Probing::kSent;
  }
  Arrival Wait(Clock::time_point deadline,
               std::vector<Neighbour>& events) override {
    if (pending.empty() || pending.front().first > deadline) {
      std::this_thread::sleep_until(deadline);
      return Arrival::kDeadline;
    }
    std::this_thread::sleep_until(pending.front().first);
    const auto now = Clock::now();
    while (!pending.empty() && pending.front().first <= now) {
      const Neighbour& event = pending.front().second;
      // The cache holds what the events said, the lost ones included.
      cache[*event.destination] = event;
      held.erase(*event.destination);
      events.push_back(event);
      pending.erase(pending.begin());
    }
    return cache.contains(lost) ? Arrival::kLost : Arrival::kEvents;
  }
  std::chrono::milliseconds ResolutionTime(const std::string&) override {
    return resolution_time;
  }
  std::chrono::milliseconds RetransTime(const std::string&) override {
    return retrans_time;
  }
  std::size_t WaitingLimit() override { return limit; }
};

Neighbour Entry(std::uint32_t x, std::uint16_t state,
                LinkAddress address = kMac) {
  return Neighbour{false, kEth, state, Host(x), address};
}

// A reachable IPv6 neighbour.
Neighbour Entry6(const char* text, std::uint32_t scope, bool router) {
  Neighbour entry{false, kEth, NUD_REACHABLE, V6(text, scope), kMac};
  entry.router = router;
  return entry;
}

// A run over kernel: each address's answer, which must come once, the order
// they came in, and how many probes had gone out by each.
struct Outcome {
  std::vector<Resolution> answers;
  std::vector<std::size_t> order, probes_before;
};
Outcome RunAll(FakeKernel& kernel, const std::vector<IpAddress>& addresses,
               const ResolveOptions& options = {}, Prober* prober = nullptr) {
  Outcome run{std::vector<Resolution>(addresses.size()),
              {},
              std::vector<std::size_t>(addresses.size())};
  Resolve(
      kernel, addresses, options,
      [&](std::size_t i, const Resolution& r) {
        EXPECT_EQ(std::ranges::count(run.order, i), 0) << "twice: " << i;
        run.answers[i] = r;
        run.order.push_back(i);
        run.probes_before[i] = kernel.probes.size();
      },
      prober);
  EXPECT_EQ(run.order.size(), addresses.size());
  return run;
}

// The run answers what it can from the address, the route and the link, then
// the cache, before it has the kernel probe; IPv6 addresses likewise, in the
// same run, a router saying so.
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
  kernel.cache[V6("2001:db8::1")] = Entry6("2001:db8::1", 0, true);
  kernel.replies[V6("2001:db8::2")] = Entry6("2001:db8::2", 0, false);
  kernel.replies[V6("fe80::2", kEth)] = Entry6("fe80::2", kEth, true);
  kernel.routes[V6("2001:db8:1::5")] = {RTN_UNICAST, kEth, true,
                                        V6("fe80::1", kEth)};

  const struct {
    IpAddress address;
    Reason reason;  // kNone: resolved, to kMac
    Source source = Source::kUnknown;
    bool probed = false;
    bool router = false;
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
      {V6("::"), Reason::kNotUnicast},
      {V6("::1"), Reason::kNotUnicast},
      {V6("ff02::1"), Reason::kNotUnicast},
      {V6("::ffff:198.51.100.2"), Reason::kNotUnicast},
      {V6("fe80::9"), Reason::kNoRoute},  // no link named
      {V6("2001:db8::1"), Reason::kNone, Source::kReachable, false, true},
      {V6("2001:db8::2"), Reason::kNone, Source::kReachable, true},
      {V6("fe80::2", kEth), Reason::kNone, Source::kReachable, true, true},
      {V6("2001:db8::3"), Reason::kNoReply, Source::kUnknown, true},
      {V6("2001:db8:1::5"), Reason::kOffLink},
  };
  std::vector<IpAddress> addresses;
  for (const auto& c : cases) addresses.push_back(c.address);
  const auto [answers, order, probes_before] = RunAll(kernel, addresses);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i);
    EXPECT_EQ(answers[i].resolved, c.reason == Reason::kNone);
    EXPECT_EQ(answers[i].reason, c.reason);
    EXPECT_EQ(answers[i].source, c.source);
    EXPECT_EQ(answers[i].router, c.router);
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
  EXPECT_EQ(answers[23].gateway, V6("fe80::1", kEth));
  // Host 10's failure event ends its wait at once: it is answered before
  // host 11, asked for earlier and so of an earlier deadline.
  EXPECT_LT(std::ranges::find(order, 10u), std::ranges::find(order, 9u));
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
  std::vector<IpAddress> addresses;
  for (std::uint32_t x = 1; x <= 12; ++x) addresses.push_back(Host(x));
  ResolveOptions options;
  options.rate = 200;
  options.timeout = 20ms;
  for (const Resolution& r : RunAll(kernel, addresses, options).answers)
    EXPECT_EQ(r.reason, Reason::kNoReply);
  ASSERT_EQ(kernel.probes.size(), addresses.size());
  EXPECT_LE(kernel.most_held, 3u);
  // 200 a second: a late probe may be caught up, never more, so any three
  // probes span an interval of 5 ms at least.
  for (std::size_t i = 2; i < kernel.probes.size(); ++i) {
    EXPECT_GE(kernel.probes[i].second - kernel.probes[i - 2].second,
              5ms - 100us);
  }

  // A caller with no use for the rest stops the run: what waits and what is
  // not yet asked for end at once, with no probe more.
  std::atomic<bool> stop{false};
  options.stop = &stop;
  kernel.probes.clear();
  std::size_t done = 0;
  Resolve(kernel, addresses, options, [&](std::size_t, const Resolution& r) {
    if (++done == 1) stop = true;
    EXPECT_EQ(r.reason, done == 1 ? Reason::kNoReply : Reason::kSystem);
  });
  EXPECT_EQ(done, addresses.size());
  EXPECT_LE(kernel.probes.size(), 3u);
}

// However soon a deadline ends the wait, an entry counts until the kernel is
// done with it: its failure event, or else its resolution time.
TEST(Resolver, EntriesCountUntilTheKernelIsDone) {
  for (const bool events : {true, false}) {
    SCOPED_TRACE(events ? "failure events" : "no events");
    FakeKernel kernel;
    kernel.limit = 3;
    if (events) kernel.fail_after = 60ms;
    std::vector<IpAddress> addresses;
    for (std::uint32_t x = 1; x <= 9; ++x) addresses.push_back(Host(x));
    ResolveOptions options;
    options.timeout = 10ms;
    std::vector<std::size_t> told;
    options.table_sets_pace = [&](std::size_t n) { told.push_back(n); };
    const Outcome run = RunAll(kernel, addresses, options);
    for (const Resolution& r : run.answers)
      EXPECT_EQ(r.reason, Reason::kNoReply);
    EXPECT_EQ(kernel.probes.size(), addresses.size());
    EXPECT_LE(kernel.most_held, 3u);
    // The first answer is given at its deadline, before its entry makes room.
    EXPECT_EQ(run.probes_before[0], 3u);
    EXPECT_EQ(told, std::vector<std::size_t>{3});
  }
}

// A probe the kernel refuses is tried again until its deadline, and only one
// never taken ends for want of room, not as silent.
TEST(Resolver, RefusedProbesAreTriedAgain) {
  FakeKernel kernel;
  kernel.refusals[Host(2)] = 2;
  kernel.replies[Host(2)] = Entry(2, NUD_REACHABLE);
  kernel.refusals[Host(3)] = 1'000'000;
  kernel.replies[Host(4)] = Entry(4, NUD_REACHABLE);
  ResolveOptions options;
  options.timeout = 20ms;
  const auto answers =
      RunAll(kernel, {Host(2), Host(3), Host(4)}, options).answers;
  EXPECT_TRUE(answers[0].resolved);
  EXPECT_EQ(answers[1].reason, Reason::kTableFull);
  EXPECT_TRUE(answers[2].resolved);
  EXPECT_EQ(kernel.probes.size(), 2u);  // the ones taken
  // Host 3 was tried for twice the resolution time, 50 ms apart at most.
  EXPECT_GE(kernel.refused, 2u + 4u);
}

// A scan's deadline covers the kernel's second probe and 250 ms; a single
// address has the kernel's whole resolution time and a margin; a timeout
// sets either.
TEST(Resolver, DeadlinesOfScansAndSingleAddresses) {
  const struct {
    std::vector<IpAddress> addresses;
    std::chrono::milliseconds timeout;
    bool resolved;
  } cases[] = {
      {{Host(2), Host(3)}, 0ms, true},   // within the second probe's margin
      {{Host(4), Host(3)}, 0ms, false},  // beyond the second probe's margin
      {{Host(4)}, 0ms, true},            // within the resolution time's
      {{Host(4), Host(3)}, 1s, true},   {{Host(2)}, 60ms, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    FakeKernel kernel;
    kernel.resolution_time = 300ms;
    kernel.replies[Host(2)] = Entry(2, NUD_REACHABLE);
    // The second probe at 200 ms: a scan waits until 450 ms, 250 ms
    // without it.
    kernel.retrans_time = 200ms;
    kernel.reply_after[Host(2)] = 300ms;
    kernel.replies[Host(4)] = Entry(4, NUD_REACHABLE);
    kernel.reply_after[Host(4)] = 500ms;
    ResolveOptions options;
    options.timeout = c.timeout;
    EXPECT_EQ(RunAll(kernel, c.addresses, options).answers[0].resolved,
              c.resolved);
  }
}

// For a watch, an address answered from a stale entry is probed as well,
// after the addresses that need a probe and at the same pace, and its answer
// still comes from the cache at once; a reachable entry is not probed.
TEST(Resolver, StaleEntriesConfirmedWhenAsked) {
  for (const bool confirm : {false, true}) {
    SCOPED_TRACE(confirm);
    FakeKernel kernel;
    kernel.cache[Host(2)] = Entry(2, NUD_STALE);
    kernel.cache[Host(3)] = Entry(3, NUD_REACHABLE);
    kernel.replies[Host(4)] = Entry(4, NUD_REACHABLE);
    ResolveOptions options;
    options.confirm_stale = confirm;
    options.rate = 100;
    const Outcome run = RunAll(kernel, {Host(2), Host(3), Host(4)}, options);
    for (const Resolution& r : run.answers) EXPECT_TRUE(r.resolved);
    EXPECT_EQ(run.order, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(run.probes_before[0], 0u);
    ASSERT_EQ(kernel.probes.size(), confirm ? 2u : 1u);
    EXPECT_EQ(kernel.probes[0].first, Host(4));
    if (confirm) {
      EXPECT_EQ(kernel.probes[1].first, Host(2));
      EXPECT_GE(kernel.probes[1].second - kernel.probes[0].second,
                10ms - 100us);
    }
  }
}

// Answers every address asked once the run waits with no deadline: .3 with
// another hardware address than the cache's, the rest silent; refuses .4.
struct FakeProber : Prober {
  Clock::time_point NextAsk() override { return {}; }
  Reason Ask(const IpAddress& address, std::int32_t ifindex) override {
    EXPECT_EQ(ifindex, kEth);
    if (address == Host(4)) return Reason::kBadAnswer;
    asked.push_back(address);
    return Reason::kNone;
  }
  Arrival Wait(Clock::time_point deadline, Answers& answers) override {
    if (deadline != Clock::time_point::max()) {
      std::this_thread::sleep_until(deadline);
      return Arrival::kDeadline;
    }
    for (const IpAddress& address : std::exchange(asked, {})) {
      Resolution answer{.reason = Reason::kNoReply};
      if (address == Host(3)) answer = {.resolved = true, .buffer = kOther};
      answers.emplace_back(address, answer);
      ++ended;
    }
    return Arrival::kEvents;
  }
  static constexpr HardwareBuffer kOther{0x02, 0, 0, 0, 0, 0x03};
  std::vector<IpAddress> asked;
  int ended = 0;
};

// With a prober, what the routes and links leave open is asked of it, never
// of the kernel's cache or probes.
TEST(Resolver, AProberAsksWhatTheRoutesLeaveOpen) {
  FakeKernel kernel;
  kernel.routes[Host(1)] = {RTN_LOCAL, 0, false};
  kernel.routes[Host(2)] = {RTN_UNICAST, kEth, true, Host(9)};
  kernel.cache[Host(3)] = Entry(3, NUD_REACHABLE);
  FakeProber prober;
  const std::vector<IpAddress> addresses = {Host(3), Host(1), Host(2),
                                            Host(4), Host(5), Host(3)};
  const auto answers = RunAll(kernel, addresses, {}, &prober).answers;
  EXPECT_TRUE(kernel.probes.empty());
  // The same address twice is asked once and answers both places.
  EXPECT_EQ(prober.ended, 2);
  EXPECT_EQ(answers[0].buffer, FakeProber::kOther);
  EXPECT_EQ(answers[5].buffer, FakeProber::kOther);
  EXPECT_EQ(answers[1].source, Source::kOwn);
  EXPECT_EQ(answers[2].reason, Reason::kOffLink);
  EXPECT_EQ(answers[2].gateway, Host(9));
  EXPECT_EQ(answers[3].reason, Reason::kBadAnswer);
  EXPECT_EQ(answers[4].reason, Reason::kNoReply);
}

// What a neighbour event tells a watch: a usable entry's hardware address,
// a failure, or nothing.
TEST(Netlink, SightingsOfEvents) {
  const struct {
    Neighbour event;
    std::int32_t ifindex;               // the watch's interface; 0 for any
    std::optional<std::u16string> mac;  // empty: a failure
  } cases[] = {
      {Entry(2, NUD_REACHABLE), 0, u"00-0C-29-0A-0B-FF"},
      {Entry(2, NUD_STALE), kEth, u"00-0C-29-0A-0B-FF"},
      {Entry(2, NUD_PERMANENT, {1, 2}), 0, u"01-02"},
      {Entry(2, NUD_FAILED), 0, u""},
      {Entry(2, NUD_REACHABLE), kEth + 1, std::nullopt},
      {Entry(2, NUD_INCOMPLETE), 0, std::nullopt},
      {Entry(2, NUD_REACHABLE, {0, 0, 0, 0, 1, 2}), 0, std::nullopt},
      {Entry(2, NUD_REACHABLE, LinkAddress(8, 1)), 0, std::nullopt},
      {{true, kEth, NUD_REACHABLE, Host(2), kMac}, 0, std::nullopt},
      {{false, kEth, NUD_REACHABLE, std::nullopt, kMac}, 0, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    const auto sighting = SightingOf(c.event, c.ifindex);
    ASSERT_EQ(sighting.has_value(), c.mac.has_value());
    if (!sighting) continue;
    EXPECT_EQ(sighting->address, Host(2));
    EXPECT_EQ(sighting->failed, c.mac->empty());
    EXPECT_EQ(sighting->mac, *c.mac);
  }
}

}  // namespace
}  // namespace norvane::netlink
