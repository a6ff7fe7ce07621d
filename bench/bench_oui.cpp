// Loading the shipped vendor table and looking addresses up in it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "oui.h"
#include "startup.h"

namespace {

// The shipped table lies beside the benchmark, as beside every executable.
const std::filesystem::path kTable =
    norvane::ProgramDirectory() / norvane::kTableFileName;

void LoadTable() {
  if (norvane::ReadTable(kTable, norvane::OUIList)) std::abort();
}

// Loading and the first lookup, which makes the index: all that stands
// between start-up and the first answer.
void BM_LoadOUI(benchmark::State& state) {
  for (auto _ : state) {
    // Start-up loads into an empty table: free the previous one untimed.
    state.PauseTiming();
    norvane::OUIList.clear();
    state.ResumeTiming();
    LoadTable();
    benchmark::DoNotOptimize(norvane::FindVendor(u"00-00-00-00-00-00"));
  }
  state.counters["lines"] = double(norvane::OUIList.size());
}
BENCHMARK(BM_LoadOUI)->Unit(benchmark::kMillisecond);

// An address in the block of the first or the last record of the table.
std::u16string Address(bool last) {
  LoadTable();
  const auto& table = norvane::OUIList;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const auto line = table[last ? table.size() - 1 - i : i];
    if (line.size() < 8 || line.front() == u'#') continue;
    std::u16string mac = line.substr(0, line.find(u' '));
    return mac + std::u16string(u"-00-00-00-00-00-00").substr(mac.size() - 8);
  }
  std::abort();
}

void Lookup(benchmark::State& state, const std::u16string& mac) {
  LoadTable();
  if (mac.starts_with(u"00-50-C2-7D-5") && norvane::FindVendor(mac).empty())
    std::abort();  // the 36-bit block must be there
  for (auto _ : state) benchmark::DoNotOptimize(norvane::FindVendor(mac));
}

void BM_FindVendorFirst(benchmark::State& s) { Lookup(s, Address(false)); }
void BM_FindVendorLast(benchmark::State& s) { Lookup(s, Address(true)); }
// An IAB block under 00-50-C2.
void BM_FindVendor36Bit(benchmark::State& s) {
  Lookup(s, u"00-50-C2-7D-50-01");
}
void BM_FindVendorMiss(benchmark::State& s) {
  Lookup(s, u"Error: Gagal memanggil SendARP()");
}
BENCHMARK(BM_FindVendorFirst)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindVendorLast)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindVendor36Bit)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindVendorMiss)->Unit(benchmark::kMicrosecond);

// Tables that were slow to load before: one line without CR LF (refused once
// read, as longer than a line may be), and short records in no order (sorted
// by prefix). The one grows linearly with the file, the other as the file
// times its logarithm.
void LoadMade(benchmark::State& state, const std::string& unit) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("norvane-bench-" + std::to_string(state.range(0)));
  {
    std::string bytes;
    for (std::size_t i = 0; bytes.size() < std::size_t(state.range(0)); ++i) {
      bytes += unit;
      // Short records in no order: a prefix from the counter, mixed.
      if (unit.empty()) {
        char line[16];
        std::snprintf(line, sizeof line, "%06X\r\n",
                      unsigned(i * 2654435761u) & 0xFFFFFF);
        bytes += line;
      }
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  norvane::VendorTable table;
  for (auto _ : state) {
    if (norvane::ReadTable(path, table).has_value() == unit.empty())
      std::abort();
    benchmark::DoNotOptimize(table.Find(u"00-0C-29-3A-4B-5C"));
  }
  state.SetComplexityN(state.range(0));
  std::filesystem::remove(path);
}
void BM_LoadOneLine(benchmark::State& s) {
  LoadMade(s, std::string(4096, 'x'));
}
void BM_LoadUnsorted(benchmark::State& s) { LoadMade(s, ""); }
BENCHMARK(BM_LoadOneLine)
    ->RangeMultiplier(4)
    ->Range(1 << 20, 16 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_LoadUnsorted)
    ->RangeMultiplier(4)
    ->Range(1 << 20, 16 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oNLogN);

}  // namespace

BENCHMARK_MAIN();
