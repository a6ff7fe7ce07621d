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

    // Read to the end rather than trusting a size taken before: the file
    // may change underneath, or not be a regular file any more.
    std::string bytes;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
      const long size = std::ftell(file.get());
      if (size > 0) bytes.reserve(static_cast<std::size_t>(size));
      std::rewind(file.get());
    }
    char chunk[1 << 16];
    for (;;) {
      const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
      bytes.append(chunk, got);
      if (got < sizeof chunk) break;
    }
    if (std::ferror(file.get())) return Unreadable(errno ? errno : EIO);
    file.reset();

    std::u16string text = DecodeSystemText(bytes);
    bytes = std::string();
    std::vector<std::u16string> lines;
    std::size_t count = 0;
    SplitText(text, u"\r\n", lines, count);
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
