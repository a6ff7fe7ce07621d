// norvane-cli: for each IPv4 address, block or range on the command line, one
// line with the address, a tab, its hardware address (or the error text), a
// tab and the vendor of its network card from oui.ieee beside this program
// (with -n, a tab and the host's name).
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <clocale>
#include <csignal>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "cli.h"
#ifndef _WIN32
#include "watch.h"
#endif
#include "norvane_version.h"
#include "oui.h"
#include "startup.h"
#include "text.h"

namespace {

static_assert(norvane::kTableExitStatus == norvane::cli::kExitTrouble,
              "a missing table ends norvane-cli as any other trouble");

constexpr char kUsage[] =
    "Usage: norvane-cli [OPTION]... ADDRESS...\n"
    "       norvane-cli [OPTION]... -l\n"
    "       norvane-cli --watch [OPTION]... -l|ADDRESS...\n"
    "       norvane-cli --vendor MAC...\n"
    "Finds the hardware address of each IPv4 ADDRESS on the local network and\n"
    "the maker of its network card, and prints one line per address, in the\n"
    "order given: the address, a tab, the hardware address or the error text,\n"
    "a tab, and the vendor name (empty when unknown; \"(locally "
    "administered)\"\n"
    "or \"(group address)\" for such an address of no listed maker). The\n"
    "vendor table oui.ieee is read from the directory of this program.\n"
    "\n"
    "ADDRESS is an IPv4 address, a block (198.51.100.0/24, without its "
    "network\n"
    "and broadcast addresses) or a range (198.51.100.10-20 or\n"
    "198.51.100.10-198.51.100.20), each address read as a single one is\n"
    "(198.51.100.010 is .8). An address with text after it, or any other\n"
    "text, is queried as it is and fails.\n"
    "ADDRESS may be IPv6 too, printed in its canonical form: a link-local one\n"
    "with its interface (fe80::1%eth0, or -I), a block of up to 256\n"
    "(2001:db8::/120); they are resolved by the kernel in the same run.\n"
    "The addresses are resolved at once: unanswered ones wait together, not\n"
    "one after another, until the kernel's second probe could be answered\n"
    "(about 1.3 s); a single address waits the kernel's whole resolution "
    "time.\n"
    "With CAP_NET_RAW (as root) a scan of more than one address sends ARP\n"
    "requests of its own instead, twice for a silent address, and makes no\n"
    "neighbour entry; a single address still asks the kernel, cache first.\n"
    "\n"
    "  -l, --local        scan every IPv4 network directly attached to an\n"
    "                     interface that is up and does ARP, then the IPv6\n"
    "                     neighbours the kernel knows there and those that\n"
    "                     answer an ICMPv6 echo to ff02::1 (where a ping\n"
    "                     socket or CAP_NET_RAW allows one)\n"
    "  -I, --interface IFACE  only the network of IFACE for -l, and only the\n"
    "                     addresses reached through IFACE\n"
    "  -f, --file FILE    read addresses from FILE ('-' for standard input),\n"
    "                     one a line; '#' starts a comment\n"
    "      --large        allow a block or range larger than a /16\n"
    "      --found        print only the addresses that were resolved; exit\n"
    "                     status 0 when any was, 1 when none was\n"
    "      --json         one JSON object a line: address, mac (null when not\n"
    "                     resolved), vendor, kind (universal, local or "
    "group),\n"
    "                     and the neighbour state the answer came from (reply\n"
    "                     for a frame of the run's own) or the reason it\n"
    "                     failed; conflicts lists other answerers; IPv6 lines\n"
    "                     add family (inet6), a router's the state router\n"
    "      --csv          comma-separated values with a header line; the last\n"
    "                     column, mark, as the text form's last: disagreeing\n"
    "                     answers (\"conflict MAC...\", \"frame from MAC\")\n"
    "      --by-device    one line per hardware address, at the end of the\n"
    "                     run, in the order of its first address: the\n"
    "                     hardware address, its addresses joined by commas\n"
    "                     (spaces in CSV), the vendor; JSON: mac, addresses\n"
    "                     (objects of address, family, state...), vendor,\n"
    "                     kind. Failed addresses keep their own lines, as\n"
    "                     they come\n"
    "  -n, --names        also each resolved host's name, from reverse DNS,\n"
    "                     multicast DNS or NetBIOS (the first found in that\n"
    "                     order), asked at once, about a second at most;\n"
    "                     JSON adds name and name_source, CSV a name column\n"
    "  -v, --verbose      say on standard error why each address failed,\n"
    "                     which answered with a group address, and which had\n"
    "                     more than one answerer\n"
    "      --timeout SEC  wait at most SEC seconds for each answer\n"
    "                     (default: see above)\n"
    "      --rate N       send at most N ARP requests (frames) a second\n"
    "                     (default 1000)\n"
    "      --retry N      with CAP_NET_RAW, ask a silent address N times in\n"
    "                     all (default 2)\n"
    "      --vendor       look up hardware addresses (XX-XX-XX-XX-XX-XX,\n"
    "                     colons, 0011.2233.4455 or 12 hex digits) in the\n"
    "                     vendor table, without a query\n"
    "      --watch        scan, then keep watching and print one line per\n"
    "                     event until interrupted: new, changed (with the\n"
    "                     previous hardware address, and a warning), gone,\n"
    "                     back; from the kernel's neighbour events and a\n"
    "                     re-scan (Linux only)\n"
    "      --every SEC    with --watch, re-scan every SEC seconds (default "
    "60)\n"
    "      --known FILE   with --watch, the pairs known before, from the CSV "
    "or\n"
    "                     JSON lines norvane-cli wrote: no 'new' for them\n"
    "      --track N      with --watch, follow at most N addresses (default\n"
    "                     65536); answers for more are counted and told\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "Tabs, line breaks and other control characters in an address, vendor or\n"
    "name are written as escapes (\\t, \\n, \\xHH, \\uXXXX) in the text and\n"
    "CSV forms; CSV fields that a spreadsheet would run start with a quote "
    "(').\n"
    "On a terminal, a long run shows its progress, its rate and the time\n"
    "left on standard error.\n"
    "\n"
    "Exit status: 0 when every address was resolved (with --found: any;\n"
    "with --vendor: every one had a vendor; with --watch: stopped by SIGINT\n"
    "or SIGTERM), 1 when any was not (with --found: none was; with --watch:\n"
    "the kernel's events could not be read), 2 when oui.ieee is missing or\n"
    "unreadable, the command line is wrong or the output cannot be written.\n";

void PrintTableError(const norvane::TableError& error) {
  std::fprintf(stderr, "norvane-cli: %s\n",
               norvane::ToUtf8(error.message).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  norvane::OpenStandardStreams();
  std::setlocale(LC_ALL, "");
#ifdef _WIN32
  // The output is UTF-8 wherever it goes, with the same line ends as on
  // other systems: no newline translation.
  _setmode(_fileno(stdout), _O_BINARY);
  // A console shows the UTF-8 as such while the program runs.
  struct ConsoleCodePage {
    const UINT before = GetConsoleOutputCP();
    ConsoleCodePage() {
      if (before != 0) SetConsoleOutputCP(CP_UTF8);
    }
    ~ConsoleCodePage() {
      if (before != 0) SetConsoleOutputCP(before);
    }
  } console;
#endif
#ifdef SIGPIPE
  // A closed pipe is a write error to report, not a reason to die silently.
  std::signal(SIGPIPE, SIG_IGN);
#endif

  const auto parsed = norvane::cli::ParseArguments(
      std::vector<std::string>(argv + 1, argv + argc), stdin,
      norvane::LocalInterfaces, norvane::SystemPlatform(),
#ifdef _WIN32
      nullptr);
#else
      norvane::EchoAllNodes);
#endif
  if (const auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr,
                 "norvane-cli: %s\n"
                 "Try 'norvane-cli --help' for more information.\n",
                 error->c_str());
    return norvane::cli::kExitTrouble;
  }
  const auto& options = std::get<norvane::cli::Options>(parsed);
  if (options.help || options.version) {
    if (options.help) {
      std::fputs(kUsage, stdout);
    } else {
      std::printf("norvane-cli %s\n", NORVANE_VERSION);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::perror("norvane-cli: cannot write the output");
      return norvane::cli::kExitTrouble;
    }
    return norvane::cli::kExitAll;
  }

  if (!norvane::LoadOUI(PrintTableError)) return norvane::kTableExitStatus;

  if (options.vendor) {
    return norvane::cli::LookUpVendors(options, stdout, stderr);
  }
#ifndef _WIN32
  if (options.watch) {
    std::string error;
    const auto system =
        norvane::cli::SystemWatch(options.resolve.interface_name, error);
    if (!system) {
      std::fprintf(stderr, "norvane-cli: %s\n", error.c_str());
      return norvane::cli::kExitNotAll;
    }
    return norvane::cli::Watch(options, stdout, stderr, *system);
  }
#endif
  return norvane::cli::Scan(options, stdout, stderr, isatty(fileno(stderr)));
}
