// The committed icon files as the window and the package use them: how many
// images of which sizes and depths, in which order, and each file's size. The
// generator's own output is pinned byte for byte by icons_reproducible.sh.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "read_file.h"

namespace {

using Images = std::vector<std::pair<int, int>>;  // size and bits, in order

std::string Read(const std::string& name) {
  return norvane::test::ReadFile(std::string(NORVANE_RES_DIR) + "/" + name);
}

// The size and depth of each image the icon file's directory lists.
Images Directory(const std::string& ico) {
  auto byte = [&ico](std::size_t at) {
    return static_cast<int>(static_cast<std::uint8_t>(ico.at(at)));
  };
  Images images;
  for (int i = 0; i < byte(4); ++i) {
    const std::size_t entry = 6 + 16 * static_cast<std::size_t>(i);
    images.emplace_back(byte(entry), byte(entry + 6));
  }
  return images;
}

TEST(Icons, ApplicationIconAndLogo) {
  // Each depth at 48, 32 and 16 pixels; the logo adds 128 at 32 bits.
  Images images;
  for (int bits : {4, 8, 32}) {
    for (int size : {48, 32, 16}) images.emplace_back(size, bits);
  }
  const std::string app = Read("norvane.ico");
  EXPECT_EQ(app.size(), 25214u);
  EXPECT_EQ(Directory(app), images);
  images.insert(images.begin() + 6, {128, 32});
  const std::string logo = Read("logo.ico");
  EXPECT_EQ(logo.size(), 92854u);
  EXPECT_EQ(Directory(logo), images);
}

TEST(Icons, DesktopPNGs) {
  for (const std::uint32_t size : {16, 32, 48, 64, 128, 256}) {
    const std::string dim = std::to_string(size);
    const std::string png =
        Read("hicolor/" + dim + "x" + dim + "/apps/norvane.png");
    ASSERT_GE(png.size(), 24u) << dim;  // IHDR's width and height follow
    const std::string ihdr{'I',
                           'H',
                           'D',
                           'R',
                           0,
                           0,
                           char(size >> 8),
                           char(size),
                           0,
                           0,
                           char(size >> 8),
                           char(size)};
    EXPECT_EQ(png.substr(12, 12), ihdr) << dim;
  }
}

}  // namespace
