// norvane-cli's parts that need no process of their own: the command line,
// the expansion of blocks and ranges, and the output forms.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mac.h"
#include "names.h"

namespace norvane {
enum class AddressKind : std::uint8_t;
}

namespace norvane::cli {

enum class Format { kText, kJson, kCsv };

// norvane-cli's exit statuses, the same for every kind of run.
// kExitAll: every address answered (--found: any; --vendor: each had a
// vendor; --watch: ended by SIGINT or SIGTERM). kExitNotAll: any did not
// (--found: none did; --watch: the kernel's events could not be read).
// kExitTrouble: the vendor table, the command line or the output.
inline constexpr int kExitAll = 0;
inline constexpr int kExitNotAll = 1;
inline constexpr int kExitTrouble = 2;

// The address texts a command line names, in order. A block or range is held
// as its first address and its length, so a large one costs no more memory
// than one address until it is read a slice at a time.
class Targets {
 public:
  Targets() = default;
  Targets(std::initializer_list<std::string> texts);
  Targets(const std::vector<std::string>& texts);  // each text as it is

  void Add(std::string text);
  void AddRun(std::uint32_t first, std::uint64_t count);

  // The number of texts, every address of each run counted.
  std::uint64_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The entries added, runs counted once.
  std::size_t entries() const { return entries_.size(); }

  // Up to most texts from index from on; runs written as dotted addresses.
  std::vector<std::string> Texts(std::uint64_t from, std::size_t most) const;

 private:
  struct Entry {
    std::uint64_t start;  // the index of its first text
    std::string text;     // when count is 0
    std::uint32_t first;
    std::uint64_t count;
  };
  std::vector<Entry> entries_;
  std::uint64_t size_ = 0;
};

// What the command line asks for.
struct Options {
  Targets targets;
  Format format = Format::kText;
  bool found_only = false;  // --found: status 0 when any was found
  bool verbose = false;     // -v: reasons on standard error
  bool vendor = false;      // --vendor: targets are hardware addresses
  bool names = false;       // -n: each resolved host's name too
  bool by_device = false;   // --by-device: a line per hardware address
  bool help = false;
  bool version = false;
  // What -v says of how the targets were found, before the scan.
  std::vector<std::string> notes;
  ResolveOptions resolve;
  // --watch: scan, then report what changes until interrupted.
  bool watch = false;
  std::chrono::milliseconds every{60'000};  // --every: between re-scans
  std::string known;                        // --known: pairs known before
  std::size_t track = 65536;                // --track: addresses followed
};

// The largest block or range taken without --large.
inline constexpr std::size_t kLargeRun = 65536;
// The most entries (addresses, blocks, ranges) a run takes, and the longest
// line of a list file: bounds on what an endless or hostile list can cost.
inline constexpr std::size_t kMostEntries = 1 << 18;
inline constexpr std::size_t kLongestLine = 256;
// Addresses resolved together: a scan larger than this goes a slice at a
// time, so its memory stays bounded however large the block.
inline constexpr std::size_t kSlice = 65536;

// Where -l and -I find the machine's interfaces.
using InterfaceSource = std::vector<LocalInterface> (*)();
// How -l has IPv6 neighbours answer (EchoAllNodes); none: the cache alone.
using AllNodesEcho = std::vector<std::pair<std::int32_t, IpAddress>> (*)(
    const std::vector<std::int32_t>& ifindexes, std::chrono::milliseconds wait,
    std::string& why);
// How long -l waits for the answers to its echo.
inline constexpr std::chrono::milliseconds kEchoWait{500};

// The most addresses --track lets a watch follow.
inline constexpr std::size_t kMostTracked = 1 << 20;

// Reads the arguments (without the program's name); "-f -" reads input, -l
// and -I ask interfaces. Every address of a block or range is read by
// platform's parser, as a single address is. Returns the options, or the
// message for a usage error.
std::variant<Options, std::string> ParseArguments(
    const std::vector<std::string>& arguments, std::FILE* input,
    InterfaceSource interfaces = LocalInterfaces,
    const AddressPlatform& platform = SystemPlatform(),
    AllNodesEcho echo = nullptr);

// Text with control characters and backslashes written as escapes (\t, \n,
// \r, \\, \xHH), bytes that are not UTF-8 as \xHH, and the C1 controls,
// bidirectional controls and line and paragraph separators as \uXXXX, so
// that a value holds one column of one line and reaches a terminal harmless.
std::string Escape(std::string_view text);

// A hardware address in any usual notation (dashes, colons, dots between
// groups of four, bare digits; either case) in the program's form; empty
// when the text is none of these.
std::u16string NormalizeMac(std::string_view text);

// The pieces of the output forms the scan and the watch share: a JSON
// string, an RFC 4180 field, the text form's vendor column, and a write of
// a whole line, flushed (false when the output refuses it).
std::string JsonString(std::string_view text);
std::string CsvField(const std::string& text);
std::string VendorColumn(const std::string& vendor, AddressKind kind);
bool Write(std::FILE* out, const std::string& text);

// Queries every target and writes one line each, in order, each as soon as
// the lines before it are known (with -n, its name too, from names);
// progress goes to err when progress is set. The targets are resolved
// kSlice at a time. With by_device, the resolved addresses' lines become
// one line per hardware address at the end, in the order of each one's
// first address.
// Returns the exit status; kExitTrouble when the output is unwritable.
int Scan(const Options& options, std::FILE* out, std::FILE* err, bool progress,
         const AddressPlatform& platform = SystemPlatform(),
         NameLookupsMaker names = SystemNameLookups);

// Looks up the vendor and kind of every target (a hardware address) in the
// loaded table, in options.format. Returns the exit status: kExitNotAll
// when any had none or was malformed.
int LookUpVendors(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace norvane::cli
