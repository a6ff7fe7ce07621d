// Arbitrary bytes read as rtnetlink datagrams, the way the Linux resolver
// reads the kernel's answers and neighbour events. Beyond not crashing, the
// readers must agree with one another (a reply is the first message a dump
// or an event stream of the same bytes holds) and with what they read (each
// result, written back as the kernel would send it, reads back the same).
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <tuple>
#include <vector>

#include "netlink.h"

namespace {

using namespace norvane::netlink;

void Require(bool holds) {
  if (!holds) __builtin_trap();
}

bool Same(const Route& a, const Route& b) {
  return std::tie(a.type, a.oif, a.via_gateway, a.gateway) ==
         std::tie(b.type, b.oif, b.via_gateway, b.gateway);
}
bool Same(const Link& a, const Link& b) {
  return std::tie(a.index, a.flags, a.name, a.address) ==
         std::tie(b.index, b.flags, b.name, b.address);
}
bool Same(const Neighbour& a, const Neighbour& b) {
  return std::tie(a.deleted, a.ifindex, a.state, a.destination, a.address,
                  a.router) == std::tie(b.deleted, b.ifindex, b.state,
                                        b.destination, b.address, b.router);
}

// One message as the kernel would send it, with room for payload bytes of
// attributes after its fixed header.
class Message {
 public:
  Message(std::uint16_t type, std::size_t header, std::size_t payload)
      : words_((MNL_NLMSG_HDRLEN + MNL_ALIGN(header) + payload + 64) / 4, 0) {
    nlh_ = mnl_nlmsg_put_header(words_.data());
    nlh_->nlmsg_type = type;
    extra_ = mnl_nlmsg_put_extra_header(nlh_, header);
  }
  template <typename Header>
  Header* header() {
    return static_cast<Header*>(extra_);
  }
  nlmsghdr* nlh() { return nlh_; }
  std::span<const std::uint8_t> bytes() const {
    return {reinterpret_cast<const std::uint8_t*>(words_.data()),
            nlh_->nlmsg_len};
  }

