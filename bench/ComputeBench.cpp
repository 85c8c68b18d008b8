// Cost of what the host and the dialogs run on a whole setup: ComputeAllOptions
// through the loaded module, and the dialogs' normalisation (EncodeRegisters
// then DecodeRegisters), on the full example setup. The floor to compare
// with: one lookup of every name of the setup, which is what those calls
// touch at least once.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CodecDrivers.h"
#include "EmbeddedExamples.h"
#include "axcore/Diagnostics.h"
#include "axcore/PluginModule.h"
#include "axcore/SetupFile.h"

namespace {

const PluginModule& Module() {
  static PluginModule* module = [] {
    auto* m = new PluginModule;
    const std::string error = m->Load(AX_PLUGIN_PATH);
    if (!error.empty() || m->computeAllOptions == nullptr) {
      std::fprintf(stderr, "%s\n", error.empty() ? "the plug-in does not export ComputeAllOptions" : error.c_str());
      std::abort();
    }
    return m;
  }();
  return *module;
}

CMC_Setup Example() {
  auto load = axcore::ParseSetup(LinearDriveExample(), "example");
  Module().Attach(*load.setup);
  return *load.setup;
}

// The lookups the host would make once each: every parameter and every
// variable of the setup, by name.
void BM_LookupFloor(benchmark::State& state) {
  const CMC_Setup setup = Example();
  std::vector<std::string> parameters, variables;
  for (const auto& p : setup.Parameters()) parameters.push_back(p->GetName());
  for (const auto& v : setup.Variables()) variables.push_back(v->GetName());
  for (auto _ : state) {
    for (const std::string& name : parameters) benchmark::DoNotOptimize(setup.FindParameter(name));
    for (const std::string& name : variables) benchmark::DoNotOptimize(setup.FindVariable(name));
  }
  state.counters["names"] = static_cast<double>(parameters.size() + variables.size());
}
BENCHMARK(BM_LookupFloor);

// ComputeAllOptions reads only registers and writes what follows from them,
// so from the second call on it runs in steady state on one setup.
void BM_ComputeAllOptions(benchmark::State& state) {
  CMC_Setup setup = Example();
  const ComputeAllOptionsFn compute = Module().computeAllOptions;
  compute(&setup);
  for (auto _ : state) compute(&setup);
  axcore::TakeMissingNames();
}
BENCHMARK(BM_ComputeAllOptions);

// The same on fresh copies of the parsed setup, as the host runs it once on
// a setup it has just loaded. The copies are made in batches outside the
// timed part.
void BM_ComputeAllOptionsFresh(benchmark::State& state) {
  const CMC_Setup original = Example();
  const ComputeAllOptionsFn compute = Module().computeAllOptions;
  constexpr std::size_t kBatch = 64;
  std::vector<CMC_Setup> batch;
  std::size_t next = kBatch;
  for (auto _ : state) {
    if (next == kBatch) {
      state.PauseTiming();
      batch.assign(kBatch, original);
      next = 0;
      state.ResumeTiming();
    }
    compute(&batch[next++]);
  }
  axcore::TakeMissingNames();
}
BENCHMARK(BM_ComputeAllOptionsFresh);

// The pair is a normalisation: after the first pass the setup is its own
// result, so the pair is timed in steady state on one setup.
void BM_EncodeDecodePair(benchmark::State& state) {
  CMC_Setup setup = Example();
  EncodeRegisters(setup);
  DecodeRegisters(setup);
  for (auto _ : state) {
    EncodeRegisters(setup);
    DecodeRegisters(setup);
  }
  axcore::TakeMissingNames();
}
BENCHMARK(BM_EncodeDecodePair);

}  // namespace
