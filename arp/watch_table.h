// What a watch of the network knows: for each address followed, the
// hardware address it last answered with, when, and whether it has gone
// silent; and the events a new answer or a silence makes of that. No clock
// and no system calls of its own: the front end says when and what.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace norvane {

enum class Change : std::uint8_t {
  kNew,      // answered for the first time (and not known before)
  kChanged,  // answered with another hardware address than before
  kGone,     // had answered, and now did not
  kBack,     // answered again after it had gone
};
const char* ChangeText(Change change);

struct WatchEvent {
  Change change = Change::kNew;
  std::uint32_t address = 0;  // network byte order
  std::u16string mac;         // for kGone, the last one it answered with
  std::u16string previous;    // for kChanged
  std::chrono::system_clock::time_point last_seen;  // for kGone
};

// What the kernel or the link said about an address between scans.
struct Sighting {
  std::uint32_t address = 0;  // network byte order
  bool failed = false;        // the kernel's resolution of it failed
  std::u16string mac;         // when not failed
};

// The addresses followed, at most `most` of them: answers for more are
// counted and dropped, so a flood of answers for made-up addresses costs
// no memory beyond the cap.
class WatchTable {
 public:
  using Time = std::chrono::system_clock::time_point;

  explicit WatchTable(std::size_t most) : most_(most) {}

  // A pair known from before this run: its answer with the same hardware
  // address is no news. False when the table is full.
  bool Know(std::uint32_t address, const std::u16string& mac);

  // The address answered with mac at now; appends the events that makes.
  // An answer that is not fresh (a stale entry of the kernel's) leaves the
  // time it was last seen as it was.
  void Answered(std::uint32_t address, const std::u16string& mac, Time now,
                std::vector<WatchEvent>& events, bool fresh = true);

  // The address did not answer when asked again (its probe went
  // unanswered, or the kernel failed its entry).
  void Silent(std::uint32_t address, std::vector<WatchEvent>& events);

  std::size_t size() const { return entries_.size(); }
  // Answers dropped because the table was full.
  std::uint64_t overflow() const { return overflow_; }

 private:
  struct Entry {
    std::u16string mac;
    Time last_seen;
    bool answered = false;  // in this run; false for a pair only known
    bool gone = false;
  };

  const std::size_t most_;
  std::unordered_map<std::uint32_t, Entry> entries_;
  std::uint64_t overflow_ = 0;
};

}  // namespace norvane
