#include "registry.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "text.h"

namespace norvane::registry {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
// After the prefix, up to column 24 of a record line.
constexpr std::string_view kHex = "   (hex)";
constexpr std::size_t kNameColumn = 24;

std::string_view StripBom(std::string_view text) {
  if (text.starts_with(kUtf8ByteOrderMark))
    text.remove_prefix(kUtf8ByteOrderMark.size());
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToUpperAscii(a[i]) != ToUpperAscii(b[i])) return false;
  }
  return true;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') ||
         (c >= 'a' && c <= 'f');
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// Reads RFC 4180 CSV one row at a time. Rows end at "\r\n", "\n" or "\r"
// outside quotes; inside quotes everything is kept and "" stands for ".
// Stray characters after a closing quote are kept, and an unterminated quote
// runs to the end of the input.
class CsvReader {
 public:
  explicit CsvReader(std::string_view input) : input_(input) {}

  bool NextRow(std::vector<std::string>& fields) {
    fields.clear();
    if (pos_ >= input_.size()) return false;
    fields.emplace_back();
    bool quoted = false;
    while (pos_ < input_.size()) {
      const char c = input_[pos_++];
      if (quoted) {
        if (c != '"') {
          fields.back() += c;
        } else if (pos_ < input_.size() && input_[pos_] == '"') {
          fields.back() += '"';
          ++pos_;
        } else {
          quoted = false;
        }
      } else if (c == '"' && fields.back().empty()) {
        quoted = true;
      } else if (c == ',') {
        fields.emplace_back();
      } else if (c == '\n') {
        return true;
      } else if (c == '\r') {
        if (pos_ < input_.size() && input_[pos_] == '\n') ++pos_;
        return true;
      } else {
        fields.back() += c;
      }
    }
    return true;
  }

 private:
  std::string_view input_;
  std::size_t pos_ = 0;
};

// Collects the string members of the top-level object, in file order and
// with repeated keys kept. Members of any other type count as skipped.
class JsonCollector : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit JsonCollector(ParseResult& result) : result_(result) {}

  bool null() override { return Scalar(); }
  bool boolean(bool) override { return Scalar(); }
  bool number_integer(number_integer_t) override { return Scalar(); }
  bool number_unsigned(number_unsigned_t) override { return Scalar(); }
  bool number_float(number_float_t, const string_t&) override {
    return Scalar();
  }
  bool binary(binary_t&) override { return Scalar(); }

  bool string(string_t& value) override {
    if (depth_ != 1) return Scalar();
    const auto prefix = NormalisePrefix(key_);
    if (!prefix) {
      ++result_.skipped;
      return true;
    }
    const std::string_view text = value;
    result_.records.push_back(
        {*prefix, CleanName(text.substr(0, text.find_first_of("\r\n")))});
    return true;
  }

  bool start_object(std::size_t) override { return Open(true); }
  bool start_array(std::size_t) override { return Open(false); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }

  bool key(string_t& value) override {
    key_ = value;
    return true;
  }

  bool parse_error(std::size_t, const std::string&,
                   const nlohmann::detail::exception& error) override {
    error_ = error.what();
    return false;
  }

  const std::string& error() const { return error_; }

 private:
  bool Scalar() {
    if (depth_ == 0) return Fail();
    if (depth_ == 1) ++result_.skipped;
    return true;
  }
  bool Open(bool object) {
    if (depth_ == 0 && !object) return Fail();
    if (depth_ == 1) ++result_.skipped;
    ++depth_;
    return true;
  }
  bool Close() {
    --depth_;
    return true;
  }
  bool Fail() {
    error_ = "the JSON is not an object of prefixes";
    return false;
  }

  ParseResult& result_;
  std::string key_;
  std::string error_;
  int depth_ = 0;
};

}  // namespace

std::optional<Format> ParseFormatName(std::string_view name) {
  if (name == "text") return Format::kText;
  if (name == "csv") return Format::kCsv;
  if (name == "json") return Format::kJson;
  return std::nullopt;
}

std::string_view FormatName(Format format) {
  switch (format) {
    case Format::kText:
      return "text";
    case Format::kCsv:
      return "csv";
    case Format::kJson:
      return "json";
  }
  return "unknown";
}

