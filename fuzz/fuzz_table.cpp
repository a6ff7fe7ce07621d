// Loads arbitrary bytes as the vendor table and looks up addresses in it.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "oui.h"

namespace {

const std::filesystem::path& TablePath() {
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("norvane-fuzz-" + std::to_string(::getpid()) + ".ieee");
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::ofstream(TablePath(), std::ios::binary | std::ios::trunc) << bytes;
  if (norvane::ReadTable(TablePath(), norvane::OUIList)) std::abort();
  if (norvane::OUIList.empty()) std::abort();

  // The first record's own prefix must find a vendor no longer than it.
  for (const auto& line : norvane::OUIList) {
    if (!line.empty() && line.front() == u'#') continue;
    const std::u16string vendor = norvane::FindVendor(line);
    if (vendor.size() > line.size()) std::abort();
    break;
  }
  norvane::FindVendor(u"00-0C-29-3A-4B-5C");
  norvane::FindVendor(u"Error: Gagal memanggil SendARP()");
  norvane::FindVendor(u"");
  return 0;
}
