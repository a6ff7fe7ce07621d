// oui-convert: turns the IEEE MA-L registry (oui.txt, oui.csv or the npm
// package oui-data's index.json) into the vendor table oui.ieee.

#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "registry.h"

namespace {

namespace registry = norvane::registry;

constexpr std::string_view kUsage =
    "usage: oui-convert [--format text|csv|json] [--source TEXT] "
    "[--date TEXT]\n"
    "                   [-o FILE] [INPUT]\n"
    "Reads the IEEE MA-L registry from INPUT (standard input when it is\n"
    "missing or \"-\") and writes the vendor table to FILE (standard output\n"
    "when it is missing). The form is detected unless --format names it;\n"
    "--source and --date go into the table's comment header.\n";

struct Options {
  std::optional<registry::Format> format;
  registry::Provenance provenance;
  std::string input = "-";
  std::string output = "-";
};

int UsageError(const std::string& message) {
  std::cerr << "oui-convert: " << message << "\n" << kUsage;
  return 2;
}

bool ReadAll(const std::string& path, std::string& text) {
  std::ifstream file;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) return false;
  }
  std::istream& in = path == "-" ? std::cin : file;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return !in.bad();
}

bool WriteAll(const std::string& path, const std::string& text) {
  if (path == "-") {
    std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
    std::cout.flush();
    return static_cast<bool>(std::cout);
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const std::vector<std::string> args(argv + 1, argv + argc);
  bool input_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&]() -> const std::string* {
      return i + 1 < args.size() ? &args[++i] : nullptr;
    };
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--format" || arg == "--source" || arg == "--date" ||
        arg == "-o") {
      const std::string* text = value();
      if (text == nullptr) return UsageError(arg + " needs a value");
      if (arg == "--format") {
        options.format = registry::ParseFormatName(*text);
        if (!options.format) return UsageError("unknown form " + *text);
      } else if (arg == "--source") {
        options.provenance.source = *text;
      } else if (arg == "--date") {
        options.provenance.date = *text;
      } else {
        options.output = *text;
      }
    } else if (arg.size() > 1 && arg.front() == '-') {
      return UsageError("unknown option " + arg);
    } else if (input_given) {
      return UsageError("more than one input");
    } else {
      options.input = arg;
      input_given = true;
    }
  }

  std::string input;
  if (!ReadAll(options.input, input)) {
    std::cerr << "oui-convert: cannot read " << options.input << "\n";
    return 1;
  }
  const auto format =
      options.format ? options.format : registry::DetectFormat(input);
  if (!format) {
    std::cerr << "oui-convert: cannot tell the form of " << options.input
              << "; name it with --format\n";
    return 1;
  }

  registry::ParseResult parsed;
  try {
    parsed = registry::Parse(input, *format);
  } catch (const registry::FormatError& error) {
    std::cerr << "oui-convert: " << options.input << ": " << error.what()
              << "\n";
    return 1;
  }
  if (parsed.records.empty()) {
    std::cerr << "oui-convert: " << options.input << " holds no records\n";
    return 1;
  }
  if (!WriteAll(options.output,
                registry::FormatTable(parsed.records, options.provenance))) {
    std::cerr << "oui-convert: cannot write " << options.output << "\n";
    return 1;
  }
  std::cerr << "oui-convert: " << parsed.records.size() << " records from the "
            << registry::FormatName(*format) << " form, "
            << registry::CountDuplicatePrefixes(parsed.records)
            << " prefixes listed more than once, " << parsed.skipped
            << " entries skipped (not a 6-digit prefix)\n";
  return 0;
}
