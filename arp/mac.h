// The hardware address query: an IPv4 address text becomes the host's
// hardware address text (XX-XX-XX-XX-XX-XX) or a fixed error text.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace norvane {

// Shown in place of a hardware address whenever a query fails.
inline constexpr char16_t kQueryErrorText[] =
    u"Error: Gagal memanggil SendARP()";

// The hardware address buffer handed to the platform: 6 bytes.
using HardwareBuffer = std::array<std::uint8_t, 6>;

// What the query needs of the platform.
struct AddressPlatform {
  // Parses dotted IPv4 text the way the platform's inet_addr does and returns
  // the address in network byte order; 0xFFFFFFFF for malformed text.
  std::uint32_t (*parse)(const std::u16string& text);
  // Resolves an address (network byte order) to its hardware address. On
  // entry length is the buffer's capacity; on success it is the number of
  // address bytes the platform reports, which may exceed the capacity.
  // Returns false when the host cannot be resolved.
  bool (*resolve)(std::uint32_t address, HardwareBuffer& buffer,
                  std::uint32_t& length);
};

// The platform's own parser and resolver (rtnetlink on Linux, SendARP on
// Windows).
const AddressPlatform& SystemPlatform();

// Sets result to the hardware address text of the host at text and returns
// true, or returns false and leaves result alone.
bool QueryMAC(const std::u16string& text, std::u16string& result,
              const AddressPlatform& platform = SystemPlatform());

// The hardware address text of the host at text, the error text when the
// query fails, or the empty string for an empty text (no query is made).
std::u16string GetMAC(const std::u16string& text,
                      const AddressPlatform& platform = SystemPlatform());

}  // namespace norvane
