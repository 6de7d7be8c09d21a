// Micro-benchmark of the D demangler over D names taken from real linker maps (d_names.txt, one
// per line; its header says how they were made). Reports names per second; the classifier, which
// calls demangle once per symbol, gets its own benchmark below.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "demangle.h"
#include "dsym.h"

namespace {

const std::vector<std::string>& dNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> lines;
    std::ifstream in(VORLITH_BENCH_NAMES);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line[0] != '#')
        lines.push_back(line);
    }
    if (lines.empty())
      std::fprintf(stderr, "no names in %s\n", VORLITH_BENCH_NAMES);
    return lines;
  }();
  return names;
}

// The classifier's way: a fresh string per name.
void demangleToString(benchmark::State& state) {
  const auto& names = dNames();
  for (auto _ : state) {
    for (const std::string& name : names)
      benchmark::DoNotOptimize(vorlith::demangle(name));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * names.size()));
}
BENCHMARK(demangleToString);

// One lent buffer for all names: nothing allocated once it is large enough.
void demangleIntoBuffer(benchmark::State& state) {
  const auto& names = dNames();
  std::vector<char> buffer;
  for (auto _ : state) {
    for (const std::string& name : names) {
      benchmark::DoNotOptimize(vorlith::demangle(name, buffer).data());
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * names.size()));
}
BENCHMARK(demangleIntoBuffer);

// ---- Classifier --------------------------------------------------------------------------
// The classifier over the same names: expansion, demangling and cutting into segments.
void classify(benchmark::State& state) {
  const auto& names = dNames();
  vorlith::Classifier classifier{vorlith::Settings{}};
  for (auto _ : state) {
    for (const std::string& name : names) {
      benchmark::DoNotOptimize(classifier.classify(name));
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * names.size()));
}
// The same under the modern rules: the current-ABI demangler first.
void classifyModern(benchmark::State& state) {
  const auto& names = dNames();
  vorlith::Classifier classifier{vorlith::readingSettings(true)};
  for (auto _ : state) {
    for (const std::string& name : names) {
      benchmark::DoNotOptimize(classifier.classify(name));
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * names.size()));
}
BENCHMARK(classifyModern);

BENCHMARK(classify);

}  // namespace

BENCHMARK_MAIN();
