// The icon files in res/, parsed byte by byte: what the window, the desktop
// and the Windows resources rely on.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::string& name) {
  std::ifstream in(std::string(NORVANE_RES_DIR) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t LE(const Bytes& b, std::size_t at, int width) {
  std::uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = v << 8 | b.at(at + i);
  return v;
}

std::uint32_t BE32(const Bytes& b, std::size_t at) {
  return std::uint32_t{b.at(at)} << 24 | b.at(at + 1) << 16 |
         b.at(at + 2) << 8 | b.at(at + 3);
}

struct Image {
  int size;
  int bits;
};

// Checks the whole file against the expected images, in order: directory
// entries, one uncompressed bitmap with an AND mask per entry, packed back
// to back without gaps.
void ExpectIcon(const std::string& name, std::size_t file_size,
                const std::vector<Image>& images) {
  SCOPED_TRACE(name);
  const Bytes ico = ReadFile(name);
  ASSERT_EQ(ico.size(), file_size);
  EXPECT_EQ(LE(ico, 0, 2), 0u);  // reserved
  EXPECT_EQ(LE(ico, 2, 2), 1u);  // an icon, not a cursor
  ASSERT_EQ(LE(ico, 4, 2), images.size());

  std::size_t offset = 6 + 16 * images.size();
  for (std::size_t i = 0; i < images.size(); ++i) {
    SCOPED_TRACE("image " + std::to_string(i));
    const std::size_t e = 6 + 16 * i;
    const auto [size, bits] = images[i];
    EXPECT_EQ(ico[e], size);
    EXPECT_EQ(ico[e + 1], size);
    EXPECT_EQ(ico[e + 2], bits == 4 ? 16 : 0);  // colours, 0 for 256 or more
    EXPECT_EQ(LE(ico, e + 6, 2), static_cast<std::uint32_t>(bits));
    const std::size_t palette = bits <= 8 ? 4u << bits : 0;
    const std::size_t xor_row = (size * bits + 31) / 32 * 4;
    const std::size_t and_row = (size + 31) / 32 * 4;
    const std::size_t length = 40 + palette + (xor_row + and_row) * size;
    ASSERT_EQ(LE(ico, e + 8, 4), length);
    ASSERT_EQ(LE(ico, e + 12, 4), offset);

    const std::size_t h = offset;
    EXPECT_EQ(LE(ico, h, 4), 40u);  // BITMAPINFOHEADER, so not a PNG
    EXPECT_EQ(LE(ico, h + 4, 4), static_cast<std::uint32_t>(size));
    EXPECT_EQ(LE(ico, h + 8, 4), 2u * size);  // colour bits and AND mask
    EXPECT_EQ(LE(ico, h + 12, 2), 1u);
    EXPECT_EQ(LE(ico, h + 14, 2), static_cast<std::uint32_t>(bits));
    EXPECT_EQ(LE(ico, h + 16, 4), 0u);  // BI_RGB: uncompressed

    // The mask shows the picture somewhere and lets the corners through.
    const std::size_t mask = h + length - and_row * size;
    EXPECT_EQ(ico[mask] & 0x80, 0x80) << "bottom-left corner see-through";
    const int centre = size / 2;
    EXPECT_EQ(ico[mask + and_row * centre + centre / 8] & (0x80 >> centre % 8),
              0)
        << "centre painted";
    offset += length;
  }
  EXPECT_EQ(offset, ico.size());
}

TEST(Icons, ApplicationIcon) {
  ExpectIcon("norvane.ico", 25214,
             {{48, 4},
              {32, 4},
              {16, 4},
              {48, 8},
              {32, 8},
              {16, 8},
              {48, 32},
              {32, 32},
              {16, 32}});
}

TEST(Icons, Logo) {
  ExpectIcon("logo.ico", 92854,
             {{48, 4},
              {32, 4},
              {16, 4},
              {48, 8},
              {32, 8},
              {16, 8},
              {128, 32},
              {48, 32},
              {32, 32},
              {16, 32}});
}

TEST(Icons, DesktopPNGs) {
  for (const int size : {16, 32, 48}) {
    const std::string dim = std::to_string(size);
    SCOPED_TRACE(dim);
    const Bytes png =
        ReadFile("hicolor/" + dim + "x" + dim + "/apps/norvane.png");
    ASSERT_GE(png.size(), 33u);
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(BE32(png, 16), static_cast<std::uint32_t>(size));
    EXPECT_EQ(BE32(png, 20), static_cast<std::uint32_t>(size));
    EXPECT_EQ(png[25], 6) << "RGBA";
  }
}

}  // namespace
