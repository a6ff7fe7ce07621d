#include "cli.h"

#ifdef _WIN32
#include <io.h>
#else
#include <net/if.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "ip6_text.h"
#include "oui.h"
#include "text.h"

namespace norvane::cli {
namespace {

// Strict dotted decimal, four parts of 0 to 255; host byte order.
std::optional<std::uint32_t> ReadDotted(std::string_view text) {
  std::uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
    }
    unsigned value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || value > 255 ||
        end - text.data() > 3) {
      return std::nullopt;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    address = address << 8 | value;
  }
  if (!text.empty()) return std::nullopt;
  return address;
}

std::optional<unsigned> ReadNumber(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// The text escaped and in single quotes, for messages.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  out += Escape(text);
  out += '\'';
  return out;
}

std::string Dotted(std::uint32_t address) {
  return std::to_string(address >> 24) + '.' +
         std::to_string(address >> 16 & 0xFF) + '.' +
         std::to_string(address >> 8 & 0xFF) + '.' +
         std::to_string(address & 0xFF);
}

// An address as it is sent (its first byte first in memory) in host order.
std::uint32_t HostOrder(std::uint32_t address) {
  std::uint8_t b[4];
  std::memcpy(b, &address, sizeof b);
  return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 |
         std::uint32_t{b[2]} << 8 | b[3];
}

constexpr char kBlanks[] = " \t\n\v\f\r";

// True when text holds a blank with more text after it. The platform's
// parser stops at the blank and takes the address before it; here such a
// text is malformed, so that nothing typed is silently ignored.
bool HasJunk(std::string_view text) {
  const auto blank = text.find_first_of(kBlanks);
  return blank != std::string_view::npos &&
         text.find_first_not_of(kBlanks, blank) != std::string_view::npos;
}

// An address read as the platform reads a single one (leading zeros octal,
// fewer than four parts), so that a block or range holds the very hosts its
// texts name alone; host byte order.
std::optional<std::uint32_t> ReadAddress(const std::string& text,
                                         const AddressPlatform& platform) {
  if (HasJunk(text)) return std::nullopt;
  const std::uint32_t address = platform.parse(DecodeSystemText(text));
  // The parser's malformed value is also the broadcast address's.
  if (address == kMalformedAddress && ReadDotted(text) != kMalformedAddress) {
    return std::nullopt;
  }
  return HostOrder(address);
}

// The most addresses of an IPv6 block: a /120, which can be swept.
constexpr unsigned kLargestInet6Block = 256;

// Adds the IPv6 address or block text stands for, each address in its
// canonical form with the zone of a link-local one (given, or -I's
// interface_name); text that is not IPv6 as it is, to fail as malformed.
// Returns a message for what cannot be taken.
std::string ExpandInet6(const std::string& text,
                        const std::string& interface_name, Targets& targets) {
  const std::size_t slash = text.find('/');
  const std::optional<Ip6Text> parsed =
      ParseIp6(std::string_view(text).substr(0, slash));
  const std::optional<unsigned> bits =
      slash == std::string::npos
          ? 128u
          : ReadNumber(std::string_view(text).substr(slash + 1));
  if (!parsed || !bits || slash + 1 == text.size()) {
    targets.Add(text);
    return {};
  }
  std::string zone;
  if (IsLinkLocal6(parsed->bytes)) {
    zone = parsed->zone.empty() ? interface_name : parsed->zone;
    if (zone.empty()) {
      return Quoted(text) +
             ": a link-local address needs its interface: add %NAME or -I "
             "NAME";
    }
    zone.insert(0, "%");
  }
  if (*bits > 128) return Quoted(text) + ": an IPv6 prefix is 0 to 128 bits";
  if (*bits < 120) {
    return Quoted(text) + " is larger than a /120: IPv6 blocks of up to " +
           std::to_string(kLargestInet6Block) +
           " addresses can be swept, larger ones cannot";
  }
  const unsigned size = 1u << (128 - *bits);
  if (targets.entries() + size > kMostEntries) {
    return "more than " + std::to_string(kMostEntries) +
           " addresses, blocks or ranges";
  }
  Ip6Bytes bytes = parsed->bytes;
  const auto base =
      static_cast<std::uint8_t>(size == 256 ? 0 : bytes[15] & -size);
  for (unsigned i = 0; i < size; ++i) {
    bytes[15] = static_cast<std::uint8_t>(base + i);
    targets.Add(FormatIp6(bytes) + zone);
  }
  return {};
}

