#include "route_socket.h"

#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <type_traits>

namespace norvane {

using namespace std::chrono_literals;
using netlink::Link;
using netlink::Neighbour;
using netlink::Route;

void RouteSocket::MnlCloser::operator()(mnl_socket* socket) const {
  mnl_socket_close(socket);
}

std::unique_ptr<RouteSocket> RouteSocket::Open(unsigned groups) {
  std::unique_ptr<mnl_socket, MnlCloser> socket(
      mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC));
  if (!socket ||
      mnl_socket_bind(socket.get(), groups, MNL_SOCKET_AUTOPID) < 0) {
    return nullptr;
  }
  return std::unique_ptr<RouteSocket>(new RouteSocket(std::move(socket)));
}

RouteSocket::RouteSocket(std::unique_ptr<mnl_socket, MnlCloser> socket)
    : socket_(std::move(socket)),
      portid_(mnl_socket_get_portid(socket_.get())) {}

int RouteSocket::fd() const { return mnl_socket_get_fd(socket_.get()); }

namespace {

std::uint8_t FamilyOf(const IpAddress& address) {
  return address.is_inet6() ? AF_INET6 : AF_INET;
}

void PutAddress(nlmsghdr* request, std::uint16_t type,
                const IpAddress& address) {
  mnl_attr_put(request, type, address.is_inet6() ? 16 : 4,
               address.bytes.data());
}

}  // namespace

std::optional<Route> RouteSocket::GetRoute(const IpAddress& destination,
                                           unsigned flags) {
  nlmsghdr* request = Start(RTM_GETROUTE);
  auto* header =
      static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(request, sizeof(rtmsg)));
  header->rtm_family = FamilyOf(destination);
  header->rtm_dst_len = destination.is_inet6() ? 128 : 32;
  header->rtm_flags = flags;
  PutAddress(request, RTA_DST, destination);
  // A link-local address is looked up on its own link.
  if (destination.scope != 0) {
    mnl_attr_put_u32(request, RTA_OIF, destination.scope);
  }
  if (!Ask(request)) return std::nullopt;
  return netlink::ParseRouteReply(Received(), request->nlmsg_seq, portid_);
}

std::optional<Link> RouteSocket::GetLink(std::uint32_t index) {
  nlmsghdr* request = Start(RTM_GETLINK);
  auto* header = static_cast<ifinfomsg*>(
      mnl_nlmsg_put_extra_header(request, sizeof(ifinfomsg)));
  header->ifi_family = AF_UNSPEC;
  header->ifi_index = static_cast<int>(index);
  mnl_attr_put_u32(request, IFLA_EXT_MASK, RTEXT_FILTER_SKIP_STATS);
  if (!Ask(request)) return std::nullopt;
  return netlink::ParseLinkReply(Received(), request->nlmsg_seq, portid_);
}

std::optional<Neighbour> RouteSocket::GetNeighbour(const IpAddress& destination,
                                                   std::int32_t ifindex) {
  nlmsghdr* request = NeighbourRequest(RTM_GETNEIGH, destination, ifindex);
  if (!Ask(request)) return std::nullopt;
  return netlink::ParseNeighbourReply(Received(), request->nlmsg_seq, portid_);
}

int RouteSocket::RequestResolution(const IpAddress& destination,
                                   std::int32_t ifindex) {
  nlmsghdr* request = NeighbourRequest(RTM_NEWNEIGH, destination, ifindex);
  request->nlmsg_flags |= NLM_F_CREATE | NLM_F_ACK;
  static_cast<ndmsg*>(mnl_nlmsg_get_payload(request))->ndm_flags = NTF_USE;
  if (!Ask(request)) return errno ? errno : EIO;
  errno = 0;
  const int run = mnl_cb_run(Received().data(), Received().size(),
                             request->nlmsg_seq, portid_, nullptr, nullptr);
  return run == MNL_CB_ERROR ? (errno ? errno : EIO) : 0;
}

template <typename Item>
bool RouteSocket::Dump(std::uint16_t type, std::vector<Item>& items) {
  nlmsghdr* request = Start(type);
  request->nlmsg_flags |= NLM_F_DUMP;
  if (type == RTM_GETLINK) {
    auto* header = static_cast<ifinfomsg*>(
        mnl_nlmsg_put_extra_header(request, sizeof(ifinfomsg)));
    header->ifi_family = AF_UNSPEC;
    mnl_attr_put_u32(request, IFLA_EXT_MASK, RTEXT_FILTER_SKIP_STATS);
  } else if (type == RTM_GETNEIGH) {
    auto* header =
        static_cast<ndmsg*>(mnl_nlmsg_put_extra_header(request, sizeof(ndmsg)));
    header->ndm_family = AF_INET6;
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
    } else if constexpr (std::is_same_v<Item, Neighbour>) {
      read = netlink::ParseNeighbourDump(Received(), request->nlmsg_seq,
                                         portid_, items);
    } else {
      read = netlink::ParseAddressDump(Received(), request->nlmsg_seq, portid_,
                                       items);
    }
    if (read != netlink::DumpPart::kMore) {
      return read == netlink::DumpPart::kDone;
    }
    if (!Receive(0)) return false;
  }
  return false;
}

template bool RouteSocket::Dump(std::uint16_t, std::vector<Link>&);
template bool RouteSocket::Dump(std::uint16_t,
                                std::vector<netlink::InterfaceAddress>&);
template bool RouteSocket::Dump(std::uint16_t, std::vector<Neighbour>&);

void RouteSocket::GrowReceiveBuffer(int bytes) {
  if (setsockopt(fd(), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes))) {
    setsockopt(fd(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
  }
}

Arrival RouteSocket::Wait(std::chrono::steady_clock::time_point deadline) {
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

nlmsghdr* RouteSocket::Start(std::uint16_t type) {
  nlmsghdr* request = mnl_nlmsg_put_header(request_);
  request->nlmsg_type = type;
  request->nlmsg_flags = NLM_F_REQUEST;
  request->nlmsg_seq = ++seq_;
  return request;
}

nlmsghdr* RouteSocket::NeighbourRequest(std::uint16_t type,
                                        const IpAddress& destination,
                                        std::int32_t ifindex) {
  nlmsghdr* request = Start(type);
  auto* header =
      static_cast<ndmsg*>(mnl_nlmsg_put_extra_header(request, sizeof(ndmsg)));
  header->ndm_family = FamilyOf(destination);
  header->ndm_ifindex = ifindex;
  PutAddress(request, NDA_DST, destination);
  return request;
}

bool RouteSocket::Receive(int flags) {
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

bool RouteSocket::Ask(const nlmsghdr* request) {
  received_ = 0;
  if (mnl_socket_sendto(socket_.get(), request, request->nlmsg_len) < 0) {
    return false;
  }
  return Receive(0);
}

}  // namespace norvane
