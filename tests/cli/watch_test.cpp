// norvane-cli --watch over a fake system with a clock of the test's own:
// the events of scans and of the kernel's reports, the forms, the re-scan
// schedule, the cap, a write error and the pairs known before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "oui.h"
#include "read_file.h"
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

// Each scan answers from its map (silent where absent), from a stale entry
// for the addresses in stale, and takes its time; between scans, steps come
// at theirs. The watch stops when both run out.
struct FakeWatch : WatchSystem {
  struct Step {
    Clock::duration at;
    Wake wake = Wake::kSightings;
    std::vector<Sighting> sightings;
  };
  std::vector<std::map<std::uint32_t, std::string>> scans;
  std::vector<Clock::duration> takes;
  std::vector<std::uint32_t> stale;
  std::deque<Step> steps;
  std::vector<Clock::duration> started, deadlines;
  std::size_t asked = 0;  // before a stop
  Clock::time_point now;
  std::atomic<bool> stop{false};

  static inline FakeWatch* current = nullptr;
  static void Resolve(std::span<const IpAddress> addresses,
                      const ResolveOptions& options, const ResolveDone& done) {
    FakeWatch& fake = *current;
    const std::size_t scan = fake.started.size();
    fake.started.push_back(fake.now - Clock::time_point());
    EXPECT_TRUE(options.confirm_stale);
    for (std::size_t i = 0; i < addresses.size(); ++i) {
      Resolution answer;
      answer.reason = options.stop->load() ? Reason::kSystem : Reason::kNoReply;
      const auto& answers = fake.scans[scan];
      if (!options.stop->load() && ++fake.asked &&
          answers.contains(addresses[i].inet())) {
        const std::string& mac = answers.at(addresses[i].inet());
        for (std::size_t b = 0; b < 6; ++b) {
          answer.buffer[b] = static_cast<std::uint8_t>(
              std::stoi(mac.substr(b * 3, 2), nullptr, 16));
        }
        answer = {true, answer.buffer, 6, Reason::kNone};
        if (std::ranges::count(fake.stale, addresses[i])) {
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
    const auto due = steps.empty() ? Clock::time_point::max()
                                   : Clock::time_point() + steps.front().at;
    if (deadline <= now && due > now) return Wake::kTimeout;  // in a scan
    deadlines.push_back(deadline - Clock::time_point());
    if (steps.empty() && started.size() >= scans.size()) return Wake::kStop;
    if (due > deadline) {
      now = deadline;
      return Wake::kTimeout;
    }
    now = std::max(now, due);
    sightings = steps.front().sightings;
    const Wake wake = steps.front().wake;
    steps.pop_front();
    return wake;
  }
};

using test::Contents;

// The status, the output and the messages of a watch of 198.51.100.1-9.
std::tuple<int, std::string, std::string> RunWatch(
    FakeWatch& fake, Format format = Format::kText, std::size_t track = 100,
    std::FILE* out = std::tmpfile()) {
  setenv("TZ", "UTC", 1);
  tzset();
  OUIList = VendorTable{u"00-0C-29   (hex)        Test Vendor"};
  Options options;
  options.watch = true;
  options.format = format;
  options.every = 10s;
  options.track = track;
  options.targets.AddRun(0xC6336401, 9);
  FakeWatch::current = &fake;
  std::FILE* err = std::tmpfile();
  const int status = Watch(options, out, err, fake);
  OUIList.clear();
  return {status, Contents(out), Contents(err)};
}

// The time at second s of the run, and a line of the text form then.
std::string Time(int s) {
  char time[40];
  std::snprintf(time, sizeof time, "2027-01-15T08:00:%02d.000+00:00", s);
  return time;
}
std::string Line(int s, const std::string& event, int host,
                 const std::string& mac, const std::string& previous = "") {
  return Time(s) + '\t' + event + "\t198.51.100." + std::to_string(host) +
         '\t' + mac + '\t' +
         (mac == kC ? "(locally administered)" : "Test Vendor") +
         (previous.empty() ? "" : '\t' + previous) + '\n';
}

// Each event, from scans and from the kernel's reports between them: an
// address outside the targets and the failure of one never seen are no
// news; a host that returns with another hardware address is back and
// changed.
TEST(Watch, EventsOfScansAndReports) {
  FakeWatch fake;
  fake.scans = {{{Host(2), kA}, {Host(3), kB}},
                {{Host(2), kC}},
                {{Host(2), kC}, {Host(3), kA}}};
  fake.steps = {{1s,
                 Wake::kSightings,
                 {{Host(4), false, Wide(kB)},
                  {Host(77), false, Wide(kA)},
                  {Host(5), true, {}},
                  {Host(2), false, Wide(kA)}}},
                {2s, Wake::kSightings, {{Host(4), true, {}}}}};
  const auto [status, out, err] = RunWatch(fake);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, Line(0, "new", 2, kA) + Line(0, "new", 3, kB) +
                     Line(1, "new", 4, kB) + Line(2, "gone", 4, kB) +
                     Line(10, "changed", 2, kC, kA) + Line(10, "gone", 3, kB) +
                     Line(20, "back", 3, kA) + Line(20, "changed", 3, kA, kB));
  const std::string warning =
      "norvane-cli: warning: 198.51.100.2 answers with " + kC + " now, with " +
      kA +
      " before: an address conflict, or another host claiming the "
      "address (ARP spoofing)\n";
  EXPECT_EQ(err.substr(0, warning.size()), warning);
  EXPECT_EQ(std::ranges::count(err, '\n'), 2);
}

// The JSON and CSV forms; an answer from a stale entry leaves the time the
// host was last seen alone.
TEST(Watch, JsonAndCsvForms) {
  const auto run = [](Format format) {
    FakeWatch fake;
    fake.scans = {{{Host(2), kA}}, {{Host(2), kC}}, {{Host(2), kC}}, {}};
    fake.stale = {Host(2)};
    return std::get<1>(RunWatch(fake, format));
  };
  const struct {
    int at;
    std::string event, mac, vendor, kind, previous;
  } events[] = {{0, "new", kA, "Test Vendor", "universal", ""},
                {10, "changed", kC, "", "local", kA},
                {30, "gone", kC, "", "local", ""}};
  std::string json, csv = "time,event,address,mac,vendor,kind,previous\r\n";
  for (const auto& e : events) {
    json += "{\"time\":\"" + Time(e.at) + "\",\"event\":\"" + e.event +
            "\",\"address\":\"198.51.100.2\",\"mac\":\"" + e.mac +
            "\",\"vendor\":\"" + e.vendor + "\",\"kind\":\"" + e.kind +
            "\",\"previous\":" +
            (e.previous.empty() ? "null" : '"' + e.previous + '"') +
            (e.event == "gone" ? ",\"last_seen\":\"" + Time(0) + '"' : "") +
            "}\n";
    csv += Time(e.at) + ',' + e.event + ",198.51.100.2," + e.mac + ',' +
           e.vendor + ',' + e.kind + ',' + e.previous + "\r\n";
  }
  EXPECT_EQ(run(Format::kJson), json);
  EXPECT_EQ(run(Format::kCsv), csv);
}

// Scans start every interval from the start of the one before, whatever
// comes between; one that takes longer is followed at once, lost reports
// bring the next forward, and every wait ends at the next scan.
TEST(Watch, RescanSchedule) {
  FakeWatch fake;
  fake.scans.resize(6);
  fake.takes = {3s, 3s, 15s, 1s, 1s};
  fake.steps = {{4s, Wake::kSightings, {}},
                {5s, Wake::kTimeout, {}},
                {50s, Wake::kLost, {}}};
  EXPECT_EQ(std::get<0>(RunWatch(fake)), 0);
  EXPECT_EQ(fake.started,
            (std::vector<Clock::duration>{0s, 10s, 20s, 35s, 45s, 50s}));
  for (const auto deadline : fake.deadlines) {
    EXPECT_EQ(std::ranges::count(fake.started, deadline - 10s), 1);
  }
}

// A cap on the addresses followed: the rest are counted and told, as it
// happens and in sum; the first keep being followed. An output that refuses
// a line ends the watch with status 2 and stops the scan under way.
TEST(Watch, CapAndWriteError) {
  FakeWatch fake;
  fake.scans = {{{Host(2), kA}, {Host(3), kA}, {Host(4), kA}},
                {{Host(2), kA}, {Host(4), kA}}};
  EXPECT_EQ(RunWatch(fake, Format::kText, 2),
            std::tuple(0,
                       Line(0, "new", 2, kA) + Line(0, "new", 3, kA) +
                           Line(10, "gone", 3, kA),
                       "norvane-cli: more than 2 addresses answered; the "
                       "others are not followed (--track)\n"
                       "norvane-cli: 2 answers of addresses not followed: at "
                       "most 2 are (--track)\n"));

  FakeWatch full;
  full.scans = {{{Host(1), kA}, {Host(2), kA}}, {}};
  const auto [status, out, err] =
      RunWatch(full, Format::kText, 100, std::fopen("/dev/full", "w"));
  EXPECT_EQ(std::tuple(status, err, full.asked, full.started.size()),
            std::tuple(2,
                       "norvane-cli: cannot write the output: No space left "
                       "on device\n",
                       1u, 1u));
}

// The pairs of a record norvane-cli wrote, a scan's CSV or a watch's JSON
// lines (the last line of an address winning): alike, no news; otherwise a
// change. A known pair that never answers is not gone. Another kind of
// file is refused, naming its line.
TEST(Watch, KnownPairs) {
  const auto read = [](const std::string& text, WatchTable& table) {
    std::FILE* file = std::tmpfile();
    std::fputs(text.c_str(), file);
    std::rewind(file);
    std::string error = ReadKnown("-", file, SystemPlatform().parse, table);
    std::fclose(file);
    return error;
  };
  for (const std::string& record :
       {"\xEF\xBB\xBF"
        "address,mac,vendor,kind\r\n198.51.100.2," +
            kA +
            ",\"Test, Vendor\",universal\r\n198.51.100.3,Error: Gagal "
            "memanggil SendARP(),,\r\n198.51.100.4," +
            kB + ",,universal\r\n",
        "{\"address\":\"198.51.100.2\",\"mac\":\"00:0c:29:00:00:0b\"}\n\n"
        "{\"address\":\"198.51.100.3\",\"mac\":null}\n"
        "{\"event\":\"changed\",\"address\":\"198.51.100.2\",\"mac\":\"" +
            kA + "\"}\n{\"address\":\"198.51.100.4\",\"mac\":\"" + kB +
            "\"}"}) {
    WatchTable table(10);
    ASSERT_EQ(read(record, table), "");
    std::vector<WatchEvent> events;
    table.Silent(Host(4), events);
    table.Answered(Host(2), Wide(kA), {}, events);
    table.Answered(Host(4), Wide(kC), {}, events);
    table.Answered(Host(3), Wide(kA), {}, events);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(
        std::tuple(events[0].change, events[0].previous, events[1].change),
        std::tuple(Change::kChanged, Wide(kB), Change::kNew));
  }
  const std::pair<std::string, std::string> refused[] = {
      {"198.51.100.2\t" + kA + "\n", "'-' line 1: neither a CSV header"},
      {"address,mac\n198.51.100.2,\"" + kA + "\n", "'-' line 2: not 2 CSV"},
      {"{\"address\":\"198.51.100.2\"}\n[1]\n", "'-' line 2: not a JSON"},
      {"{\"mac\":\"" + kA + "\"}\n", "'-' line 1: no address"},
      {"address,mac\n" + std::string(70000, 'x'), "'-' line 2: longer than"},
  };
  for (const auto& [text, error] : refused) {
    WatchTable table(10);
    EXPECT_EQ(read(text, table).substr(0, error.size()), error);
  }
}

TEST(Watch, Arguments) {
  const auto options = std::get<Options>(ParseArguments(
      {"--watch", "--every", "0.25", "--track", "9", "198.51.100.1"}, stdin));
  EXPECT_EQ(options.every, 250ms);
  EXPECT_EQ(options.track, 9u);
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"--every", "5", "x"}, "option '--every' needs --watch"},
      {{"--watch", "--every", "0", "x"},
       "'--every 0': seconds are a number from 0.01 to 86400"},
      {{"--watch", "-n", "x"}, "--watch and -n do not go together"},
      {{"--by-device", "--watch", "-l"},
       "--watch and --by-device do not go together"}};
  for (const auto& [arguments, error] : refused) {
    EXPECT_EQ(std::get<std::string>(ParseArguments(arguments, stdin)), error);
  }
}

}  // namespace
}  // namespace norvane::cli
