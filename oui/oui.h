// The vendor table: oui.ieee beside the executable, held as it was read, and
// the lookup of a hardware address text's vendor prefix in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// Cuts text into pieces at every occurrence of delimiter and stores them in
// list from index on; index is left one past the last piece stored. The text
// gets the delimiter appended when it does not already end with it, so the
// last piece is never lost and a final delimiter adds no empty piece. Entries
// of list below the starting index are kept; the list is made exactly long
// enough for the last piece stored. Failures (memory, an empty delimiter) stop
// the procedure quietly with what it has stored.
void SplitText(std::u16string& text, const std::u16string& delimiter,
               std::vector<std::u16string>& list, std::size_t& index);

// The vendor table's file name; it lies in the executable's directory.
inline constexpr std::string_view kTableFileName = "oui.ieee";

// Exit status of a program that could not load its table.
inline constexpr int kTableExitStatus = 2;

// The largest table read: thirty times the size of the shipped one.
inline constexpr std::uint64_t kMaxTableBytes = std::uint64_t{64} << 20;

// Why a table could not be loaded, worded for the user.
struct TableError {
  std::u16string message;
  std::u16string title;
};

// The directory that holds the running executable (never the working
// directory); empty when it cannot be found.
std::filesystem::path ProgramDirectory();

class VendorTable;

// Reads the table file at path into table, replacing what it held, up to the
// size the file had when it was opened. Returns the error to show when the
// file is missing, cannot be read, or is larger than max_bytes.
std::optional<TableError> ReadTable(const std::filesystem::path& path,
                                    VendorTable& table,
                                    std::uint64_t max_bytes = kMaxTableBytes);

// The table file's bytes as text: a leading UTF-8 byte order mark dropped,
// then UTF-8 (one U+FFFD per invalid byte). On Windows, bytes that are not
// valid UTF-8 and carry no byte order mark go through the ANSI code page.
std::u16string DecodeTableText(std::string_view bytes);

// Frees the bytes of a VendorTable.
struct ReleaseTableBytes {
  std::size_t mapped = 0;  // bytes mapped, 0 for new[]
  void operator()(char* bytes) const;
};

// The table's lines, cut at CR LF, held in one buffer as the file's bytes
// with an index by prefix, made on first use (loading only reads the file).
// A line is a record unless it starts with '#'.
// Its prefix is columns 1 to 8, or 1 to 10 when column 9 holds '-' (a 28-bit
// block, XX-XX-XX-X), or 1 to 13 when columns 9 and 12 hold '-' (a 36-bit
// block, XX-XX-XX-XX-X); its name is column 25 on.
class VendorTable {
 public:
  VendorTable() = default;
  // The table of these lines, as if read from a UTF-8 file of them.
  VendorTable(std::initializer_list<std::u16string> lines);
  // The table whose file holds bytes.
  static VendorTable FromBytes(std::string_view bytes);

  // The number of lines and line i, decoded; an empty file has one line.
  std::size_t size() const {
    Index();
    return lines_;
  }
  bool empty() const { return size() == 0; }
  std::u16string operator[](std::size_t i) const;
  void clear() { *this = VendorTable(); }

  // The name of the first record in file order whose whole prefix equals the
  // start of mac, unchanged with its trailing blanks; empty when none does.
  std::u16string Find(std::u16string_view mac) const;

 private:
  static constexpr std::size_t kLongestPrefix = 13;
  using Prefix = std::u16string_view;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // Consecutive records, all of one prefix length and in order of their
  // prefixes, found by halving their byte range.
  struct Run {
    std::size_t begin, end;  // bytes, from a line start to past a CR LF
    std::size_t columns;     // 8, 10 or 13
    std::size_t records;
    std::size_t fences_begin, fences_end;  // in fences_
  };
  static constexpr std::size_t kMostRuns = 8;
  static constexpr std::size_t kFenceEvery = 16;

  // The file's bytes: from new[], or on Linux, for a table of 2 MiB or
  // more, an anonymous mapping whose whole 2 MiB pages are huge pages (a
  // few page faults instead of hundreds, and no more memory).
  using Buffer = std::unique_ptr<char[], ReleaseTableBytes>;
  static Buffer Allocate(std::size_t size);

  VendorTable(Buffer bytes, std::size_t size);
  // Made on first use: loading only reads the file.
  void Index() const;
  bool FindRuns() const;
  void Hash() const;
  std::size_t Search(const Run& run, Prefix key) const;
  // The line that starts at byte start, without its CR LF.
  std::string_view LineAt(std::size_t start) const;
  void Decode(std::string_view bytes, std::u16string& out) const;
  // The line's prefix characters into buffer, as a view of it.
  Prefix PrefixOf(std::string_view line, char16_t* buffer) const;
  // The start of the first record whose prefix is key, of columns
  // characters at most, or kNone.
  std::size_t Lookup(Prefix key, std::size_t columns) const;
  void Insert(std::size_t start, Prefix key) const;

  Buffer bytes_;  // the file, always ended by CR LF
  std::size_t bytes_size_ = 0;
  mutable std::size_t text_start_ = 0;  // past a byte order mark
  mutable bool indexed_ = false;
  mutable std::size_t lines_ = 0;
  mutable bool ansi_ = false;  // decoded through the ANSI code page
  // A table of sorted runs of records (the shipped one) is searched in
  // place; any other has its records hashed by prefix, each slot holding
  // where the first record of a prefix starts.
  mutable std::vector<Run> runs_;
  // The start of every 16th record of a run.
  mutable std::vector<std::uint32_t> fences_;
  mutable std::vector<std::uint32_t> slots_;
  // Line starts, made when a line is first asked for by its number.
  mutable std::vector<std::uint32_t> starts_;

  friend std::optional<TableError> ReadTable(const std::filesystem::path&,
                                             VendorTable&, std::uint64_t);
};

// True when path names an ordinary file: not a directory, and on Windows not
// marked hidden or system.
bool FileExists(const std::filesystem::path& path);

// The program's table. Filled once at start-up, read by FindVendor.
extern VendorTable OUIList;

// Reads oui.ieee from directory (the executable's own by default) into
// OUIList. An empty directory, one that could not be found, has no table.
std::optional<TableError> LoadTable(
    const std::filesystem::path& directory = ProgramDirectory());

// The vendor name for a hardware address text from OUIList.
std::u16string FindVendor(const std::u16string& mac);

// Who gave a hardware address out, from the bits of its first byte: a group
// address (the lowest bit: multicast, broadcast) belongs to no one card; a
// locally administered one (the next bit) was made up by its system, as
// randomised Wi-Fi, virtual machine and container addresses are; any other
// the IEEE assigned. An address whose prefix the table lists (listed) counts
// as assigned even with the local bit, as a few early registry records carry
// it (02-60-8C); a group address stays one, listed or not.
enum class AddressKind : std::uint8_t { kUniversal, kLocal, kGroup };
AddressKind KindOf(std::u16string_view mac, bool listed);
// "universal", "local" or "group".
const char* KindText(AddressKind kind);

}  // namespace norvane
