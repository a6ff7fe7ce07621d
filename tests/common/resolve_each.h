// A fake platform's resolve function made from one that answers a single
// address per call.
#pragma once

#include <cstdint>
#include <span>

#include "mac.h"

namespace norvane {

// On entry length is the buffer's capacity, on success the number of address
// bytes reported.
using ResolveOne = bool (*)(std::uint32_t address, HardwareBuffer& buffer,
                            std::uint32_t& length);
template <ResolveOne resolve>
void ResolveEach(std::span<const IpAddress> addresses, const ResolveOptions&,
                 const ResolveDone& done) {
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    Resolution answer;
    answer.length = static_cast<std::uint32_t>(answer.buffer.size());
    answer.resolved =
        resolve(addresses[i].inet(), answer.buffer, answer.length);
    done(i, answer);
  }
}

}  // namespace norvane