// Adds the addresses text stands for: a block, a range, or else the text
// itself (an IPv6 one in its canonical form). Returns a message for a block
// or range that cannot be taken.
std::string Expand(const std::string& text, bool large,
                   const std::string& interface_name,
                   const AddressPlatform& platform, Targets& targets) {
  std::uint64_t first = 0, last = 0;
  if (HasJunk(text)) {
    targets.Add(text);
    return {};
  }
  if (text.find(':') != std::string::npos) {
    return ExpandInet6(text, interface_name, targets);
  }
  if (const auto slash = text.find('/'); slash != std::string::npos) {
    const auto base = ReadAddress(text.substr(0, slash), platform);
    const auto bits = ReadNumber(std::string_view(text).substr(slash + 1));
    if (!base || !bits || slash + 1 == text.size()) {
      targets.Add(text);
      return {};
    }
    if (*bits > 32) return Quoted(text) + ": a prefix is 0 to 32 bits";
    const std::uint64_t size = std::uint64_t{1} << (32 - *bits);
    first = *base & ~(size - 1);
    last = first + size - 1;
    // The network and broadcast addresses of a block are nobody's.
    if (*bits <= 30) ++first, --last;
  } else if (const auto dash = text.find('-'); dash != std::string::npos) {
    const auto start = ReadAddress(text.substr(0, dash), platform);
    const std::string rest = text.substr(dash + 1);
    // A last part alone (no dot) is read as the last part of an address.
    const bool octet = rest.find('.') == std::string::npos;
    std::optional<std::uint32_t> end =
        ReadAddress(octet ? "0.0.0." + rest : rest, platform);
    if (octet && start && end) end = (*start & 0xFFFFFF00) | *end;
    if (!start || !end) {
      targets.Add(text);
      return {};
    }
    if (*end < *start) return Quoted(text) + ": the range is empty";
    first = *start;
    last = *end;
  } else {
    targets.Add(text);
    return {};
  }
  if (last - first + 1 > kLargeRun && !large) {
    return Quoted(text) + " is larger than a /16; add --large to query it all";
  }
  targets.AddRun(static_cast<std::uint32_t>(first), last - first + 1);
  return {};
}

// Where the addresses of a run come from.
enum class SourceKind { kArgument, kList, kLocal };

// Adds the networks of the interfaces a scan of the local networks takes
// (only the one called chosen, when it is not empty), interface by
// interface, address by address; a network twice on one interface once.
// With inet6, each interface's known IPv6 neighbours follow its networks.
std::string AddLocalNetworks(const std::vector<LocalInterface>& interfaces,
                             const std::string& chosen, bool large, bool inet6,
                             const AddressPlatform& platform,
                             Targets& targets) {
  for (const LocalInterface& entry : interfaces) {
    if (!entry.scannable || (!chosen.empty() && entry.name != chosen)) {
      continue;
    }
    std::vector<std::string> blocks;
    for (const AttachedNetwork& network : entry.networks) {
      if (network.prefix > 32) continue;
      const std::uint32_t mask =
          network.prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - network.prefix);
      const std::string block =
          Dotted(network.address & mask) + '/' + std::to_string(network.prefix);
      if (std::ranges::find(blocks, block) != blocks.end()) continue;
      blocks.push_back(block);
      if (std::string error = Expand(block, large, chosen, platform, targets);
          !error.empty()) {
        return "interface " + Quoted(entry.name) + ": " + error;
      }
    }
    for (const IpAddress& neighbour :
         inet6 ? entry.inet6_neighbours : std::vector<IpAddress>{}) {
      if (targets.entries() >= kMostEntries) break;
      targets.Add(FormatIp6(neighbour.bytes) +
                  (neighbour.scope != 0 ? '%' + entry.name : ""));
    }
  }
  return {};
}

// The lines of a list file, ended by LF, CR LF or a lone CR: '#' starts a
// comment, blank lines are skipped, a leading UTF-8 byte order mark is
// dropped. A line over kLongestLine bytes, more than kMostEntries lines of
// any kind, or more than most addresses, is an error, so an endless or
// binary input ends soon with a message.
std::string ReadList(const std::string& name, std::FILE* input,
                     std::size_t most, std::vector<std::string>& lines) {
  std::FILE* file = name == "-" ? input : std::fopen(name.c_str(), "rb");
  if (!file) return "cannot read " + Quoted(name) + ": " + strerror(errno);
  std::string line, error;
  std::size_t number = 1;
  bool after_cr = false;
  auto take = [&] {
    if (number == 1 && line.starts_with(kUtf8ByteOrderMark)) {
      line.erase(0, kUtf8ByteOrderMark.size());
    }
    line.erase(std::min(line.find('#'), line.size()));
    const auto begin = line.find_first_not_of(" \t\r\v\f");
    if (begin != std::string::npos) {
      line.erase(line.find_last_not_of(" \t\r\v\f") + 1);
      lines.push_back(line.substr(begin));
    }
    line.clear();
    ++number;
  };
  for (int c; error.empty() && (c = std::fgetc(file)) != EOF;) {
    if (c == '\n' && after_cr) {  // the end of a CR LF
      after_cr = false;
      continue;
    }
    after_cr = c == '\r';
    if (c == '\n' || c == '\r') {
      take();
    } else if (line.size() == kLongestLine) {
      error = Quoted(name) + ": line " + std::to_string(number) +
              " is longer than " + std::to_string(kLongestLine) + " bytes";
    } else {
      line += static_cast<char>(c);
    }
    if (lines.size() > most) {
      error = Quoted(name) + ": more than " + std::to_string(kMostEntries) +
              " addresses, blocks or ranges";
    } else if (number > kMostEntries + 1) {  // blank and comment lines too
      error = Quoted(name) + ": more than " + std::to_string(kMostEntries) +
              " lines";
    }
  }
  if (error.empty() && !line.empty()) take();
  const bool failed = std::ferror(file);
  if (file != input) std::fclose(file);
  if (!error.empty()) return error;
  if (failed) return "cannot read " + Quoted(name);
  return {};
}

