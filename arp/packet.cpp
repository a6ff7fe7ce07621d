// The run's own ARP on packet sockets: one socket per interface and source
// address, bound to ARP and filtered in the kernel down to the replies to
// that address, so a busy network costs the run nothing it does not need.
#include "packet.h"

#include <arpa/inet.h>
#include <linux/capability.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace norvane::packet {
namespace {

using namespace std::chrono_literals;

// Offsets in an Ethernet frame carrying ARP.
constexpr std::size_t kEtherType = 12;
constexpr std::size_t kArp = 14;      // hardware and protocol types
constexpr std::size_t kLengths = 18;  // their address lengths
constexpr std::size_t kOperation = 20;
constexpr std::size_t kSenderHardware = 22;
constexpr std::size_t kSenderAddress = 28;
constexpr std::size_t kTargetAddress = 38;
constexpr std::size_t kArpEnd = 42;

constexpr std::uint32_t kEthernetIpv4 = 0x00010800;  // ARPHRD_ETHER, IPv4
constexpr std::uint16_t kSixAndFour = 0x0604;

std::uint16_t Read16(std::span<const std::uint8_t> frame, std::size_t at) {
  return static_cast<std::uint16_t>(frame[at] << 8 | frame[at + 1]);
}

void Put16(Request& frame, std::size_t at, std::uint16_t value) {
  frame[at] = static_cast<std::uint8_t>(value >> 8);
  frame[at + 1] = static_cast<std::uint8_t>(value);
}

HardwareBuffer ReadHardware(std::span<const std::uint8_t> frame,
                            std::size_t at) {
  HardwareBuffer hardware;
  std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(at), 6,
              hardware.begin());
  return hardware;
}

}  // namespace

Request BuildRequest(const HardwareBuffer& own, std::uint32_t source,
                     std::uint32_t target) {
  Request frame{};
  std::fill_n(frame.begin(), 6, 0xFF);  // to everyone
  std::copy(own.begin(), own.end(), frame.begin() + 6);
  Put16(frame, kEtherType, ETH_P_ARP);
  Put16(frame, kArp, ARPHRD_ETHER);
  Put16(frame, kArp + 2, ETH_P_IP);
  Put16(frame, kLengths, kSixAndFour);
  Put16(frame, kOperation, ARPOP_REQUEST);
  std::copy(own.begin(), own.end(), frame.begin() + kSenderHardware);
  std::memcpy(frame.data() + kSenderAddress, &source, 4);
  // The target's hardware address is what is asked: zero.
  std::memcpy(frame.data() + kTargetAddress, &target, 4);
  return frame;
}

std::optional<Reply> ParseReply(std::span<const std::uint8_t> frame,
                                std::uint32_t source) {
  if (frame.size() < kArpEnd || Read16(frame, kEtherType) != ETH_P_ARP ||
      (std::uint32_t{Read16(frame, kArp)} << 16 | Read16(frame, kArp + 2)) !=
          kEthernetIpv4 ||
      Read16(frame, kLengths) != kSixAndFour ||
      Read16(frame, kOperation) != ARPOP_REPLY) {
    return std::nullopt;
  }
  std::uint32_t target = 0;
  Reply reply;
  std::memcpy(&target, frame.data() + kTargetAddress, 4);
  std::memcpy(&reply.sender, frame.data() + kSenderAddress, 4);
  // A gratuitous reply about this machine's own address answers no
  // question of the run's.
  if (target != source || reply.sender == source) return std::nullopt;
  reply.hardware = ReadHardware(frame, kSenderHardware);
  reply.frame_source = ReadHardware(frame, 6);
  // No station has an all-zero, broadcast or multicast address.
  if ((reply.hardware[0] & 1) ||
      std::all_of(reply.hardware.begin(), reply.hardware.end(),
                  [](std::uint8_t byte) { return byte == 0; })) {
    return std::nullopt;
  }
  return reply;
}

