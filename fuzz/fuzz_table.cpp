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

  const auto table = norvane::VendorTable::FromBytes(bytes);
  const auto lines = norvane::reference::Lines(bytes);
  if (table.size() != lines.size()) std::abort();

  const auto same = [&](std::u16string_view mac) {
    if (table.Find(mac) != norvane::reference::Find(lines, mac)) std::abort();
  };
  same(address);
  // Addresses made from the table's own lines reach its records.
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (table[i] != lines[i]) std::abort();
    if (i < 64) {
      same(lines[i]);
      same(lines[i].substr(0, 8) + address);
      same(lines[i].substr(0, 10) + address);
      same(lines[i].substr(0, 13) + address);
    }
  }
  return 0;
}
