#include "neighbour_prober.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace norvane {

Probing NeighbourProber::Probe(RouteSocket& requests, const IpAddress& address,
                               std::int32_t ifindex) {
  if (direct_) {
    const int error = requests.RequestResolution(address, ifindex);
    if (error == 0) return Probing::kSent;
    // The kernel could not allocate the entry: its table is full.
    if (error == ENOBUFS || error == ENOMEM) return Probing::kRefused;
    if (error != EPERM && error != EACCES) return Probing::kFailed;
    direct_ = false;
  }
  const bool inet6 = address.is_inet6();
  std::unique_ptr<FileDescriptor>& udp = inet6 ? udp6_ : udp_;
  if (!udp) {
    udp = std::make_unique<FileDescriptor>(
        socket(inet6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  }
  if (udp->get() < 0) return Probing::kFailed;
  sockaddr_storage to{};
  socklen_t to_length;
  if (inet6) {
    auto& to6 = reinterpret_cast<sockaddr_in6&>(to);
    to6.sin6_family = AF_INET6;
    to6.sin6_port = htons(9);
    std::memcpy(&to6.sin6_addr, address.bytes.data(), 16);
    to6.sin6_scope_id = address.scope;
    to_length = sizeof(to6);
  } else {
    auto& to4 = reinterpret_cast<sockaddr_in&>(to);
    to4.sin_family = AF_INET;
    to4.sin_port = htons(9);
    to4.sin_addr.s_addr = address.inet();
    to_length = sizeof(to4);
  }
  const char nothing = 0;
  if (sendto(udp->get(), &nothing, 0, MSG_DONTWAIT,
             reinterpret_cast<sockaddr*>(&to), to_length) != 0) {
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
