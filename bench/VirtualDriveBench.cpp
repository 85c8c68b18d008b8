// Simulated seconds per CPU second of the virtual drive with its current
// loop closed: the current tuning program holding a current step on the
// example plant (sensing noise included), its three variables logged every
// period. The drive is built once; each iteration simulates 10 ms more.
#include <benchmark/benchmark.h>

#include "axcore/Clock.h"
#include "virtualdrive/VirtualDrive.h"

namespace {

void CurrentLoopRun(benchmark::State& state) {
  constexpr double kChunk_s = 0.01;
  VirtualClock clock;
  virtualdrive::VirtualDrive drive(virtualdrive::ExamplePlant(), &clock);
  std::string error;
  drive.SetProgramVariable("Current_Controller_Tuning_Test", "In1", 4000, error);
  // 100000 points of one period: the program runs 5 simulated seconds.
  LoggerSettings logger{100000, 2, 1, {"Current_Reference", "Motor_Current", "Voltage_Reference"}};
  double now = 0.0;
  for (auto _ : state) {
    if (!drive.ProgramRunning()) {
      state.PauseTiming();
      drive.StartProgram("Current_Controller_Tuning_Test", &logger, error);
      state.ResumeTiming();
    }
    now += kChunk_s;
    drive.AdvanceTo(now);
  }
  // The counter is the speed-up on real time.
  state.counters["sim_s_per_cpu_s"] =
      benchmark::Counter(kChunk_s * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(CurrentLoopRun)->Unit(benchmark::kMicrosecond);

}  // namespace
