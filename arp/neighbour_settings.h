// The kernel's IPv4 neighbour parameters, read from
// /proc/sys/net/ipv4/neigh: how long it takes over a silent neighbour and
// how many entries it holds.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace norvane {

// One setting, from the folder of an interface or of the defaults
// ("default"); empty when it cannot be read or is not a count.
std::optional<long> NeighbourSetting(const std::string& interface_name,
                                     const char* name);

// How long the kernel waits between its probes of a silent neighbour.
std::chrono::milliseconds LinkRetransTime(const std::string& interface_name);

// How long the kernel takes to give up on an address that nobody answers:
// mcast_solicit (plus app_solicit) probes sent retrans_time_ms apart.
std::chrono::milliseconds LinkResolutionTime(const std::string& interface_name);

}  // namespace norvane
