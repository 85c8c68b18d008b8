// The drive link over loopback TCP against the call in process: one
// request's round trip (median and 99th percentile), and the scope
// streaming 8 channels every speed-loop period for 10 s of drive time with
// every frame arriving.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "axdrive/DriveServer.h"
#include "axdrive/Network.h"
#include "drivewire/WireLink.h"
#include "virtualdrive/PlantFile.h"
#include "virtualdrive/VirtualDrive.h"

namespace {

// axdrive's server on its own thread, lockstep, one axis of the example plant.
class LoopbackServer {
 public:
  LoopbackServer()
      : m_server({axdrive::AxisPlant{1, virtualdrive::ExamplePlant(), std::string(virtualdrive::ExamplePlantText())}},
                 drivewire::ClockMode::Lockstep, 1.0),
        m_network(m_server, {}, 1) {
    std::string error;
    m_network.ListenTcp("127.0.0.1", 0, m_port, error);
    m_thread = std::thread([this] { m_network.Run(false); });
  }
  ~LoopbackServer() {
    m_network.Stop();
    m_thread.join();
  }
  std::string Spec() const { return "tcp:127.0.0.1:" + std::to_string(m_port); }

 private:
  axdrive::DriveServer m_server;
  axdrive::Network m_network;
  std::uint16_t m_port = 0;
  std::thread m_thread;
};

void Percentiles(benchmark::State& state, std::vector<double>& us) {
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  state.counters["median_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

template <class Call>
void TimeEach(benchmark::State& state, Call call) {
  std::vector<double> us;
  us.reserve(1 << 16);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    call();
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  Percentiles(state, us);
}

void BM_ReadVariableInProcess(benchmark::State& state) {
  VirtualClock clock;
  virtualdrive::VirtualDrive drive(virtualdrive::ExamplePlant(), &clock);
  double value = 0.0;
  std::string error;
  TimeEach(state, [&] { benchmark::DoNotOptimize(drive.ReadVariable("MER", value, error)); });
}
BENCHMARK(BM_ReadVariableInProcess);

void BM_ReadVariableOverTcp(benchmark::State& state) {
  LoopbackServer server;
  std::string error;
  auto link = drivewire::WireLink::Connect(server.Spec(), {}, error);
  if (!link) {
    state.SkipWithError(error.c_str());
    return;
  }
  VirtualClock clock;
  link->SetClock(&clock);
  link->Restart(error);
  double value = 0.0;
  TimeEach(state, [&] { benchmark::DoNotOptimize(link->ReadVariable("MER", value, error)); });
}
BENCHMARK(BM_ReadVariableOverTcp);

// The analogue reference program runs until stopped; the host takes the
// drive's messages every 20 ms of drive time, as the test dialogs poll.
void BM_ScopeStreamOverTcp(benchmark::State& state) {
  LoopbackServer server;
  std::string error;
  auto link = drivewire::WireLink::Connect(server.Spec(), {}, error);
  if (!link) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::uint64_t samples = 0, gaps = 0, frames = 0;
  for (auto _ : state) {
    VirtualClock clock;
    link->SetClock(&clock);
    link->Restart(error);
    ScopeSettings scope;
    scope.variables = {"Motor_Current", "Current_Reference", "Voltage_Reference", "IA",
                       "IB",            "VDC",               "Motor_Speed",       "APOS"};
    scope.divider = 1;
    if (!link->StartScope(scope, error) || !link->StartProgram("Analogue_Reference_Test", nullptr, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    std::uint64_t expected = 0;
    std::vector<UnsolicitedMessage> messages;
    while (clock.Now() < 10.0) {
      clock.Advance(0.020);
      link->TakeUnsolicitedMessages(messages, error);
      for (const UnsolicitedMessage& message : messages) {
        std::span<const std::uint8_t> payload;
        if (!ScopeFramePayload(message, payload) || payload.size() < 8) continue;
        const std::uint64_t first = payload[0] | payload[1] << 8 | payload[2] << 16 |
                                    static_cast<std::uint64_t>(payload[3]) << 24;
        if (first != expected) ++gaps;
        const std::uint64_t n = (payload.size() - 8) / (4 * scope.variables.size());
        expected = first + n;
        samples += n;
        ++frames;
      }
    }
    link->StopProgram(error);
  }
  state.counters["samples_per_run"] = benchmark::Counter(static_cast<double>(samples) / state.iterations());
  state.counters["frames_per_run"] = benchmark::Counter(static_cast<double>(frames) / state.iterations());
  state.counters["index_gaps"] = static_cast<double>(gaps);
  state.counters["frames_lost"] = static_cast<double>(link->Counts().pushesLost);
}
BENCHMARK(BM_ScopeStreamOverTcp)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
