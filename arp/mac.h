// The hardware address query: an IPv4 address text becomes the host's
// hardware address text (XX-XX-XX-XX-XX-XX) or a fixed error text. Many
// addresses can be queried at once; a single query takes the same path.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ip_address.h"

namespace norvane {

// What inet_addr returns for text it cannot read (and for 255.255.255.255).
inline constexpr std::uint32_t kMalformedAddress = 0xFFFFFFFF;

// The hardware address buffer handed to the platform: 6 bytes.
using HardwareBuffer = std::array<std::uint8_t, 6>;

// Why a query failed.
enum class Reason : std::uint8_t {
  kNone,
  kMalformed,       // the text is not an address
  kNotUnicast,      // 0.0.0.0/8, loopback, multicast, broadcast
  kOffLink,         // not on a directly connected network
  kNoArp,           // the interface does no ARP
  kNoReply,         // nobody answered within the deadline
  kNoRoute,         // no route to the address
  kBadAnswer,       // the answer holds no usable hardware address
  kTableFull,       // the neighbour table had no room until the deadline
  kOtherInterface,  // not reached through the interface the run is limited to
  kNotSupported,    // this system cannot ask for an address of this family
  kSystem,          // the platform's call itself failed
};

// The reason in words, for people and for scripts.
const char* ReasonText(Reason reason);

// Where an answer came from: the state of the neighbour entry (Linux), or
// the machine's own address. kUnknown where the platform does not say.
enum class Source : std::uint8_t {
  kUnknown,
  kReachable,
  kStale,
  kDelay,
  kProbe,
  kPermanent,
  kNoArp,
  kOwn,
  kReply,  // a reply to a request of the run's own, read off the wire
};
const char* SourceText(Source source);

// The platform's answer for one address.
struct Resolution {
  bool resolved = false;
  // On success length is the number of address bytes the platform reports,
  // which may exceed the buffer's capacity.
  HardwareBuffer buffer{};
  std::uint32_t length = 0;
  Reason reason = Reason::kNone;  // when not resolved
  Source source = Source::kUnknown;
  IpAddress gateway{};  // for kOffLink; 0.0.0.0 if none
  // A reply read off the wire: every other hardware address that answered
  // for the same address, in the order they came, and whether the frame of
  // the reply taken came from another Ethernet address (frame_source) than
  // the one it names.
  std::vector<HardwareBuffer> conflicts{};
  bool foreign_frame = false;
  HardwareBuffer frame_source{};
  // The IPv6 neighbour said it is a router.
  bool router = false;
};

// How a run of queries treats the network.
struct ResolveOptions {
  // How long to wait for an answer after asking; zero for the kernel's own
  // resolution time.
  std::chrono::milliseconds timeout{0};
  // Resolution requests a second at most.
  unsigned rate = 1000;
  // Where the run asks with frames of its own (a scan with CAP_NET_RAW):
  // the times an address that does not answer is asked.
  unsigned attempts = 2;
  // Once this holds true, the addresses not yet asked for end at once,
  // unasked (kSystem): the caller has no use for them any more.
  const std::atomic<bool>* stop = nullptr;
  // When not empty, only addresses reached through the interface of this
  // name are asked for; the others end as kOtherInterface.
  std::string interface_name;
  // Called once in a run, with the number of entries, when the room in the
  // kernel's neighbour table rather than the rate holds the probes back.
  std::function<void(std::size_t)> table_sets_pace;
  // When set, an address answered from a stale entry is probed as well
  // (paced, never waited for), so that the kernel confirms the entry or
  // fails it and says so in a neighbour event to whoever keeps listening.
  bool confirm_stale = false;
  // When set, IPv6 texts are read too (parse6); the window reads IPv4 only.
  bool inet6 = false;
};

// Called once for each address of a run, with its position in the run.
using ResolveDone = std::function<void(std::size_t, const Resolution&)>;

// What the query needs of the platform.
struct AddressPlatform {
  // Parses dotted IPv4 text the way the platform's inet_addr does and returns
  // the address in network byte order; kMalformedAddress for malformed text.
  std::uint32_t (*parse)(const std::u16string& text);
  // Resolves every address and calls done once for each, in any order but
  // never two calls at once, before it returns.
  void (*resolve)(std::span<const IpAddress> addresses,
                  const ResolveOptions& options, const ResolveDone& done);
  // Reads IPv6 text, with a zone (an interface name or index) or, for a
  // link-local address without one, on the interface interface_name; empty
  // when the text is not IPv6 or names no interface there is. Null where
  // the platform reads no IPv6 text.
  std::optional<IpAddress> (*parse6)(
      const std::u16string& text, const std::string& interface_name) = nullptr;
};

// The platform's own parser and resolver (rtnetlink on Linux, SendARP on
// Windows).
const AddressPlatform& SystemPlatform();

// An IPv4 network directly attached to an interface: one of its addresses
// (host byte order) and the prefix length.
struct AttachedNetwork {
  std::uint32_t address = 0;
  unsigned prefix = 32;
};

// An interface as a scan of the local networks sees it.
struct LocalInterface {
  std::string name;
  // Up, and it does ARP: not loopback, point-to-point or NOARP.
  bool scannable = false;
  std::vector<AttachedNetwork> networks;  // in the system's order
  // The IPv6 neighbours the system knows on it with a usable hardware
  // address, in address order; a link-local one with this link.
  std::vector<IpAddress> inet6_neighbours;
  std::int32_t index = 0;  // the system's interface index; 0 if none
};

// The machine's interfaces in the system's order; empty when they cannot
// be read.
std::vector<LocalInterface> LocalInterfaces();

// Linux: the IPv6 neighbours (link-local addresses, with the interface
// index each answered on) that answer one ICMPv6 echo request to the
// all-nodes address ff02::1 sent on each of ifindexes, within wait; through
// an unprivileged ping socket where the system allows one, else a raw one
// (CAP_NET_RAW). Where neither can be opened none, and why says so.
std::vector<std::pair<std::int32_t, IpAddress>> EchoAllNodes(
    const std::vector<std::int32_t>& ifindexes, std::chrono::milliseconds wait,
    std::string& why);

// The outcome of one query.
struct QueryResult {
  std::u16string mac;  // the hardware address text; empty on failure
  Reason reason = Reason::kNone;
  Source source = Source::kUnknown;
  IpAddress gateway{};
  std::vector<std::u16string> conflicts;  // other hardware addresses
  std::u16string frame_source;  // when the reply's frame came from another
  bool router = false;          // an IPv6 neighbour that routes
};
using QueryDone = std::function<void(std::size_t, const QueryResult&)>;

// Queries every text at once, under the same rules as QueryMAC (IPv6 texts
// too, read by platform.parse6, with options.inet6), and calls
// done once for each text with its position, as its answer becomes known.
void QueryMany(const std::vector<std::u16string>& texts,
               const ResolveOptions& options, const QueryDone& done,
               const AddressPlatform& platform = SystemPlatform());

// Sets result to the hardware address text of the host at text and returns
// true, or returns false and leaves result alone.
bool QueryMAC(const std::u16string& text, std::u16string& result,
              const AddressPlatform& platform = SystemPlatform());

// Shown in place of a hardware address whenever a query fails.
inline constexpr char16_t kQueryErrorText[] =
    u"Error: Gagal memanggil SendARP()";

// The hardware address text of the host at text, kQueryErrorText when the
// query fails, or the empty string for an empty text (no query is made).
std::u16string GetMAC(const std::u16string& text,
                      const AddressPlatform& platform = SystemPlatform());

}  // namespace norvane
