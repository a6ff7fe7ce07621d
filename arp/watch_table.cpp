#include "watch_table.h"

namespace norvane {

const char* ChangeText(Change change) {
  switch (change) {
    case Change::kNew:
      return "new";
    case Change::kChanged:
      return "changed";
    case Change::kGone:
      return "gone";
    case Change::kBack:
      return "back";
  }
  return "";
}

bool WatchTable::Know(std::uint32_t address, const std::u16string& mac) {
  if (const auto found = entries_.find(address); found != entries_.end()) {
    found->second.mac = mac;  // a later line of the record wins
    return true;
  }
  if (entries_.size() >= most_) {
    ++overflow_;
    return false;
  }
  entries_.emplace(address, Entry{mac, {}, false, false});
  return true;
}

void WatchTable::Answered(std::uint32_t address, const std::u16string& mac,
                          Time now, std::vector<WatchEvent>& events,
                          bool fresh) {
  const auto found = entries_.find(address);
  if (found == entries_.end()) {
    if (entries_.size() >= most_) {
      ++overflow_;
      return;
    }
    entries_.emplace(address, Entry{mac, now, true, false});
    events.push_back({Change::kNew, address, mac, {}, {}});
    return;
  }
  Entry& entry = found->second;
  if (fresh || !entry.answered) entry.last_seen = now;
  entry.answered = true;
  if (entry.gone) {
    entry.gone = false;
    events.push_back({Change::kBack, address, mac, {}, {}});
  }
  if (entry.mac != mac) {
    events.push_back({Change::kChanged, address, mac, entry.mac, {}});
    entry.mac = mac;
  }
}

void WatchTable::Silent(std::uint32_t address,
                        std::vector<WatchEvent>& events) {
  const auto found = entries_.find(address);
  // Only what answered in this run can go: a known pair that never did is
  // not news, nor is an address that never answered at all.
  if (found == entries_.end() || !found->second.answered ||
      found->second.gone) {
    return;
  }
  found->second.gone = true;
  events.push_back(
      {Change::kGone, address, found->second.mac, {}, found->second.last_seen});
}

}  // namespace norvane
