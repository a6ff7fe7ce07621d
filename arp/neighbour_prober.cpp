#include "neighbour_prober.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

namespace norvane {

Probing NeighbourProber::Probe(RouteSocket& requests, std::uint32_t address,
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

}  // namespace norvane
