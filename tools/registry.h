// Turns the IEEE registries (MA-L, MA-M, MA-S and the older IAB), as the IEEE
// and its mirrors publish them, into the vendor table oui.ieee: one block per
// line, its prefix from column 1 ("XX-XX-XX" for 24 bits, "XX-XX-XX-X" for
// 28, "XX-XX-XX-XX-X" for 36), filler to column 24, the organisation name
// from column 25, "\r\n" line ends, the most specific blocks first, and a
// "#" comment header naming the sources.
//
// Three published forms are read:
//   text  oui.txt, mam.txt, oui36.txt, iab.txt: "XX-XX-XX   (hex)\t\tOrg"
//         lines, each followed by a "(base 16)" line (with the block's range
//         for MA-M, MA-S and IAB) and address lines;
//   csv   oui.csv and the like: "Registry,Assignment,Organization Name,
//         Organization Address" with RFC 4180 quoting;
//   json  the npm package oui-data: {"XXXXXX": "Org\naddress..."}, keys of
//         6, 7 or 9 digits.
//
// Everything here is a pure function of its input text.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace norvane::registry {

enum class Format { kText, kCsv, kJson };

// One assignment: prefix as "XX-XX-XX", "XX-XX-XX-X" or "XX-XX-XX-XX-X"
// (uppercase), name as UTF-8 on one line without surrounding blanks.
struct Record {
  std::string prefix;
  std::string name;

  bool operator==(const Record&) const = default;
};

struct ParseResult {
  std::vector<Record> records;  // in the registry's order, duplicates kept
  std::size_t skipped = 0;      // entries without a 24-, 28- or 36-bit prefix
};

// What the comment header says about where the table comes from.
struct Provenance {
  std::vector<std::string> sources;  // one a part
  std::string date;
};

// The input is not in the form it was taken for.
class FormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "text", "csv" or "json".
std::optional<Format> ParseFormatName(std::string_view name);
std::string_view FormatName(Format format);

// Guesses the form from the input's first bytes; nullopt when none fits.
std::optional<Format> DetectFormat(std::string_view input);

// The prefix from 6, 7 or 9 hex digits written bare (XXXXXXX) or in pairs
// joined by '-' (XX-XX-XX-X), in either case; nullopt for anything else.
std::optional<std::string> NormalisePrefix(std::string_view raw);

// The digits that a "(base 16)" range START-END adds to its 24-bit prefix:
// one for a 28-bit block (900000-9FFFFF), three for a 36-bit one
// (F2F000-F2FFFF); nullopt for anything else.
std::optional<std::string> BlockDigits(std::string_view range);

// The name as it goes into the table: every byte that is not valid UTF-8
// becomes U+FFFD, control characters (C0, DEL, C1) become a blank, and blanks
// around the name are dropped.
std::string CleanName(std::string_view raw);

// Parsers for the three forms. ParseCsv and ParseJson throw FormatError when
// the input cannot be read as their form.
ParseResult ParseText(std::string_view input);
ParseResult ParseCsv(std::string_view input);
ParseResult ParseJson(std::string_view input);
ParseResult Parse(std::string_view input, Format format);

// One table line, "\r\n" included.
std::string FormatRecord(const Record& record);

// The whole table: comment header, then one line per record, 36-bit blocks
// first, then 28-bit, then 24-bit, each in order of their prefixes (records
// with the same prefix in the order given).
std::string FormatTable(const std::vector<Record>& records,
                        const Provenance& provenance);

// How many distinct prefixes occur more than once.
std::size_t CountDuplicatePrefixes(const std::vector<Record>& records);

}  // namespace norvane::registry
