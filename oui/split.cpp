#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>

#include "oui.h"

namespace norvane {

namespace {

// The next occurrence of delimiter in [at, end), or end: its first
// character, then the others.
const char16_t* FindDelimiter(const char16_t* at, const char16_t* end,
                              const std::u16string& delimiter) {
  const std::size_t rest = delimiter.size() - 1;
  const char16_t first = delimiter.front();
  // Four characters at a time: a lane of x equal to first is a zero lane
  // of x ^ pattern, which the usual carry trick detects.
  const std::uint64_t pattern = 0x0001000100010001u * first;
  for (;; ++at) {
    while (end - at >= 4) {
      std::uint64_t x;
      std::memcpy(&x, at, sizeof x);
      x ^= pattern;
      if ((x - 0x0001000100010001u) & ~x & 0x8000800080008000u) break;
      at += 4;
    }
    at = std::find(at, end, first);
    if (static_cast<std::size_t>(end - at) <= rest) return end;
    if (std::equal(delimiter.begin() + 1, delimiter.end(), at + 1)) return at;
  }
}

}  // namespace

void SplitText(std::u16string& text, const std::u16string& delimiter,
               std::vector<std::u16string>& list, std::size_t& index) {
  // Any failure ends the split quietly; what was stored stays stored.
  try {
    if (delimiter.empty()) return;  // would match everywhere and never move on
    if (!text.ends_with(delimiter)) text += delimiter;

    const char16_t* const begin = text.data();
    const char16_t* const end = begin + text.size();
    const char16_t* start = begin;
    for (const char16_t* at = begin;;) {
      at = FindDelimiter(at, end, delimiter);
      if (at == end) return;
      if (index >= list.max_size()) return;  // no room for another piece
      list.resize(index + 1);
      list[index].assign(start, at);
      ++index;
      at += delimiter.size();
      start = at;
    }
  } catch (const std::exception&) {
    // Out of memory, or an index past what a list can hold.
  }
}

}  // namespace norvane
