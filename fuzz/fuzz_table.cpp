// Holds the vendor table against the plain way of reading it: arbitrary
// bytes as the table, arbitrary texts as addresses, the same lines and the
// same answers as decoding the whole file, cutting it with SplitText and
// scanning the lines in order.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "oui.h"
#include "reference.h"
#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // First byte: how many of the next bytes are an address text (UTF-8);
  // the rest is the table.
  if (size < 1) return 0;
  const std::string_view all(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t address_bytes =
      std::min<std::size_t>(data[0] % 32, all.size());
  const std::u16string address =
      norvane::DecodeUtf8(all.substr(0, address_bytes));
  const std::string_view bytes = all.substr(address_bytes);

  // Addresses made from the table's own lines reach its records.
  const auto table = norvane::VendorTable::FromBytes(bytes);
  if (!norvane::reference::Difference(table, bytes, {address}, address, 64)
           .empty())
    std::abort();
  return 0;
}
