// `axhost design current|speed|position`: what the Tune button of a loop's
// tuning test does, shown on the command line. The design places the poles
// from the loop's passband and damping, the gains are encoded into their
// mantissa and shift registers and decoded back, so the user sees both the
// designed gains and the gains the drive will actually run with.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "CodecSteps.h"
#include "Commands.h"
#include "TextTable.h"
#include "ControllerDesign.h"
#include "LoopMargins.h"
#include "LoopResponse.h"
#include "axcore/MessageText.h"
#include "axcore/SetupFile.h"

namespace axhost {
namespace {

struct GainRegisters {
  const char* gain;
  const char* mantissa;
  const char* shift;
  double ControllerDesignResult::*designed;
};

struct LoopTuning {
  std::string_view loop;
  const char* passband;
  const char* damping;
  int (*design)(CMC_Setup&, ControllerDesignResult*);
  std::span<const GainRegisters> gains;  // in the order they are shown
  // The Tune button's order of codec steps after the design.
  std::span<const char* const> encodings;
  std::span<const char* const> decodings;
};

constexpr GainRegisters kCurrentGains[] = {{"Kp_C_scl", "KPI", "SFTKPI", &ControllerDesignResult::kp},
                                           {"Ki_C_scl", "KII", "SFTKII", &ControllerDesignResult::ki}};
constexpr const char* kCurrentEncodings[] = {"KPI", "KII", "SFTKPI", "SFTKII"};
constexpr const char* kCurrentDecodings[] = {"Ki_C_scl", "Kp_C_scl"};

constexpr GainRegisters kSpeedGains[] = {{"Kp_S_scl", "KPS", "SFTKPS", &ControllerDesignResult::kp},
                                         {"Ki_S_scl", "KIS", "SFTKIS", &ControllerDesignResult::ki}};
constexpr const char* kSpeedEncodings[] = {"KPS", "KIS", "SFTKPS", "SFTKIS"};
constexpr const char* kSpeedDecodings[] = {"Ki_S_scl", "Kp_S_scl"};

constexpr GainRegisters kPositionGains[] = {{"Kp_P_scl", "KPP", "SFTKPP", &ControllerDesignResult::kp},
                                            {"Ki_P_scl", "KIP", "SFTKIP", &ControllerDesignResult::ki},
                                            {"Kd_P_scl", "KDP", "SFTKDP", &ControllerDesignResult::kd}};
constexpr const char* kPositionEncodings[] = {"SFTKPP", "KPP", "SFTKIP", "KIP", "SFTKDP", "KDP"};
constexpr const char* kPositionDecodings[] = {"Ki_P_scl", "Kp_P_scl", "Kd_P_scl"};

const LoopTuning kLoops[] = {
    {"current", "PB_C", "Dump_C", DesignCurrentController, kCurrentGains, kCurrentEncodings, kCurrentDecodings},
    {"speed", "PB_S", "Dump_S", DesignSpeedController, kSpeedGains, kSpeedEncodings, kSpeedDecodings},
    {"position", "PB_P", "Dump_P", DesignPositionController, kPositionGains, kPositionEncodings, kPositionDecodings},
};

const LoopTuning* FindLoop(std::string_view loop) {
  for (const LoopTuning& tuning : kLoops)
    if (tuning.loop == loop) return &tuning;
  return nullptr;
}

std::string Number(double value) { return FormatNumber(value, 7); }

const char* Describe(ControllerModel model) {
  switch (model) {
    case ControllerModel::CurrentPolePlacement:
      return "current controller: PI on the R-L winding, poles placed by passband and damping";
    case ControllerModel::CurrentFastWinding:
      return "current controller: winding faster than four current-loop periods (L/R <= 4 Ts_C), "
             "gains from L/R and Ts_C";
    case ControllerModel::Speed:
      return "speed controller: PI on the moving mass, poles placed by passband and damping";
    case ControllerModel::PositionOverSpeedLoop:
      return "position controller: PI around the closed speed loop (PositionControlType 1), no derivative";
    case ControllerModel::PositionPid:
      return "position controller: PID on the moving mass driving the current reference";
  }
  return "";
}

// The current loop runs at Ts_C; the speed and position controllers at
// their own period T (Ts_S, or Ts_C in the fast loop).
const char* PeriodName(ControllerModel model) {
  const bool current = model == ControllerModel::CurrentPolePlacement || model == ControllerModel::CurrentFastWinding;
  return current ? "Ts_C" : "T";
}


// The design places continuous poles; the drive samples, computes for one
// period and holds the voltage. What the held gains give there is what the
// user will see in the current tuning test.
void PrintPredictedCurrentStep(const CMC_Setup& setup, std::ostream& out) {
  constexpr int kDelayPeriods = 1;
  SampledLoopResponse response;
  if (!PredictCurrentLoop(setup, kDelayPeriods, 4000, response)) return;
  out << "\npredicted on the drive (sampled every Ts_C, voltage applied one period after its sample):\n";
  if (!response.stable) {
    out << "  unstable: the sampling and the computation delay leave the loop no phase margin; lower the passband\n";
    return;
  }
  PrintTable(out, {{"  step overshoot", Number(response.overshoot * 100.0) + " %"},
                   {"  rise 10-90 %", Number(response.rise_s * 1e6) + " µs"},
                   {"  bandwidth -3 dB", response.bandwidth_Hz > 0.0 ? Number(response.bandwidth_Hz) + " Hz"
                                                                      : "above the Nyquist frequency"}});
}

// The margins of the loop with the held gains, as the drive runs it: the
// other loops' gains are the setup's as they stand.
void PrintMargins(const CMC_Setup& setup, const LoopTuning& tuning, std::ostream& out) {
  const TunedLoop loop = tuning.loop == "current" ? TunedLoop::Current
                         : tuning.loop == "speed" ? TunedLoop::Speed
                                                  : TunedLoop::Position;
  const LoopMargins m = ComputeLoopMargins(setup, loop);
  if (!m.valid) return;
  out << "\nmargins on the drive (open loop broken at the controller's output, sampled every "
      << Number(m.period_s * 1e6) << " µs, inner loops and filter slots included):\n";
  if (!m.stable) {
    out << "  unstable: the closed loop has a pole outside the unit circle; lower the passband\n";
    return;
  }
  auto decibels = [](double x) { return std::isfinite(x) ? Number(x) + " dB" : std::string("unlimited"); };
  std::vector<std::vector<std::string>> rows{
      {"  crossover", m.crossover_rad_s > 0.0 ? Number(m.crossover_rad_s) + " rad/s (" +
                                                    Number(m.crossover_rad_s / (2.0 * std::numbers::pi)) + " Hz)"
                                              : "none"},
      {"  phase margin", std::isfinite(m.phaseMargin_deg) ? Number(m.phaseMargin_deg) + " deg" : "unlimited"},
      {"  gain margin", decibels(m.gainMargin_dB) +
                            (m.gainMarginAt_rad_s > 0.0 ? " at " + Number(m.gainMarginAt_rad_s) + " rad/s" : "")}};
  if (std::isfinite(m.gainReductionMargin_dB))
    rows.push_back({"  gain reduction margin",
                    decibels(m.gainReductionMargin_dB) + " at " + Number(m.gainReductionMarginAt_rad_s) + " rad/s"});
  rows.push_back({"  sensitivity peak", Number(m.sensitivityPeak_dB) + " dB at " + Number(m.sensitivityPeakAt_rad_s) +
                                            " rad/s"});
  PrintTable(out, rows);
}

void PrintReport(const CMC_Setup& setup, const LoopTuning& tuning, const ControllerDesignResult& design,
                 const std::vector<double>& stored, std::ostream& out) {
  const CMC_Parameter* passband = setup.FindParameter(tuning.passband);
  std::string passbandText = Number(design.passband_rad_s) + ' ' + passband->GetUnit();
  if (std::string_view(passband->GetUnit()) == "rad/s")
    passbandText += " (" + Number(design.passband_rad_s / (2.0 * std::numbers::pi)) + " Hz)";
  std::string dampingText = Number(design.damping);
  if (design.model == ControllerModel::CurrentFastWinding) dampingText += " (not used)";

  out << Describe(design.model) << '\n';
  PrintTable(out, {{"passband", std::string(tuning.passband) + " = " + passbandText},
                   {"damping", std::string(tuning.damping) + " = " + dampingText},
                   {"period", std::string(PeriodName(design.model)) + " = " + Number(design.period_s * 1e6) + " µs"}});
  out << '\n';

  std::vector<std::vector<std::string>> rows{{"gain", "designed", "mantissa", "shift", "held"}};
  for (const GainRegisters& gain : tuning.gains) {
    auto value = [&](const char* name) { return setup.FindParameter(name)->GetValueInBaseUnit(); };
    rows.push_back({gain.gain, Number(design.*gain.designed),
                    std::string(gain.mantissa) + " = " + Number(value(gain.mantissa)),
                    std::string(gain.shift) + " = " + Number(value(gain.shift)), Number(value(gain.gain))});
  }
  PrintTable(out, rows);

  // A designed gain outside its parameter's range was limited before it was
  // encoded; the user should know the registers do not hold the design.
  for (std::size_t i = 0; i < tuning.gains.size(); ++i) {
    const GainRegisters& gain = tuning.gains[i];
    if (stored[i] != design.*gain.designed)
      out << "note: " << gain.gain << " designed as " << Number(design.*gain.designed) << " was limited to "
          << Number(stored[i]) << " by its range\n";
  }
  if (tuning.loop == "current") PrintPredictedCurrentStep(setup, out);
  PrintMargins(setup, tuning, out);
}

}  // namespace

int RunDesign(const PluginModule& module, const std::optional<std::string>& file, const std::string& loop,
              const std::optional<std::string>& output, Io io) {
  const LoopTuning* tuning = FindLoop(loop);
  if (tuning == nullptr) {
    PrintError(io.err, "design: LOOP " + axcore::QuoteForMessage(loop) + " is not one of current, speed, position");
    return kExitBadInput;
  }
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;

  ControllerDesignResult design;
  if (tuning->design(*setup, &design) == 0) {
    PrintMissingNames(io.err);
    PrintError(io.err, "design: no " + std::string(tuning->loop) +
                           " controller designed: a name is missing, or the drive data give no finite gains");
    return kExitFailed;
  }
  std::vector<double> stored;
  for (const GainRegisters& gain : tuning->gains)
    stored.push_back(setup->FindParameter(gain.gain)->GetValueInBaseUnit());

  std::vector<std::string> failures;
  for (const char* name : tuning->encodings)
    if (RunEncodeStep(*setup, name) == 0) failures.push_back(std::string("encoding of \"") + name + "\" failed");
  for (const char* name : tuning->decodings)
    if (RunDecodeStep(*setup, name) == 0) failures.push_back(std::string("decoding of \"") + name + "\" failed");
  PrintMissingNames(io.err);
  if (!failures.empty()) {
    for (const std::string& failure : failures) PrintError(io.err, "design: " + failure);
    return kExitFailed;
  }

  PrintReport(*setup, *tuning, design, stored, io.out);
  if (output) {
    if (std::string error = axcore::SaveSetupFile(*setup, *output); !error.empty()) {
      PrintError(io.err, error);
      return kExitFailed;
    }
    io.out << "setup written to " << *output << '\n';
  }
  return kExitOk;
}

}  // namespace axhost
