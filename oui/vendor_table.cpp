#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "oui.h"
#include "text.h"

#include <sys/stat.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace norvane {

VendorTable OUIList;

namespace {

// The name starts at column 25.
constexpr std::size_t kNameColumn = 24;
constexpr std::size_t kLongestPrefix = 13;
constexpr std::size_t kPrefixColumns[] = {8, 10, 13};

TableFault Unreadable(std::u16string reason) { return {false, reason}; }

TableFault Unreadable(int error_number) {
  return Unreadable(DecodeSystemText(std::strerror(error_number)));
}

TableFault TooLarge(std::uint64_t max_bytes) {
  const bool mebibytes = max_bytes % (1 << 20) == 0;
  const std::string size =
      std::to_string(mebibytes ? max_bytes >> 20 : max_bytes) +
      (mebibytes ? " MiB" : " bytes");
  return Unreadable(u"the file is larger than " + DecodeUtf8(size));
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::FILE* OpenForReading(const std::filesystem::path& path) {
#ifdef _WIN32
  return _wfopen(path.c_str(), L"rb");
#else
  return std::fopen(path.c_str(), "rb");
#endif
}

// The file's size now that it is open; false on failure.
bool SizeOf(std::FILE* file, std::uint64_t& size) {
#ifdef _WIN32
  struct _stat64 st {};
  if (_fstat64(_fileno(file), &st) != 0) return false;
#else
  struct stat st {};
  if (::fstat(fileno(file), &st) != 0) return false;
#endif
  size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  return true;
}

// Has the system give the pages of a buffer about to be filled all at once,
// rather than one fault per page as the read reaches each. A hint: where
// the system cannot, the pages come as before.
void Prefault([[maybe_unused]] char* buffer,
              [[maybe_unused]] std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto first =
      (reinterpret_cast<std::uintptr_t>(buffer) + page - 1) & ~(page - 1);
  const auto end =
      (reinterpret_cast<std::uintptr_t>(buffer) + size) & ~(page - 1);
  if (end > first)
    madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#endif
}

// The columns of the prefix text begins with: XX-XX-XX, or XX-XX-XX-X and
// XX-XX-XX-XX-X where a '-' follows in column 9, and then in column 12.
template <typename Char>
std::size_t PrefixColumns(std::basic_string_view<Char> text) {
  if (text.size() <= 8 || text[8] != Char('-')) return 8;
  return text.size() > 11 && text[11] == Char('-') ? 13 : 10;
}

// The first characters of prefix as a number that orders prefixes as their
// texts do: each ASCII character in 8 bits, any other in 17 bits (a 1, then
// the character), as many as fit in 64 bits.
std::uint64_t HeadOf(std::u16string_view prefix) {
  std::uint64_t head = 0;
  int room = 64;
  for (const char16_t c : prefix) {
    const int width = c < 0x80 ? 8 : 17;
    const std::uint64_t code = c < 0x80 ? c : 0x10000u | c;
    if (width >= room) return head | code >> (width - room);
    room -= width;
    head |= code << room;
  }
  return head;
}

// The CR LF that end the lines of a table's bytes, in order. The bytes are
// looked at 64 at a time for CR, and each CR found is kept as a bit of a
// mask: a search for each line's end (memchr, then a look at the byte after
// the CR) took 0.68 ms of the shipped table's 1.3 ms load, this 0.33 ms.
class LineEnds {
 public:
  explicit LineEnds(std::string_view all) : all_(all) {}

  // Where the first line that starts at or after start ends (the offset of
  // its CR), or npos when no CR LF follows start. start only grows.
  std::size_t After(std::size_t start) {
    if (!loaded_) {
      block_ = start & ~std::size_t{63};
      Load();
      crs_ &= ~std::uint64_t{0} << (start - block_);
      loaded_ = true;
    }
    for (;;) {
      while (crs_ == 0) {
        block_ += 64;
        if (block_ >= all_.size()) return std::string_view::npos;
        Load();
      }
      const std::size_t cr =
          block_ + static_cast<std::size_t>(std::countr_zero(crs_));
      crs_ &= crs_ - 1;
      if (cr >= start && cr + 1 < all_.size() && all_[cr + 1] == '\n')
        return cr;
    }
  }

 private:
  // The CRs of the block at block_.
  void Load() {
    crs_ = 0;
    const char* const p = all_.data() + block_;
#ifdef __SSE2__
    if (block_ + 64 <= all_.size()) {
      const __m128i cr = _mm_set1_epi8('\r');
      for (int i = 0; i < 4; ++i) {
        const __m128i bytes =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const auto found =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, cr)));
        crs_ |= std::uint64_t{found} << (16 * i);
      }
      return;
    }
#endif
    const std::size_t n = std::min<std::size_t>(64, all_.size() - block_);
    for (std::size_t i = 0; i < n; ++i)
      if (p[i] == '\r') crs_ |= std::uint64_t{1} << i;
  }

  std::string_view all_;
  std::size_t block_ = 0;
  std::uint64_t crs_ = 0;  // the CRs of the block not yet given out
  bool loaded_ = false;
};

