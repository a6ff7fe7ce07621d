// The icon files in res/, parsed: size, image count, order, sizes and depths,
// each image an uncompressed bitmap with an AND mask, packed back to back.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Numbers = std::vector<std::uint32_t>;

Bytes Read(const std::string& name) {
  std::ifstream in(std::string(NORVANE_RES_DIR) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Little-endian fields of the given byte widths, one after another from at.
Numbers Fields(const Bytes& b, std::size_t at, const Numbers& widths) {
  Numbers out;
  for (const std::uint32_t width : widths) {
    out.push_back(0);
    for (std::uint32_t k = 0; k < width; ++k) out.back() |= b.at(at++) << 8 * k;
  }
  return out;
}

using Images = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

void ExpectIcon(const std::string& name, std::size_t file_size,
                const Images& images) {
  SCOPED_TRACE(name);
  const Bytes ico = Read(name);
  ASSERT_EQ(ico.size(), file_size);
  ASSERT_EQ(Fields(ico, 0, {2, 2, 2}),  // reserved, 1 for an icon, count
            Numbers({0, 1, std::uint32_t(images.size())}));
  std::uint32_t offset = 6 + 16 * images.size();
  for (std::size_t i = 0; i < images.size(); ++i) {
    const auto [size, bits] = images[i];
    // Header, palette, colour rows and AND-mask rows, each row 4-byte aligned.
    const std::uint32_t length =
        40 + (bits <= 8 ? 4u << bits : 0) +
        ((size * bits + 31) / 32 + (size + 31) / 32) * 4 * size;
    // Width, height, colours (0 for 256 or more), 0, planes, bits, where.
    EXPECT_EQ(
        Fields(ico, 6 + 16 * i, {1, 1, 1, 1, 2, 2, 4, 4}),
        Numbers({size, size, bits == 4 ? 16u : 0u, 0, 1, bits, length, offset}))
        << "entry " << i;
    EXPECT_EQ(Fields(ico, offset, {4, 4, 4, 2, 2, 4}),  // BITMAPINFOHEADER
              Numbers({40, size, 2 * size, 1, bits, 0}))
        << "image " << i;
    offset += length;
  }
  EXPECT_EQ(offset, ico.size());
}

TEST(Icons, ApplicationIconAndLogo) {
  // Each depth at 48, 32 and 16 pixels; the logo adds 128 at 32 bits.
  Images images;
  for (std::uint32_t bits : {4, 8, 32}) {
    for (std::uint32_t size : {48, 32, 16}) images.emplace_back(size, bits);
  }
  ExpectIcon("norvane.ico", 25214, images);
  images.insert(images.begin() + 6, {128, 32});
  ExpectIcon("logo.ico", 92854, images);
}

TEST(Icons, DesktopPNGs) {
  for (const std::uint32_t size : {16, 32, 48, 64, 128, 256}) {
    const std::string dim = std::to_string(size);
    const Bytes png = Read("hicolor/" + dim + "x" + dim + "/apps/norvane.png");
    ASSERT_GE(png.size(), 24u) << dim;  // IHDR's width and height follow
    const Bytes big_endian = {0, 0, std::uint8_t(size >> 8),
                              std::uint8_t(size)};
    Bytes ihdr = {'I', 'H', 'D', 'R'};
    for (int k = 0; k < 2; ++k) {
      ihdr.insert(ihdr.end(), big_endian.begin(), big_endian.end());
    }
    EXPECT_EQ(Bytes(png.begin() + 12, png.begin() + 24), ihdr) << dim;
  }
}

}  // namespace
