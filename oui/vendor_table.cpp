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
#endif

namespace norvane {

VendorTable OUIList;

namespace {

constexpr char16_t kMissingText[] = u"Critical Error! oui.ieee not found!";
constexpr char16_t kMissingTitle[] = u"ERROR: Can't Find File";
constexpr char16_t kUnreadableText[] =
    u"Critical Error! oui.ieee can't be read: ";
constexpr char16_t kUnreadableTitle[] = u"ERROR: Can't Read File";

// The name starts at column 25.
constexpr std::size_t kNameColumn = 24;

TableError Unreadable(const std::u16string& reason) {
  return {kUnreadableText + reason, kUnreadableTitle};
}

TableError Unreadable(int error_number) {
  return Unreadable(DecodeSystemText(std::strerror(error_number)));
}

TableError TooLarge(std::uint64_t max_bytes) {
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

std::uint64_t Load8(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Whether a comes before b or equals it, bytes taken as unsigned: the first
// eight at once, as one big-endian number each.
bool NotAfter(std::string_view a, std::string_view b) {
  if (a.size() >= 8 && b.size() >= 8) {
    const std::uint64_t x = Load8(a.data()), y = Load8(b.data());
    if (x != y) {
      const auto big = [](std::uint64_t v) {
        std::uint64_t r = 0;
        for (int i = 0; i < 8; ++i) r = (r << 8) | ((v >> (8 * i)) & 0xFF);
        return r;
      };
      return big(x) < big(y);
    }
    a.remove_prefix(8);
    b.remove_prefix(8);
  }
  return a <= b;
}

// Whether bytes that are not valid UTF-8 go through the ANSI code page;
// drops a byte order mark from bytes.
bool TakesAnsi(std::string_view& bytes) {
  if (bytes.starts_with(kUtf8ByteOrderMark)) {
    bytes.remove_prefix(kUtf8ByteOrderMark.size());
    return false;
  }
#ifdef _WIN32
  return !IsValidUtf8(bytes);
#else
  return false;
#endif
}

// Four characters at a time, each step mixed by a multiplication, and the
// bits at the end mixed so that the low ones that pick a slot depend on all.
std::uint64_t HashOf(std::u16string_view key) {
  std::uint64_t h = key.size();
  for (std::size_t i = 0; i < key.size(); i += 4) {
    std::uint64_t word = 0;
    for (std::size_t k = 0; k < 4 && i + k < key.size(); ++k)
      word |= std::uint64_t{key[i + k]} << (16 * k);
    h = (h ^ word) * 0x9E3779B97F4A7C15u;
    h ^= h >> 29;
  }
  h *= 0xFF51AFD7ED558CCDu;
  return h ^ (h >> 32);
}

// A slot holds a record's start + 1 in its low bits (0: free) and a few
// bits of its prefix's hash above them, to pass most other records unread.
constexpr unsigned kStartBits = 27;
constexpr std::uint32_t kStartMask = (std::uint32_t{1} << kStartBits) - 1;

std::uint32_t Tag(std::uint64_t hash) {
  return static_cast<std::uint32_t>(hash >> (64 - (32 - kStartBits)))
         << kStartBits;
}

}  // namespace

std::u16string DecodeTableText(std::string_view bytes) {
  std::u16string text;
#ifdef _WIN32
  if (TakesAnsi(bytes)) {
    DecodeAnsi(bytes, text);
    return text;
  }
#else
  TakesAnsi(bytes);
#endif
  DecodeUtf8(bytes, text);
  return text;
}

VendorTable::VendorTable(std::initializer_list<std::u16string> lines) {
  std::string bytes;
  for (const std::u16string& line : lines) bytes += ToUtf8(line) + "\r\n";
  *this = FromBytes(bytes);
}

VendorTable VendorTable::FromBytes(std::string_view bytes) {
  Buffer buffer = Allocate(bytes.size() + 2);
  std::copy(bytes.begin(), bytes.end(), buffer.get());
  return VendorTable(std::move(buffer), bytes.size());
}

void ReleaseTableBytes::operator()(char* bytes) const {
#ifndef _WIN32
  if (mapped != 0) {
    ::munmap(bytes, mapped);
    return;
  }
#endif
  delete[] bytes;
}

VendorTable::Buffer VendorTable::Allocate(std::size_t size) {
#ifndef _WIN32
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  if (size >= kHuge) {
    const std::size_t length = (size + 4095) & ~std::size_t{4095};
    void* const map = ::mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map != MAP_FAILED) {
      // Keep length bytes from the first 2 MiB boundary.
      const auto base = reinterpret_cast<std::uintptr_t>(map);
      const std::uintptr_t start = (base + kHuge - 1) & ~(kHuge - 1);
      if (start > base) ::munmap(map, start - base);
      const std::uintptr_t tail = base + length + kHuge - (start + length);
      if (tail > 0) ::munmap(reinterpret_cast<void*>(start + length), tail);
      auto* bytes = reinterpret_cast<char*>(start);
      ::madvise(bytes, length / kHuge * kHuge, MADV_HUGEPAGE);
      return Buffer(bytes, ReleaseTableBytes{length});
    }
  }
#endif
  return Buffer(new char[size], ReleaseTableBytes{});
}

VendorTable::VendorTable(Buffer bytes, std::size_t size)
    : bytes_(std::move(bytes)), bytes_size_(size) {
  // Offsets have 27 bits: twice the largest table read.
  if (size > kStartMask - 3) throw std::length_error("table too large");
  // The last line always ends with CR LF, as the splitter makes it.
  if (!std::string_view(bytes_.get(), bytes_size_).ends_with("\r\n")) {
    bytes_[bytes_size_++] = '\r';
    bytes_[bytes_size_++] = '\n';
  }
}

namespace {

// The line feeds of a text in order, found sixteen bytes at a time.
class LineFeeds {
 public:
  LineFeeds(std::string_view text, std::size_t from)
      : text_(text), block_(from & ~std::size_t{15}) {
    mask_ = block_ < text_.size() ? Mask() & (~0u << (from & 15)) : 0;
  }

