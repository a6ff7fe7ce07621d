// The watch: one resolver run for each scan of the targets, the kernel's
// neighbour events read between scans, and the table of what answered
// turning both into lines.
#include "watch.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "neighbour_events.h"
#include "oui.h"
#include "text.h"

namespace norvane::cli {
namespace {

using namespace std::chrono_literals;

// The longest line and the most lines of a file of known pairs: bounds on
// what an endless or hostile file can cost before the watch starts.
constexpr std::size_t kLongestKnownLine = 64 * 1024;
constexpr std::size_t kMostKnownLines = 1 << 22;

std::string Quoted(const std::string& text) {
  return '\'' + Escape(text) + '\'';
}

// The fields of one CSV line as CsvField writes them; empty when a quote is
// not closed.
std::optional<std::vector<std::string>> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') {
        fields.back() += c;
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (quoted) return std::nullopt;
  // A field CsvField guarded against spreadsheets loses its quote.
  for (std::string& field : fields) {
    if (field.size() > 1 && field[0] == '\'' &&
        std::strchr("=+-@\t\r", field[1]) != nullptr) {
      field.erase(0, 1);
    }
  }
  return fields;
}

// An address of a record as the targets' addresses are read; nothing for
// text with blanks, which the scan does not ask for either.
std::optional<std::uint32_t> RecordAddress(
    const std::string& text, std::uint32_t (*parse)(const std::u16string&)) {
  if (text.empty() ||
      text.find_first_of(" \t\n\v\f\r\\") != std::string::npos) {
    return std::nullopt;
  }
  const std::uint32_t address = parse(DecodeSystemText(text));
  if (address == kMalformedAddress) return std::nullopt;
  return address;
}

std::string Dotted(std::uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

std::uint32_t HostOrder(std::uint32_t address) { return ntohl(address); }

// The time as RFC 3339 says, to the millisecond, in the local time zone.
std::string Rfc3339(std::chrono::system_clock::time_point time) {
  const auto since = time.time_since_epoch();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds);
  const std::time_t t = static_cast<std::time_t>(seconds.count());
  std::tm local{};
  localtime_r(&t, &local);
  char text[48];
  const std::size_t n =
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff / 60;
  std::snprintf(text + n, sizeof text - n, ".%03d%c%02ld:%02ld",
                static_cast<int>(millis.count()), offset < 0 ? '-' : '+',
                std::labs(offset) / 60, std::labs(offset) % 60);
  return text;
}

// The targets as runs of addresses (host byte order), sorted and merged, to
// tell the events of the addresses watched from the others'.
class TargetSet {
 public:
  TargetSet(const Targets& targets,
            std::uint32_t (*parse)(const std::u16string&)) {
    for (std::uint64_t from = 0; from < targets.size(); from += kSlice) {
      for (const std::string& text : targets.Texts(from, kSlice)) {
        const auto address = RecordAddress(text, parse);
        if (!address) continue;
        const std::uint32_t host = HostOrder(*address);
        if (!runs_.empty() && runs_.back().second + 1 == host) {
          runs_.back().second = host;
        } else {
          runs_.emplace_back(host, host);
        }
      }
    }
    std::ranges::sort(runs_);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> merged;
    for (const auto& run : runs_) {
      if (!merged.empty() && run.first <= merged.back().second + 1ull) {
        merged.back().second = std::max(merged.back().second, run.second);
      } else {
        merged.push_back(run);
      }
    }
    runs_ = std::move(merged);
  }

  bool Contains(std::uint32_t address) const {
    const std::uint32_t host = HostOrder(address);
    const auto after = std::ranges::upper_bound(
        runs_, host, {}, [](const auto& run) { return run.first; });
    return after != runs_.begin() && std::prev(after)->second >= host;
  }

 private:
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs_;
};

class Watcher {
 public:
  Watcher(const Options& options, std::FILE* out, std::FILE* err,
          WatchSystem& system, WatchTable& table)
      : options_(options),
        out_(out),
        err_(err),
        system_(system),
        table_(table),
        targets_(options.targets, system.Platform().parse) {}