std::vector<sock_filter> ReplyFilter(std::uint32_t source) {
  const auto load = [](std::uint16_t size, std::uint32_t at) {
    return sock_filter{static_cast<std::uint16_t>(BPF_LD | size | BPF_ABS), 0,
                       0, at};
  };
  // Each test jumps to the rejection at the end when it fails: skip is
  // the number of instructions between it and the rejection.
  const auto expect = [](std::uint32_t value, std::uint8_t skip) {
    return sock_filter{BPF_JMP | BPF_JEQ | BPF_K, 0, skip, value};
  };
  return {
      load(BPF_H, kEtherType),
      expect(ETH_P_ARP, 9),
      load(BPF_W, kArp),
      expect(kEthernetIpv4, 7),
      load(BPF_H, kLengths),
      expect(kSixAndFour, 5),
      load(BPF_H, kOperation),
      expect(ARPOP_REPLY, 3),
      load(BPF_W, kTargetAddress),
      expect(ntohl(source), 1),
      {BPF_RET | BPF_K, 0, 0, 0xFFFF},  // the whole frame
      {BPF_RET | BPF_K, 0, 0, 0},
  };
}

Ledger::Ledger(std::chrono::nanoseconds interval, unsigned attempts,
               std::chrono::nanoseconds wait, std::size_t capacity)
    : interval_(interval),
      attempts_(std::max(attempts, 1u)),
      wait_(wait),
      capacity_(std::max<std::size_t>(capacity, 1)) {}

Ledger::Time Ledger::NextAsk() const {
  if (entries_.size() >= capacity_) return Time::max();
  // Addresses asked again come first, one interval each.
  return next_send_ + interval_ * static_cast<long>(repeats_.size());
}

void Ledger::Sent(Time now) {
  next_send_ = std::max(next_send_, now - interval_) + interval_;
}

void Ledger::Asked(const Asking& asking, Time now) {
  const auto [found, added] = entries_.try_emplace(asking.address);
  if (!added) return;
  found->second.asking = asking;
  found->second.sent = 1;
  timers_.push_back({now + wait_, asking.address});
  Sent(now);
}

std::optional<Ledger::Asking> Ledger::Repeat(Time now) {
  while (!repeats_.empty() && next_send_ <= now) {
    const auto found = entries_.find(repeats_.front());
    repeats_.pop_front();
    if (found == entries_.end()) continue;
    Entry& entry = found->second;
    // Answered while it waited for its turn: it ends without a frame.
    timers_.push_back(
        {entry.answered ? now : now + wait_, entry.asking.address});
    if (entry.answered) continue;
    ++entry.sent;
    Sent(now);
    return entry.asking;
  }
  return std::nullopt;
}

void Ledger::Hear(const Reply& reply, std::int32_t ifindex,
                  std::uint32_t source) {
  const auto found = entries_.find(reply.sender);
  if (found == entries_.end() || found->second.asking.ifindex != ifindex ||
      found->second.asking.source != source) {
    return;
  }
  Resolution& answer = found->second.answer;
  if (!found->second.answered) {
    found->second.answered = true;
    answer.resolved = true;
    answer.source = Source::kReply;
    answer.buffer = reply.hardware;
    answer.length = static_cast<std::uint32_t>(reply.hardware.size());
    answer.foreign_frame = reply.frame_source != reply.hardware;
    answer.frame_source = reply.frame_source;
    return;
  }
  if (reply.hardware != answer.buffer &&
      answer.conflicts.size() < kMostConflicts &&
      std::find(answer.conflicts.begin(), answer.conflicts.end(),
                reply.hardware) == answer.conflicts.end()) {
    answer.conflicts.push_back(reply.hardware);
  }
}

void Ledger::Expire(Time now, Prober::Answers& answers) {
  while (!timers_.empty() && timers_.front().due <= now) {
    const std::uint32_t address = timers_.front().address;
    timers_.pop_front();
    const auto found = entries_.find(address);
    if (found == entries_.end()) continue;
    Entry& entry = found->second;
    if (!entry.answered && entry.sent < attempts_) {
      repeats_.push_back(address);
      continue;
    }
    if (!entry.answered) entry.answer.reason = Reason::kNoReply;
    answers.emplace_back(address, std::move(entry.answer));
    entries_.erase(found);
  }
}