  // The next line feed's position, or npos.
  std::size_t Next() {
    while (mask_ == 0) {
      block_ += 16;
      if (block_ >= text_.size()) return std::string_view::npos;
      mask_ = Mask();
    }
    const std::size_t at =
        block_ + static_cast<std::size_t>(std::countr_zero(mask_));
    mask_ &= mask_ - 1;
    return at;
  }

 private:
  unsigned Mask() const {
    const char* p = text_.data() + block_;
#ifdef __SSE2__
    if (block_ + 16 <= text_.size()) {
      const __m128i bytes =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      return static_cast<unsigned>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))));
    }
#endif
    unsigned mask = 0;
    const std::size_t n = std::min<std::size_t>(16, text_.size() - block_);
    for (std::size_t i = 0; i < n; ++i) mask |= unsigned{p[i] == '\n'} << i;
    return mask;
  }

  std::string_view text_;
  std::size_t block_;
  unsigned mask_;
};

// The units of a and b compared in order, bytes taken as unsigned.
int Compare(std::string_view a, std::u16string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = static_cast<unsigned char>(a[i]);
    if (x != b[i]) return x < b[i] ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// The columns of the prefix text begins with: XX-XX-XX, or XX-XX-XX-X and
// XX-XX-XX-XX-X where a '-' follows in column 9, and then in column 12.
template <typename Char>
std::size_t PrefixColumns(std::basic_string_view<Char> text) {
  if (text.size() <= 8 || text[8] != Char('-')) return 8;
  return text.size() > 11 && text[11] == Char('-') ? 13 : 10;
}

}  // namespace

void VendorTable::Index() const {
  if (indexed_) return;
  indexed_ = true;
  const std::string_view all(bytes_.get(), bytes_size_);
  std::string_view text = all;
  ansi_ = TakesAnsi(text);
  text_start_ = all.size() - text.size();
  if (!FindRuns()) Hash();
}