// IsAscii for the few bytes of a prefix, in line: the thirteen of a whole
// one as two overlapping words.
bool IsShortAscii(std::string_view bytes) {
  constexpr std::uint64_t kHigh = 0x8080808080808080u;
  if (bytes.size() == kLongestPrefix) {
    std::uint64_t a, b;
    std::memcpy(&a, bytes.data(), 8);
    std::memcpy(&b, bytes.data() + kLongestPrefix - 8, 8);
    return ((a | b) & kHigh) == 0;
  }
  unsigned char any = 0;
  for (const char c : bytes) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

// a < b for the few bytes of a prefix, as string_view's operator< orders
// them, the first eight compared as one number: with the line scan above,
// a call into the library for every record was a fifth of the load.
bool ShortBefore(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  if (n >= 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a.data(), 8);
    std::memcpy(&y, b.data(), 8);
    if constexpr (std::endian::native == std::endian::little) {
      x = __builtin_bswap64(x);
      y = __builtin_bswap64(y);
    }
    if (x != y) return x < y;
    i = 8;
  }
  for (; i < n; ++i)
    if (a[i] != b[i])
      return static_cast<unsigned char>(a[i]) <
             static_cast<unsigned char>(b[i]);
  return a.size() < b.size();
}

// The index that holds prefixes of columns characters.
std::size_t IndexOf(std::size_t columns) {
  return columns == 8 ? 0 : columns == 10 ? 1 : 2;
}

}  // namespace

VendorTable::Bytes VendorTable::Allocate(std::size_t size) {
#ifdef MADV_HUGEPAGE
  // The shipped table (2.7 MiB) in 4 KiB pages took norvane-cli 8.1 ms to
  // start, most of the time beyond an empty table's (2.9 ms) the kernel's
  // handling of some 700 fresh pages; with its first 2 MiB in one huge
  // page, 6.3 ms (perf stat -r 100, the lines still counted before the
  // load). A huge page wants an address aligned to its size: the buffer is
  // mapped with room to spare and the spare is given back. Only whole huge
  // pages are advised, so the table takes no more memory than its size
  // rounded to pages.
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  if (size >= kHuge) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t length = (size + page - 1) / page * page;
    void* const mapped = mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const auto aligned = (start + kHuge - 1) & ~(kHuge - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    const std::size_t tail = start + kHuge - aligned;
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
    auto* const bytes = reinterpret_cast<char*>(aligned);
    madvise(bytes, length / kHuge * kHuge, MADV_HUGEPAGE);
    return Bytes(bytes, Release{length});
  }
#endif
  return Bytes(new char[size], Release{0});
}

void VendorTable::Release::operator()(char* bytes) const {
#ifdef MADV_HUGEPAGE
  if (mapped != 0) {
    munmap(bytes, mapped);
    return;
  }
#endif
  delete[] bytes;
}

VendorTable::VendorTable(std::initializer_list<std::u16string> lines) {
  std::string bytes;
  for (const std::u16string& line : lines) bytes += ToUtf8(line) + "\r\n";
  *this = VendorTable(std::string_view(bytes));
}

VendorTable::VendorTable(std::string_view bytes)
    : VendorTable(
          [&] {
            auto buffer = Allocate(bytes.size() + 2);
            std::copy(bytes.begin(), bytes.end(), buffer.get());
            return buffer;
          }(),
          bytes.size()) {}

