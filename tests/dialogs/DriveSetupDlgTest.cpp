// The Drive Setup dialog driven as a user drives it: a script types, clicks
// and chooses; the test checks the setup document and the controls after.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "DialogRun.h"

namespace {

using dialog_testing::ExampleSetup;
using dialog_testing::RunDriveSetup;
using dialog_testing::ScriptRun;

double Get(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

// The drive keeps a gain as K * 2^S / 32767: a 15-bit mantissa K, rounded by
// its register, and the smallest shift S that brings K to 32767 or below.
TEST(DriveSetupGains, ATypedGainComesBackAsTheRegistersHoldIt) {
  const struct {
    int field;
    const char* typed;
    const char* gain;
    const char* mantissa;
    double k;
    const char* shift;
    double s;
    const char* upperShift;  // the acceleration feedforward's shift is split in two
    double upper;
  } cases[] = {
      {3173, "1.5", "Kp_C_scl", "KPI", 24575, "SFTKPI", 1, nullptr, 0},  // 1.5 * 32767 / 2
      {3173, "0.75", "Kp_C_scl", "KPI", 24575, "SFTKPI", 0, nullptr, 0},  // up to 1: no shift
      {3176, "3", "Ki_C_scl", "KII", 24575, "SFTKII", 2, nullptr, 0},
      {3191, "0.001", "Ki_P_scl", "KIP", 33, "SFTKIP", 0, nullptr, 0},  // 32.767 rounds to 33
      {3196, "2", "KFFS_scl", "KFFS", 32767, "SFTSFFW", 1, nullptr, 0},
      {3197, "5000", "KFFA_scl", "KFFA", 19999, "SFTAFFW", 11, "SFTKFF", 2},  // 2^13: 11 + 2
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.gain) + " = " + c.typed);
    auto setup = ExampleSetup();
    const ScriptRun run = RunDriveSetup(*setup, "type " + std::to_string(c.field) + " " + c.typed + "\nclick 2\n");
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(Get(*setup, c.mantissa), c.k);
    EXPECT_EQ(Get(*setup, c.shift), c.s);
    if (c.upperShift != nullptr) {
      EXPECT_EQ(Get(*setup, c.upperShift), c.upper);
    }
    const double held = c.k * std::exp2(c.s + c.upper) / 32767.0;
    EXPECT_DOUBLE_EQ(Get(*setup, c.gain), held);
    EXPECT_NEAR(std::stod(run.Control(c.field).text), held, held * 1e-5);
  }
}