bool VendorTable::FindRuns() const {
  // One pass over the lines: they are counted, and the records gathered
  // into runs while they come in order.
  const std::string_view all(bytes_.get(), bytes_size_);
  bool sorted = true;
  std::string_view last;  // the previous record's prefix in the run
  std::size_t start = text_start_;
  LineFeeds feeds(all, start);
  for (std::size_t at = feeds.Next(); at != all.npos; at = feeds.Next()) {
    if (at == text_start_ || all[at - 1] != '\r') continue;
    ++lines_;
    const std::string_view line = all.substr(start, at - 1 - start);
    const std::size_t next = at + 1;
    if (!sorted || line.starts_with('#')) {
      last = {};
      start = next;
      continue;
    }
    const std::size_t columns = PrefixColumns(line);
    const std::string_view prefix = line.substr(0, columns);
    if (!IsAscii(line.substr(0, kLongestPrefix))) {
      sorted = false;
    } else if (!runs_.empty() && runs_.back().end == start &&
               runs_.back().columns == columns && NotAfter(last, prefix)) {
      Run& run = runs_.back();
      run.end = next;
      if (run.records++ % kFenceEvery == 0) {
        fences_.push_back(static_cast<std::uint32_t>(start));
        run.fences_end = fences_.size();
      }
    } else if (runs_.size() == kMostRuns) {
      sorted = false;
    } else {
      fences_.push_back(static_cast<std::uint32_t>(start));
      runs_.push_back(
          {start, next, columns, 1, fences_.size() - 1, fences_.size()});
    }
    last = prefix;
    start = next;
  }
  if (!sorted) {
    runs_.clear();
    fences_.clear();
  }
  return sorted;
}

void VendorTable::Hash() const {
  // Room for every line at most half full, so that they are placed once.
  std::size_t capacity = 16;
  while (capacity < 2 * lines_) capacity *= 2;
  slots_.assign(capacity, 0);

  const std::string_view all(bytes_.get(), bytes_size_);
  char16_t buffer[kLongestPrefix];
  std::size_t start = text_start_;
  LineFeeds feeds(all, start);
  for (std::size_t at = feeds.Next(); at != all.npos; at = feeds.Next()) {
    if (at == text_start_ || all[at - 1] != '\r') continue;
    const std::string_view line = all.substr(start, at - 1 - start);
    if (!line.starts_with('#')) Insert(start, PrefixOf(line, buffer));
    start = at + 1;
  }
}

std::size_t VendorTable::Search(const Run& run, Prefix key) const {
  // Only the first characters of a line are compared: no need to find its
  // end unless it ends among them.
  const std::string_view all(bytes_.get(), bytes_size_);
  const auto compare = [&](std::size_t start) {
    std::string_view head = all.substr(start, kLongestPrefix + 1);
    head = head.substr(0, head.find("\r\n"));
    return Compare(head.substr(0, PrefixColumns(head)), key);
  };
  const auto below = [&](std::size_t start) { return compare(start) < 0; };
  // The last fence below key, then line by line to the first line that is
  // not: at most a fence's worth of lines.
  const auto first =
      fences_.begin() + static_cast<std::ptrdiff_t>(run.fences_begin);
  const auto last =
      fences_.begin() + static_cast<std::ptrdiff_t>(run.fences_end);
  const auto fence = std::partition_point(first, last, below);
  std::size_t line = fence == first ? run.begin : *(fence - 1);
  const std::size_t end = fence == last ? run.end : *fence;
  while (line < end && below(line)) line += LineAt(line).size() + 2;
  return line < run.end && compare(line) == 0 ? line : kNone;
}

std::string_view VendorTable::LineAt(std::size_t start) const {
  const std::string_view all(bytes_.get(), bytes_size_);
  return all.substr(start, all.find("\r\n", start) - start);
}

void VendorTable::Decode(std::string_view bytes, std::u16string& out) const {
#ifdef _WIN32
  if (ansi_) return DecodeAnsi(bytes, out);
#endif
  DecodeUtf8(bytes, out);
}

VendorTable::Prefix VendorTable::PrefixOf(std::string_view line,
                                          char16_t* buffer) const {
  std::size_t n = std::min(line.size(), kLongestPrefix);
  if (IsAscii(line.substr(0, n))) {
    std::copy_n(line.begin(), n, buffer);
  } else {
    // Thirteen characters never take more than four bytes each.
    std::u16string text;
    Decode(line.substr(0, 4 * kLongestPrefix), text);
    n = std::min(text.size(), kLongestPrefix);
    std::copy_n(text.begin(), n, buffer);
  }
  return {buffer, std::min(n, PrefixColumns(Prefix(buffer, n)))};
}

