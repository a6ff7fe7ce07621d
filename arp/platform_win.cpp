// The Windows platform: ws2_32's inet_addr on the text in the ANSI code page,
// and the IP Helper's SendARP with source address 0. SendARP blocks until the
// host answers or the system gives up, so a run of many addresses spreads
// its calls over a small pool of threads.
#define _WINSOCK_DEPRECATED_NO_WARNINGS
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <string>

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

std::uint32_t ParseAddress(const std::u16string& text) {
  StartWinsock();
  const auto* wide = reinterpret_cast<const wchar_t*>(text.c_str());
  const int wide_length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, wide, wide_length, nullptr, 0,
                                       nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_ACP, 0, wide, wide_length, ansi.data(), size,
                        nullptr, nullptr);
  }
  return inet_addr(ansi.c_str());
}

Resolution ResolveOne(std::uint32_t address) {
  Resolution answer;
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

void ResolveAddresses(std::span<const std::uint32_t> addresses,
                      const ResolveOptions& options, const ResolveDone& done) {
  RunPooled(addresses, options, ResolveOne, done);
}

}  // namespace

const AddressPlatform& SystemPlatform() {
  static const AddressPlatform platform{ParseAddress, ResolveAddresses};
  return platform;
}

}  // namespace norvane
