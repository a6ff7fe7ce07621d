// The vendor table the project ships: every line read as the plain reader
// reads it, and every record's organisation found for an address in its
// block, the longest block winning.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>

#include "oui.h"
#include "read_file.h"
#include "reference.h"
#include "text.h"

namespace norvane {
namespace {

TEST(ShippedTable, EveryRecordFindsItsOrganisation) {
  const std::string bytes = test::ReadFile(NORVANE_SHIPPED_TABLE);
  ASSERT_TRUE(bytes.ends_with("\r\n"));
  ASSERT_FALSE(ReadTable(NORVANE_SHIPPED_TABLE, OUIList).has_value());
  const auto lines = reference::Lines(bytes);
  ASSERT_EQ(OUIList.size(), lines.size());

  // A prefix of 24, 28 or 36 bits, blanks to column 25, a name without
  // blanks around it.
  const std::wregex kRecord(
      L"([0-9A-F]{2}-){2}[0-9A-F]{2}(-[0-9A-F]|-[0-9A-F]{2}-[0-9A-F])? +"
      L"\\(hex\\) +[^ ](.*[^ ])?");
  std::map<std::u16string, std::u16string> first;  // by prefix
  std::size_t records[14] = {};
  bool comments_done = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::u16string& line = lines[i];
    ASSERT_EQ(OUIList[i], line);
    if (line.starts_with(u'#')) {
      EXPECT_FALSE(comments_done) << ToUtf8(line);
      continue;
    }
    comments_done = true;
    const std::wstring wide(line.begin(), line.end());
    EXPECT_TRUE(std::regex_match(wide, kRecord)) << ToUtf8(line);
    const std::u16string prefix = line.substr(0, line.find(u' '));
    ++records[prefix.size()];
    first.emplace(prefix, line.substr(24));
  }
  // oui-data 2.1.9 (MA-L, MA-M, MA-S) and the IAB listing.
  EXPECT_EQ(records[8], 40010u);
  EXPECT_EQ(records[10], 6565u);
  EXPECT_GE(records[13], 7155u + 4000u);

  // The longest block holding an address inside the record's block names
  // it, whatever the order of the records.
  for (const auto& [prefix, name] : first) {
    const std::u16string mac =
        prefix + std::u16string(u"-5A-00-01").substr(prefix.size() - 8);
    std::u16string expected;
    for (const std::size_t n : {8, 10, 13}) {
      const auto it = first.find(mac.substr(0, n));
      if (it != first.end()) expected = it->second;
    }
    ASSERT_EQ(FindVendor(mac), expected) << ToUtf8(mac);
  }
  OUIList.clear();
}

}  // namespace
}  // namespace norvane