void VendorTable::Insert(std::size_t start, Prefix key) const {
  const std::uint64_t hash = HashOf(key);
  const std::uint32_t tag = Tag(hash);
  const std::size_t mask = slots_.size() - 1;
  char16_t buffer[kLongestPrefix];
  std::size_t at = hash & mask;
  for (; slots_[at] != 0; at = (at + 1) & mask) {
    const std::uint32_t slot = slots_[at];
    if ((slot & ~kStartMask) == tag &&
        PrefixOf(LineAt((slot & kStartMask) - 1), buffer) == key)
      return;  // an earlier record has this prefix
  }
  slots_[at] = tag | static_cast<std::uint32_t>(start + 1);
}

std::size_t VendorTable::Lookup(Prefix key, std::size_t columns) const {
  for (const Run& run : runs_) {
    if (run.columns != columns) continue;
    const std::size_t found = Search(run, key);
    if (found != kNone) return found;  // runs come in file order
  }
  if (slots_.empty()) return kNone;
  const std::uint64_t hash = HashOf(key);
  const std::uint32_t tag = Tag(hash);
  const std::size_t mask = slots_.size() - 1;
  char16_t buffer[kLongestPrefix];
  for (std::size_t at = hash & mask; slots_[at] != 0; at = (at + 1) & mask) {
    const std::uint32_t slot = slots_[at];
    if ((slot & ~kStartMask) != tag) continue;
    const std::size_t start = (slot & kStartMask) - 1;
    if (PrefixOf(LineAt(start), buffer) == key) return start;
  }
  return kNone;
}

std::u16string VendorTable::operator[](std::size_t i) const {
  Index();
  if (starts_.empty() && lines_ > 0) {
    const std::string_view all(bytes_.get(), bytes_size_);
    starts_.reserve(lines_ + 1);
    starts_.push_back(static_cast<std::uint32_t>(text_start_));
    for (std::size_t at = all.find("\r\n", text_start_); at != all.npos;
         at = all.find("\r\n", at + 2))
      starts_.push_back(static_cast<std::uint32_t>(at + 2));
  }
  std::u16string line;
  Decode(std::string_view(bytes_.get() + starts_[i],
                          starts_[i + 1] - 2 - starts_[i]),
         line);
  return line;
}

std::u16string VendorTable::Find(std::u16string_view mac) const {
  Index();
  // Prefixes of different lengths never equal each other: at most one
  // record of each length matches, and the first of them in the file wins.
  const std::size_t columns = PrefixColumns(mac);
  std::size_t found = Lookup(mac.substr(0, 8), 8);
  for (const std::size_t longer : {10, 13})
    if (columns >= longer)
      found = std::min(found, Lookup(mac.substr(0, longer), longer));
  if (found == kNone) return {};
  const std::string_view bytes = LineAt(found);
  std::u16string name;
  if (IsAscii(bytes.substr(0, kNameColumn))) {
    // One character a byte up to the name.
    if (bytes.size() > kNameColumn) Decode(bytes.substr(kNameColumn), name);
  } else {
    Decode(bytes, name);
    name.erase(0, std::min(name.size(), kNameColumn));
  }
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

std::optional<TableError> ReadTable(const std::filesystem::path& path,
                                    VendorTable& table,
                                    std::uint64_t max_bytes) {
  if (!FileExists(path)) return TableError{kMissingText, kMissingTitle};
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
    VendorTable::Buffer bytes = VendorTable::Allocate(n + 2);
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
    table = VendorTable(std::move(bytes), got);
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return Unreadable(u"not enough memory");
  } catch (const std::length_error&) {
    return TooLarge(max_bytes);
  }
}

std::optional<TableError> LoadTable(const std::filesystem::path& directory) {
  // Without a known directory there is no table: the working directory is
  // never a stand-in for it.
  if (directory.empty()) return TableError{kMissingText, kMissingTitle};
  return ReadTable(directory / kTableFileName, OUIList);
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

#ifdef _WIN32

std::filesystem::path ProgramDirectory() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(),
                                       static_cast<DWORD>(buffer.size()));
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  return std::filesystem::path(buffer).parent_path();
}

#else

std::filesystem::path ProgramDirectory() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path();
}

#endif

}  // namespace norvane
