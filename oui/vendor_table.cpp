#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "oui.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace norvane {

std::vector<std::u16string> OUIList;

namespace {

constexpr char16_t kMissingText[] = u"Critical Error! oui.ieee not found!";
constexpr char16_t kMissingTitle[] = u"ERROR: Can't Find File";
constexpr char16_t kUnreadableText[] =
    u"Critical Error! oui.ieee can't be read: ";
constexpr char16_t kUnreadableTitle[] = u"ERROR: Can't Read File";

void PrintTableError(const TableError& error) {
  std::fprintf(stderr, "%s: %s\n", ToUtf8(error.title).c_str(),
               ToUtf8(error.message).c_str());
}

TableErrorHandler table_error_handler = PrintTableError;

TableError Unreadable(const std::u16string& reason) {
  return {kUnreadableText + reason, kUnreadableTitle};
}

TableError Unreadable(int error_number) {
  return Unreadable(DecodeSystemText(std::strerror(error_number)));
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

constexpr std::string_view kBreak = "\r\n";
constexpr std::size_t kBlock = 1 << 15;

// Reads the file from its start to its end a block at a time, handing each
// block to take. Returns false on a read error.
template <typename Take>
bool ReadBlocks(std::FILE* file, std::string& block, Take take) {
  std::rewind(file);
  for (;;) {
    block.resize(kBlock);
    block.resize(std::fread(block.data(), 1, kBlock, file));
    const bool end = block.size() < kBlock;
    if (end && std::ferror(file)) return false;
    take(block, end);
    if (end) return true;
  }
}

// Cuts the file into lines at CR LF, decoding a block of whole lines at a
// time, so that neither the file's bytes nor its whole text are ever held
// at once. Neither byte of a CR LF pair is ever part of a multi-byte
// character, so cutting the bytes there first gives the very lines that
// decoding everything first would. Returns false on a read error.
bool ReadLines(std::FILE* file, std::vector<std::u16string>& list) {
  std::string block;
  // A first pass counts the lines, so that the list is allocated once.
  std::size_t lines = 1;
  bool carriage_return = false;
  const bool counted = ReadBlocks(file, block, [&](std::string_view b, bool) {
    if (b.empty()) return;
    if (carriage_return && b.front() == '\n') ++lines;
    for (auto at = b.find(kBreak); at != b.npos; at = b.find(kBreak, at + 2))
      ++lines;
    carriage_return = b.back() == '\r';
  });
  if (!counted) return false;
  list.reserve(lines);

  std::string pending;  // the bytes after the last line break seen
  std::u16string text;
  std::size_t count = 0;
  return ReadBlocks(file, block, [&](std::string_view b, bool end) {
    pending += b;
    std::size_t cut = pending.size();
    if (!end) {
      const auto last = pending.rfind(kBreak);
      if (last == pending.npos) return;
      cut = last + kBreak.size();
    } else if (pending.empty() && count > 0) {
      return;  // the file ended with a line break
    }
    DecodeSystemText(std::string_view(pending).substr(0, cut), text);
    SplitText(text, u"\r\n", list, count);
    pending.erase(0, cut);
  });
}

}  // namespace

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
                                    std::vector<std::u16string>& list) {
  if (!FileExists(path)) return TableError{kMissingText, kMissingTitle};
  try {
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(OpenForReading(path));
    if (!file) return Unreadable(errno);

    // The file is read to its end rather than to a size taken before: it
    // may change underneath, or not be a regular file any more.
    std::vector<std::u16string> lines;
    if (!ReadLines(file.get(), lines)) return Unreadable(errno ? errno : EIO);
    list = std::move(lines);
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return Unreadable(u"not enough memory");
  } catch (const std::length_error&) {
    return Unreadable(u"the file is too large");
  }
}

void SetTableErrorHandler(TableErrorHandler handler) {
  table_error_handler = handler ? handler : PrintTableError;
}

void LoadOUIFrom(const std::filesystem::path& directory) {
  // Without a known directory there is no table: the working directory is
  // never a stand-in for it.
  const auto error = directory.empty()
                         ? TableError{kMissingText, kMissingTitle}
                         : ReadTable(directory / kTableFileName, OUIList);
  if (!error) return;
  table_error_handler(*error);
  std::exit(kTableExitStatus);
}

void LoadOUI() { LoadOUIFrom(ProgramDirectory()); }

std::u16string FindVendor(const std::u16string& mac) {
  const std::u16string_view key = std::u16string_view(mac).substr(0, 8);
  for (const std::u16string& line : OUIList) {
    if (!line.empty() && line.front() == u'#') continue;
    if (std::u16string_view(line).substr(0, 8) != key) continue;
    return line.size() > 24 ? line.substr(24) : std::u16string();
  }
  return {};
}

}  // namespace norvane
