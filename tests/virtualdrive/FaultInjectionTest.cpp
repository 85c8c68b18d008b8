// Every injected fault surfaces as a failure with a text that the test
// protocol reports (a refused link call, a masked "MER" bit, an output the
// program could not deliver, or a verdict of the test that runs it), within
// a bounded simulated time.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "DriveRun.h"
#include "Scales.h"

namespace {

using drive_run::Bench;

TEST(FaultInjection, EveryFaultEndsInAFailureWithAText) {
  struct Case {
    const char* fault;
    std::function<void(virtualdrive::VirtualDrive&)> inject;
    const char* program;
    // What the test protocol makes of the run: the failure text expected,
    // or "" when the run ends and the program's result carries the fault.
    const char* failure;
    std::function<bool(Bench&)> resultShowsFault;
  };
  const double i0 = 4910;
  auto positioningIn1 = [](Bench& b) { return b.Output("Initial_Positioning_Test", "In1"); };
  const Case cases[] = {
      {"lost link", [](auto& d) { d.InjectLostLink(true); }, "Initial_Positioning_Test",
       "no answer from the drive: the communication link is lost", nullptr},
      {"refused program load", [](auto& d) { d.InjectRefusedProgramLoad(true); }, "Initial_Positioning_Test",
       "the drive refused to load the program \"Initial_Positioning_Test\"", nullptr},
      {"forced MER bit 1", [](auto& d) { d.InjectMerBits(0x0002); }, "Initial_Positioning_Test",
       "Drive / Motor shortcircuit protection triggered.", nullptr},
      {"ENABLE input disabled", [](auto& d) { d.SetEnableInput(false); }, "Initial_Positioning_Test",
       "Drive / Motor ENABLE input is in DISABLED state.", nullptr},
      // The positioning holds current along phase A: with lead A open none flows.
      {"open phase A", [](auto& d) { d.InjectOpenPhase(0); }, "Initial_Positioning_Test", "",
       [&](Bench& b) { return positioningIn1(b) == 0.0; }},
      {"missing encoder", [](auto& d) { d.InjectMissingEncoder(true); }, "Initial_Positioning_Test", "",
       [&](Bench& b) { return positioningIn1(b) == virtualdrive::kNotDelivered; }},
      // Crossed phases make the closed current loop run away into its
      // voltage limit; the program's protection level (twice the step) stops it.
      {"swapped phases, current loop", [](auto& d) { d.InjectSwappedPhases(true); },
       "Current_Controller_Tuning_Test", "",
       [](Bench& b) { return b.Output("Current_Controller_Tuning_Test", "test_flag") == 0.0; }},
      // The field turns one way, the encoder counts the other.
      {"reversed encoder", [](auto& d) { d.InjectReversedEncoder(true); }, "Encoder_Resolution_And_Direction_Test",
       "", [](Bench& b) { return b.Variable("var_lf_long") <= 0; }},
      {"missing encoder, resolution", [](auto& d) { d.InjectMissingEncoder(true); },
       "Encoder_Resolution_And_Direction_Test", "", [](Bench& b) { return b.Variable("var_lf_long") <= 0; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Bench bench(drive_run::QuietPlant());
    c.inject(bench.drive);
    const std::string program = c.program;
    std::map<std::string, double> inputs = {{"In1", i0}};
    if (program == "Current_Controller_Tuning_Test") inputs = {{"In1", 3000}, {"Imax_Prot_Test", 6000}};
    if (program == "Encoder_Resolution_And_Direction_Test") inputs = {{"RefTest", 8000}, {"PolesPairs", 1}};
    const drive_run::Outcome outcome = bench.Run(program, inputs);
    if (std::string(c.failure).empty()) {
      EXPECT_TRUE(outcome.finished) << outcome.failure;
      EXPECT_TRUE(c.resultShowsFault(bench));
    } else {
      EXPECT_FALSE(outcome.finished);
      EXPECT_EQ(outcome.failure, c.failure);
    }
    EXPECT_FALSE(bench.drive.ProgramRunning() && outcome.failure == "timeout");
  }
}

TEST(FaultInjection, WithoutFaultsTheSameRunsSucceed) {
  // The control group of the table above: the sound drive passes each.
  Bench bench(drive_run::QuietPlant());
  ASSERT_TRUE(bench.Run("Initial_Positioning_Test", {{"In1", 4910}}).finished);
  EXPECT_NEAR(bench.Output("Initial_Positioning_Test", "In1"), 4910, 100);
  const double ref = bench.Variable("REFTST_V");
  ASSERT_TRUE(bench.Run("Current_Controller_Tuning_Test", {{"In1", 3000}, {"Imax_Prot_Test", 6000}}).finished);
  EXPECT_EQ(bench.Output("Current_Controller_Tuning_Test", "test_flag"), 1.0);
  ASSERT_TRUE(bench.Run("Encoder_Resolution_And_Direction_Test", {{"RefTest", ref}, {"PolesPairs", 1}}).finished);
  // One pole pitch of travel counted in encoder lines: 32 mm over 20 µm.
  // Friction holds the mover back by the same distance at both ends of
  // the steady motion, so the count is exact.
  EXPECT_EQ(bench.Variable("var_lf_long"), 1600);
}

TEST(FaultInjection, TheProgramsOwnProtectionStopsTheCurrentStep) {
  Bench bench(drive_run::QuietPlant());
  ASSERT_TRUE(bench.Run("Current_Controller_Tuning_Test", {{"In1", 3000}, {"Imax_Prot_Test", 2000}}).finished);
  EXPECT_EQ(bench.Output("Current_Controller_Tuning_Test", "test_flag"), 0.0);
}

TEST(FaultInjection, RefusedValuesNameWhatWasRefused) {
  Bench bench(drive_run::QuietPlant());
  std::string error;
  struct Case {
    const char* program;
    const char* variable;
    double value;
    const char* fragment;
  };
  const Case cases[] = {
      {"Ident_R_or_Rs", "In1", 40000, "16-bit variable \"In1\""},
      {"Ident_R_or_Rs", "In1", NAN, "cannot hold"},
      {"Ident_R_or_Rs", "NoSuch", 1, "has no variable \"NoSuch\""},
      {"NoSuchProgram", "In1", 1, "no program \"NoSuchProgram\""},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(bench.drive.SetProgramVariable(c.program, c.variable, c.value, error));
    EXPECT_NE(error.find(c.fragment), std::string::npos) << error;
  }
  EXPECT_FALSE(bench.drive.WriteRegister("PWMPER", 0, error));
  EXPECT_NE(error.find("PWMPER"), std::string::npos) << error;
  EXPECT_FALSE(bench.drive.WriteRegister("KPI", INFINITY, error));
  EXPECT_FALSE(bench.drive.WriteVariable("IQ", 1, error));
  LoggerSettings logger{10, 3, 1, {"IQ"}};
  EXPECT_FALSE(bench.drive.StartProgram("Ident_R_or_Rs", &logger, error));
  logger = {10, 1, 1, {"NoSuchVariable"}};
  EXPECT_FALSE(bench.drive.StartProgram("Ident_R_or_Rs", &logger, error));
  EXPECT_NE(error.find("NoSuchVariable"), std::string::npos) << error;
}

}  // namespace
