// norvane-cli --watch over a fake system with a clock of the test's own:
// the events of scans and of the kernel's reports, the re-scan schedule,
// the pairs known before, the cap and the write errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "oui.h"
#include "watch.h"

namespace norvane::cli {
namespace {

using namespace std::chrono_literals;
using Clock = WatchSystem::Clock;
using Wake = WatchSystem::Wake;

// 198.51.100.x in network byte order.
constexpr std::uint32_t Host(std::uint32_t x) { return 0x006433C6 | x << 24; }
const std::string kA = "00-0C-29-00-00-0A", kB = "00-0C-29-00-00-0B",
                  kC = "02-00-00-00-00-0C";

std::u16string Wide(const std::string& text) {
  return {text.begin(), text.end()};
}

// Each scan answers from its own map (address to hardware address; silent
// when absent) and takes its own time; between scans, steps come at their
// times. The watch stops when both run out.
struct FakeWatch : WatchSystem {
  struct Step {
    Clock::duration at;
    Wake wake = Wake::kSightings;
    std::vector<Sighting> sightings;
  };
  std::vector<std::map<std::uint32_t, std::string>> scans;
  std::vector<Clock::duration> takes;  // per scan; none: no time
  std::deque<Step> steps;
  std::vector<Clock::duration> started;  // each scan's start
  std::vector<Clock::time_point> deadlines;
  std::size_t asked = 0;  // addresses asked before a stop
  // Answered from a stale entry from the third scan on.
  std::vector<std::uint32_t> stale;
  Clock::time_point now;
  std::atomic<bool> stop{false};

  static FakeWatch* current;
  static void Resolve(std::span<const std::uint32_t> addresses,
                      const ResolveOptions& options, const ResolveDone& done) {
    FakeWatch& fake = *current;
    const std::size_t scan = fake.started.size();
    fake.started.push_back(fake.now - Clock::time_point());
    EXPECT_TRUE(options.confirm_stale);
    for (std::size_t i = 0; i < addresses.size(); ++i) {
      Resolution answer;
      answer.reason = Reason::kNoReply;
      if (options.stop->load()) {
        answer.reason = Reason::kSystem;
      } else if (++fake.asked; scan < fake.scans.size() &&
                               fake.scans[scan].contains(addresses[i])) {
        const std::string& mac = fake.scans[scan][addresses[i]];
        for (std::size_t b = 0; b < 6; ++b) {
          answer.buffer[b] = static_cast<std::uint8_t>(
              std::stoi(mac.substr(b * 3, 2), nullptr, 16));
        }
        answer.length = 6;
        answer.resolved = true;
        answer.reason = Reason::kNone;
        if (scan >= 2 &&
            std::ranges::find(fake.stale, addresses[i]) != fake.stale.end()) {
          answer.source = Source::kStale;
        }
      }
      done(i, answer);
    }
    if (scan < fake.takes.size()) fake.now += fake.takes[scan];
  }