  int Run() {
    std::atomic<bool>& stop = system_.Stop();
    if (options_.format == Format::kCsv) {
      Put("time,event,address,mac,vendor,kind,previous\r\n");
    }
    auto next_scan = system_.Now();
    std::vector<Sighting> sightings;
    while (!stop && !unwritable_) {
      if (system_.Now() >= next_scan) {
        // Start to start, so that the schedule does not drift by the time
        // each scan takes; one longer than the interval is followed at once.
        next_scan = system_.Now() + options_.every;
        Scan();
        continue;
      }
      sightings.clear();
      const WatchSystem::Wake wake = system_.Wait(next_scan, sightings);
      if (wake == WatchSystem::Wake::kStop) break;
      if (wake == WatchSystem::Wake::kError) return Finish(kExitNotAll, errno);
      if (wake == WatchSystem::Wake::kLost) {
        // What the lost events said, a scan asks again.
        if (options_.verbose) {
          std::fprintf(err_,
                       "norvane-cli: neighbour events were lost; scanning "
                       "again\n");
        }
        next_scan = system_.Now();
      }
      Take(sightings);
    }
    return Finish(unreadable_ ? kExitNotAll : kExitAll, unreadable_);
  }

 private:
  void Take(const std::vector<Sighting>& sightings) {
    for (const Sighting& sighting : sightings) {
      if (!targets_.Contains(sighting.address)) continue;
      if (sighting.failed) {
        table_.Silent(sighting.address, events_);
      } else {
        table_.Answered(sighting.address, sighting.mac, system_.Wall(),
                        events_);
      }
    }
    Emit();
  }

  // During a scan, between its answers: the events that came meanwhile,
  // so that they wait no longer than that and do not overflow the socket's
  // buffer in a long scan.
  void TakeArrived() {
    const auto now = system_.Now();
    if (now - last_taken_ < 10ms) return;
    last_taken_ = now;
    std::vector<Sighting> sightings;
    switch (system_.Wait(now, sightings)) {
      case WatchSystem::Wake::kError:
        unreadable_ = errno ? errno : EIO;
        system_.Stop() = true;
        return;
      case WatchSystem::Wake::kLost:
        // The scan under way asks every address again anyway.
      case WatchSystem::Wake::kStop:
      case WatchSystem::Wake::kTimeout:
      case WatchSystem::Wake::kSightings:
        break;
    }
    Take(sightings);
  }

  // One resolver run for each slice of the targets.
  void Scan() {
    std::atomic<bool>& stop = system_.Stop();
    ResolveOptions resolve = options_.resolve;
    resolve.stop = &stop;
    resolve.confirm_stale = true;  // a stale entry's host may have gone
    const AddressPlatform& platform = system_.Platform();
    for (std::uint64_t from = 0; from < options_.targets.size() && !stop;
         from += kSlice) {
      std::vector<std::u16string> texts;
      std::vector<std::uint32_t> addresses;
      for (const std::string& text : options_.targets.Texts(from, kSlice)) {
        if (const auto address = RecordAddress(text, platform.parse)) {
          texts.push_back(DecodeSystemText(text));
          addresses.push_back(*address);
        }
      }
      QueryMany(
          texts, resolve,
          [&](std::size_t i, const QueryResult& result) {
            if (!result.mac.empty()) {
              table_.Answered(addresses[i], result.mac, system_.Wall(), events_,
                              result.source != Source::kStale);
            } else if (result.reason == Reason::kNoReply) {
              table_.Silent(addresses[i], events_);
            }
            // Anything else (the table full, a stop) says nothing of the
            // host.
            Emit();
            TakeArrived();
            if (unwritable_) stop = true;
          },
          platform);
    }
  }

  // Writes the events made so far, in order, each line flushed.
  void Emit() {
    for (const WatchEvent& event : events_) {
      if (unwritable_) break;
      Put(Line(event));
    }
    events_.clear();
    if (table_.overflow() > 0 && !told_overflow_) {
      told_overflow_ = true;
      std::fprintf(err_,
                   "norvane-cli: more than %zu addresses answered; the others "
                   "are not followed (--track)\n",
                   options_.track);
    }
  }

  std::string Line(const WatchEvent& event) {
    const std::string time = Rfc3339(system_.Wall());
    const std::string address = Dotted(event.address);
    const std::string mac = ToUtf8(event.mac);
    const std::string previous = ToUtf8(event.previous);
    const std::string vendor = ToUtf8(FindVendor(event.mac));
    const AddressKind kind = KindOf(event.mac, !vendor.empty());
    const char* change = ChangeText(event.change);
    if (event.change == Change::kChanged) {
      std::fprintf(err_,
                   "norvane-cli: warning: %s answers with %s now, with %s "
                   "before: an address conflict, or another host claiming "
                   "the address (ARP spoofing)\n",
                   address.c_str(), mac.c_str(), previous.c_str());
    }
    switch (options_.format) {
      case Format::kText: {
        std::string line = time + '\t' + change + '\t' + address + '\t' + mac +
                           '\t' + VendorColumn(vendor, kind);
        if (event.change == Change::kChanged) line += '\t' + previous;
        return line + '\n';
      }
      case Format::kCsv:
        return time + ',' + change + ',' + address + ',' + mac + ',' +
               CsvField(Escape(vendor)) + ',' + KindText(kind) + ',' +
               previous + "\r\n";
      case Format::kJson: {
        std::string line = "{\"time\":" + JsonString(time) +
                           ",\"event\":" + JsonString(change) +
                           ",\"address\":" + JsonString(address) +
                           ",\"mac\":" + JsonString(mac) +
                           ",\"vendor\":" + JsonString(vendor) +
                           ",\"kind\":" + JsonString(KindText(kind)) +
                           ",\"previous\":" +
                           (previous.empty() ? "null" : JsonString(previous));
        if (event.change == Change::kGone) {
          line += ",\"last_seen\":" + JsonString(Rfc3339(event.last_seen));
        }
        return line + "}\n";
      }
    }
    return {};
  }

