// The vendor table the project ships: the whole registry in the table's
// layout, every line read intact and every prefix found by the product.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "oui.h"
#include "read_file.h"

namespace norvane {
namespace {

TEST(ShippedTable, HoldsTheRegistryAndFindsEveryPrefix) {
  const std::string table = test::ReadFile(NORVANE_SHIPPED_TABLE);
  ASSERT_TRUE(table.ends_with("\r\n"));
  ASSERT_FALSE(ReadTable(NORVANE_SHIPPED_TABLE, OUIList).has_value());

  // Prefix, filler, then a name without blanks around it or stray breaks.
  const std::regex kRecord(
      "([0-9A-F]{2}-){2}[0-9A-F]{2}   \\(hex\\)        [^ \r\n](.*[^ ])?");
  std::vector<std::pair<std::string, std::string>> firsts;  // in table order
  std::unordered_set<std::string> seen;
  std::size_t lines = 0;
  std::size_t records = 0;
  for (std::size_t start = 0; start < table.size(); ++lines) {
    const std::size_t end = table.find("\r\n", start);
    const std::string line = table.substr(start, end - start);
    start = end + 2;
    ASSERT_LT(lines, OUIList.size());
    ASSERT_EQ(OUIList[lines], DecodeSystemText(line)) << line;
    if (line.starts_with('#')) {
      EXPECT_EQ(records, 0u) << "comment among the records: " << line;
      continue;
    }
    ++records;
    EXPECT_TRUE(std::regex_match(line, kRecord)) << line;
    const std::string prefix = line.substr(0, 8);
    if (seen.insert(prefix).second)
      firsts.emplace_back(prefix, line.substr(24));
  }
  EXPECT_EQ(lines, OUIList.size());
  EXPECT_GE(records, 40010u);  // the MA-L registry of August 2026

  // A lookup scans the table linearly: an unoptimised build asks for every
  // 37th prefix and the last one only (all would take a minute there).
#ifdef NDEBUG
  constexpr std::size_t kStride = 1;
#else
  constexpr std::size_t kStride = 37;
#endif
  for (std::size_t i = 0; i < firsts.size(); ++i) {
    if (i % kStride != 0 && i + 1 != firsts.size()) continue;
    const auto& [prefix, name] = firsts[i];
    EXPECT_EQ(FindVendor(DecodeSystemText(prefix) + u"-5A-00-01"),
              DecodeSystemText(name))
        << prefix;
  }
  OUIList.clear();
}

}  // namespace
}  // namespace norvane
