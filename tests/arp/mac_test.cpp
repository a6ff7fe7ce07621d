// The query's own rules, against a fake platform that records what it is
// asked, and the thread pool that runs blocking queries, with a fake resolver.
#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <optional>
#include <thread>

#include "mac.h"
#include "pool.h"
#include "resolve_each.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr std::uint32_t kHost = 0x026433C6;  // 198.51.100.2

struct Fake {
  HardwareBuffer answer;
  std::uint32_t length = 6;  // the length resolve reports
  bool resolves = true;
  std::uint32_t parsed = kHost;  // what parse returns
  std::optional<std::uint32_t> asked = std::nullopt;
} fake;

bool FakeResolve(std::uint32_t address, HardwareBuffer& buffer,
                 std::uint32_t& length) {
  fake.asked = address;
  buffer = fake.answer;
  length = fake.length;
  return fake.resolves;
}

const AddressPlatform kFakePlatform{
    [](const std::u16string&) { return fake.parsed; },
    ResolveEach<FakeResolve>};

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
      {u"", {mac}, u"", std::nullopt},
      {u"abc", {{}, 6, false, kMalformedAddress}, error, kMalformedAddress},
      // Malformed as a whole, never parsed up to the NUL.
      {u"198.51.100.2\0"s, {mac}, u"02-00-00-00-00-01", kMalformedAddress},
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

// Runs resolve over count addresses started at rate a second, each answered
// once with its own answer and never two answers at once; returns the most
// calls of resolve running at once.
template <typename Resolve>
int MostAtOnce(std::size_t count, unsigned rate, Resolve resolve) {
  std::vector<std::uint32_t> ids(count);
  std::iota(ids.begin(), ids.end(), 0u);
  const std::vector<IpAddress> addresses(ids.begin(), ids.end());
  std::atomic<int> running{0}, most{0}, in_done{0};
  std::vector<int> answered(count);
  ResolveOptions options;
  options.rate = rate;
  RunPooled(
      addresses, options,
      [&](const IpAddress& address) {
        const int now = ++running;
        for (int seen = most;
             now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        resolve(address.inet(), running);
        --running;
        Resolution answer;
        answer.length = address.inet();
        return answer;
      },
      [&](std::size_t i, const Resolution& answer) {
        EXPECT_EQ(++in_done, 1);
        EXPECT_EQ(answer.length, i);
        ++answered[i];
        --in_done;
      });
  EXPECT_EQ(answered, std::vector<int>(count, 1));
  return most;
}

TEST(Pool, PacedAndRunAtOnce) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_GT(MostAtOnce(40, 400,
                       [](std::uint32_t, const std::atomic<int>&) {
                         std::this_thread::sleep_for(20ms);
                       }),
            1);
  // 40 starts at 400 a second cannot take less than 39 intervals.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 39 * 2500us);
}

// A /24 whose silent addresses each block for 3 s, as SendARP does, waits for
// them all at once, so it takes about as long as one; a larger run never has
// more than the pool's bound waiting, however long its calls block.
TEST(Pool, ASlash24WaitsAtOnce) {
  EXPECT_GE(MostAtOnce(254, 1000,
                       [](std::uint32_t address, const std::atomic<int>&) {
                         if (address % 50 != 0) std::this_thread::sleep_for(3s);
                       }),
            248);
  // Every call blocks until the pool is full (or a minute has passed).
  std::atomic<bool> full{false};
  const auto until = std::chrono::steady_clock::now() + 60s;
  EXPECT_EQ(
      MostAtOnce(kPoolThreads + 40, 1'000'000,
                 [&](std::uint32_t, const std::atomic<int>& running) {
                   while (!full && std::chrono::steady_clock::now() < until) {
                     if (running >= static_cast<int>(kPoolThreads)) {
                       full = true;
                     }
                     std::this_thread::sleep_for(1ms);
                   }
                 }),
      static_cast<int>(kPoolThreads));
}

}  // namespace
}  // namespace norvane
