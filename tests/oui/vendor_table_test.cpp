#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>

#ifdef _WIN32
#include <windows.h>

#include <memory>
#endif

#include "oui.h"
#include "reference.h"
#include "startup.h"
#include "text.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class TableDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("norvane-oui-" + std::to_string(std::random_device()()));
    ASSERT_TRUE(fs::create_directory(dir_));
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    OUIList.clear();
  }
  fs::path Write(std::string_view bytes, const char* name = "oui.ieee") {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), std::streamsize(bytes.size()));
    return path;
  }
  // Loads bytes as the table and returns the lookup of mac.
  std::u16string Lookup(std::string_view bytes, const std::u16string& mac) {
    EXPECT_FALSE(ReadTable(Write(bytes), OUIList).has_value());
    return FindVendor(mac);
  }
  fs::path dir_;
};

constexpr std::string_view kVm = "00-0C-29   (hex)        VMware, Inc.";
// The converter's order: 36-bit, 28-bit, then 24-bit blocks.
constexpr std::string_view kBlocks =
    "# Most specific first\r\n"
    "70-B3-D5-F2-F   (hex)   Teleplatforms\r\n"
    "70-B3-D5-F   (hex)      Some MA-M\r\n"
    "70-B3-D5   (hex)        IEEE Registration\r\n"
    "70-B3-D5-F2-F   (hex)   Shadowed\r\n";

// Each row: a table, an address and the vendor found for it (none when not
// given). The loader also gives the very lines and answers of the plain way
// of reading the table (reference.h): decoding the whole file, cutting it
// with SplitText and scanning the lines in order.
TEST_F(TableDir, LinesAndAnswersAreThoseOfThePlainScan) {
  // Records in order, each prefix three times (over the reader's fences),
  // and the same in reverse order (more runs than the reader keeps).
  std::string sorted, reversed;
  for (int i = 0; i < 120; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "00-0C-%02X   (hex)        Maker %d\r\n",
                  i / 3, i);
    sorted += line;
    reversed.insert(0, line);
  }
  const struct {
    std::string table;
    std::u16string mac = u"", vendor = u"";
  } rows[] = {
      {std::string(kVm), u"00-0C-29-3A-4B-5C", u"VMware, Inc."},
      // Only the first eight characters of the address count, exactly.
      {std::string(kVm), u"00-0c-29-3A-4B-5C"},
      {std::string(kVm), u"00-0C-2"},
      // Columns 9 to 24 are not read; the name keeps its trailing blanks.
      {"00-0C-29################Name  \r\n", u"00-0C-29", u"Name  "},
      // Comments, indented and blank lines never match; the first record
      // wins.
      {"# 00-0C-29      comment   Commented\r\n"
       " 00-0C-29       indented  Indented\r\n\r\n"
       "00-0C-29                First\r\n"
       "00-0C-29                Second\r\n",
       u"00-0C-29-01-02-03", u"First"},
      // Only CR LF ends a line: a lone LF or CR stays in it.
      {"00-0C-29                First\nAA-BB-CC                Second\r\r\n",
       u"00-0C-29", u"First\nAA-BB-CC                Second\r"},
      // Longer blocks: "-" in column 9 makes columns 1 to 10 the prefix, one
      // in column 12 as well makes it columns 1 to 13.
      {std::string(kBlocks), u"70-B3-D5-F2-F1-23", u"Teleplatforms"},
      {std::string(kBlocks), u"70-B3-D5-F2-E1-23", u"Some MA-M"},
      {std::string(kBlocks), u"70-B3-D5-02-F1-23", u"IEEE Registration"},
      // The first record in the file wins, whatever its block's size; one
      // shorter than 25 characters matches, naming no one.
      {"00-0C-29-A\r\n00-0C-29   (hex)        Short\r\n", u"00-0C-29-A1"},
      {"00-0C-29   (hex)        Wide\r\n00-0C-29-A   (hex)      Narrow\r\n",
       u"00-0C-29-A1", u"Wide"},
      // A byte order mark is no part of the first line.
      {"\xEF\xBB\xBF" + std::string(kVm), u"00-0C-29", u"VMware, Inc."},
      {"\xEF\xBB\xBF#00-0C-29                Comment\r\n" + std::string(kVm)},
      // Characters that are not ASCII before column 25: the name still
      // starts at the 25th character, not byte.
      {"00-0C-29 \xC3\xA9\xC3\xA9           Caf\xC3\xA9\r\n"},
      // A comment among records that are not ASCII.
      {"\xC3\xA9\xC3\xA9-0C-29                X\r\n"
       "#00-0C-29                Comment\r\n\xFF\xFE-0C-29-A        "
       "Caf\xC3\xA9"},
      {"00-0C-29-AB-C\xF0\x9F\x98\x80          Split pair\r\n"},
      {"00-0C-29               \xF0\x9F\x98\x80Split pair\r\n"},
      {"00-0C-29-A\r\n00-0C-29-AB-\r\n00-0C-29\r\n00-0C\r\n\xE2\x82\r\n"},
      // Out of order in the last characters of the prefix only.
      {"00-0C-10                A\r\n00-0C-0F                B\r\n"},
      // Invalid bytes and NUL before the name, one character each.
      {"AA-BB-CC" + std::string("  \xFF\xFE\0", 5) + std::string(11, ' ') +
       "Bad \xC3(x)\r\n00-0C-29  \xE2\x82            Next\r\n"},
      // A CR LF across the reader's 64-byte steps (CR at 63, LF at 64), a
      // lone CR at the end of the next step and one at the very end.
      {"00-0C-29                " + std::string(39, 'a') + "\r\n" +
           "AA-BB-CC                " + std::string(38, 'b') + "\rc\r\n" +
           "00-0C-2A                Last\r",
       u"AA-BB-CC", std::u16string(38, u'b') + u"\rc"},
      // A line of 64 KiB is read, wherever it stands; one with no CR LF at
      // all too.
      {std::string(kMaxLineBytes, 'x')},
      {"\xEF\xBB\xBF" + std::string(kMaxLineBytes, 'x')},
      {std::string(kVm) + "\r\n" + std::string(kMaxLineBytes, 'x') + "\r\n"},
      {sorted},
      {reversed},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Lookup(row.table, row.mac), row.vendor) << row.table;
    EXPECT_EQ(reference::Difference(OUIList, row.table,
                                    {row.mac, u"00-0C-29-AB-CD-EF",
                                     u"Error: Gagal memanggil SendARP()"}),
              "")
        << row.table;
  }
}