VendorTable::VendorTable(Bytes bytes, std::size_t size)
    : bytes_(std::move(bytes)) {
  // The last line always ends with CR LF, as the splitter makes it; there is
  // room for it.
  std::string_view all(bytes_.get(), size);
  if (!all.ends_with("\r\n")) {
    bytes_[size++] = '\r';
    bytes_[size++] = '\n';
    all = {bytes_.get(), size};
  }
  if (size > UINT32_MAX) throw std::length_error("table too large");
  bytes_size_ = static_cast<std::uint32_t>(size);
  std::size_t start = 0;
  if (all.starts_with(kUtf8ByteOrderMark)) {
    start = kUtf8ByteOrderMark.size();
  } else {
#ifdef _WIN32
    ansi_ = !IsValidUtf8(all);
#endif
  }
  // The index of 24-bit records and the marks are given their room at once
  // for lines of 32 bytes on average (a registry record takes 40 to 90):
  // grown as they filled, they touched twice their memory, and at start-up
  // every page first touched costs a fault. The room is only an estimate:
  // counting the lines first took a third of the load.
  const std::size_t lines = size / 32 + 1;
  index_[0].reserve(lines);
  marks_.reserve(lines / kMarkEvery + 1);

  // Each record goes to the index of its prefix's length. The shipped
  // table comes in order, so an index is sorted only when a record came out
  // of order (or is not ASCII, which the shipped one never is): sorting the
  // shipped table's records anyway took its load from 2.2 to 9.3 ms.
  std::string_view last[3];  // the previous ASCII prefix of each index
  bool sorted[3] = {true, true, true};
  LineEnds ends(all);
  for (std::size_t end; (end = ends.After(start)) != all.npos;
       start = end + 2, ++lines_) {
    if (lines_ % kMarkEvery == 0)
      marks_.push_back(static_cast<std::uint32_t>(start));
    const std::string_view line = all.substr(start, end - start);
    if (line.size() > kMaxLineBytes && long_line_ == 0) long_line_ = lines_ + 1;
    if (line.starts_with('#')) continue;
    const std::string_view head = line.substr(0, kLongestPrefix);
    std::size_t k;
    if (IsShortAscii(head)) {
      const std::size_t columns = PrefixColumns(head);
      const std::string_view prefix = head.substr(0, columns);
      k = IndexOf(columns);
      if (ShortBefore(prefix, last[k])) sorted[k] = false;
      last[k] = prefix;
    } else {
      char16_t buffer[kLongestPrefix];
      k = IndexOf(
          PrefixColumns(PrefixOf(static_cast<std::uint32_t>(start), buffer)));
      sorted[k] = false;
    }
    index_[k].push_back(static_cast<std::uint32_t>(start));
  }
  for (std::size_t k = 0; k < 3; ++k)
    if (!sorted[k]) Sort(index_[k]);
}

void VendorTable::Sort(std::vector<std::uint32_t>& index) const {
  // By a number made of each prefix's first characters, in the order of the
  // texts, and only records whose numbers tie by the texts themselves:
  // 16 MiB of short records in no order took 2.7 s when every comparison
  // read both texts, 0.47 s so.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed;
  keyed.reserve(index.size());
  char16_t buffer[kLongestPrefix], other[kLongestPrefix];
  for (const std::uint32_t at : index)
    keyed.emplace_back(HeadOf(PrefixOf(at, buffer)), at);
  std::sort(keyed.begin(), keyed.end());
  for (auto tie = keyed.begin(); tie != keyed.end();) {
    const auto end = std::find_if(tie, keyed.end(), [&](const auto& entry) {
      return entry.first != tie->first;
    });
    std::stable_sort(tie, end, [&](const auto& a, const auto& b) {
      return PrefixOf(a.second, buffer) < PrefixOf(b.second, other);
    });
    tie = end;
  }
  for (std::size_t i = 0; i < index.size(); ++i) index[i] = keyed[i].second;
}

std::string_view VendorTable::HeadAt(std::uint32_t at, std::size_t most) const {
  // Every line ends with CR LF, the last one too: the search stops there.
  const char* first = bytes_.get() + at;
  const char* p = first;
  for (; static_cast<std::size_t>(p - first) < most; ++p)
    if (p[0] == '\r' && p[1] == '\n') break;
  return {first, static_cast<std::size_t>(p - first)};
}

std::string_view VendorTable::LineAt(std::uint32_t at) const {
  const char* first = bytes_.get() + at;
  const char* last = bytes_.get() + bytes_size_;
  const char* end = first;
  while (!(end[0] == '\r' && end[1] == '\n')) {
    end = static_cast<const char*>(std::memchr(end, '\r', last - end));
    if (end[1] != '\n') ++end;
  }
  return {first, static_cast<std::size_t>(end - first)};
}

std::u16string VendorTable::Decode(std::string_view bytes) const {
  std::u16string text;
#ifdef _WIN32
  if (ansi_) {
    DecodeAnsi(bytes, text);
    return text;
  }
#endif
  DecodeUtf8(bytes, text);
  return text;
}

std::u16string_view VendorTable::PrefixOf(std::uint32_t at,
                                          char16_t* buffer) const {
  // Thirteen characters never take more than four bytes each.
  const std::string_view head = HeadAt(at, 4 * kLongestPrefix);
  const std::size_t n = std::min(head.size(), kLongestPrefix);
  std::size_t ascii = 0;
  for (; ascii < n && static_cast<unsigned char>(head[ascii]) < 0x80; ++ascii)
    buffer[ascii] = static_cast<char16_t>(head[ascii]);
  std::u16string_view prefix(buffer, ascii);
  if (ascii < n) {
    const std::u16string text = Decode(head);
    prefix = {buffer, std::min(text.size(), kLongestPrefix)};
    std::copy_n(text.begin(), prefix.size(), buffer);
  }
  return prefix.substr(0, PrefixColumns(prefix));
}

