#include "netlink.h"

#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "ip6_text.h"

namespace norvane::netlink {
namespace {

// An address attribute of the family's length; empty when it has another.
// An IPv6 link-local address takes ifindex as its scope.
std::optional<IpAddress> AttributeAddress(const nlattr* attr,
                                          std::uint8_t family,
                                          std::int32_t ifindex) {
  const auto length = mnl_attr_get_payload_len(attr);
  const auto* payload =
      static_cast<const std::uint8_t*>(mnl_attr_get_payload(attr));
  if (family == AF_INET && length == 4) {
    std::uint32_t address;
    std::memcpy(&address, payload, sizeof address);
    return IpAddress(address);
  }
  if (family == AF_INET6 && length == 16) {
    Ip6Bytes bytes;
    std::memcpy(bytes.data(), payload, bytes.size());
    return IpAddress::Inet6(
        bytes, IsLinkLocal6(bytes) ? static_cast<std::uint32_t>(ifindex) : 0);
  }
  return std::nullopt;
}

// The length of the leading run of whole messages in data. libmnl takes a
// message length of 2 GiB or more for a negative one and walks off the
// buffer, so the run ends before any message that does not fit.
std::size_t WholeMessages(std::span<const std::uint8_t> data) {
  std::size_t end = 0;
  for (std::size_t offset = 0; data.size() - offset >= sizeof(nlmsghdr);) {
    std::uint32_t length;
    std::memcpy(&length, data.data() + offset + offsetof(nlmsghdr, nlmsg_len),
                sizeof(length));
    if (length < sizeof(nlmsghdr) || length > data.size() - offset) break;
    end = offset + length;
    offset += MNL_ALIGN(length);
    if (offset > data.size()) break;
  }
  return end;
}

// Messages are read from an aligned copy with zeroed slack after the data:
// libmnl rounds a message's end up to the next 4-byte boundary before it
// walks the attributes, which would otherwise read past a datagram whose
// last message has an unaligned length.
class AlignedCopy {
 public:
  explicit AlignedCopy(std::span<const std::uint8_t> data)
      : size_(WholeMessages(data)),
        words_((size_ + 2 * sizeof(std::uint32_t) - 1) / sizeof(std::uint32_t),
               0) {
    if (size_ > 0) std::memcpy(words_.data(), data.data(), size_);
  }
  const void* data() const { return words_.data(); }
  std::size_t size() const { return size_; }