std::optional<Format> DetectFormat(std::string_view input) {
  input = StripBom(input);
  const std::size_t first = input.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::nullopt;
  if (input[first] == '{') return Format::kJson;
  const std::string_view first_line = input.substr(0, input.find('\n'));
  if (first_line.find(',') != std::string_view::npos &&
      first_line.find("Assignment") != std::string_view::npos) {
    return Format::kCsv;
  }
  if (input.find("(hex)") != std::string_view::npos) return Format::kText;
  return std::nullopt;
}

std::optional<std::string> NormalisePrefix(std::string_view raw) {
  // Either bare digits or pairs joined by '-', as a prefix is written.
  std::string digits;
  const bool dashed = raw.find('-') != std::string_view::npos;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (dashed && i % 3 == 2) {
      if (raw[i] != '-') return std::nullopt;
      continue;
    }
    if (!IsHexDigit(raw[i])) return std::nullopt;
    digits += ToUpperAscii(raw[i]);
  }
  if (digits.size() != 6 && digits.size() != 7 && digits.size() != 9)
    return std::nullopt;
  if (dashed && raw.size() != digits.size() + (digits.size() - 1) / 2)
    return std::nullopt;
  std::string prefix;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && i % 2 == 0) prefix += '-';
    prefix += digits[i];
  }
  return prefix;
}

std::optional<std::string> BlockDigits(std::string_view range) {
  // START-END, six digits each: END is START with its last digits all F.
  if (range.size() != 13 || range[6] != '-') return std::nullopt;
  const std::string_view start = range.substr(0, 6);
  const std::string_view end = range.substr(7);
  std::size_t same = 0;
  while (same < 6 && ToUpperAscii(start[same]) == ToUpperAscii(end[same]))
    ++same;
  if (same != 1 && same != 3) return std::nullopt;
  for (std::size_t i = 0; i < 6; ++i) {
    if (!IsHexDigit(start[i]) || !IsHexDigit(end[i])) return std::nullopt;
    if (i >= same && (start[i] != '0' || ToUpperAscii(end[i]) != 'F'))
      return std::nullopt;
  }
  std::string digits;
  for (std::size_t i = 0; i < same; ++i) digits += ToUpperAscii(start[i]);
  return digits;
}

std::string CleanName(std::string_view raw) {
  std::string clean;
  clean.reserve(raw.size());
  for (std::size_t pos = 0; pos < raw.size();) {
    char32_t code_point = 0;
    const std::size_t length = Utf8SequenceAt(raw, pos, code_point);
    if (length == 0) {
      clean += kReplacement;
      ++pos;
    } else if (IsControl(code_point)) {
      clean += ' ';
      pos += length;
    } else {
      clean.append(raw.substr(pos, length));
      pos += length;
    }
  }
  return std::string(TrimBlanks(clean));
}

ParseResult ParseText(std::string_view input) {
  input = StripBom(input);
  ParseResult result;
  bool pending = false;  // the last record may still get its block
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);

    // A record starts with its prefix, then blanks, then "(hex)". Address
    // lines and "(base 16)" lines never have "(hex)" as their second word.
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) continue;
    const std::size_t word_end = line.find_first_of(" \t", start);
    if (word_end == std::string_view::npos) continue;
    const std::size_t marker = line.find_first_not_of(" \t", word_end);
    if (marker == std::string_view::npos) continue;
    const std::string_view word = line.substr(start, word_end - start);

    // The "(base 16)" line after a record gives its block: a range such as
    // F2F000-F2FFFF for a 36-bit one, 900000-9FFFFF for a 28-bit one.
    if (line.substr(marker, 9) == "(base 16)") {
      if (!pending || word.find('-') == std::string_view::npos) continue;
      pending = false;
      const auto digits = BlockDigits(word);
      if (!digits) {
        result.records.pop_back();
        ++result.skipped;
        continue;
      }
      std::string& prefix = result.records.back().prefix;
      std::erase(prefix, '-');
      prefix = *NormalisePrefix(prefix + *digits);
      continue;
    }
    if (line.substr(marker, 5) != "(hex)") continue;
    pending = false;
    const auto prefix = NormalisePrefix(word);
    if (!prefix || prefix->size() != 8) {
      ++result.skipped;
      continue;
    }
    result.records.push_back({*prefix, CleanName(line.substr(marker + 5))});
    pending = true;
  }
  return result;
}

