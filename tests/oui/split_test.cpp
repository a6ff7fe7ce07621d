#include <gtest/gtest.h>

#include "oui.h"
#include "text.h"

namespace norvane {
namespace {

using Lines = std::vector<std::u16string>;
constexpr std::size_t kFar = std::size_t(-1);

// Each row: the list and index before, the text and delimiter, the list,
// index and text after.
TEST(SplitText, PiecesAtEveryDelimiter) {
  const struct {
    Lines list;
    std::size_t index;
    std::u16string text, delimiter;
    Lines pieces;
    std::size_t end;
    std::u16string text_after;
  } rows[] = {
      // A final delimiter adds no piece; other empty pieces are kept.
      {{}, 0, u"\r\nA\r\n\r\n", u"\r\n", {u"", u"A", u""}, 3, u"\r\nA\r\n\r\n"},
      // A lone CR or LF stays inside the line; "\r\r\n" keeps the first CR.
      {{}, 0, u"\nA\r\r\nB", u"\r\n", {u"\nA\r", u"B"}, 2, u"\nA\r\r\nB\r\n"},
      // From the caller's index: entries below it kept, the list cut after.
      {{}, 2, u"", u",", {u"", u"", u""}, 3, u","},
      {{u"k", u"o", u"o"}, 1, u"new", u",", {u"k", u"new"}, 2, u"new,"},
      // Failures stop quietly: an empty delimiter, an index past any list.
      {{u"kept"}, 1, u"abc", u"", {u"kept"}, 1, u"abc"},
      {{u"kept"}, kFar, u"abc", u",", {u"kept"}, kFar, u"abc,"},
  };
  for (const auto& row : rows) {
    Lines list = row.list;
    std::size_t index = row.index;
    std::u16string text = row.text;
    SplitText(text, row.delimiter, list, index);
    EXPECT_EQ(list, row.pieces) << ToUtf8(row.text);
    EXPECT_EQ(index, row.end) << ToUtf8(row.text);
    EXPECT_EQ(text, row.text_after) << ToUtf8(row.text);
  }
}

}  // namespace
}  // namespace norvane