 private:
  std::vector<std::uint32_t> words_;
  nlmsghdr* nlh_;
  void* extra_;
};

void RoundTrip(const Route& route) {
  Message message(RTM_NEWROUTE, sizeof(rtmsg), 32);
  const bool inet6 = route.gateway.is_inet6();
  message.header<rtmsg>()->rtm_family = inet6 ? AF_INET6 : AF_INET;
  message.header<rtmsg>()->rtm_type = route.type;
  if (route.oif != 0) mnl_attr_put_u32(message.nlh(), RTA_OIF, route.oif);
  if (route.via_gateway) {
    mnl_attr_put(message.nlh(), RTA_GATEWAY, inet6 ? 16 : 4,
                 route.gateway.bytes.data());
  }
  const auto again = ParseRouteReply(message.bytes(), 0, 0);
  Require(again && Same(*again, route));
}

void RoundTrip(const Link& link) {
  Message message(RTM_NEWLINK, sizeof(ifinfomsg),
                  MNL_ALIGN(link.name.size()) + MNL_ALIGN(link.address.size()) +
                      2 * MNL_ATTR_HDRLEN);
  message.header<ifinfomsg>()->ifi_index = link.index;
  message.header<ifinfomsg>()->ifi_flags = link.flags;
  // The name as it was read: up to its first NUL, none after it.
  if (!link.name.empty()) {
    mnl_attr_put(message.nlh(), IFLA_IFNAME, link.name.size(),
                 link.name.data());
  }
  if (!link.address.empty()) {
    mnl_attr_put(message.nlh(), IFLA_ADDRESS, link.address.size(),
                 link.address.data());
  }
  const auto again = ParseLinkReply(message.bytes(), 0, 0);
  Require(again && Same(*again, link));
}

void RoundTrip(const Neighbour& neighbour) {
  Message message(neighbour.deleted ? RTM_DELNEIGH : RTM_NEWNEIGH,
                  sizeof(ndmsg), 32 + MNL_ALIGN(neighbour.address.size()));
  const bool inet6 = neighbour.destination && neighbour.destination->is_inet6();
  message.header<ndmsg>()->ndm_family = inet6 ? AF_INET6 : AF_INET;
  message.header<ndmsg>()->ndm_ifindex = neighbour.ifindex;
  message.header<ndmsg>()->ndm_state = neighbour.state;
  message.header<ndmsg>()->ndm_flags = neighbour.router ? NTF_ROUTER : 0;
  if (neighbour.destination) {
    mnl_attr_put(message.nlh(), NDA_DST, inet6 ? 16 : 4,
                 neighbour.destination->bytes.data());
  }
  if (!neighbour.address.empty()) {
    mnl_attr_put(message.nlh(), NDA_LLADDR, neighbour.address.size(),
                 neighbour.address.data());
  }
  const auto again = ParseNeighbourReply(message.bytes(), 0, 0);
  Require(again && Same(*again, neighbour));
}

void RoundTrip(const InterfaceAddress& address) {
  Message message(RTM_NEWADDR, sizeof(ifaddrmsg), 16);
  message.header<ifaddrmsg>()->ifa_family = AF_INET;
  message.header<ifaddrmsg>()->ifa_prefixlen = address.prefix;
  message.header<ifaddrmsg>()->ifa_index =
      static_cast<std::uint32_t>(address.ifindex);
  mnl_attr_put_u32(message.nlh(), IFA_LOCAL, address.address);
  std::vector<InterfaceAddress> again;
  (void)ParseAddressDump(message.bytes(), 0, 0, again);
  Require(again.size() == 1 && again[0].ifindex == address.ifindex &&
          again[0].prefix == address.prefix &&
          again[0].address == address.address);
}

// An entry speaks for its own address on its own interface only, and when
// it resolves it says how the answer was known and fits the answer's buffer.
void CheckVerdicts(const Neighbour& entry) {
  const norvane::IpAddress destination = entry.destination.value_or(0u);
  norvane::IpAddress other = destination;
  other.bytes[0] ^= 1;
  Require(Judge(entry, other, entry.ifindex) == Verdict::kPending);
  Require(Judge(entry, destination, entry.ifindex ^ 1) == Verdict::kPending);
  if (Judge(entry, destination, entry.ifindex) == Verdict::kResolved) {
    Require(SourceOf(entry.state) != norvane::Source::kUnknown);
    Require(!entry.address.empty() &&
            entry.address.size() <= norvane::HardwareBuffer{}.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::span<const std::uint8_t> datagram(data, size);
  // Sequence number and port id 0 accept every message.
  if (const auto route = ParseRouteReply(datagram, 0, 0)) RoundTrip(*route);

  const auto link = ParseLinkReply(datagram, 0, 0);
  std::vector<Link> links;
  (void)ParseLinkDump(datagram, 0, 0, links);
  Require(link.has_value() == !links.empty());
  if (link) Require(Same(*link, links.front()));
  for (const Link& each : links) RoundTrip(each);

  const auto entry = ParseNeighbourReply(datagram, 0, 0);
  const std::vector<Neighbour> events = ParseNeighbourEvents(datagram);
  Require(entry.has_value() == !events.empty());
  if (entry) Require(Same(*entry, events.front()));
  for (const Neighbour& event : events) {
    RoundTrip(event);
    CheckVerdicts(event);
  }

  std::vector<InterfaceAddress> addresses;
  (void)ParseAddressDump(datagram, 0, 0, addresses);
  for (const InterfaceAddress& address : addresses) RoundTrip(address);
  // One interface for each link, in order, with networks that fit IPv4.
  const std::vector<norvane::LocalInterface> interfaces =
      Interfaces(links, addresses);
  Require(interfaces.size() == links.size());
  for (std::size_t i = 0; i < interfaces.size(); ++i) {
    Require(interfaces[i].name == links[i].name);
    for (const norvane::AttachedNetwork& network : interfaces[i].networks) {
      Require(network.prefix <= 32);
    }
  }
  return 0;
}