  Clock::time_point Now() override { return now; }
  std::chrono::system_clock::time_point Wall() override {
    return std::chrono::system_clock::from_time_t(1'800'000'000) +
           std::chrono::duration_cast<std::chrono::system_clock::duration>(
               now - Clock::time_point());
  }
  const AddressPlatform& Platform() override {
    static const AddressPlatform platform{SystemPlatform().parse, Resolve};
    return platform;
  }
  std::atomic<bool>& Stop() override { return stop; }
  Wake Wait(Clock::time_point deadline,
            std::vector<Sighting>& sightings) override {
    if (deadline <= now &&
        (steps.empty() || Clock::time_point() + steps.front().at > now)) {
      return Wake::kTimeout;  // a look during a scan, with nothing due
    }
    deadlines.push_back(deadline);
    if (steps.empty() && started.size() >= scans.size()) return Wake::kStop;
    if (!steps.empty() && Clock::time_point() + steps.front().at <= deadline) {
      now = std::max(now, Clock::time_point() + steps.front().at);
      const Step step = steps.front();
      steps.pop_front();
      sightings = step.sightings;
      return step.wake;
    }
    now = deadline;
    return Wake::kTimeout;
  }
};
FakeWatch* FakeWatch::current = nullptr;

std::string Contents(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

Options Watching(Format format = Format::kText) {
  Options options;
  options.watch = true;
  options.format = format;
  options.every = 10s;
  options.targets.AddRun(0xC6336401, 9);  // 198.51.100.1 to .9
  return options;
}

// The status, the output and the messages of a watch.
std::tuple<int, std::string, std::string> RunWatch(
    const Options& options, FakeWatch& fake, std::FILE* out = std::tmpfile()) {
  setenv("TZ", "UTC", 1);
  tzset();
  OUIList = VendorTable{u"00-0C-29   (hex)        Test Vendor"};
  FakeWatch::current = &fake;
  std::FILE* err = std::tmpfile();
  const int status = Watch(options, out, err, fake);
  OUIList.clear();
  return {status, out ? Contents(out) : "", Contents(err)};
}

// Each event, from a scan and from the kernel's reports between scans:
// an address outside the targets and a failure of one never seen are no
// news, and a host that returns with another hardware address is back and
// changed.
TEST(Watch, EventsOfScansAndReports) {
  FakeWatch fake;
  fake.scans = {{{Host(2), kA}, {Host(3), kB}},
                {{Host(2), kC}},  // .3 gone
                {{Host(2), kC}, {Host(3), kA}}};
  fake.steps = {{1s,
                 Wake::kSightings,
                 {{Host(4), false, Wide(kB)},
                  {Host(77), false, Wide(kA)},
                  {Host(5), true, {}},
                  {Host(2), false, Wide(kA)}}},
                {2s, Wake::kSightings, {{Host(4), true, {}}}}};
  const auto [status, out, err] = RunWatch(Watching(), fake);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "2027-01-15T08:00:00.000+00:00\tnew\t198.51.100.2\t" + kA +
                     "\tTest Vendor\n"
                     "2027-01-15T08:00:00.000+00:00\tnew\t198.51.100.3\t" +
                     kB +
                     "\tTest Vendor\n"
                     "2027-01-15T08:00:01.000+00:00\tnew\t198.51.100.4\t" +
                     kB +
                     "\tTest Vendor\n"
                     "2027-01-15T08:00:02.000+00:00\tgone\t198.51.100.4\t" +
                     kB +
                     "\tTest Vendor\n"
                     "2027-01-15T08:00:10.000+00:00\tchanged\t198.51.100.2\t" +
                     kC + "\t(locally administered)\t" + kA +
                     "\n"
                     "2027-01-15T08:00:10.000+00:00\tgone\t198.51.100.3\t" +
                     kB +
                     "\tTest Vendor\n"
                     "2027-01-15T08:00:20.000+00:00\tback\t198.51.100.3\t" +
                     kA +
                     "\tTest Vendor\n"
                     "2027-01-15T08:00:20.000+00:00\tchanged\t198.51.100.3\t" +
                     kA + "\tTest Vendor\t" + kB + "\n");
  EXPECT_EQ(err,
            "norvane-cli: warning: 198.51.100.2 answers with " + kC +
                " now, with " + kA +
                " before: an address conflict, or another host claiming the "
                "address (ARP spoofing)\n"
                "norvane-cli: warning: 198.51.100.3 answers with " +
                kA + " now, with " + kB +
                " before: an address conflict, or another host claiming the "
                "address (ARP spoofing)\n");
}

TEST(Watch, JsonAndCsvForms) {
  const auto run = [](Format format) {
    FakeWatch fake;
    fake.scans = {{{Host(2), kA}}, {{Host(2), kC}}, {{Host(2), kC}}, {}};
    fake.stale = {Host(2)};  // from the third scan on
    return std::get<1>(RunWatch(Watching(format), fake));
  };
  EXPECT_EQ(run(Format::kJson),
            "{\"time\":\"2027-01-15T08:00:00.000+00:00\",\"event\":\"new\","
            "\"address\":\"198.51.100.2\",\"mac\":\"" +
                kA +
                "\",\"vendor\":\"Test Vendor\",\"kind\":\"universal\","
                "\"previous\":null}\n"
                "{\"time\":\"2027-01-15T08:00:10.000+00:00\",\"event\":"
                "\"changed\",\"address\":\"198.51.100.2\",\"mac\":\"" +
                kC + "\",\"vendor\":\"\",\"kind\":\"local\",\"previous\":\"" +
                kA +
                "\"}\n"
                "{\"time\":\"2027-01-15T08:00:30.000+00:00\",\"event\":"
                "\"gone\",\"address\":\"198.51.100.2\",\"mac\":\"" +
                kC +
                "\",\"vendor\":\"\",\"kind\":\"local\",\"previous\":null,"
                "\"last_seen\":\"2027-01-15T08:00:10.000+00:00\"}\n");
  EXPECT_EQ(run(Format::kCsv),
            "time,event,address,mac,vendor,kind,previous\r\n"
            "2027-01-15T08:00:00.000+00:00,new,198.51.100.2," +
                kA +
                ",Test Vendor,universal,\r\n"
                "2027-01-15T08:00:10.000+00:00,changed,198.51.100.2," +
                kC + ",,local," + kA +
                "\r\n"
                "2027-01-15T08:00:30.000+00:00,gone,198.51.100.2," +
                kC + ",,local,\r\n");
}

// Scans start every interval from the start of the one before, whatever
// the reports in between; one that takes longer is followed at once, and
// lost reports bring the next scan forward. Waits end at the next scan.
TEST(Watch, RescanSchedule) {
  FakeWatch fake;
  fake.scans.resize(6);
  fake.takes = {3s, 3s, 15s, 1s, 1s};
  fake.steps = {{4s, Wake::kSightings, {}},
                {5s, Wake::kTimeout, {}},
                {50s, Wake::kLost, {}}};
  EXPECT_EQ(std::get<0>(RunWatch(Watching(), fake)), 0);
  EXPECT_EQ(fake.started,
            (std::vector<Clock::duration>{0s, 10s, 20s, 35s, 45s, 50s}));
  // Every wait ends at the next scan of the schedule.
  for (const auto deadline : fake.deadlines) {
    EXPECT_NE(
        std::ranges::find(fake.started, deadline - Clock::time_point() - 10s),
        fake.started.end());
  }
}

// A cap on the addresses followed: the rest are counted and told, once as
// it happens and in sum at the end; the first ones keep being followed.
TEST(Watch, CapOnAddressesFollowed) {
  FakeWatch fake;
  fake.scans = {{{Host(2), kA}, {Host(3), kA}, {Host(4), kA}},
                {{Host(2), kA}, {Host(4), kA}}};
  Options options = Watching();
  options.track = 2;
  const auto [status, out, err] = RunWatch(options, fake);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::ranges::count(out, '\n'), 3);  // .2 and .3 new, .3 gone
  EXPECT_NE(out.find("gone\t198.51.100.3"), std::string::npos);
  EXPECT_EQ(err,
            "norvane-cli: more than 2 addresses answered; the others are not "
            "followed (--track)\n"
            "norvane-cli: 2 answers of addresses not followed: at most 2 are "
            "(--track)\n");
}

// An output that refuses a line ends the watch with status 2 and stops the
// scan under way: no address more is asked for.
TEST(Watch, WriteErrorEndsIt) {
  FakeWatch fake;
  fake.scans = {{{Host(1), kA}, {Host(2), kA}}, {}};
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  const auto [status, out, err] = RunWatch(Watching(), fake, full);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(err,
            "norvane-cli: cannot write the output: No space left on device\n");
  EXPECT_EQ(fake.asked, 1u);
  EXPECT_EQ(fake.started.size(), 1u);
}

// The pairs of a record norvane-cli wrote: no news when they answer alike,
// a change when not; a file of another kind is refused, naming its line.
TEST(Watch, KnownPairs) {
  const auto file = [](const std::string& text) {
    std::FILE* f = std::tmpfile();
    std::fputs(text.c_str(), f);
    std::rewind(f);
    return f;
  };
  const std::string scan_csv =
      "\xEF\xBB\xBF"
      "address,mac,vendor,kind\r\n198.51.100.2," +
      kA +
      ",\"Test, Vendor\",universal\r\n"
      "198.51.100.3,Error: Gagal memanggil SendARP(),,\r\n"
      "198.51.100.4," +
      kB + ",,universal\r\n";
  const std::string watch_json =
      "{\"time\":\"t\",\"event\":\"new\",\"address\":\"198.51.100.2\",\"mac\":"
      "\"00:0c:29:00:00:0b\"}\n\n"
      "{\"address\":\"198.51.100.5\",\"mac\":null,\"reason\":\"no reply\"}\n"
      "{\"event\":\"changed\",\"address\":\"198.51.100.2\",\"mac\":\"" +
      kA + "\",\"previous\":\"" + kB +
      "\"}\n"
      "{\"address\":\"198.51.100.4\",\"mac\":\"" +
      kB + "\"}";
  for (const std::string& record : {scan_csv, watch_json}) {
    FakeWatch fake;
    fake.scans = {{{Host(2), kA}, {Host(4), kC}, {Host(3), kA}}};
    std::FILE* input = file(record);
    WatchTable table(10);
    ASSERT_EQ(ReadKnown("-", input, SystemPlatform().parse, table), "");
    std::fclose(input);
    EXPECT_EQ(table.size(), 2u);
    std::vector<WatchEvent> events;
    table.Answered(Host(2), Wide(kA), {}, events);
    table.Answered(Host(4), Wide(kC), {}, events);
    table.Silent(Host(2), events);  // answered: may go
    table.Answered(Host(3), Wide(kA), {}, events);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].change, Change::kChanged);
    EXPECT_EQ(events[0].previous, Wide(kB));
    EXPECT_EQ(events[1].change, Change::kGone);
    EXPECT_EQ(events[2].change, Change::kNew);
  }
  // A known pair that never answers is not gone.
  WatchTable table(10);
  table.Know(Host(2), Wide(kA));
  std::vector<WatchEvent> events;
  table.Silent(Host(2), events);
  EXPECT_TRUE(events.empty());