// Characters that, printed raw, take over a terminal or reorder and break
// the lines around them: the C1 controls, the bidirectional embeddings,
// overrides and isolates, and the line and paragraph separators.
bool IsUnsafe(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

// text (UTF-8) as a JSON string, with every control and unsafe character
// written as a \u escape.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  char escape[8];
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    char32_t code = byte;
    const std::size_t length = byte < 0x80 ? 1 : Utf8SequenceAt(text, i, code);
    if (length == 0) {  // not from ToUtf8; never raw
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += text[i];
    } else if (byte < 0x20 || byte == 0x7F || IsUnsafe(code)) {
      std::snprintf(escape, sizeof escape, "\\u%04x",
                    static_cast<unsigned>(code));
      out += escape;
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out + '"';
}

// One RFC 4180 field. One that a spreadsheet would take for a formula gets
// a leading single quote, so it is shown as text and never run.
std::string CsvField(const std::string& text) {
  const bool formula =
      !text.empty() && std::strchr("=+-@\t\r", text.front()) != nullptr;
  const std::string field = formula ? '\'' + text : text;
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

namespace {

// An address as it is sent (its first byte first in memory), dotted.
std::string DottedNetwork(std::uint32_t address) {
  return Dotted(HostOrder(address));
}

// An address of either family as the output shows it: IPv6 in its canonical
// form, with the name of its interface when it is link-local.
std::string AddressText(const IpAddress& address) {
  if (!address.is_inet6()) return DottedNetwork(address.inet());
  std::string text = FormatIp6(address.bytes);
  if (address.scope != 0) {
    text += '%';
#ifndef _WIN32
    char name[IF_NAMESIZE] = {};
    if (if_indextoname(address.scope, name)) {
      text += name;
      return text;
    }
#endif
    text += std::to_string(address.scope);
  }
  return text;
}

std::string Why(const QueryResult& result) {
  std::string why = ReasonText(result.reason);
  if (result.reason == Reason::kOffLink && result.gateway != IpAddress{}) {
    why += " (gateway " + AddressText(result.gateway) + ")";
  }
  return why;
}

}  // namespace

// The text form's vendor column: the table's name, else what kind of address
// has none.
std::string VendorColumn(const std::string& vendor, AddressKind kind) {
  if (!vendor.empty()) return Escape(vendor);
  if (kind == AddressKind::kLocal) return "(locally administered)";
  if (kind == AddressKind::kGroup) return "(group address)";
  return {};
}

// What a reply read off the wire adds: the other hardware addresses that
// answered for the address, and the Ethernet source of a frame that named
// another sender. Empty for every other answer.
std::string Mark(const QueryResult& result) {
  std::string mark;
  if (!result.conflicts.empty()) {
    mark = "conflict";
    for (const std::u16string& other : result.conflicts) {
      mark += ' ' + ToUtf8(other);
    }
  }
  if (!result.frame_source.empty()) {
    if (!mark.empty()) mark += "; ";
    mark += "frame from " + ToUtf8(result.frame_source);
  }
  return mark;
}

// Writes text whole; false when the output refuses it.
bool Write(std::FILE* out, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), out) == text.size() &&
         std::fflush(out) == 0;
}

std::string Escape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    char escape[8];
    char32_t code = 0;
    std::size_t length = 0;
    if (byte >= 0x80 && (length = Utf8SequenceAt(text, i, code)) == 0) {
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);  // not UTF-8
      out += escape;
    } else if (byte >= 0x80 && IsUnsafe(code)) {
      std::snprintf(escape, sizeof escape, "\\u%04X",
                    static_cast<unsigned>(code));
      out += escape;
      i += length - 1;
    } else if (byte >= 0x80) {
      out.append(text, i, length);
      i += length - 1;
    } else if (byte == '\\') {
      out += "\\\\";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      out += escape;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::u16string NormalizeMac(std::string_view text) {
  std::string digits;
  const auto hex = [](char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
  };
  if (text.size() == 17 && (text[2] == '-' || text[2] == ':')) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (i % 3 == 2 ? text[i] != text[2] : !hex(text[i])) return {};
      if (i % 3 != 2) digits += text[i];
    }
  } else if (text.size() == 14 && text[4] == '.' && text[9] == '.') {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (i % 5 == 4 ? text[i] != '.' : !hex(text[i])) return {};
      if (i % 5 != 4) digits += text[i];
    }
  } else if (text.size() == 12 && std::all_of(text.begin(), text.end(), hex)) {
    digits = text;
  } else {
    return {};
  }
  std::u16string mac;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && i % 2 == 0) mac += u'-';
    mac += static_cast<char16_t>(
        std::toupper(static_cast<unsigned char>(digits[i])));
  }
  return mac;
}

Targets::Targets(std::initializer_list<std::string> texts) {
  for (const std::string& text : texts) Add(text);
}

Targets::Targets(const std::vector<std::string>& texts) {
  for (const std::string& text : texts) Add(text);
}

void Targets::Add(std::string text) {
  entries_.push_back({size_, std::move(text), 0, 0});
  ++size_;
}

void Targets::AddRun(std::uint32_t first, std::uint64_t count) {
  if (count == 0) return;
  entries_.push_back({size_, {}, first, count});
  size_ += count;
}

