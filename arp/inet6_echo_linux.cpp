// One ICMPv6 echo request to the all-nodes address on each interface, and
// who answers: the IPv6 neighbours that the kernel's cache may not know
// yet. An unprivileged ping socket where the system admits the process's
// group (net.ipv4.ping_group_range), else a raw socket (CAP_NET_RAW).
#include <arpa/inet.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "file_descriptor.h"
#include "ip6_text.h"
#include "mac.h"

namespace norvane {

std::vector<std::pair<std::int32_t, IpAddress>> EchoAllNodes(
    const std::vector<std::int32_t>& ifindexes, std::chrono::milliseconds wait,
    std::string& why) {
  std::vector<std::pair<std::int32_t, IpAddress>> answers;
  if (ifindexes.empty()) return answers;
  bool raw = false;
  FileDescriptor ping(
      socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMPV6));
  FileDescriptor raw_socket(
      ping.get() >= 0
          ? -1
          : socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6));
  const int fd = ping.get() >= 0 ? ping.get() : raw_socket.get();
  if (fd < 0) {
    why =
        "no ICMPv6 echo to ff02::1: net.ipv4.ping_group_range admits no "
        "ping socket for this group and there is no CAP_NET_RAW; IPv6 "
        "neighbours from the kernel's cache alone";
    return answers;
  }
  raw = ping.get() < 0;
  if (raw) {
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &filter);
    setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
  }
  // Only the neighbours' answers: not the machine's own.
  const int off = 0;
  setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &off, sizeof off);
  const auto id = static_cast<std::uint16_t>(getpid());
  std::uint16_t seq = 0;
  for (const std::int32_t ifindex : ifindexes) {
    icmp6_hdr request{};
    request.icmp6_type = ICMP6_ECHO_REQUEST;
    request.icmp6_id = htons(id);
    request.icmp6_seq = htons(++seq);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    inet_pton(AF_INET6, "ff02::1", &to.sin6_addr);
    to.sin6_scope_id = static_cast<std::uint32_t>(ifindex);
    // An interface that cannot send loses its answers, not the others'.
    sendto(fd, &request, sizeof request, MSG_DONTWAIT,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  // The answers a hostile link can send are bounded too.
  constexpr std::size_t kMostAnswers = 4096;
  while (answers.size() < kMostAnswers) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd poll_fd{fd, POLLIN, 0};
    const int ready = poll(&poll_fd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    icmp6_hdr reply{};
    sockaddr_in6 from{};
    socklen_t length = sizeof from;
    const ssize_t n = recvfrom(fd, &reply, sizeof reply, MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &length);
    if (n < static_cast<ssize_t>(sizeof reply) ||
        reply.icmp6_type != ICMP6_ECHO_REPLY ||
        (raw && reply.icmp6_id != htons(id)) || from.sin6_scope_id == 0 ||
        !IsLinkLocal6(reinterpret_cast<const Ip6Bytes&>(from.sin6_addr)) ||
        std::ranges::find(ifindexes,
                          static_cast<std::int32_t>(from.sin6_scope_id)) ==
            ifindexes.end()) {
      continue;
    }
    Ip6Bytes bytes;
    std::memcpy(bytes.data(), &from.sin6_addr, bytes.size());
    const IpAddress address = IpAddress::Inet6(bytes, from.sin6_scope_id);
    const auto answer =
        std::make_pair(static_cast<std::int32_t>(from.sin6_scope_id), address);
    if (std::ranges::find(answers, answer) == answers.end()) {
      answers.push_back(answer);
    }
  }
  return answers;
}

}  // namespace norvane
