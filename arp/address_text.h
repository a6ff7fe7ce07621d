// An address as the user typed it, read the way the C library reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ip_address.h"

namespace norvane {

// The text through the locale's multibyte encoding, then inet_addr;
// kMalformedAddress when a character has no encoding there (or the text
// holds a lone surrogate or a NUL).
std::uint32_t ParseAddress(const std::u16string& text);

// IPv6 text (ip6_text.h) with its zone, an interface name or index, made
// the address's link when it is link-local; without a zone a link-local
// address is on interface_name, when that is given. Empty for text that is
// not IPv6 or an interface that is not there.
std::optional<IpAddress> ParseAddress6(const std::u16string& text,
                                       const std::string& interface_name);

}  // namespace norvane