std::vector<std::string> Targets::Texts(std::uint64_t from,
                                        std::size_t most) const {
  std::vector<std::string> texts;
  // The entry holding index from: the last one starting at or before it.
  auto entry = std::upper_bound(
      entries_.begin(), entries_.end(), from,
      [](std::uint64_t index, const Entry& e) { return index < e.start; });
  if (entry == entries_.begin()) return texts;
  for (--entry; entry != entries_.end() && texts.size() < most; ++entry) {
    if (entry->count == 0) {
      texts.push_back(entry->text);
      ++from;
      continue;
    }
    for (; from < entry->start + entry->count && texts.size() < most; ++from) {
      texts.push_back(Dotted(
          static_cast<std::uint32_t>(entry->first + from - entry->start)));
    }
  }
  return texts;
}

namespace {

// The command line as read, before its sources are expanded.
struct Command {
  Options options;
  bool large = false;   // --large
  bool chosen = false;  // -I
  std::vector<std::pair<SourceKind, std::string>> sources;
  std::vector<std::string> watch_options;  // given, that only --watch takes
};

// Reads the options into command, each source kept as given; the message
// for a usage error, or empty.
std::string ReadOptions(const std::vector<std::string>& arguments,
                        Command& command) {
  Options& options = command.options;
  auto& sources = command.sources;
  auto& watch_options = command.watch_options;
  bool& large = command.large;
  bool& chosen = command.chosen;
  bool options_done = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (options_done || arg.size() < 2 || arg.front() != '-') {
      sources.emplace_back(SourceKind::kArgument, arg);
      continue;
    }
    // The value of an option that takes one: "--opt VALUE" or "--opt=VALUE".
    std::string name = arg, value;
    bool has_value = false;
    if (const auto equals = arg.find('=');
        arg.starts_with("--") && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      has_value = true;
    }
    const auto take_value = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= arguments.size()) return false;
      value = arguments[++i];
      return true;
    };
    if (name == "--") {
      options_done = true;
    } else if (name == "-h" || name == "--help") {
      options.help = true;
    } else if (name == "--version") {
      options.version = true;
    } else if (name == "--found") {
      options.found_only = true;
    } else if (name == "--json") {
      options.format = Format::kJson;
    } else if (name == "--csv") {
      options.format = Format::kCsv;
    } else if (name == "-v" || name == "--verbose") {
      options.verbose = true;
    } else if (name == "--large") {
      large = true;
    } else if (name == "--vendor") {
      options.vendor = true;
    } else if (name == "-n" || name == "--names") {
      options.names = true;
    } else if (name == "--watch") {
      options.watch = true;
    } else if (name == "--by-device") {
      options.by_device = true;
    } else if (name == "--every") {
      if (!take_value()) return "option '--every' needs a number of seconds";
      char* end = nullptr;
      const double seconds = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(seconds >= 0.01) ||
          seconds > 86400) {
        return Quoted("--every " + value) +
               ": seconds are a number from 0.01 to 86400";
      }
      options.every = std::chrono::milliseconds(
          static_cast<long>(std::ceil(seconds * 1000)));
      watch_options.push_back("--every");
    } else if (name == "--known") {
      if (!take_value() || value.empty()) {
        return "option '--known' needs a file name";
      }
      options.known = value;
      watch_options.push_back("--known");
    } else if (name == "--track") {
      if (!take_value()) return "option '--track' needs a number of addresses";
      const auto most = ReadNumber(value);
      if (!most || *most == 0 || *most > kMostTracked) {
        return Quoted("--track " + value) + ": a whole number from 1 to " +
               std::to_string(kMostTracked);
      }
      options.track = *most;
      watch_options.push_back("--track");
    } else if (name == "-f" || name == "--file") {
      if (!take_value()) return "option '" + name + "' needs a file name";
      sources.emplace_back(SourceKind::kList, value);
    } else if (name == "-l" || name == "--local") {
      sources.emplace_back(SourceKind::kLocal, "");
    } else if (name == "-I" || name == "--interface") {
      if (!take_value() || value.empty()) {
        return "option '" + name + "' needs an interface name";
      }
      options.resolve.interface_name = value;
      chosen = true;
    } else if (name == "--timeout") {
      if (!take_value()) return "option '--timeout' needs a number of seconds";
      char* end = nullptr;
      const double seconds = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(seconds > 0) || seconds > 3600) {
        return Quoted("--timeout " + value) +
               ": seconds are a number above 0, at most 3600";
      }
      options.resolve.timeout = std::chrono::milliseconds(
          static_cast<long>(std::ceil(seconds * 1000)));
    } else if (name == "--retry") {
      if (!take_value()) return "option '--retry' needs a number of attempts";
      const auto attempts = ReadNumber(value);
      if (!attempts || *attempts == 0 || *attempts > 100) {
        return Quoted("--retry " + value) + ": a whole number from 1 to 100";
      }
      options.resolve.attempts = *attempts;
    } else if (name == "--rate") {
      if (!take_value()) return "option '--rate' needs a number a second";
      const auto rate = ReadNumber(value);
      if (!rate || *rate == 0 || *rate > 1'000'000) {
        return Quoted("--rate " + value) + ": a whole number from 1 to 1000000";
      }
      options.resolve.rate = *rate;
    } else {
      return "unknown option " + Quoted(arg);
    }
  }
  return {};
}

