#include "startup.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace norvane {

void OpenStandardStreams() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number: fd itself, the ones below it being open.
    const int opened = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (opened != fd && opened >= 0) close(opened);
  }
#endif
}

TableError Worded(const TableFault& fault) {
  if (fault.missing)
    return {u"Critical Error! oui.ieee not found!", u"ERROR: Can't Find File"};
  return {u"Critical Error! oui.ieee can't be read: " + fault.reason,
          u"ERROR: Can't Read File"};
}

std::optional<TableError> LoadTable(const std::filesystem::path& directory) {
  // Without a known directory there is no table: the working directory is
  // never a stand-in for it.
  if (directory.empty()) return Worded({true, {}});
  const auto fault = ReadTable(directory / kTableFileName, OUIList);
  if (!fault) return std::nullopt;
  return Worded(*fault);
}

bool LoadOUI(ShowTableErrorFunction show) {
  const auto error = LoadTable();
  if (!error) return true;
  show(*error);
  return false;
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
