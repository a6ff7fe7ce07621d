// The run's own ARP without a packet socket: requests and replies as bytes
// on the wire, the kernel's verdict on the socket filter (over a socket
// pair, no root needed), the ledger over given times, and the resolver run
// with a fake prober.
#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <thread>
#include <vector>

#include "packet.h"

namespace norvane::packet {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kOwn = 0x0100A8C0;       // 192.168.0.1 as sent
constexpr std::uint32_t kPeer = 0x0700A8C0;      // 192.168.0.7
constexpr std::uint32_t kStranger = 0x0900A8C0;  // 192.168.0.9
constexpr HardwareBuffer kOwnMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr HardwareBuffer kPeerMac{0x00, 0x0C, 0x29, 0x0A, 0x0B, 0x07};
constexpr HardwareBuffer kOtherMac{0x00, 0x0C, 0x29, 0x0A, 0x0B, 0x08};

// 192.168.0.7 is at 00:0c:29:0a:0b:07, to 192.168.0.1 at 02:00:00:00:00:01,
// as a host sends it.
const Bytes kReply = {
    0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0c, 0x29, 0x0a, 0x0b,
    0x07, 0x08, 0x06, 0x00, 0x01, 0x08, 0x00, 0x06, 0x04, 0x00, 0x02,  // reply
    0x00, 0x0c, 0x29, 0x0a, 0x0b, 0x07, 192,  168,  0,    7,           // sender
    0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 192,  168,  0,    1,           // target
};

Bytes With(Bytes frame, std::size_t at, const Bytes& bytes) {
  std::copy(bytes.begin(), bytes.end(), frame.begin() + at);
  return frame;
}

TEST(Packet, RequestOnTheWire) {
  const Request request = BuildRequest(kOwnMac, kOwn, kPeer);
  const Bytes expected = {
      0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01,
      0x08, 0x06, 0x00, 0x01, 0x08, 0x00, 0x06, 0x04, 0x00, 0x01,  // request
      0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 192,  168,  0,    1,    0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 192,  168,  0,    7,
  };
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), request.begin()));
  // Padded with zeros to the shortest frame; and a host's answer to it is
  // the reply this machine takes.
  EXPECT_TRUE(std::all_of(request.begin() + 42, request.end(),
                          [](std::uint8_t b) { return b == 0; }));
  EXPECT_TRUE(ParseReply(kReply, kOwn));
}

// Each recorded frame through the parser and through the kernel's run of the
// socket filter: the filter lets through every frame the parser takes.
TEST(Packet, RepliesTakenAndRefused) {
  const struct {
    const char* what;
    Bytes frame;
    bool filtered;  // let through by the filter
    bool taken;
  } cases[] = {
      {"a reply", kReply, true, true},
      {"a reply padded to 60 bytes", With(Bytes(60), 0, kReply), true, true},
      {"a reply to someone else", With(kReply, 38, {192, 168, 0, 2}), false,
       false},
      {"a request", With(kReply, 20, {0, 1}), false, false},
      {"a gratuitous reply",
       With(With(kReply, 0, Bytes(6, 0xff)), 38, {192, 168, 0, 7}), false,
       false},
      {"a reply about this machine's address",
       With(kReply, 28, {192, 168, 0, 1}), true, false},
      {"a gratuitous request",
       With(With(kReply, 20, {0, 1}), 38, {192, 168, 0, 7}), false, false},
      {"truncated", Bytes(kReply.begin(), kReply.end() - 1), false, false},
      {"not ARP", With(kReply, 12, {0x08, 0x00}), false, false},
      {"IPv6 in ARP", With(kReply, 16, {0x86, 0xdd}), false, false},
      {"8-byte addresses", With(kReply, 18, {8}), false, false},
      {"a multicast sender", With(kReply, 22, {0x01}), true, false},
      {"an all-zero sender", With(kReply, 22, Bytes(6)), true, false},
      {"an Ethernet source apart", With(kReply, 6, {0x02, 0, 0, 0, 0, 0x66}),
       true, true},
      {"empty", {}, false, false},
  };
  Bytes marker = kReply;
  marker.push_back(0);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
  std::vector<sock_filter> code = ReplyFilter(kOwn);
  const sock_fprog program{static_cast<unsigned short>(code.size()),
                           code.data()};
  ASSERT_EQ(setsockopt(pair[1], SOL_SOCKET, SO_ATTACH_FILTER, &program,
                       sizeof(program)),
            0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto reply = ParseReply(c.frame, kOwn);
    ASSERT_EQ(reply.has_value(), c.taken);
    if (reply) {
      EXPECT_EQ(reply->sender, kPeer);
      EXPECT_EQ(reply->hardware, kPeerMac);
      EXPECT_EQ(reply->frame_source[5], c.frame[11]);
    }
    // A frame the filter drops never arrives; a marker of a length of its
    // own after it does.
    ASSERT_EQ(send(pair[0], c.frame.data(), c.frame.size(), 0),
              static_cast<ssize_t>(c.frame.size()));
    ASSERT_EQ(send(pair[0], marker.data(), marker.size(), 0), 43);
    std::uint8_t received[128];
    EXPECT_EQ(recv(pair[1], received, sizeof(received), 0),
              c.filtered ? static_cast<ssize_t>(c.frame.size()) : 43);
    if (c.filtered) recv(pair[1], received, sizeof(received), 0);
  }
  close(pair[0]);
  close(pair[1]);
}