// What --watch needs and refuses, and what --by-device refuses; the
// message, or empty.
std::string CheckCombinations(const Command& command) {
  const Options& options = command.options;
  const auto& watch_options = command.watch_options;
  if (!options.watch && !watch_options.empty()) {
    return "option '" + watch_options.front() + "' needs --watch";
  }
  if (options.watch) {
#ifdef _WIN32
    return "--watch is not available on Windows: it listens to the Linux "
           "kernel's neighbour events";
#endif
    if (options.vendor) return "--watch and --vendor do not go together";
    if (options.names) return "--watch and -n do not go together";
    if (options.found_only) return "--watch and --found do not go together";
    if (options.by_device) return "--watch and --by-device do not go together";
  }
  // Hardware addresses looked up are devices already.
  if (options.vendor && options.by_device) {
    return "--vendor and --by-device do not go together";
  }
  return {};
}

// Adds to the IPv6 neighbours of the interfaces -l scans (only chosen's,
// when it is not empty) those that answer echo, each once, in address order;
// why none could be asked goes to notes.
void AddEchoAnswers(std::vector<LocalInterface>& local,
                    const std::string& chosen, AllNodesEcho echo,
                    std::vector<std::string>& notes) {
  std::vector<std::int32_t> ifindexes;
  for (const LocalInterface& entry : local) {
    if (entry.scannable && entry.index != 0 &&
        (chosen.empty() || entry.name == chosen)) {
      ifindexes.push_back(entry.index);
    }
  }
  std::string why;
  const auto answers = echo(ifindexes, kEchoWait, why);
  if (!why.empty()) notes.push_back(why);
  for (LocalInterface& entry : local) {
    auto& known = entry.inet6_neighbours;
    for (const auto& [ifindex, address] : answers) {
      if (ifindex == entry.index &&
          std::ranges::find(known, address) == known.end()) {
        known.push_back(address);
      }
    }
    std::ranges::sort(known);
  }
}

// Adds the targets of every source in order: a block or range as one
// entry, a list file line by line, -l the local networks.
std::string AddSources(Command& command, std::FILE* input,
                       InterfaceSource interfaces,
                       const AddressPlatform& platform, AllNodesEcho echo) {
  Options& options = command.options;
  const auto& sources = command.sources;
  const bool large = command.large, chosen = command.chosen;
  std::vector<LocalInterface> local;
  const bool scans_local = std::ranges::any_of(sources, [](const auto& source) {
    return source.first == SourceKind::kLocal;
  });
  if (chosen || scans_local) {
    local = interfaces();
    if (chosen && std::ranges::none_of(local, [&](const LocalInterface& l) {
          return l.name == options.resolve.interface_name;
        })) {
      return "no interface " + Quoted(options.resolve.interface_name);
    }
  }
  if (scans_local && !options.watch && echo) {
    AddEchoAnswers(local, options.resolve.interface_name, echo, options.notes);
  }
  for (const auto& [kind, text] : sources) {
    std::vector<std::string> lines;
    if (kind == SourceKind::kLocal) {
      const std::uint64_t before = options.targets.size();
      if (std::string error =
              AddLocalNetworks(local, options.resolve.interface_name, large,
                               !options.watch, platform, options.targets);
          !error.empty()) {
        return error;
      }
      if (options.targets.size() == before) {
        return chosen ? "no IPv4 network to scan on interface " +
                            Quoted(options.resolve.interface_name)
                      : "no IPv4 network to scan: no interface that is up "
                        "and does ARP has an address";
      }
      continue;
    }
    if (kind == SourceKind::kList) {
      const std::size_t most =
          kMostEntries - std::min(kMostEntries, options.targets.entries());
      if (std::string error = ReadList(text, input, most, lines);
          !error.empty()) {
        return error;
      }
    } else {
      lines.push_back(text);
    }
    for (std::string& line : lines) {
      if (options.vendor) {
        options.targets.Add(std::move(line));
      } else if (std::string error =
                     Expand(line, large, options.resolve.interface_name,
                            platform, options.targets);
                 !error.empty()) {
        return error;
      }
    }
  }
  if (options.targets.entries() > kMostEntries) {
    return "more than " + std::to_string(kMostEntries) +
           " addresses, blocks or ranges";
  }
  if (options.targets.empty() && sources.empty()) {
    return "no address given ('norvane-cli -l' scans the local networks)";
  }
  return {};
}

}  // namespace

std::variant<Options, std::string> ParseArguments(
    const std::vector<std::string>& arguments, std::FILE* input,
    InterfaceSource interfaces, const AddressPlatform& platform,
    AllNodesEcho echo) {
  Command command;
  std::string error = ReadOptions(arguments, command);
  const Options& options = command.options;
  if (error.empty() && (options.help || options.version)) return options;
  if (error.empty()) error = CheckCombinations(command);
  if (error.empty()) {
    error = AddSources(command, input, interfaces, platform, echo);
  }
  if (!error.empty()) return error;
  return options;
}