ParseResult ParseCsv(std::string_view input) {
  CsvReader reader(StripBom(input));
  std::vector<std::string> fields;
  if (!reader.NextRow(fields)) throw FormatError("the CSV input is empty");
  std::optional<std::size_t> assignment;
  std::optional<std::size_t> organisation;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string_view title = TrimBlanks(fields[i]);
    if (EqualsIgnoringCase(title, "Assignment")) assignment = i;
    if (EqualsIgnoringCase(title, "Organization Name")) organisation = i;
  }
  if (!assignment || !organisation) {
    throw FormatError(
        "the CSV header has no \"Assignment\" and \"Organization Name\" "
        "columns");
  }

  ParseResult result;
  while (reader.NextRow(fields)) {
    if (fields.size() == 1 && TrimBlanks(fields[0]).empty()) continue;
    const auto prefix = *assignment < fields.size()
                            ? NormalisePrefix(TrimBlanks(fields[*assignment]))
                            : std::nullopt;
    if (!prefix) {
      ++result.skipped;
      continue;
    }
    result.records.push_back({*prefix, *organisation < fields.size()
                                           ? CleanName(fields[*organisation])
                                           : std::string()});
  }
  return result;
}

ParseResult ParseJson(std::string_view input) {
  ParseResult result;
  JsonCollector collector(result);
  const std::string_view json = StripBom(input);
  if (!nlohmann::json::sax_parse(json.begin(), json.end(), &collector)) {
    throw FormatError("cannot read the JSON: " + collector.error());
  }
  return result;
}

ParseResult Parse(std::string_view input, Format format) {
  switch (format) {
    case Format::kText:
      return ParseText(input);
    case Format::kCsv:
      return ParseCsv(input);
    case Format::kJson:
      return ParseJson(input);
  }
  throw FormatError("unknown input form");
}

std::string FormatRecord(const Record& record) {
  std::string line;
  line.reserve(kNameColumn + record.name.size() + 2);
  line += record.prefix;
  line += kHex;
  line.resize(std::max(line.size(), kNameColumn), ' ');
  line += record.name;
  line += "\r\n";
  return line;
}

std::string FormatTable(const std::vector<Record>& records,
                        const Provenance& provenance) {
  const auto or_unknown = [](const std::string& text) {
    const std::string clean = CleanName(text);
    return clean.empty() ? std::string("unknown") : clean;
  };
  // The most specific blocks first, so that the first match is the longest;
  // each size in order of its prefixes, a prefix listed twice keeping its
  // order, so that the reader can halve its way to a record.
  std::vector<const Record*> ordered;
  std::string counts;
  for (const std::size_t length : {13, 10, 8}) {
    const std::size_t first = ordered.size();
    for (const Record& record : records) {
      if (record.prefix.size() == length) ordered.push_back(&record);
    }
    std::stable_sort(
        ordered.begin() + static_cast<std::ptrdiff_t>(first), ordered.end(),
        [](const Record* a, const Record* b) { return a->prefix < b->prefix; });
    const std::size_t count = ordered.size() - first;
    counts += (counts.empty() ? "" : ", ") +
              std::to_string(4 * (length - (length - 1) / 3)) + "-bit " +
              std::to_string(count);
  }
  std::string table;
  table.reserve(records.size() * 64 + 512);
  table +=
      "# oui.ieee: organisations by hardware address block (IEEE MA-L, MA-M, "
      "MA-S, IAB)\r\n";
  if (provenance.sources.empty()) table += "# Source: unknown\r\n";
  for (const std::string& source : provenance.sources)
    table += "# Source: " + or_unknown(source) + "\r\n";
  table += "# Date: " + or_unknown(provenance.date) + "\r\n";
  table +=
      "# Records: " + std::to_string(ordered.size()) + " (" + counts + ")\r\n";
  table +=
      "# Columns 1-8 prefix (1-10 for a 28-bit block, 1-13 for a 36-bit "
      "one), 25 on organisation name; the most specific blocks come first, "
      "and where a prefix is listed twice, the first line counts.\r\n";
  for (const Record* record : ordered) table += FormatRecord(*record);
  return table;
}

std::size_t CountDuplicatePrefixes(const std::vector<Record>& records) {
  std::unordered_map<std::string_view, std::size_t> seen;
  std::size_t duplicated = 0;
  for (const Record& record : records) {
    if (++seen[record.prefix] == 2) ++duplicated;
  }
  return duplicated;
}

}  // namespace norvane::registry