Ledger::Time Ledger::NextEvent() const {
  Time next = timers_.empty() ? Time::max() : timers_.front().due;
  if (!repeats_.empty()) next = std::min(next, next_send_);
  return next;
}

bool MaySendFrames() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_NET_RAW / 32].effective >> (CAP_NET_RAW % 32)) & 1;
}

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// A packet socket on one interface that hears the replies to one address.
struct Wire {
  std::int32_t ifindex = 0;
  std::uint32_t source = 0;
  Descriptor socket;
  HardwareBuffer own{};
};

// Sockets for whatever may go wrong are opened once and kept; a failure to
// open one costs that interface's addresses (kSystem), not the run.
class PacketProber : public Prober {
 public:
  explicit PacketProber(const ResolveOptions& options)
      : ledger_(std::chrono::nanoseconds(1s) / std::max(options.rate, 1u),
                options.attempts,
                options.timeout > 0ms ? options.timeout
                                      : std::chrono::milliseconds(500),
                kCapacity) {}

  std::chrono::steady_clock::time_point NextAsk() override {
    return ledger_.NextAsk();
  }

  Reason Ask(const IpAddress& target, std::int32_t ifindex) override {
    // ARP asks for IPv4 addresses only; the platform keeps IPv6 ones away.
    if (target.is_inet6()) return Reason::kNotSupported;
    const std::uint32_t address = target.inet();
    const std::optional<std::uint32_t> source = SourceFor(address);
    if (!source) return Reason::kSystem;
    Wire* wire = nullptr;
    if (const Reason refusal = Open(ifindex, *source, wire);
        refusal != Reason::kNone) {
      return refusal;
    }
    const Ledger::Asking asking{address, ifindex, *source};
    if (!Send(*wire, asking)) return Reason::kSystem;
    ledger_.Asked(asking, std::chrono::steady_clock::now());
    return Reason::kNone;
  }