using Time = Ledger::Time;
constexpr Time kStart{1s};

Reply From(std::uint32_t sender, const HardwareBuffer& hardware) {
  return {sender, hardware, hardware};
}

// Two attempts 100 ms apart at most one frame each 10 ms: the silent address
// is asked twice and ends after its second wait, the answered one once; a
// second answerer is a conflict, the same one twice is not, and replies on
// another interface or to another address count for nothing.
TEST(Packet, LedgerAsksAgainOnlyTheSilent) {
  Ledger ledger(10ms, 2, 100ms, 100);
  Prober::Answers answers;
  ledger.Asked({kPeer, 3, kOwn}, kStart);
  EXPECT_EQ(ledger.NextAsk(), kStart);  // one frame of catching up
  ledger.Asked({kStranger, 3, kOwn}, kStart + 10ms);
  ledger.Hear(From(kPeer, kPeerMac), 4, kOwn);
  ledger.Hear(From(kPeer, kPeerMac), 3, kStranger);
  ledger.Hear(From(kPeer, kPeerMac), 3, kOwn);
  ledger.Hear(From(kPeer, kPeerMac), 3, kOwn);
  ledger.Hear(From(kPeer, kOtherMac), 3, kOwn);
  EXPECT_EQ(ledger.NextEvent(), kStart + 100ms);
  ledger.Expire(kStart + 99ms, answers);
  EXPECT_TRUE(answers.empty());
  ledger.Expire(kStart + 100ms, answers);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].first, kPeer);
  const Resolution& answer = answers[0].second;
  EXPECT_TRUE(answer.resolved);
  EXPECT_EQ(answer.source, Source::kReply);
  EXPECT_EQ(answer.buffer, kPeerMac);
  EXPECT_EQ(answer.conflicts, std::vector<HardwareBuffer>{kOtherMac});
  EXPECT_FALSE(answer.foreign_frame);
  EXPECT_FALSE(ledger.Repeat(kStart + 100ms));

  // The silent one is due again at 110 ms.
  ledger.Expire(kStart + 110ms, answers);
  const auto again = ledger.Repeat(kStart + 110ms);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->address, kStranger);
  EXPECT_EQ(again->ifindex, 3);
  EXPECT_FALSE(ledger.Repeat(kStart + 110ms));
  ledger.Expire(kStart + 209ms, answers);
  EXPECT_EQ(answers.size(), 1u);
  ledger.Expire(kStart + 210ms, answers);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[1].first, kStranger);
  EXPECT_EQ(answers[1].second.reason, Reason::kNoReply);
  EXPECT_EQ(ledger.size(), 0u);
  EXPECT_EQ(ledger.NextEvent(), Time::max());
}

TEST(Packet, LedgerPaceRoomAndLateAnswers) {
  Ledger ledger(50ms, 3, 10ms, 2);
  Prober::Answers answers;
  ledger.Asked({kPeer, 3, kOwn}, kStart);
  ledger.Asked({kStranger, 3, kOwn}, kStart);
  ledger.Asked({kStranger, 3, kOwn}, kStart);  // asked already
  EXPECT_EQ(ledger.size(), 2u);
  EXPECT_EQ(ledger.NextAsk(), Time::max());  // full at two
  // Both silent: asked again when the pace lets a frame go, at 50 ms.
  ledger.Expire(kStart + 10ms, answers);
  EXPECT_FALSE(ledger.Repeat(kStart + 10ms));
  EXPECT_EQ(ledger.NextEvent(), kStart + 50ms);
  // The first answers before its turn, from a frame of another station,
  // with a flood of other answerers behind it: it ends with no frame more,
  // the flood kept to its bound.
  ledger.Hear({kPeer, kPeerMac, kOtherMac}, 3, kOwn);
  for (std::uint8_t i = 0; i < 20; ++i) {
    ledger.Hear(From(kPeer, {0x02, 0, 0, 0, 0, i}), 3, kOwn);
  }
  const auto again = ledger.Repeat(kStart + 50ms);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->address, kStranger);
  ledger.Expire(kStart + 50ms, answers);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_TRUE(answers[0].second.foreign_frame);
  EXPECT_EQ(answers[0].second.frame_source, kOtherMac);
  EXPECT_EQ(answers[0].second.conflicts.size(), kMostConflicts);
  EXPECT_EQ(ledger.NextAsk(), kStart + 100ms);  // room again, at the pace
}

