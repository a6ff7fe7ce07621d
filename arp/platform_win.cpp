// The Windows platform: ws2_32's inet_addr on the text in the ANSI code page,
// and the IP Helper's SendARP with source address 0.
#define _WINSOCK_DEPRECATED_NO_WARNINGS
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <string>

#include "mac.h"

namespace norvane {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide text");

// Winsock is started once, the first time an address is parsed.
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

bool ResolveAddress(std::uint32_t address, HardwareBuffer& buffer,
                    std::uint32_t& length) {
  ULONG answer_length = length;
  const DWORD status = SendARP(address, 0, buffer.data(), &answer_length);
  length = answer_length;
  return status == NO_ERROR;
}

}  // namespace

const AddressPlatform& SystemPlatform() {
  static const AddressPlatform platform{ParseAddress, ResolveAddress};
  return platform;
}

}  // namespace norvane
