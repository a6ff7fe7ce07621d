#include "registry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace norvane::registry {
namespace {

std::string ReadData(const std::string& name) {
  std::ifstream file(std::string(NORVANE_REGISTRY_DATA) + "/" + name,
                     std::ios::binary);
  EXPECT_TRUE(file) << name;
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::string Body(const std::vector<Record>& records) {
  std::string body;
  for (const Record& record : records) body += FormatRecord(record);
  return body;
}

const std::string kPruftechnik =
    "Pr\xC3\xBC"
    "ftechnik Condition Monitoring GmbH & Co. KG";

// Twelve assignments from oui.txt, in its order: 08-00-30 is listed three
// times and 00-01-C8 twice; 08-97-98 ends in a blank.
TEST(TextForm, RealExcerptGivesExactLinesInRegistryOrder) {
  const std::string input = ReadData("oui-excerpt.txt");
  const ParseResult parsed = ParseText(input);
  EXPECT_EQ(parsed.skipped, 0u);
  EXPECT_EQ(Body(parsed.records),
            "F4-BD-9E   (hex)        Cisco Systems, Inc\r\n"
            "90-12-34   (hex)        Shenzhen YOUHUA Technology Co., Ltd\r\n"
            "08-97-98   (hex)        COMPAL INFORMATION (KUNSHAN) CO., LTD.\r\n"
            "00-1E-FC   (hex)        JSC MASSA-K\r\n"
            "08-00-30   (hex)        NETWORK RESEARCH CORPORATION\r\n"
            "00-01-C8   (hex)        THOMAS CONRAD CORP.\r\n"
            "C4-04-D8   (hex)        Aviva Links Inc.\r\n"
            "00-03-5F   (hex)        " +
                kPruftechnik +
                "\r\n"
                "AC-DE-48   (hex)        Private\r\n"
                "08-00-30   (hex)        ROYAL MELBOURNE INST OF TECH\r\n"
                "00-0C-29   (hex)        VMware, Inc.\r\n"
                "00-01-C8   (hex)        CONRAD CORP.\r\n"
                "00-00-00   (hex)        XEROX CORPORATION\r\n"
                "08-00-30   (hex)        CERN\r\n");
  EXPECT_EQ(CountDuplicatePrefixes(parsed.records), 2u);

  // The same registry with bare line feeds reads the same.
  std::string lf;
  for (char c : input) {
    if (c != '\r') lf += c;
  }
  EXPECT_EQ(ParseText(lf).records, parsed.records);
}

TEST(TextForm, BadPrefixesAreSkippedAndControlsBecomeBlanks) {
  const ParseResult parsed = ParseText(
      "0G-00-00   (hex)\t\tNot hex\r\n"
      "00-00-0   (hex)\t\tToo short\r\n"
      "00-55-DA-0   (hex)\t\tToo long\r\n"
      "  00-00-0a   (hex)\t\tA\tB\x01"
      "C\x7F"
      "D\xC2\x85"
      "E \r\n"
      "000001     (base 16)\t\tNot a record\r\n"
      "\t\t\t\tSome Street   (hex) 1\r\n");
  EXPECT_EQ(parsed.skipped, 3u);
  ASSERT_EQ(parsed.records.size(), 1u);
  EXPECT_EQ(FormatRecord(parsed.records[0]),
            "00-00-0A   (hex)        A B C D E\r\n");
}

TEST(CsvForm, RealExcerptWithQuotesCommasAndMultiLineAddresses) {
  const ParseResult parsed = ParseCsv(ReadData("oui-excerpt.csv"));
  EXPECT_EQ(parsed.skipped, 0u);
  const std::vector<Record> expected = {
      {"F4-BD-9E", "Cisco Systems, Inc"},
      {"90-12-34", "Shenzhen YOUHUA Technology Co., Ltd"},
      {"08-97-98", "COMPAL INFORMATION (KUNSHAN) CO., LTD."},
      {"00-1E-FC", "JSC \"MASSA-K\""},
      {"00-1E-CB", "\"RPC \"Energoautomatika\" Ltd"},
      {"08-00-30", "NETWORK RESEARCH CORPORATION"},
      {"00-01-C8", "THOMAS CONRAD CORP."},
      {"C4-04-D8", "Aviva Links Inc."},
      {"3C-B0-7E", "Arounds Intelligent Equipment Co., Ltd."},
      {"00-03-5F", kPruftechnik},
      {"08-00-30", "ROYAL MELBOURNE INST OF TECH"},
      {"00-01-C8", "CONRAD CORP."},
      {"08-00-30", "CERN"},
  };
  EXPECT_EQ(parsed.records, expected);
}

TEST(CsvForm, LineBreaksInANameAndColumnsFoundByTitle) {
  const ParseResult parsed = ParseCsv(
      "Organization Name,Assignment\n"
      "\"Two\r\nLines,\n\"\"quoted\"\"\",abcdef\n"
      "\n"
      "Lost,ABCDEF0\n"
      "No name\n"
      "\"Unterminated,AAAAAA");
  EXPECT_EQ(parsed.skipped, 3u);  // an open quote runs to the end
  ASSERT_EQ(parsed.records.size(), 1u);
  EXPECT_EQ(FormatRecord(parsed.records[0]),
            "AB-CD-EF   (hex)        Two  Lines, \"quoted\"\r\n");

  EXPECT_THROW(ParseCsv("Registry,Prefix,Name\nMA-L,000000,X\n"), FormatError);
}

TEST(JsonForm, FirstLineOfEachSixDigitKeyInFileOrder) {
  const ParseResult parsed = ParseJson(ReadData("oui-data-excerpt.json"));
  EXPECT_EQ(parsed.skipped, 2u);  // one MA-M and one MA-S key
  const std::vector<Record> expected = {
      {"00-00-00", "XEROX CORPORATION"},
      {"00-01-C8", "CONRAD CORP."},
      {"00-03-5F", kPruftechnik},
      {"00-1E-FC", "JSC MASSA-K"},
      {"08-00-30", "CERN"},
      {"08-97-98", "COMPAL INFORMATION (KUNSHAN) CO., LTD."},
      {"F4-BD-9E", "Cisco Systems, Inc"},
  };
  EXPECT_EQ(parsed.records, expected);

  // Repeated keys stay, in order; controls inside the first line are blanked.
  const ParseResult repeated = ParseJson(
      R"({"080030": "First\tOne \r\nAddress", "080030": "Second",)"
      R"( "080031": 7, "080032": {"080033": "nested"}, "000000": "\u0000X"})");
  EXPECT_EQ(repeated.skipped, 2u);
  EXPECT_EQ(repeated.records, (std::vector<Record>{{"08-00-30", "First One"},
                                                   {"08-00-30", "Second"},
                                                   {"00-00-00", "X"}}));

  EXPECT_THROW(ParseJson(R"(["000000", "X"])"), FormatError);
  EXPECT_THROW(ParseJson(R"({"000000": "X")"), FormatError);
}

TEST(Names, InvalidUtf8BecomesOneReplacementPerByte) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(CleanName("a\xFF"
                      "b"),
            "a" + fffd + "b");
  EXPECT_EQ(CleanName("\xE2\x82"), fffd + fffd);             // cut short
  EXPECT_EQ(CleanName("\xC0\xAF"), fffd + fffd);             // overlong
  EXPECT_EQ(CleanName("\xED\xA0\x80"), fffd + fffd + fffd);  // surrogate
  EXPECT_EQ(CleanName("\xF0\x9F\x98\x80 \xE2\x82\xAC"),
            "\xF0\x9F\x98\x80 \xE2\x82\xAC");
  EXPECT_EQ(CleanName(std::string("\t\0 x \n", 6)), "x");
}

TEST(Forms, DetectionAndHeader) {
  EXPECT_EQ(DetectFormat(ReadData("oui-excerpt.txt")), Format::kText);
  EXPECT_EQ(DetectFormat(ReadData("oui-excerpt.csv")), Format::kCsv);
  EXPECT_EQ(DetectFormat(ReadData("oui-data-excerpt.json")), Format::kJson);
  EXPECT_EQ(DetectFormat("\xEF\xBB\xBF  {}"), Format::kJson);
  EXPECT_EQ(DetectFormat("hello\r\n"), std::nullopt);

  const std::string table = FormatTable(
      {{"00-0C-29", "VMware, Inc."}}, {"IEEE MA-L\r\nregistry", "2026-08-26"});
  const std::string record = "00-0C-29   (hex)        VMware, Inc.\r\n";
  ASSERT_TRUE(table.ends_with(record));
  const std::string header = table.substr(0, table.size() - record.size());
  EXPECT_NE(header.find("# Source: IEEE MA-L  registry\r\n"),
            std::string::npos);
  EXPECT_NE(header.find("# Date: 2026-08-26\r\n"), std::string::npos);
  // Every header line is a comment ended by CRLF, with no stray breaks.
  for (std::size_t start = 0; start < header.size();) {
    const std::size_t end = header.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = header.substr(start, end - start);
    EXPECT_EQ(line.front(), '#');
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    start = end + 2;
  }
}

}  // namespace
}  // namespace norvane::registry
