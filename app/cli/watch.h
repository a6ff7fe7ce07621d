// norvane-cli --watch: a scan of the targets, then one line for each change
// the kernel's neighbour events or a re-scan every options.every reveal,
// until the watch is stopped. Linux only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "watch_table.h"

namespace norvane::cli {

// What a watch asks of the system; tests drive it with a fake one and a
// clock of their own.
class WatchSystem {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Wake {
    kTimeout,    // the deadline came
    kSightings,  // events came, perhaps none that matter
    kLost,       // events were lost
    kStop,       // the watch is to end
    kError,      // the events cannot be read any more
  };
  virtual ~WatchSystem() = default;
  virtual Clock::time_point Now() = 0;
  // The time shown on each line.
  virtual std::chrono::system_clock::time_point Wall() = 0;
  // The parser and the resolver of the scans.
  virtual const AddressPlatform& Platform() = 0;
  // True once the watch is to end; each scan stops on it too.
  virtual std::atomic<bool>& Stop() = 0;
  // Waits until deadline for neighbour events (appended to sightings) or
  // the stop, without spending time in between; with a deadline gone by,
  // takes what has arrived without waiting.
  virtual Wake Wait(Clock::time_point deadline,
                    std::vector<Sighting>& sightings) = 0;
};

// The pairs in a file norvane-cli wrote (CSV with its header, or JSON
// lines; a scan's or a watch's), each address read by parse, the last line
// of an address winning; lines without a hardware address are skipped.
// Returns a message naming the line when the file is not such a file.
std::string ReadKnown(const std::string& name, std::FILE* input,
                      std::uint32_t (*parse)(const std::u16string&),
                      WatchTable& table);

// Runs the watch. Returns 0 once stopped, 1 when the events cannot be read,
// 2 when the known pairs cannot be read or the output cannot be written.
int Watch(const Options& options, std::FILE* out, std::FILE* err,
          WatchSystem& system);

// The watch over the kernel and the process's signals: SIGINT and SIGTERM
// stop it. Null, with a message in error, when the kernel's neighbour events
// cannot be listened to.
std::unique_ptr<WatchSystem> SystemWatch(const std::string& interface_name,
                                         std::string& error);

}  // namespace norvane::cli
