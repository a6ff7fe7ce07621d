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
//
// This file is the kernel those parts make up (SystemKernel) and the
// platform's entry points; the parts sit beside it: the address as typed
// (address_text.h), the rtnetlink socket (route_socket.h), the /proc
// neighbour settings (neighbour_settings.h) and the prober
// (neighbour_prober.h).
#include <linux/rtnetlink.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "address_text.h"
#include "mac.h"
#include "neighbour_prober.h"
#include "neighbour_settings.h"
#include "netlink.h"
#include "packet.h"
#include "resolver.h"
#include "route_socket.h"

namespace norvane {
namespace {

using netlink::Link;
using netlink::Neighbour;
using netlink::Route;

// The kernel itself, over rtnetlink; sockets are opened when first needed.
class SystemKernel : public Kernel {
 public:
  std::optional<Route> GetRoute(const IpAddress& destination,
                                unsigned flags) override {
    if (!Requests()) return std::nullopt;
    return requests_->GetRoute(destination, flags);
  }
  std::optional<Link> GetLink(std::uint32_t index) override {
    if (!Requests()) return std::nullopt;
    return requests_->GetLink(index);
  }
  std::optional<Neighbour> GetNeighbour(const IpAddress& destination,
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
  Probing Probe(const IpAddress& destination, std::int32_t ifindex) override {
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
  NeighbourProber prober_;
};

void ResolveAddresses(std::span<const IpAddress> addresses,
                      const ResolveOptions& options, const ResolveDone& done) {
  SystemKernel kernel;
  // One address keeps the kernel's path: the cache first, no frame at all
  // for a host it knows. ARP frames ask for IPv4 addresses only: a run with
  // IPv6 addresses in it is the kernel's whole.
  std::unique_ptr<norvane::Prober> wire;
  const bool inet_only =
      std::none_of(addresses.begin(), addresses.end(),
                   [](const IpAddress& address) { return address.is_inet6(); });
  if (addresses.size() > 1 && inet_only && packet::MaySendFrames()) {
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
  // Without the neighbours the networks are still there to scan.
  std::vector<Neighbour> neighbours;
  if (!socket->Dump(RTM_GETNEIGH, neighbours)) neighbours.clear();
  return netlink::Interfaces(links, addresses, neighbours);
}

const AddressPlatform& SystemPlatform() {
  static const AddressPlatform platform{ParseAddress, ResolveAddresses,
                                        ParseAddress6};
  return platform;
}

}  // namespace norvane
