#include <gtest/gtest.h>

#include <fstream>

#ifdef _WIN32
#include <windows.h>

#include <memory>
#include <random>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "oui.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class TableDir : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    std::random_device random;
    dir_ =
        fs::temp_directory_path() / ("norvane-oui-" + std::to_string(random()));
    ASSERT_TRUE(fs::create_directory(dir_));
#else
    char name[] = "/tmp/norvane-oui-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
#endif
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    OUIList.clear();
  }
  fs::path Write(std::string_view bytes) {
    const fs::path path = dir_ / "oui.ieee";
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

// Each row: a table, an address, the vendor found, the lines stored.
TEST_F(TableDir, ColumnsCommentsFirstMatchAndLineBreaks) {
  const struct {
    std::string table;
    std::u16string mac, vendor;
    std::size_t lines;
  } rows[] = {
      {std::string(kVm), u"00-0C-29-3A-4B-5C", u"VMware, Inc.", 1},
      // Only the first eight characters of the address count, exactly.
      {std::string(kVm), u"00-0C-29xxxxxxxxxx", u"VMware, Inc.", 1},
      {std::string(kVm), u"00-0c-29-3A-4B-5C", u"", 1},
      {std::string(kVm), u"00-0C-2", u"", 1},
      {std::string(kVm), u"", u"", 1},
      {std::string(kVm), u"Error: Gagal memanggil SendARP()", u"", 1},
      // Columns 9 to 24 are not read; the name keeps its trailing blanks.
      {"00-0C-29################Name  \r\n", u"00-0C-29", u"Name  ", 1},
      {"00-0C-29 short\r\nAA-BB-CC x", u"AA-BB-CC", u"", 2},
      // Comments, indented and blank lines never match; the first record
      // wins.
      {"# 00-0C-29      comment   Commented\r\n"
       " 00-0C-29       indented  Indented\r\n\r\n"
       "00-0C-29                First\r\n"
       "00-0C-29                Second\r\n",
       u"00-0C-29-01-02-03", u"First", 5},
      {"#0-0C-29                Hash\r\n", u"#0-0C-29", u"", 1},
      // Only CR LF ends a line.
      {"00-0C-29                First\nAA-BB-CC                Second\n",
       u"00-0C-29", u"First\nAA-BB-CC                Second\n", 1},
      {"00-0C-29                First\nAA-BB-CC                Second\n",
       u"AA-BB-CC", u"", 1},
      {"", u"00-0C-29", u"", 1},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Lookup(row.table, row.mac), row.vendor) << row.table;
    EXPECT_EQ(OUIList.size(), row.lines) << row.table;
  }
}

TEST_F(TableDir, EveryLineOfALongTableIsFound) {
  std::string table;
  for (int i = 0; i < 40000; ++i) table += "# filler\r\n";
  table += "00-0C-29                Past the old limit\r\n";
  EXPECT_EQ(Lookup(table, u"00-0C-29"), u"Past the old limit");
}

#ifdef _WIN32
// Windows reads the table through the ANSI code page, one character a byte
// in the Western one.
TEST_F(TableDir, AnsiCodePageAndNulKeepLaterColumnsInPlace) {
  if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page is not 1252";
  const std::string table = "AA-BB-CC" + std::string("  \xFF\xFE\0", 5) +
                            std::string(11, ' ') + "Caf\xE9 \x80\r\n" +
                            "00-0C-29                Next\r\n";
  EXPECT_EQ(Lookup(table, u"AA-BB-CC"), u"Caf\u00E9 \u20AC");
  EXPECT_EQ(FindVendor(u"00-0C-29"), u"Next");
}
#else
TEST_F(TableDir, InvalidUtf8AndNulKeepLaterColumnsInPlace) {
  // Sixteen filler bytes each, some of them invalid or NUL.
  const std::string table = "AA-BB-CC" + std::string("  \xFF\xFE\0", 5) +
                            std::string(11, ' ') + "Bad \xC3(x)\r\n" +
                            "00-0C-29  \xE2\x82" + std::string(12, ' ') +
                            "Next\r\n";
  EXPECT_EQ(Lookup(table, u"AA-BB-CC"), u"Bad \uFFFD(x)");
  EXPECT_EQ(FindVendor(u"00-0C-29"), u"Next");
}
#endif

