// The run's own ARP without a packet socket: requests and replies as bytes
// on the wire, the kernel's verdict on the socket filter (over a socket
// pair, no root needed), and the ledger over given times.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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
  // Padded with zeros to the shortest frame.
  EXPECT_TRUE(std::all_of(request.begin() + 42, request.end(),
                          [](std::uint8_t b) { return b == 0; }));
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

}  // namespace
}  // namespace norvane::packet
