// An rtnetlink socket: the requests the Linux platform makes of the kernel,
// each answered through the readers in netlink.h, and the neighbour events
// it waits for.
#pragma once

#include <linux/netlink.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "netlink.h"
#include "resolver.h"

struct mnl_socket;

namespace norvane {

// An open rtnetlink socket, closed when it goes out of scope.
class RouteSocket {
 public:
  // A socket bound to the multicast groups in groups (RTMGRP_*); null when
  // it cannot be opened.
  static std::unique_ptr<RouteSocket> Open(unsigned groups);

  int fd() const;

  std::optional<netlink::Route> GetRoute(const IpAddress& destination,
                                         unsigned flags);
  std::optional<netlink::Link> GetLink(std::uint32_t index);
  // The cache entry for destination on interface ifindex, if there is one.
  std::optional<netlink::Neighbour> GetNeighbour(const IpAddress& destination,
                                                 std::int32_t ifindex);

  // Asks the kernel to resolve destination on interface ifindex as if a
  // packet were waiting for it. Returns 0 or the errno of the refusal
  // (EPERM without CAP_NET_ADMIN).
  int RequestResolution(const IpAddress& destination, std::int32_t ifindex);

  // The whole dump of the interfaces (RTM_GETLINK, into netlink::Link), of
  // their IPv4 addresses (RTM_GETADDR, into netlink::InterfaceAddress) or of
  // the usable IPv6 neighbour entries (RTM_GETNEIGH, into
  // netlink::Neighbour); false when it cannot be read whole.
  template <typename Item>
  bool Dump(std::uint16_t type, std::vector<Item>& items);

  // Makes room for a burst of events before the kernel drops them.
  void GrowReceiveBuffer(int bytes);

  // Waits until a datagram arrives or the deadline passes.
  Arrival Wait(std::chrono::steady_clock::time_point deadline);

  std::span<const std::uint8_t> Received() const {
    return std::span<const std::uint8_t>(buffer_.data(), received_);
  }

 private:
  struct MnlCloser {
    void operator()(mnl_socket* socket) const;
  };

  explicit RouteSocket(std::unique_ptr<mnl_socket, MnlCloser> socket);

  nlmsghdr* Start(std::uint16_t type);
  nlmsghdr* NeighbourRequest(std::uint16_t type, const IpAddress& destination,
                             std::int32_t ifindex);
  // Receives one whole datagram, however large: its length is peeked first
  // and the buffer grown to hold it. False with errno set on failure.
  bool Receive(int flags);
  // Sends the request and receives the kernel's answer, which a get request
  // without NLM_F_ACK receives as exactly one datagram.
  bool Ask(const nlmsghdr* request);

  std::unique_ptr<mnl_socket, MnlCloser> socket_;
  unsigned portid_ = 0;
  std::uint32_t seq_ = static_cast<std::uint32_t>(std::time(nullptr));
  alignas(nlmsghdr) char request_[256] = {};
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(16384);
  std::size_t received_ = 0;
};

}  // namespace norvane