  void Put(const std::string& line) {
    if (unwritable_) return;
    if (!Write(out_, line)) {
      unwritable_ = true;
      write_error_ = errno;
      system_.Stop() = true;
    }
  }

  int Finish(int status, int read_error = 0) {
    if (status == kExitNotAll) {
      std::fprintf(err_,
                   "norvane-cli: cannot read the kernel's neighbour events "
                   "any more: %s\n",
                   std::strerror(read_error));
    }
    if (table_.overflow() > 0) {
      std::fprintf(err_,
                   "norvane-cli: %llu answers of addresses not followed: at "
                   "most %zu are (--track)\n",
                   static_cast<unsigned long long>(table_.overflow()),
                   options_.track);
    }
    if (unwritable_ || std::fflush(out_) != 0 || std::ferror(out_)) {
      std::fprintf(
          err_, "norvane-cli: cannot write the output: %s\n",
          std::strerror(unwritable_ && write_error_ ? write_error_ : errno));
      return kExitTrouble;
    }
    return status;
  }

  const Options& options_;
  std::FILE* out_;
  std::FILE* err_;
  WatchSystem& system_;
  WatchTable& table_;
  const TargetSet targets_;
  std::vector<WatchEvent> events_;  // made, not yet written
  bool unwritable_ = false, told_overflow_ = false;
  int write_error_ = 0;
  int unreadable_ = 0;  // the events' errno, once they cannot be read
  WatchSystem::Clock::time_point last_taken_;
};

// The signals' end of the self-pipe; the handler only sets the flag and
// writes a byte, and the wait loop does the rest.
std::atomic<bool> stopping{false};
int signal_pipe = -1;
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
  const int saved = errno;
  stopping.store(true);
  const char byte = 0;
  [[maybe_unused]] const ssize_t n = write(signal_pipe, &byte, 1);
  errno = saved;
}

// The kernel's neighbour events and the signals' pipe, polled together. A
// further source of sightings (the ARP a packet socket hears on the link,
// with CAP_NET_RAW) is one more NeighbourEvents polled beside these: the
// table and the lines take a sighting from anywhere alike.
class KernelWatch : public WatchSystem {
 public:
  KernelWatch(std::unique_ptr<NeighbourEvents> events, int read_end,
              int write_end)
      : events_(std::move(events)), read_end_(read_end), write_end_(write_end) {
    signal_pipe = write_end_;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait the signal interrupts returns at once.
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
  }
  ~KernelWatch() override {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    signal_pipe = -1;
    close(read_end_);
    close(write_end_);
  }

  Clock::time_point Now() override { return Clock::now(); }
  std::chrono::system_clock::time_point Wall() override {
    return std::chrono::system_clock::now();
  }
  const AddressPlatform& Platform() override { return SystemPlatform(); }
  std::atomic<bool>& Stop() override { return stopping; }

  Wake Wait(Clock::time_point deadline,
            std::vector<Sighting>& sightings) override {
    for (;;) {
      if (stopping) return Wake::kStop;
      // A deadline gone by still takes what has arrived.
      const auto left = std::max<Clock::duration>(deadline - Clock::now(), 0ns);
      const auto seconds = std::chrono::floor<std::chrono::seconds>(left);
      const timespec timeout{static_cast<time_t>(seconds.count()),
                             static_cast<long>((left - seconds) / 1ns)};
      pollfd fds[2] = {{read_end_, POLLIN, 0}, {events_->fd(), POLLIN, 0}};
      const int ready = ppoll(fds, 2, &timeout, nullptr);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return Wake::kError;
      if (ready == 0) return Wake::kTimeout;
      if (fds[0].revents) return Wake::kStop;
      switch (events_->Take(sightings)) {
        case NeighbourEvents::Read::kRead:
          return Wake::kSightings;
        case NeighbourEvents::Read::kLost:
          return Wake::kLost;
        case NeighbourEvents::Read::kError:
          return Wake::kError;
      }
    }
  }

