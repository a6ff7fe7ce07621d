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

std::string Read(const std::string& path) { return test::ReadFile(path); }

// An address inside the block of a prefix of 8, 10 or 13 characters.
std::u16string InBlock(const std::u16string& prefix) {
  return prefix + std::u16string(u"-5A-00-01").substr(prefix.size() - 8);
}

TEST(ShippedTable, EveryRecordFindsItsOrganisation) {
  const std::string bytes = Read(NORVANE_SHIPPED_TABLE);
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
    ASSERT_TRUE(prefix.size() == 8 || prefix.size() == 10 ||
                prefix.size() == 13);
    ++records[prefix.size()];
    first.emplace(prefix, line.substr(24));
  }
  // oui-data 2.1.9 (MA-L, MA-M, MA-S) and the IAB listing.
  EXPECT_EQ(records[8], 40010u);
  EXPECT_EQ(records[10], 6565u);
  EXPECT_GE(records[13], 7155u + 4000u);

  // The longest block holding the address names it, whatever the order.
  for (const auto& [prefix, name] : first) {
    const std::u16string mac = InBlock(prefix);
    std::u16string expected;
    for (const std::size_t n : {8, 10, 13}) {
      const auto it = first.find(mac.substr(0, n));
      if (it != first.end()) expected = it->second;
    }
    ASSERT_EQ(FindVendor(mac), expected) << ToUtf8(mac);
  }

  // The MA-L records alone, a table as every earlier one, give their old
  // answers: the first line with the address's first eight characters.
  std::string old;
  for (std::size_t start = 0; start < bytes.size();) {
    const std::size_t end = bytes.find("\r\n", start) + 2;
    if (bytes[start] == '#' || bytes[start + 8] == ' ')
      old.append(bytes, start, end - start);
    start = end;
  }
  const VendorTable table = VendorTable::FromBytes(old);
  for (const auto& [prefix, name] : first) {
    if (prefix.size() != 8) continue;
    ASSERT_EQ(table.Find(InBlock(prefix)), name) << ToUtf8(prefix);
    ASSERT_EQ(table.Find(prefix + u"-A0-00-01"), name) << ToUtf8(prefix);
  }
  OUIList.clear();
}

// The converter's tables of the registry excerpts answer as the plain scan
// does, for every prefix they hold and its neighbours.
TEST(ShippedTable, ExcerptTablesAnswerAsThePlainScan) {
  for (const char* name :
       {"oui-excerpt.txt", "oui-excerpt.csv", "oui-data-excerpt.json",
        "malformed.txt", "malformed.csv", "malformed.json", "mam-excerpt.txt",
        "iab-excerpt.txt", "oui36-excerpt.csv"}) {
    const std::string bytes =
        Read(std::string(NORVANE_REGISTRY_DATA "/") + name + ".table");
    ASSERT_FALSE(bytes.empty()) << name;
    const VendorTable table = VendorTable::FromBytes(bytes);
    const auto lines = reference::Lines(bytes);
    for (const std::u16string& line : lines) {
      for (const std::u16string_view tail : {u"", u"-00-00-01", u"0-00-01"}) {
        for (const std::size_t n : {8, 10, 13}) {
          const std::u16string mac = line.substr(0, n) + std::u16string(tail);
          EXPECT_EQ(table.Find(mac), reference::Find(lines, mac))
              << name << " " << ToUtf8(mac);
        }
      }
    }
  }
}

}  // namespace
}  // namespace norvane
