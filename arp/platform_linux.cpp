// The Linux platform: the C library's inet_addr, and a resolver that asks the
// kernel over rtnetlink. It needs no privileges: it reads the routing table,
// the interface and the neighbour cache, and when the cache has no usable
// entry it lets the kernel resolve the address by sending one empty UDP
// datagram to the host's discard port, then waits for the neighbour event.
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
#include <memory>
#include <optional>
#include <string>
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

// What inet_addr returns for text it cannot read.
constexpr std::uint32_t kMalformedAddress = INADDR_NONE;

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

// Fills the answer from a hardware address as the kernel reports it. An
// address that does not fit is a failure, never cut short.
bool Answer(const LinkAddress& address, HardwareBuffer& buffer,
            std::uint32_t& length) {
  if (address.empty() || address.size() > buffer.size()) return false;
  std::copy(address.begin(), address.end(), buffer.begin());
  length = static_cast<std::uint32_t>(address.size());
  return true;
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

// An rtnetlink socket, closed when it goes out of scope.
class RouteSocket {
 public:
  // Opens the socket and joins the multicast groups in groups (RTMGRP_*).
  bool Open(unsigned groups) {
    socket_.reset(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC));
    if (!socket_ ||
        mnl_socket_bind(socket_.get(), groups, MNL_SOCKET_AUTOPID) < 0) {
      return false;
    }
    portid_ = mnl_socket_get_portid(socket_.get());
    return true;
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
    nlmsghdr* request = Start(RTM_GETNEIGH);
    auto* header =
        static_cast<ndmsg*>(mnl_nlmsg_put_extra_header(request, sizeof(ndmsg)));
    header->ndm_family = AF_INET;
    header->ndm_ifindex = ifindex;
    mnl_attr_put_u32(request, NDA_DST, destination);
    if (!Ask(request)) return std::nullopt;
    return netlink::ParseNeighbourReply(Received(), request->nlmsg_seq,
                                        portid_);
  }

  // Waits until a datagram arrives or the deadline passes. Returns false on
  // the deadline or an error; events lost to an overrun receive buffer
  // (ENOBUFS) leave lost set and an empty datagram.
  bool Wait(std::chrono::steady_clock::time_point deadline, bool& lost) {
    lost = false;
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left <= 0ms) return false;
      pollfd poll_fd{fd(), POLLIN, 0};
      const int ready = poll(&poll_fd, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
      const ssize_t n =
          recv(fd(), buffer_.data(), buffer_.size(), MSG_DONTWAIT);
      if (n >= 0) {
        received_ = static_cast<std::size_t>(n);
        return true;
      }
      if (errno == ENOBUFS) {
        received_ = 0;
        lost = true;
        return true;
      }
      if (errno != EINTR && errno != EAGAIN) return false;
    }
  }

  std::span<const std::uint8_t> Received() const {
    return std::span<const std::uint8_t>(buffer_.data(), received_);
  }

 private:
  nlmsghdr* Start(std::uint16_t type) {
    nlmsghdr* request = mnl_nlmsg_put_header(request_);
    request->nlmsg_type = type;
    request->nlmsg_flags = NLM_F_REQUEST;
    request->nlmsg_seq = ++seq_;
    return request;
  }

  // Sends the request and receives the kernel's answer, which a get request
  // without NLM_F_ACK receives as exactly one datagram.
  bool Ask(const nlmsghdr* request) {
    received_ = 0;
    if (mnl_socket_sendto(socket_.get(), request, request->nlmsg_len) < 0) {
      return false;
    }
    for (;;) {
      const ssize_t n =
          mnl_socket_recvfrom(socket_.get(), buffer_.data(), buffer_.size());
      if (n >= 0) {
        received_ = static_cast<std::size_t>(n);
        return true;
      }
      if (errno != EINTR) return false;
    }
  }

  std::unique_ptr<mnl_socket, MnlCloser> socket_;
  unsigned portid_ = 0;
  std::uint32_t seq_ = static_cast<std::uint32_t>(std::time(nullptr));
  alignas(nlmsghdr) char request_[256] = {};
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(32768);
  std::size_t received_ = 0;
};

// One setting of the interface's IPv4 neighbour parameters.
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

// Sends one empty datagram to the discard port of address, which makes the
// kernel resolve it.
bool SendProbe(std::uint32_t address) {
  const FileDescriptor udp(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (udp.get() < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  to.sin_addr.s_addr = address;
  const char nothing = 0;
  return sendto(udp.get(), &nothing, 0, 0, reinterpret_cast<sockaddr*>(&to),
                sizeof(to)) == 0;
}

bool ResolveAddress(std::uint32_t address, HardwareBuffer& buffer,
                    std::uint32_t& length) {
  if (!MayBeNeighbour(address)) return false;

  RouteSocket requests;
  if (!requests.Open(0)) return false;
  const std::optional<Route> route = requests.GetRoute(address, 0);
  if (!route) return false;

  if (route->type == RTN_LOCAL) {
    // The lookup answers through the loopback interface; the table entry
    // itself names the interface that holds the address.
    const std::optional<Route> entry =
        requests.GetRoute(address, RTM_F_FIB_MATCH);
    if (!entry || entry->oif == 0) return false;
    const std::optional<Link> link = requests.GetLink(entry->oif);
    if (!link || (link->flags & IFF_LOOPBACK)) return false;
    return Answer(link->address, buffer, length);
  }

  // Broadcast, unreachable, blackhole and the like have no neighbour, and a
  // host behind a gateway is not on the local network.
  if (route->type != RTN_UNICAST || route->via_gateway || route->oif == 0) {
    return false;
  }
  const std::optional<Link> link = requests.GetLink(route->oif);
  if (!link || (link->flags & (IFF_LOOPBACK | IFF_NOARP | IFF_POINTOPOINT)) ||
      link->address.empty() || link->address.size() > buffer.size()) {
    return false;
  }
  const std::int32_t ifindex = link->index;

  // Subscribe before looking at the cache, so that no change of the entry
  // can slip between the look and the wait.
  RouteSocket events;
  if (!events.Open(RTMGRP_NEIGH)) return false;
  if (const auto cached = requests.GetNeighbour(address, ifindex);
      cached && netlink::IsUsable(cached->state)) {
    return Answer(cached->address, buffer, length);
  }

  const auto start = std::chrono::steady_clock::now();
  if (!SendProbe(address)) return false;
  // Read while the probe is on its way.
  const auto deadline = start + ResolutionTime(link->name) + 500ms;
  bool lost = false;
  while (events.Wait(deadline, lost)) {
    std::vector<Neighbour> news;
    if (!lost) {
      news = netlink::ParseNeighbourEvents(events.Received());
    } else if (auto entry = requests.GetNeighbour(address, ifindex)) {
      news.push_back(*entry);
    }
    for (const Neighbour& neighbour : news) {
      switch (netlink::Judge(neighbour, address, ifindex)) {
        case Verdict::kResolved:
          return Answer(neighbour.address, buffer, length);
        case Verdict::kFailed:
          return false;
        case Verdict::kPending:
          break;
      }
    }
  }
  return false;
}

}  // namespace

const AddressPlatform& SystemPlatform() {
  static const AddressPlatform platform{ParseAddress, ResolveAddress};
  return platform;
}

}  // namespace norvane
