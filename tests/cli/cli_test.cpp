// norvane-cli's command line and output forms, over a fake resolver.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#ifndef _WIN32
#include <nlohmann/json.hpp>
#endif

#include "cli.h"
#include "ip6_text.h"
#include "oui.h"
#include "read_file.h"

namespace norvane::cli {
namespace {

using Strings = std::vector<std::string>;

using test::Contents;

// A scan into out (a temporary file by default): its status, its output and
// its messages.
std::tuple<int, std::string, std::string> RunScan(
    const Options& options, const AddressPlatform& platform,
    std::FILE* out = std::tmpfile(), NameLookupsMaker names = nullptr) {
  std::FILE* err = std::tmpfile();
  const int status = Scan(options, out, err, false, platform, names);
  return {status, Contents(out), Contents(err)};
}

const std::string kError = "Error: Gagal memanggil SendARP()";
const std::string kFull =
    "norvane-cli: cannot write the output: No space left on device\n";

TEST(Cli, ArgumentsBecomeTargets) {
  std::string inet6_blocks;
  for (std::size_t i = 0; i <= kMostEntries / 256; ++i) {
    inet6_blocks += "2001:db8::/120\n";
  }
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
      {{"not/a-block", "1.2.3.4/x", "1.2.3.4-x", "", "--", "-v"},
       {"not/a-block", "1.2.3.4/x", "1.2.3.4-x", "", "-v"}},
      // A list's lines end at LF, CR LF or a lone CR; a byte order mark,
      // comments and blank lines are dropped.
      {{"-f", "-", "198.51.100.3"},
       {"198.51.100.1", "198.51.100.2", "198.51.100.4", "198.51.100.5",
        "198.51.100.6", "198.51.100.3"},
       "\xEF\xBB\xBF# hosts\r198.51.100.1 # the first\n198.51.100.2\r\n\r\n"
       "  198.51.100.4/31\r198.51.100.6"},
      // Every address of a block or range read as a single one is: a
      // leading zero means octal.
      {{"198.51.100.010/32", "198.51.100.010-012", "198.51.100.7-010"},
       {"198.51.100.8", "198.51.100.8", "198.51.100.9", "198.51.100.10",
        "198.51.100.7", "198.51.100.8"}},
      // IPv6 in its canonical form, a link-local address with its link
      // (-I's when it names none); a block of up to 256 addresses.
      {{"2001:DB8:0::0:1", "fe80::1%2", "-I", "eth0", "FE80::7",
        "2001:db8::ff:1%eth1", "2001:db8::fe/127"},
       {"2001:db8::1", "fe80::1%2", "fe80::7%eth0", "2001:db8::ff:1",
        "2001:db8::fe", "2001:db8::ff"}},
      {{"1::2::3", "2001:db8::/x"}, {"1::2::3", "2001:db8::/x"}},
      {{"fe80::1"}, {}},         // which link?
      {{"2001:db8::/119"}, {}},  // cannot be swept
      {{"2001:db8::/129"}, {}},
      // Blocks of 256 that add up to more than a run holds.
      {{"-f", "-"}, {}, inet6_blocks},
      {{"198.51.100.20-10"}, {}},
      {{"198.51.100.0/33"}, {}},
      {{"10.0.0.0-10.1.0.0"}, {}},  // larger than a /16
      {{"--timeout", "0", "198.51.100.1"}, {}},
      {{"198.51.100.1", "--timeout"}, {}},
      {{"--rate", "0", "198.51.100.1"}, {}},
      {{"--retry", "0", "198.51.100.1"}, {}},
      {{"--retry", "101", "198.51.100.1"}, {}},
      {{"-f", "/nonexistent/list"}, {}},
      // A line or a run over its bound ends with a message, not on memory.
      {{"-f", "-"}, {}, std::string(kLongestLine + 1, '\0')},
      {Strings(kMostEntries + 1, "x"), {}},
      // Blank and comment lines count: endless blank input ends too.
      {{"-f", "-"}, {}, std::string(kMostEntries + 1, '\n')},
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

  const auto options = std::get<Options>(
      ParseArguments({"--json", "-v", "--found", "--timeout=0.25", "--rate",
                      "10", "-n", "--retry=3", "x"},
                     stdin));
  EXPECT_TRUE(options.verbose && options.found_only && options.names);
  EXPECT_TRUE(std::get<Options>(ParseArguments({"--names", "x"}, stdin)).names);
  EXPECT_EQ(std::tuple(options.format, options.resolve.timeout,
                       options.resolve.rate, options.resolve.attempts),
            std::tuple(Format::kJson, std::chrono::milliseconds(250), 10u, 3u));
}

// The local networks: loopback and a NOARP link are not scanned, a network
// twice on one interface is scanned once, one larger than a /16 only when
// allowed.
std::vector<LocalInterface> FakeInterfaces() {
  return {
      {"lo", false, {{0x7F000001, 8}}, {}, 1},
      {"eth0",
       true,
       {{0xC6336401, 24}, {0xCB007141, 26}, {0xC6336407, 24}},
       {},
       2},
      {"dummy0", false, {{0xC0000201, 24}}, {}, 3},
      {"wan0", true, {{0x0A000001, 8}}, {}, 4},
      {"up0", true, {}, {}, 5},
  };
}

TEST(Cli, LocalNetworks) {
  const struct {
    Strings arguments;
    std::uint64_t size;
    Strings ends;  // the first targets and the last
    std::string interface = "";
  } cases[] = {
      {{"198.51.100.9", "-l", "-I", "eth0"},
       1 + 254 + 62,
       {"198.51.100.9", "198.51.100.1", "203.0.113.126"},
       "eth0"},
      {{"--local", "--large"},
       254 + 62 + 16777214,
       {"198.51.100.1", "10.255.255.254"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    const auto options =
        std::get<Options>(ParseArguments(c.arguments, stdin, FakeInterfaces));
    ASSERT_EQ(options.targets.size(), c.size);
    Strings ends = options.targets.Texts(0, c.ends.size() - 1);
    ends.push_back(options.targets.Texts(c.size - 1, 1).at(0));
    EXPECT_EQ(ends, c.ends);
    EXPECT_EQ(options.resolve.interface_name, c.interface);
  }
  const std::pair<Strings, std::string> refused[] = {
      {{"-l"}, "interface 'wan0': '10.0.0.0/8' is larger than a /16"},
      {{"-I", "eth1", "198.51.100.9"}, "no interface 'eth1'"},
      {{"-l", "--interface=dummy0"},
       "no IPv4 network to scan on interface 'dummy0'"},
      {{"-l", "-I", "up0"}, "no IPv4 network to scan on interface"},
      {{"-I"}, "needs an interface name"},
      {{"-l", "--interface="}, "needs an interface name"},
      {{}, "-l"},  // no target: how to scan the local networks
  };
  for (const auto& [arguments, message] : refused) {
    const auto error =
        std::get<std::string>(ParseArguments(arguments, stdin, FakeInterfaces));
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
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
    [](std::span<const IpAddress> addresses, const ResolveOptions&,
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
                std::to_string(a & 255) + '\t' + kError + "\t\n";
  }
  const auto [status, out, err] = RunScan(options, kFake);
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(out == expected) << "lines missing, repeated or out of order";
  EXPECT_EQ(err, "");
}

// Every form keeps the targets' order whatever order the answers come in (a
// refused address first), and what a hostile list, argument or table puts
// into a line stays text: no address with junk after it, no vendor on a
// failed line, no spreadsheet formula, no raw terminal or bidirectional
// control. A raw 0x9B byte in an argument, as JSON writes it: not UTF-8, so
// U+FFFD on Linux; through the ANSI code page (1252: U+203A) on Windows.
#ifdef _WIN32
#define kRawByteInJson "\xE2\x80\xBA"
#else
#define kRawByteInJson "\xEF\xBF\xBD"
#endif
TEST(Cli, LinesInOrderAndHostileTextStaysText) {
  // The system's own parser, which stops at a blank, over the fake resolver.
  const AddressPlatform platform{SystemPlatform().parse, kFake.resolve};
  OUIList = {u"Error: G                Not a vendor",
             u"00-0C-29   (hex)        =HYPERLINK(\"http://x.example/\","
             u"\"click\")\u009B\u2028\u202E"};
  Options options;
  options.targets = {"0.0.0.0",      "198.51.100.2", "",
                     "198.51.100.9", "a\tb\\\n\x1b", "198.51.100.2 junk",
                     "=1+1",         "\x9B\x32"};  // 0x9B, '2'
  const std::string vendor =
      R"(=HYPERLINK("http://x.example/","click")\u009B\u2028\u202E)";
  const std::string found = "198.51.100.2\t00-0C-29-0A-0B-FF\t" + vendor + "\n";
  const auto json = [](const std::string& address, const std::string& reason) {
    return "{\"address\":\"" + address +
           "\",\"mac\":null,\"vendor\":\"\",\"kind\":null,\"reason\":\"" +
           reason + "\"}\n";
  };
  const std::string malformed = "malformed address";
  const struct {
    Format format;
    bool found_only;
    std::string out;
  } cases[] = {
      {Format::kText, false,
       "0.0.0.0\t" + kError + "\t\n" + found + "\t\t\n198.51.100.9\t" + kError +
           "\t\na\\tb\\\\\\n\\x1B\t" + kError + "\t\n198.51.100.2 junk\t" +
           kError + "\t\n=1+1\t" + kError + "\t\n\\x9B2\t" + kError + "\t\n"},
      {Format::kText, true, found},
      {Format::kCsv, false,
       "address,mac,vendor,kind,mark\r\n0.0.0.0," + kError +
           ",,,\r\n198.51.100.2,00-0C-29-0A-0B-FF,"
           R"("'=HYPERLINK(""http://x.example/"",""click"")\u009B\u2028\u202E")"
           ",universal,\r\n,,,,\r\n198.51.100.9," +
           kError + ",,,\r\na\\tb\\\\\\n\\x1B," + kError +
           ",,,\r\n198.51.100.2 junk," + kError + ",,,\r\n'=1+1," + kError +
           ",,,\r\n\\x9B2," + kError + ",,,\r\n"},
      {Format::kJson, false,
       json("0.0.0.0", "not a unicast address") +
           "{\"address\":\"198.51.100.2\",\"mac\":\"00-0C-29-0A-0B-FF\","
           R"("vendor":"=HYPERLINK(\"http://x.example/\",\"click\")\u009b\u2028\u202e",)"
           "\"kind\":\"universal\",\"state\":\"stale\"}\n" +
           json("", malformed) +
           json("198.51.100.9",
                "not on a directly connected network (gateway 198.51.100.1)") +
           json("a\\u0009b\\\\\\u000a\\u001b", malformed) +
           json("198.51.100.2 junk", malformed) + json("=1+1", malformed) +
           json(kRawByteInJson "2", malformed)},
  };
  for (const auto& c : cases) {
    options.format = c.format;
    options.found_only = c.found_only;
    // With --found, one found is success.
    EXPECT_EQ(RunScan(options, platform),
              std::tuple(c.found_only ? 0 : 1, c.out, ""));
  }
  OUIList.clear();

  const std::pair<std::string, std::string> escapes[] = {
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {"\xC2|\xE2\x80|\xC0\xAF|\xED\xA0\x80",
       R"(\xC2|\xE2\x80|\xC0\xAF|\xED\xA0\x80)"},
      {"\xE2\x81\xA6x\xE2\x81\xA9\xE2\x80\xAA", R"(\u2066x\u2069\u202A)"},
  };
  for (const auto& [text, escaped] : escapes) EXPECT_EQ(Escape(text), escaped);
}

// Exit statuses: all resolved; an empty address alone; reasons with -v; an
// output that refuses a line, written as it comes or grouped at the end.
TEST(Cli, ExitStatuses) {
  const struct {
    Strings targets;
    int status;
    std::string err = "";
    bool by_device = false;
  } cases[] = {
      {{"198.51.100.2", "198.51.100.2"}, 0},
      {{""}, 1},
      {{"198.51.100.2", "x"}, 1, "norvane-cli: x: malformed address\n"},
#ifndef _WIN32
      {{"198.51.100.2"}, 2, kFull},
      {{"198.51.100.2"}, 2, kFull, true},
#endif
  };
  Options options;
  options.verbose = true;
  for (const auto& c : cases) {
    options.targets = c.targets;
    options.by_device = c.by_device;
    const auto [status, out, err] =
        RunScan(options, kFake,
                c.status == 2 ? std::fopen("/dev/full", "w") : std::tmpfile());
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(err, c.err);
  }
}

// 198.51.100.N answers with the N-th of these; each kind on its own row.
constexpr HardwareBuffer kKinds[] = {
    {0x00, 0x0C, 0x29, 0x0A, 0x0B, 0xFF},  // listed: universal
    {0x00, 0x11, 0x22, 0x33, 0x44, 0x55},  // universal, no maker known
    {0xDA, 0xA1, 0x19, 0x00, 0x11, 0x22},  // randomised: local
    {0x02, 0x60, 0x8C, 0x01, 0x02, 0x03},  // local bit, but listed
    {0x01, 0x00, 0x5E, 0x00, 0x00, 0xFB},  // multicast: group
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},  // broadcast: group
    {0x11, 0x11, 0x11, 0x00, 0x00, 0x01},  // group, though listed
};
const AddressPlatform kKindsFake{
    [](const std::u16string& text) -> std::uint32_t {
      const std::size_t n =
          text.size() > 11
              ? std::stoul(std::string(text.begin() + 11, text.end()))
              : 0;
      return n >= 1 && n <= std::size(kKinds)
                 ? static_cast<std::uint32_t>(n) << 24 | 0x6433C6
                 : kMalformedAddress;
    },
    [](std::span<const IpAddress> addresses, const ResolveOptions&,
       const ResolveDone& done) {
      for (std::size_t i = 0; i < addresses.size(); ++i) {
        const std::size_t n = addresses[i].inet() >> 24;
        done(i, n >= 1 && n <= std::size(kKinds)
                    ? Resolution{.resolved = true,
                                 .buffer = kKinds[n - 1],
                                 .length = 6,
                                 .source = Source::kReachable}
                    : Resolution{.reason = Reason::kNoReply});
      }
    }};

class Kinds : public testing::Test {
 protected:
  void SetUp() override {
    OUIList = VendorTable{u"00-0C-29   (hex)        Test Vendor",
                          u"02-60-8C   (hex)        3COM",
                          u"11-11-11   (hex)        Private"};
  }
  void TearDown() override { OUIList.clear(); }
};

TEST_F(Kinds, EveryFormAndTheVendorLookup) {
  const struct {
    std::string mac, column, vendor, kind;  // column: the text form's
  } rows[] = {
      {"00-0C-29-0A-0B-FF", "Test Vendor", "Test Vendor", "universal"},
      {"00-11-22-33-44-55", "", "", "universal"},
      {"DA-A1-19-00-11-22", "(locally administered)", "", "local"},
      {"02-60-8C-01-02-03", "3COM", "3COM", "universal"},
      {"01-00-5E-00-00-FB", "(group address)", "", "group"},
      {"FF-FF-FF-FF-FF-FF", "(group address)", "", "group"},
      {"11-11-11-00-00-01", "Private", "Private", "group"},
  };
  // The scan's text, CSV and JSON, and the same hardware addresses looked up
  // in the table alone, given in lower case.
  const Format formats[] = {Format::kText, Format::kCsv, Format::kJson};
  std::string scanned[] = {"", "address,mac,vendor,kind,mark\r\n", ""};
  std::string looked[] = {"", "mac,vendor,kind\r\n", ""}, warnings;
  Options options, lookup;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const auto& [mac, column, vendor, kind] = rows[i];
    const std::string address = "198.51.100." + std::to_string(i + 1);
    options.targets.Add(address);
    std::string lower = mac;
    for (char& c : lower) c = static_cast<char>(std::tolower(c));
    lookup.targets.Add(lower);
    const std::string csv = mac + ',' + vendor + ',' + kind,
                      json = "\"mac\":\"" + mac + "\",\"vendor\":\"" + vendor +
                             "\",\"kind\":\"" + kind + '"';
    looked[0] += mac + '\t' + column + '\n';
    looked[1] += csv + "\r\n";
    looked[2] += '{' + json + "}\n";
    scanned[0] += address + '\t' + mac + '\t' + column + '\n';
    scanned[1] += address + ',' + csv + ",\r\n";
    scanned[2] += "{\"address\":\"" + address + "\"," + json +
                  ",\"state\":\"reachable\"}\n";
    // A group address answering for a host is reported as it is; -v warns.
    if (kind == "group")
      warnings += "norvane-cli: " + address +
                  ": answered with a group address, " + mac + "\n";
  }
  options.verbose = true;
  for (std::size_t f = 0; f < std::size(formats); ++f) {
    options.format = lookup.format = formats[f];
    EXPECT_EQ(RunScan(options, kKindsFake),
              std::tuple(0, scanned[f], warnings));
    // An address of no known maker fails the lookup, labelled or not.
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(LookUpVendors(lookup, out, err), 1);
    EXPECT_EQ(Contents(out), looked[f]);
    EXPECT_EQ(Contents(err), "");
  }
}

// Names from a fake: asked for the resolved addresses only, each given out
// of order when the run waits for them all, each in its line's place.
std::vector<std::uint32_t> asked;
std::unique_ptr<NameLookups> FakeNames(const NameOptions&, NameDone done) {
  struct Fake : NameLookups {
    NameDone done;
    std::vector<std::pair<std::size_t, std::uint32_t>> ids;
    void Look(std::size_t id, std::uint32_t address) override {
      ids.emplace_back(id, address);
      asked.push_back(address);
    }
    void Finish() override {
      static const HostName names[] = {
          {"printer-2nd-floor", NameSource::kDns},
          {"Pixel\t7\x1b\xc2\x85,\"x\"", NameSource::kMdns},
          {},
          {"WORKSTATION", NameSource::kNetbios}};
      for (auto id = ids.rbegin(); id != ids.rend(); ++id)
        done(id->first, names[id->second >> 24 & 3]);
      ids.clear();
    }
  };
  auto fake = std::make_unique<Fake>();
  fake->done = std::move(done);
  return fake;
}

TEST_F(Kinds, NamesInTheirLinesInEveryForm) {
  Options options;
  options.targets = {"198.51.100.4", "198.51.100.8", "198.51.100.1",
                     "198.51.100.2", "198.51.100.3"};
  options.names = true;
  const auto scan = [&](Format format) {
    options.format = format;
    const auto [status, out, err] =
        RunScan(options, kKindsFake, std::tmpfile(), FakeNames);
    EXPECT_EQ(std::tie(status, err), std::tuple(1, ""));
    return out;
  };
  EXPECT_EQ(scan(Format::kText),
            "198.51.100.4\t02-60-8C-01-02-03\t3COM\tprinter-2nd-floor\n"
            "198.51.100.8\tError: Gagal memanggil SendARP()\t\t\n"
            "198.51.100.1\t00-0C-29-0A-0B-FF\tTest Vendor\tPixel\\t7\\x1B"
            "\\u0085,\"x\"\n"
            "198.51.100.2\t00-11-22-33-44-55\t\t\n"
            "198.51.100.3\tDA-A1-19-00-11-22\t(locally administered)\t"
            "WORKSTATION\n");
  EXPECT_EQ(asked, (std::vector<std::uint32_t>{0x046433C6, 0x016433C6,
                                               0x026433C6, 0x036433C6}));
  EXPECT_EQ(
      scan(Format::kCsv),
      "address,mac,vendor,kind,name,mark\r\n"
      "198.51.100.4,02-60-8C-01-02-03,3COM,universal,printer-2nd-floor,\r\n"
      "198.51.100.8,Error: Gagal memanggil SendARP(),,,,\r\n"
      "198.51.100.1,00-0C-29-0A-0B-FF,Test Vendor,universal,"
      "\"Pixel\\t7\\x1B\\u0085,\"\"x\"\"\",\r\n"
      "198.51.100.2,00-11-22-33-44-55,,universal,,\r\n"
      "198.51.100.3,DA-A1-19-00-11-22,,local,WORKSTATION,\r\n");
  const std::string json = scan(Format::kJson);
  for (const std::string piece :
       {"\"state\":\"reachable\",\"name\":\"printer-2nd-floor\","
        "\"name_source\":\"dns\"}\n",
        "\"reason\":\"malformed "
        "address\",\"name\":null,\"name_source\":null}\n",
        "\"name\":\"Pixel\\u00097\\u001b\\u0085,\\\"x\\\"\","
        "\"name_source\":\"mdns\"}\n",
        "\"name\":\"WORKSTATION\",\"name_source\":\"netbios\"}"}) {
    EXPECT_NE(json.find(piece), std::string::npos) << piece;
  }
}

// Replies read off the wire that disagree: a second answerer, and a frame
// from another Ethernet address than the sender it names.
TEST(Cli, DisagreeingRepliesAreMarked) {
  static constexpr HardwareBuffer kFirst{0x00, 0x0C, 0x29, 0x0A, 0x0B, 0x01};
  static constexpr HardwareBuffer kSecond{0x02, 0, 0, 0, 0, 0x02};
  static constexpr HardwareBuffer kThird{0x02, 0, 0, 0, 0, 0x03};
  const AddressPlatform wire{
      kFake.parse, [](std::span<const IpAddress> addresses,
                      const ResolveOptions&, const ResolveDone& done) {
        for (std::size_t i = 0; i < addresses.size(); ++i) {
          Resolution answer{.resolved = true,
                            .buffer = kFirst,
                            .length = 6,
                            .source = Source::kReply};
          if (addresses[i] == kLive) {
            answer.conflicts = {kSecond, kThird};
          } else {
            answer.foreign_frame = true;
            answer.frame_source = kSecond;
          }
          done(i, answer);
        }
      }};
  Options options;
  options.targets = {"198.51.100.2", "198.51.100.9"};
  options.verbose = true;
  const std::string mac = "00-0C-29-0A-0B-01",
                    conflict = "conflict 02-00-00-00-00-02 02-00-00-00-00-03",
                    frame = "frame from 02-00-00-00-00-02";
  const auto json = [&mac](const std::string& address) {
    return "{\"address\":\"" + address + "\",\"mac\":\"" + mac +
           "\",\"vendor\":\"\",\"kind\":\"universal\",\"state\":\"reply\",";
  };
  const std::pair<Format, std::string> forms[] = {
      {Format::kText, "198.51.100.2\t" + mac + "\t\t" + conflict +
                          "\n198.51.100.9\t" + mac + "\t\t" + frame + '\n'},
      {Format::kCsv, "address,mac,vendor,kind,mark\r\n198.51.100.2," + mac +
                         ",,universal," + conflict + "\r\n198.51.100.9," + mac +
                         ",,universal," + frame + "\r\n"},
      {Format::kJson,
       json("198.51.100.2") +
           "\"conflicts\":[\"02-00-00-00-00-02\",\"02-00-00-00-00-03\"]}\n" +
           json("198.51.100.9") + "\"frame_source\":\"02-00-00-00-00-02\"}\n"},
  };
  for (const auto& [format, out] : forms) {
    options.format = format;
    EXPECT_EQ(RunScan(options, wire),
              std::tuple(0, out,
                         "norvane-cli: 198.51.100.2: " + conflict + " (" + mac +
                             " taken)\nnorvane-cli: 198.51.100.9: " + frame +
                             " (" + mac + " taken)\n"));
  }
  // Grouped, both are one device, and each mark names its address.
  options.format = Format::kText;
  options.by_device = true;
  EXPECT_EQ(std::get<1>(RunScan(options, wire)),
            mac + "\t198.51.100.2,198.51.100.9\t\t198.51.100.2 " + conflict +
                "; 198.51.100.9 " + frame + '\n');
}

// One machine's IPv4 and IPv6 addresses behind one hardware address: A at
// 198.51.100.2, .4 and .5, 2001:db8::2 (a router) and fe80::2%1; B at .3; every
// other address silent. Answers come in reverse order.
constexpr HardwareBuffer kDeviceA{0x00, 0x0C, 0x29, 0x0A, 0x0B, 0xFF};
constexpr HardwareBuffer kDeviceB{0xDA, 0xA1, 0x19, 0x00, 0x11, 0x22};
const AddressPlatform kDevicesFake{
    [](const std::u16string& text) -> std::uint32_t {
      const std::u16string net = u"198.51.100.";
      return text.starts_with(net) && text.size() == net.size() + 1
                 ? static_cast<std::uint32_t>(text.back() - u'0') << 24 |
                       0x6433C6
                 : kMalformedAddress;
    },
    [](std::span<const IpAddress> addresses, const ResolveOptions&,
       const ResolveDone& done) {
      for (std::size_t i = addresses.size(); i-- > 0;) {
        const IpAddress& a = addresses[i];
        const unsigned n = a.is_inet6() ? a.bytes[15] : a.inet() >> 24;
        Resolution answer{.resolved = true, .length = 6};
        answer.buffer = n == 3 ? kDeviceB : kDeviceA;
        answer.source = a.scope ? Source::kStale : Source::kReachable;
        answer.router = a.is_inet6() && !a.scope;
        if (n < 2 || n > 5 || (a.is_inet6() && n != 2)) {
          answer = Resolution{.reason = Reason::kNoReply};
        }
        done(i, answer);
      }
    },
    [](const std::u16string& text,
       const std::string&) -> std::optional<IpAddress> {
      const auto parsed = ParseIp6(std::string(text.begin(), text.end()));
      if (!parsed) return std::nullopt;
      return IpAddress::Inet6(parsed->bytes, parsed->zone.empty() ? 0 : 1);
    }};

// --by-device: a line per hardware address once the run is over, devices in
// the order of their first addresses and each one's addresses in theirs,
// whatever order the answers came in; a failed address keeps its own line,
// and the exit status is the ungrouped run's.
TEST_F(Kinds, ByDeviceGroupsAddressesOfOneHardwareAddress) {
  Options options;
  options.targets = {"198.51.100.3", "2001:db8::2", "198.51.100.9",
                     "198.51.100.2", "fe80::2%1"};
  options.by_device = true;
  const std::string a = "00-0C-29-0A-0B-FF", b = "DA-A1-19-00-11-22";
  EXPECT_EQ(RunScan(options, kDevicesFake),
            std::tuple(1,
                       "198.51.100.9\t" + kError + "\t\n" + b +
                           "\t198.51.100.3\t(locally administered)\n" + a +
                           "\t2001:db8::2,198.51.100.2,fe80::2%1\tTest "
                           "Vendor\n",
                       ""));
  options.found_only = true;
  EXPECT_EQ(std::get<0>(RunScan(options, kDevicesFake)), 0);
  options.found_only = false;
  options.format = Format::kCsv;
  EXPECT_EQ(std::get<1>(RunScan(options, kDevicesFake)),
            "mac,addresses,vendor,kind,mark\r\n" + kError +
                ",198.51.100.9,,,\r\n" + b + ",198.51.100.3,,local,\r\n" + a +
                ",2001:db8::2 198.51.100.2 fe80::2%1,Test Vendor,universal,"
                "\r\n");

#ifndef _WIN32
  // Each address's own fields in its object; a failed one's object as it is
  // without grouping.
  options.format = Format::kJson;
  std::istringstream lines(std::get<1>(RunScan(options, kDevicesFake)));
  auto objects = nlohmann::json::array();
  for (std::string line; std::getline(lines, line);) {
    objects.push_back(nlohmann::json::parse(line));
  }
  EXPECT_EQ(objects, nlohmann::json::parse(R"([
    {"address":"198.51.100.9","mac":null,"vendor":"","kind":null,
     "reason":"no reply within the deadline"},
    {"mac":"DA-A1-19-00-11-22","vendor":"","kind":"local",
     "addresses":[{"address":"198.51.100.3","state":"reachable"}]},
    {"mac":"00-0C-29-0A-0B-FF","vendor":"Test Vendor","kind":"universal",
     "addresses":[{"address":"2001:db8::2","family":"inet6","state":"router"},
                  {"address":"198.51.100.2","state":"reachable"},
                  {"address":"fe80::2%1","family":"inet6","state":"stale"}]}
  ])"))
      << objects.dump();
#endif

  // With -n a device's name is the first one found for its addresses (.2
  // has none, .4 and .5 have one each); JSON keeps each address's own.
  options.format = Format::kText;
  options.names = true;
  options.targets = {"198.51.100.2", "198.51.100.3", "198.51.100.4",
                     "198.51.100.5"};
  EXPECT_EQ(RunScan(options, kDevicesFake, std::tmpfile(), FakeNames),
            std::tuple(0,
                       a +
                           "\t198.51.100.2,198.51.100.4,198.51.100.5\tTest "
                           "Vendor\tprinter-2nd-floor\n" +
                           b +
                           "\t198.51.100.3\t(locally administered)\t"
                           "WORKSTATION\n",
                       ""));
  options.names = false;

  // An interface name may hold a comma: escaped, it splits no address.
  options.targets = {"198.51.100.2", "fe80::2%a,b"};
  EXPECT_EQ(std::get<1>(RunScan(options, kDevicesFake)),
            a + "\t198.51.100.2,fe80::2%a\\x2Cb\tTest Vendor\n");

  // --vendor's targets are devices already; the forms it takes go with it.
  // (--watch refuses it beside its other combinations: watch_test.)
  EXPECT_EQ(std::get<std::string>(ParseArguments(
                {"--vendor", "--by-device", "00-0C-29-0A-0B-FF"}, stdin)),
            "--vendor and --by-device do not go together");
  EXPECT_TRUE(std::get<Options>(
                  ParseArguments({"--by-device", "--csv", "-n", "x"}, stdin))
                  .by_device);
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
