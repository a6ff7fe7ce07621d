// The table is read in blocks of whole lines; whatever falls on a block's
// edge, the lines must be those of cutting the whole decoded text at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "oui.h"

namespace norvane {
namespace {

std::vector<std::u16string> WholeText(const std::string& bytes) {
  std::u16string text = DecodeSystemText(bytes);
  std::vector<std::u16string> lines;
  std::size_t count = 0;
  SplitText(text, u"\r\n", lines, count);
  return lines;
}

TEST(TableBlocks, LinesAcrossBlockEdgesMatchTheWholeText) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("norvane-blocks-" + std::to_string(::getpid()));
  constexpr std::size_t kEdge = 1 << 15;  // the reader's block size
  const std::string record = "00-0C-29   (hex)        Caf\xC3\xA9 \xFF";
  // Shifting a run of records by one byte at a time puts every kind of
  // byte on the edge: the CR, the LF, each byte of a multi-byte character.
  for (std::size_t shift = 0; shift < record.size() + 2; ++shift) {
    std::string bytes(shift, 'x');
    while (bytes.size() < 3 * kEdge) bytes += record + "\r\n";
    bytes += std::string(kEdge + 7, 'L');  // one line longer than a block
    for (const std::string tail : {"", "\r\n", "\r\n\r\n", "\r"}) {
      const std::string file = bytes + tail;
      std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
      std::vector<std::u16string> lines{u"stale"};
      ASSERT_FALSE(ReadTable(path, lines).has_value());
      ASSERT_EQ(lines, WholeText(file)) << "shift " << shift;
    }
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace norvane
