// norvane-cli's parts that need no process of their own: the command line,
// the expansion of blocks and ranges, and the output forms.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mac.h"

namespace norvane::cli {

enum class Format { kText, kJson, kCsv };

// What the command line asks for.
struct Options {
  std::vector<std::string> targets;  // address texts, blocks expanded
  Format format = Format::kText;
  bool found_only = false;  // --found
  bool verbose = false;     // -v: reasons on standard error
  bool vendor = false;      // --vendor: targets are hardware addresses
  bool help = false;
  bool version = false;
  ResolveOptions resolve;
};

// The largest block or range taken without --large.
inline constexpr std::size_t kLargeRun = 65536;

// Reads the arguments (without the program's name); "-f -" reads input.
// Returns the options, or the message for a usage error.
std::variant<Options, std::string> ParseArguments(
    const std::vector<std::string>& arguments, std::FILE* input);

// Text with control characters and backslashes written as escapes (\t, \n,
// \r, \\, \xHH, \u0080..\u009F), so that a value holds one column of one
// line and reaches a terminal harmless.
std::string Escape(std::string_view text);

// A hardware address in any usual notation (dashes, colons, dots between
// groups of four, bare digits; either case) in the program's form; empty
// when the text is none of these.
std::u16string NormalizeMac(std::string_view text);

// Queries every target and writes one line each, in order, each as soon as
// the lines before it are known; progress goes to err when progress is set.
// Returns the exit status: 0 all resolved, 1 any not, 2 output unwritable.
int Scan(const Options& options, std::FILE* out, std::FILE* err, bool progress,
         const AddressPlatform& platform = SystemPlatform());

// Looks up the vendor of every target (a hardware address) in the loaded
// table. Returns 0 when each had a vendor, 1 when any had none or was
// malformed, 2 when the output could not be written.
int LookUpVendors(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace norvane::cli