int VendorTable::Compare(std::uint32_t at, std::u16string_view key,
                         std::size_t columns) const {
  // The records of one index have prefixes of columns characters or whole
  // lines shorter than that: as bytes while they are ASCII, up to the CR LF
  // that ends every line.
  const char* line = bytes_.get() + at;
  for (std::size_t k = 0; k < columns; ++k) {
    if (line[k] == '\r' && line[k + 1] == '\n') return k < key.size() ? -1 : 0;
    const char16_t c = static_cast<unsigned char>(line[k]);
    if (c >= 0x80) {
      char16_t buffer[kLongestPrefix];
      return PrefixOf(at, buffer).compare(key);
    }
    if (k == key.size() || c != key[k])
      return k == key.size() || c > key[k] ? 1 : -1;
  }
  return columns < key.size() ? -1 : 0;
}

std::uint32_t VendorTable::Lookup(std::u16string_view key,
                                  std::size_t columns) const {
  const std::vector<std::uint32_t>& index = index_[IndexOf(columns)];
  const auto first =
      std::lower_bound(index.begin(), index.end(), key,
                       [&](std::uint32_t at, std::u16string_view k) {
                         return Compare(at, k, columns) < 0;
                       });
  if (first == index.end() || Compare(*first, key, columns) != 0)
    return kNowhere;
  return *first;
}

std::u16string VendorTable::operator[](std::size_t i) const {
  // From the mark before it, a few lines on.
  std::uint32_t at = marks_[i / kMarkEvery];
  for (std::size_t skip = i % kMarkEvery; skip > 0; --skip)
    at += static_cast<std::uint32_t>(LineAt(at).size() + 2);
  return Decode(LineAt(at));
}

std::u16string VendorTable::Find(std::u16string_view mac) const {
  // Prefixes of different lengths never equal each other: at most one
  // record of each length matches, and the first of them in the file wins.
  // A record's offset orders it as its line number does.
  std::uint32_t found = kNowhere;
  for (const std::size_t columns : kPrefixColumns)
    if (PrefixColumns(mac) >= columns)
      found = std::min(found, Lookup(mac.substr(0, columns), columns));
  if (found == kNowhere) return {};
  std::u16string name = Decode(LineAt(found));
  name.erase(0, std::min(name.size(), kNameColumn));
  return name;
}

bool FileExists(const std::filesystem::path& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN |
                        FILE_ATTRIBUTE_SYSTEM)) == 0;
#else
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
#endif
}

std::optional<TableFault> ReadTable(const std::filesystem::path& path,
                                    VendorTable& table,
                                    std::uint64_t max_bytes) {
  if (!FileExists(path)) return TableFault{true, {}};
  try {
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(OpenForReading(path));
    if (!file) return Unreadable(errno);
    // Only what the file held when it was opened: one that another process
    // keeps writing to is not followed.
    std::uint64_t size = 0;
    if (!SizeOf(file.get(), size)) return Unreadable(errno);
    if (size > max_bytes) return TooLarge(max_bytes);

    // Room for the CR LF the table may add.
    const auto n = static_cast<std::size_t>(size);
    auto bytes = VendorTable::Allocate(n + 2);
    Prefault(bytes.get(), n + 2);
    std::size_t got = 0;
    while (got < n) {
      const std::size_t read =
          std::fread(bytes.get() + got, 1, n - got, file.get());
      if (read == 0) {
        if (std::ferror(file.get())) return Unreadable(errno ? errno : EIO);
        break;  // the file shrank since it was opened
      }
      got += read;
    }
    file.reset();
    VendorTable read(std::move(bytes), got);
    if (read.long_line_ != 0)
      return Unreadable(u"line " + DecodeUtf8(std::to_string(read.long_line_)) +
                        u" is longer than 64 KiB");
    table = std::move(read);
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return Unreadable(u"not enough memory");
  } catch (const std::length_error&) {
    return TooLarge(max_bytes);
  }
}

std::u16string FindVendor(const std::u16string& mac) {
  return OUIList.Find(mac);
}

AddressKind KindOf(std::u16string_view mac, bool listed) {
  const auto digit = [](char16_t c) -> int {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
  };
  // The first byte's low bits are its second digit's.
  const int low = mac.size() >= 2 && digit(mac[0]) >= 0 ? digit(mac[1]) : -1;
  if (low < 0) return AddressKind::kUniversal;
  if (low & 1) return AddressKind::kGroup;
  return low & 2 && !listed ? AddressKind::kLocal : AddressKind::kUniversal;
}

const char* KindText(AddressKind kind) {
  switch (kind) {
    case AddressKind::kLocal:
      return "local";
    case AddressKind::kGroup:
      return "group";
    case AddressKind::kUniversal:
      break;
  }
  return "universal";
}

}  // namespace norvane
