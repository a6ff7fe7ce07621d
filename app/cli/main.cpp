// norvane-cli: for each IPv4 address on the command line, one line with the
// address, a tab, its hardware address (or the error text), a tab and the
// vendor of its network card from oui.ieee beside this program.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "mac.h"
#include "norvane_version.h"
#include "oui.h"
#include "startup.h"
#include "text.h"

namespace {

constexpr int kAllResolved = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsageError = 2;

constexpr char kUsage[] =
    "Usage: norvane-cli ADDRESS...\n"
    "Finds the hardware address of each IPv4 ADDRESS on the local network and\n"
    "the maker of its network card, and prints one line per address:\n"
    "the address, a tab, the hardware address or the error text, a tab, and\n"
    "the vendor name (empty when unknown). The vendor table oui.ieee is read\n"
    "from the directory of this program.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Exit status: 0 when every address was resolved, 1 when any was not,\n"
    "2 when oui.ieee is missing or unreadable, or the command line is wrong.\n";

void PrintTableError(const norvane::TableError& error) {
  std::fprintf(stderr, "norvane-cli: %s\n",
               norvane::ToUtf8(error.message).c_str());
}

void AppendUtf16(char32_t code, std::u16string& out) {
  if (code < 0x10000) {
    out += static_cast<char16_t>(code);
  } else {
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (code >> 10));
    out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
  }
}

// An argument in the locale's multibyte encoding as text; a byte that does
// not decode becomes U+FFFD.
std::u16string FromLocale(std::string_view bytes) {
  std::u16string text;
  std::mbstate_t state{};
  while (!bytes.empty()) {
    wchar_t wide = 0;
    const std::size_t n =
        std::mbrtowc(&wide, bytes.data(), bytes.size(), &state);
    if (n == static_cast<std::size_t>(-1) ||
        n == static_cast<std::size_t>(-2)) {
      AppendUtf16(U'\uFFFD', text);
      bytes.remove_prefix(1);
      state = std::mbstate_t{};
      continue;
    }
    const auto code = static_cast<char32_t>(wide);
    AppendUtf16(
        code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF) ? code : U'\uFFFD',
        text);
    bytes.remove_prefix(n == 0 ? 1 : n);
  }
  return text;
}

void PrintLine(std::string_view address, const std::u16string& mac,
               const std::u16string& vendor) {
  std::string line(address);
  line += '\t';
  line += norvane::ToUtf8(mac);
  line += '\t';
  line += norvane::ToUtf8(vendor);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");

  std::vector<std::string_view> addresses;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!options_done && arg.size() > 1 && arg.front() == '-') {
      if (arg == "--") {
        options_done = true;
      } else if (arg == "-h" || arg == "--help") {
        std::fputs(kUsage, stdout);
        return kAllResolved;
      } else if (arg == "--version") {
        std::printf("norvane-cli %s\n", NORVANE_VERSION);
        return kAllResolved;
      } else {
        std::fprintf(stderr,
                     "norvane-cli: unknown option '%s'\n"
                     "Try 'norvane-cli --help' for more information.\n",
                     argv[i]);
        return kUsageError;
      }
      continue;
    }
    addresses.push_back(arg);
  }
  if (addresses.empty()) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }

  if (!norvane::LoadOUI(PrintTableError)) return norvane::kTableExitStatus;

  int status = kAllResolved;
  for (const std::string_view address : addresses) {
    const std::u16string mac = norvane::GetMAC(FromLocale(address));
    if (mac.empty() || mac == norvane::kQueryErrorText) status = kSomeFailed;
    PrintLine(address, mac, norvane::FindVendor(mac));
  }
  return status;
}