// A kernel that routes 198.51.100.1 to this machine, .2 behind a gateway
// and every other address to interface 2, and has a cache it must not be
// asked for.
class RoutesOnly : public Kernel {
 public:
  std::optional<netlink::Route> GetRoute(const IpAddress& to,
                                         unsigned) override {
    if (to == Host(1)) return netlink::Route{RTN_LOCAL, 2, false, 0};
    if (to == Host(2)) return netlink::Route{RTN_UNICAST, 2, true, Host(9)};
    return netlink::Route{RTN_UNICAST, 2, false, 0};
  }
  std::optional<netlink::Link> GetLink(std::uint32_t index) override {
    return netlink::Link{
        static_cast<std::int32_t>(index), IFF_UP, "eth", {2, 0, 0, 0, 0, 1}};
  }
  std::optional<netlink::Neighbour> GetNeighbour(const IpAddress&,
                                                 std::int32_t) override {
    ADD_FAILURE() << "the cache answered";
    return std::nullopt;
  }
  bool Subscribe() override { return true; }
  Probing Probe(const IpAddress&, std::int32_t) override {
    ADD_FAILURE() << "the kernel was asked";
    return Probing::kFailed;
  }
  Arrival Wait(Time, std::vector<netlink::Neighbour>&) override {
    ADD_FAILURE() << "the kernel's events were waited for";
    return Arrival::kError;
  }
  std::chrono::milliseconds ResolutionTime(const std::string&) override {
    return 1s;
  }
  std::chrono::milliseconds RetransTime(const std::string&) override {
    return 1s;
  }
  std::size_t WaitingLimit() override { return 1; }
  static std::uint32_t Host(std::uint8_t x) {
    return 0x006433C6u | std::uint32_t{x} << 24;
  }
};

// Answers each address asked at the next wait: .3 with a hardware address,
// .4 refused before it is asked, the rest silent.
// Answers once everything is asked.
class FakeProber : public Prober {
 public:
  Time NextAsk() override { return {}; }
  Reason Ask(const IpAddress& address, std::int32_t ifindex) override {
    EXPECT_EQ(ifindex, 2);
    if (address == RoutesOnly::Host(4)) return Reason::kBadAnswer;
    asked.push_back(address);
    return Reason::kNone;
  }
  Arrival Wait(Time deadline, Answers& answers) override {
    if (deadline != Time::max()) {
      std::this_thread::sleep_until(deadline);
      return Arrival::kDeadline;
    }
    for (const IpAddress& address : std::exchange(asked, {})) {
      Resolution answer;
      answer.reason = Reason::kNoReply;
      if (address == RoutesOnly::Host(3)) {
        answer = {.resolved = true, .buffer = kPeerMac, .length = 6};
      }
      answers.emplace_back(address, answer);
      ++ended;
    }
    return Arrival::kEvents;
  }
  std::vector<IpAddress> asked;
  int ended = 0;
};

TEST(Packet, ResolverAsksTheProberWhatTheRoutesLeaveOpen) {
  RoutesOnly kernel;
  FakeProber prober;
  const std::vector<IpAddress> addresses = {
      RoutesOnly::Host(3), RoutesOnly::Host(1), RoutesOnly::Host(2),
      RoutesOnly::Host(4), RoutesOnly::Host(5), RoutesOnly::Host(3)};
  std::map<std::size_t, Resolution> answers;
  Resolve(
      kernel, addresses, {},
      [&](std::size_t i, const Resolution& r) {
        EXPECT_TRUE(answers.emplace(i, r).second) << "answered twice: " << i;
      },
      &prober);
  ASSERT_EQ(answers.size(), addresses.size());
  // The same address twice is asked once and answers both places.
  EXPECT_EQ(prober.ended, 2);
  EXPECT_EQ(answers[0].buffer, kPeerMac);
  EXPECT_EQ(answers[5].buffer, kPeerMac);
  EXPECT_EQ(answers[1].source, Source::kOwn);
  EXPECT_EQ(answers[2].reason, Reason::kOffLink);
  EXPECT_EQ(answers[2].gateway, RoutesOnly::Host(9));
  EXPECT_EQ(answers[3].reason, Reason::kBadAnswer);
  EXPECT_EQ(answers[4].reason, Reason::kNoReply);
}

}  // namespace
}  // namespace norvane::packet
