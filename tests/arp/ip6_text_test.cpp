// IPv6 text read and written: every form people type, the canonical one
// written back, and the text that must be refused whole.
#include "ip6_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace norvane {
namespace {

TEST(Ip6Text, FormsReadAndWrittenCanonically) {
  const struct {
    const char* text;
    const char* canonical;
    const char* zone = "";
  } rows[] = {
      {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},    // first of equal runs
      {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},          // the longer run
      {"2001:db8::1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero stays
      {"::", "::"},
      {"::1", "::1"},
      {"1::", "1::"},
      {"fe80::1%eth0", "fe80::1", "eth0"},
      {"::ffff:198.51.100.7", "::ffff:198.51.100.7"},
      {"::FFFF:c633:6407", "::ffff:198.51.100.7"},
      {"::198.51.100.7", "::c633:6407"},  // not mapped: hex like any other
      {"2001:db8:1:2:3:4:192.0.2.1", "2001:db8:1:2:3:4:c000:201"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const std::optional<Ip6Text> parsed = ParseIp6(row.text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(FormatIp6(parsed->bytes), row.canonical);
    EXPECT_EQ(parsed->zone, row.zone);
    const std::optional<Ip6Text> again = ParseIp6(row.canonical);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->bytes, parsed->bytes);
  }
}

TEST(Ip6Text, MalformedTextRefusedWhole) {
  const std::vector<std::string> groups[] = {
      {"", ":", ":::", "1:", ":1", "::1:", "1::2::3", "12345::", "g::1"},
      {"1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7", "1:2:3:4:5:6:7:8::"},  // groups
      {"2001:db8::1 ", " ::1", "::1\n", std::string("::1\0", 4)},
      {"::1%", "%eth0", "fe80::1%eth0%1", "fe80::1%a b", "fe80::1%a/b",
       "fe80::1%0123456789abcdef"},  // zones
      {"::1.2.3", "::1.2.3.4.5", "::256.1.1.1", "::01.2.3.4", "::1.2.3.4:1",
       "1:2:3:4:5:6:7:1.2.3.4", "1.2.3.4"},     // the dotted tail
      {"::ffff:1.2.3.4/64", "2001:db8::/120"},  // no prefixes
  };
  for (const auto& group : groups) {
    for (const std::string& text : group)
      EXPECT_FALSE(ParseIp6(text)) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace norvane
