#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "oui.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace norvane {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

}  // namespace

#ifdef _WIN32

void DecodeSystemText(std::string_view bytes, std::u16string& out) {
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

std::filesystem::path ProgramDirectory() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(),
                                       static_cast<DWORD>(buffer.size()));
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  return std::filesystem::path(buffer).parent_path();
}

#else

void DecodeSystemText(std::string_view bytes, std::u16string& out) {
  // Never more characters than bytes: write into a buffer of that size and
  // cut it to length at the end.
  out.resize(bytes.size());
  char16_t* o = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Plain ASCII, which is nearly all of a vendor table, eight at a time.
    while (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, p + i, 8);
      if (word & 0x8080808080808080u) break;
      for (int k = 0; k < 8; ++k) *o++ = p[i + k];
      i += 8;
    }
    if (i == n) break;
    const unsigned char b = p[i];
    if (b < 0x80) {
      *o++ = b;
      ++i;
      continue;
    }
    // Length of the sequence and the range its second byte must fall in, so
    // that overlong forms, surrogates and values past U+10FFFF are refused.
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    char32_t c = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2, c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, c = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, c = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    }
    bool valid = len != 0 && i + len <= n && p[i + 1] >= lo && p[i + 1] <= hi;
    for (std::size_t k = 2; valid && k < len; ++k)
      valid = (p[i + k] & 0xC0) == 0x80;
    if (!valid) {
      // One replacement per offending byte: later records keep their columns.
      *o++ = kReplacement;
      ++i;
      continue;
    }
    for (std::size_t k = 1; k < len; ++k) c = (c << 6) | (p[i + k] & 0x3F);
    // A four-byte sequence gives two characters, never more than its bytes.
    if (c < 0x10000) {
      *o++ = static_cast<char16_t>(c);
    } else {
      c -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
    i += len;
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
}

std::filesystem::path ProgramDirectory() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path();
}

#endif

std::u16string DecodeSystemText(std::string_view bytes) {
  std::u16string out;
  DecodeSystemText(bytes, out);
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;  // a lone surrogate has no UTF-8 form
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace norvane