namespace {

// The JSON fields an address brings to an object: the address, and the
// family of an IPv6 one (IPv4 objects are as they always were).
std::string JsonAddressFields(const std::string& address) {
  std::string fields =
      "\"address\":" + JsonString(ToUtf8(DecodeSystemText(address)));
  if (address.find(':') != std::string::npos && ParseIp6(address).has_value()) {
    fields += ",\"family\":\"inet6\"";
  }
  return fields;
}

// The JSON fields of a resolved address's answer: where it came from, and
// what disagreed with it.
std::string JsonAnswerFields(const QueryResult& result) {
  std::string fields = ",\"state\":";
  fields += result.router ? JsonString("router")
            : result.source == Source::kUnknown
                ? "null"
                : JsonString(SourceText(result.source));
  if (!result.conflicts.empty()) {
    fields += ",\"conflicts\":[";
    for (std::size_t c = 0; c < result.conflicts.size(); ++c) {
      fields += (c ? "," : "") + JsonString(ToUtf8(result.conflicts[c]));
    }
    fields += ']';
  }
  if (!result.frame_source.empty()) {
    fields += ",\"frame_source\":" + JsonString(ToUtf8(result.frame_source));
  }
  return fields;
}

// -n's JSON fields, null when no name was found.
std::string JsonNameFields(const HostName& name) {
  const bool named = !name.text.empty();
  return ",\"name\":" + (named ? JsonString(name.text) : "null") +
         ",\"name_source\":" +
         (named ? JsonString(NameSourceText(name.source)) : "null");
}

// One answer's line in the form options ask for, its name column with -n.
std::string FormatLine(const Options& options, const std::string& address,
                       const QueryResult& result, const HostName& name) {
  const bool resolved = !result.mac.empty();
  const std::u16string column =
      resolved || address.empty() ? result.mac : kQueryErrorText;
  const std::string mac = ToUtf8(column);
  // A failed line's column is the error text: no maker to look up.
  const std::string vendor = resolved ? ToUtf8(FindVendor(column)) : "";
  const AddressKind kind = KindOf(result.mac, !vendor.empty());
  const std::string mark = Mark(result);
  std::string line;
  switch (options.format) {
    case Format::kText:
      line = Escape(address) + '\t' + mac + '\t' +
             (resolved ? VendorColumn(vendor, kind) : Escape(vendor));
      if (options.names) line += '\t' + Escape(name.text);
      if (!mark.empty()) line += '\t' + mark;
      return line + '\n';
    case Format::kCsv:
      // Grouped by device, the columns start with the hardware address.
      line = options.by_device
                 ? CsvField(mac) + ',' + CsvField(Escape(address))
                 : CsvField(Escape(address)) + ',' + CsvField(mac);
      line += ',' + CsvField(Escape(vendor)) + ',' +
              (resolved ? KindText(kind) : "");
      if (options.names) line += ',' + CsvField(Escape(name.text));
      return line + ',' + CsvField(mark) + "\r\n";
    case Format::kJson:
      break;
  }
  line = '{' + JsonAddressFields(address);
  line += ",\"mac\":" + (resolved ? JsonString(mac) : "null") +
          ",\"vendor\":" + JsonString(vendor) +
          ",\"kind\":" + (resolved ? JsonString(KindText(kind)) : "null");
  line += resolved ? JsonAnswerFields(result)
                   : ",\"reason\":" + JsonString(Why(result));
  if (options.names) line += JsonNameFields(name);
  return line + "}\n";
}

// The answered addresses of a run grouped by hardware address, for
// --by-device: the devices in the order of their first addresses, each
// one's addresses in theirs (the order the answers are taken in). Each
// address costs its text (in JSON, its object) and no more.
class Devices {
 public:
  explicit Devices(const Options& options) : options_(options) {}

  void Add(const std::string& address, const QueryResult& result,
           const HostName& name) {
    const auto [at, added] = index_.try_emplace(result.mac, devices_.size());
    if (added) devices_.push_back({result.mac, {}, {}, {}});
    Device& device = devices_[at->second];
    if (options_.format == Format::kJson) {
      if (!added) device.addresses += ',';
      device.addresses += '{' + JsonAddressFields(address) +
                          JsonAnswerFields(result) +
                          (options_.names ? JsonNameFields(name) : "") + '}';
      return;
    }
    // A comma inside an address (an interface name may hold one) would
    // split it in two.
    std::string text;
    for (const char c : Escape(address)) {
      if (c == ',') {
        text += "\\x2C";
      } else {
        text += c;
      }
    }
    if (!added) device.addresses += options_.format == Format::kCsv ? ' ' : ',';
    device.addresses += text;
    if (device.name.empty()) device.name = name.text;
    if (const std::string mark = Mark(result); !mark.empty()) {
      if (!device.marks.empty()) device.marks += "; ";
      device.marks += text + ' ' + mark;
    }
  }

  std::size_t size() const { return devices_.size(); }