#ifdef _WIN32
// A table that is not UTF-8 is read through the ANSI code page: a legacy
// Western one a character a byte, a Japanese one (Shift JIS) with two bytes
// to some characters. The suite runs under both (tests/oui/CMakeLists.txt).
TEST_F(TableDir, LegacyTablesThroughTheAnsiCodePage) {
  // The Wine runs name the code page they set up.
  if (const char* expected = std::getenv("NORVANE_EXPECT_ACP")) {
    ASSERT_EQ(GetACP(), std::stoul(expected));
  }
  if (GetACP() == 1252) {
    const std::string table = "AA-BB-CC" + std::string("  \xFF\xFE\0", 5) +
                              std::string(11, ' ') + "Caf\xE9 \x80\r\n" +
                              "00-0C-29                Next\r\n";
    EXPECT_EQ(Lookup(table, u"AA-BB-CC"), u"Caf\u00E9 \u20AC");
    EXPECT_EQ(FindVendor(u"00-0C-29"), u"Next");
  } else if (GetACP() == 932) {
    const std::string table =
        "AA-BB-CC                \x83\x65\x83\x58\x83\x67\r\n"
        "00-0C-29 \x83\x65\x83\x58\x83\x67            Next\r\n";
    EXPECT_EQ(Lookup(table, u"AA-BB-CC"), u"\u30C6\u30B9\u30C8");
    EXPECT_EQ(FindVendor(u"00-0C-29"), u"Next");
  } else {
    GTEST_SKIP() << "ANSI code page neither 1252 nor 932";
  }
  // A byte order mark makes it UTF-8 whatever the rest holds.
  EXPECT_EQ(Lookup("\xEF\xBB\xBF"
                   "AA-BB-CC                Caf\xC3\xA9 \xFF",
                   u"AA-BB-CC"),
            u"Caf\u00E9 \uFFFD");
}
#endif

