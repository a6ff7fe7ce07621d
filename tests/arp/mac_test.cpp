// The query's own rules, against a fake platform that records what it is asked.
#include <gtest/gtest.h>

#include <optional>

#include "mac.h"

namespace norvane {
namespace {

using namespace std::string_literals;

constexpr std::uint32_t kHost = 0x026433C6;  // 198.51.100.2
constexpr std::uint32_t kMalformed = 0xFFFFFFFF;

struct Fake {
  HardwareBuffer answer;
  std::uint32_t length = 6;  // the length resolve reports
  bool resolves = true;
  std::uint32_t parsed = kHost;  // what parse returns
  std::optional<std::uint32_t> asked = std::nullopt;
} fake;

const AddressPlatform kFakePlatform{
    [](const std::u16string&) { return fake.parsed; },
    [](std::span<const std::uint32_t> addresses, const ResolveOptions&,
       const ResolveDone& done) {
      for (std::size_t i = 0; i < addresses.size(); ++i) {
        fake.asked = addresses[i];
        Resolution answer;
        answer.buffer = fake.answer;
        answer.length = fake.length;
        answer.resolved = fake.resolves;
        done(i, answer);
      }
    }};

TEST(Query, FormattingAndFailureRules) {
  const std::u16string ip = u"198.51.100.2", error = kQueryErrorText;
  const HardwareBuffer mac = {2, 0, 0, 0, 0, 1};
  const struct {
    std::u16string text;
    Fake fake;
    std::u16string result;
    std::optional<std::uint32_t> asked = kHost;
  } cases[] = {
      {ip, {{0, 0, 0, 0x0A, 0xBC, 0xFF}}, u"00-00-00-0A-BC-FF"},
      {ip, {{1, 2, 3, 4}, 4}, u"01-02-03-04"},
      {ip, {{1, 2, 3, 4, 5, 6}, 20}, u"01-02-03-04-05-06"},  // 6 bytes at most
      {ip, {{0, 0, 0, 0, 0x12, 0x34}}, error},
      {ip, {mac, 0}, error},
      {ip, {mac, 6, false}, error},
      {u"", {mac}, u"", std::nullopt},
      {u"0.0.0.0", {mac, 6, true, 0}, error, std::nullopt},
      {u"abc", {{}, 6, false, kMalformed}, error, kMalformed},
      {u"   ", {{}, 6, false, kMalformed}, error, kMalformed},
      // Malformed as a whole, never parsed up to the NUL.
      {u"198.51.100.2\0"s, {mac}, u"02-00-00-00-00-01", kMalformed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    fake = c.fake;
    EXPECT_EQ(GetMAC(c.text, kFakePlatform), c.result);
    EXPECT_EQ(fake.asked, c.asked);
  }
  std::u16string result = u"unchanged";
  fake = {mac, 6, false};
  EXPECT_FALSE(QueryMAC(ip, result, kFakePlatform));
  EXPECT_EQ(result, u"unchanged");
}

}  // namespace
}  // namespace norvane