  // The line of the i-th device.
  std::string Line(std::size_t i) const {
    const Device& device = devices_[i];
    const std::string mac = ToUtf8(device.mac);
    const std::string vendor = ToUtf8(FindVendor(device.mac));
    const AddressKind kind = KindOf(device.mac, !vendor.empty());
    std::string line;
    switch (options_.format) {
      case Format::kText:
        line =
            mac + '\t' + device.addresses + '\t' + VendorColumn(vendor, kind);
        if (options_.names) line += '\t' + Escape(device.name);
        if (!device.marks.empty()) line += '\t' + device.marks;
        return line + '\n';
      case Format::kCsv:
        line = CsvField(mac) + ',' + CsvField(device.addresses) + ',' +
               CsvField(Escape(vendor)) + ',' + KindText(kind);
        if (options_.names) line += ',' + CsvField(Escape(device.name));
        return line + ',' + CsvField(device.marks) + "\r\n";
      case Format::kJson:
        break;
    }
    return "{\"mac\":" + JsonString(mac) + ",\"addresses\":[" +
           device.addresses + "],\"vendor\":" + JsonString(vendor) +
           ",\"kind\":" + JsonString(KindText(kind)) + "}\n";
  }

 private:
  struct Device {
    std::u16string mac;
    std::string addresses;  // joined as the form writes them
    std::string name;       // text and CSV: the first name found
    std::string marks;      // text and CSV: each marked address's mark
  };
  const Options& options_;
  std::vector<Device> devices_;
  std::unordered_map<std::u16string, std::size_t> index_;
};

// The progress line on standard error: how many are done and found, the
// pace so far and the time the rest takes at it, at most ten times a second.
class Progress {
 public:
  Progress(std::FILE* err, bool on, std::uint64_t total)
      : err_(err), on_(on), total_(total) {}

  void Show(std::uint64_t done, std::uint64_t found) {
    const auto now = std::chrono::steady_clock::now();
    if (!on_ || done >= total_ || now - last_ < std::chrono::milliseconds(100))
      return;
    const double seconds =
        std::chrono::duration<double>(now - started_).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    const auto left = static_cast<unsigned long long>(
        rate > 0 ? std::ceil(static_cast<double>(total_ - done) / rate) : 0);
    std::fprintf(err_,
                 "\r\033[K%llu of %llu done, %llu found, %.0f a second, "
                 "%llu:%02llu left",
                 static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total_),
                 static_cast<unsigned long long>(found), rate, left / 60,
                 left % 60);
    std::fflush(err_);
    shown_ = true;
    last_ = now;
  }

  // Takes the line away, so that what comes next starts a line of its own.
  void Clear() {
    if (std::exchange(shown_, false)) std::fputs("\r\033[K", err_);
  }

 private:
  std::FILE* err_;
  bool on_;
  std::uint64_t total_;
  bool shown_ = false;
  const std::chrono::steady_clock::time_point started_ =
      std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_{};
};

// What -v says of an answer on standard error: why an address was not
// resolved, the conflicts of a reply, a group address answering.
void Warn(std::FILE* err, const std::string& address,
          const QueryResult& result) {
  const bool resolved = !result.mac.empty();
  if (!resolved && !address.empty()) {
    std::fprintf(err, "norvane-cli: %s: %s\n", Escape(address).c_str(),
                 Why(result).c_str());
  }
  if (const std::string mark = Mark(result); !mark.empty()) {
    std::fprintf(err, "norvane-cli: %s: %s (%s taken)\n",
                 Escape(address).c_str(), mark.c_str(),
                 ToUtf8(result.mac).c_str());
  }
  if (resolved && KindOf(result.mac, !FindVendor(result.mac).empty()) ==
                      AddressKind::kGroup) {
    std::fprintf(err, "norvane-cli: %s: answered with a group address, %s\n",
                 Escape(address).c_str(), ToUtf8(result.mac).c_str());
  }
}

}  // namespace

