// Times GetMAC for one address, as the system resolves it.
//
//   bench_arp_query LABEL ADDRESS RUNS [COMMAND]
//
// COMMAND, when given, runs through the shell before each query (to flush
// the neighbour cache, say) and is not timed. Prints one line: the label,
// the last result, the number of runs and the median, minimum and maximum
// time of a query in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mac.h"
#include "oui.h"
#include "text.h"

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5 || std::atoi(argv[3]) < 1) {
    std::fprintf(stderr, "usage: %s LABEL ADDRESS RUNS [COMMAND]\n", argv[0]);
    return 2;
  }
  const std::string address = argv[2];
  const std::u16string text(address.begin(), address.end());
  const int runs = std::atoi(argv[3]);

  std::vector<double> times;
  std::u16string result;
  for (int i = 0; i < runs; ++i) {
    if (argc == 5 && std::system(argv[4]) != 0) {
      std::fprintf(stderr, "command failed: %s\n", argv[4]);
      return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    result = norvane::GetMAC(text);
    const std::chrono::duration<double, std::milli> took =
        std::chrono::steady_clock::now() - start;
    times.push_back(took.count());
  }
  std::sort(times.begin(), times.end());
  std::printf("%-24s %-33s %5d %10.3f %10.3f %10.3f\n", argv[1],
              norvane::ToUtf8(result).c_str(), runs, times[times.size() / 2],
              times.front(), times.back());
  return 0;
}
