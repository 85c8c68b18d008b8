// `drive run`: one test program on a fresh virtual drive, run to its end on
// a virtual clock polled every 20 ms as the test dialogs poll it. The run
// goes the host's own way: the program's descriptor from the plug-in's
// resources, its user variables checked against it, the launch, and "MER"
// read through the setup's drive variable.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "Commands.h"
#include "DriveChoice.h"
#include "FeatureProbes.h"
#include "Scales.h"
#include "TextTable.h"
#include "axcore/Clock.h"
#include "axcore/CoffFormat.h"
#include "axcore/Comm.h"
#include "axcore/Diagnostics.h"
#include "axcore/MessageText.h"
#include "axcore/TestPrograms.h"
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

std::string Number17(double value) { return FormatNumber(value, 17); }

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

// Polls the program `descriptor` launched as the tests do, every 20 ms of
// `clock`: "STARTED", then the axis; "MER" at each poll. "" when it
// finished, else why not.
std::string PollToEnd(CMC_CoffFormat& descriptor, CMC_Variable& mer, VirtualClock& clock) {
  std::string failure, error;
  bool finished = false;
  while (!finished && clock.Now() < kTimeLimit_s) {
    clock.Advance(kPoll_s);
    double started = 0.0;
    int axisOn = 0;
    if (!axcore::GetUserVariableValue(descriptor, "STARTED", started, error)) return error;
    if (!mer.ReadFromChip()) return CMC_Comm::GetLastErrorText();
    failure = MerFailure(mer.GetValueInBaseUnit());
    if (!failure.empty()) return failure;
    if (started == 0.0) continue;
    if (!axcore::GetAxisOn(axisOn, error)) return error;
    finished = axisOn == 0;
  }
  if (!finished)
    return "the program \"" + descriptor.GetProgramName() + "\" did not finish within " + Number17(kTimeLimit_s) +
           " s";
  return "";
}

// The plug-in's descriptor of test program `program`, read; its error
// names what went wrong when it cannot be.
bool ReadDescriptor(const PluginModule& module, const std::string& program, CMC_CoffFormat& descriptor) {
  descriptor.SetPath(
      (std::filesystem::path(module.GetPath()).parent_path() / "resources" / "programs" / (program + ".json")).string());
  return descriptor.ReadCoff();
}

}  // namespace

int RunDrive(const PluginModule& module, const std::string& driveSpec, const std::optional<std::string>& file,
             const std::string& program, const std::vector<std::string>& assignments, Io io,
             const drivewire::LinkOptions& link) {
  // --- arguments first: nothing runs on a bad one, and no file is looked
  // at for a program name that is not a name (it names a descriptor file).
  if (!IsPlainName(program)) {
    PrintError(io.err, axcore::QuoteForMessage(program) +
                           ": not a test program name (letters, digits and underscores only)");
    return kExitBadInput;
  }
  int chosenStatus = kExitOk;
  const auto chosen = ChooseDrive(driveSpec, link, io, chosenStatus);
  if (!chosen) return chosenStatus;
  std::vector<Assignment> values;
  for (const std::string& argument : assignments) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos || !IsPlainName(argument.substr(0, equals))) {
      PrintError(io.err, axcore::QuoteForMessage(argument) +
                             ": not an assignment VAR=VALUE (VAR of letters, digits and underscores)");
      return kExitBadInput;
    }
    const std::string text = argument.substr(equals + 1);
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) {
      PrintError(io.err, axcore::QuoteForMessage(argument) + ": the value is not a number");
      return kExitBadInput;
    }
    values.push_back({argument, argument.substr(0, equals), value});
  }
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;

  // --- the program as the plug-in knows it: its descriptor.
  CMC_CoffFormat descriptor;
  if (!ReadDescriptor(module, program, descriptor)) {
    PrintError(io.err, axcore::QuoteForMessage(program) + ": no such test program (" + descriptor.GetLastError() + ")");
    return kExitBadInput;
  }

  // --- a fresh drive with the setup's registers, connected to the host.
  VirtualClock clock;
  std::string error;
  const std::unique_ptr<OpenedDrive> drive = chosen->Open(&clock, error);
  if (!drive) {
    PrintError(io.err, error);
    return kExitFailed;
  }
  if (!drive->LoadSetup(*setup, error)) {
    PrintError(io.err, "loading the setup into the drive: " + error);
    return kExitFailed;
  }
  ScopedDriveLink connected(&drive->Link());
  for (const Assignment& assignment : values) {
    if (!axcore::SetUserVariableValue(descriptor, assignment.name, assignment.value, error)) {
      PrintError(io.err, axcore::QuoteForMessage(assignment.argument) + ": " + error);
      return kExitBadInput;
    }
  }
  if (!axcore::ExecuteCode(descriptor.GetProgramName(), &descriptor, nullptr)) {
    PrintError(io.err, CMC_Comm::GetLastErrorText());
    return kExitFailed;
  }

  // --- poll as the tests do: "STARTED", then the axis; "MER" at each poll.
  CMC_Variable* mer = setup->FindVariable("MER", 1);
  if (mer == nullptr) {
    PrintMissingNames(io.err);
    PrintError(io.err, "the setup has no drive variable \"MER\" to check the drive's errors with");
    return kExitBadInput;
  }
  std::string failure = PollToEnd(descriptor, *mer, clock);

  // --- what the program left behind.
  for (const CMC_CoffFormat::UserVariable& variable : descriptor.GetVariables()) {
    double value = 0.0;
    if (!axcore::GetUserVariableValue(descriptor, variable.name, value, error)) break;
    io.out << variable.name << '=' << Number17(value) << '\n';
    if (failure.empty() && value == virtualdrive::kNotDelivered)
      failure = "the program did not deliver \"" + variable.name + "\"";
  }
  for (const std::string& name : drive->WrittenVariables()) {
    double value = 0.0;
    if (drive->Link().ReadVariable(name, value, error)) io.out << name << '=' << Number17(value) << '\n';
  }
  if (chosen->ReportsLink()) io.err << chosen->LinkReport() << '\n';
  if (!failure.empty()) {
    PrintError(io.err, failure);
    return kExitFailed;
  }
  return kExitOk;
}

std::optional<double> MeasureSupply(const PluginModule& module, const CMC_Setup& setup, const ChosenDrive& chosen) {
  // A setup that lacks a name the measurement needs goes without it; the
  // test that follows reports what it lacks itself.
  axcore::QuietLookup quiet;
  // A drive of its own, so that the run the command makes next starts on a
  // drive as fresh as without the measurement.
  CMC_Setup measured(setup);
  CMC_CoffFormat descriptor;
  if (!ReadDescriptor(module, "VDC_Detection_Test", descriptor)) return std::nullopt;
  VirtualClock clock;
  std::string error;
  const std::unique_ptr<OpenedDrive> drive = chosen.Open(&clock, error);
  if (!drive || !drive->LoadSetup(measured, error)) return std::nullopt;
  ScopedDriveLink connected(&drive->Link());
  CMC_Variable* mer = FindVariableQuiet(measured, "MER");
  if (mer == nullptr || !axcore::ExecuteCode(descriptor.GetProgramName(), &descriptor, nullptr) ||
      !PollToEnd(descriptor, *mer, clock).empty())
    return std::nullopt;
  // The converter's reading of the supply, in counts of its full scale.
  double reading = 0.0;
  if (!drive->Link().ReadVariable("var_u2", reading, error)) return std::nullopt;
  const double volts = reading / MeasuredVoltageScale(measured);
  if (!std::isfinite(volts) || !(volts > 0.0)) return std::nullopt;
  return volts;
}

}  // namespace axhost
