// oui-convert: turns the IEEE registries (oui.txt, mam.txt, oui36.txt,
// iab.txt, their CSV forms, or the npm package oui-data's index.json) into
// the vendor table oui.ieee.

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
    "usage: oui-convert [--date TEXT] [-o FILE]\n"
    "                   [[--format text|csv|json] [--source TEXT] INPUT]...\n"
    "Reads IEEE registries (MA-L, MA-M, MA-S, IAB) from each INPUT (standard\n"
    "input when none is given, or for \"-\") and writes one vendor table of\n"
    "them all to FILE (standard output when it is missing). Each input's\n"
    "form is detected unless a --format before it names it; the --source\n"
    "before each input and --date go into the table's comment header.\n";

struct Input {
  std::optional<registry::Format> format;
  std::string source;
  std::string path = "-";
};

struct Options {
  std::vector<Input> inputs;
  std::string date;
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
  Input next;  // --format and --source wait for their input
  const std::vector<std::string> args(argv + 1, argv + argc);
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
        next.format = registry::ParseFormatName(*text);
        if (!next.format) return UsageError("unknown form " + *text);
      } else if (arg == "--source") {
        next.source = *text;
      } else if (arg == "--date") {
        options.date = *text;
      } else {
        options.output = *text;
      }
    } else if (arg.size() > 1 && arg.front() == '-') {
      return UsageError("unknown option " + arg);
    } else {
      next.path = arg;
      options.inputs.push_back(next);
      next = Input();
    }
  }
  if (options.inputs.empty()) options.inputs.push_back(next);

  registry::Provenance provenance{{}, options.date};
  std::vector<registry::Record> records;
  for (const Input& input : options.inputs) {
    std::string text;
    if (!ReadAll(input.path, text)) {
      std::cerr << "oui-convert: cannot read " << input.path << "\n";
      return 1;
    }
    const auto format =
        input.format ? input.format : registry::DetectFormat(text);
    if (!format) {
      std::cerr << "oui-convert: cannot tell the form of " << input.path
                << "; name it with --format\n";
      return 1;
    }
    registry::ParseResult parsed;
    try {
      parsed = registry::Parse(text, *format);
    } catch (const registry::FormatError& error) {
      std::cerr << "oui-convert: " << input.path << ": " << error.what()
                << "\n";
      return 1;
    }
    if (parsed.records.empty()) {
      std::cerr << "oui-convert: " << input.path << " holds no records\n";
      return 1;
    }
    std::cerr << "oui-convert: " << input.path << ": " << parsed.records.size()
              << " records from the " << registry::FormatName(*format)
              << " form, " << parsed.skipped
              << " entries skipped (no 24-, 28- or 36-bit prefix)\n";
    provenance.sources.push_back(input.source);
    records.insert(records.end(), parsed.records.begin(), parsed.records.end());
  }
  if (!WriteAll(options.output, registry::FormatTable(records, provenance))) {
    std::cerr << "oui-convert: cannot write " << options.output << "\n";
    return 1;
  }
  std::cerr << "oui-convert: " << records.size() << " records, "
            << registry::CountDuplicatePrefixes(records)
            << " prefixes listed more than once\n";
  return 0;
}
