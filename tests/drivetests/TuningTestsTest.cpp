// The current and electric angle controller tuning tests through their
// dialogs on the virtual drive: the current loop's step against its model
// and against the continuous design worked out here, gains that reach the
// drive at once during a run and with the next download otherwise, the
// protection checks, the angle search's verdicts and the slider spans.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DriveTestRun.h"
#include "TestAngle.h"
#include "TestCurrent.h"
#include "TuningTestDlg.h"
#include "support/SetupMutations.h"

namespace {

using drivetest_testing::RunTest;
using virtualdrive::Connection;
using virtualdrive::PlantParameters;
using virtualdrive::VirtualDrive;

constexpr int kTune = 3149;
// A gain in V/A as the drive scales it, voltage-command counts per
// converter count: K_V / K_I = (65534 / (1.1 x 47.2 V)) / (65472 / 20 A).
constexpr double kScaledPerOhm = 65534.0 / (1.1 * 47.2) / (65472.0 / 20.0);

// The setup as identification leaves it for `plant`: the resistance and
// inductance of one winding (a delta's too: the loop model takes its star
// equivalent from the connection type) and the supply the drive measures.
std::unique_ptr<CMC_Setup> SetupFor(const PlantParameters& plant) {
  auto setup = drivetest_testing::ExampleSetup();
  setup->SetParameterValueInBaseUnit("R", plant.phase_resistance_ohm);
  setup->SetParameterValueInBaseUnit("L", plant.phase_inductance_H);
  setup->SetParameterValueInBaseUnit("MotorPhaseConnectionType", plant.connection == Connection::Delta ? 1 : 0);
  setup->SetParameterValueInBaseUnit("Vdc", plant.vdc_V);
  return setup;
}

std::string TuneAndRun(double passband_rad_s) {
  char line[64];
  std::snprintf(line, sizeof line, "type 3155 %.17g\n", passband_rad_s);
  return std::string("tab 1300 1\nunit 3151 rad/s\n") + line + "click 3149\nclick 10000\nuntil-idle\n";
}

// The 10-90 % rise of the continuous loop the design places (damping 1) on
// a winding of star-equivalent L and R: T(s) = (Kp s + Ki) / (L s^2 + (R +
// Kp) s + Ki), Kp = 2 w L - R (V/A), Ki = L w^2 (V/(A s)), stepped by
// Euler in 10 ns.
double ContinuousRise(double l, double r, double w) {
  const double kp = 2.0 * w * l - r, ki = l * w * w, h = 1e-8;
  double i = 0.0, integral = 0.0, t = 0.0, t10 = 0.0;
  while (i < 0.9) {
    const double next = i + h * (-r * i + kp * (1.0 - i) + ki * integral) / l;
    integral += h * (1.0 - i);
    t += h;
    if (t10 == 0.0 && next >= 0.1) t10 = t;
    i = next;
  }
  return t - t10;
}

TEST(TuningTests, CurrentStepFollowsTheLoopModel) {
  const PlantParameters example = virtualdrive::ExamplePlant();
  PlantParameters delta = example;
  delta.connection = Connection::Delta;
  delta.phase_inductance_H = 5.0 * example.phase_inductance_H;
  for (const PlantParameters& plant : {example, delta}) {
    // The star equivalent of a delta has a third of the winding's R and L.
    const double share = plant.connection == Connection::Delta ? 1.0 / 3.0 : 1.0;
    const double l = share * plant.phase_inductance_H, r = share * plant.phase_resistance_ohm;
    for (double w : {1000.0, 2000.0, 3000.0, 4000.0}) {
      // The first voltage Kp I of the step stays below 70 % of the q
      // axis's limit, (32767 - SATIQ) counts of 1.1 x 47.2 V / 65534,
      // 23.9 V: beyond it the bridge clamps and the loop is slower than
      // any linear model.
      const double kp = 2.0 * w * l - r, current = std::fmin(1.5, 0.7 * 23.9 / kp);
      SCOPED_TRACE((share == 1.0 ? "star " : "delta ") + std::to_string(w) + " rad/s, " + std::to_string(current));
      auto setup = SetupFor(plant);
      setup->SetParameterValueInBaseUnit("TestCurrent", current);
      auto run = RunTest<CTestCurrent>(*setup, TuneAndRun(w) + "click 2\n", plant);
      ASSERT_EQ(run.failure, "");
      ASSERT_EQ(run.dialog->GetTestResult(), 1) << run.dialog->GetErrorText();
      const StepFigures& measured = run.dialog->MeasuredFigures();
      const StepFigures& predicted = run.dialog->PredictedFigures();
      ASSERT_TRUE(measured.valid && predicted.valid);
      EXPECT_EQ(run.dialog->VoltageAtLimit(), 0);
      EXPECT_NEAR(setup->GetParameterValueInBaseUnit("Kp_C_scl"), kp * kScaledPerOhm, 1e-4 * kp * kScaledPerOhm);
      EXPECT_NEAR(measured.rise_s, predicted.rise_s, 0.15 * predicted.rise_s);
      // One converter count is 20 A / 1024 = 0.0195 A, 2.6 % of 0.75 A:
      // the overshoot of a small step is known to a few points only.
      EXPECT_NEAR(measured.overshoot, predicted.overshoot, std::fmax(0.15 * predicted.overshoot, 0.03));
      // A loop that rises over 50 periods (the example's at 1000 rad/s,
      // 2.55 ms) is the continuous design; the delta's at 1000 rad/s rises
      // in 18 periods, which the period of delay and the hold make 15 %
      // faster.
      if (w == 1000.0 && plant.connection == Connection::Star) {
        const double continuous = ContinuousRise(l, r, w);
        EXPECT_NEAR(predicted.rise_s, continuous, 0.15 * continuous);
      }
    }
  }
}

// The current test noting, right after each Tune and each gain typed by
// hand, the proportional gain the drive holds and the one the setup holds
// (KPI 2^SFTKPI / 32767), and the rise times of each run it finishes.
class WatchedCurrent : public CTestCurrent {
 public:
  WatchedCurrent(CMC_Setup* setup, VirtualDrive* const& drive) : CTestCurrent(setup), m_drive(drive) {}
  bool OnCommand(int id) override {
    const bool handled = CTestCurrent::OnCommand(id);
    if (id == kTune) Note();
    return handled;
  }
  void OnRefreshParameterValue(const char* name) override {
    CTestCurrent::OnRefreshParameterValue(name);
    if (std::string(name) == "Kp_C_scl") Note();
  }
  void OnRunTimer() override {
    CTestCurrent::OnRunTimer();
    if (!IsTestRunning() && GetTestResult() == 1)
      rises.push_back({MeasuredFigures().rise_s, PredictedFigures().rise_s});
  }
  struct Gains {
    bool running;
    double drive, setup;
  };
  std::vector<Gains> notes;
  std::vector<std::pair<double, double>> rises;  // measured, predicted

