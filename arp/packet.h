// The run's own ARP, for scans where the process holds CAP_NET_RAW: requests
// paced on a packet socket, replies read through a socket filter, no
// neighbour entry made. The frames, the filter and the ledger of asked
// addresses work on plain bytes and given times, so that they can be tried
// without a socket.
#pragma once

#include <linux/filter.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "mac.h"
#include "resolver.h"

namespace norvane::packet {

// A request as it is sent: Ethernet header, ARP for IPv4, zero padding up to
// the shortest Ethernet frame.
inline constexpr std::size_t kRequestSize = 60;
using Request = std::array<std::uint8_t, kRequestSize>;

// A broadcast request from own (hardware) and source for target; addresses
// in network byte order.
Request BuildRequest(const HardwareBuffer& own, std::uint32_t source,
                     std::uint32_t target);

// An ARP reply as read off the wire.
struct Reply {
  std::uint32_t sender = 0;       // the address it answers for
  HardwareBuffer hardware{};      // the hardware address it gives
  HardwareBuffer frame_source{};  // the Ethernet source of the frame
};

// The reply a frame holds when it is an Ethernet ARP reply for IPv4 to
// source (network byte order) that gives a usable hardware address;
// nothing for any other frame (requests, replies to another address,
// gratuitous announcements, short or foreign frames).
std::optional<Reply> ParseReply(std::span<const std::uint8_t> frame,
                                std::uint32_t source);

// The socket filter letting through only the frames ParseReply may take:
// ARP replies for IPv4 over Ethernet to source.
std::vector<sock_filter> ReplyFilter(std::uint32_t source);

// The most other hardware addresses kept for one address: a flood of
// forged replies costs no more.
inline constexpr std::size_t kMostConflicts = 8;

// Addresses being asked: when each is asked again and when it ends, frames
// paced at one per interval, and the replies heard for each. Each address
// is asked up to attempts times, each time waiting for wait, a second time
// only when nothing answered; an answered one still listens to the end of
// its wait, so that a second answerer is heard too. Times given are never
// earlier than the ones before.
class Ledger {
 public:
  using Time = std::chrono::steady_clock::time_point;
  struct Asking {
    std::uint32_t address = 0;
    std::int32_t ifindex = 0;
    std::uint32_t source = 0;
  };

  Ledger(std::chrono::nanoseconds interval, unsigned attempts,
         std::chrono::nanoseconds wait, std::size_t capacity);

  // When a new address may be asked: max while capacity addresses are
  // being asked, later while asked ones wait to be asked again.
  Time NextAsk() const;
  // The first frame for asking went out at now.
  void Asked(const Asking& asking, Time now);
  // The address to ask again now, if one is due and the pace lets a frame
  // go; taken as sent.
  std::optional<Asking> Repeat(Time now);
  // A reply heard on interface ifindex, to source.
  void Hear(const Reply& reply, std::int32_t ifindex, std::uint32_t source);
  // Ends the addresses whose last wait is over by now, into answers.
  void Expire(Time now, Prober::Answers& answers);
  // When Repeat or Expire next has something to do; max for never.
  Time NextEvent() const;
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    Asking asking;
    unsigned sent = 0;
    bool answered = false;
    Resolution answer;
  };
  struct Timer {
    Time due;
    std::uint32_t address;
  };
  void Sent(Time now);

  const std::chrono::nanoseconds interval_;
  const unsigned attempts_;
  const std::chrono::nanoseconds wait_;
  const std::size_t capacity_;
  Time next_send_{};
  std::unordered_map<std::uint32_t, Entry> entries_;
  std::deque<Timer> timers_;           // in order of due
  std::deque<std::uint32_t> repeats_;  // waiting to be asked again
};

// Whether the process may send frames of its own: CAP_NET_RAW in its
// effective set.
bool MaySendFrames();

// The prober that asks with frames of its own, paced at options.rate,
// options.attempts times, waiting options.timeout (or half a second) after
// each frame.
std::unique_ptr<Prober> MakePacketProber(const ResolveOptions& options);

}  // namespace norvane::packet