  const struct {
    std::string text, error;
  } refused[] = {
      {"198.51.100.2\t" + kA + "\tTest Vendor\n",
       "'-' line 1: neither a CSV header"},
      {"address,mac\n198.51.100.2,\"" + kA + "\n", "'-' line 2: not 2 CSV"},
      {"address,mac\n198.51.100.2\n", "'-' line 2: not 2 CSV fields"},
      {"{\"address\":\"198.51.100.2\"}\n[1]\n",
       "'-' line 2: not a JSON object"},
      {"{\"address\":\"198.51.100.2\",\n", "'-' line 1: not a JSON object"},
      {"{\"mac\":\"" + kA + "\"}\n", "'-' line 1: no address"},
      {"address,mac\n" + std::string(70000, 'x'),
       "'-' line 2: longer than 65536 bytes"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.text.substr(0, 40));
    std::FILE* input = file(c.text);
    WatchTable ignored(10);
    EXPECT_EQ(ReadKnown("-", input, SystemPlatform().parse, ignored)
                  .substr(0, c.error.size()),
              c.error);
    std::fclose(input);
  }
}

TEST(Watch, Arguments) {
  const auto parse = [](const std::vector<std::string>& arguments) {
    return ParseArguments(arguments, stdin);
  };
  const auto options = parse({"--watch", "--every", "0.25", "--track", "9",
                              "--known", "record.csv", "198.51.100.1"});
  ASSERT_TRUE(std::holds_alternative<Options>(options));
  EXPECT_EQ(std::get<Options>(options).every, 250ms);
  EXPECT_EQ(std::get<Options>(options).track, 9u);
  EXPECT_EQ(std::get<Options>(options).known, "record.csv");
  const struct {
    std::vector<std::string> arguments;
    std::string error;
  } refused[] = {
      {{"--every", "5", "198.51.100.1"}, "option '--every' needs --watch"},
      {{"--watch", "--every", "0", "198.51.100.1"},
       "'--every 0': seconds are a number from 0.01 to 86400"},
      {{"--watch", "--track", "0", "198.51.100.1"},
       "'--track 0': a whole number from 1 to 1048576"},
      {{"--watch", "--vendor", "00-0C-29-00-00-01"},
       "--watch and --vendor do not go together"},
      {{"--watch", "-n", "198.51.100.1"}, "--watch and -n do not go together"},
  };
  for (const auto& c : refused) {
    const auto error = parse(c.arguments);
    ASSERT_TRUE(std::holds_alternative<std::string>(error)) << c.error;
    EXPECT_EQ(std::get<std::string>(error), c.error);
  }
}

}  // namespace
}  // namespace norvane::cli
