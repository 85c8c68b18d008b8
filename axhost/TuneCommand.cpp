#include "TuneCommand.h"

#include <cmath>
#include <cstdio>
#include <numbers>
#include <sstream>

#include "FeatureProbes.h"
#include "TestAngle.h"
#include "TestCurrent.h"
#include "TestPositionTuning.h"
#include "TestSpeedTuning.h"
#include "axcore/MessageText.h"
#include "axcore/Setup.h"

namespace axhost {
namespace {

// The controls of a tuning test the command works: the passband's value
// field and unit box, "Tune", and the figures of the run.
struct LoopControls {
  int passbandEdit, passbandUnit, tune, figures;
  const char* figuresTitle;
};
constexpr LoopControls kCurrentControls = {3155, 3151, 3149, 3156, "step response"};
constexpr LoopControls kProfileControls = {1379, 1380, 1390, 1391, "profile response"};

struct Loop {
  const char* name;
  const char* what;
  DialogMaker make;
  const char* passband;                  // the passband the test designs its gains from; null: none
  LoopControls controls;
  std::vector<const char*> gains;        // printed after the run, with their registers
  MotionTest motion;                     // the checks before it runs
};

template <typename Test>
std::unique_ptr<CMC_TestDlg> Make(CMC_Setup* setup) {
  return std::make_unique<Test>(setup);
}

const std::vector<Loop>& Loops() {
  static const std::vector<Loop> loops = {
      {"current", "the current loop's PI: Tune at the passband, then one step of the test current", Make<CTestCurrent>,
       "PB_C", kCurrentControls, {"Kp_C_scl", "SFTKPI", "KPI", "Ki_C_scl", "SFTKII", "KII"}, MotionTest::CurrentTuning},
      {"speed", "the speed loop's PI: Tune at the passband, then one cycle of the speed profile",
       Make<CTestSpeedTuning>, "PB_S", kProfileControls, {"Kp_S_scl", "SFTKPS", "KPS", "Ki_S_scl", "SFTKIS", "KIS"},
       MotionTest::SpeedTuning},
      {"position", "the position loop's PID: Tune at the passband, then one cycle of the position profile",
       Make<CTestPositionTuning>, "PB_P", kProfileControls,
       {"Kp_P_scl", "SFTKPP", "KPP", "Ki_P_scl", "SFTKIP", "KIP", "Kd_P_scl", "SFTKDP", "KDP"},
       MotionTest::PositionTuning},
      {"angle", "the electric angle controller of the motionless start: one run of the angle search",
       Make<CTestAngle>, nullptr, {}, {"Kp_T_scl", "SFTKPTHT", "KPTHT", "Ki_T_scl", "SFTKITHT", "KITHT"},
       MotionTest::AngleTuning},
  };
  return loops;
}

const Loop* FindLoop(const std::string& name) {
  for (const Loop& loop : Loops())
    if (name == loop.name) return &loop;
  return nullptr;
}

std::string DefaultScript(const Loop& loop, const TuneOptions& options, std::optional<double> passband) {
  std::ostringstream script;
  script << "tab 1300 1\n";
  if (loop.passband != nullptr) {
    if (passband) {
      char value[64];
      std::snprintf(value, sizeof value, "%.17g", *passband);
      script << "unit " << loop.controls.passbandUnit << " rad/s\ntype " << loop.controls.passbandEdit << ' ' << value
             << '\n';
    }
    if (options.tune) script << "click " << loop.controls.tune << '\n';
  }
  script << "click 10000\nuntil-idle " << kTestTimeLimitMs << '\n';
  // OK keeps the gains for the file; without a file the dialog is closed.
  script << "click " << (options.test.output ? 1 : 2) << '\n';
  return script.str();
}

void PrintGains(const CMC_Setup& setup, const Loop& loop, std::ostream& out) {
  out << "gains:";
  for (const char* name : loop.gains) {
    const CMC_Parameter* p = FindParameterQuiet(setup, name);
    if (p == nullptr) continue;
    char value[64];
    std::snprintf(value, sizeof value, " %s = %.7g", name, p->GetValueInBaseUnit());
    out << value;
  }
  out << '\n';
}

}  // namespace

std::string TuneNamesHelp() {
  std::string help;
  for (const Loop& loop : Loops()) help += std::string("\n  ") + loop.name + ": " + loop.what;
  return help;
}

std::optional<double> ParsePassband(const std::string& text, std::string& error) {
  // A plain decimal number (digits, a point, an exponent), then at most one
  // blank and a unit: what a user types for a frequency. Hexadecimal, blanks
  // elsewhere, tabs and an empty text are refused rather than read the way
  // strtod happens to read them.
  auto digits = [&](std::size_t& at) {
    const std::size_t from = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at - from;
  };
  std::size_t at = 0;
  std::size_t count = digits(at);
  if (at < text.size() && text[at] == '.') count += digits(++at);
  bool plain = count > 0;
  if (plain && at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t exponent = at + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    plain = digits(exponent) > 0;
    at = exponent;
  }
  if (!plain) {
    error = "--passband takes a decimal number of rad/s, optionally with a unit (rad/s, Hz, kHz, rpm), as 250Hz or "
            "1.5 kHz, not " +
            axcore::QuoteForMessage(text);
    return std::nullopt;
  }
  const double number = std::strtod(text.substr(0, at).c_str(), nullptr);
  std::string unit = text.substr(at);
  if (!unit.empty() && unit.front() == ' ') unit.erase(unit.begin());
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  const struct {
    const char* name;
    double factor;  // rad/s per unit
  } units[] = {{"", 1.0}, {"rad/s", 1.0}, {"Hz", kTwoPi}, {"kHz", kTwoPi * 1e3}, {"rpm", kTwoPi / 60.0}};
  for (const auto& u : units)
    if (unit == u.name) {
      const double passband = number * u.factor;
      if (!(passband > 0.0) || !std::isfinite(passband)) {
        error = "--passband must be a number above 0 that a double holds, not " + axcore::QuoteForMessage(text);
        return std::nullopt;
      }
      return passband;
    }
  error = "--passband: unknown unit " + axcore::QuoteForMessage(unit) +
          ": give a decimal number with rad/s, Hz, kHz or rpm after it (250Hz, 1.5 kHz)";
  return std::nullopt;
}

int RunTune(const PluginModule& module, const std::string& name, const std::optional<std::string>& file,
            const TuneOptions& options, Io io) {
  const Loop* loop = FindLoop(name);
  if (loop == nullptr) {
    std::string names;
    for (const Loop& known : Loops()) names += std::string(names.empty() ? "" : ", ") + known.name;
    PrintError(io.err, "tune: no loop " + axcore::QuoteForMessage(name) + "; one of: " + names);
    return kExitBadInput;
  }
  if (!options.test.gui && !options.test.screenshotDir.empty()) {
    PrintError(io.err, "tune: --screenshot needs the Qt view: give --gui");
    return kExitBadInput;
  }
  if (loop->passband == nullptr && (options.passband || !options.tune)) {
    PrintError(io.err, std::string("tune: --passband and --no-tune are for the loops designed from a passband; the ") +
                           loop->name + " test has none");
    return kExitBadInput;
  }
  std::optional<double> passband;
  if (options.passband) {
    std::string error;
    if (!(passband = ParsePassband(*options.passband, error))) {
      PrintError(io.err, "tune: " + error);
      return kExitBadInput;
    }
  }
  if (options.plot) {
    const std::string& plot = *options.plot;
    const std::string extension = plot.size() >= 4 ? plot.substr(plot.size() - 4) : "";
    if (extension != ".svg" && extension != ".png" && extension != ".csv") {
      PrintError(io.err, "tune: --plot takes a file ending in .svg, .png or .csv, not " +
                             axcore::QuoteForMessage(plot));
      return kExitBadInput;
    }
  }
  if (OutputRefused(options.test.output, "tune", io)) return kExitBadInput;
  int chosenStatus = kExitOk;
  const auto drive = ChooseDrive(options.test.driveSpec, options.test.link, io, chosenStatus);
  if (!drive) return chosenStatus;
  auto lines = TestScript(DefaultScript(*loop, options, passband), options.test, io);
  if (!lines) return kExitBadInput;
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;
  if (passband) {
    const CMC_Parameter* pb = FindParameterQuiet(*setup, loop->passband);
    if (pb == nullptr || *passband < pb->GetMinInBaseUnit() || *passband > pb->GetMaxInBaseUnit()) {
      char range[160];
      std::snprintf(range, sizeof range, "the setup has no passband %s", loop->passband);
      if (pb != nullptr)
        std::snprintf(range, sizeof range, "the passband %s goes from %.7g to %.7g rad/s", loop->passband,
                      pb->GetMinInBaseUnit(), pb->GetMaxInBaseUnit());
      char given[64];
      std::snprintf(given, sizeof given, "%.7g rad/s", *passband);
      PrintError(io.err, std::string("tune: --passband ") + given + ": " + range);
      return kExitBadInput;
    }
  }

  // The current loop's gains are the test's to design when it presses Tune.
  WarnBeforeTest(module, *setup, *drive, loop->motion, options.tune && loop->passband != nullptr, io);
  const std::vector<ParameterSnapshot> before = TakeSnapshot(*setup);
  std::string figures, plotError;
  bool plotWritten = false;
  auto inspect = [&](CMC_TestDlg& dialog) {
    figures = dialog.GetChildText(loop->controls.figures);
    const auto* tuning = dynamic_cast<const CTuningTestDlg*>(&dialog);
    if (!options.plot || tuning == nullptr || tuning->GetLogger() == nullptr) return;
    plotError = tuning->GetLogger()->SaveGraphAs(*options.plot, dialog.GetCaption());
    plotWritten = plotError.empty();
  };
  TestRun run;
  const int status = RunTestDialog("tune", *setup, *drive, std::move(*lines), options.test, io, loop->make, inspect, run);
  if (run.runs > 0) {
    PrintGains(*setup, *loop, io.out);
    if (!figures.empty()) {
      io.out << loop->controls.figuresTitle << " (the loop's model in parentheses):\n";
      std::istringstream lines(figures);
      for (std::string line; std::getline(lines, line);) io.out << "  " << line << '\n';
    }
  }
  if (plotWritten) io.out << "plot written to " << axcore::OneLine(*options.plot) << '\n';
  if (!plotError.empty()) {
    PrintError(io.err, "tune: " + plotError);
    if (status == kExitOk) return kExitFailed;
  }
  if (status != kExitOk) return status;
  return FinishTestedSetup(*setup, before, run.dialogResult, options.test.output, io);
}

}  // namespace axhost
