#include <algorithm>
#include <exception>

#include "oui.h"

namespace norvane {

void SplitText(std::u16string& text, const std::u16string& delimiter,
               std::vector<std::u16string>& list, std::size_t& index) {
  // Any failure ends the split quietly; what was stored stays stored.
  try {
    if (delimiter.empty()) return;  // would match everywhere and never move on
    if (!text.ends_with(delimiter)) text += delimiter;

    const char16_t* const begin = text.data();
    const char16_t* const end = begin + text.size();
    const std::size_t rest = delimiter.size() - 1;
    const char16_t* start = begin;
    for (const char16_t* at = begin;;) {
      // The next delimiter: its first character, then the others.
      at = std::find(at, end, delimiter.front());
      if (static_cast<std::size_t>(end - at) <= rest) return;
      if (!std::equal(delimiter.begin() + 1, delimiter.end(), at + 1)) {
        ++at;
        continue;
      }
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
