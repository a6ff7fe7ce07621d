#include "text.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

namespace norvane {

namespace {

// Eight bytes at p, all below 0x80.
bool AsciiWord(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return (word & 0x8080808080808080u) == 0;
}

}  // namespace

bool IsAscii(std::string_view bytes) {
  // Eight bytes at a time, the last eight overlapping if need be.
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < 8) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
      if (p[i] >= 0x80) return false;
    return true;
  }
  for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8)
    if (!AsciiWord(p + i)) return false;
  return AsciiWord(p + bytes.size() - 8);
}

std::size_t Utf8SequenceAt(std::string_view bytes, std::size_t pos,
                           char32_t& code_point) {
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(bytes[i]);
  };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  }
  // The range the second byte must fall in keeps out overlong forms,
  // surrogates and values past U+10FFFF.
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (pos + length > bytes.size()) return 0;
  if (byte(pos + 1) < low || byte(pos + 1) > high) return 0;
  char32_t value = lead & (0x7F >> length);
  value = (value << 6) | (byte(pos + 1) & 0x3F);
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(pos + i) & 0x3F);
  }
  code_point = value;
  return length;
}

bool IsValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (i + 8 <= bytes.size() && AsciiWord(p + i)) {
      i += 8;
      continue;
    }
    char32_t c;
    const std::size_t n = Utf8SequenceAt(bytes, i, c);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

void DecodeUtf8(std::string_view bytes, std::u16string& out) {
  // Never more units than bytes: write into a buffer of that size and cut it
  // to length at the end.
  out.resize(bytes.size());
  char16_t* o = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  while (i < bytes.size()) {
    // Plain ASCII, which is nearly all of a vendor table, eight at a time.
    if (i + 8 <= bytes.size() && AsciiWord(p + i)) {
      for (int k = 0; k < 8; ++k) *o++ = p[i + k];
      i += 8;
      continue;
    }
    char32_t c;
    const std::size_t n = Utf8SequenceAt(bytes, i, c);
    if (n == 0) {
      *o++ = static_cast<char16_t>(kReplacementCharacter);
      ++i;
    } else if (c < 0x10000) {
      *o++ = static_cast<char16_t>(c);
      i += n;
    } else {  // four bytes give two units
      c -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
      i += n;
    }
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
}

std::u16string DecodeUtf8(std::string_view bytes) {
  std::u16string out;
  DecodeUtf8(bytes, out);
  return out;
}

void AppendUtf16(char32_t code_point, std::u16string& out) {
  if (code_point < 0x10000) {
    out += static_cast<char16_t>(code_point);
  } else {
    code_point -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (code_point >> 10));
    out += static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
  }
}

std::optional<char32_t> NextCodePoint(std::u16string_view text,
                                      std::size_t& pos) {
  const char32_t c = text[pos++];
  if (c < 0xD800 || c > 0xDFFF) return c;
  if (c <= 0xDBFF && pos < text.size() && text[pos] >= 0xDC00 &&
      text[pos] <= 0xDFFF) {
    return 0x10000 + ((c - 0xD800) << 10) + (text[pos++] - 0xDC00);
  }
  return std::nullopt;
}

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();)
    AppendUtf8(NextCodePoint(text, i).value_or(kReplacementCharacter), out);
  return out;
}

#ifdef _WIN32

void DecodeAnsi(std::string_view bytes, std::u16string& out) {
  out.clear();
  if (bytes.empty()) return;
  if (bytes.size() > static_cast<std::size_t>(INT_MAX))
    throw std::length_error("text too long to convert");
  const int n = static_cast<int>(bytes.size());
  const int wide = MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, nullptr, 0);
  out.resize(static_cast<std::size_t>(wide));
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), n,
                      reinterpret_cast<wchar_t*>(out.data()), wide);
}

std::u16string DecodeSystemText(std::string_view bytes) {
  std::u16string out;
  DecodeAnsi(bytes, out);
  return out;
}

#else

std::u16string DecodeSystemText(std::string_view bytes) {
  return DecodeUtf8(bytes);
}

#endif

}  // namespace norvane
