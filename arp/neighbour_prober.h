// Has the kernel resolve addresses through its neighbour table: directly
// where the process may (RTM_NEWNEIGH with NTF_USE, CAP_NET_ADMIN), else by
// one empty datagram to the host's discard port.
#pragma once

#include <cstdint>
#include <memory>

#include "file_descriptor.h"
#include "resolver.h"
#include "route_socket.h"

namespace norvane {

class NeighbourProber {
 public:
  // Probes address on interface ifindex; requests is the socket the kernel
  // is asked through.
  Probing Probe(RouteSocket& requests, const IpAddress& address,
                std::int32_t ifindex);

 private:
  bool direct_ = true;
  // Opened on first use, one for each family.
  std::unique_ptr<FileDescriptor> udp_;
  std::unique_ptr<FileDescriptor> udp6_;
};

}  // namespace norvane
