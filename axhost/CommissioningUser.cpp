#include "CommissioningUser.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <optional>
#include <tuple>

#include "ControllerDesign.h"
#include "FeatureProbes.h"
#include "LoopResponse.h"
#include "PassbandChoice.h"
#include "PreTestChecks.h"
#include "ProfileFigures.h"
#include "Scales.h"
#include "StepResponse.h"
#include "TestCurrent.h"
#include "TestFrequencyResponse.h"
#include "BiquadDesign.h"
#include "TuningTestDlg.h"
#include "axcore/MessageText.h"
#include "axcore/PlotDocument.h"
#include "axcore/Platform.h"
#include "axcore/TestDlg.h"

namespace axhost {
namespace {

constexpr int kDriveSetup = 106;
constexpr int kMotorSetup = 108;
constexpr int kMassQuestion = 3056;
constexpr int kAdvancedButton = 3158;
// "Frequency Response..." of the speed and position tests.
constexpr int kFrequencyResponseButton = 3515;
// Drive Setup's feed-forward fields: speed mode (acceleration, speed),
// position mode (speed, acceleration); the setup's mode shows one pair.
constexpr int kSpeedModeAcceleration = 3183, kSpeedModeSpeed = 3393;
constexpr int kPositionModeSpeed = 3196, kPositionModeAcceleration = 3197;
// Advanced's "Apply speed feedforward to": the second button is
// "SpeedForward" 1, the value with which the drive adds the speed term.
constexpr int kSpeedForwardOn = 3375;

// How long a test may run before the run gives it up (drive time).
constexpr long long kTestTimeLimitMs = 120000;
const std::string kUntilIdle = "until-idle " + std::to_string(kTestTimeLimitMs) + '\n';

// The step response of a tuning test is a profile whose ramps last the
// shortest time the test takes: a step of the reference. Small amplitudes
// keep every loop far from its limits, large enough to stand well above the
// encoder's quantisation and the current noise.
constexpr double kSpeedStep_m_s = 0.2;
constexpr double kPositionStep_m = 2e-3;
// At most this share of the control error protection's threshold, when the
// protection is on: the step's own error must not trip it.
constexpr double kShareOfErrorLimit = 0.9;
// The step's own acceleration asks at most this share of the test's
// current limit: beyond it the loop is no longer the linear one its model
// is (the current reference clips), and its overshoot says nothing of the
// gains. Once the speed loop runs near the sampling limit (a filter that
// cost it phase dropped), a position step of 2 mm would ask tens of amperes.
constexpr double kCurrentShare = 0.5;
// How far a margin measured on the drive scatters from run to run (the
// virtual drive's example and resonant plants, as commissioned).
constexpr double kMeasuredPhaseScatter_deg = 2.0;
constexpr double kMeasuredGainScatter_dB = 0.5;
// Plateaus long enough for the loop to settle: 14 / passband is some
// twice the settling time of the slowest damping the run designs with.
constexpr double kPlateauPassbands = 14.0;

// The rise-time bandwidth estimate: 2.2 / (10-90 % rise), exact for a first
// order loop and within some 20 % for the damped loops tuned here.
constexpr double kRiseBandwidthProduct = 2.2;
// The share of the drive's voltage a current step may need: the rest is
// the margin for the back-EMF, the dead time and the supply's sag.
constexpr double kVoltageShare = 0.8;

// How far above the response a single noisy sample may stand, in standard
// deviations of the noise.
constexpr double kNoiseDeviations = 3.0;
// A filter slot costing a loop more phase than this at its crossover is
// named, with what the loop would reach without it.
constexpr double kCostlyFilter_deg = 10.0;
// How far a measured overshoot may pass the model's before the run warns:
// what the model leaves out (friction, the converter's steps) moves it by
// a point or two.
constexpr double kOvershootAllowance = 0.03;

// The design's dampings tried for every loop; the one whose passband
// reaches the highest crossover within the margins is kept. A higher
// damping raises the proportional gain against the integral: more phase at
// the crossover for the same passband.
constexpr double kDampings[] = {0.7, 1.0, 1.5, 2.0};

enum class Kind {
  Identification,
  MassIdentification,
  CurrentTuning,
  AngleTuning,
  SpeedTuning,
  FrequencyResponse,
  PositionTuning,
  FeedForward,
  SpeedProfile,
  PositionProfile
};

bool IsProfileCheck(Kind kind) { return kind == Kind::SpeedProfile || kind == Kind::PositionProfile; }

// The loop a step tunes from a passband; none for the others.
std::optional<TunedLoop> TunedLoopOf(Kind kind) {
  switch (kind) {
    case Kind::CurrentTuning: return TunedLoop::Current;
    case Kind::SpeedTuning: return TunedLoop::Speed;
    case Kind::PositionTuning: return TunedLoop::Position;
    default: return std::nullopt;
  }
}

// The checks before a step's test moves the motor; none for the
// identifications before the current loop is tuned.
std::optional<MotionTest> MotionTestOf(Kind kind) {
  switch (kind) {
    case Kind::CurrentTuning: return MotionTest::CurrentTuning;
    case Kind::MassIdentification: return MotionTest::TotalMass;
    case Kind::AngleTuning: return MotionTest::AngleTuning;
    case Kind::SpeedTuning:
    case Kind::FrequencyResponse: return MotionTest::SpeedTuning;
    case Kind::PositionTuning: return MotionTest::PositionTuning;
    default: return std::nullopt;
  }
}

struct Step {
  const char* key;
  const char* title;
  const char* finds;  // for --help
  int parent;         // the dialog whose button opens it
  int button;
  Kind kind;
};

constexpr Step kSteps[] = {
    {"supply-voltage", "Supply voltage", "measures the DC supply (Vdc)", kDriveSetup, 3171, Kind::Identification},
    {"phase-connection", "Phase connection", "checks the motor phase wiring", kMotorSetup, 1175,
     Kind::Identification},
    {"resistance-inductance", "Resistance and inductance", "identifies R and L", kMotorSetup, 1177,
     Kind::Identification},
    {"encoder-connection", "Encoder connection",
     "checks the encoder signals while the mover is pushed 2 mm by hand and back", kMotorSetup, 1187,
     Kind::Identification},
    {"encoder-resolution", "Encoder resolution and direction", "identifies EncRes and the counting direction",
     kMotorSetup, 1189, Kind::Identification},
    {"current-tuning", "Current controller", "tunes the current loop and steps it", kDriveSetup, 3137,
     Kind::CurrentTuning},
    {"total-mass", "Total mass", "identifies the total moving mass Mt (\"Identify\" of the speed test)", kDriveSetup,
     3178, Kind::MassIdentification},
    {"angle-tuning", "Electric angle controller", "tunes the motionless start (only when the setup starts motionless)",
     kDriveSetup, 3263, Kind::AngleTuning},
    {"speed-tuning", "Speed controller", "tunes the speed loop and steps it", kDriveSetup, 3178, Kind::SpeedTuning},
    {"frequency-response", "Speed loop frequency response",
     "measures the speed loop's frequency response (\"Frequency Response...\" of the speed test), places a notch "
     "on a resonance above the rigid-body line, drops a low-pass filter on the current reference that guards against "
     "nothing the measurement found, and retunes the speed loop by its margins on the measured plant",
     kDriveSetup, 3178, Kind::FrequencyResponse},
    {"position-tuning", "Position controller", "tunes the position loop and steps it", kDriveSetup, 3198,
     Kind::PositionTuning},
    {"feed-forward", "Feed-forward",
     "feeds the reference's speed and acceleration forward: SpeedForward 1 (in Advanced), KFFS_scl 1, KFFA_scl from "
     "the identified mass",
     kDriveSetup, kAdvancedButton, Kind::FeedForward},
    {"speed-profile", "Speed profile",
     "runs the speed test's own profile once with the setup's protections on: passes when none trips", kDriveSetup,
     3178, Kind::SpeedProfile},
    {"position-profile", "Position profile",
     "runs the position test's own profile once with the setup's protections on: passes when none trips",
     kDriveSetup, 3198, Kind::PositionProfile},
};
constexpr int kStepCount = static_cast<int>(std::size(kSteps));

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

bool Usable(const CMC_EditSetupDlg& dialog, int id) {
  const ControlState* control = dialog.GetControl(id);
  return control != nullptr && control->shown && control->enabled;
}

double Value(const CMC_Setup& setup, const char* name, double fallback = 0.0) {
  const CMC_Parameter* p = FindParameterQuiet(setup, name);
  return p != nullptr ? p->GetValueInBaseUnit() : fallback;
}

// "type ID VALUE" in UNIT, when the dialog has the field.
void TypeIn(std::string& script, const CMC_EditSetupDlg& dialog, int field, int unitBox, const char* unit,
            double value) {
  if (!Usable(dialog, field)) return;
  if (unitBox != 0 && Usable(dialog, unitBox)) script += "unit " + std::to_string(unitBox) + ' ' + unit + '\n';
  script += "type " + std::to_string(field) + ' ' + Number(value) + '\n';
}

double StepAmplitude(const CMC_Setup& setup, double amplitude, const char* protectionOn, const char* threshold) {
  const double limit = Value(setup, threshold, 0.0);
  if (Value(setup, protectionOn) != 0.0 && limit > 0.0) return std::min(amplitude, kShareOfErrorLimit * limit);
  return amplitude;
}

// What the run sets on the "Test Parameters" page of a tuning test: the
// current test's step, or the speed or position test's profile.
struct TestSettings {
  double current_A = 0.0;
  double amplitude = 0.0;  // m/s or m
  double ramp_s = 0.0, plateau_s = 0.0, secondRamp_s = 0.0, secondPlateau_s = 0.0;
  bool multiCycle = false;
};

// The settings as `setup` holds them, to put back after the run's step.
TestSettings SettingsOf(const CMC_Setup& setup, Kind kind) {
  const bool speed = kind == Kind::SpeedTuning || kind == Kind::SpeedProfile;
  return {Value(setup, "TestCurrent"),
          Value(setup, speed ? "TestSpeed" : "TestPosition"),
          Value(setup, speed ? "TaPS" : "TaPP"),
          Value(setup, speed ? "TPS" : "TPP"),
          Value(setup, speed ? "TaNS" : "TaNP"),
          Value(setup, speed ? "TNS" : "TNP"),
          Value(setup, speed ? "MultiCycleS" : "MultiCycleP") != 0.0};
}

// The settings typed into the page's fields that `test` shows.
std::string TypeSettings(const CMC_EditSetupDlg& test, Kind kind, const TestSettings& settings) {
  std::string script;
  if (kind == Kind::CurrentTuning) {
    TypeIn(script, test, 1120, 1121, "A", settings.current_A);
    return script;
  }
  if (kind == Kind::SpeedTuning || kind == Kind::SpeedProfile)
    TypeIn(script, test, 1320, 1321, "m/s", settings.amplitude);
  else
    TypeIn(script, test, 1501, 1502, "mm", settings.amplitude * 1e3);
  TypeIn(script, test, 1314, 1315, "ms", settings.ramp_s * 1e3);
  TypeIn(script, test, 1317, 1318, "ms", settings.plateau_s * 1e3);
  TypeIn(script, test, 1327, 1328, "ms", settings.secondRamp_s * 1e3);
  TypeIn(script, test, 1330, 1331, "ms", settings.secondPlateau_s * 1e3);
  if (Usable(test, 1332)) script += std::string("check 1332 ") + (settings.multiCycle ? "1" : "0") + '\n';
  return script;
}

std::vector<ValueChange> Changes(const CMC_Setup& before, const CMC_Setup& after) {
  std::vector<ValueChange> changes;
  for (const auto& p : after.Parameters()) {
    const CMC_Parameter* old = before.FindParameter(p->GetName());
    // The user's values; the registers follow from them.
    if (p->GetKind() == ParameterKind::Register || p->GetKind() == ParameterKind::Constant) continue;
    if (old == nullptr || old->GetValueInBaseUnit() == p->GetValueInBaseUnit()) continue;
    const double factor = p->GetShownUnit().GetFactorToBase();
    changes.push_back({p->GetName(), old->GetValueInBaseUnit() / factor, p->GetValueInBaseUnit() / factor,
                       p->GetShownUnit().GetName()});
  }
  return changes;
}

// The open loop of the chosen tuning as a Bode plot: gain (dB) on the
// left, phase (degrees) on the right, over frequency in rad/s, with the
// crossover and the frequency where the gain margin is read marked.
std::string BodePlotSvg(const LoopMargins& m, const std::string& title) {
  axcore::PlotDocument plot;
  plot.SetTitle(title);
  plot.Axis(axcore::PlotAxisId::Horizontal) = {"Frequency", "rad/s", axcore::AxisScale::Logarithmic};
  plot.Axis(axcore::PlotAxisId::Left).title = "Open-loop gain";
  plot.Axis(axcore::PlotAxisId::Left).unit = "dB";
  // Near the Nyquist frequency the hold drives the gain towards nothing:
  // the plot shows down to -60 dB, where the margins are read.
  plot.Axis(axcore::PlotAxisId::Left).fixedMin = -60.0;
  axcore::PlotAxis& phase = plot.Axis(axcore::PlotAxisId::Right);
  phase.title = "Open-loop phase";
  phase.unit = "deg";
  phase.tickStep = 90.0;
  axcore::PlotCurve gain, angle;
  // The phase unwrapped from its low-frequency end, so that it reads as
  // the lag it is (below -180 degrees where the loop lags that much).
  double previous = 0.0, turns = 0.0;
  for (std::size_t k = 0; k < m.response.size(); ++k) {
    const double degrees = std::arg(m.response[k]) * 180.0 / std::numbers::pi;
    if (k > 0 && degrees - previous > 180.0) turns -= 360.0;
    if (k > 0 && degrees - previous < -180.0) turns += 360.0;
    previous = degrees;
    gain.x.push_back(m.frequency_rad_s[k]);
    gain.y.push_back(20.0 * std::log10(std::abs(m.response[k])));
    angle.x.push_back(m.frequency_rad_s[k]);
    angle.y.push_back(degrees + turns);
  }
  for (auto [curve, name, axis, colour] : {std::tuple{&gain, "Gain", axcore::PlotAxisId::Left, 0},
                                          std::tuple{&angle, "Phase", axcore::PlotAxisId::Right, 1}}) {
    axcore::PlotCurve& added = plot.AddCurve(name, axis, colour);
    added.x = std::move(curve->x);
    added.y = std::move(curve->y);
  }
  if (m.crossover_rad_s > 0.0)
    plot.AddMarker(m.crossover_rad_s, "crossover, phase margin " + ShortNumber(m.phaseMargin_deg) + " deg");
  if (m.gainMarginAt_rad_s > 0.0) plot.AddMarker(m.gainMarginAt_rad_s, "gain margin " + ShortNumber(m.gainMargin_dB) + " dB");
  return plot.ToSvg();
}

// A profile run's following error over time, reference minus response:
// measured on the drive, the linear model's, and the model's with the
// drive's limits and the friction measured (when it ran). Millimetres (or
// mm/s): the error is some thousandths of what the test's own graph shows.
std::string FollowingErrorPlotSvg(const std::string& title, bool speed, const std::vector<double>& time,
                                  const std::vector<double>& reference,
                                  const std::vector<std::pair<const std::vector<double>*, axcore::LineStyle>>& responses,
                                  const std::vector<std::string>& names) {
  axcore::PlotDocument plot;
  plot.SetTitle(title);
  plot.Axis(axcore::PlotAxisId::Horizontal) = {"Time", "s", axcore::AxisScale::Linear};
  plot.Axis(axcore::PlotAxisId::Left).title = "Following error";
  plot.Axis(axcore::PlotAxisId::Left).unit = speed ? "mm/s" : "mm";
  for (std::size_t c = 0; c < responses.size(); ++c) {
    const std::vector<double>& response = *responses[c].first;
    const std::size_t n = std::min({time.size(), reference.size(), response.size()});
    if (n == 0) continue;
    axcore::PlotCurve& curve = plot.AddCurve(names[c], axcore::PlotAxisId::Left, static_cast<int>(c),
                                             responses[c].second);
    for (std::size_t k = 0; k < n; ++k) {
      curve.x.push_back(time[k]);
      curve.y.push_back((reference[k] - response[k]) * 1e3);
    }
  }
  return plot.ToSvg();
}

}  // namespace

int CommissioningUser::StepCount() { return kStepCount; }

bool CommissioningUser::Finished() const { return !m_failed && m_step >= static_cast<std::size_t>(kStepCount); }

std::string CommissionStepsHelp() {
  std::string help;
  for (const Step& step : kSteps) help += std::string("\n  ") + step.key + ": " + step.finds;
  return help;
}

CommissioningUser::CommissioningUser(CMC_Setup& setup, CommissionRecord& record, StepReporter report)
    : m_setup(setup), m_record(record), m_report(std::move(report)) {}

void CommissioningUser::TestEnded(const CMC_TestDlg& test) {
  ++m_runs;
  m_lastResult = test.GetTestResult();
  m_lastError = test.GetErrorText();
}

bool CommissioningUser::BreakOff(const std::string& why) {
  if (m_failed || m_phase == Phase::Open || !m_before) return false;
  Fail(why);
  return true;
}

void CommissioningUser::Message(const std::string& text) {
  m_lastMessage = text;
  const std::string where = m_step < static_cast<std::size_t>(kStepCount) ? kSteps[m_step].title : "End";
  m_record.warnings.push_back(where + ": " + m_lastMessage);
}

std::string CommissioningUser::Decide(CMC_EditSetupDlg& top) {
  // Motor Setup opens by itself over Drive Setup once it shows.
  if (!m_started) {
    m_started = true;
    return "wait 150\n";
  }
  // The motor mass question of the speed and position tests: the default,
  // the total mass raised to the motor's own.
  if (top.GetResourceId() == kMassQuestion) return "click 1\n";
  if (m_failed) return "click 2\n";  // every dialog left open, without keeping anything
  if (Finished()) return "click 1\n";  // Motor Setup, then Drive Setup: OK
  const Step& step = kSteps[m_step];
  const bool atParent = top.GetResourceId() == step.parent;
  switch (m_phase) {
    case Phase::Open:
      return OpenStep(top);
    case Phase::OpenInner: {
      // The speed test is open: "Identify", on its Test page, opens the
      // total mass test; "Frequency Response..." the frequency response.
      const bool response = step.kind == Kind::FrequencyResponse;
      const int button = response ? kFrequencyResponseButton : 3271;
      if (!atParent && !Usable(top, button) && !m_tabbed) {
        m_tabbed = true;
        return "tab 1300 1\n";
      }
      if (atParent || !Usable(top, button)) {
        Fail(atParent ? Refusal()
                      : std::string("the speed test offers no \"") + (response ? "Frequency Response..." : "Identify") +
                            "\"");
        return Decide(top);
      }
      m_inner = top.GetResourceId();
      m_phase = Phase::Run;
      return "click " + std::to_string(button) + "\n";
    }
    case Phase::Run:
      if (atParent || top.GetResourceId() == m_inner) {
        Fail(Refusal());
        return Decide(top);
      }
      m_current.test = top.GetCaption();
      return RunScript(top);
    case Phase::Page0:
      return ProfileScript(top);
    case Phase::Page1:
      return StartScript(top);
    case Phase::Judge:
      return Judge(top);
    case Phase::Restore:
      // The settings as the setup held them: the step was the run's, not the user's.
      m_phase = Phase::Closing;
      return (m_before ? TypeSettings(top, step.kind, SettingsOf(*m_before, step.kind)) : std::string()) + "click 1\n";
    case Phase::Closing:
      if (!atParent) return "click 2\n";  // the speed test around the mass test
      if (m_user != nullptr) m_user->DropAnswers();  // a closing question that was not asked
      // What the measurement calls for goes into the setup once the
      // dialogs it was measured through are closed; a loop that changed is
      // measured again.
      if (step.kind == Kind::FrequencyResponse) {
        if (!m_remeasuring) {
          if (!ActOnFrequencyResponse()) return Decide(top);
          // Retuned (with a notch, or without a low-pass that guarded
          // nothing): the loop is measured again as it now runs.
          if (m_current.frequencyResponse && !m_current.frequencyResponse->retuned.empty()) {
            m_remeasuring = true;
            m_tabbed = false;
            m_phase = Phase::OpenInner;
            return "click " + std::to_string(step.button) + "\n";
          }
        } else {
          m_remeasuring = false;
          if (m_response && m_current.frequencyResponse) {
            FrequencyResponseRecord& record = *m_current.frequencyResponse;
            record.measuredAfter = FormatMargins(m_response->comparison.measured);
            for (const Resonance& resonance : m_response->resonances)
              record.resonancesAfter.push_back({resonance.frequency_Hz, resonance.height_dB, resonance.width_Hz});
            if (!MeetsBounds(m_response->comparison.measured, m_bounds))
              m_record.warnings.push_back(std::string(step.title) + ": measured again, the retuned speed loop's "
                                          "margins (" + record.measuredAfter + ") fall short of the " + m_marginSet +
                                          " margins");
          }
          m_response.reset();
        }
      }
      EndStep();
      return Decide(top);
  }
  return {};
}

std::string CommissioningUser::Next(CMC_EditSetupDlg& top) {
  std::string actions = Decide(top);
  // A dialog that stays open after the same OK or Cancel twice will not
  // close: the run ends there rather than pressing it for good.
  const bool closing = actions == "click 1\n" || actions == "click 2\n";
  if (closing && &top == m_lastTop && actions == m_lastActions) return {};
  m_lastTop = &top;
  m_lastActions = actions;
  return actions;
}

std::string CommissioningUser::Refusal() const {
  return m_lastMessage.empty() ? std::string("the test did not open") : "the test did not open: " + m_lastMessage;
}

std::string CommissioningUser::OpenStep(CMC_EditSetupDlg& top) {
  const Step& step = kSteps[m_step];
  if (top.GetResourceId() != step.parent) {
    if (top.GetResourceId() == kMotorSetup) return "click 1\n";
    if (top.GetResourceId() == kDriveSetup) return "click 10019\n";
    return "click 2\n";
  }
  m_current = StepRecord{};
  m_current.key = step.key;
  m_current.title = step.title;
  m_runs = 0;
  m_lastResult = -1;
  m_lastError.clear();
  m_lastMessage.clear();
  if (step.kind == Kind::AngleTuning && Value(m_setup, "StartMode") != 1.0) {
    Skip("the setup starts by moving till aligned with phase A, not motionless");
    return Decide(top);
  }
  if (!Usable(top, step.button)) {
    Skip("this setup offers no such test (its button is not available)");
    return Decide(top);
  }
  m_before = std::make_unique<CMC_Setup>(m_setup);
  m_bode.reset();
  m_stepStart_s = axcore::CurrentPlatform().Now();
  std::string script;
  const bool outer = step.kind == Kind::SpeedTuning || step.kind == Kind::PositionTuning;
  if (const auto loop = TunedLoopOf(step.kind); loop && !ChoosePassbandFor(*loop)) {
    Fail(m_current.detail);
    return Decide(top);
  }
  if (outer) {
    // The loops are tuned and stepped without the feed-forward: a step's
    // feed-forward is an impulse that says nothing of the gains. The
    // feed-forward step sets it once the loops are tuned.
    for (const int field : {kSpeedModeAcceleration, kSpeedModeSpeed, kPositionModeSpeed, kPositionModeAcceleration})
      if (Usable(top, field)) script += "type " + std::to_string(field) + " 0\n";
  }
  if (step.kind == Kind::FeedForward) {
    // The speed term in full (the reference's speed is the speed wanted),
    // the acceleration term from the mass the run identified: the current
    // that mass needs to follow the reference's acceleration.
    const double acceleration = AccelerationFeedForwardFromMass(m_setup);
    if (!std::isfinite(acceleration)) {
      Skip("the setup gives no acceleration feed-forward from Mt and Kf");
      return Decide(top);
    }
    for (const int field : {kSpeedModeSpeed, kPositionModeSpeed})
      if (Usable(top, field)) script += "type " + std::to_string(field) + " 1\n";
    for (const int field : {kSpeedModeAcceleration, kPositionModeAcceleration})
      if (Usable(top, field)) script += "type " + std::to_string(field) + ' ' + Number(acceleration) + '\n';
  }
  m_inner = 0;
  m_tabbed = false;
  m_phase = step.kind == Kind::MassIdentification || step.kind == Kind::FrequencyResponse ? Phase::OpenInner
                                                                                          : Phase::Run;
  return script + "click " + std::to_string(step.button) + '\n';
}

bool CommissioningUser::ChoosePassbandFor(TunedLoop tuned) {
  constexpr const char* kPassbands[] = {"PB_C", "PB_S", "PB_P"};
  constexpr const char* kDampingNames[] = {"Dump_C", "Dump_S", "Dump_P"};
  const int loop = static_cast<int>(tuned);  // 0 current, 1 speed, 2 position
  const char* parameter = kPassbands[loop];
  const char* damping = kDampingNames[loop];
  // Each loop's model holds its inner loops as tuned before it: the outer
  // passband needs no rule of thumb against the inner bandwidth.
  PassbandSearch search;
  search.margins = m_bounds;

  const double own = Value(m_setup, damping, 1.0);
  PassbandRecord record;
  record.parameter = parameter;
  record.marginSet = m_marginSet;
  record.phaseMarginBound_deg = m_bounds.phaseMargin_deg;
  record.gainMarginBound_dB = m_bounds.gainMargin_dB;
  record.sensitivityPeakBound_dB = m_bounds.sensitivityPeak_dB;
  PassbandChoice choice;
  double chosenDamping = own;
  bool valid = false;
  for (double d : kDampings) {
    m_setup.SetParameterValueInBaseUnit(damping, d);
    PassbandChoice trial = ChoosePassband(m_setup, tuned, search);
    valid = valid || trial.valid;
    record.dampingCrossovers.emplace_back(
        d, trial.valid && trial.met ? trial.margins.crossover_rad_s : std::numeric_limits<double>::quiet_NaN());
    if (!trial.valid || !trial.met) continue;
    if (!choice.met || trial.margins.crossover_rad_s > choice.margins.crossover_rad_s) {
      choice = std::move(trial);
      chosenDamping = d;
    }
  }
  m_setup.SetParameterValueInBaseUnit(damping, chosenDamping);
  record.damping = chosenDamping;
  if (!choice.met) {
    m_setup.SetParameterValueInBaseUnit(damping, own);
    record.passband_rad_s = std::numeric_limits<double>::quiet_NaN();
    m_current.passband = record;
    m_current.detail = !valid ? std::string("the setup lacks what the loop's design and model need")
                              : "no passband of " + std::string(parameter) + " at damping " +
                                    ShortNumber(kDampings[0]) + " to " + ShortNumber(std::end(kDampings)[-1]) +
                                    " keeps the " + m_marginSet + " margins (phase " +
                                    ShortNumber(m_bounds.phaseMargin_deg) + " deg, gain " +
                                    ShortNumber(m_bounds.gainMargin_dB) + " dB, sensitivity peak " +
                                    ShortNumber(m_bounds.sensitivityPeak_dB) + " dB)";
    return false;
  }
  record.passband_rad_s = choice.passband_rad_s;
  record.ceiling_rad_s = choice.ceiling_rad_s;
  record.predictedOvershoot = choice.response.overshoot;
  record.predictedRise_s = choice.response.rise_s;
  const LoopMargins& m = choice.margins;
  record.crossover_rad_s = m.crossover_rad_s;
  record.phaseMargin_deg = m.phaseMargin_deg;
  record.gainMargin_dB = m.gainMargin_dB;
  record.gainReductionMargin_dB = m.gainReductionMargin_dB;
  record.sensitivityPeak_dB = m.sensitivityPeak_dB;
  if (tuned != TunedLoop::Current) NoteFilterCosts(tuned, record);
  m_current.passband = record;
  m_bode = PlotRecord{"Open loop as the drive runs it (model), " + std::string(parameter) + " " +
                          ShortNumber(record.passband_rad_s) + " rad/s, damping " + ShortNumber(chosenDamping),
                      BodePlotSvg(m, std::string(kSteps[m_step].title) + ": open loop (model)"), true};
  if (tuned == TunedLoop::Current && choice.response.period_s > 0.0) {
    m_currentSlope_per_s = 0.0;
    for (std::size_t k = 1; k < choice.response.step.size(); ++k)
      m_currentSlope_per_s = std::max(m_currentSlope_per_s, (choice.response.step[k] - choice.response.step[k - 1]) /
                                                                choice.response.period_s);
  }
  return true;
}

// The filter slots the loop runs, each with the phase it costs at the
// chosen crossover; one that costs more than kCostlyFilter_deg is searched
// again without it, at the chosen damping, so that the user sees what the
// loop gives up for it (the mechanics may need the filter: it stays).
void CommissioningUser::NoteFilterCosts(TunedLoop tuned, PassbandRecord& record) {
  for (const FilterPhaseCost& cost : FilterPhaseCosts(m_setup, tuned, record.crossover_rad_s)) {
    PassbandRecord::FilterCost note{cost.slot, cost.place, cost.phase_deg, 0.0};
    if (cost.phase_deg > kCostlyFilter_deg) {
      CMC_Setup without(m_setup);
      BypassFilterSlot(without, cost.slot);
      PassbandSearch search;
      search.margins = m_bounds;
      if (const PassbandChoice choice = ChoosePassband(without, tuned, search); choice.met)
        note.crossoverWithout_rad_s = choice.margins.crossover_rad_s;
      m_record.warnings.push_back(
          std::string(kSteps[m_step].title) + ": the filter in slot " + std::to_string(cost.slot) + " (" + cost.place +
          ") costs " + ShortNumber(cost.phase_deg) + " deg of phase at the crossover " +
          ShortNumber(record.crossover_rad_s) + " rad/s" +
          (note.crossoverWithout_rad_s > 0.0
               ? "; without it the loop would cross over at " + ShortNumber(note.crossoverWithout_rad_s) +
                     " rad/s with the same margins"
               : std::string()));
    }
    record.filterCosts.push_back(note);
  }
}

// An identification is started (and, for the encoder test, stopped after
// the push by hand); a tuning test is set up page by page, each page's
// actions chosen once it shows.
std::string CommissioningUser::RunScript(const CMC_EditSetupDlg& top) {
  const Step& step = kSteps[m_step];
  if (step.kind == Kind::Identification || step.kind == Kind::MassIdentification ||
      step.kind == Kind::FrequencyResponse) {
    m_phase = Phase::Judge;
    CheckBeforeStart();
    std::string script = "click 10000\n";
    // The encoder test shows the signals while the user moves the mover.
    if (std::string(step.key) == "encoder-connection") script += "move 2 300\nmove -2 300\nclick 10000\n";
    return script + kUntilIdle;
  }
  if (step.kind == Kind::FeedForward) {
    m_phase = Phase::Closing;
    return (Usable(top, kSpeedForwardOn) ? "radio " + std::to_string(kSpeedForwardOn) + '\n'
                                                      : std::string()) +
           "click 1\n";
  }
  const bool parameters = step.kind != Kind::AngleTuning;  // a test parameter to set first
  m_phase = parameters ? Phase::Page0 : Phase::Page1;
  return parameters ? "tab 1300 0\n" : "tab 1300 1\n";
}

// The "Test Parameters" page of the speed and position tests: a step of the
// reference, a single cycle, positive.
std::string CommissioningUser::ProfileScript(CMC_EditSetupDlg& test) {
  const Kind kind = kSteps[m_step].kind;
  m_phase = Phase::Page1;
  TestSettings step;
  if (IsProfileCheck(kind)) {
    // The profile as the setup holds it, once.
    step = SettingsOf(m_setup, kind);
    step.multiCycle = false;
    return TypeSettings(test, kind, step) + "tab 1300 1\n";
  }
  if (kind == Kind::CurrentTuning) {
    step.current_A = CurrentStep();
  } else {
    const bool speed = kind == Kind::SpeedTuning;
    step.amplitude = speed ? StepAmplitude(m_setup, kSpeedStep_m_s, "isSpeedControlError", "ERR_speed")
                           : StepAmplitude(m_setup, kPositionStep_m, "isPositionControlError", "ERR_position");
    step.amplitude = WithinCurrentLimit(step.amplitude, speed);
    const CMC_Parameter* ramp = FindParameterQuiet(m_setup, speed ? "TaPS" : "TaPP");
    step.ramp_s = step.secondRamp_s = ramp != nullptr ? ramp->GetMinInBaseUnit() : 1e-3;
    step.plateau_s = step.secondPlateau_s = kPlateauPassbands / m_current.passband->passband_rad_s;
  }
  std::string script = TypeSettings(test, kind, step);
  if (kind != Kind::CurrentTuning && Usable(test, 3528)) script += "radio 3528\n";  // positive
  return script + "tab 1300 1\n";
}

// A speed step of v asks the mass a v w_s (w_s the speed loop's crossover),
// a position step of x a speed of x w_p and so x w_p w_s: the step is held
// to what kCurrentShare of the test's current limit accelerates.
double CommissioningUser::WithinCurrentLimit(double amplitude, bool speed) {
  const double limit_A = kCurrentShare * Value(m_setup, "TestLimitCurrent");
  const double speedCrossover = speed ? m_current.passband->crossover_rad_s
                                      : ComputeLoopMargins(m_setup, TunedLoop::Speed).crossover_rad_s;
  const double outer = speed ? 1.0 : m_current.passband->crossover_rad_s;
  const double perUnit_A = Value(m_setup, "Mt") * speedCrossover * outer / Value(m_setup, "Kf", 1.0);
  if (!(limit_A > 0.0) || !(perUnit_A > 0.0) || !std::isfinite(perUnit_A) || amplitude * perUnit_A <= limit_A)
    return amplitude;
  const double held = limit_A / perUnit_A;
  m_record.warnings.push_back(std::string(kSteps[m_step].title) + ": the step was " + ShortNumber(held) +
                              (speed ? " m/s" : " m") + ", not " + ShortNumber(amplitude) +
                              ": its acceleration would ask more than " + ShortNumber(limit_A) +
                              " A, half the test's current limit, of the loops as tuned");
  return held;
}

// The current step: the setup's test current, or less where the winding
// would need more voltage than the drive has to follow it as the loop was
// designed. The loop is linear only below the voltage limit: a step that
// saturates the bridge rises slower than the design and the integral winds
// up meanwhile, overshooting far beyond the bound the passband was chosen
// for. The voltage the step needs is R i + L di/dt at the predicted
// response's steepest slope; the drive's sinusoidal limit is Vdc / 2.
double CommissioningUser::CurrentStep() {
  const double test = Value(m_setup, "TestCurrent");
  const double volts = kVoltageShare * Value(m_setup, "Vdc") / 2.0;
  const double ohms = Value(m_setup, "R") + Value(m_setup, "L") * m_currentSlope_per_s;
  if (!(ohms > 0.0) || !(volts > 0.0) || !(test > 0.0)) return test;
  const double step = std::min(test, volts / ohms);
  if (step < test)
    m_record.warnings.push_back(std::string(kSteps[m_step].title) + ": the step was " + ShortNumber(step) +
                                " A, not the test current " + ShortNumber(test) +
                                " A: the winding would need more than " + ShortNumber(kVoltageShare * 100.0) +
                                " % of the drive's voltage to follow it");
  return step;
}

// The "Test" page: the passband, Tune, Start, and the run to its end.
std::string CommissioningUser::StartScript(CMC_EditSetupDlg& test) {
  const Step& step = kSteps[m_step];
  std::string script;
  if (step.kind == Kind::CurrentTuning) {
    TypeIn(script, test, 3155, 3151, "rad/s", m_current.passband->passband_rad_s);
    if (Usable(test, 3149)) script += "click 3149\n";
  } else if (IsProfileCheck(step.kind)) {
    // The gains, feed-forward and protections as commissioned: no Tune.
    if (Usable(test, 1368)) script += "radio 1368\n";
  } else if (step.kind != Kind::AngleTuning) {
    // The data logger: the whole step, with the model's response over it.
    if (Usable(test, 1368)) script += "radio 1368\n";
    TypeIn(script, test, 1379, 1380, "rad/s", m_current.passband->passband_rad_s);
    if (Usable(test, 1390)) script += "click 1390\n";
  }
  m_phase = Phase::Judge;
  CheckBeforeStart();
  return script + "click 10000\n" + kUntilIdle;
}

// With the test's settings as the step typed them, just before Start.
void CommissioningUser::CheckBeforeStart() {
  const auto test = MotionTestOf(kSteps[m_step].kind);
  if (!test) return;
  // The current step's own Tune designs the current loop's gains.
  const PreTestFindings findings =
      CheckBeforeTest(m_setup, *test, *test == MotionTest::CurrentTuning, m_measuredSupply_V);
  for (const std::string& line : PreTestWarnings(findings)) {
    const std::string warning = std::string(kSteps[m_step].title) + ": " + line;
    m_record.warnings.push_back(warning);
    if (m_warn) m_warn(warning);
  }
}

std::string CommissioningUser::Judge(CMC_EditSetupDlg& test) {
  // The test as its run left it, when the view can take pictures.
  if (m_pictures && !m_pictured) {
    m_pictured = true;
    return "screenshot " + std::string(kSteps[m_step].key) + "\n";
  }
  m_pictured = false;
  const Step& step = kSteps[m_step];
  if (m_runs == 0 || m_lastResult != 1) {
    TakePlots(test);  // what the failed run showed, for the report
    if (IsProfileCheck(step.kind)) MeasureProfileRun(test);
    std::string why = m_runs == 0 ? (m_lastMessage.empty() ? std::string("the test did not start") : m_lastMessage)
                      : m_lastResult == 0 ? m_lastError
                                          : std::string("the test was stopped");
    // A profile that tripped a protection: what the model leaves out says
    // whether the drive could have followed it at all.
    if (m_runs > 0 && m_current.profile && !m_current.profile->modelLeavesOut.empty())
      why += "; the linear model leaves out " + m_current.profile->modelLeavesOut;
    Fail(why);
    // Nothing of a failed test is kept.
    return "answer no\nclick 2\n";
  }
  const bool tuning = step.kind != Kind::Identification && step.kind != Kind::MassIdentification;
  // The second measurement of the frequency response keeps the first's
  // plots before its own: both runs' responses.
  if (step.kind == Kind::FrequencyResponse && m_remeasuring)
    TakeTestPlots(test);
  else
    TakePlots(test);
  if (step.kind == Kind::FrequencyResponse) {
    const auto* response = dynamic_cast<const CTestFrequencyResponse*>(&test);
    if (response == nullptr || response->GetMeasured().frequency_Hz.empty()) {
      Fail("the frequency response dialog gave no measurement");
      return "click 2\n";
    }
    m_response = MeasuredSpeedLoop{response->GetMeasured(), response->GetModelPlant(), response->GetResonances(),
                                   response->GetComparison(), test.GetChildText(CTestFrequencyResponse::kFigures)};
    m_phase = Phase::Closing;
    return "click 2\n";
  }
  if (IsProfileCheck(step.kind))
    MeasureProfileRun(test);
  else if (const auto* dialog = dynamic_cast<CTuningTestDlg*>(&test);
           dialog != nullptr && dialog->GetLogger() != nullptr && step.kind != Kind::AngleTuning)
    MeasureResponse(test);
  // An identification keeps what it found: its closing question is
  // answered Yes; a tuning test keeps its gains with OK, the speed and
  // position tests after their profile is set back.
  m_phase = Phase::Closing;
  if (!tuning) return "answer yes\nclick 2\n";
  if (step.kind != Kind::AngleTuning) {
    m_phase = Phase::Restore;
    return "tab 1300 0\n";
  }
  return "click 1\n";
}

namespace {

// What the dialog calls a plot: the nearest label of several words before
// it, with the one-word label that follows that label (its unit), as
// "Phase A current (A)"; none when that label named an earlier plot.
std::string PlotCaption(const CMC_EditSetupDlg& dialog, int plot, std::vector<int>& named) {
  const std::vector<int>& order = dialog.ControlOrder();
  const auto at = std::find(order.begin(), order.end(), plot);
  std::string unit;
  for (auto it = std::make_reverse_iterator(at); it != order.rend(); ++it) {
    const ControlState* control = dialog.GetControl(*it);
    if (control == nullptr || control->kind == axcore::ControlKind::Plot) break;
    if (control->kind != axcore::ControlKind::Label || control->text.empty()) continue;
    if (control->text.find(' ') == std::string::npos) {
      unit = control->text;
      continue;
    }
    if (std::find(named.begin(), named.end(), *it) != named.end()) return {};
    named.push_back(*it);
    return unit.empty() ? control->text : control->text + " (" + unit + ")";
  }
  return {};
}

// What a profile run measured that the model leaves out and that moves the
// following error, in `profile`'s text and figures.
//
// A position profile's ramps start and end as steps of the reference's
// speed: the acceleration feed-forward asks for the whole step within one
// speed-loop period, a current of Mt dv / (Kf Ts_S). The drive gives no
// more than its current limit ("IlimPS") nor, at standstill, than the
// winding takes at the supply's sinusoidal limit (Vdc / 2 over R). Clipped
// there, the pulse gives the mover only Kf i_max Ts_S / Mt of the step and
// the loops make up the rest from the error; even at that current from the
// step on, the mover lags dv^2 / (2 a_max) by the time it has the speed. The
// model, linear, gives the mover the whole step in the period.
//
// On a speed profile's plateau (the reference held away from 0, the last
// half of it, where the loop has settled) the current the loop holds is
// what friction takes at that speed, Kf i: the model knows no friction, and
// the speed loop picks it up through its error alone.
void NoteWhatTheModelLeavesOut(const CMC_Setup& setup, bool speed, const std::vector<double>& time,
                               const std::vector<double>& reference, const std::vector<double>& current,
                               ProfileRecord& profile) {
  const double kf = Value(setup, "Kf"), mass = Value(setup, "Mt");
  const std::size_t n = std::min(time.size(), reference.size());
  if (!(kf > 0.0)) return;
  if (speed) {
    // The longest run of one reference value away from 0.
    std::size_t best = 0, bestLength = 0;
    for (std::size_t k = 0; k < n;) {
      std::size_t end = k + 1;
      while (end < n && reference[end] == reference[k]) ++end;
      if (reference[k] != 0.0 && end - k > bestLength) {
        best = k;
        bestLength = end - k;
      }
      k = end;
    }
    if (bestLength < 4 || current.size() < best + bestLength) return;
    double sum = 0.0;
    const std::size_t from = best + bestLength / 2, to = best + bestLength;
    for (std::size_t k = from; k < to; ++k) sum += current[k];
    const double held_A = sum / static_cast<double>(to - from);
    profile.friction_N = std::abs(kf * held_A);
    profile.frictionSpeed_m_s = std::abs(reference[best]);
    profile.modelLeavesOut = "friction: the plateau at " + ShortNumber(reference[best]) + " m/s holds " +
                             ShortNumber(held_A) + " A, " + ShortNumber(profile.friction_N) + " N at Kf " +
                             ShortNumber(kf) + " N/A, which the speed loop picks up through its error alone";
    // The ramp up to the plateau: the mass's acceleration and that friction
    // at the plateau's speed, against what the winding takes there from half
    // the supply less the back-EMF, (2/3) Kf v.
    double slope = 0.0;
    for (std::size_t k = 0; k + 1 < n; ++k)
      if (time[k + 1] > time[k])
        slope = std::max(slope, std::abs(reference[k + 1] - reference[k]) / (time[k + 1] - time[k]));
    const double r = PhaseResistance(setup), vdc = Value(setup, "Vdc"), limit_A = Value(setup, "IlimPS");
    if (!(mass > 0.0) || !(r > 0.0) || !(vdc > 0.0)) return;
    const double asked_A = (mass * slope + profile.friction_N) / kf;
    const double winding_A = std::max(0.0, vdc / 2.0 - 2.0 / 3.0 * kf * profile.frictionSpeed_m_s) / r;
    const double most_A = limit_A > 0.0 ? std::min(limit_A, winding_A) : winding_A;
    if (!(asked_A > most_A)) return;
    profile.available_A = most_A;
    profile.rampCurrent_A = asked_A;
    profile.modelLeavesOut += "; and the voltage limit: the ramp's " + ShortNumber(slope) + " m/s/s asks " +
                              ShortNumber(asked_A) + " A as it reaches " + ShortNumber(profile.frictionSpeed_m_s) +
                              " m/s, where the drive gives " + ShortNumber(most_A) + " A (" +
                              (most_A < limit_A || !(limit_A > 0.0) ? "the winding at Vdc / 2 less the back-EMF, over R"
                                                                     : "IlimPS") +
                              ")";
    return;
  }
  const double period = SpeedLoopPeriod(setup);
  if (!(mass > 0.0) || !(period > 0.0)) return;
  // The steps the record shows; without one (a run a protection ended
  // before the upload), those of the profile the setup holds: its amplitude
  // over each ramp's time.
  double step = 0.0, previous = 0.0;
  for (std::size_t k = 0; k + 1 < n; ++k) {
    const double dt = time[k + 1] - time[k];
    if (!(dt > 0.0)) return;
    const double v = (reference[k + 1] - reference[k]) / dt;
    step = std::max(step, std::abs(v - previous));
    previous = v;
  }
  if (n < 3) {
    const TestSettings held = SettingsOf(setup, Kind::PositionProfile);
    for (const double ramp_s : {held.ramp_s, held.secondRamp_s})
      if (ramp_s > 0.0) step = std::max(step, std::abs(held.amplitude) / ramp_s);
  }
  const double pulse_A = mass * step / (kf * period);
  const double limit_A = Value(setup, "IlimPS"), r = PhaseResistance(setup), vdc = Value(setup, "Vdc");
  const double winding_A = r > 0.0 && vdc > 0.0 ? vdc / 2.0 / r : std::numeric_limits<double>::infinity();
  const double most_A = std::min(limit_A > 0.0 ? limit_A : winding_A, winding_A);
  if (!(pulse_A > most_A) || !std::isfinite(most_A)) return;
  const double given = std::min(step, kf * most_A * period / mass);
  const double lag_m = step * step / (2.0 * kf * most_A / mass);
  profile.stepPulse_A = pulse_A;
  profile.available_A = most_A;
  profile.leastLag_m = lag_m;
  const char* limitedBy = most_A < limit_A || !(limit_A > 0.0) ? "the winding at Vdc / 2 over R" : "IlimPS";
  profile.modelLeavesOut = "the current limit: the profile's speed steps of " + ShortNumber(step) +
                           " m/s ask the acceleration feed-forward for " + ShortNumber(pulse_A) + " A within one " +
                           ShortNumber(period * 1e3) + " ms period, above the " + ShortNumber(most_A) +
                           " A the drive gives (" + limitedBy + "): the pulse gives the mover " + ShortNumber(given) +
                           " m/s of the step and the loops the rest, and even at " + ShortNumber(most_A) +
                           " A from the step on the mover lags " + ShortNumber(lag_m * 1e3) +
                           " mm by the time it has the speed";
}

// The friction a speed profile's run measured, split: along a ramp the
// loop follows the current is (Mt a + F_dry + b v) / Kf, a constant but for
// b v, so its slope against the measured speed over the ramp's second half
// (after the loop has caught the ramp) is b / Kf; the plateau's friction
// less b v is the dry part. The ramp up, unless it asks more current than
// the drive gives (it is not followed then), else the ramp down, which
// friction and the back-EMF help. Neither part below 0; b at most what the
// plateau's friction allows.
void SplitFriction(const CMC_Setup& setup, const std::vector<double>& reference, const std::vector<double>& speed,
                   const std::vector<double>& current, ProfileRecord& profile) {
  const double kf = Value(setup, "Kf");
  const std::size_t n = std::min({reference.size(), speed.size(), current.size()});
  if (!std::isfinite(profile.friction_N) || !(profile.frictionSpeed_m_s > 0.0) || n < 4) return;
  // The ramp up: where the reference first moves, up to where it stops
  // growing; the ramp down: from there on, past the plateau, up to where it
  // stops falling.
  std::size_t begin = 0;
  while (begin + 1 < n && reference[begin + 1] == reference[begin]) ++begin;
  std::size_t end = begin + 1;
  while (end < n && std::abs(reference[end]) > std::abs(reference[end - 1])) ++end;
  if (std::isfinite(profile.rampCurrent_A)) {
    begin = end;
    while (begin + 1 < n && reference[begin + 1] == reference[begin]) ++begin;
    end = begin + 1;
    while (end < n && std::abs(reference[end]) < std::abs(reference[end - 1])) ++end;
  }
  double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0, count = 0.0;
  for (std::size_t k = begin + (end - begin) / 2; k < end && k < n; ++k) {
    const double v = std::abs(speed[k]), i = std::copysign(current[k], speed[k]);
    sx += v;
    sy += i;
    sxx += v * v;
    sxy += v * i;
    ++count;
  }
  const double spread = count * sxx - sx * sx;
  double viscous = count >= 3.0 && spread > 0.0 ? kf * (count * sxy - sx * sy) / spread : 0.0;
  viscous = std::clamp(viscous, 0.0, profile.friction_N / profile.frictionSpeed_m_s);
  profile.viscousFriction_N_s_per_m = viscous;
  profile.dryFriction_N = profile.friction_N - viscous * profile.frictionSpeed_m_s;
}

}  // namespace

// The plots the test shows, as it shows them. A tuning test's graph is its
// logger's, with the model's response over the measured one.
void CommissioningUser::TakePlots(const CMC_EditSetupDlg& test) {
  m_current.plots.clear();
  TakeTestPlots(test);
  // The model's open loop after what the test showed.
  if (m_bode) m_current.plots.push_back(*m_bode);
}

void CommissioningUser::TakeTestPlots(const CMC_EditSetupDlg& test) {
  if (const auto* dialog = dynamic_cast<const CTuningTestDlg*>(&test);
      dialog != nullptr && dialog->GetLogger() != nullptr) {
    const CGraphDocument& graph = dialog->GetLogger()->GetPlotDocument();
    if (!graph.Column(0).empty()) m_current.plots.push_back({test.GetCaption(), graph.ToPlot(test.GetCaption()).ToSvg()});
    return;
  }
  std::vector<int> named;
  for (const int id : test.ControlOrder()) {
    const axcore::PlotDocument* plot = test.GetPlot(id);
    const ControlState* control = test.GetControl(id);
    if (plot == nullptr || control == nullptr || !control->shown) continue;
    const bool drawn = plot->Kind() != axcore::PlotKind::Curves ||
                       std::any_of(plot->Curves().begin(), plot->Curves().end(),
                                   [](const axcore::PlotCurve& curve) { return !curve.x.empty(); });
    if (drawn) m_current.plots.push_back({PlotCaption(test, id, named), plot->ToSvg()});
  }
}

void CommissioningUser::MeasureResponse(CMC_EditSetupDlg& test) {
  const Step& step = kSteps[m_step];
  const auto& dialog = dynamic_cast<const CTuningTestDlg&>(test);
  // Every tuning test logs the time, the reference and the measured signal
  // first; the model's response to the same reference is drawn over them.
  const CGraphDocument& graph = dialog.GetLogger()->GetPlotDocument();
  std::vector<double> time = graph.Column(0), reference = graph.Column(1), logged = graph.Column(2);
  std::vector<double> model;
  if (!graph.Overlay().empty()) model = graph.Overlay().front().y;
  // The first step and its plateau: up to where the reference leaves it.
  std::size_t end = reference.size();
  if (!reference.empty()) {
    const double from = reference.front();
    std::size_t i = 0;
    while (i < reference.size() && reference[i] == from) ++i;
    if (i + 2 < reference.size()) {
      const double plateau = reference[i + 1];
      std::size_t j = i + 1;
      while (j < reference.size() && std::abs(reference[j] - plateau) <= 0.01 * std::abs(plateau - from)) ++j;
      end = j;
    }
  }
  auto cut = [end](std::vector<double> v) {
    v.resize(std::min(end, v.size()));
    return v;
  };
  time = cut(std::move(time));
  reference = cut(std::move(reference));
  logged = cut(std::move(logged));

  ResponseRecord response;
  StepFigures measured, predicted;
  if (const auto* current = dynamic_cast<const CTestCurrent*>(&test)) {
    // One step over the whole record: the test's own figures.
    response.signal = "current";
    response.unit = "A";
    measured = current->MeasuredFigures();
    predicted = current->PredictedFigures();
    response.figures = test.GetChildText(3156);
  } else {
    const bool speed = step.kind == Kind::SpeedTuning;
    response.signal = speed ? "speed" : "position";
    response.unit = speed ? "m/s" : "m";
    measured = MeasureStep(time, reference, logged);
    if (model.size() >= time.size()) predicted = MeasureStep(time, reference, cut(std::move(model)));
    response.figures = test.GetChildText(1391);
  }
  // The noise: about the mean of the last tenth of the step's plateau.
  const std::size_t tail = logged.size() / 10;
  if (tail >= 2) {
    double mean = 0.0, square = 0.0;
    for (std::size_t k = logged.size() - tail; k < logged.size(); ++k) mean += logged[k];
    mean /= static_cast<double>(tail);
    for (std::size_t k = logged.size() - tail; k < logged.size(); ++k) square += (logged[k] - mean) * (logged[k] - mean);
    response.noise = std::sqrt(square / static_cast<double>(tail - 1));
  }
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  response.amplitude = measured.final - measured.initial;
  response.measuredRise_s = measured.valid ? measured.rise_s : kNaN;
  response.measuredOvershoot = measured.valid ? measured.overshoot : kNaN;
  response.measuredSettling_s = measured.valid ? measured.settling_s : kNaN;
  response.predictedRise_s = predicted.valid ? predicted.rise_s : kNaN;
  response.predictedOvershoot = predicted.valid ? predicted.overshoot : kNaN;
  response.measuredBandwidth_rad_s =
      measured.valid && measured.rise_s > 0.0 ? kRiseBandwidthProduct / measured.rise_s : 0.0;
  // A single sample can stand some three standard deviations of noise
  // above the response itself.
  const double noiseShare =
      response.amplitude != 0.0 ? kNoiseDeviations * response.noise / std::abs(response.amplitude) : 0.0;
  if (!measured.valid)
    m_record.warnings.push_back(std::string(step.title) + ": no step found in the logged response");
  else if (predicted.valid && measured.overshoot > predicted.overshoot + kOvershootAllowance + noiseShare)
    m_record.warnings.push_back(std::string(step.title) + ": the measured overshoot " +
                                ShortNumber(measured.overshoot * 100.0) + " % exceeds the model's " +
                                ShortNumber(predicted.overshoot * 100.0) + " % by more than " +
                                ShortNumber(kOvershootAllowance * 100.0) + " points and the noise (" +
                                ShortNumber(noiseShare * 100.0) + " %)");
  m_current.response = response;
}

// The following error of a profile run: |reference - response| over the
// whole record, largest and root mean square, beside the model's response
// to the same reference (the dashed curve the test draws).
void CommissioningUser::MeasureProfileRun(CMC_EditSetupDlg& test) {
  const auto* dialog = dynamic_cast<const CTuningTestDlg*>(&test);
  if (dialog == nullptr || dialog->GetLogger() == nullptr) return;
  const CGraphDocument& graph = dialog->GetLogger()->GetPlotDocument();
  const std::vector<double> reference = graph.Column(1), logged = graph.Column(2);
  auto errors = [&reference](const std::vector<double>& response, double& peak, double& rms) {
    const FollowingError error = MeasureFollowingError(reference, response);
    peak = error.peak;
    rms = error.rms;
  };
  ProfileRecord profile;
  const bool speed = kSteps[m_step].kind == Kind::SpeedProfile;
  profile.signal = speed ? "speed" : "position";
  profile.unit = speed ? "m/s" : "m";
  errors(logged, profile.measuredPeak_error, profile.measuredRms_error);
  errors(graph.Overlay().empty() ? std::vector<double>() : graph.Overlay().front().y, profile.predictedPeak_error,
         profile.predictedRms_error);
  profile.figures = test.GetChildText(1391);
  const std::vector<double> time = graph.Column(0);
  const std::vector<double> current = speed && graph.Columns().size() > 3 ? graph.Column(3) : std::vector<double>();
  NoteWhatTheModelLeavesOut(m_setup, speed, time, reference, current, profile);
  // The model again with what it left out: the drive's current limit, the
  // voltage its current loop can put on the winding, and the friction the
  // speed profile measured (the position profile runs after it). Only where
  // the record holds one sample per tick, as the model runs.
  if (speed) {
    SplitFriction(m_setup, reference, logged, current, profile);
    if (std::isfinite(profile.dryFriction_N)) {
      m_dryFriction_N = profile.dryFriction_N;
      m_viscousFriction_N_s_per_m = profile.viscousFriction_N_s_per_m;
    }
  } else {
    profile.dryFriction_N = m_dryFriction_N;
    profile.viscousFriction_N_s_per_m = m_viscousFriction_N_s_per_m;
  }
  const double tick = SpeedLoopPeriod(m_setup);
  std::vector<double> simulated;
  if (time.size() >= 2 && std::isfinite(profile.dryFriction_N) && tick > 0.0 &&
      std::abs((time[1] - time[0]) - tick) <= 0.01 * tick) {
    ProfileNonlinearities terms;
    terms.position = !speed;
    terms.current_A = Value(m_setup, "IlimPS");
    // The q-axis voltage the drive's current loop stops at.
    terms.voltage_V = WindingVoltageLimit(Value(m_setup, "Vdc"), Value(m_setup, "SATIQ"));
    terms.dryFriction_N = profile.dryFriction_N;
    terms.viscousFriction_N_s_per_m = profile.viscousFriction_N_s_per_m;
    if (SimulateProfile(m_setup, reference, terms, simulated))
      errors(simulated, profile.limitedPeak_error, profile.limitedRms_error);
    else
      simulated.clear();
  }
  m_current.profile = profile;
  std::vector<std::pair<const std::vector<double>*, axcore::LineStyle>> responses{{&logged, axcore::LineStyle::Solid}};
  std::vector<std::string> names{"Measured"};
  if (!graph.Overlay().empty()) {
    responses.emplace_back(&graph.Overlay().front().y, axcore::LineStyle::Dashed);
    names.emplace_back("Linear model");
  }
  if (!simulated.empty()) {
    responses.emplace_back(&simulated, axcore::LineStyle::Dotted);
    names.emplace_back("Model with the drive's limits and the friction measured");
  }
  m_current.plots.push_back(
      {std::string("Following error, reference minus response (") + (speed ? "mm/s" : "mm") +
           "): measured on the drive, solid; the linear model's, dashed; the model's with the drive's current "
           "and voltage limits and the friction the speed profile measured, dotted",
       FollowingErrorPlotSvg(std::string(kSteps[m_step].title) + ": following error", speed, time, reference,
                             responses, names),
       true});
}

bool CommissioningUser::RetuneOnMeasuredPlant(CMC_Setup& setup, std::string& line) {
  const MeasuredSpeedLoop& r = *m_response;
  PassbandSearch search;
  // The loop is measured again with the new gains: a measured margin
  // scatters by a degree or two and some tenths of a decibel from run to
  // run (friction, noise), so the retune keeps that much beyond the bounds.
  search.margins = m_bounds;
  search.margins->phaseMargin_deg += kMeasuredPhaseScatter_deg;
  search.margins->gainMargin_dB += kMeasuredGainScatter_dB;
  search.marginsOf = [&](const CMC_Setup& trial) {
    return WorstOf(ComputeLoopMargins(trial, TunedLoop::Speed),
                   MarginsOnMeasuredPlant(trial, TunedLoop::Speed, r.measured, r.modelPlant));
  };
  const double own = Value(setup, "Dump_S", 1.0);
  PassbandChoice best;
  double bestDamping = own;
  for (double d : kDampings) {
    setup.SetParameterValueInBaseUnit("Dump_S", d);
    PassbandChoice trial = ChoosePassband(setup, TunedLoop::Speed, search);
    if (trial.valid && trial.met && (!best.met || trial.margins.crossover_rad_s > best.margins.crossover_rad_s)) {
      best = std::move(trial);
      bestDamping = d;
    }
  }
  setup.SetParameterValueInBaseUnit("Dump_S", best.met ? bestDamping : own);
  if (!best.met) {
    line = "no passband of PB_S keeps the " + m_marginSet + " margins on the measured plant";
    return false;
  }
  SampledLoopResponse response;
  PredictTunedLoop(setup, TunedLoop::Speed, best.passband_rad_s, response);
  line = "PB_S " + ShortNumber(best.passband_rad_s) + " rad/s, damping " + ShortNumber(bestDamping) + ": " +
         FormatMargins(best.margins);
  return true;
}

bool CommissioningUser::ActOnFrequencyResponse() {
  if (!m_response) {
    Fail("the frequency response was not measured");
    return false;
  }
  const MeasuredSpeedLoop& r = *m_response;
  FrequencyResponseRecord record;
  record.measuredMargins = FormatMargins(r.comparison.measured);
  record.modelMargins = FormatMargins(r.comparison.model);
  record.comparison = r.figures;
  for (const Resonance& resonance : r.resonances)
    record.resonances.push_back({resonance.frequency_Hz, resonance.height_dB, resonance.width_Hz});
  record.filtersBefore = DescribeFilters(m_setup);
  const std::string title = kSteps[m_step].title;
  auto act = [&](const std::string& what) {
    record.actions.push_back(what);
    m_record.warnings.push_back(title + ": " + what);
    if (m_warn) m_warn(title + ": " + what);
  };

  // The same loop without a notch, to show what the notch is for.
  CMC_Setup withoutNotch(m_setup);
  bool notched = false;
  if (!r.resonances.empty()) {
    const Resonance& highest = r.resonances.front();
    const NotchPlacement notch = PlaceNotch(m_setup, highest);
    if (notch.filter == 0) {
      act("no notch placed on the resonance at " + ShortNumber(highest.frequency_Hz) + " Hz: " + notch.error);
    } else {
      notched = true;
      record.notch = "filter " + std::to_string(notch.filter) + ": Notch at the Speed Controller Output, " +
                     ShortNumber(notch.frequency_Hz) + " Hz, Q " + ShortNumber(notch.q) + (notch.moved ? " (moved)" : "");
      act("a notch (filter " + std::to_string(notch.filter) + ", " + ShortNumber(notch.frequency_Hz) + " Hz, Q " +
          ShortNumber(notch.q) + ") takes down the resonance " + ShortNumber(highest.height_dB) +
          " dB above the rigid-body line");
    }
  }
  // A low-pass filter on the current reference guards against resonances
  // and noise above the loop. When the measurement found no resonance above
  // the rigid-body line, or the one it found is notched, the filter only
  // costs the speed loop phase at its crossover: it is dropped and the loop
  // retuned by its margins without it (kept where the loop would not gain).
  std::vector<int> lowPasses;
  for (int n = 1; n <= kBiquadFilterCount; ++n) {
    const std::string number = std::to_string(n);
    const double type = Value(m_setup, ("BQFilterType" + number).c_str(), -1.0);
    if (Value(m_setup, ("BQFilter" + number).c_str()) != 0.0 &&
        Value(m_setup, ("BQFilterLocation" + number).c_str(), -1.0) == 1.0 && (type == 0.0 || type == 1.0))
      lowPasses.push_back(n);
  }
  const bool allNotched = notched && r.resonances.size() == 1;
  bool dropped = false;
  for (int n : lowPasses) {
    const std::string number = std::to_string(n);
    const std::string which = "the low-pass filter " + number + " (" +
                              ShortNumber(Value(m_setup, ("BQFilterF1" + number).c_str())) +
                              " Hz) on the current reference";
    if (allNotched) {
      m_setup.SetParameterValueInBaseUnit("BQFilter" + number, 0.0);
      withoutNotch.SetParameterValueInBaseUnit("BQFilter" + number, 0.0);
      act(which + " was dropped: it cost the speed loop phase at its crossover and guards against nothing the "
                  "measurement found (the resonance at " +
          ShortNumber(r.resonances.front().frequency_Hz) + " Hz is notched)");
    } else if (r.resonances.empty()) {
      CMC_Setup without(m_setup);
      without.SetParameterValueInBaseUnit("BQFilter" + number, 0.0);
      CBiquadDesign redesign;
      std::string line;
      const double before = ComputeLoopMargins(m_setup, TunedLoop::Speed).crossover_rad_s;
      if (redesign.EncodeFilters(without) != 0 && RetuneOnMeasuredPlant(without, line) &&
          ComputeLoopMargins(without, TunedLoop::Speed).crossover_rad_s > before) {
        m_setup.SetParameterValueInBaseUnit("BQFilter" + number, 0.0);
        dropped = true;
        act(which + " was dropped: it cost the speed loop phase at its crossover and guards against nothing the "
                    "measurement found (no resonance above the rigid-body line); the speed loop retuned without it: " +
            line);
      }
    }
  }
  if (!notched && !dropped) {
    // Nothing changes: the loop as tuned, its margins as measured.
    if (!MeetsBounds(r.comparison.measured, m_bounds))
      act("the speed loop's margins as measured (" + record.measuredMargins + ") fall short of the " + m_marginSet +
          " margins its model keeps");
    record.filtersAfter = DescribeFilters(m_setup);
    m_current.frequencyResponse = record;
    m_response.reset();
    return true;
  }
  CBiquadDesign design;
  if (design.EncodeFilters(m_setup) == 0 || design.EncodeFilters(withoutNotch) == 0) {
    Fail("the filters cannot be encoded: " + design.GetLastError());
    return false;
  }
  std::string line;
  const bool retuned = RetuneOnMeasuredPlant(m_setup, line);
  record.retuned = line;
  if (notched) {
    std::string other;
    RetuneOnMeasuredPlant(withoutNotch, other);
    record.withoutNotch = other;
  }
  record.filtersAfter = DescribeFilters(m_setup);
  m_current.frequencyResponse = record;
  m_response.reset();
  if (!retuned) {
    Fail(line);
    return false;
  }
  return true;
}

void CommissioningUser::EndStep() {
  m_current.verdict = StepRecord::Verdict::Passed;
  if (m_before) m_current.changes = Changes(*m_before, m_setup);
  m_current.driveTime_s = axcore::CurrentPlatform().Now() - m_stepStart_s;
  m_record.steps.push_back(m_current);
  if (m_report) m_report(m_record.steps.back(), static_cast<int>(m_step), kStepCount);
  ++m_step;
  m_phase = Phase::Open;
}

void CommissioningUser::Skip(const std::string& why) {
  m_current.verdict = StepRecord::Verdict::Skipped;
  m_current.detail = why;
  m_record.steps.push_back(m_current);
  if (m_report) m_report(m_record.steps.back(), static_cast<int>(m_step), kStepCount);
  ++m_step;
  m_phase = Phase::Open;
}

void CommissioningUser::Fail(const std::string& detail) {
  m_failed = true;
  m_current.verdict = StepRecord::Verdict::Failed;
  m_current.detail = detail;
  m_current.driveTime_s = axcore::CurrentPlatform().Now() - m_stepStart_s;
  m_record.steps.push_back(m_current);
  m_record.failure = m_current.title + ": " + detail;
  if (m_report) m_report(m_record.steps.back(), static_cast<int>(m_step), kStepCount);
}

}  // namespace axhost
