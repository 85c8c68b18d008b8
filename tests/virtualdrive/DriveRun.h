// Running programs on a virtual drive the way the test dialogs do: inputs
// written, program started, the drive polled every 20 ms of a virtual
// clock ("STARTED", then the axis, "MER" with the waiting mask 0x8002).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "EmbeddedExamples.h"
#include "support/TestSetup.h"
#include "axcore/Clock.h"
#include "axcore/SetupFile.h"
#include "virtualdrive/VirtualDrive.h"

namespace drive_run {

struct Outcome {
  bool finished = false;
  std::string failure;  // the text a test would show; empty when none
};

inline std::unique_ptr<CMC_Setup> ExampleSetup() { return testing_support::LoadExample(); }

// A drive on `plant` with the example setup (or `setup`) loaded.
struct Bench {
  explicit Bench(const virtualdrive::PlantParameters& plant, const CMC_Setup* setup = nullptr)
      : drive(plant, &clock) {
    auto example = ExampleSetup();
    drive.LoadSetup(setup != nullptr ? *setup : *example);
  }
  VirtualClock clock;
  virtualdrive::VirtualDrive drive;

  Outcome Run(const std::string& program, const std::map<std::string, double>& inputs,
              const LoggerSettings* logger = nullptr, double limit_s = 30.0) {
    Outcome outcome;
    std::string error;
    for (const auto& [name, value] : inputs)
      if (!drive.SetProgramVariable(program, name, value, error)) return {false, error};
    if (!drive.StartProgram(program, logger, error)) return {false, error};
    const double end = clock.Now() + limit_s;
    while (clock.Now() < end) {
      clock.Advance(0.02);
      double started = 0, mer = 0;
      bool on = false;
      if (!drive.GetProgramVariable(program, "STARTED", started, error) || !drive.ReadVariable("MER", mer, error) ||
          !drive.GetAxisOn(on, error))
        return {false, error};
      const unsigned bits = static_cast<unsigned>(mer) & 0x8002u;
      if (bits & 0x0002u) return {false, "Drive / Motor shortcircuit protection triggered."};
      if (bits & 0x8000u) return {false, "Drive / Motor ENABLE input is in DISABLED state."};
      if (started != 0 && !on) return {true, ""};
    }
    return {false, "timeout"};
  }

  double Output(const std::string& program, const std::string& name) {
    double value = 0;
    std::string error;
    drive.GetProgramVariable(program, name, value, error);
    return value;
  }
  double Variable(const std::string& name) {
    double value = 0;
    std::string error;
    drive.ReadVariable(name, value, error);
    return value;
  }
  std::vector<std::vector<double>> Log() {
    std::vector<std::vector<double>> points;
    std::string error;
    drive.UploadLog(points, error);
    return points;
  }
};

// The example plant without measurement noise.
inline virtualdrive::PlantParameters QuietPlant() {
  virtualdrive::PlantParameters plant = virtualdrive::ExamplePlant();
  plant.current_noise_A = 0.0;
  plant.voltage_noise_V = 0.0;
  return plant;
}

}  // namespace drive_run
