// The vendor table the project ships, read back through the product's
// reader: the comments first, then records in the converter's form, as many
// of each block size as the registry's listings hold. (Lookups in it:
// oui_test's LoadReadsBesideTheExecutable.)
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "oui.h"
#include "text.h"

namespace norvane {
namespace {

TEST(ShippedTable, CommentsThenRecordsInTheConvertersForm) {
  ASSERT_FALSE(ReadTable(NORVANE_SHIPPED_TABLE, OUIList).has_value());

  // A prefix of 24, 28 or 36 bits, blanks to column 25, a name without
  // blanks around it.
  const std::wregex kRecord(
      L"([0-9A-F]{2}-){2}[0-9A-F]{2}(-[0-9A-F]|-[0-9A-F]{2}-[0-9A-F])? +"
      L"\\(hex\\) +[^ ](.*[^ ])?");
  std::size_t records[14] = {};  // by prefix length
  bool comments_done = false;
  for (std::size_t i = 0; i < OUIList.size(); ++i) {
    const std::u16string line = OUIList[i];
    if (line.starts_with(u'#')) {
      EXPECT_FALSE(comments_done) << ToUtf8(line);
      continue;
    }
    comments_done = true;
    const std::wstring wide(line.begin(), line.end());
    EXPECT_TRUE(std::regex_match(wide, kRecord)) << ToUtf8(line);
    ++records[std::min(line.find(u' '), std::size_t{13})];
  }
  // oui-data 2.1.9 (MA-L, MA-M, MA-S) and the IAB listing.
  EXPECT_EQ(records[8], 40010u);
  EXPECT_EQ(records[10], 6565u);
  EXPECT_GE(records[13], 7155u + 4000u);
  OUIList.clear();
}

}  // namespace
}  // namespace norvane
