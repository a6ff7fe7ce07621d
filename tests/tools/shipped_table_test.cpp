// The vendor table the project ships: its layout, and every prefix in it
// found by the product's own reader.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "oui.h"

namespace norvane {
namespace {

constexpr std::string_view kFiller = "   (hex)        ";

std::string ReadShipped() {
  std::ifstream file(NORVANE_SHIPPED_TABLE, std::ios::binary);
  EXPECT_TRUE(file) << NORVANE_SHIPPED_TABLE;
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool IsPrefix(std::string_view text) {
  for (std::size_t i = 0; i < 8; ++i) {
    const char c = text[i];
    const bool ok = (i == 2 || i == 5)
                        ? c == '-'
                        : (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    if (!ok) return false;
  }
  return true;
}

struct Record {
  std::string prefix;
  std::string name;
};

TEST(ShippedTable, EveryLineIsACommentOrARecordEndedByCrLf) {
  const std::string table = ReadShipped();
  ASSERT_TRUE(table.ends_with("\r\n"));
  std::size_t records = 0;
  std::size_t comments = 0;
  for (std::size_t start = 0; start < table.size();) {
    const std::size_t end = table.find("\r\n", start);
    const std::string_view line(table.data() + start, end - start);
    start = end + 2;
    ASSERT_EQ(line.find_first_of("\r\n"), std::string_view::npos)
        << "stray line break in: " << line;
    if (line.starts_with('#')) {
      EXPECT_EQ(records, 0u) << "comment among the records: " << line;
      ++comments;
      continue;
    }
    ASSERT_GT(line.size(), 24u) << line;
    EXPECT_TRUE(IsPrefix(line)) << line;
    EXPECT_EQ(line.substr(8, 16), kFiller) << line;
    EXPECT_NE(line[24], ' ') << line;
    EXPECT_NE(line.back(), ' ') << line;
    ++records;
  }
  EXPECT_GE(comments, 2u);
  EXPECT_GT(records, 39000u);
}

TEST(ShippedTable, EveryPrefixFindsItsFirstRecord) {
  const std::string table = ReadShipped();
  std::vector<Record> firsts;
  std::unordered_map<std::string, std::size_t> index;
  std::size_t lines = 0;
  for (std::size_t start = 0; start < table.size(); ++lines) {
    const std::size_t end = table.find("\r\n", start);
    const std::string line = table.substr(start, end - start);
    start = end + 2;
    if (line.starts_with('#') || line.size() < 24) continue;
    if (index.emplace(line.substr(0, 8), firsts.size()).second) {
      firsts.push_back({line.substr(0, 8), line.substr(24)});
    }
  }
  ASSERT_GT(firsts.size(), 39000u);

  // The reader's lines, one pass: the first line that carries a prefix must
  // be that prefix's first record, name intact.
  ASSERT_FALSE(ReadTable(NORVANE_SHIPPED_TABLE, OUIList).has_value());
  ASSERT_EQ(OUIList.size(), lines);
  std::size_t next = 0;
  for (const std::u16string& line : OUIList) {
    if (line.starts_with(u'#')) continue;
    const std::string key = ToUtf8(std::u16string_view(line).substr(0, 8));
    const auto found = index.find(key);
    ASSERT_NE(found, index.end()) << key;
    if (found->second < next) continue;  // a later record of a known prefix
    ASSERT_EQ(found->second, next) << key;
    EXPECT_EQ(line.substr(24), DecodeSystemText(firsts[next].name)) << key;
    ++next;
  }
  EXPECT_EQ(next, firsts.size());

  // And the lookup itself, with a full hardware address text. A lookup scans
  // the table linearly, so an unoptimised build asks for every 37th prefix
  // and the last one only (all of them would take a minute there).
#ifdef NDEBUG
  constexpr std::size_t kStride = 1;
#else
  constexpr std::size_t kStride = 37;
#endif
  for (std::size_t i = 0; i < firsts.size(); ++i) {
    if (i % kStride != 0 && i + 1 != firsts.size()) continue;
    const Record& record = firsts[i];
    EXPECT_EQ(FindVendor(DecodeSystemText(record.prefix) + u"-5A-00-01"),
              DecodeSystemText(record.name))
        << record.prefix;
  }
  OUIList.clear();
}

}  // namespace
}  // namespace norvane
