// norvane-cli's command line and output forms, over a fake resolver.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "cli.h"

namespace norvane::cli {
namespace {

using Strings = std::vector<std::string>;

std::string Contents(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

// A scan into out (a temporary file by default): its status, its output and
// its messages.
std::tuple<int, std::string, std::string> RunScan(
    const Options& options, const AddressPlatform& platform,
    std::FILE* out = std::tmpfile()) {
  std::FILE* err = std::tmpfile();
  const int status = Scan(options, out, err, false, platform);
  return {status, Contents(out), Contents(err)};
}

TEST(Cli, ArgumentsBecomeTargets) {
  const struct {
    Strings arguments;
    Strings targets;  // empty: a usage error
    std::string input = "";
  } cases[] = {
      {{"198.51.100.0/30"}, {"198.51.100.1", "198.51.100.2"}},
      {{"198.51.100.7/31", "198.51.100.9/32"},
       {"198.51.100.6", "198.51.100.7", "198.51.100.9"}},
      {{"198.51.100.10-12"},
       {"198.51.100.10", "198.51.100.11", "198.51.100.12"}},
      {{"198.51.100.255-198.51.101.1"},
       {"198.51.100.255", "198.51.101.0", "198.51.101.1"}},
      // Anything else is queried as it is, an empty text included.
      {{"not/a-block", "1.2.3.4/x", "1.2.3-4", "", "--", "-v"},
       {"not/a-block", "1.2.3.4/x", "1.2.3-4", "", "-v"}},
      {{"-f", "-", "198.51.100.3"},
       {"198.51.100.1", "198.51.100.4", "198.51.100.5", "198.51.100.3"},
       "# hosts\n198.51.100.1 # the first\n\n  198.51.100.4/31\r\n"},
      {{"198.51.100.20-10"}, {}},
      {{"198.51.100.0/33"}, {}},
      {{"10.0.0.0-10.1.0.0"}, {}},  // larger than a /16
      {{"--timeout", "0", "198.51.100.1"}, {}},
      {{"198.51.100.1", "--timeout"}, {}},
      {{"--rate", "0", "198.51.100.1"}, {}},
      {{"-f", "/nonexistent/list"}, {}},
      // A line or a run over its bound ends with a message, not on memory.
      {{"-f", "-"}, {}, std::string(kLongestLine + 1, '\0')},
      {Strings(kMostEntries + 1, "x"), {}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    std::FILE* input = std::tmpfile();
    std::fwrite(c.input.data(), 1, c.input.size(), input);
    std::rewind(input);
    const auto parsed = ParseArguments(c.arguments, input);
    std::fclose(input);
    const auto* options = std::get_if<Options>(&parsed);
    ASSERT_EQ(options == nullptr, c.targets.empty());
    if (options) {
      EXPECT_EQ(options->targets.Texts(0, c.targets.size() + 1), c.targets);
    }
  }
  EXPECT_EQ(std::get<Options>(ParseArguments({"10.0.0.0-10.0.255.255"}, stdin))
                .targets.size(),
            65536u);

  const auto options = std::get<Options>(ParseArguments(
      {"--json", "-v", "--found", "--timeout=0.25", "--rate", "10", "x"},
      stdin));
  EXPECT_EQ(options.format, Format::kJson);
  EXPECT_TRUE(options.verbose && options.found_only);
  EXPECT_EQ(options.resolve.timeout, std::chrono::milliseconds(250));
  EXPECT_EQ(options.resolve.rate, 10u);
}

// The local networks: loopback and a NOARP link are not scanned, a network
// twice on one interface is scanned once, one larger than a /16 only when
// allowed.
std::vector<LocalInterface> FakeInterfaces() {
  return {
      {"lo", false, {{0x7F000001, 8}}},
      {"eth0", true, {{0xC6336401, 24}, {0xCB007141, 26}, {0xC6336407, 24}}},
      {"dummy0", false, {{0xC0000201, 24}}},
      {"wan0", true, {{0x0A000001, 8}}},
      {"up0", true, {}},
  };
}

TEST(Cli, LocalNetworks) {
  const struct {
    Strings arguments;
    std::uint64_t size = 0;  // 0: a usage error, with message
    Strings first = {};      // the first and last targets
    std::string message = "";
  } cases[] = {
      {{"198.51.100.9", "-l", "-I", "eth0"},
       1 + 254 + 62,
       {"198.51.100.9", "198.51.100.1", "203.0.113.126"}},
      {{"--local", "--large"},
       254 + 62 + 16777214,
       {"198.51.100.1", "10.255.255.254"}},
      {{"-l"}, 0, {}, "interface 'wan0': '10.0.0.0/8' is larger than a /16"},
      {{"-I", "eth1", "198.51.100.9"}, 0, {}, "no interface 'eth1'"},
      {{"-l", "--interface=dummy0"},
       0,
       {},
       "no IPv4 network to scan on interface 'dummy0'"},
      {{"-l", "-I", "up0"}, 0, {}, "no IPv4 network to scan on interface"},
      {{"-I"}, 0, {}, "needs an interface name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    const auto parsed = ParseArguments(c.arguments, stdin, FakeInterfaces);
    if (c.size == 0) {
      ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
      EXPECT_NE(std::get<std::string>(parsed).find(c.message),
                std::string::npos)
          << std::get<std::string>(parsed);
      continue;
    }
    const Targets& targets = std::get<Options>(parsed).targets;
    ASSERT_EQ(targets.size(), c.size);
    Strings ends = targets.Texts(0, c.first.size() - 1);
    ends.push_back(targets.Texts(c.size - 1, 1).at(0));
    EXPECT_EQ(ends, c.first);
  }
  EXPECT_EQ(std::get<Options>(ParseArguments({"-I", "eth0", "198.51.100.9"},
                                             stdin, FakeInterfaces))
                .resolve.interface_name,
            "eth0");
  // Without a target the message says how to scan the local networks.
  EXPECT_NE(std::get<std::string>(ParseArguments({}, stdin)).find("-l"),
            std::string::npos);
}

constexpr std::uint32_t kLive = 0x026433C6;  // 198.51.100.2

// Takes 0.0.0.0, 198.51.100.2 and .9 only; resolves .2 (as a stale entry)
// and refuses the rest, answering in reverse order.
const AddressPlatform kFake{
    [](const std::u16string& text) -> std::uint32_t {
      if (text == u"0.0.0.0") return 0;
      if (text == u"198.51.100.2") return kLive;
      return text == u"198.51.100.9" ? 0x096433C6 : kMalformedAddress;
    },
    [](std::span<const std::uint32_t> addresses, const ResolveOptions&,
       const ResolveDone& done) {
      for (std::size_t i = addresses.size(); i-- > 0;) {
        done(i, addresses[i] == kLive
                    ? Resolution{.resolved = true,
                                 .buffer = {0x00, 0x0C, 0x29, 0x0A, 0x0B, 0xFF},
                                 .length = 6,
                                 .source = Source::kStale}
                    : Resolution{.reason = Reason::kOffLink,
                                 .gateway = 0x016433C6});
      }
    }};

// More addresses than one slice: each once, in order, across the slices
// (the second begins in the middle of the block).
TEST(Cli, LargeBlocksGoASliceAtATime) {
  const auto options =
      std::get<Options>(ParseArguments({"--large", "198.18.0.0/15"}, stdin));
  ASSERT_EQ(options.targets.size(), 2 * kSlice - 2);
  std::string expected;
  for (std::uint32_t a = 0xC6120001; a < 0xC613FFFF; ++a) {
    expected += std::to_string(a >> 24) + '.' + std::to_string(a >> 16 & 255) +
                '.' + std::to_string(a >> 8 & 255) + '.' +
                std::to_string(a & 255) +
                "\tError: Gagal memanggil SendARP()\t\n";
  }
  const auto [status, out, err] = RunScan(options, kFake);
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(out == expected) << "lines missing, repeated or out of order";
  EXPECT_EQ(err, "");
}

TEST(Cli, LinesInOrderInEveryForm) {
  const std::string error = "Error: Gagal memanggil SendARP()";
  Options options;
  // A refused address first: the answers after it keep their places.
  options.targets = {"0.0.0.0", "198.51.100.2", "", "198.51.100.9",
                     "a\tb\\\n\x1b"};
  const struct {
    Format format;
    bool found_only;
    std::string out;
  } cases[] = {
      {Format::kText, false,
       "0.0.0.0\t" + error + "\t\n198.51.100.2\t00-0C-29-0A-0B-FF\t\n\t\t\n" +
           "198.51.100.9\t" + error + "\t\na\\tb\\\\\\n\\x1B\t" + error +
           "\t\n"},
      {Format::kText, true, "198.51.100.2\t00-0C-29-0A-0B-FF\t\n"},
      {Format::kCsv, false,
       "address,mac,vendor\r\n0.0.0.0," + error +
           ",\r\n198.51.100.2,00-0C-29-0A-0B-FF,\r\n,,\r\n198.51.100.9," +
           error + ",\r\na\\tb\\\\\\n\\x1B," + error + ",\r\n"},
      {Format::kJson, false,
       "{\"address\":\"0.0.0.0\",\"mac\":null,\"vendor\":\"\",\"reason\":"
       "\"not a unicast address\"}\n"
       "{\"address\":\"198.51.100.2\",\"mac\":\"00-0C-29-0A-0B-FF\","
       "\"vendor\":\"\",\"state\":\"stale\"}\n"
       "{\"address\":\"\",\"mac\":null,\"vendor\":\"\",\"reason\":"
       "\"malformed address\"}\n"
       "{\"address\":\"198.51.100.9\",\"mac\":null,\"vendor\":\"\",\"reason\":"
       "\"not on a directly connected network (gateway 198.51.100.1)\"}\n"
       "{\"address\":\"a\\u0009b\\\\\\u000a\\u001b\",\"mac\":null,\"vendor\":"
       "\"\",\"reason\":\"malformed address\"}\n"},
  };
  for (const auto& c : cases) {
    options.format = c.format;
    options.found_only = c.found_only;
    // With --found, one found is success.
    EXPECT_EQ(RunScan(options, kFake),
              std::tuple(c.found_only ? 0 : 1, c.out, ""));
  }

  // Exit statuses: all resolved; an empty address alone; reasons with -v;
  // an output that refuses the line.
  const struct {
    Strings targets;
    int status;
    std::string err = "";
    const char* out = nullptr;  // a temporary file
  } statuses[] = {
      {{"198.51.100.2", "198.51.100.2"}, 0},
      {{""}, 1},
      {{"198.51.100.2", "x"}, 1, "norvane-cli: x: malformed address\n"},
#ifndef _WIN32
      {{"198.51.100.2"},
       2,
       "norvane-cli: cannot write the output: No space left on device\n",
       "/dev/full"},
#endif
  };
  options.format = Format::kText;
  options.verbose = true;
  for (const auto& c : statuses) {
    options.targets = c.targets;
    const auto [status, out, err] = RunScan(
        options, kFake, c.out ? std::fopen(c.out, "w") : std::tmpfile());
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(err, c.err);
  }
}

TEST(Cli, HardwareAddressNotations) {
  const std::pair<const char*, std::u16string> cases[] = {
      // Colons, dots and bare digits go through norvane-cli (netns_test).
      {"00-0c-29-0a-0b-ff", u"00-0C-29-0A-0B-FF"},
      {"00-0C:29-0A-0B-FF", u""},  // mixed separators
      {"00-0C-29-0A-0B-FG", u""},
      {"000C290A0BF", u""},
      {"000c.290a:0bff", u""},
      {"", u""},
  };
  for (const auto& [text, mac] : cases)
    EXPECT_EQ(NormalizeMac(text), mac) << text;
}

}  // namespace
}  // namespace norvane::cli
