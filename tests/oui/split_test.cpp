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

TEST(Text, Utf8BothWaysWithOneReplacementPerInvalidByte) {
  const struct {
    std::string_view bytes;
    std::u16string text;
    bool valid;
  } rows[] = {
      {"caf\xC3\xA9", u"caf\u00E9", true},
      {"\xF0\x9F\x98\x80", u"\U0001F600", true},
      {std::string_view("a\0b", 3), std::u16string(u"a\0b", 3), true},
      {"a\xFFz", u"a\uFFFDz", false},
      // Truncated, overlong, surrogate and out-of-range forms.
      {"\xE2\x82z", u"\uFFFD\uFFFDz", false},
      {"\xC0\xAF", u"\uFFFD\uFFFD", false},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
      {"0123456789abcdef\xF0\x9F\x98", u"0123456789abcdef\uFFFD\uFFFD\uFFFD",
       false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(DecodeUtf8(row.bytes), row.text) << row.bytes;
    EXPECT_EQ(IsValidUtf8(row.bytes), row.valid) << row.bytes;
    if (row.valid) {
      EXPECT_EQ(ToUtf8(row.text), row.bytes);
    }
  }
  // A lone surrogate has no UTF-8 form.
  EXPECT_EQ(ToUtf8(u"a\xD800z\xDC00"), "a\xEF\xBF\xBDz\xEF\xBF\xBD");
  std::size_t pos = 0;
  EXPECT_EQ(NextCodePoint(u"\U0001F600\xDC00", pos), U'\U0001F600');
  EXPECT_EQ(NextCodePoint(u"\U0001F600\xDC00", pos), std::nullopt);
  EXPECT_EQ(pos, 3u);
}

}  // namespace
}  // namespace norvane