#ifdef _WIN32
// Opened without sharing: the file exists but cannot be read.
std::shared_ptr<void> Lock(const fs::path& path) {
  return {CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                      nullptr),
          CloseHandle};
}
#endif

TEST_F(TableDir, MissingDirectoryAndUnreadableTables) {
  const auto missing = ReadTable(dir_ / "oui.ieee", OUIList);
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ(missing->message, u"Critical Error! oui.ieee not found!");
  EXPECT_EQ(missing->title, u"ERROR: Can't Find File");

  fs::create_directory(dir_ / "oui.ieee");
  EXPECT_FALSE(FileExists(dir_ / "oui.ieee"));
  const auto directory = ReadTable(dir_ / "oui.ieee", OUIList);
  ASSERT_TRUE(directory.has_value());
  EXPECT_EQ(directory->title, u"ERROR: Can't Find File");
  fs::remove(dir_ / "oui.ieee");

#ifdef _WIN32
  // Hidden and system files do not count as present.
  const fs::path table = Write(std::string(kVm));
  for (const DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
    ASSERT_TRUE(SetFileAttributesW(table.c_str(), attribute));
    EXPECT_EQ(ReadTable(table, OUIList).value_or(TableError{}).title,
              u"ERROR: Can't Find File");
  }
  ASSERT_TRUE(SetFileAttributesW(table.c_str(), FILE_ATTRIBUTE_NORMAL));
  const auto lock = Lock(table);
  ASSERT_NE(lock.get(), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(FileExists(table));
  const auto broken = ReadTable(table, OUIList);
#else
  // A regular file whose reads fail.
  fs::create_symlink("/proc/self/mem", dir_ / "oui.ieee");
  ASSERT_TRUE(FileExists(dir_ / "oui.ieee"));
  const auto broken = ReadTable(dir_ / "oui.ieee", OUIList);
#endif
  ASSERT_TRUE(broken.has_value());
  EXPECT_EQ(broken->title, u"ERROR: Can't Read File");
  EXPECT_EQ(
      broken->message.rfind(u"Critical Error! oui.ieee can't be read: ", 0),
      0u);
}

// LoadOUI shows the error and ends the program with status 2.
TEST_F(TableDir, LoadEndsTheProgramOnAnUnreadableOrMissingTable) {
  Write(std::string(kVm));
#ifdef _WIN32
  // The death test's child process finds the file held without sharing.
  const auto lock = Lock(dir_ / "oui.ieee");
  ASSERT_NE(lock.get(), INVALID_HANDLE_VALUE);
  const auto load = [this] { LoadOUIFrom(dir_); };
#else
  ::chmod(dir_.c_str(), 0755);
  ::chmod((dir_ / "oui.ieee").c_str(), 0);
  const auto load = [this] {
    // Root reads everything: drop to an ordinary user first.
    if (::geteuid() == 0 && ::setuid(65534) != 0) std::exit(99);
    LoadOUIFrom(dir_);
  };
#endif
  EXPECT_EXIT(load(), ::testing::ExitedWithCode(kTableExitStatus),
              "ERROR: Can't Read File: Critical Error! oui.ieee can't be read: "
              "Permission denied");
  EXPECT_EXIT(LoadOUIFrom(dir_ / "nowhere"),
              ::testing::ExitedWithCode(kTableExitStatus),
              "Critical Error! oui.ieee not found!");

  // The front end's handler is shown the error.
  SetTableErrorHandler([](const TableError& e) {
    std::exit(e.title == u"ERROR: Can't Find File" ? 3 : 4);
  });
  EXPECT_EXIT(LoadOUIFrom(dir_ / "nowhere"), ::testing::ExitedWithCode(3), "");
  SetTableErrorHandler(nullptr);
}

// The table comes from beside the executable, never the working directory.
TEST_F(TableDir, LoadReadsBesideTheExecutable) {
  Write("00-0C-29                Decoy from the working directory\r\n");
  const fs::path previous = fs::current_path();
  fs::current_path(dir_);
  LoadOUI();
  fs::current_path(previous);
  EXPECT_EQ(FindVendor(u"00-0C-29"), u"VMware, Inc.");
  EXPECT_GT(OUIList.size(), 30000u);
}

}  // namespace
}  // namespace norvane
