// Cost of the scale factors the host asks for on every conversion, against
// the floor of one name lookup.
#include <benchmark/benchmark.h>

#include "EmbeddedExamples.h"
#include "ScaleFactor.h"
#include "axcore/SetupFile.h"

namespace {

std::unique_ptr<CMC_Setup> Example() { return axcore::ParseSetup(LinearDriveExample(), "example").setup; }

void BM_FindParameter(benchmark::State& state) {
  auto setup = Example();
  for (auto _ : state) benchmark::DoNotOptimize(setup->FindParameter("EncRes"));
}
BENCHMARK(BM_FindParameter);

void BM_ScaleFactorMotorPosition(benchmark::State& state) {
  auto setup = Example();
  for (auto _ : state) benchmark::DoNotOptimize(ComputeScaleFactor(*setup, "m", "APOS_MT"));
}
BENCHMARK(BM_ScaleFactorMotorPosition);

void BM_ScaleFactorLastRow(benchmark::State& state) {
  auto setup = Example();
  for (auto _ : state) benchmark::DoNotOptimize(ComputeScaleFactor(*setup, "A/s", "IRATE"));
}
BENCHMARK(BM_ScaleFactorLastRow);

}  // namespace
