// The neighbour event group on a socket of its own, non-blocking, read a
// whole datagram at a time.
#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "neighbour_events.h"

namespace norvane {
namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

struct MnlCloser {
  void operator()(mnl_socket* socket) const { mnl_socket_close(socket); }
};

class KernelEvents : public NeighbourEvents {
 public:
  KernelEvents(std::unique_ptr<mnl_socket, MnlCloser> socket,
               std::int32_t ifindex)
      : socket_(std::move(socket)), ifindex_(ifindex) {}

  int fd() const override { return mnl_socket_get_fd(socket_.get()); }

  Read Take(std::vector<Sighting>& sightings) override {
    // A bound on one call, so that a flood of events cannot hold the
    // caller here forever: what is left stays readable for the next.
    for (int datagrams = 0; datagrams < 256; ++datagrams) {
      const ssize_t size =
          recv(fd(), buffer_.data(), 0, MSG_DONTWAIT | MSG_PEEK | MSG_TRUNC);
      if (size < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Read::kRead;
        return errno == ENOBUFS ? Read::kLost : Read::kError;
      }
      if (static_cast<std::size_t>(size) > buffer_.size()) {
        buffer_.resize(static_cast<std::size_t>(size));
      }
      const ssize_t n =
          recv(fd(), buffer_.data(), buffer_.size(), MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return errno == ENOBUFS ? Read::kLost : Read::kError;
      }
      for (const netlink::Neighbour& event : netlink::ParseNeighbourEvents(
               {buffer_.data(), static_cast<std::size_t>(n)})) {
        if (auto sighting = SightingOf(event, ifindex_)) {
          sightings.push_back(std::move(*sighting));
        }
      }
    }
    return Read::kRead;
  }

 private:
  std::unique_ptr<mnl_socket, MnlCloser> socket_;
  std::int32_t ifindex_;
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(16384);
};

}  // namespace

std::optional<Sighting> SightingOf(const netlink::Neighbour& neighbour,
                                   std::int32_t ifindex) {
  // A watch follows IPv4 neighbours.
  if (!neighbour.destination || neighbour.destination->is_inet6() ||
      neighbour.deleted || (ifindex != 0 && neighbour.ifindex != ifindex)) {
    return std::nullopt;
  }
  Sighting sighting;
  sighting.address = neighbour.destination->inet();
  if (neighbour.state & NUD_FAILED) {
    sighting.failed = true;
    return sighting;
  }
  const netlink::LinkAddress& bytes = neighbour.address;
  // As a query's answer: 1 to 6 bytes, and not four zero bytes first.
  if (!netlink::IsUsable(neighbour.state) || bytes.empty() ||
      bytes.size() > 6 ||
      (bytes.size() >= 4 &&
       std::all_of(bytes.begin(), bytes.begin() + 4,
                   [](std::uint8_t b) { return b == 0; }))) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) sighting.mac += u'-';
    sighting.mac += kHexDigits[bytes[i] >> 4];
    sighting.mac += kHexDigits[bytes[i] & 0x0F];
  }
  return sighting;
}

std::unique_ptr<NeighbourEvents> NeighbourEvents::Open(
    const std::string& interface_name) {
  std::int32_t ifindex = 0;
  if (!interface_name.empty()) {
    ifindex = static_cast<std::int32_t>(if_nametoindex(interface_name.c_str()));
    if (ifindex == 0) return nullptr;
  }
  std::unique_ptr<mnl_socket, MnlCloser> socket(
      mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!socket ||
      mnl_socket_bind(socket.get(), RTMGRP_NEIGH, MNL_SOCKET_AUTOPID) < 0) {
    return nullptr;
  }
  // Room for the burst a scan of a large block makes; without privileges
  // the kernel caps it at rmem_max, and a loss is then told (kLost).
  int bytes = 1 << 20;
  const int fd = mnl_socket_get_fd(socket.get());
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes)) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  }
  return std::make_unique<KernelEvents>(std::move(socket), ifindex);
}

}  // namespace norvane
