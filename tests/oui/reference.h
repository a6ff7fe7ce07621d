// The vendor table done the plain way, to hold the product's table against:
// the file decoded whole, cut with SplitText, and scanned line by line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "oui.h"
#include "text.h"

namespace norvane::reference {

// The table file's bytes as text: a leading UTF-8 byte order mark dropped,
// then UTF-8 (one U+FFFD per invalid byte). On Windows, bytes that are not
// valid UTF-8 and carry no byte order mark go through the ANSI code page.
inline std::u16string DecodeTableText(std::string_view bytes) {
  std::u16string text;
  if (bytes.starts_with(kUtf8ByteOrderMark)) {
    bytes.remove_prefix(kUtf8ByteOrderMark.size());
#ifdef _WIN32
  } else if (!IsValidUtf8(bytes)) {
    DecodeAnsi(bytes, text);
    return text;
#endif
  }
  DecodeUtf8(bytes, text);
  return text;
}

inline std::vector<std::u16string> Lines(std::string_view bytes) {
  std::u16string text = DecodeTableText(bytes);
  std::vector<std::u16string> lines;
  std::size_t count = 0;
  SplitText(text, u"\r\n", lines, count);
  return lines;
}

inline std::u16string Find(const std::vector<std::u16string>& lines,
                           std::u16string_view mac) {
  for (const std::u16string& line : lines) {
    if (line.starts_with(u'#')) continue;
    // The prefix: 8 columns, 10 after a '-' in column 9, 13 after another in
    // column 12.
    std::size_t n = 8;
    if (line.size() > 8 && line[8] == u'-')
      n = line.size() > 11 && line[11] == u'-' ? 13 : 10;
    if (mac.substr(0, n) != std::u16string_view(line).substr(0, n)) continue;
    return line.size() > 24 ? line.substr(24) : std::u16string();
  }
  return {};
}

// Where table, read from bytes, departs from the plain reading of them
// (empty when nowhere): a line, or the vendor of one of macs or of the first
// 8 to 17 characters of one of the first most lines followed by suffix.
inline std::string Difference(const VendorTable& table, std::string_view bytes,
                              std::vector<std::u16string> macs,
                              const std::u16string& suffix = u"",
                              std::size_t most = std::size_t(-1)) {
  const std::vector<std::u16string> lines = Lines(bytes);
  if (table.size() != lines.size()) return "the number of lines";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (table[i] != lines[i]) return "line " + std::to_string(i + 1);
    if (i >= most) continue;
    for (const std::size_t n : {8, 9, 10, 12, 13, 17})
      macs.push_back(lines[i].substr(0, n) + suffix);
  }
  for (const std::u16string& mac : macs)
    if (table.Find(mac) != Find(lines, mac)) return ToUtf8(mac);
  return {};
}

}  // namespace norvane::reference