// Missing, unreadable and oversized tables and tables with an overlong line
// are refused, naming why; the table held stays.
TEST_F(TableDir, MissingUnreadableAndOversizedTablesAreRefused) {
  // Neither a missing table nor a folder in its place counts as present.
  for (const bool folder : {false, true}) {
    if (folder) fs::create_directory(dir_ / "oui.ieee");
    const auto fault = ReadTable(dir_ / "oui.ieee", OUIList);
    ASSERT_TRUE(fault.has_value());
    EXPECT_TRUE(fault->missing);
  }
  fs::remove(dir_ / "oui.ieee");

  const std::string table = std::string(kVm) + "\r\n";
  const fs::path path = Write(table);
  const std::u16string larger = u"the file is larger than ";
  ASSERT_FALSE(ReadTable(path, OUIList, table.size()).has_value());
  const auto fault =
      ReadTable(path, OUIList, table.size() - 1).value_or(TableFault{});
  EXPECT_FALSE(fault.missing);
  EXPECT_EQ(fault.reason,
            larger + DecodeUtf8(std::to_string(table.size() - 1)) + u" bytes");
  EXPECT_EQ(ReadTable(path, OUIList, 0).value_or(TableFault{}).reason,
            larger + u"0 MiB");
  EXPECT_EQ(FindVendor(u"00-0C-29"), u"VMware, Inc.");

  // A line one byte over 64 KiB is not read, wherever it stands (a lookup
  // costs the length of the name it finds).
  const std::string longest(kMaxLineBytes, 'x');
  for (const auto& [bytes, line] :
       {std::pair{longest + "x\r\n", 1},
        {table + "# comment\r\n" + std::string(kVm.substr(0, 24)) + longest,
         3}}) {
    EXPECT_EQ(ReadTable(Write(bytes, "other.ieee"), OUIList)
                  .value_or(TableFault{})
                  .reason,
              u"line " + DecodeUtf8(std::to_string(line)) +
                  u" is longer than 64 KiB");
  }
  EXPECT_EQ(FindVendor(u"00-0C-29"), u"VMware, Inc.");

#ifdef _WIN32
  // Hidden and system files do not count as present.
  for (const DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attribute));
    EXPECT_TRUE(ReadTable(path, OUIList).value_or(TableFault{}).missing);
  }
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  // Opened without sharing: the file exists but cannot be read.
  const std::shared_ptr<void> lock(
      CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                  nullptr),
      CloseHandle);
  ASSERT_NE(lock.get(), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(FileExists(path));
  const auto broken = ReadTable(path, OUIList).value_or(TableFault{true, {}});
  EXPECT_FALSE(broken.missing);
  EXPECT_FALSE(broken.reason.empty());
#endif
}

// Without longer blocks a table answers as the plain scan always did: each
// prefix by its first record in file order. Shown on the shipped table's
// 24-bit records, a miss and a prefix given alone among them.
TEST(ShippedTable, TwentyFourBitRecordsAnswerAsTheScanDid) {
  ASSERT_FALSE(ReadTable(ProgramDirectory() / kTableFileName, OUIList));
  std::u16string text;
  std::map<std::u16string, std::u16string> first;
  for (std::size_t i = 0; i < OUIList.size(); ++i) {
    const std::u16string line = OUIList[i];
    if (line.size() > 8 && line[8] == u'-') continue;
    text += line + u"\r\n";
    if (!line.starts_with(u'#'))
      first.try_emplace(line.substr(0, 8), line.substr(24));
  }
  ASSERT_GT(first.size(), 30000u);
  first.try_emplace(u"FF-FF-FF", u"");
  const VendorTable table = VendorTable::FromBytes(ToUtf8(text));
  for (const auto& [prefix, name] : first) {
    ASSERT_EQ(table.Find(prefix + u"-7A-BC-DE"), name) << ToUtf8(prefix);
    ASSERT_EQ(table.Find(prefix), name) << ToUtf8(prefix);
  }
}

}  // namespace
}  // namespace norvane