int Scan(const Options& options, std::FILE* out, std::FILE* err, bool progress,
         const AddressPlatform& platform, NameLookupsMaker names) {
  const std::uint64_t total = options.targets.size();
  std::atomic<bool> stop{false};
  ResolveOptions resolve = options.resolve;
  resolve.stop = &stop;
  resolve.inet6 = true;
  // The slice being resolved: its texts, and the answers not yet written.
  std::vector<std::string> slice;
  std::vector<std::optional<QueryResult>> results;
  std::vector<std::optional<HostName>> host_names;  // known, or not asked for
  std::size_t written = 0;                          // in the slice
  std::uint64_t done = 0, found = 0;
  bool failed = false, unwritable = false;
  int write_error = 0;
  Progress shown(err, progress, total);
  // Lines for the same terminal first take the progress away.
  const bool shared_terminal = progress && isatty(fileno(out));
  if (options.verbose) {
    resolve.table_sets_pace = [&, told = false](std::size_t entries) mutable {
      if (std::exchange(told, true)) return;
      shown.Clear();
      std::fprintf(err,
                   "norvane-cli: the kernel's neighbour table sets the pace, "
                   "not the rate: %zu entries at a time, each held until the "
                   "kernel gives up on a silent address\n",
                   entries);
    };
  }
  const auto write = [&](const std::string& line) {
    if (!unwritable && !Write(out, line)) {
      unwritable = true;
      write_error = errno;
      stop = true;  // no probe more for lines nobody can read
    }
  };

  Devices devices(options);
  if (options.verbose) {
    for (const std::string& note : options.notes) {
      std::fprintf(err, "norvane-cli: %s\n", note.c_str());
    }
  }
  const auto emit = [&](std::size_t i, const QueryResult& result,
                        const HostName& name) {
    const std::string& address = slice[i];
    const bool resolved = !result.mac.empty();
    failed |= !resolved;
    if (options.verbose) Warn(err, address, result);
    if (unwritable || (options.found_only && !resolved)) return;
    // A device's line waits for the whole run; a failed address has no
    // device, and its line goes as it would without grouping.
    if (options.by_device && resolved)
      return devices.Add(address, result, name);
    if (shared_terminal) shown.Clear();
    write(FormatLine(options, address, result, name));
  };
  // A line goes once its answer and, with -n, its name are known.
  const auto flush = [&] {
    for (; written < slice.size() && results[written] && host_names[written];
         ++written) {
      emit(written, *results[written], *host_names[written]);
      results[written].reset();
    }
  };
  // The name lookups' thread and the resolver take turns through lock.
  std::mutex lock;
  std::unique_ptr<NameLookups> lookups;
  const auto finish = [&](std::size_t i, const QueryResult& result) {
    const std::lock_guard<std::mutex> held(lock);
    results[i] = result;
    ++done;
    if (!result.mac.empty()) ++found;
    // Names are looked up for IPv4 hosts.
    if (lookups && !result.mac.empty() && !unwritable &&
        slice[i].find(':') == std::string::npos) {
      lookups->Look(i, platform.parse(DecodeSystemText(slice[i])));
    } else {
      host_names[i] = HostName();
    }
    flush();
    shown.Show(done, found);
  };

  if (options.names) {
    NameOptions name_options;
    name_options.rate = options.resolve.rate;
    lookups = names(name_options, [&](std::size_t i, const HostName& name) {
      const std::lock_guard<std::mutex> held(lock);
      host_names[i] = name;
      flush();
    });
  }
  if (options.format == Format::kCsv) {
    write(std::string(options.by_device ? "mac,addresses" : "address,mac") +
          (options.names ? ",vendor,kind,name,mark\r\n"
                         : ",vendor,kind,mark\r\n"));
  }
  for (std::uint64_t from = 0; from < total && !unwritable; from += kSlice) {
    slice = options.targets.Texts(from, kSlice);
    results.assign(slice.size(), std::nullopt);
    host_names.assign(slice.size(), std::nullopt);
    written = 0;
    // No query for an empty text, as in GetMAC, nor for an address with
    // text after it: those end at once, the others are asked together.
    std::vector<std::u16string> texts;
    std::vector<std::size_t> positions;  // of the texts in the slice
    for (std::size_t i = 0; i < slice.size(); ++i) {
      if (!slice[i].empty() && !HasJunk(slice[i])) {
        texts.push_back(DecodeSystemText(slice[i]));
        positions.push_back(i);
      } else {
        QueryResult empty;
        empty.reason = Reason::kMalformed;
        finish(i, empty);
      }
    }
    QueryMany(
        texts, resolve,
        [&](std::size_t index, const QueryResult& result) {
          finish(positions[index], result);
        },
        platform);
    if (lookups) lookups->Finish();
  }
  lookups.reset();
  shown.Clear();
  for (std::size_t i = 0; i < devices.size() && !unwritable; ++i) {
    write(devices.Line(i));
  }
  if (unwritable || std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(
        err, "norvane-cli: cannot write the output: %s\n",
        std::strerror(unwritable && write_error ? write_error : errno));
    return kExitTrouble;
  }
  if (options.found_only) return found > 0 ? kExitAll : kExitNotAll;
  return failed ? kExitNotAll : kExitAll;
}

int LookUpVendors(const Options& options, std::FILE* out, std::FILE* err) {
  int status = kExitAll;
  if (options.format == Format::kCsv && !Write(out, "mac,vendor,kind\r\n")) {
    std::fprintf(err, "norvane-cli: cannot write the output: %s\n",
                 std::strerror(errno));
    return kExitTrouble;
  }
  for (const std::string& text :
       options.targets.Texts(0, options.targets.entries())) {
    const std::u16string mac = NormalizeMac(text);
    if (mac.empty()) {
      std::fprintf(err, "norvane-cli: not a hardware address: '%s'\n",
                   Escape(text).c_str());
      status = kExitNotAll;
      continue;
    }
    const std::string vendor = ToUtf8(FindVendor(mac));
    if (vendor.empty()) status = kExitNotAll;
    const AddressKind kind = KindOf(mac, !vendor.empty());
    std::string line;
    switch (options.format) {
      case Format::kText:
        line = ToUtf8(mac) + '\t' + VendorColumn(vendor, kind) + '\n';
        break;
      case Format::kCsv:
        line = ToUtf8(mac) + ',' + CsvField(Escape(vendor)) + ',' +
               KindText(kind) + "\r\n";
        break;
      case Format::kJson:
        line = "{\"mac\":" + JsonString(ToUtf8(mac)) +
               ",\"vendor\":" + JsonString(vendor) +
               ",\"kind\":" + JsonString(KindText(kind)) + "}\n";
        break;
    }
    if (!Write(out, line)) {
      std::fprintf(err, "norvane-cli: cannot write the output: %s\n",
                   std::strerror(errno));
      return kExitTrouble;
    }
  }
  return status;
}

}  // namespace norvane::cli
