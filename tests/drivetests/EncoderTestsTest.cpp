// The encoder connection and resolution tests through their dialogs on the
// virtual drive, and what the Motor Setup keeps of them.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <numbers>
#include <string>

#include "DetectEncoderResolution.h"
#include "DriveTestRun.h"
#include "MotorSetupDlg.h"
#include "TestEncoderConnections.h"
#include "axcore/Setup.h"

namespace {

using axcore::PlotGauge;
using drivetest_testing::DrivePreparation;
using drivetest_testing::RunTest;
using virtualdrive::PlantParameters;
using virtualdrive::VirtualDrive;

const std::string kNoCount =
    "Check if during test the motor shaft is turning. If YES, check the encoder connections and power supply, "
    "otherwise, check the motor phases connection, if these are OK, try also to increase the test current.";
const std::string kNoPulses = "No encoder pulses have been detected.\r\nCheck the encoder connection and power supply.";

std::string Question(const char* oldValue, const char* newValue) {
  return std::string(
             "A different value than specified has been detected for the following parameter:\r\n\r\nEncoder "
             "resolution:\tOld = ") +
         oldValue + " [µm]\tNew = " + newValue + " [µm]\r\n\r\nDo you want to save the new value(s)? (Recommended)";
}

PlantParameters Plant(double period_m, int interpolationBits) {
  PlantParameters plant = virtualdrive::ExamplePlant();
  plant.encoder_period_m = period_m;
  plant.encoder_interpolation_bits = interpolationBits;
  return plant;
}

void Reversed(VirtualDrive& drive) { drive.InjectReversedEncoder(true); }

// A pole pitch of 32 mm is 1600 lines of 20 µm, 800 of 40 µm and 5000 of
// 6.4 µm; with 4 fraction bits the drive counts 5000 lines as 80000. The
// 40 µm encoder is interpolated 512 times, so that the drive's 409600 counts
// a pole pitch still hold and its positioning sees the motion it expects.
TEST(EncoderResolutionTest, FindsThePeriodAndAsksToKeepItWhenItDiffers) {
  const struct {
    const char* what;
    PlantParameters plant;
    std::function<void(CMC_Setup&)> prepare;
    DrivePreparation drive;
    const char* script;  // after the run
    int result;
    std::string error;     // empty: the test passes
    const char* counted;   // what 3131 shows at the end
    double candidate;      // the period found
    std::string question;  // empty: none asked
    double stored;         // "EncRes" after the dialog
    const char* status = "Test finished";
  } cases[] = {
      {"the example: 20 µm as set", virtualdrive::ExamplePlant(), {}, {}, "click 2", 2, "", "1600", 20e-6, "", 20e-6},
      {"40 µm, kept", Plant(40e-6, 9), {}, {}, "answer yes\nclick 2", 1, "", "800", 40e-6,
       Question("20", "40"), 40e-6},
      {"40 µm, declined", Plant(40e-6, 9), {}, {}, "answer no\nclick 2", 2, "", "800", 40e-6, Question("20", "40"),
       20e-6},
      {"40 µm, cancelled, then kept", Plant(40e-6, 9), {}, {}, "answer cancel\nclick 2\nanswer yes\nclick 2", 1, "",
       "800", 40e-6, Question("20", "40"), 40e-6},
      {"6.4 µm with 4 fraction bits", Plant(6.4e-6, 8),
       [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("ELRES_FRACT", 4); }, {}, "answer yes\nclick 2", 1, "",
       "5000", 6.4e-6, Question("20", "6.4"), 6.4e-6},
      {"reversed encoder", virtualdrive::ExamplePlant(), {}, Reversed, "click 2", 2, kNoCount, "-1600", 20e-6, "",
       20e-6},
      // The positioning finds no motion first.
      {"no encoder", virtualdrive::ExamplePlant(), {}, [](VirtualDrive& d) { d.InjectMissingEncoder(true); },
       "click 2", 2, CMC_TestDlg::msc_pszErrInternal, "", 20e-6, "", 20e-6, "Running preliminary test"},
      {"reversed encoder counted the other way", virtualdrive::ExamplePlant(),
       [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("ReverseCounting", 1); }, Reversed, "click 2", 2, "", "1600",
       20e-6, "", 20e-6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = drivetest_testing::ExampleSetup();
    if (c.prepare) c.prepare(*setup);
    const std::string script = std::string("click 10000\nuntil-idle 10000\nclick 10024\n") + c.script;
    auto run = RunTest<CDetectEncoderResolution>(*setup, script, c.plant, c.drive);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.dialog->GetTestResult(), c.error.empty() ? 1 : 0) << run.dialog->GetErrorText();
    EXPECT_EQ(run.dialog->GetErrorText(), c.error);
    EXPECT_EQ(run.Text(3131), c.counted);
    EXPECT_DOUBLE_EQ(run.dialog->Candidate().GetValueInBaseUnit(), c.candidate);
    EXPECT_EQ(run.boxes.empty() ? std::string() : run.boxes[0].text, c.question);
    if (!run.boxes.empty()) {
      EXPECT_EQ(run.boxes[0].style, 0x23u);
    }
    EXPECT_DOUBLE_EQ(setup->GetParameterValueInBaseUnit("EncRes"), c.stored);
    EXPECT_EQ(run.Text(10001), c.status);
    ASSERT_EQ(run.help.size(), 1u);
    EXPECT_NE(run.help[0].find("help/encoder-resolution-test.html (context 0x4010E)"), std::string::npos);
    if (c.error.empty()) {
      // The ruler spans a pole pitch of lines either way and stops at the
      // count; the field ends a quarter turn on (an eighth to get going, an
      // eighth to stop), which the phase diagram shows from the q axis.
      const PlotGauge& ruler = run.dialog->GetPlot(1024)->Gauge();
      EXPECT_EQ(ruler.lo, -1600);
      EXPECT_EQ(ruler.hi, 1600);
      EXPECT_EQ(std::to_string(run.dialog->EncoderDiagram().GetPosition()), c.counted);
      EXPECT_NEAR(run.dialog->PhaseDiagram().GetAngle(), std::numbers::pi, 1e-4);
      EXPECT_TRUE(ruler.enabled && run.dialog->GetPlot(1025)->Gauge().enabled);
    }
  }
}

// The connection test counts from 0 at Start: 1 mm of a 20 µm encoder
// interpolated 256 times is 12800 counts.
TEST(EncoderConnectionsTest, PassesOnlyWhenTheCounterMovedBeyondTwoCounts) {
  const struct {
    const char* what;
    const char* pushes;
    DrivePreparation drive;
    std::string error;  // empty: passes
    long counter;       // the counter shown at Stop
    const char* stop = "click 10000\n";  // none when the test has ended by itself
    std::function<void(CMC_Setup&)> prepare = {};
  } cases[] = {
      {"pushed 0.1 mm", "move 0.1 200\n", {}, "", 1280},
      {"pushed back 0.1 mm", "move -0.1 200\n", {}, "", -1280},
      {"to -6 counts and back", "move -0.0005 100\nmove 0.0005 100\n", {}, "", 0},
      {"not moved", "", {}, kNoPulses, 0},
      {"a push of less than 2 counts", "move 0.00015 100\n", {}, kNoPulses, 1},
      {"no encoder", "move 1 200\n", [](VirtualDrive& d) { d.InjectMissingEncoder(true); }, kNoPulses, 0},
      // The power stage is off anyway: only a short circuit stops the test.
      {"drive disabled", "move 1 200\n", [](VirtualDrive& d) { d.SetEnableInput(false); }, "", 12800},
      {"short circuit", "move 1 200\n", [](VirtualDrive& d) { d.InjectMerBits(1u << 1); },
       "Drive / Motor shortcircuit protection triggered.", 0, ""},
      // Without the variable that ends the program the test cannot pass.
      {"no var_i2", "move 1 200\n", {}, CMC_TestDlg::msc_pszErrInternal, 12800, "click 10000\n",
       [](CMC_Setup& s) { s.RemoveVariable("var_i2"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = drivetest_testing::ExampleSetup();
    if (c.prepare) c.prepare(*setup);
    auto run = RunTest<CTestEncoderConnections>(
        *setup, std::string("click 10000\nwait 100\n") + c.pushes + "wait 100\n" + c.stop + "click 10024\nclick 2",
        virtualdrive::ExamplePlant(), c.drive);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, 2);
    EXPECT_EQ(run.dialog->GetTestResult(), c.error.empty() ? 1 : 0);
    EXPECT_EQ(run.dialog->GetErrorText(), c.error);
    ASSERT_EQ(run.help.size(), 1u);
    EXPECT_NE(run.help[0].find("help/encoder-connections-test.html (context 0x4010D)"), std::string::npos);
    if (c.error.rfind("Drive", 0) == 0) continue;
    EXPECT_NEAR(std::stol(run.Text(3131)), c.counter, 1);
    EXPECT_NEAR(run.dialog->EncoderDiagram().GetPosition(), c.counter, 1);
    EXPECT_EQ(run.Text(10001), c.error.empty() ? "Test finished" : "Running test");
    // Stop ended the drive program whatever the verdict, when it could.
    run.drive->AdvanceTo(run.drive->Now_s() + 0.01);
    EXPECT_EQ(run.drive->ProgramRunning(), c.prepare != nullptr);
    const PlotGauge& ruler = run.dialog->GetPlot(1024)->Gauge();
    EXPECT_EQ(ruler.hi, 1600);
    EXPECT_TRUE(ruler.enabled);
    EXPECT_FALSE(run.dialog->GetPlot(1025)->Gauge().enabled);
  }
}

// What the Motor Setup keeps of the tests its buttons open.
TEST(EncoderTestsFromMotorSetupTest, ThePeriodKeptAndTheCountingDirectionChosenReachTheMotorSetup) {
  const struct {
    const char* what;
    PlantParameters plant;
    DrivePreparation drive;
    const char* script;
    double period;
    double reverse;
    const char* shown;  // 3352, 3353 and 3358 of the Motor Setup
  } cases[] = {
      // 40 µm interpolated 256 times: 0.15625 µm.
      {"period kept", Plant(40e-6, 9), {}, "click 1189\nclick 10000\nuntil-idle 10000\nanswer yes\nclick 2\n", 40e-6,
       0, "40 0.15625 0"},
      {"period declined", Plant(40e-6, 9), {}, "click 1189\nclick 10000\nuntil-idle 10000\nanswer no\nclick 2\n",
       20e-6, 0, "20 0.078125 0"},
      {"a reversed encoder fails and the user reverses the counting", virtualdrive::ExamplePlant(), Reversed,
       "click 1189\nclick 10000\nuntil-idle 10000\ncheck 3357 1\nclick 2\n", 20e-6, 1, "20 0.078125 1"},
      {"nothing chosen", virtualdrive::ExamplePlant(), {}, "click 1189\nclick 2\n", 20e-6, 0, "20 0.078125 0"},
      {"connections checked", virtualdrive::ExamplePlant(), {},
       "click 1187\nclick 10000\nwait 100\nmove 1 200\nclick 10000\ndump 10002\nclick 2\n", 20e-6, 0,
       "20 0.078125 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = drivetest_testing::ExampleSetup();
    auto run = RunTest<CMotorSetupDialog>(
        *setup, std::string(c.script) + "click 2",
        [](CMC_Setup& s) { return std::make_unique<CMotorSetupDialog>(&s); }, c.plant, c.drive);
    ASSERT_EQ(run.failure, "");
    EXPECT_DOUBLE_EQ(setup->GetParameterValueInBaseUnit("EncRes"), c.period);
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("ReverseCounting"), c.reverse);
    EXPECT_EQ(run.Text(3352) + " " + run.Text(3353) + " " + (run.Control(3358).checked ? "1" : "0"), c.shown);
    if (std::string(c.script).find("1187") != std::string::npos) {
      EXPECT_NE(run.output.find("\"Test passed.\""), std::string::npos) << run.output;
    }
  }
}

}  // namespace
