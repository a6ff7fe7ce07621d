// Splits arbitrary text at an arbitrary delimiter and checks that the
// pieces, each followed by the delimiter, spell the text up to a tail in
// which no delimiter starts (a tail only overlapping delimiters leave).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "oui.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) return 0;
  // First byte: delimiter length in characters (0 to 3) and the starting
  // index (0 to 2); then the delimiter and the text, two bytes a character.
  const std::size_t delimiter_length = data[0] % 4;
  const std::size_t start = data[0] / 4 % 3;
  ++data, --size;
  std::u16string all(size / 2, u'\0');
  std::memcpy(all.data(), data, all.size() * 2);
  if (all.size() < delimiter_length) return 0;
  const std::u16string delimiter = all.substr(0, delimiter_length);
  std::u16string text = all.substr(delimiter_length);
  const std::u16string original = text;

  std::vector<std::u16string> list;
  std::size_t index = start;
  norvane::SplitText(text, delimiter, list, index);

  if (delimiter.empty()) {
    if (!list.empty() || index != start) std::abort();
    return 0;
  }
  if (index != list.size() || index <= start) std::abort();
  std::u16string joined;
  for (std::size_t i = start; i < list.size(); ++i)
    joined += list[i] + delimiter;
  if (text.compare(0, joined.size(), joined) != 0) std::abort();
  if (text.find(delimiter, joined.size()) != std::u16string::npos) std::abort();
  if (text.compare(0, original.size(), original) != 0) std::abort();
  return 0;
}
