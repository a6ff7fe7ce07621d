#include "neighbour_settings.h"

#include <fcntl.h>
#include <net/if.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "file_descriptor.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

// Whether name can be a folder of /proc/sys/net/ipv4/neigh.
bool IsInterfaceName(const std::string& name) {
  return !name.empty() && name.size() < IF_NAMESIZE &&
         name.find('/') == std::string::npos && name[0] != '.';
}

}  // namespace

std::optional<long> NeighbourSetting(const std::string& interface_name,
                                     const char* name) {
  const std::string path =
      "/proc/sys/net/ipv4/neigh/" + interface_name + "/" + name;
  const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  char text[32];
  const ssize_t n =
      file.get() < 0 ? -1 : read(file.get(), text, sizeof(text) - 1);
  if (n <= 0) return std::nullopt;
  text[n] = '\0';
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || value < 0) return std::nullopt;
  return value;
}

std::chrono::milliseconds LinkRetransTime(const std::string& interface_name) {
  const auto retrans = IsInterfaceName(interface_name)
                           ? NeighbourSetting(interface_name, "retrans_time_ms")
                           : std::nullopt;
  return std::chrono::milliseconds(std::min(retrans.value_or(1000), 60'000L));
}

std::chrono::milliseconds LinkResolutionTime(
    const std::string& interface_name) {
  constexpr auto kDefault = 3000ms;
  if (!IsInterfaceName(interface_name)) return kDefault;
  const auto retrans = NeighbourSetting(interface_name, "retrans_time_ms");
  const auto probes = NeighbourSetting(interface_name, "mcast_solicit");
  if (!retrans || !probes) return kDefault;
  const long app_probes =
      NeighbourSetting(interface_name, "app_solicit").value_or(0);
  // Unreasonable settings are capped rather than waited for.
  const long total =
      std::min(*retrans, 60'000L) * std::min(*probes + app_probes, 100L);
  return std::chrono::milliseconds(std::min(total, 60'000L));
}

}  // namespace norvane
