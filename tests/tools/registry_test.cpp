#include "registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "oui.h"
#include "read_file.h"
#include "text.h"

namespace norvane::registry {
namespace {

std::string ReadData(const std::string& name) {
  return test::ReadFile(NORVANE_REGISTRY_DATA "/" + name);
}

// Each input's NAME.table is the table oui-convert made from it with
// --source $'IEEE MA-L\r\nregistry' --date 2026-08-26 (see README there).
TEST(Converter, InputsGiveTheirCommittedTables) {
  const struct {
    const char* name;
    Format format;
    std::size_t skipped;
  } kInputs[] = {
      {"oui-excerpt.txt", Format::kText, 0},
      {"oui-excerpt.csv", Format::kCsv, 0},
      {"oui-data-excerpt.json", Format::kJson, 0},
      {"mam-excerpt.txt", Format::kText, 0},
      {"iab-excerpt.txt", Format::kText, 0},
      {"oui36-excerpt.csv", Format::kCsv, 0},
      {"malformed.txt", Format::kText, 3},
      {"malformed.csv", Format::kCsv, 2},
      {"malformed.json", Format::kJson, 2},
  };
  for (const auto& input : kInputs) {
    const std::string text = ReadData(input.name);
    ASSERT_EQ(DetectFormat(text), input.format) << input.name;
    const ParseResult parsed = Parse(text, input.format);
    EXPECT_EQ(parsed.skipped, input.skipped) << input.name;
    EXPECT_EQ(
        FormatTable(parsed.records, {{"IEEE MA-L\r\nregistry"}, "2026-08-26"}),
        ReadData(std::string(input.name) + ".table"))
        << input.name;
  }
  // The text form with bare line feeds reads the same.
  std::string lf = ReadData("oui-excerpt.txt");
  std::erase(lf, '\r');
  EXPECT_EQ(ParseText(lf).records,
            ParseText(ReadData("oui-excerpt.txt")).records);

  EXPECT_EQ(DetectFormat("hello\r\n"), std::nullopt);

  // Prefixes of 24, 28 and 36 bits; a block range gives 1 or 3 digits.
  EXPECT_EQ(NormalisePrefix("70b3d5f2f"), "70-B3-D5-F2-F");
  EXPECT_EQ(NormalisePrefix("74-1A-E0-9"), "74-1A-E0-9");
  EXPECT_EQ(NormalisePrefix("74-1A-E09"), std::nullopt);
  EXPECT_EQ(NormalisePrefix("74-1A-E0-"), std::nullopt);
  EXPECT_EQ(NormalisePrefix("741AE09A"), std::nullopt);
  EXPECT_EQ(BlockDigits("F2F000-F2FFFF"), "F2F");
  EXPECT_EQ(BlockDigits("900000-9FFFFF"), "9");
  EXPECT_EQ(BlockDigits("F2F000-F2F0FF"), std::nullopt);
  EXPECT_EQ(BlockDigits("F2F100-F2FFFF"), std::nullopt);
  EXPECT_EQ(BlockDigits("F20000-F2FFFF"), std::nullopt);
  EXPECT_THROW(ParseCsv("Registry,Prefix,Name\nMA-L,000000,X\n"), FormatError);
  EXPECT_THROW(ParseJson(R"(["000000", "X"])"), FormatError);
  EXPECT_THROW(ParseJson(R"({"000000": "X")"), FormatError);
}

// The table the project ships, read back through the product's reader: the
// comments first, then records in the converter's form, as many of each
// block size as the registry's listings hold (lookups in it: oui_test).
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
}  // namespace norvane::registry
