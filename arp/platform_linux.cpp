// The Linux platform: the C library's inet_addr, and a resolver that asks the
// kernel over rtnetlink. It needs no privileges: it reads the routing table,
// the interface and the neighbour cache, and when the cache has no usable
// entry it has the kernel resolve the address, then waits for the neighbour
// event. A scan by a process with CAP_NET_RAW asks with ARP frames of its
// own instead (packet.h), touching no neighbour entry. With CAP_NET_ADMIN it
// asks the kernel directly (RTM_NEWNEIGH with NTF_USE), so only ARP reaches the
// host; without, it sends one empty UDP datagram to the host's discard port.
// Many addresses share one run: one event subscription, requests paced and a
// bounded number waiting at once.
#include <arpa/inet.h>
#include <fcntl.h>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
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
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "mac.h"
#include "netlink.h"
#include "packet.h"
#include "resolver.h"
#include "text.h"

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
  for (std::size_t i = 0; i < text.size();) {
    const std::optional<char32_t> code = NextCodePoint(text, i);
    if (!code || *code == 0) return std::nullopt;
    const std::size_t n =
        std::wcrtomb(out, static_cast<wchar_t>(*code), &state);
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

  // The whole dump of the interfaces (RTM_GETLINK) or of their IPv4
  // addresses (RTM_GETADDR); false when it cannot be read whole.
  template <typename Item>
  bool Dump(std::uint16_t type, std::vector<Item>& items) {
    nlmsghdr* request = Start(type);
    request->nlmsg_flags |= NLM_F_DUMP;
    if (type == RTM_GETLINK) {
      auto* header = static_cast<ifinfomsg*>(
          mnl_nlmsg_put_extra_header(request, sizeof(ifinfomsg)));
      header->ifi_family = AF_UNSPEC;
      mnl_attr_put_u32(request, IFLA_EXT_MASK, RTEXT_FILTER_SKIP_STATS);
    } else {
      auto* header = static_cast<ifaddrmsg*>(
          mnl_nlmsg_put_extra_header(request, sizeof(ifaddrmsg)));
      header->ifa_family = AF_INET;
    }
    if (!Ask(request)) return false;
    // The kernel ends every dump; the bound only guards against a loop.
    for (int part = 0; part < 1'000'000; ++part) {
      netlink::DumpPart read;
      if constexpr (std::is_same_v<Item, Link>) {
        read = netlink::ParseLinkDump(Received(), request->nlmsg_seq, portid_,
                                      items);
      } else {
        read = netlink::ParseAddressDump(Received(), request->nlmsg_seq,
                                         portid_, items);
      }
      if (read != netlink::DumpPart::kMore) {
        return read == netlink::DumpPart::kDone;
      }
      if (!Receive(0)) return false;
    }
    return false;
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
      if (Receive(MSG_DONTWAIT)) return Arrival::kEvents;
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

// Whether name can be a folder of /proc/sys/net/ipv4/neigh.
bool IsInterfaceName(const std::string& name) {
  return !name.empty() && name.size() < IF_NAMESIZE &&
         name.find('/') == std::string::npos && name[0] != '.';
}

// How long the kernel waits between its probes of a silent neighbour.
std::chrono::milliseconds LinkRetransTime(const std::string& interface_name) {
  const auto retrans = IsInterfaceName(interface_name)
                           ? NeighbourSetting(interface_name, "retrans_time_ms")
                           : std::nullopt;
  return std::chrono::milliseconds(std::min(retrans.value_or(1000), 60'000L));
}

// How long the kernel takes to give up on an address that nobody answers:
// mcast_solicit (plus app_solicit) probes sent retrans_time_ms apart.
std::chrono::milliseconds LinkResolutionTime(
    const std::string& interface_name) {
  constexpr auto kDefault = 3000ms;
  if (!IsInterfaceName(interface_name)) return kDefault;
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
  Probing Probe(RouteSocket& requests, std::uint32_t address,
                std::int32_t ifindex) {
    if (direct_) {
      const int error = requests.RequestResolution(address, ifindex);
      if (error == 0) return Probing::kSent;
      // The kernel could not allocate the entry: its table is full.
      if (error == ENOBUFS || error == ENOMEM) return Probing::kRefused;
      if (error != EPERM && error != EACCES) return Probing::kFailed;
      direct_ = false;
    }
    if (!udp_) {
      udp_ = std::make_unique<FileDescriptor>(
          socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    }
    if (udp_->get() < 0) return Probing::kFailed;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = address;
    const char nothing = 0;
    if (sendto(udp_->get(), &nothing, 0, MSG_DONTWAIT,
               reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
      return errno == ENOBUFS || errno == EAGAIN || errno == ENOMEM
                 ? Probing::kRefused
                 : Probing::kFailed;
    }
    // A datagram whose neighbour entry could not be created is dropped
    // without a word to the sender; the missing entry says so.
    return requests.GetNeighbour(address, ifindex) ? Probing::kSent
                                                   : Probing::kRefused;
  }

 private:
  bool direct_ = true;
  std::unique_ptr<FileDescriptor> udp_;  // opened on first use
};

// The kernel itself, over rtnetlink; sockets are opened when first needed.
class SystemKernel : public Kernel {
 public:
  std::optional<Route> GetRoute(std::uint32_t destination,
                                unsigned flags) override {
    if (!Requests()) return std::nullopt;
    return requests_->GetRoute(destination, flags);
  }
  std::optional<Link> GetLink(std::uint32_t index) override {
    if (!Requests()) return std::nullopt;
    return requests_->GetLink(index);
  }
  std::optional<Neighbour> GetNeighbour(std::uint32_t destination,
                                        std::int32_t ifindex) override {
    if (!Requests()) return std::nullopt;
    return requests_->GetNeighbour(destination, ifindex);
  }
  bool Subscribe() override {
    if (!events_ && (events_ = RouteSocket::Open(RTMGRP_NEIGH))) {
      // Room for a burst of events before the kernel drops them.
      events_->GrowReceiveBuffer(1 << 20);
    }
    return events_ != nullptr;
  }
  Probing Probe(std::uint32_t destination, std::int32_t ifindex) override {
    if (!Requests()) return Probing::kFailed;
    return prober_.Probe(*requests_, destination, ifindex);
  }
  Arrival Wait(std::chrono::steady_clock::time_point deadline,
               std::vector<Neighbour>& events) override {
    if (!events_) return Arrival::kError;
    const Arrival arrival = events_->Wait(deadline);
    if (arrival == Arrival::kEvents) {
      events = netlink::ParseNeighbourEvents(events_->Received());
    }
    return arrival;
  }
  std::chrono::milliseconds ResolutionTime(const std::string& name) override {
    return LinkResolutionTime(name);
  }
  std::chrono::milliseconds RetransTime(const std::string& name) override {
    return LinkRetransTime(name);
  }
  std::size_t WaitingLimit() override {
    return netlink::WaitingLimit(NeighbourSetting("default", "gc_thresh2"),
                                 NeighbourSetting("default", "gc_thresh3"));
  }

 private:
  bool Requests() {
    if (!requests_) requests_ = RouteSocket::Open(0);
    return requests_ != nullptr;
  }

  std::unique_ptr<RouteSocket> requests_;
  std::unique_ptr<RouteSocket> events_;  // the neighbour event group
  Prober prober_;
};

void ResolveAddresses(std::span<const std::uint32_t> addresses,
                      const ResolveOptions& options, const ResolveDone& done) {
  SystemKernel kernel;
  // One address keeps the kernel's path: the cache first, no frame at all
  // for a host it knows.
  std::unique_ptr<norvane::Prober> wire;
  if (addresses.size() > 1 && packet::MaySendFrames()) {
    wire = packet::MakePacketProber(options);
  }
  Resolve(kernel, addresses, options, done, wire.get());
}

}  // namespace

std::vector<LocalInterface> LocalInterfaces() {
  const auto socket = RouteSocket::Open(0);
  std::vector<Link> links;
  std::vector<netlink::InterfaceAddress> addresses;
  if (!socket || !socket->Dump(RTM_GETLINK, links) ||
      !socket->Dump(RTM_GETADDR, addresses)) {
    return {};
  }
  return netlink::Interfaces(links, addresses);
}

const AddressPlatform& SystemPlatform() {
  static const AddressPlatform platform{ParseAddress, ResolveAddresses};
  return platform;
}

}  // namespace norvane
