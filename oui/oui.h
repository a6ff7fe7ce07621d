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

// The largest table read: thirty times the size of the shipped one.
inline constexpr std::uint64_t kMaxTableBytes = std::uint64_t{64} << 20;
// The longest line read: a registry record takes a few hundred bytes, and a
// vendor name costs its length on every lookup.
inline constexpr std::size_t kMaxLineBytes = std::size_t{64} << 10;

// Why a table could not be read.
struct TableFault {
  bool missing = false;   // no ordinary file at the path
  std::u16string reason;  // otherwise why it could not be read, in words
};

class VendorTable;

// Reads the table file at path into table, replacing what it held, up to the
// size the file had when it was opened. Says why when the file is missing,
// cannot be read, is larger than max_bytes or holds a line longer than
// kMaxLineBytes; table is then left as it was.
std::optional<TableFault> ReadTable(const std::filesystem::path& path,
                                    VendorTable& table,
                                    std::uint64_t max_bytes = kMaxTableBytes);

// The table's lines, cut at CR LF, held as the file's bytes with an index of
// the records' offsets by prefix for each prefix length.
// A line is a record unless it starts with '#'.
// Its prefix is columns 1 to 8, or 1 to 10 when column 9 holds '-' (a 28-bit
// block, XX-XX-XX-X), or 1 to 13 when columns 9 and 12 hold '-' (a 36-bit
// block, XX-XX-XX-XX-X); its name is column 25 on.
class VendorTable {
 public:
  VendorTable() : VendorTable(std::string_view()) {}
  // The table of these lines, as if read from a UTF-8 file of them.
  VendorTable(std::initializer_list<std::u16string> lines);
  // The table whose file holds bytes, whatever the length of its lines.
  static VendorTable FromBytes(std::string_view bytes) {
    return VendorTable(bytes);
  }

  // The number of lines and line i, decoded; an empty file has one line.
  std::size_t size() const { return lines_; }
  bool empty() const { return size() == 0; }
  std::u16string operator[](std::size_t i) const;
  void clear() { *this = VendorTable(); }

  // The name of the first record in file order whose whole prefix equals the
  // start of mac, unchanged with its trailing blanks; empty when none does.
  std::u16string Find(std::u16string_view mac) const;

 private:
  // The file's bytes; a large table's have pages of their own (Allocate).
  struct Release {
    std::size_t mapped;  // the bytes mapped, 0 when they came from new[]
    void operator()(char* bytes) const;
  };
  using Bytes = std::unique_ptr<char[], Release>;
  // Room for size bytes, not cleared.
  static Bytes Allocate(std::size_t size);

  explicit VendorTable(std::string_view bytes);
  VendorTable(Bytes bytes, std::size_t size);

  static constexpr std::uint32_t kNowhere = UINT32_MAX;
  static constexpr std::size_t kMarkEvery = 64;

  // The bytes of the line that starts at offset at, without its CR LF; and
  // at most most of them.
  std::string_view LineAt(std::uint32_t at) const;
  std::string_view HeadAt(std::uint32_t at, std::size_t most) const;
  std::u16string Decode(std::string_view bytes) const;
  // The prefix characters of the line at at into buffer, as a view of it.
  std::u16string_view PrefixOf(std::uint32_t at, char16_t* buffer) const;
  // Puts the records of index in order of their prefixes, file order kept
  // among equal ones.
  void Sort(std::vector<std::uint32_t>& index) const;
  // The prefix of the line at at, of columns characters at most, against
  // key.
  int Compare(std::uint32_t at, std::u16string_view key,
              std::size_t columns) const;
  // The first record in file order whose prefix of columns characters at
  // most is key, or kNowhere when none is.
  std::uint32_t Lookup(std::u16string_view key, std::size_t columns) const;

  Bytes bytes_;  // the file, always ended by CR LF
  std::uint32_t bytes_size_ = 0;
  [[maybe_unused]] bool ansi_ =
      false;  // decoded through the ANSI code page (Windows)
  std::size_t lines_ = 0;
  // Where every kMarkEvery-th line starts (past a byte order mark for the
  // first): a line is found from the mark before it, and no offset is held
  // for each line.
  std::vector<std::uint32_t> marks_;
  // The number of the first line longer than kMaxLineBytes, 0 if none.
  std::size_t long_line_ = 0;
  // The records' offsets for prefixes of 8, 10 and 13 columns, each sorted
  // by prefix and, for one prefix, in file order.
  std::vector<std::uint32_t> index_[3];

  friend std::optional<TableFault> ReadTable(const std::filesystem::path&,
                                             VendorTable&, std::uint64_t);
};

// True when path names an ordinary file: not a directory, and on Windows not
// marked hidden or system.
bool FileExists(const std::filesystem::path& path);

// The program's table. Filled once at start-up, read by FindVendor.
extern VendorTable OUIList;

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