 private:
  void Note() {
    auto gain = [](double kpi, double shift) { return std::ldexp(kpi, static_cast<int>(shift)) / 32767.0; };
    const CMC_Setup& s = Setup();
    notes.push_back({IsTestRunning(), gain(m_drive->Firmware().Register("KPI"), m_drive->Firmware().Register("SFTKPI")),
                     gain(s.GetParameterValueInBaseUnit("KPI"), s.GetParameterValueInBaseUnit("SFTKPI"))});
  }
  VirtualDrive* const& m_drive;
};

// Tune during a run (in the positioning, tens of ms long) writes the new
// gains to the drive at once; a gain typed between runs changes only the
// setup until the next Start downloads it.
TEST(TuningTests, GainsReachTheDriveAtOnceOnlyWhileATestRuns) {
  const PlantParameters plant = virtualdrive::ExamplePlant();
  auto setup = SetupFor(plant);
  setup->SetParameterValueInBaseUnit("TestCurrent", 0.75);
  VirtualDrive* drive = nullptr;
  // By hand: Kp = 2 x 3000 x 3.8 mH - 4.45 ohm = 18.35 V/A, 7.0753 as
  // the drive scales it (the drive ran the example's 14.649 from Start).
  const double kp = 18.35 * kScaledPerOhm;
  auto run = RunTest<WatchedCurrent>(
      *setup,
      "tab 1300 1\nunit 3151 rad/s\ntype 3155 3000\nclick 10000\nwait 10\nclick 3149\nuntil-idle\n"
      "type 1335 " + std::to_string(0.5 * kp) + "\nclick 10000\nuntil-idle\nclick 2\n",
      [&](CMC_Setup& s) { return std::make_unique<WatchedCurrent>(&s, drive); }, plant,
      [&](VirtualDrive& d) { drive = &d; });
  ASSERT_EQ(run.failure, "");
  ASSERT_EQ(run.dialog->notes.size(), 2u);
  EXPECT_TRUE(run.dialog->notes[0].running);
  EXPECT_NEAR(run.dialog->notes[0].setup, kp, 1e-3);
  EXPECT_EQ(run.dialog->notes[0].drive, run.dialog->notes[0].setup);
  EXPECT_FALSE(run.dialog->notes[1].running);
  EXPECT_NEAR(run.dialog->notes[1].setup, 0.5 * kp, 1e-3);
  EXPECT_EQ(run.dialog->notes[1].drive, run.dialog->notes[0].drive);
  // The second run has half the proportional gain and rises more slowly:
  // the sampled loop in 0.31 ms instead of 0.20 ms (the continuous one in
  // 0.41 ms instead of 0.36 ms).
  ASSERT_EQ(run.dialog->rises.size(), 2u);
  for (auto [measured, predicted] : run.dialog->rises) EXPECT_NEAR(measured, predicted, 0.15 * predicted);
  EXPECT_GT(run.dialog->rises[1].first, 1.25 * run.dialog->rises[0].first);
}

TEST(TuningTests, CurrentProtectionBelowTheTestCurrentOrTripped) {
  // A protection below the test current keeps the "Test" page shut.
  auto low = SetupFor(virtualdrive::ExamplePlant());
  testing_support::SetRawValue(*low->FindParameter("TestCurrent"), 3.0);
  low->SetParameterValueInBaseUnit("TestProtectionCurrent", 2.0);
  auto refused = RunTest<CTestCurrent>(*low, "tab 1300 1\nclick 2\n");
  ASSERT_EQ(refused.failure, "");
  ASSERT_EQ(refused.boxes.size(), 1u);
  EXPECT_EQ(refused.boxes[0].text, "Over current protection must be greater or equal to Test current.");
  EXPECT_EQ(refused.Control(1300).selection, 0);
  EXPECT_EQ(refused.dialog->Page(), 0);
  EXPECT_FALSE(refused.Control(1361).shown);
  // Equal to the test current it lets the page open, and the 18 % overshoot
  // of a 4000 rad/s loop trips it.
  auto equal = SetupFor(virtualdrive::ExamplePlant());
  equal->SetParameterValueInBaseUnit("TestCurrent", 0.6);
  equal->SetParameterValueInBaseUnit("TestProtectionCurrent", 0.6);
  auto tripped = RunTest<CTestCurrent>(*equal, TuneAndRun(4000.0) + "click 2\n");
  ASSERT_EQ(tripped.failure, "");
  EXPECT_EQ(tripped.dialog->GetTestResult(), 0);
  EXPECT_EQ(tripped.dialog->GetErrorText(), "Test failed!\nCurrent protection triggered during test!");
  EXPECT_TRUE(tripped.Control(1361).shown);
}

// The angle test noting "theta_1" as each run ends.
class WatchedAngle : public CTestAngle {
 public:
  using CTestAngle::CTestAngle;
  void OnRunTimer() override {
    CTestAngle::OnRunTimer();
    if (IsTestRunning()) return;
    CMC_CoffFormat program;
    std::string error;
    LoadProgram(program, "Angle_Controller_Tuning_Test");
    GetUserVariableValue(program, "theta_1", theta, error);
  }
  double theta = 0.0;
};

TEST(TuningTests, AngleSearchVerdictsDetailsAndLogger) {
  using Change = std::function<void(CMC_Setup&)>;
  const Change none = [](CMC_Setup&) {};
  const char* const notStabilised =
      "Test failed!\n\nIf the Test current doesn\u2019t decreases to zero, increase/decrease";
  const struct {
    const char* what;
    Change change;
    const char* user;     // script lines before Start
    const char* details;  // after the run: the answer to the Details box, "" when not opened
    const char* error;    // start of the error text, "" for a pass
    unsigned style;       // of the Details box
    int points, step;     // of the logger
  } cases[] = {
      // clang-format off
      {"example, logging 1000 points every 3rd sample",
       [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("AquisitionsNo", 1000); s.SetParameterValueInBaseUnit("SamplingRate", 3); },
       "", "", "", 0, 1000, 3},
      {"without the logger settings",
       [](CMC_Setup& s) { s.RemoveParameter("AquisitionsNo"); s.RemoveParameter("SamplingRate"); }, "", "", "", 0, 2000, 2},
      // The setup's number of points alone is not taken.
      {"without the sampling",
       [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("AquisitionsNo", 1000); s.RemoveParameter("SamplingRate"); },
       "", "", "", 0, 2000, 2},
      // The mover is dragged away and crept back too slowly to settle.
      {"a hundredth of the example's Kp", none, "type 1335 0.005\n", "help", notStabilised, 0x4010, 2000, 2},
      // 24.3 N/A x 0.05 A is below the 2.5 N of dry friction.
      {"too little current", [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("MAX_CURRENT", 0.05); }, "", "ok",
       "Test failed!\nTest current may not be enough. Please increase test current.", 0x10, 2000, 2},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = drivetest_testing::ExampleSetup();
    c.change(*setup);
    std::string script = std::string("tab 1300 1\n") + c.user + "click 10000\nuntil-idle\n";
    if (*c.details) script += std::string("answer ") + c.details + "\nclick 10003\n";
    auto run = RunTest<WatchedAngle>(*setup, script + "click 2\n");
    ASSERT_EQ(run.failure, "");
    const std::string& error = run.dialog->GetErrorText();
    EXPECT_EQ(run.dialog->GetTestResult(), *c.error ? 0 : 1) << error;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    const LoggerSettings& logger = run.dialog->GetLogger()->GetSettings();
    EXPECT_EQ(logger.points, c.points);
    EXPECT_EQ(logger.logType, 2);
    EXPECT_EQ(logger.step, c.step);
    const auto& rows = run.dialog->GetLogger()->GetPlotDocument().Rows();
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(c.points));
    EXPECT_NEAR(rows[1][0] - rows[0][0], c.step * 50e-6, 1e-9);
    if (!*c.details) continue;
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, error);
    EXPECT_EQ(run.boxes[0].style, c.style);
    if (c.style != 0x4010) {
      EXPECT_TRUE(run.help.empty());
      continue;
    }
    // The angle the run ended at, its integer part in place of "%s".
    const std::string near = std::to_string(static_cast<int>(run.dialog->theta));
    EXPECT_NE(error.find("close to " + near + " with a tolerance"), std::string::npos) << error;
    EXPECT_GT(std::fabs(run.dialog->theta + 16384.0), 1820.0);
    ASSERT_EQ(run.help.size(), 1u);
    EXPECT_NE(run.help[0].find("(context 0x40112)"), std::string::npos) << run.help[0];
  }
}

TEST(TuningTests, SliderSpansHalfToOneAndAHalfTimesTheGain) {
  const struct {
    double value, minimum, maximum, lo, hi;
  } cases[] = {
      {2, 0, 10, 1, 3},
      {8, 0, 10, 4, 10},
      // No span around 0, an inverted one below it or an empty one above
      // the range: the whole range.
      {0, 0, 10, 0, 10},
      {-2, -10, 10, -10, 10},
      {20, 0, 10, 0, 10},
  };
  for (const auto& c : cases) {
    const auto [lo, hi] = TuningSliderSpan(c.value, c.minimum, c.maximum);
    EXPECT_EQ(lo, c.lo) << c.value;
    EXPECT_EQ(hi, c.hi) << c.value;
  }
}

}  // namespace