// Which controller fields apply, by the control structure the drive runs.
TEST(DriveSetupModes, ControllerFieldsFollowTheControlStructure) {
  struct Expect {
    int id;
    bool shown, enabled;
  };
  const struct {
    const char* name;
    std::function<void(CMC_Setup&)> prepare;
    const char* script;
    std::vector<Expect> expect;
  } cases[] = {
      {"position over the speed loop", [](CMC_Setup&) {}, "",
       {{3179, true, true}, {3183, false, true}, {3393, false, true}, {3190, true, true}, {3196, true, true},
        {3197, true, true}, {1043, true, true}, {3230, true, true}, {3231, true, false}}},
      {"switched to speed", [](CMC_Setup&) {}, "radio 1060\n",
       {{3179, true, true}, {3183, true, true}, {3393, true, true}, {3190, true, false}, {3196, false, false},
        {3197, false, true}, {1043, false, true}, {3230, true, false}, {3231, true, true}}},
      {"switched to torque", [](CMC_Setup&) {}, "radio 1061\n",
       {{3179, true, false}, {3183, false, true}, {3393, false, true}, {3190, true, false}, {3197, false, true}}},
      // Position and speed in the fast loop without a speed controller and
      // without the drive's speed feedforward: no feedforward term can act.
      {"position only, fast loop, no speed feedforward",
       [](CMC_Setup& s) {
         s.RemoveParameter("SpeedForward");
         s.SetParameterValueInBaseUnit("PositionControlType", 0);
         s.SetParameterValueInBaseUnit("UPGRADE", 4 + 0x40);
       },
       "", {{3179, true, false}, {3196, true, false}, {3197, true, false}, {3393, false, true}, {1043, false, true}}},
      {"speed feedforward in the fast loop",
       [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("UPGRADE", 4 + 0x40); }, "radio 1060\n",
       {{3183, false, true}, {3393, false, true}, {3196, false, true}, {3197, false, true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = ExampleSetup();
    c.prepare(*setup);
    const ScriptRun run = RunDriveSetup(*setup, std::string(c.script) + "click 2\n");
    ASSERT_EQ(run.failure, "");
    for (const Expect& e : c.expect) {
      EXPECT_EQ(run.Control(e.id).shown, e.shown) << e.id;
      if (e.shown) {
        EXPECT_EQ(run.Control(e.id).enabled, e.enabled) << e.id;
      }
    }
  }
}

TEST(DriveSetupModes, SpeedOrTorqueTakesTheAnalogueReferenceOneToOne) {
  auto setup = ExampleSetup();
  setup->SetParameterValueInBaseUnit("GEARMASTER", 3);
  setup->SetParameterValueInBaseUnit("GEARSLAVE", 7);
  ASSERT_EQ(RunDriveSetup(*setup, "radio 1060\nclick 1\n").failure, "");
  EXPECT_EQ(Get(*setup, "GEARMASTER"), 1);
  EXPECT_EQ(Get(*setup, "GEARSLAVE"), 1);
  EXPECT_EQ(Get(*setup, "isAnalogueReference"), 1);
  // Speed feedforward on: ACR bit 14 beside the speed structure 0x0300.
  EXPECT_EQ(static_cast<int>(Get(*setup, "ACR")) & 0x4700, 0x4300);
  EXPECT_EQ(setup->GetOptionNoError("IsClosedPosition"), "0");
  EXPECT_EQ(setup->GetOptionNoError("IsClosedSpeed"), "1");
}

// A control's state follows the check box or radio button the user set.
TEST(DriveSetupEnableRules, AffectedControlsFollowTheUsersChoice) {
  const struct {
    const char* script;
    int id;
    bool enabled, checked;
  } cases[] = {
      {"check 3213 0\n", 3214, false, false},  // over current
      {"check 3233 0\n", 3228, false, false},  // I2t
      {"check 3230 0\n", 3218, false, false},  // position error
      {"check 3243 0\n", 3244, false, false},  // brake resistor
      {"check 3350 0\n", 3271, false, false},  // software limit switches
      {"check 3378 0\n", 3136, false, false},  // saved axis ID
      {"check 3377 0\n", 10021, false, false},  // saved baud rate
      {"radio 1097\n", 3257, false, false},    // motionless start
      {"radio 1097\n", 3263, true, false},
      {"", 3263, false, false},
      {"radio 1064\n", 3208, true, false},  // external reference
      {"radio 1064\ncheck 3116 1\n", 3116, true, true},
      {"radio 1064\ncheck 3116 1\nradio 1063\n", 3116, false, false},  // no reference: not activated
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.script) + " control " + std::to_string(c.id));
    auto setup = ExampleSetup();
    const ScriptRun run = RunDriveSetup(*setup, std::string(c.script) + "click 2\n");
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.Control(c.id).enabled, c.enabled);
    EXPECT_EQ(run.Control(c.id).checked, c.checked);
  }
}