 private:
  std::size_t size_;
  std::vector<std::uint32_t> words_;
};

// Calls visit for each attribute after the fixed header of offset bytes.
template <typename Visit>
void ForEachAttribute(const nlmsghdr* nlh, std::size_t offset, Visit visit) {
  const auto* tail = static_cast<const char*>(mnl_nlmsg_get_payload_tail(nlh));
  for (auto* attr = static_cast<const nlattr*>(
           mnl_nlmsg_get_payload_offset(nlh, offset));
       mnl_attr_ok(
           attr, static_cast<int>(tail - reinterpret_cast<const char*>(attr)));
       attr = mnl_attr_next(attr)) {
    visit(attr);
  }
}

LinkAddress AttributeBytes(const nlattr* attr) {
  const auto* bytes =
      static_cast<const std::uint8_t*>(mnl_attr_get_payload(attr));
  return LinkAddress(bytes, bytes + mnl_attr_get_payload_len(attr));
}

int ReadRoute(const nlmsghdr* nlh, void* data) {
  if (nlh->nlmsg_type != RTM_NEWROUTE ||
      mnl_nlmsg_get_payload_len(nlh) < sizeof(rtmsg)) {
    return MNL_CB_OK;
  }
  auto& out = *static_cast<std::optional<Route>*>(data);
  Route route;
  const auto* header = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
  route.type = header->rtm_type;
  ForEachAttribute(nlh, sizeof(rtmsg), [&](const nlattr* attr) {
    switch (mnl_attr_get_type(attr)) {
      case RTA_OIF:
        if (mnl_attr_validate(attr, MNL_TYPE_U32) == 0) {
          route.oif = mnl_attr_get_u32(attr);
        }
        break;
      case RTA_GATEWAY:
        // The scope is the output interface, known once all are read.
        if (auto gateway = AttributeAddress(attr, header->rtm_family, 0)) {
          route.gateway = *gateway;
        }
        route.via_gateway = true;
        break;
      case RTA_VIA:
      case RTA_MULTIPATH:
        route.via_gateway = true;
        break;
      default:
        break;
    }
  });
  if (route.gateway.is_inet6() && IsLinkLocal6(route.gateway.bytes)) {
    route.gateway.scope = route.oif;
  }
  out = route;
  return MNL_CB_STOP;
}

int ReadLink(const nlmsghdr* nlh, void* data) {
  if (nlh->nlmsg_type != RTM_NEWLINK ||
      mnl_nlmsg_get_payload_len(nlh) < sizeof(ifinfomsg)) {
    return MNL_CB_OK;
  }
  auto& out = *static_cast<std::optional<Link>*>(data);
  Link link;
  const auto* header =
      static_cast<const ifinfomsg*>(mnl_nlmsg_get_payload(nlh));
  link.index = header->ifi_index;
  link.flags = header->ifi_flags;
  ForEachAttribute(nlh, sizeof(ifinfomsg), [&](const nlattr* attr) {
    switch (mnl_attr_get_type(attr)) {
      case IFLA_ADDRESS:
        link.address = AttributeBytes(attr);
        break;
      case IFLA_IFNAME: {
        const auto* name = static_cast<const char*>(mnl_attr_get_payload(attr));
        link.name.assign(name, strnlen(name, mnl_attr_get_payload_len(attr)));
        break;
      }
      default:
        break;
    }
  });
  out = link;
  return MNL_CB_STOP;
}

int AddLink(const nlmsghdr* nlh, void* data) {
  std::optional<Link> link;
  ReadLink(nlh, &link);
  if (link) static_cast<std::vector<Link>*>(data)->push_back(std::move(*link));
  return MNL_CB_OK;
}

int AddAddress(const nlmsghdr* nlh, void* data) {
  if (nlh->nlmsg_type != RTM_NEWADDR ||
      mnl_nlmsg_get_payload_len(nlh) < sizeof(ifaddrmsg)) {
    return MNL_CB_OK;
  }
  const auto* header =
      static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(nlh));
  if (header->ifa_family != AF_INET || header->ifa_prefixlen > 32) {
    return MNL_CB_OK;
  }
  InterfaceAddress address;
  address.ifindex = static_cast<std::int32_t>(header->ifa_index);
  address.prefix = header->ifa_prefixlen;
  // IFA_LOCAL is the interface's own address; IFA_ADDRESS is the peer's on
  // a point-to-point link and the same as IFA_LOCAL elsewhere.
  bool local = false, any = false;
  ForEachAttribute(nlh, sizeof(ifaddrmsg), [&](const nlattr* attr) {
    const auto type = mnl_attr_get_type(attr);
    if ((type != IFA_LOCAL && type != IFA_ADDRESS) ||
        mnl_attr_validate(attr, MNL_TYPE_U32) != 0 ||
        (type == IFA_ADDRESS && local)) {
      return;
    }
    address.address = mnl_attr_get_u32(attr);
    local |= type == IFA_LOCAL;
    any = true;
  });
  if (any) {
    static_cast<std::vector<InterfaceAddress>*>(data)->push_back(address);
  }
  return MNL_CB_OK;
}

template <typename Item>
DumpPart ParseDump(std::span<const std::uint8_t> datagram, std::uint32_t seq,
                   std::uint32_t portid, mnl_cb_t reader,
                   std::vector<Item>& items) {
  const AlignedCopy copy(datagram);
  if (copy.size() == 0) return DumpPart::kError;
  switch (mnl_cb_run(copy.data(), copy.size(), seq, portid, reader, &items)) {
    case MNL_CB_STOP:
      return DumpPart::kDone;
    case MNL_CB_ERROR:
      return DumpPart::kError;
    default:
      return DumpPart::kMore;
  }
}

std::optional<Neighbour> ReadNeighbour(const nlmsghdr* nlh) {
  if ((nlh->nlmsg_type != RTM_NEWNEIGH && nlh->nlmsg_type != RTM_DELNEIGH) ||
      mnl_nlmsg_get_payload_len(nlh) < sizeof(ndmsg)) {
    return std::nullopt;
  }
  const auto* header = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(nlh));
  if (header->ndm_family != AF_INET && header->ndm_family != AF_INET6) {
    return std::nullopt;
  }
  Neighbour neighbour;
  neighbour.deleted = nlh->nlmsg_type == RTM_DELNEIGH;
  neighbour.ifindex = header->ndm_ifindex;
  neighbour.state = header->ndm_state;
  neighbour.router = (header->ndm_flags & NTF_ROUTER) != 0;
  ForEachAttribute(nlh, sizeof(ndmsg), [&](const nlattr* attr) {
    switch (mnl_attr_get_type(attr)) {
      case NDA_DST:
        neighbour.destination =
            AttributeAddress(attr, header->ndm_family, neighbour.ifindex);
        break;
      case NDA_LLADDR:
        neighbour.address = AttributeBytes(attr);
        break;
      default:
        break;
    }
  });
  return neighbour;
}

