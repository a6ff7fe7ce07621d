// The Linux platform: the C library's inet_addr, and a resolver that asks the
// kernel over rtnetlink. It needs no privileges: it reads the routing table,
// the interface and the neighbour cache, and when the cache has no usable
// entry it has the kernel resolve the address, then waits for the neighbour
// event. With CAP_NET_ADMIN it asks the kernel directly (RTM_NEWNEIGH with
// NTF_USE), so only ARP reaches the host; without, it sends one empty UDP
// datagram to the host's discard port. Many addresses share one run: one
// event subscription, requests paced and a bounded number waiting at once.
#include <arpa/inet.h>
#include <fcntl.h>
#include <libmnl/libmnl.h>
#include <linux/if_link.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "mac.h"
#include "netlink.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using netlink::Link;
using netlink::LinkAddress;
using netlink::Neighbour;
using netlink::Route;
using netlink::Verdict;

static_assert(sizeof(wchar_t) == 4, "wchar_t holds one code point");

// The text in the locale's multibyte encoding; empty when a character has no
// encoding there (or the text holds a lone surrogate or a NUL).
std::optional<std::string> ToLocaleBytes(const std::u16string& text) {
  std::string bytes;
  std::mbstate_t state{};
  char out[MB_LEN_MAX];
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code == 0 || (code >= 0xD800 && code <= 0xDFFF)) {
      return std::nullopt;
    }
    const std::size_t n = std::wcrtomb(out, static_cast<wchar_t>(code), &state);
    if (n == static_cast<std::size_t>(-1)) return std::nullopt;
    bytes.append(out, n);
  }
  // Back to the initial shift state, for stateful encodings.
  const std::size_t n = std::wcrtomb(out, L'\0', &state);
  if (n == static_cast<std::size_t>(-1)) return std::nullopt;
  bytes.append(out, n - 1);
  return bytes;
}

std::uint32_t ParseAddress(const std::u16string& text) {
  const std::optional<std::string> bytes = ToLocaleBytes(text);
  if (!bytes) return kMalformedAddress;
  return inet_addr(bytes->c_str());
}

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

struct MnlCloser {
  void operator()(mnl_socket* socket) const { mnl_socket_close(socket); }
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// What waiting on the event socket brought.
enum class Arrival {
  kDatagram,  // Received() holds it
  kLost,      // events were lost to an overrun receive buffer (ENOBUFS)
  kDeadline,
  kError,
};

// An open rtnetlink socket, closed when it goes out of scope.
class RouteSocket {
 public:
  // A socket bound to the multicast groups in groups (RTMGRP_*); null when
  // it cannot be opened.
  static std::unique_ptr<RouteSocket> Open(unsigned groups) {
    std::unique_ptr<mnl_socket, MnlCloser> socket(
        mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC));
    if (!socket ||
        mnl_socket_bind(socket.get(), groups, MNL_SOCKET_AUTOPID) < 0) {
      return nullptr;
    }
    return std::unique_ptr<RouteSocket>(new RouteSocket(std::move(socket)));
  }

  int fd() const { return mnl_socket_get_fd(socket_.get()); }

