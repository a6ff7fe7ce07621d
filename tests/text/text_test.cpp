#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "text.h"

namespace norvane {
namespace {

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