int ReadNeighbourReply(const nlmsghdr* nlh, void* data) {
  auto& out = *static_cast<std::optional<Neighbour>*>(data);
  out = ReadNeighbour(nlh);
  return out ? MNL_CB_STOP : MNL_CB_OK;
}

int AddInet6Neighbour(const nlmsghdr* nlh, void* data) {
  auto neighbour = ReadNeighbour(nlh);
  if (neighbour && !neighbour->deleted && neighbour->destination &&
      neighbour->destination->is_inet6() &&
      !IsMulticast6(neighbour->destination->bytes) &&
      IsUsable(neighbour->state) && !neighbour->address.empty()) {
    static_cast<std::vector<Neighbour>*>(data)->push_back(
        std::move(*neighbour));
  }
  return MNL_CB_OK;
}

int ReadNeighbourEvent(const nlmsghdr* nlh, void* data) {
  auto& out = *static_cast<std::vector<Neighbour>*>(data);
  if (auto neighbour = ReadNeighbour(nlh)) out.push_back(*neighbour);
  return MNL_CB_OK;
}

// Runs reader over the messages of datagram; the result is kept only when
// the datagram carried no error.
template <typename Result>
std::optional<Result> ParseReply(std::span<const std::uint8_t> datagram,
                                 std::uint32_t seq, std::uint32_t portid,
                                 mnl_cb_t reader) {
  const AlignedCopy copy(datagram);
  std::optional<Result> result;
  if (mnl_cb_run(copy.data(), copy.size(), seq, portid, reader, &result) ==
      MNL_CB_ERROR) {
    return std::nullopt;
  }
  return result;
}

}  // namespace

std::optional<Route> ParseRouteReply(std::span<const std::uint8_t> datagram,
                                     std::uint32_t seq, std::uint32_t portid) {
  return ParseReply<Route>(datagram, seq, portid, ReadRoute);
}

std::optional<Link> ParseLinkReply(std::span<const std::uint8_t> datagram,
                                   std::uint32_t seq, std::uint32_t portid) {
  return ParseReply<Link>(datagram, seq, portid, ReadLink);
}

std::optional<Neighbour> ParseNeighbourReply(
    std::span<const std::uint8_t> datagram, std::uint32_t seq,
    std::uint32_t portid) {
  return ParseReply<Neighbour>(datagram, seq, portid, ReadNeighbourReply);
}

DumpPart ParseLinkDump(std::span<const std::uint8_t> datagram,
                       std::uint32_t seq, std::uint32_t portid,
                       std::vector<Link>& links) {
  return ParseDump(datagram, seq, portid, AddLink, links);
}

DumpPart ParseAddressDump(std::span<const std::uint8_t> datagram,
                          std::uint32_t seq, std::uint32_t portid,
                          std::vector<InterfaceAddress>& addresses) {
  return ParseDump(datagram, seq, portid, AddAddress, addresses);
}

DumpPart ParseNeighbourDump(std::span<const std::uint8_t> datagram,
                            std::uint32_t seq, std::uint32_t portid,
                            std::vector<Neighbour>& neighbours) {
  return ParseDump(datagram, seq, portid, AddInet6Neighbour, neighbours);
}

