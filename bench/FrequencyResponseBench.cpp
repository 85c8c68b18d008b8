// A whole frequency-response run of the speed loop: `axhost fra speed` as
// the host runs it on the headless view and the virtual drive (the
// alignment, the PRBS program, the upload, the Welch spectra, the model's
// curves, the resonance search and the notch's margins), on the example
// and on the resonant plant; and the commissioning of the resonant plant,
// whose frequency-response step places a notch and measures the loop again.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>

#include "CommissionCommand.h"
#include "FraCommand.h"

namespace {

const char* const kPlants[] = {"virtual", "virtual:" AX_EXAMPLES_DIR "/plant-resonant.json"};

void FrequencyResponse(benchmark::State& state) {
  PluginModule module;
  if (const std::string error = module.Load(AX_PLUGIN_PATH); !error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  axhost::FraOptions options;
  options.driveSpec = kPlants[state.range(0)];
  for (auto _ : state) {
    std::ostringstream out, err;
    if (axhost::RunFra(module, "speed", std::nullopt, options, {out, err}) != axhost::kExitOk) {
      state.SkipWithError(err.str().c_str());
      break;
    }
  }
}
BENCHMARK(FrequencyResponse)->Arg(0)->Arg(1)->ArgName("resonant")->Unit(benchmark::kMillisecond);

void CommissionResonant(benchmark::State& state) {
  PluginModule module;
  if (const std::string error = module.Load(AX_PLUGIN_PATH); !error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  const auto folder = std::filesystem::temp_directory_path() / "fra_bench";
  std::filesystem::create_directories(folder);
  axhost::CommissionOptions options;
  options.output = (folder / "commissioned.json").string();
  options.driveSpec = kPlants[1];
  for (auto _ : state) {
    std::ostringstream out, err;
    if (axhost::RunCommission(module, std::nullopt, options, {out, err}) != axhost::kExitOk) {
      state.SkipWithError(err.str().c_str());
      break;
    }
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(CommissionResonant)->Unit(benchmark::kMillisecond);

}  // namespace
