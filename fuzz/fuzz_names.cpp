// Reads arbitrary bytes as a multicast DNS answer and as a NetBIOS node
// status answer, and checks that a name read is one a host could have: not
// empty, within DNS's length (NetBIOS's 15 bytes), and once tidied for
// showing, well-formed UTF-8 of the same bound.
#include <cstdint>
#include <cstdlib>

#include "names.h"
#include "names_wire.h"
#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace norvane;
  const std::span<const std::uint8_t> message(data, size);
  const auto check = [](const std::string& name, std::size_t longest) {
    if (name.empty() || name.size() > longest) std::abort();
    const std::string tidy = TidyName(name);
    if (tidy.empty() || tidy.size() > names::kLongestName ||
        !IsValidUtf8(tidy)) {
      std::abort();
    }
  };
  if (const auto answer = names::ReadPtrAnswer(message))
    check(answer->name, names::kLongestName);
  if (const auto status = names::ReadNodeStatus(message)) {
    check(status->name, 15);
    if (status->name.back() == ' ') std::abort();
  }
  return 0;
}
