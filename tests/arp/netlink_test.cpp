// The reading of the kernel's rtnetlink answers, without root: replies and
// events recorded from a real kernel (the fuzzer's seed corpus), some with
// a field changed to stand for another state.
#include <gtest/gtest.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <cstring>

#include "netlink.h"
#include "read_file.h"

namespace norvane::netlink {
namespace {

constexpr std::uint32_t kPort = 0x4906;       // the recording socket's port id
constexpr std::uint32_t kHostA = 0x026433C6;  // 198.51.100.2

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
  EXPECT_EQ(RefuseRoute({RTN_UNREACHABLE, 2, false}), Reason::kNoRoute);

  const auto link = ParseLinkReply(Recorded("link"), 5, kPort);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->address, (LinkAddress{2, 0, 0, 0, 0, 1}));
  EXPECT_EQ(RefuseLink(*link), Reason::kNone);
  const struct {
    std::uint32_t flags;
    LinkAddress address;
    Reason refusal;
  } links[] = {
      {IFF_NOARP, {2, 0, 0, 0, 0, 1}, Reason::kNoArp},
      {IFF_LOOPBACK, {2, 0, 0, 0, 0, 1}, Reason::kNoArp},
      {IFF_POINTOPOINT, {2, 0, 0, 0, 0, 1}, Reason::kNoArp},
      {0, {}, Reason::kBadAnswer},
      {0, LinkAddress(20, 0xAB), Reason::kBadAnswer},  // would not fit
  };
  for (const auto& c : links) {
    EXPECT_EQ(RefuseLink({1, c.flags, "x", c.address}), c.refusal);
  }
}

// The recorded reply for host A in each state, as a reply and as an event.
TEST(Netlink, NeighbourInEachState) {
  std::vector<std::uint8_t> reply = Recorded("neigh-reachable");
  constexpr std::size_t kState = 16 + offsetof(ndmsg, ndm_state);
  constexpr std::size_t kType = offsetof(nlmsghdr, nlmsg_type);
  std::int32_t ifindex = 0;
  std::memcpy(&ifindex, &reply[16 + offsetof(ndmsg, ndm_ifindex)], 4);
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    std::memcpy(&reply[kState], &c.state, 2);
    const auto entry = ParseNeighbourReply(reply, 7, kPort);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->address,
              (LinkAddress{0x00, 0x0C, 0x29, 0x0A, 0x0B, 0xFF}));
    EXPECT_EQ(Judge(*entry, kHostA, ifindex), c.verdict);
    EXPECT_EQ(SourceOf(c.state), c.source);
    EXPECT_EQ(Judge(*entry, kHostA + 1, ifindex), Verdict::kPending);
    EXPECT_EQ(Judge(*entry, kHostA, ifindex + 1), Verdict::kPending);
    // The same as an event, and as the removal of the entry.
    EXPECT_EQ(Judge(ParseNeighbourEvents(reply).at(0), kHostA, ifindex),
              c.verdict);
    reply[kType] = RTM_DELNEIGH;
    EXPECT_EQ(Judge(ParseNeighbourEvents(reply).at(0), kHostA, ifindex),
              Verdict::kPending);
    reply[kType] = RTM_NEWNEIGH;
  }

  // A usable entry without an address, or with one longer than the answer.
  Neighbour entry{false, ifindex, NUD_REACHABLE, kHostA, {}};
  EXPECT_EQ(Judge(entry, kHostA, ifindex), Verdict::kUnusable);
  entry.address.assign(8, 0x02);
  EXPECT_EQ(Judge(entry, kHostA, ifindex), Verdict::kUnusable);
}

TEST(Netlink, WaitingStaysWellBelowTheThresholds) {
  EXPECT_EQ(WaitingLimit(std::nullopt, std::nullopt), 256u);  // unreadable
  EXPECT_EQ(WaitingLimit(4096, 8192), 256u);
  EXPECT_EQ(WaitingLimit(64, 32), 16u);
  EXPECT_EQ(WaitingLimit(1, 1), 1u);
}

}  // namespace
}  // namespace norvane::netlink
