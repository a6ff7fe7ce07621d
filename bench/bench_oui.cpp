// Loading the shipped vendor table and looking prefixes up in it.
#include <benchmark/benchmark.h>

#include "oui.h"

namespace {

// The shipped table lies beside the benchmark, as beside every executable.
const std::filesystem::path kTable =
    norvane::ProgramDirectory() / norvane::kTableFileName;

void LoadTable() {
  if (norvane::ReadTable(kTable, norvane::OUIList)) std::abort();
}

void BM_LoadOUI(benchmark::State& state) {
  for (auto _ : state) {
    // Start-up loads into an empty list: free the previous one untimed.
    state.PauseTiming();
    std::vector<std::u16string>().swap(norvane::OUIList);
    state.ResumeTiming();
    LoadTable();
    benchmark::DoNotOptimize(norvane::OUIList.data());
  }
  state.counters["lines"] = double(norvane::OUIList.size());
}
BENCHMARK(BM_LoadOUI)->Unit(benchmark::kMillisecond);

// The first and the last record of the table, and a prefix it lacks.
std::u16string Record(bool last) {
  LoadTable();
  const auto& list = norvane::OUIList;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto& line = last ? list[list.size() - 1 - i] : list[i];
    if (line.size() >= 8 && line.front() != u'#') return line.substr(0, 8);
  }
  std::abort();
}

void Lookup(benchmark::State& state, const std::u16string& mac) {
  LoadTable();
  for (auto _ : state) benchmark::DoNotOptimize(norvane::FindVendor(mac));
}

void BM_FindVendorFirst(benchmark::State& s) { Lookup(s, Record(false)); }
void BM_FindVendorLast(benchmark::State& s) { Lookup(s, Record(true)); }
void BM_FindVendorMiss(benchmark::State& s) {
  Lookup(s, u"Error: Gagal memanggil SendARP()");
}
BENCHMARK(BM_FindVendorFirst)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindVendorLast)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindVendorMiss)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