  Arrival Wait(std::chrono::steady_clock::time_point deadline,
               Answers& answers) override {
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      ledger_.Expire(now, answers);
      while (const auto again = ledger_.Repeat(now)) {
        const auto wire =
            std::find_if(wires_.begin(), wires_.end(), [&](const Wire& w) {
              return w.ifindex == again->ifindex && w.source == again->source;
            });
        // A frame that cannot go is a lost one: the wait still ends it.
        if (wire != wires_.end()) Send(*wire, *again);
      }
      if (!answers.empty()) return Arrival::kEvents;
      if (now >= deadline) return Arrival::kDeadline;
      // Nothing asked and nothing to wait for: the run has lost count.
      if (ledger_.size() == 0 &&
          deadline == std::chrono::steady_clock::time_point::max()) {
        return Arrival::kError;
      }
      const auto until = std::min(deadline, ledger_.NextEvent());
      if (!Listen(until)) return Arrival::kError;
    }
  }

 private:
  // Enough for a second's frames at a high rate; the memory of a run.
  static constexpr std::size_t kCapacity = 16384;

  // The address the kernel would send from to reach address: a datagram
  // socket connected there, which sends nothing.
  std::optional<std::uint32_t> SourceFor(std::uint32_t address) {
    if (udp_.get() < 0) {
      udp_ = Descriptor(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
      if (udp_.get() < 0) return std::nullopt;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = address;
    sockaddr_in from{};
    socklen_t length = sizeof(from);
    if (connect(udp_.get(), reinterpret_cast<const sockaddr*>(&to),
                sizeof(to)) != 0 ||
        getsockname(udp_.get(), reinterpret_cast<sockaddr*>(&from), &length) !=
            0 ||
        from.sin_addr.s_addr == 0) {
      return std::nullopt;
    }
    return from.sin_addr.s_addr;
  }

  Reason Open(std::int32_t ifindex, std::uint32_t source, Wire*& found) {
    for (Wire& wire : wires_) {
      if (wire.ifindex == ifindex && wire.source == source) {
        found = &wire;
        return wire.socket.get() < 0 ? Reason::kSystem : Reason::kNone;
      }
    }
    Wire& wire = wires_.emplace_back();
    wire.ifindex = ifindex;
    wire.source = source;
    found = &wire;
    // No protocol yet: nothing is queued before the filter is in place.
    Descriptor fd(
        socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    std::vector<sock_filter> code = ReplyFilter(source);
    const sock_fprog program{static_cast<unsigned short>(code.size()),
                             code.data()};
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(ETH_P_ARP);
    at.sll_ifindex = ifindex;
    int buffer = 1 << 20;
    if (fd.get() < 0 ||
        setsockopt(fd.get(), SOL_SOCKET, SO_ATTACH_FILTER, &program,
                   sizeof(program)) != 0 ||
        bind(fd.get(), reinterpret_cast<const sockaddr*>(&at), sizeof(at))) {
      return Reason::kSystem;
    }
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
    sockaddr_ll bound{};
    socklen_t length = sizeof(bound);
    if (getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length)) {
      return Reason::kSystem;
    }
    // Only Ethernet's 6-byte addresses fit the answer.
    if (bound.sll_hatype != ARPHRD_ETHER || bound.sll_halen != 6) {
      return Reason::kBadAnswer;
    }
    std::copy_n(bound.sll_addr, 6, wire.own.begin());
    wire.socket = std::move(fd);
    return Reason::kNone;
  }

  // False only when the interface refuses frames for good; a full queue
  // loses the frame, as the wire may.
  bool Send(const Wire& wire, const Ledger::Asking& asking) {
    const Request frame = BuildRequest(wire.own, asking.source, asking.address);
    for (;;) {
      if (send(wire.socket.get(), frame.data(), frame.size(), 0) >= 0) {
        return true;
      }
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == ENOBUFS;
    }
  }

  // Reads the replies that arrive until until; false on a failure.
  bool Listen(std::chrono::steady_clock::time_point until) {
    std::vector<pollfd> fds;
    for (const Wire& wire : wires_) {
      fds.push_back({wire.socket.get(), POLLIN, 0});  // -1 is left alone
    }
    const auto left = std::max(until - std::chrono::steady_clock::now(),
                               std::chrono::steady_clock::duration::zero());
    const auto seconds = std::chrono::floor<std::chrono::seconds>(left);
    const timespec timeout{static_cast<time_t>(seconds.count()),
                           static_cast<long>((left - seconds) / 1ns)};
    const int ready =
        ppoll(fds.data(), fds.size(),
              until == std::chrono::steady_clock::time_point::max() ? nullptr
                                                                    : &timeout,
              nullptr);
    if (ready < 0) return errno == EINTR;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents & POLLNVAL) return false;
      if (fds[i].revents & POLLERR) {
        // An interface gone down, say: its addresses go unanswered.
        int error = 0;
        socklen_t size = sizeof(error);
        getsockopt(fds[i].fd, SOL_SOCKET, SO_ERROR, &error, &size);
      }
      if (fds[i].revents & POLLIN) Drain(wires_[i]);
    }
    return true;
  }

  void Drain(const Wire& wire) {
    std::uint8_t frame[128];
    for (;;) {
      sockaddr_ll from{};
      socklen_t length = sizeof(from);
      const ssize_t n = recvfrom(wire.socket.get(), frame, sizeof(frame), 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return;
      if (from.sll_pkttype == PACKET_OUTGOING) continue;
      if (const auto reply = ParseReply(
              std::span<const std::uint8_t>(frame, static_cast<std::size_t>(n)),
              wire.source)) {
        ledger_.Hear(*reply, wire.ifindex, wire.source);
      }
    }
  }

  Ledger ledger_;
  std::vector<Wire> wires_;
  Descriptor udp_;
};

}  // namespace

std::unique_ptr<Prober> MakePacketProber(const ResolveOptions& options) {
  return std::make_unique<PacketProber>(options);
}

}  // namespace norvane::packet
