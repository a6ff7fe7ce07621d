#include "startup.h"

#ifndef _WIN32
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

bool LoadOUI(ShowTableErrorFunction show) {
  const auto error = LoadTable();
  if (!error) return true;
  show(*error);
  return false;
}

}  // namespace norvane
