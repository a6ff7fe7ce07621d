#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "startup.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;

// The table comes from beside the executable, never the working directory.
TEST(Startup, LoadReadsBesideTheExecutable) {
  const fs::path dir =
      fs::temp_directory_path() /
      ("norvane-startup-" + std::to_string(std::random_device()()));
  ASSERT_TRUE(fs::create_directory(dir));
  std::ofstream(dir / "oui.ieee")
      << "00-0C-29                Decoy from the working directory\r\n";
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  const auto error = LoadTable();
  // Nor is it read from there when the executable's folder is unknown.
  const auto unknown = LoadTable("");
  fs::current_path(previous);
  fs::remove_all(dir);
  ASSERT_FALSE(error.has_value());
  EXPECT_EQ(FindVendor(u"00-0C-29"), u"VMware, Inc.");
  // UTF-8 names read right under any code page.
  EXPECT_EQ(FindVendor(u"8C-1F-64-8F-80-01"), u"HIGHVOLT Pr\u00FCftechnik");
  EXPECT_EQ(FindVendor(u"70-B3-D5-2F-A0-01"),
            u"Toray\u3000Medical\u3000Co.,Ltd");
  EXPECT_EQ(unknown.value_or(TableError{}).message,
            u"Critical Error! oui.ieee not found!");
  EXPECT_EQ(unknown.value_or(TableError{}).title, u"ERROR: Can't Find File");
  OUIList.clear();
}

TEST(Startup, UnreadableTablesAreWordedWithTheirReason) {
  const TableError error = Worded({false, u"the file is larger than 0 MiB"});
  EXPECT_EQ(error.title, u"ERROR: Can't Read File");
  EXPECT_EQ(error.message,
            u"Critical Error! oui.ieee can't be read: the file is larger "
            u"than 0 MiB");
}

}  // namespace
}  // namespace norvane