  std::optional<Route> GetRoute(std::uint32_t destination, unsigned flags) {
    nlmsghdr* request = Start(RTM_GETROUTE);
    auto* header =
        static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(request, sizeof(rtmsg)));
    header->rtm_family = AF_INET;
    header->rtm_dst_len = 32;
    header->rtm_flags = flags;
    mnl_attr_put_u32(request, RTA_DST, destination);
    if (!Ask(request)) return std::nullopt;
    return netlink::ParseRouteReply(Received(), request->nlmsg_seq, portid_);
  }

  std::optional<Link> GetLink(std::uint32_t index) {
    nlmsghdr* request = Start(RTM_GETLINK);
    auto* header = static_cast<ifinfomsg*>(
        mnl_nlmsg_put_extra_header(request, sizeof(ifinfomsg)));
    header->ifi_family = AF_UNSPEC;
    header->ifi_index = static_cast<int>(index);
    mnl_attr_put_u32(request, IFLA_EXT_MASK, RTEXT_FILTER_SKIP_STATS);
    if (!Ask(request)) return std::nullopt;
    return netlink::ParseLinkReply(Received(), request->nlmsg_seq, portid_);
  }

  // The cache entry for destination on interface ifindex, if there is one.
  std::optional<Neighbour> GetNeighbour(std::uint32_t destination,
                                        std::int32_t ifindex) {
    nlmsghdr* request = NeighbourRequest(RTM_GETNEIGH, destination, ifindex);
    if (!Ask(request)) return std::nullopt;
    return netlink::ParseNeighbourReply(Received(), request->nlmsg_seq,
                                        portid_);
  }

  // Asks the kernel to resolve destination on interface ifindex as if a
  // packet were waiting for it. Returns 0 or the errno of the refusal
  // (EPERM without CAP_NET_ADMIN).
  int RequestResolution(std::uint32_t destination, std::int32_t ifindex) {
    nlmsghdr* request = NeighbourRequest(RTM_NEWNEIGH, destination, ifindex);
    request->nlmsg_flags |= NLM_F_CREATE | NLM_F_ACK;
    static_cast<ndmsg*>(mnl_nlmsg_get_payload(request))->ndm_flags = NTF_USE;
    if (!Ask(request)) return errno ? errno : EIO;
    errno = 0;
    const int run = mnl_cb_run(Received().data(), Received().size(),
                               request->nlmsg_seq, portid_, nullptr, nullptr);
    return run == MNL_CB_ERROR ? (errno ? errno : EIO) : 0;
  }

  // Makes room for a burst of events before the kernel drops them.
  void GrowReceiveBuffer(int bytes) {
    if (setsockopt(fd(), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes))) {
      setsockopt(fd(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
    }
  }

  // Waits until a datagram arrives or the deadline passes.
  Arrival Wait(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      const auto left = deadline - std::chrono::steady_clock::now();
      if (left <= 0ns) return Arrival::kDeadline;
      const auto seconds = std::chrono::floor<std::chrono::seconds>(left);
      const timespec timeout{static_cast<time_t>(seconds.count()),
                             static_cast<long>((left - seconds) / 1ns)};
      pollfd poll_fd{fd(), POLLIN, 0};
      const int ready = ppoll(&poll_fd, 1, &timeout, nullptr);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return Arrival::kError;
      if (ready == 0) return Arrival::kDeadline;
      if (Receive(MSG_DONTWAIT)) return Arrival::kDatagram;
      if (errno == ENOBUFS) return Arrival::kLost;
      if (errno != EINTR && errno != EAGAIN) return Arrival::kError;
    }
  }

  std::span<const std::uint8_t> Received() const {
    return std::span<const std::uint8_t>(buffer_.data(), received_);
  }

 private:
  explicit RouteSocket(std::unique_ptr<mnl_socket, MnlCloser> socket)
      : socket_(std::move(socket)),
        portid_(mnl_socket_get_portid(socket_.get())) {}

  nlmsghdr* Start(std::uint16_t type) {
    nlmsghdr* request = mnl_nlmsg_put_header(request_);
    request->nlmsg_type = type;
    request->nlmsg_flags = NLM_F_REQUEST;
    request->nlmsg_seq = ++seq_;
    return request;
  }

  nlmsghdr* NeighbourRequest(std::uint16_t type, std::uint32_t destination,
                             std::int32_t ifindex) {
    nlmsghdr* request = Start(type);
    auto* header =
        static_cast<ndmsg*>(mnl_nlmsg_put_extra_header(request, sizeof(ndmsg)));
    header->ndm_family = AF_INET;
    header->ndm_ifindex = ifindex;
    mnl_attr_put_u32(request, NDA_DST, destination);
    return request;
  }

  // Receives one whole datagram, however large: its length is peeked first
  // and the buffer grown to hold it. False with errno set on failure.
  bool Receive(int flags) {
    received_ = 0;
    for (;;) {
      const ssize_t size =
          recv(fd(), buffer_.data(), 0, flags | MSG_PEEK | MSG_TRUNC);
      if (size < 0 && errno == EINTR) continue;
      if (size < 0) return false;
      if (static_cast<std::size_t>(size) > buffer_.size()) {
        buffer_.resize(static_cast<std::size_t>(size));
      }
      const ssize_t n = recv(fd(), buffer_.data(), buffer_.size(), flags);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      received_ = static_cast<std::size_t>(n);
      return true;
    }
  }

  // Sends the request and receives the kernel's answer, which a get request
  // without NLM_F_ACK receives as exactly one datagram.
  bool Ask(const nlmsghdr* request) {
    received_ = 0;
    if (mnl_socket_sendto(socket_.get(), request, request->nlmsg_len) < 0) {
      return false;
    }
    return Receive(0);
  }

  std::unique_ptr<mnl_socket, MnlCloser> socket_;
  unsigned portid_ = 0;
  std::uint32_t seq_ = static_cast<std::uint32_t>(std::time(nullptr));
  alignas(nlmsghdr) char request_[256] = {};
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(16384);
  std::size_t received_ = 0;
};

