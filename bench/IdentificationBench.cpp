// CPU time of a whole identification on the headless view: the seven drive
// tests one after another through their dialogs, each started, run to its
// end (the two that run until stopped for one second of drive time, the
// mover moved by hand for the encoder), closed keeping its new values, on
// the example setup and the example plant. The drive runs on the virtual
// clock, so this is the simulation and the dialogs' own work. Beside it, one
// run of each controller tuning test: the current loop tuned and stepped
// once (100 points drawn with the model), the angle search (2000 points),
// the speed loop tuned and run through one profile, logged or on the scope.
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "DetectEncoderResolution.h"
#include "EmbeddedExamples.h"
#include "ScaleFactor.h"
#include "TestAngle.h"
#include "TestSpeedTuning.h"
#include "TestAnalogueRef.h"
#include "TestCurrent.h"
#include "TestEncoderConnections.h"
#include "TestPhaseConnections.h"
#include "TestRL.h"
#include "TestVdcDetection.h"
#include "TotalMassTest.h"
#include "axcore/Comm.h"
#include "axcore/HeadlessPlatform.h"
#include "axcore/Resources.h"
#include "axcore/SetupFile.h"
#include "virtualdrive/Bench.h"
#include "virtualdrive/VirtualDrive.h"

namespace {

constexpr const char* kRunToEnd = "click 10000\nuntil-idle 60000\nanswer yes\nclick 2\n";

struct Step {
  std::function<std::unique_ptr<CMC_TestDlg>(CMC_Setup*)> make;
  const char* script;
};

template <typename Test>
std::unique_ptr<CMC_TestDlg> Make(CMC_Setup* setup) {
  return std::make_unique<Test>(setup);
}

const Step kSteps[] = {
    {Make<CTestVdcDetection>, kRunToEnd},
    {Make<CTestPhaseConnections>, kRunToEnd},
    {Make<CTestRL>, kRunToEnd},
    {Make<CTestEncoderConnections>, "click 10000\nmove 2 250\nmove -2 250\nwait 500\nclick 10000\nuntil-idle 5000\nclick 2\n"},
    {Make<CDetectEncoderResolution>, kRunToEnd},
    {Make<CTotalMassTest>, kRunToEnd},
    {Make<CTestAnalogueRef>, "click 10000\nwait 1000\nclick 10000\nuntil-idle 5000\nclick 2\n"},
};

const Step kTuningSteps[] = {
    {Make<CTestCurrent>, "tab 1300 1\nclick 3149\nclick 10000\nuntil-idle 60000\nclick 2\n"},
    {Make<CTestAngle>, "tab 1300 1\nclick 10000\nuntil-idle 60000\nclick 2\n"},
    // The speed loop tuned at 150 rad/s and one logged profile (2000 points
    // drawn with the model), then one scope sweep, then a polling plot of
    // repeated cycles for one second.
    {Make<CTestSpeedTuning>, "tab 1300 1\nunit 1380 rad/s\ntype 1379 150\nclick 1390\nclick 10000\nuntil-idle "
                             "60000\nclick 2\n"},
    {Make<CTestSpeedTuning>, "tab 1300 1\nunit 1380 rad/s\ntype 1379 150\nclick 1390\nradio 1369\nclick "
                             "10000\nuntil-idle 60000\nclick 2\n"},
};

// One test through its dialog on a drive of its own; 1 when it passed.
int RunStep(CMC_Setup& setup, const Step& step) {
  std::string error;
  std::ostringstream out;
  auto lines = axcore::ParseScript(step.script, error);
  axcore::ScriptedUser user(std::move(*lines), out);
  axcore::HeadlessPlatform platform(&user);
  virtualdrive::VirtualDrive drive(virtualdrive::ExamplePlant(), &platform);
  drive.LoadSetup(setup);
  ScopedDriveLink connected(&drive);
  user.SetBenchHandler(virtualdrive::BenchHandlerFor(drive));
  axcore::InstallPlatform(&platform);
  auto dialog = step.make(&setup);
  dialog->DoModal();
  const int passed = dialog->GetTestResult() == 1 ? 1 : 0;
  axcore::InstallPlatform(nullptr);
  return passed;
}

std::unique_ptr<CMC_Setup> Example() {
  auto setup = std::move(axcore::ParseSetup(LinearDriveExample(), "example").setup);
  setup->SetScaleFunctions(ModelScaleFunctions());
  return setup;
}

void SevenIdentificationTests(benchmark::State& state) {
  axcore::RegisterResourceFolder(AX_RESOURCES_DIR);
  int passed = 0;
  for (auto _ : state) {
    auto setup = Example();
    for (const Step& step : kSteps) passed += RunStep(*setup, step);
  }
  axcore::WithdrawResourceFolder(AX_RESOURCES_DIR);
  state.counters["tests_passed_per_run"] =
      benchmark::Counter(static_cast<double>(passed) / static_cast<double>(state.iterations()));
}

// Argument 0: the current loop, 1: the electric angle, 2: the speed loop
// with the data logger, 3: the speed loop with the scope.
void TuningTest(benchmark::State& state) {
  axcore::RegisterResourceFolder(AX_RESOURCES_DIR);
  const Step& step = kTuningSteps[state.range(0)];
  int passed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto setup = Example();
    state.ResumeTiming();
    passed += RunStep(*setup, step);
  }
  axcore::WithdrawResourceFolder(AX_RESOURCES_DIR);
  state.counters["passed"] = benchmark::Counter(static_cast<double>(passed) / static_cast<double>(state.iterations()));
}
BENCHMARK(TuningTest)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(SevenIdentificationTests)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
