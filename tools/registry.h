// Turns the IEEE MA-L registry, as the IEEE and its mirrors publish it, into
// the vendor table oui.ieee: one "XX-XX-XX" prefix per line in columns 1 to 8,
// 16 filler characters, the organisation name from column 25, "\r\n" line
// ends, and a "#" comment header naming the source.
//
// Three published forms are read:
//   text  the registry's oui.txt: "XX-XX-XX   (hex)\t\tOrg" lines, each
//         followed by a "(base 16)" line and address lines;
//   csv   the registry's oui.csv: "Registry,Assignment,Organization Name,
//         Organization Address" with RFC 4180 quoting;
//   json  the npm package oui-data: {"XXXXXX": "Org\naddress..."}.
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

// One assignment: prefix as "XX-XX-XX" (uppercase), name as UTF-8 on one line
// without surrounding blanks.
struct Record {
  std::string prefix;
  std::string name;

  bool operator==(const Record&) const = default;
};

struct ParseResult {
  std::vector<Record> records;  // in the registry's order, duplicates kept
  std::size_t skipped = 0;      // entries whose prefix is not 6 hex digits
};

// What the comment header says about where the table comes from.
struct Provenance {
  std::string source;
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

// "XX-XX-XX" from 6 hex digits written either as XX-XX-XX or XXXXXX, in
// either case; nullopt for anything else (MA-M and MA-S keys included).
std::optional<std::string> NormalisePrefix(std::string_view raw);

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

// The whole table: comment header, then one line per record.
std::string FormatTable(const std::vector<Record>& records,
                        const Provenance& provenance);

// How many distinct prefixes occur more than once.
std::size_t CountDuplicatePrefixes(const std::vector<Record>& records);

}  // namespace norvane::registry
