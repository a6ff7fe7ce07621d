// The query's own rules, against a fake platform that records its calls.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "mac.h"

namespace norvane {
namespace {

// a.b.c.d in network byte order.
std::uint32_t Address(std::uint8_t a, std::uint8_t b, std::uint8_t c,
                      std::uint8_t d) {
  const std::uint8_t bytes[] = {a, b, c, d};
  std::uint32_t address;
  std::memcpy(&address, bytes, sizeof(address));
  return address;
}

struct Fake {
  std::uint32_t parsed = 0;  // what parse returns
  bool resolves = true;
  std::vector<std::uint8_t> answer;
  std::optional<std::uint32_t> reported_length;  // else answer's size

  std::vector<std::u16string> parse_calls;
  std::vector<std::uint32_t> resolve_calls;
};
Fake fake;

const AddressPlatform kFakePlatform{
    [](const std::u16string& text) {
      fake.parse_calls.push_back(text);
      return fake.parsed;
    },
    [](std::uint32_t address, HardwareBuffer& buffer, std::uint32_t& length) {
      fake.resolve_calls.push_back(address);
      EXPECT_EQ(length, 6u);
      for (std::size_t i = 0; i < fake.answer.size() && i < buffer.size(); ++i)
        buffer[i] = fake.answer[i];
      length = fake.reported_length.value_or(fake.answer.size());
      return fake.resolves;
    }};

class QueryTest : public testing::Test {
 protected:
  void SetUp() override {
    fake = Fake{};
    fake.parsed = Address(198, 51, 100, 2);
  }
  static std::u16string Get(const std::u16string& text) {
    return GetMAC(text, kFakePlatform);
  }
};

TEST_F(QueryTest, FormatsEachByteAsTwoUppercaseDigits) {
  fake.answer = {0x00, 0x0C, 0x29, 0x0A, 0x0B, 0xFF};
  EXPECT_EQ(Get(u"198.51.100.2"), u"00-0C-29-0A-0B-FF");
  EXPECT_EQ(fake.parse_calls, std::vector<std::u16string>{u"198.51.100.2"});
  EXPECT_EQ(fake.resolve_calls, std::vector<std::uint32_t>{fake.parsed});

  fake.answer = {0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(Get(u"198.51.100.2"), u"01-02-03-04");
}

TEST_F(QueryTest, ReadsNoMoreThanTheBufferWhateverLengthIsReported) {
  fake.answer = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
  fake.reported_length = 20;
  EXPECT_EQ(Get(u"198.51.100.2"), u"10-20-30-40-50-60");
}

TEST_F(QueryTest, AnswersThatCountAsNoAnswerGiveTheErrorText) {
  fake.answer = {0x00, 0x00, 0x00, 0x00, 0x12, 0x34};
  EXPECT_EQ(Get(u"198.51.100.2"), kQueryErrorText);

  fake.answer = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
  fake.reported_length = 0;
  EXPECT_EQ(Get(u"198.51.100.2"), kQueryErrorText);

  fake.reported_length.reset();
  fake.resolves = false;
  EXPECT_EQ(Get(u"198.51.100.2"), kQueryErrorText);
  std::u16string result = u"unchanged";
  EXPECT_FALSE(QueryMAC(u"198.51.100.2", result, kFakePlatform));
  EXPECT_EQ(result, u"unchanged");
}

TEST_F(QueryTest, EmptyTextAndAddressZeroMakeNoQuery) {
  EXPECT_EQ(Get(u""), u"");
  EXPECT_TRUE(fake.parse_calls.empty());

  fake.parsed = 0;
  EXPECT_EQ(Get(u"0.0.0.0"), kQueryErrorText);
  EXPECT_TRUE(fake.resolve_calls.empty());
}

TEST_F(QueryTest, MalformedTextGoesToTheResolverAsAllOnes) {
  fake.parsed = 0xFFFFFFFF;
  fake.resolves = false;
  EXPECT_EQ(Get(u"abc"), kQueryErrorText);
  EXPECT_EQ(Get(u"   "), kQueryErrorText);
  EXPECT_EQ(fake.parse_calls, (std::vector<std::u16string>{u"abc", u"   "}));
  EXPECT_EQ(fake.resolve_calls,
            (std::vector<std::uint32_t>{0xFFFFFFFF, 0xFFFFFFFF}));
}

TEST_F(QueryTest, TextWithNulIsMalformedNeverCutShort) {
  fake.answer = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
  const std::u16string text(u"198.51.100.2\0x", 14);
  EXPECT_EQ(Get(text), u"02-00-00-00-00-01");  // the fake resolves anything
  EXPECT_TRUE(fake.parse_calls.empty());
  EXPECT_EQ(fake.resolve_calls, std::vector<std::uint32_t>{0xFFFFFFFF});
}

#ifdef __linux__
// The C library's parser behind the system platform, in the "C" locale.
TEST(SystemParse, ReadsWhatInetAddrReads) {
  const auto parse = SystemPlatform().parse;
  EXPECT_EQ(parse(u"198.51.100.2"), Address(198, 51, 100, 2));
  EXPECT_EQ(parse(u"0.0.0.0"), 0u);
  EXPECT_EQ(parse(u"0xC6.51.25602"), Address(198, 51, 100, 2));
  EXPECT_EQ(parse(u"198.51.100.2 trailing"), Address(198, 51, 100, 2));
  EXPECT_EQ(parse(u"abc"), 0xFFFFFFFF);
  EXPECT_EQ(parse(u"198.51.100.256"), 0xFFFFFFFF);
  // Characters the locale cannot encode make the text malformed.
  EXPECT_EQ(parse(u"198.51.100.\uFF12"), 0xFFFFFFFF);
  EXPECT_EQ(parse(std::u16string(u"198.51.100.2") + char16_t{0xD800}),
            0xFFFFFFFF);
}
#endif

}  // namespace
}  // namespace norvane
