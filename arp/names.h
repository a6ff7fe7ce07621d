// Host names for resolved addresses, asked three ways at once and without
// privileges: reverse DNS through the system's resolver, a one-shot
// multicast DNS query answered by unicast, and a NetBIOS node status
// request. The lookups of a run go together, paced and a bounded number at
// a time, and each ends at its deadline with the best name found by then.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace norvane {

// Where a name came from; the order is the order of preference.
enum class NameSource : std::uint8_t { kNone, kDns, kMdns, kNetbios };
// "dns", "mdns" or "netbios"; empty for kNone.
const char* NameSourceText(NameSource source);

struct HostName {
  std::string text;  // UTF-8, at most names::kLongestName bytes; empty: none
  NameSource source = NameSource::kNone;
};

// Called once for each lookup with its id.
using NameDone = std::function<void(std::size_t, const HostName&)>;

struct NameOptions {
  // How long a lookup waits for its answers once its questions are out.
  std::chrono::milliseconds deadline{1000};
  // Lookups started a second, at most.
  unsigned rate = 1000;
  // Lookups waiting for answers at once, at most; the others queue.
  std::size_t most_at_once = 256;
  // The multicast DNS group and port (host byte order), NetBIOS's name port.
  std::uint32_t mdns_group = 0xE00000FB;  // 224.0.0.251
  std::uint16_t mdns_port = 5353;
  std::uint16_t netbios_port = 137;
};

class NameLookups {
 public:
  virtual ~NameLookups() = default;
  // Starts looking up the name of address (network byte order) as id.
  virtual void Look(std::size_t id, std::uint32_t address) = 0;
  // Returns once every lookup asked for has been done.
  virtual void Finish() = 0;
};

// Lookups over the system's resolver and sockets; done is called on a
// thread of their own, one call at a time. Destroying them ends the lookups
// not yet done without a call.
std::unique_ptr<NameLookups> SystemNameLookups(const NameOptions& options,
                                               NameDone done);

// How a front end makes its lookups; tests give one of their own.
using NameLookupsMaker = std::unique_ptr<NameLookups> (*)(const NameOptions&,
                                                          NameDone);

// A name as it may be shown: any byte that is not part of well-formed UTF-8
// becomes U+FFFD, and it is cut to names::kLongestName bytes at a character
// boundary.
std::string TidyName(const std::string& name);

}  // namespace norvane
