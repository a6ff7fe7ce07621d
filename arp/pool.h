// A run of blocking queries on a bounded pool of threads, for platforms
// whose resolver answers one address per call (SendARP), which blocks for
// the system's whole resolution time on a silent address.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "mac.h"

namespace norvane {

// Threads resolving at once, at most: a /24 at once, so that it takes about
// as long as one silent address.
inline constexpr std::size_t kPoolThreads = 256;

// Calls resolve for every address on up to kPoolThreads threads, starting
// calls no faster than options.rate a second, and passes each answer to
// done, one call at a time. Returns when all are done.
template <typename Resolve>
void RunPooled(std::span<const IpAddress> addresses,
               const ResolveOptions& options, Resolve resolve,
               const ResolveDone& done) {
  std::atomic<std::size_t> next{0};
  std::mutex lock;  // guards done and the pace
  const auto interval = std::chrono::nanoseconds(std::chrono::seconds(1)) /
                        std::max(options.rate, 1u);
  auto next_start = std::chrono::steady_clock::now();
  const auto work = [&] {
    for (std::size_t i; (i = next++) < addresses.size();) {
      if (options.stop && options.stop->load()) {
        Resolution unasked;
        unasked.reason = Reason::kSystem;
        const std::lock_guard<std::mutex> held(lock);
        done(i, unasked);
        continue;
      }
      std::chrono::steady_clock::time_point start;
      {
        const std::lock_guard<std::mutex> held(lock);
        start = next_start =
            std::max(next_start, std::chrono::steady_clock::now());
        next_start += interval;
      }
      std::this_thread::sleep_until(start);
      const Resolution answer = resolve(addresses[i]);
      const std::lock_guard<std::mutex> held(lock);
      done(i, answer);
    }
  };
  std::vector<std::thread> threads;
  const std::size_t count = std::min(kPoolThreads, addresses.size());
  for (std::size_t t = 1; t < count; ++t) {
    // Fewer threads when the system gives no more: each takes the next.
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  work();
  for (std::thread& thread : threads) thread.join();
}

}  // namespace norvane
