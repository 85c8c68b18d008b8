// `drive run`: one test program on a fresh virtual drive, run to its end on
// a virtual clock polled every 20 ms as the test dialogs poll it.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Commands.h"
#include "axcore/Clock.h"
#include "virtualdrive/VirtualDrive.h"

namespace axhost {
namespace {

constexpr double kPoll_s = 0.02;
constexpr double kTimeLimit_s = 120.0;
// "MER" bits every waiting step of the tests checks, with their texts.
constexpr unsigned kWaitMask = 0x8002;
struct MerText {
  unsigned bit;
  const char* text;
};
constexpr MerText kMerTexts[] = {
    {1u << 1, "Drive / Motor shortcircuit protection triggered."},
    {1u << 3, "Drive / Motor control error protection triggered."},
    {1u << 6, "Drive / Motor stopped due to positive limit switch input triggered."},
    {1u << 7, "Drive / Motor stopped due to negative limit switch input triggered."},
    {1u << 15, "Drive / Motor ENABLE input is in DISABLED state."},
};

std::string Number17(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

struct Assignment {
  std::string argument;
  std::string name;
  double value = 0.0;
};

// The failure text of the first masked bit of "MER" that has one, or "".
std::string MerFailure(double mer) {
  if (!std::isfinite(mer) || mer < 0.0 || mer > 4294967295.0) return "the drive's error register reads " + Number17(mer);
  const unsigned bits = static_cast<unsigned>(mer) & kWaitMask;
  for (const MerText& entry : kMerTexts)
    if ((bits & entry.bit) != 0) return entry.text;
  return "";
}

}  // namespace

int RunDrive(const PluginModule& module, const std::string& driveSpec, const std::optional<std::string>& file,
             const std::string& program, const std::vector<std::string>& assignments, Io io) {
  // --- arguments first: nothing runs on a bad one.
  std::optional<std::string> plantFile;
  if (driveSpec.rfind("virtual:", 0) == 0 && driveSpec.size() > 8) {
    plantFile = driveSpec.substr(8);
  } else if (driveSpec != "virtual") {
    io.err << "error: --drive " << driveSpec << ": unknown drive (use virtual or virtual:PLANT)\n";
    return kExitBadInput;
  }
  std::vector<Assignment> values;
  for (const std::string& argument : assignments) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0) {
      io.err << "error: \"" << argument << "\": not an assignment VAR=VALUE\n";
      return kExitBadInput;
    }
    const std::string text = argument.substr(equals + 1);
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) {
      io.err << "error: \"" << argument << "\": the value is not a number\n";
      return kExitBadInput;
    }
    values.push_back({argument, argument.substr(0, equals), value});
  }
  virtualdrive::PlantParameters plant = virtualdrive::ExamplePlant();
  if (plantFile) {
    virtualdrive::PlantLoad load = virtualdrive::LoadPlantFile(*plantFile);
    if (!load.plant) {
      io.err << "error: " << load.error << '\n';
      return kExitBadInput;
    }
    plant = *load.plant;
  }
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;

  // --- a fresh drive with the setup's registers.
  VirtualClock clock;
  virtualdrive::VirtualDrive drive(plant, &clock);
  std::string error;
  if (!drive.LoadSetup(*setup, &error)) {
    io.err << "error: loading the setup into the drive: " << error << '\n';
    return kExitFailed;
  }
  const virtualdrive::ProgramSpec* spec = virtualdrive::FindProgram(program);
  for (const Assignment& assignment : values) {
    if (spec == nullptr) break;  // the drive reports the program below
    if (!drive.SetProgramVariable(program, assignment.name, assignment.value, error)) {
      io.err << "error: \"" << assignment.argument << "\": " << error << '\n';
      return kExitBadInput;
    }
  }
  if (!drive.StartProgram(program, nullptr, error)) {
    io.err << "error: " << error << '\n';
    return kExitFailed;
  }

  // --- poll as the tests do: "STARTED", then the axis; "MER" at each poll.
  std::string failure;
  bool finished = false;
  while (!finished && clock.Now() < kTimeLimit_s) {
    clock.Advance(kPoll_s);
    double started = 0.0, mer = 0.0;
    bool axisOn = false;
    if (!drive.GetProgramVariable(program, "STARTED", started, error) || !drive.ReadVariable("MER", mer, error) ||
        !drive.GetAxisOn(axisOn, error)) {
      failure = error;
      break;
    }
    failure = MerFailure(mer);
    if (!failure.empty()) break;
    finished = started != 0.0 && !axisOn;
  }
  if (failure.empty() && !finished)
    failure = "the program \"" + program + "\" did not finish within " + Number17(kTimeLimit_s) + " s";

  // --- what the program left behind.
  for (const virtualdrive::UserVariableSpec& variable : spec->variables) {
    double value = 0.0;
    if (!drive.GetProgramVariable(program, variable.name, value, error)) break;
    io.out << variable.name << '=' << Number17(value) << '\n';
    if (failure.empty() && value == virtualdrive::kNotDelivered)
      failure = "the program did not deliver \"" + std::string(variable.name) + "\"";
  }
  for (const std::string& name : drive.WrittenVariables()) {
    double value = 0.0;
    if (drive.ReadVariable(name, value, error)) io.out << name << '=' << Number17(value) << '\n';
  }
  if (!failure.empty()) {
    io.err << "error: " << failure << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace axhost
