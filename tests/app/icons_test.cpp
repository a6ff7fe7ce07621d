// The committed icon files as the window uses them: how many images of which
// sizes and depths, in which order. The generator's own output is pinned byte
// for byte by icons_reproducible.sh; lintian checks each desktop PNG's size
// in the installed_package test.
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
  for (std::size_t entry = 6; entry < 6 + 16 * std::size_t(byte(4));
       entry += 16)
    images.emplace_back(byte(entry), byte(entry + 6));
  return images;
}

TEST(Icons, ApplicationIconAndLogo) {
  // Each depth at 48, 32 and 16 pixels; the logo adds 128 at 32 bits.
  Images images;
  for (int bits : {4, 8, 32}) {
    for (int size : {48, 32, 16}) images.emplace_back(size, bits);
  }
  EXPECT_EQ(Directory(Read("norvane.ico")), images);
  images.insert(images.begin() + 6, {128, 32});
  EXPECT_EQ(Directory(Read("logo.ico")), images);
}

}  // namespace
