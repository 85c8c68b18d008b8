// A whole commissioning of the example axis: `axhost commission` as the host
// runs it on the headless view and the virtual drive, every identification
// and tuning test through the dialogs, the passband choices and the setup
// written; with --report, the report as well.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>

#include "CommissionCommand.h"

namespace {

void Commission(benchmark::State& state) {
  PluginModule module;
  if (const std::string error = module.Load(AX_PLUGIN_PATH); !error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  const auto folder = std::filesystem::temp_directory_path() / "commission_bench";
  std::filesystem::create_directories(folder);
  axhost::CommissionOptions options;
  options.output = (folder / "commissioned.json").string();
  if (state.range(0) != 0) options.report = (folder / "report").string();
  for (auto _ : state) {
    std::ostringstream out, err;
    if (axhost::RunCommission(module, std::nullopt, options, {out, err}) != axhost::kExitOk) {
      state.SkipWithError(err.str().c_str());
      break;
    }
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(Commission)->Arg(0)->Arg(1)->ArgName("report")->Unit(benchmark::kMillisecond);

}  // namespace