 private:
  std::unique_ptr<NeighbourEvents> events_;
  const int read_end_, write_end_;
  struct sigaction old_int_ {
  }, old_term_{};
};

}  // namespace

std::string ReadKnown(const std::string& name, std::FILE* input,
                      std::uint32_t (*parse)(const std::u16string&),
                      WatchTable& table) {
  std::FILE* file = name == "-" ? input : std::fopen(name.c_str(), "rb");
  if (!file) return "cannot read " + Quoted(name) + ": " + std::strerror(errno);
  std::string line, error;
  std::size_t number = 0;
  enum class Form { kUnknown, kCsv, kJson } form = Form::kUnknown;
  std::size_t address_column = 0, mac_column = 0, columns = 0;
  const auto where = [&] {
    return Quoted(name) + " line " + std::to_string(number) + ": ";
  };
  const auto take = [&]() -> std::string {
    if (number == 1 && line.starts_with(kUtf8ByteOrderMark)) {
      line.erase(0, kUtf8ByteOrderMark.size());
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) return {};
    std::string address, mac;
    if (form == Form::kUnknown && line.front() == '{') form = Form::kJson;
    if (form == Form::kUnknown) {
      const auto header = CsvFields(line);
      const auto column = [&](const char* wanted) {
        return header ? std::ranges::find(*header, wanted) - header->begin()
                      : 0;
      };
      if (!header || column("address") == std::ssize(*header) ||
          column("mac") == std::ssize(*header)) {
        return where() +
               "neither a CSV header with address and mac columns nor a "
               "JSON object; --known reads the CSV or JSON lines "
               "norvane-cli writes";
      }
      address_column = static_cast<std::size_t>(column("address"));
      mac_column = static_cast<std::size_t>(column("mac"));
      columns = header->size();
      form = Form::kCsv;
      return {};
    }
    if (form == Form::kCsv) {
      const auto fields = CsvFields(line);
      if (!fields || fields->size() != columns) {
        return where() + "not " + std::to_string(columns) + " CSV fields";
      }
      address = (*fields)[address_column];
      mac = (*fields)[mac_column];
    } else {
      const auto object = nlohmann::json::parse(line, nullptr, false);
      if (!object.is_object()) return where() + "not a JSON object";
      const auto a = object.find("address");
      const auto m = object.find("mac");
      if (a == object.end() || !a->is_string()) {
        return where() + "no address";
      }
      address = a->get<std::string>();
      if (m != object.end() && m->is_string()) mac = m->get<std::string>();
    }
    // A failed line's mac is null, empty or the error text: no pair.
    const std::u16string normal = NormalizeMac(mac);
    const auto parsed = RecordAddress(address, parse);
    if (!normal.empty() && parsed) table.Know(*parsed, normal);
    return {};
  };
  for (int c; error.empty() && (c = std::fgetc(file)) != EOF;) {
    if (c == '\n') {
      ++number;
      error = take();
      line.clear();
      if (number >= kMostKnownLines && error.empty()) {
        error = Quoted(name) + ": more than " +
                std::to_string(kMostKnownLines) + " lines";
      }
    } else if (line.size() == kLongestKnownLine) {
      ++number;
      error = where() + "longer than " + std::to_string(kLongestKnownLine) +
              " bytes";
    } else {
      line += static_cast<char>(c);
    }
  }
  if (error.empty() && !line.empty()) {
    ++number;
    error = take();
  }
  const bool failed = std::ferror(file);
  if (file != input) std::fclose(file);
  if (!error.empty()) return error;
  if (failed) return "cannot read " + Quoted(name);
  return {};
}

int Watch(const Options& options, std::FILE* out, std::FILE* err,
          WatchSystem& system) {
  WatchTable table(options.track);
  if (!options.known.empty()) {
    if (const std::string error =
            ReadKnown(options.known, stdin, system.Platform().parse, table);
        !error.empty()) {
      std::fprintf(err, "norvane-cli: %s\n", error.c_str());
      return kExitTrouble;
    }
  }
  return Watcher(options, out, err, system, table).Run();
}

std::unique_ptr<WatchSystem> SystemWatch(const std::string& interface_name,
                                         std::string& error) {
  auto events = NeighbourEvents::Open(interface_name);
  if (!events) {
    error = std::string("cannot listen to the kernel's neighbour events: ") +
            std::strerror(errno);
    return nullptr;
  }
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<KernelWatch>(std::move(events), ends[0], ends[1]);
}

}  // namespace norvane::cli
