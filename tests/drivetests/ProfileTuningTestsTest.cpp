// The speed and position tuning tests through their dialogs on the virtual
// drive: every display way runs and ends cleanly (the drive program stopped
// after repeated cycles), the scope and the data logger draw the same
// response, a link lost in a scope run fails it with the link's text, and
// the dialogs' rules for limits, start current, amplitude, mass and the
// position test's program and current limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "DriveTestRun.h"
#include "Scales.h"
#include "TestPositionTuning.h"
#include "TestSpeedTuning.h"
#include "axcore/Setup.h"

namespace {

using drivetest_testing::RunTest;
using virtualdrive::VirtualDrive;

// The example with a speed loop that the sampling rate can carry (150 rad/s
// at 2 kHz), the scope offered or not.
std::unique_ptr<CMC_Setup> SpeedSetup(bool scope) {
  auto setup = drivetest_testing::ExampleSetup();
  setup->SetOption("hasOscilloscope", scope ? "1" : "0");
  return setup;
}
const std::string kTune = "tab 1300 1\nunit 1380 rad/s\ntype 1379 150\nclick 1390\n";

TEST(ScopeScale, OneTwoFiveStepNotBelowTheSpan) {
  const struct {
    double span, scale;
  } cases[] = {{0.125, 0.2}, {3.0, 5.0}, {1.0, 1.0}, {2.5, 5.0}, {0.011, 0.02}, {0.0, 0.2}, {-1.0, 0.2}, {7.0, 10.0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ScopeScalePerDivision(c.span), c.scale) << c.span;
}

TEST(ProfileTuningRuns, EveryDisplayWayEndsCleanlyWithTheDriveProgramStopped) {
  const struct {
    const char* what;
    bool scope;
    bool cycles;         // "Multiple Cycle Movement"
    const char* script;  // after Tune
  } cases[] = {
      {"data logger, one cycle", true, false, "click 10000\nuntil-idle 5000\n"},
      {"data logger, cycles until Stop", true, true, "click 10000\nwait 1500\nclick 10000\nuntil-idle 5000\n"},
      {"scope, one sweep", true, false, "radio 1369\nclick 10000\nuntil-idle 5000\n"},
      {"scope, cycles until Stop", true, true, "radio 1369\nclick 10000\nwait 1500\nclick 10000\nuntil-idle 5000\n"},
      {"polling plot, cycles until Stop", false, true,
       "radio 1369\nclick 10000\nwait 800\nclick 10016\nwait 50\nclick 10017\nwait 50\nclick 10000\nuntil-idle "
       "5000\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = SpeedSetup(c.scope);
    auto run = RunTest<CTestSpeedTuning>(
        *setup, std::string("check 1332 ") + (c.cycles ? "1\n" : "0\n") + kTune + c.script + "click 2\n");
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.dialog->GetTestResult(), 1) << run.dialog->GetErrorText();
    EXPECT_FALSE(run.drive->ProgramRunning());
    EXPECT_FALSE(run.dialog->IsTestRunning());
    if (c.scope) {
      EXPECT_FALSE(run.dialog->GetScopeLogger()->IsUploading());
    } else {
      EXPECT_GT(run.dialog->GetPollingPlot().GetSampleCount(), 100);
    }
  }
}

// The scope's sweep and the logged run show the same load speed at the
// same moments of the profile: the trigger (the end of the first ramp) at
// time 0 of the sweep is where the logged reference reaches its plateau.
TEST(ProfileTuningRuns, ScopeAndDataLoggerAgreeOnTheResponse) {
  auto logged = SpeedSetup(true);
  auto logRun = RunTest<CTestSpeedTuning>(*logged, kTune + "click 10000\nuntil-idle 5000\nclick 2\n");
  auto swept = SpeedSetup(true);
  auto scopeRun = RunTest<CTestSpeedTuning>(*swept, kTune + "radio 1369\nclick 10000\nuntil-idle 5000\nclick 2\n");
  ASSERT_EQ(logRun.dialog->GetTestResult(), 1);
  ASSERT_EQ(scopeRun.dialog->GetTestResult(), 1);
  const CGraphDocument& log = logRun.dialog->GetLogger()->GetPlotDocument();
  const CGraphDocument& scope = scopeRun.dialog->GetScopeLogger()->GetPlotDocument();
  const std::vector<double> logTime = log.Column(0), logReference = log.Column(1), logSpeed = log.Column(2);
  const std::vector<double> scopeTime = scope.Column(0), scopeSpeed = scope.Column(2);
  const double plateau = logged->GetParameterValueInBaseUnit("TestSpeed");
  const auto reached = std::find_if(logReference.begin(), logReference.end(), [&](double v) { return v >= plateau; });
  ASSERT_NE(reached, logReference.end());
  const double t0 = logTime[static_cast<std::size_t>(reached - logReference.begin())];
  const double period = logTime[1] - logTime[0];
  int compared = 0;
  for (std::size_t i = 0; i < scopeTime.size(); ++i) {
    if (std::isnan(scopeSpeed[i])) continue;
    const double t = t0 + scopeTime[i];
    const auto at = std::lower_bound(logTime.begin(), logTime.end(), t - period / 2);
    if (at == logTime.end() || std::fabs(*at - t) > period / 2) continue;
    // Within a sample period: between the logged neighbours' values.
    const std::size_t k = static_cast<std::size_t>(at - logTime.begin());
    const double lo = std::min(logSpeed[k > 0 ? k - 1 : k], logSpeed[std::min(k + 1, logSpeed.size() - 1)]);
    const double hi = std::max(logSpeed[k > 0 ? k - 1 : k], logSpeed[std::min(k + 1, logSpeed.size() - 1)]);
    EXPECT_GE(scopeSpeed[i], std::min(lo, logSpeed[k]) - 0.01 * plateau) << t;
    EXPECT_LE(scopeSpeed[i], std::max(hi, logSpeed[k]) + 0.01 * plateau) << t;
    ++compared;
  }
  EXPECT_GT(compared, 400);
}

// A speed test whose drive link is lost after `ticks` scope passes.
struct LinkLostDuringScope : CTestSpeedTuning {
  using CTestSpeedTuning::CTestSpeedTuning;
  int ticks = 0;
  void OnTimer(int id) override {
    if (GetStep() == 4 && ++ticks == 40) dynamic_cast<VirtualDrive*>(CMC_Comm::GetLink())->InjectLostLink(true);
    CTestSpeedTuning::OnTimer(id);
  }
};

TEST(ProfileTuningRuns, ALinkLostDuringAScopeRunFailsItWithTheLinksText) {
  auto setup = SpeedSetup(true);
  std::vector<double> before;
  for (const auto& p : setup->Parameters()) before.push_back(p->GetValueInBaseUnit());
  auto run = RunTest<LinkLostDuringScope>(*setup, "tab 1300 1\nradio 1369\nclick 10000\nuntil-idle 5000\nclick 2\n");
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(run.dialog->GetTestResult(), 0);
  EXPECT_NE(run.dialog->GetErrorText().find("link"), std::string::npos) << run.dialog->GetErrorText();
  EXPECT_FALSE(run.dialog->GetScopeLogger()->IsUploading());
  // Only the display switch the script pressed differs.
  std::string changed;
  for (std::size_t i = 0; i < before.size(); ++i)
    if (setup->Parameters()[i]->GetValueInBaseUnit() != before[i]) changed += setup->Parameters()[i]->GetName() + " ";
  EXPECT_EQ(changed, "OnlinePlotS ");
}

TEST(ProfileTuningRuns, NoFrameHandlerOutlivesTheDialog) {
  CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(nullptr);
  auto setup = SpeedSetup(true);
  auto run = RunTest<CTestSpeedTuning>(*setup, "click 2\n");
  run.dialog.reset();
  EXPECT_FALSE(CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(nullptr));
}

TEST(ProfileTuningDialog, LimitsStartCurrentAmplitudeAndDisplayRules) {
  const struct {
    const char* what;
    const char* script;
    const char* box;  // the start of the one message box, "" for none
    int page;         // the page shown at the end
  } cases[] = {
      {"limit above protection", "type 3284 5\ntype 3281 4.99\ntab 1300 1\n",
       "Over current protection must be greater than Drive current limit.", 0},
      {"limit equal to protection", "type 3284 5\ntype 3281 5\ntab 1300 1\n", "", 1},
      {"start current of 100 %", "type 3287 100\n", "", 0},
      {"start current above 100 %", "type 3287 100.5\n",
       "You have set a start current bigger than the nominal current! The start current will be applied for ", 0},
      {"total mass below the motor's", "tab 1300 1\ntype 3270 0.3\n",
       "You have chosen a value for the total mass that is lower than the value of the motor mass.", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = SpeedSetup(false);
    auto run = RunTest<CTestSpeedTuning>(*setup, std::string(c.script) + "click 2\n");
    ASSERT_EQ(run.failure, "");
    ASSERT_EQ(run.boxes.size(), c.box[0] != '\0' ? 1u : 0u);
    if (!run.boxes.empty()) {
      EXPECT_EQ(run.boxes[0].text.rfind(c.box, 0), 0u) << run.boxes[0].text;
    }
    EXPECT_EQ(run.dialog->Page(), c.page);
  }
  // A speed that maps to less than half an internal unit is one unit.
  auto tiny = SpeedSetup(false);
  RunTest<CTestSpeedTuning>(*tiny, "type 1320 -0.00001\nclick 2\n");
  EXPECT_DOUBLE_EQ(tiny->GetParameterValueInBaseUnit("TestSpeed") * LoadSpeedScale(*tiny), -1.0);
  // Without a scope, single cycles are shown by the data logger only.
  auto single = SpeedSetup(false);
  RunTest<CTestSpeedTuning>(*single, "check 1332 1\ntab 1300 1\nradio 1369\ntab 1300 0\ncheck 1332 0\nclick 2\n");
  EXPECT_EQ(single->GetParameterValueInBaseUnit("OnlinePlotS"), 0.0);
  // The total mass below the motor's marks the motor mass unknown.
  auto light = SpeedSetup(false);
  RunTest<CTestSpeedTuning>(*light, "tab 1300 1\ntype 3270 0.3\nclick 2\n");
  EXPECT_EQ(light->GetParameterValueInBaseUnit("isMotorMassUnknown"), 1.0);
}

// The positioning before a profile ends with the axis off. On a winding of
// twice the resistance and force constant (and a heavier mover) it gives up
// at the voltage limit while the pull throws the mover: the profile must
// still begin with the mover standing, as the loops' model assumes.
TEST(ProfileTuningRuns, TheProfileStartsWithTheMoverAtRest) {
  virtualdrive::PlantParameters heavy = virtualdrive::ExamplePlant();
  heavy.phase_resistance_ohm *= 2.0;
  heavy.phase_inductance_H *= 2.0;
  heavy.force_constant_N_per_A *= 2.0;
  heavy.moving_mass_kg *= 2.5;
  heavy.coulomb_friction_N *= 2.0;
  heavy.viscous_friction_N_s_per_m *= 2.0;
  const struct {
    const char* what;
    virtualdrive::PlantParameters plant;
  } cases[] = {{"example", virtualdrive::ExamplePlant()}, {"twice the winding, heavier", heavy}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The setup knows the motor it runs: its winding, the start voltage
    // that holds the start current in it, and its mass scaled alike.
    auto setup = SpeedSetup(false);
    const virtualdrive::PlantParameters example = virtualdrive::ExamplePlant();
    const double winding = c.plant.phase_resistance_ohm / example.phase_resistance_ohm;
    for (const char* name : {"R", "L", "Kf", "REFTST", "RINCTST"})
      setup->SetParameterValueInBaseUnit(name, setup->GetParameterValueInBaseUnit(name) * winding);
    setup->SetParameterValueInBaseUnit(
        "Mt", setup->GetParameterValueInBaseUnit("Mt") * c.plant.moving_mass_kg / example.moving_mass_kg);
    auto run = RunTest<CTestSpeedTuning>(*setup, kTune + "click 10000\nuntil-idle 8000\nclick 2\n", c.plant);
    ASSERT_EQ(run.failure, "");
    ASSERT_EQ(run.dialog->GetTestResult(), 1) << run.dialog->GetErrorText();
    const std::vector<double> speed = run.dialog->GetLogger()->GetPlotDocument().Column(2);
    ASSERT_FALSE(speed.empty());
    // Standing: within a few encoder periods per speed-loop period, far
    // below the profile's speed.
    EXPECT_LT(std::fabs(speed.front()), 0.01 * setup->GetParameterValueInBaseUnit("TestSpeed")) << speed.front();
  }
}

// The inputs the position program was given, read as the dialog closes.
struct PositionInputs : CTestPositionTuning {
  using CTestPositionTuning::CTestPositionTuning;
  double limitSpeed = 0.0, currentLimit = 0.0;
  void OnCancel() override {
    std::string error;
    GetUserVariableValue(Program(), "LimitSpeed_Test", limitSpeed, error);
    GetUserVariableValue(Program(), "IlimPS_Test", currentLimit, error);
    CTestPositionTuning::OnCancel();
  }
};

// With the speed loop the program limits the speed and the drive the
// current (through "IlimPS", which Cancel gives back); without it the
// program limits the current itself.
TEST(ProfileTuningDialog, PositionTestProgramLimitsAndCancel) {
  for (const int type : {1, 0}) {
    SCOPED_TRACE(type);
    auto setup = SpeedSetup(false);
    setup->SetParameterValueInBaseUnit("PositionControlType", type);
    setup->SetParameterValueInBaseUnit("TERRMAX", 65535.0);
    setup->SetParameterValueInBaseUnit("TSERRMAX", 65535.0);
    const double ilim = setup->GetParameterValueInBaseUnit("IlimPS");
    auto run = RunTest<PositionInputs>(*setup, "type 3284 3\ntab 1300 1\nclick 10000\nuntil-idle 8000\nclick 2\n");
    ASSERT_EQ(run.failure, "");
    const std::string program = run.dialog->GetProgramName();
    EXPECT_EQ(program, type == 1 ? "Position_Controller_Tuning_Test_with_SpdCtrl"
                                 : "Position_Controller_Tuning_Test_without_SpdCtrl");
    const auto& columns = run.dialog->GetLogger()->GetPlotDocument().Columns();
    ASSERT_EQ(columns.size(), 5u);
    EXPECT_EQ(columns[3].name, type == 1 ? "Speed_Reference" : "Current_Reference");
    EXPECT_EQ(run.dialog->limitSpeed != 0.0, type == 1);
    EXPECT_EQ(run.dialog->currentLimit != 0.0, type != 1);
    EXPECT_DOUBLE_EQ(setup->GetParameterValueInBaseUnit("IlimPS"), ilim);
  }
}

}  // namespace
