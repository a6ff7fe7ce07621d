#include <gtest/gtest.h>

#include "oui.h"

namespace norvane {
namespace {

using Lines = std::vector<std::u16string>;

Lines Split(std::u16string text, const std::u16string& delimiter = u"\r\n") {
  Lines list;
  std::size_t index = 0;
  SplitText(text, delimiter, list, index);
  EXPECT_EQ(index, list.size());
  return list;
}

TEST(SplitText, PiecesAtEveryDelimiter) {
  EXPECT_EQ(Split(u""), Lines{u""});
  EXPECT_EQ(Split(u"no delimiter"), Lines{u"no delimiter"});
  EXPECT_EQ(Split(u"AB\r\nCD"), (Lines{u"AB", u"CD"}));
  EXPECT_EQ(Split(u"AB\r\nCD\r\n"), (Lines{u"AB", u"CD"}));
  EXPECT_EQ(Split(u"AB\r\nCD\r\n\r\n"), (Lines{u"AB", u"CD", u""}));
  EXPECT_EQ(Split(u"A\r\n\r\nB\r\n"), (Lines{u"A", u"", u"B"}));
  EXPECT_EQ(Split(u"\r\nA"), (Lines{u"", u"A"}));
  EXPECT_EQ(Split(u"a,b", u","), (Lines{u"a", u"b"}));
}

TEST(SplitText, LoneLineFeedOrCarriageReturnStaysInsideTheLine) {
  EXPECT_EQ(Split(u"A\nB\rC\n\r"), Lines{u"A\nB\rC\n\r"});
  // "\r\r\n": the first CR belongs to the line.
  EXPECT_EQ(Split(u"A\r\r\nB"), (Lines{u"A\r", u"B"}));
}

TEST(SplitText, AppendsTheDelimiterToTheCallersText) {
  std::u16string text = u"A\r\nB";
  Lines list;
  std::size_t index = 0;
  SplitText(text, u"\r\n", list, index);
  EXPECT_EQ(text, u"A\r\nB\r\n");
  SplitText(text, u"\r\n", list, index);  // already ended: left alone
  EXPECT_EQ(text, u"A\r\nB\r\n");
  EXPECT_EQ(list, (Lines{u"A", u"B", u"A", u"B"}));
}

TEST(SplitText, StartsAtTheCallersIndex) {
  Lines list;
  std::size_t index = 5;
  std::u16string text;
  SplitText(text, u"\r\n", list, index);
  EXPECT_EQ(index, 6u);
  EXPECT_EQ(list, (Lines{u"", u"", u"", u"", u"", u""}));

  // Entries below the index are kept; the list ends at the last piece.
  list = {u"keep", u"old", u"old", u"old"};
  index = 1;
  text = u"new";
  SplitText(text, u"\r\n", list, index);
  EXPECT_EQ(list, (Lines{u"keep", u"new"}));
}

TEST(SplitText, FailsQuietly) {
  // An empty delimiter can never advance; nothing is stored.
  Lines list{u"kept"};
  std::size_t index = 1;
  std::u16string text = u"abc";
  SplitText(text, u"", list, index);
  EXPECT_EQ(list, Lines{u"kept"});
  EXPECT_EQ(index, 1u);

  // An index no list can reach stops the split without throwing.
  index = static_cast<std::size_t>(-1);
  SplitText(text, u",", list, index);
  EXPECT_EQ(list, Lines{u"kept"});
}

// The system code page is UTF-8 on Linux; Windows reads the ANSI code page,
// tested with the table.
#ifndef _WIN32
TEST(DecodeSystemText, EachInvalidByteBecomesOneReplacement) {
  EXPECT_EQ(DecodeSystemText("caf\xC3\xA9"), u"caf\u00E9");
  EXPECT_EQ(DecodeSystemText("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(DecodeSystemText("a\xFF"
                             "b"),
            u"a\uFFFDb");
  // Truncated, overlong, surrogate and out-of-range forms.
  EXPECT_EQ(DecodeSystemText("\xE2\x82"
                             "A"),
            u"\uFFFD\uFFFDA");
  EXPECT_EQ(DecodeSystemText("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(DecodeSystemText("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(DecodeSystemText("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(DecodeSystemText(std::string_view("a\0b", 3)),
            std::u16string(u"a\0b", 3));
  EXPECT_EQ(ToUtf8(DecodeSystemText("caf\xC3\xA9 \xF0\x9F\x98\x80")),
            "caf\xC3\xA9 \xF0\x9F\x98\x80");
}
#endif

}  // namespace
}  // namespace norvane
