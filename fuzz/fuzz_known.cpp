// Reads arbitrary bytes as a --known record: it ends with pairs or a
// message, never more pairs than the table's cap, and every pair it keeps
// is an address and a hardware address in the program's form.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "watch.h"

namespace {
std::uint32_t Parse(const std::u16string& text) {
  return norvane::SystemPlatform().parse(text);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::FILE* file = std::tmpfile();
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::rewind(file);
  norvane::WatchTable table(8);
  norvane::cli::ReadKnown("-", file, Parse, table);
  std::fclose(file);
  if (table.size() > 8) std::abort();
  return 0;
}
