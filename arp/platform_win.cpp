// The Windows platform: ws2_32's inet_addr on the text in the ANSI code page,
// and the IP Helper's SendARP with source address 0. SendARP blocks until the
// host answers or the system gives up, so a run of many addresses spreads
// its calls over a bounded pool of threads large enough for a /24 at once.
// The adapters and their networks come from GetAdaptersAddresses.
#define _WINSOCK_DEPRECATED_NO_WARNINGS
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ip6_text.h"
#include "mac.h"
#include "pool.h"

namespace norvane {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide text");

// Winsock is started once, the first time an address is parsed, and stays
// up until the program ends.
void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

// Wide text in the ANSI code page, as the command line's arguments are.
std::string ToAnsi(const wchar_t* wide, int wide_length) {
  const int size = WideCharToMultiByte(CP_ACP, 0, wide, wide_length, nullptr, 0,
                                       nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_ACP, 0, wide, wide_length, ansi.data(), size,
                        nullptr, nullptr);
  }
  return ansi;
}

std::uint32_t ParseAddress(const std::u16string& text) {
  StartWinsock();
  return inet_addr(ToAnsi(reinterpret_cast<const wchar_t*>(text.c_str()),
                          static_cast<int>(text.size()))
                       .c_str());
}

// The adapters with their IPv4 addresses, in the system's order; null when
// they cannot be read.
std::unique_ptr<char[]> Adapters() {
  constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                           GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16384;
  // The list may grow between the calls; a few tries are enough.
  for (int attempt = 0; attempt < 4; ++attempt) {
    auto buffer = std::make_unique<char[]>(size);
    const ULONG status = GetAdaptersAddresses(
        AF_INET, kFlags, nullptr,
        reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    if (status == ERROR_SUCCESS) return buffer;
    if (status != ERROR_BUFFER_OVERFLOW) return nullptr;
  }
  return nullptr;
}

std::string AdapterName(const IP_ADAPTER_ADDRESSES& adapter) {
  return adapter.FriendlyName ? ToAnsi(adapter.FriendlyName, -1).c_str()
                              : std::string();
}

// The index of the adapter called name, if there is one.
std::optional<DWORD> AdapterIndex(const std::string& name) {
  const auto buffer = Adapters();
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get());
       adapter; adapter = adapter->Next) {
    if (AdapterName(*adapter) == name) return adapter->IfIndex;
  }
  return std::nullopt;
}

// IPv6 text is read so that an address is told apart from a typing error;
// resolving it is what this system cannot do (kNotSupported).
std::optional<IpAddress> ParseAddress6(const std::u16string& text,
                                       const std::string&) {
  std::string ascii;
  for (const char16_t c : text) {
    if (c < 0x21 || c > 0x7E) return std::nullopt;
    ascii += static_cast<char>(c);
  }
  const std::optional<Ip6Text> parsed = ParseIp6(ascii);
  if (!parsed) return std::nullopt;
  return IpAddress::Inet6(parsed->bytes);
}

Resolution ResolveOne(const IpAddress& target) {
  Resolution answer;
  if (target.is_inet6()) {
    answer.reason = Reason::kNotSupported;
    return answer;
  }
  const IPAddr address = target.inet();
  ULONG length = static_cast<ULONG>(answer.buffer.size());
  const DWORD status = SendARP(address, 0, answer.buffer.data(), &length);
  answer.length = length;
  answer.resolved = status == NO_ERROR;
  if (!answer.resolved) {
    answer.reason = status == ERROR_BAD_NET_NAME || status == ERROR_GEN_FAILURE
                        ? Reason::kNoReply
                        : Reason::kSystem;
  }
  return answer;
}

void ResolveAddresses(std::span<const IpAddress> addresses,
                      const ResolveOptions& options, const ResolveDone& done) {
  if (options.interface_name.empty()) {
    RunPooled(addresses, options, ResolveOne, done);
    return;
  }
  // Only the addresses the system would reach through the chosen adapter.
  const std::optional<DWORD> chosen = AdapterIndex(options.interface_name);
  RunPooled(
      addresses, options,
      [&](const IpAddress& address) {
        DWORD index = 0;
        if (address.is_inet6()) return ResolveOne(address);
        if (!chosen || GetBestInterface(address.inet(), &index) != NO_ERROR ||
            index != *chosen) {
          Resolution other;
          other.reason = Reason::kOtherInterface;
          return other;
        }
        return ResolveOne(address);
      },
      done);
}

}  // namespace

std::vector<LocalInterface> LocalInterfaces() {
  StartWinsock();
  std::vector<LocalInterface> interfaces;
  const auto buffer = Adapters();
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get());
       adapter; adapter = adapter->Next) {
    LocalInterface& entry = interfaces.emplace_back();
    entry.name = AdapterName(*adapter);
    // Up, with a hardware address, and neither loopback, a dial-up link nor
    // a tunnel.
    entry.scannable = adapter->OperStatus == IfOperStatusUp &&
                      adapter->IfType != IF_TYPE_SOFTWARE_LOOPBACK &&
                      adapter->IfType != IF_TYPE_PPP &&
                      adapter->IfType != IF_TYPE_TUNNEL &&
                      adapter->PhysicalAddressLength > 0 &&
                      adapter->PhysicalAddressLength <= 6;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast;
         unicast = unicast->Next) {
      const SOCKADDR* address = unicast->Address.lpSockaddr;
      if (!address || address->sa_family != AF_INET ||
          unicast->OnLinkPrefixLength > 32) {
        continue;
      }
      const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
      entry.networks.push_back(
          {ntohl(ipv4->sin_addr.s_addr), unicast->OnLinkPrefixLength});
    }
  }
  return interfaces;
}

const AddressPlatform& SystemPlatform() {
  static const AddressPlatform platform{ParseAddress, ResolveAddresses,
                                        ParseAddress6};
  return platform;
}

}  // namespace norvane
