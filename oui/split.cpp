#include <exception>

#include "oui.h"

namespace norvane {

void SplitText(std::u16string& text, const std::u16string& delimiter,
               std::vector<std::u16string>& list, std::size_t& index) {
  // Any failure ends the split quietly; what was stored stays stored.
  try {
    if (delimiter.empty()) return;  // would match everywhere and never move on
    if (!text.ends_with(delimiter)) text += delimiter;

    std::size_t start = 0;
    for (;;) {
      const std::size_t pos = text.find(delimiter, start);
      if (pos == std::u16string::npos) return;
      if (index >= list.max_size()) return;  // no room for another piece
      list.resize(index + 1);
      list[index].assign(text, start, pos - start);
      ++index;
      start = pos + delimiter.size();
    }
  } catch (const std::exception&) {
    // Out of memory, or an index past what a list can hold.
  }
}

}  // namespace norvane
