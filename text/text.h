// Text conversions shared by the whole program: UTF-8 and UTF-16 both ways,
// and the system's own code page.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace norvane {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The length of the well-formed UTF-8 sequence that starts at bytes[pos],
// with its code point in code_point; 0 when the byte there starts none
// (overlong forms, surrogates and values past U+10FFFF are not well formed).
std::size_t Utf8SequenceAt(std::string_view bytes, std::size_t pos,
                           char32_t& code_point);

// True when every byte of bytes is below 0x80.
bool IsAscii(std::string_view bytes);

// True when every byte of bytes belongs to a well-formed UTF-8 sequence.
bool IsValidUtf8(std::string_view bytes);

// UTF-8 to UTF-16; every byte that is not part of a well-formed sequence
// becomes one U+FFFD, so that the characters after it keep their places.
std::u16string DecodeUtf8(std::string_view bytes);
// The same into out, replacing its text and reusing its storage.
void DecodeUtf8(std::string_view bytes, std::u16string& out);

// Appends code_point to out as one UTF-16 unit or a surrogate pair.
void AppendUtf16(char32_t code_point, std::u16string& out);

// The code point of text at pos, a surrogate pair joined, and pos moved past
// it; nullopt for a lone surrogate, pos moved past that one unit. pos must be
// below text.size().
std::optional<char32_t> NextCodePoint(std::u16string_view text,
                                      std::size_t& pos);

// Appends code_point to out as UTF-8.
void AppendUtf8(char32_t code_point, std::string& out);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

// Bytes through the system's code page: UTF-8 as DecodeUtf8 on Linux, the
// ANSI code page on Windows.
std::u16string DecodeSystemText(std::string_view bytes);

#ifdef _WIN32
// Bytes through the ANSI code page, into out.
void DecodeAnsi(std::string_view bytes, std::u16string& out);
#endif

}  // namespace norvane
