// The thread pool that runs blocking queries, with a fake resolver.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "pool.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

TEST(Pool, BoundedPacedAndEachOnce) {
  std::vector<std::uint32_t> addresses(40);
  for (std::uint32_t i = 0; i < addresses.size(); ++i) addresses[i] = i;
  std::atomic<int> running{0}, most{0}, in_done{0};
  std::vector<int> answered(addresses.size());
  ResolveOptions options;
  options.rate = 400;
  const auto start = std::chrono::steady_clock::now();
  RunPooled(
      addresses, options,
      [&](std::uint32_t address) {
        const int now = ++running;
        for (int seen = most;
             now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(20ms);
        --running;
        Resolution answer;
        answer.resolved = address % 2 == 0;
        answer.length = address;
        return answer;
      },
      [&](std::size_t i, const Resolution& answer) {
        EXPECT_EQ(++in_done, 1);  // never two at once
        EXPECT_EQ(answer.length, i);
        EXPECT_EQ(answer.resolved, i % 2 == 0);
        ++answered[i];
        --in_done;
      });
  EXPECT_EQ(answered, std::vector<int>(addresses.size(), 1));
  EXPECT_LE(most, static_cast<int>(kPoolThreads));
  EXPECT_GT(most, 1);
  // 40 starts at 400 a second cannot take less than 39 intervals.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 39 * 2500us);
}

}  // namespace
}  // namespace norvane