std::vector<LocalInterface> Interfaces(
    const std::vector<Link>& links,
    const std::vector<InterfaceAddress>& addresses,
    const std::vector<Neighbour>& inet6_neighbours) {
  std::vector<LocalInterface> interfaces;
  for (const Link& link : links) {
    LocalInterface& interface = interfaces.emplace_back();
    interface.name = link.name;
    interface.index = link.index;
    interface.scannable =
        (link.flags & IFF_UP) && RefuseLink(link) == Reason::kNone;
    for (const InterfaceAddress& address : addresses) {
      if (address.ifindex != link.index) continue;
      std::uint8_t bytes[4];
      std::memcpy(bytes, &address.address, sizeof bytes);
      interface.networks.push_back({std::uint32_t{bytes[0]} << 24 |
                                        std::uint32_t{bytes[1]} << 16 |
                                        std::uint32_t{bytes[2]} << 8 | bytes[3],
                                    address.prefix});
    }
    for (const Neighbour& neighbour : inet6_neighbours) {
      if (neighbour.ifindex == link.index) {
        interface.inet6_neighbours.push_back(*neighbour.destination);
      }
    }
    // The kernel dumps its hash table's order: in address order instead, so
    // that one scan's lines come as the last one's did.
    std::ranges::sort(interface.inet6_neighbours);
  }
  return interfaces;
}

std::vector<Neighbour> ParseNeighbourEvents(
    std::span<const std::uint8_t> datagram) {
  const AlignedCopy copy(datagram);
  std::vector<Neighbour> events;
  // Events carry sequence number and port id 0, which match anything.
  mnl_cb_run(copy.data(), copy.size(), 0, 0, ReadNeighbourEvent, &events);
  return events;
}

bool IsUsable(std::uint16_t state) {
  return (state & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE |
                   NUD_PERMANENT | NUD_NOARP)) != 0;
}

Source SourceOf(std::uint16_t state) {
  if (state & NUD_REACHABLE) return Source::kReachable;
  if (state & NUD_STALE) return Source::kStale;
  if (state & NUD_DELAY) return Source::kDelay;
  if (state & NUD_PROBE) return Source::kProbe;
  if (state & NUD_PERMANENT) return Source::kPermanent;
  if (state & NUD_NOARP) return Source::kNoArp;
  return Source::kUnknown;
}

Reason RefuseRoute(const Route& route) {
  switch (route.type) {
    case RTN_UNICAST:
      break;
    case RTN_BROADCAST:
    case RTN_MULTICAST:
    case RTN_ANYCAST:
      return Reason::kNotUnicast;
    default:  // unreachable, blackhole, prohibit, throw, ...
      return Reason::kNoRoute;
  }
  if (route.via_gateway) return Reason::kOffLink;
  return route.oif == 0 ? Reason::kNoRoute : Reason::kNone;
}

Reason RefuseLink(const Link& link) {
  if (link.flags & (IFF_LOOPBACK | IFF_NOARP | IFF_POINTOPOINT)) {
    return Reason::kNoArp;
  }
  // Its neighbours' addresses would not fit the answer either.
  if (link.address.empty() || link.address.size() > 6) {
    return Reason::kBadAnswer;
  }
  return Reason::kNone;
}

Verdict Judge(const Neighbour& neighbour, const IpAddress& destination,
              std::int32_t ifindex) {
  if (neighbour.deleted || neighbour.ifindex != ifindex ||
      neighbour.destination != destination) {
    return Verdict::kPending;
  }
  if (IsUsable(neighbour.state)) {
    const bool fits =
        !neighbour.address.empty() && neighbour.address.size() <= 6;
    return fits ? Verdict::kResolved : Verdict::kUnusable;
  }
  if (neighbour.state & NUD_FAILED) return Verdict::kFailed;
  return Verdict::kPending;
}

std::size_t WaitingLimit(std::optional<long> thresh2,
                         std::optional<long> thresh3) {
  // Above gc_thresh2 the kernel starts forced collection and at gc_thresh3
  // it refuses new entries; other entries share the table, so half of the
  // smaller one is left for them. gc_thresh1 only lets periodic collection
  // drop failed and long unused entries, which a run may well pass.
  const long room = std::min(thresh2.value_or(512), thresh3.value_or(1024));
  return static_cast<std::size_t>(std::clamp(room / 2, 1L, 256L));
}

}  // namespace norvane::netlink