// One setting of the kernel's IPv4 neighbour parameters, from the folder
// of an interface or of the defaults ("default").
std::optional<long> NeighbourSetting(const std::string& interface_name,
                                     const char* name) {
  const std::string path =
      "/proc/sys/net/ipv4/neigh/" + interface_name + "/" + name;
  const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  char text[32];
  const ssize_t n =
      file.get() < 0 ? -1 : read(file.get(), text, sizeof(text) - 1);
  if (n <= 0) return std::nullopt;
  text[n] = '\0';
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || value < 0) return std::nullopt;
  return value;
}

// How long the kernel takes to give up on an address that nobody answers:
// mcast_solicit (plus app_solicit) probes sent retrans_time_ms apart.
std::chrono::milliseconds ResolutionTime(const std::string& interface_name) {
  constexpr auto kDefault = 3000ms;
  if (interface_name.empty() || interface_name.size() >= IF_NAMESIZE ||
      interface_name.find('/') != std::string::npos ||
      interface_name[0] == '.') {
    return kDefault;
  }
  const auto retrans = NeighbourSetting(interface_name, "retrans_time_ms");
  const auto probes = NeighbourSetting(interface_name, "mcast_solicit");
  if (!retrans || !probes) return kDefault;
  const long app_probes =
      NeighbourSetting(interface_name, "app_solicit").value_or(0);
  // Unreasonable settings are capped rather than waited for.
  const long total =
      std::min(*retrans, 60'000L) * std::min(*probes + app_probes, 100L);
  return std::chrono::milliseconds(std::min(total, 60'000L));
}

// Has the kernel resolve addresses: directly where the process may, else by
// one empty datagram to the host's discard port.
class Prober {
 public:
  bool Probe(RouteSocket& requests, std::uint32_t address,
             std::int32_t ifindex) {
    if (direct_) {
      const int error = requests.RequestResolution(address, ifindex);
      if (error == 0) return true;
      if (error != EPERM && error != EACCES) return false;
      direct_ = false;
    }
    if (!udp_) {
      udp_ = std::make_unique<FileDescriptor>(
          socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    }
    if (udp_->get() < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = address;
    const char nothing = 0;
    return sendto(udp_->get(), &nothing, 0, MSG_DONTWAIT,
                  reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0;
  }

 private:
  bool direct_ = true;
  std::unique_ptr<FileDescriptor> udp_;  // opened on first use
};

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
  Run(std::span<const std::uint32_t> addresses, const ResolveOptions& options,
      const ResolveDone& done)
      : addresses_(addresses),
        options_(options),
        done_(done),
        interval_(std::chrono::nanoseconds(1s) / std::max(options.rate, 1u)) {}

  void Go() {
    auto next_probe = std::chrono::steady_clock::now();
    while (next_ < addresses_.size() || !waiting_.empty()) {
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
      // Only a probe makes anything wait, and a probe needs the events.
      if (!events_) return FailAll(Reason::kSystem);
      switch (events_->Wait(until)) {
        case Arrival::kDatagram:
          for (const Neighbour& n :
               netlink::ParseNeighbourEvents(events_->Received())) {
            Settle(n);
          }
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
    if (!prober_.Probe(*requests_, address, link.index)) {
      done_(position, Refusal(Reason::kSystem));
      return false;
    }
    if (!link.resolution_time) link.resolution_time = ResolutionTime(link.name);
    const auto wait = options_.timeout > 0ms ? options_.timeout
                                             : *link.resolution_time + 500ms;
    waiting_.emplace(address, Waiting{{position}, link.index, now + wait});
    return true;
  }

  // Whether one more address may wait for the kernel. The limit is read
  // only once a first one waits.
  bool HasRoom() {
    if (waiting_.empty()) return true;
    if (limit_ == 0) {
      limit_ = netlink::WaitingLimit(NeighbourSetting("default", "gc_thresh2"),
                                     NeighbourSetting("default", "gc_thresh3"));
    }
    return waiting_.size() < limit_;
  }

  // The answer from the route, the interface and the cache, or the index
  // of the interface (in links_) on which the kernel must resolve it.
  std::variant<Resolution, std::uint32_t> Decide(std::uint32_t address) {
    if (!MayBeNeighbour(address)) return Refusal(Reason::kNotUnicast);
    if (!requests_ && !(requests_ = RouteSocket::Open(0))) {
      return Refusal(Reason::kSystem);
    }
    const std::optional<Route> route = requests_->GetRoute(address, 0);
    if (!route) return Refusal(Reason::kNoRoute);
    if (route->type == RTN_LOCAL) {
      // The lookup answers through the loopback interface; the table entry
      // itself names the interface that holds the address.
      const std::optional<Route> entry =
          requests_->GetRoute(address, RTM_F_FIB_MATCH);
      if (!entry || entry->oif == 0) return Refusal(Reason::kSystem);
      const std::optional<Link> link = requests_->GetLink(entry->oif);
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
    if (!events_) {
      if (!(events_ = RouteSocket::Open(RTMGRP_NEIGH))) {
        return Refusal(Reason::kSystem);
      }
      events_->GrowReceiveBuffer(1 << 20);
    }
    if (const auto cached = requests_->GetNeighbour(address, link.index);
        cached && netlink::IsUsable(cached->state)) {
      return Answer(cached->address, netlink::SourceOf(cached->state));
    }
    return route->oif;
  }

  const LinkFacts& Facts(std::uint32_t index) {
    auto [found, added] = links_.try_emplace(index);
    if (added) {
      if (const std::optional<Link> link = requests_->GetLink(index)) {
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
      if (auto entry = requests_->GetNeighbour(address, waiting.ifindex)) {
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

  std::span<const std::uint32_t> addresses_;
  const ResolveOptions& options_;
  const ResolveDone& done_;
  std::unique_ptr<RouteSocket> requests_;  // opened when first needed
  std::unique_ptr<RouteSocket> events_;    // the neighbour event group
  Prober prober_;
  std::size_t limit_ = 0;
  const std::chrono::nanoseconds interval_;
  std::size_t next_ = 0;
  std::map<std::uint32_t, LinkFacts> links_;
  std::map<std::uint32_t, Waiting> waiting_;
};

void ResolveAddresses(std::span<const std::uint32_t> addresses,
                      const ResolveOptions& options, const ResolveDone& done) {
  Run(addresses, options, done).Go();
}

}  // namespace

const AddressPlatform& SystemPlatform() {
  static const AddressPlatform platform{ParseAddress, ResolveAddresses};
  return platform;
}

}  // namespace norvane