TEST(DriveSetupLimits, ASoftwareLimitEnteredPastTheOtherStopsAtIt) {
  const struct {
    const char* script;
    double negative, positive;  // m; the example holds -0.1 and 0.5
  } cases[] = {
      {"type 3274 600\n", 0.5, 0.5},     // negative above positive: pulled down
      {"type 3271 -200\n", -0.1, -0.1},  // positive below negative: raised
      {"type 3274 -50\n", -0.05, 0.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    auto setup = ExampleSetup();
    ASSERT_EQ(RunDriveSetup(*setup, std::string(c.script) + "click 2\n").failure, "");
    EXPECT_NEAR(Get(*setup, "Negative_SWLS"), c.negative, 1e-7);
    EXPECT_NEAR(Get(*setup, "Positive_SWLS"), c.positive, 1e-7);
  }
}

TEST(DriveSetupLimits, TheLoadSpeedLimitBoundsTheTestSpeed) {
  auto setup = ExampleSetup();
  ASSERT_EQ(RunDriveSetup(*setup, "type 1043 1\nclick 2\n").failure, "");
  EXPECT_NEAR(setup->FindParameter("TestSpeed")->GetMaxInBaseUnit(), 1.0, 1e-9);
}

TEST(DriveSetupStartCurrent, AboveTheNominalCurrentWarnsWithTheWholeAlignmentTime) {
  const struct {
    const char* typed;
    bool warns;
  } cases[] = {{"100", false}, {"101", true}, {"50", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    auto setup = ExampleSetup();
    const ScriptRun run = RunDriveSetup(*setup, std::string("type 3260 0.75\ntype 3257 ") + c.typed + "\nclick 2\n");
    ASSERT_EQ(run.failure, "");
    ASSERT_EQ(run.boxes.size(), c.warns ? 1u : 0u);
    if (c.warns) {
      EXPECT_EQ(run.boxes[0].text,
                "You have set a start current bigger than the nominal current! The start current will be applied "
                "for 1.50 s.\n\nThe motor must withstand this over current condition or it may be damaged.");
    }
    EXPECT_NEAR(Get(*setup, "StartCurrent"), std::stod(c.typed), 0.01);  // as the registers hold it
  }
}

constexpr const char* kPnpRows[] = {"Active high (Connected to +Vlog)", "Active low (Open/No connection)"};
constexpr const char* kNpnRows[] = {"Active high (Open/No connection)", "Active low (Connected to GND)"};

// A new input type keeps every input active in the same physical state.
TEST(DriveSetupInputs, SwitchingTheInputTypeFlipsThePolarities) {
  const struct {
    const char* script;
    bool pnp;
    double enable, limitPlus, limitMinus;
  } cases[] = {{"radio 3405\n", false, 0, 1, 1}, {"radio 3405\nradio 3406\n", true, 1, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    auto setup = ExampleSetup();  // PNP, Enable 1, limit switches 0
    const ScriptRun run = RunDriveSetup(*setup, std::string(c.script) + "click 2\n");
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.Control(3403).text, (c.pnp ? kPnpRows : kNpnRows)[0]);
    EXPECT_EQ(run.Control(3404).text, (c.pnp ? kPnpRows : kNpnRows)[1]);
    EXPECT_EQ(Get(*setup, "EnablePolarity"), c.enable);
    EXPECT_EQ(Get(*setup, "LSPPolarity"), c.limitPlus);
    EXPECT_EQ(Get(*setup, "LSNPolarity"), c.limitMinus);
    EXPECT_EQ(run.Control(1047).checked, c.enable == 1);  // the upper row holds 1
  }
}

// The input type a drive starts with when the setup does not say whether it
// can be programmed, or has no parameter for it.
TEST(DriveSetupInputs, TheInitialInputTypeComesFromTheDrive) {
  const struct {
    const char* description;
    bool programmableOption;  // "IsInputsTypeProgrammable" = 1
    bool typeParameter;       // "InputsPolarityType" exists
    double asr;               // bit 2 set: NPN
    bool pnp, radiosEnabled;
  } cases[] = {
      {"BX-8 servo drive", false, true, 0x1004, true, false},  // the description wins over the bit
      {"servo drive", false, false, 0x1000, false, false},
      {"servo drive", true, false, 0x1000, true, false},
      {"BX-8 servo drive", true, false, 0x1004, false, false},
      {"servo drive", true, true, 0x1004, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.description) + (c.programmableOption ? ", option" : "") +
                 (c.typeParameter ? ", type parameter" : ""));
    auto setup = ExampleSetup();
    setup->SetDescription(c.description);
    if (!c.programmableOption) setup->ClearOption("IsInputsTypeProgrammable");
    if (!c.typeParameter) setup->RemoveParameter("InputsPolarityType");
    setup->SetParameterValueInBaseUnit("ASR", c.asr);
    const ScriptRun run = RunDriveSetup(*setup, "click 2\n");
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.Control(3406).checked, c.pnp);
    EXPECT_EQ(run.Control(3405).checked, !c.pnp);
    EXPECT_EQ(run.Control(3405).enabled, c.radiosEnabled);
    EXPECT_EQ(run.Control(3403).text, (c.pnp ? kPnpRows : kNpnRows)[0]);
  }
}

}  // namespace
