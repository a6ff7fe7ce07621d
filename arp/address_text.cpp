#include "address_text.h"

#include <arpa/inet.h>

#include <climits>
#include <cwchar>
#include <optional>

#include "mac.h"
#include "text.h"

namespace norvane {
namespace {

static_assert(sizeof(wchar_t) == 4, "wchar_t holds one code point");

// The text in the locale's multibyte encoding; empty when a character has no
// encoding there (or the text holds a lone surrogate or a NUL).
std::optional<std::string> ToLocaleBytes(const std::u16string& text) {
  std::string bytes;
  std::mbstate_t state{};
  char out[MB_LEN_MAX];
  for (std::size_t i = 0; i < text.size();) {
    const std::optional<char32_t> code = NextCodePoint(text, i);
    if (!code || *code == 0) return std::nullopt;
    const std::size_t n =
        std::wcrtomb(out, static_cast<wchar_t>(*code), &state);
    if (n == static_cast<std::size_t>(-1)) return std::nullopt;
    bytes.append(out, n);
  }
  // Back to the initial shift state, for stateful encodings.
  const std::size_t n = std::wcrtomb(out, L'\0', &state);
  if (n == static_cast<std::size_t>(-1)) return std::nullopt;
  bytes.append(out, n - 1);
  return bytes;
}

}  // namespace

std::uint32_t ParseAddress(const std::u16string& text) {
  const std::optional<std::string> bytes = ToLocaleBytes(text);
  if (!bytes) return kMalformedAddress;
  return inet_addr(bytes->c_str());
}

}  // namespace norvane
