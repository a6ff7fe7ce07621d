// An address as the user typed it, read the way the C library reads it.
#pragma once

#include <cstdint>
#include <string>

namespace norvane {

// The text through the locale's multibyte encoding, then inet_addr;
// kMalformedAddress when a character has no encoding there (or the text
// holds a lone surrogate or a NUL).
std::uint32_t ParseAddress(const std::u16string& text);

}  // namespace norvane
