// The Motor Setup dialog and the motor mass question driven as a user
// drives them; the expected values are worked out by hand from the drive's
// rules (a resolution with interpolation is the encoder period over 2^bits).
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "MassQuestion.h"
#include "MotorSetupDlg.h"
#include "MotorSetupRun.h"
#include "axcore/SetupFile.h"

namespace {

using dialog_testing::ExampleSetup;
using motor_testing::RunMotorDialog;

double Get(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

struct Expect {
  int id;
  std::optional<bool> shown = {}, enabled = {}, checked = {};
  const char* text = nullptr;  // a combo's chosen item, else the control's text
};

class MotorSetupRules : public motor_testing::MotorDatabaseFolder {};

TEST_F(MotorSetupRules, ControlsAndValuesFollowTheUser) {
  const auto none = [](CMC_Setup&) {};
  const char* npn = "Motor brake is applied when NPN (sink) output is connected to GND.";
  const char* pnp = "Motor brake is applied when PNP (source) output is connected to +Vlog.";
  const struct {
    const char* name;
    std::function<void(CMC_Setup&)> prepare;
    const char* script;
    std::vector<Expect> controls;
    std::vector<std::pair<const char*, double>> values;
  } cases[] = {
      {"20 µm over 2^6", none, "select 1197 64", {{3353, true, false, {}, "0.3125"}}, {{"SINCOS_fract", 6}}},
      {"40 µm over 2^8", none, "type 3352 40", {{3353, {}, {}, {}, "0.15625"}}, {{"EncRes", 40e-6}}},
      {"the step in mm", none, "unit 3354 mm", {{3353, {}, {}, {}, "7.8125e-05"}}, {}},
      {"mass unknown", none, "check 1178 1", {{1172, {}, false}, {3267, {}, false}}, {{"isMotorMassUnknown", 1}}},
      // Cancel takes nothing back, but only OK clears the protection.
      {"no temperature sensor", none, "check 1183 0", {{1185, {}, false}}, {{"isMotorOverTemp", 1}}},
      {"encoder filter off", none, "check 3360 0", {{3359, {}, false}, {3272, {}, true}}, {{"isFilterEnc", 0}}},
      {"encoder filter 1/48", none, "select 3359 1/48", {}, {{"FilterEncValue", 8}}},
      {"no encoder filter", [](CMC_Setup& s) { s.RemoveParameter("isFilterEnc"); }, "",
       {{3360, {}, false}, {3272, {}, false}, {3359, {}, false}}, {}},
      {"no reverse counting", [](CMC_Setup& s) { s.RemoveParameter("ReverseCounting"); }, "", {{3358, {}, false}}, {}},
      {"a zero load displacement", none, "type 1174 0", {{1174, {}, {}, {}, "1"}}, {{"Load_transmission", 0.001}}},
      // Only a drive that cannot reverse the load itself needs the switches swapped.
      {"negative ratio, drive reverses", none, "type 1163 -1000", {{3408, false}}, {{"Motor_transmission", -1}}},
      {"negative ratio", [](CMC_Setup& s) { s.SetOption("hasNegTransmission", "0"); }, "type 1163 -1000",
       {{3408, true}}, {}},
      {"rotary load", none, "radio 1194\nunit 1192 deg\ntype 1174 360", {{1192, {}, {}, {}, "deg"}},
       {{"Load_transmission", 6.283185307179586}}},
      {"brake off", none, "check 3380 0", {{3381, {}, false}, {3392, {}, false}}, {{"isMotorBrake", 0}}},
      {"brake on a sink output", [](CMC_Setup& s) { s.SetOption("OutputPortTypes", "NPN,PNP"); },
       "select 3381 OUT2 (pin 27)", {{3385, {}, {}, {}, npn}}, {{"MotorBrake_output", 2}}},
      {"brake on a source output", [](CMC_Setup& s) { s.SetOption("OutputPortTypes", "NPN,PNP"); }, "",
       {{3381, {}, {}, {}, "OUT1 (pin 26)"}, {3385, {}, {}, {}, pnp}}, {}},
      {"brake on an inverted sink output", [](CMC_Setup& s) { s.SetOption("InvertedOutputPorts", "3, 1"); }, "",
       {{3385, {}, {}, {}, pnp}}, {}},
      // A brake fitted but no output to drive it: nothing of the brake applies.
      {"no brake output", [](CMC_Setup& s) { s.SetOption("OutputPortPins", ""); }, "",
       {{3379, {}, false}, {3380, {}, false, true}, {3381, {}, false}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = ExampleSetup();
    c.prepare(*setup);
    const auto run = RunMotorDialog<CMotorSetupDialog>(*setup, std::string(c.script) + "\nclick 2");
    ASSERT_EQ(run.failure, "");
    EXPECT_TRUE(run.boxes.empty()) << run.output;
    for (const Expect& e : c.controls) {
      const ControlState& state = run.Control(e.id);
      EXPECT_EQ(state.shown, e.shown.value_or(state.shown)) << e.id;
      EXPECT_EQ(state.enabled, e.enabled.value_or(state.enabled)) << e.id;
      EXPECT_EQ(state.checked, e.checked.value_or(state.checked)) << e.id;
      const bool combo = state.kind == axcore::ControlKind::Combo || state.kind == axcore::ControlKind::UnitCombo;
      if (e.text != nullptr) {
        EXPECT_EQ(combo ? run.Selected(e.id) : state.text, e.text) << e.id;
      }
    }
    for (const auto& [name, value] : c.values) EXPECT_NEAR(Get(*setup, name), value, 1e-12) << name;
  }
}

TEST_F(MotorSetupRules, OkWithoutATemperatureSensorDropsTheProtection) {
  auto setup = ExampleSetup();
  EXPECT_EQ(RunMotorDialog<CMotorSetupDialog>(*setup, "check 1183 0\nclick 1").result, 1);
  EXPECT_EQ(Get(*setup, "isMotorOverTemp"), 0);
}

// The levels the drive accepts: from the electrical angle's fraction bits
// (the counts of a pole pitch must fit its angle register) to 2^10.
TEST_F(MotorSetupRules, TheInterpolationListOffersWhatTheDriveAccepts) {
  const std::vector<std::string> all = {"1", "2", "4", "8", "16", "32", "64", "128", "256", "512", "1024"};
  const struct {
    const char* name;
    std::function<void(CMC_Setup&)> prepare;
    const char* script;
    std::size_t first;  // index in `all` of the first level offered
    const char* chosen;
  } cases[] = {
      {"32 mm over 20 µm: 11 bits, no fraction", [](CMC_Setup&) {}, "", 0, "256"},
      {"32 mm over 1 mm: 5 bits, 5 fraction bits", [](CMC_Setup&) {}, "type 3352 1000", 5, "256"},
      {"16 mm over 1 mm: 4 bits, 6 fraction bits", [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("EncRes", 1e-3); },
       "type 1165 16", 6, "256"},
      {"no fraction register", [](CMC_Setup& s) { s.RemoveParameter("ELRES_FRACT"); }, "type 3352 1000", 0, "256"},
      {"held level below the new minimum", [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("SINCOS_fract", 2); },
       "type 3352 1000", 5, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = ExampleSetup();
    c.prepare(*setup);
    const auto run = RunMotorDialog<CMotorSetupDialog>(*setup, std::string(c.script) + "\nclick 2");
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.Items(1197), std::vector<std::string>(all.begin() + static_cast<long>(c.first), all.end()));
    EXPECT_EQ(run.Selected(1197), c.chosen);
  }
}

// The motor tests open over the Motor Setup, each with its help page;
// closed without a run they change nothing.
TEST_F(MotorSetupRules, TheMotorTestButtonsOpenTheirTests) {
  const struct {
    int button;
    const char* dialog;  // as the dump names it
    const char* help;
  } cases[] = {
      {1175, "dialog 288 \"Motor Phase Connection Test\"", "help/phase-connection-test.html (context 0x4010B)"},
      {1177, "dialog 290 \"Total Resistance and Inductance Identification Test\"",
       "help/resistance-inductance-test.html (context 0x4010C)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dialog);
    auto setup = ExampleSetup();
    // Every test frees the drive's start-up motion check as it opens.
    setup->SetParameterValueInBaseUnit("ABSTART_MINMOVE", 0);
    const std::string before = axcore::SerializeSetup(*setup);
    const auto run =
        RunMotorDialog<CMotorSetupDialog>(*setup, "click " + std::to_string(c.button) + "\ndump 2\nclick 10024\nclick 2\nclick 2");
    ASSERT_EQ(run.failure, "");
    EXPECT_NE(run.output.find(c.dialog), std::string::npos) << run.output;
    ASSERT_EQ(run.help.size(), 1u);
    EXPECT_NE(run.help[0].find(c.help), std::string::npos) << run.help[0];
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(axcore::SerializeSetup(*setup), before);
  }
}

TEST_F(MotorSetupRules, TheLimitSwitchWarningAndHelp) {
  auto setup = ExampleSetup();
  setup->SetOption("hasNegTransmission", "0");
  const auto run = RunMotorDialog<CMotorSetupDialog>(*setup, "type 1174 -2\nclick 3408\nclick 10024\nclick 2");
  ASSERT_EQ(run.boxes.size(), 1u) << run.failure;
  EXPECT_EQ(run.boxes[0].text,
            "When there is only a position sensor on the motor and the load moves in opposite direction (i.e. "
            "transmission is negative), the h/w limit switches connections need to be reversed. \n\nConnect positive "
            "limit switch sensor to drive's LSN input and negative limit switch sensor to drive's LSP input.");
  ASSERT_EQ(run.help.size(), 1u);
  EXPECT_NE(run.help[0].find("help/motor-setup.html (context 0x40107)"), std::string::npos) << run.help[0];
}

// Opened by the Drive Setup's button after the whole setup is brought into
// step, and by itself once, 100 ms after the Drive Setup shows, from the
// setup as it is; its OK brings registers and values into step again. A
// register held out of step with its values tells which ran.
TEST_F(MotorSetupRules, TheDriveSetupOpensItAndTakesItsResult) {
  const struct {
    const char* name;
    const char* script;  // a script that ends with a dialog open fails: no second opening
    int openings;
    double mecresl;  // encoder periods per pole pitch: 32 mm / 20 µm = 1600
  } cases[] = {
      {"by itself, OK", "wait 150\ndump 1159\ntype 1165 40\nclick 1\nwait 1000\nclick 2", 1, 2000},
      {"by itself, cancelled", "wait 150\ndump 1159\ntype 1165 40\nclick 2\nwait 1000\nclick 2", 1, 1234},
      {"not before its time", "wait 99\nclick 2", 0, 1234},
      {"by its button, cancelled", "click 10019\ndump 1159\nclick 2\nclick 2", 1, 1600},
      {"by its button, OK", "click 10019\ndump 1159\ntype 3352 16\nclick 1\nclick 2", 1, 2000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = ExampleSetup();
    setup->SetParameterValueInBaseUnit("MECRESL", 1234);
    const auto run = RunMotorDialog<CDriveSetupDlg>(*setup, c.script);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(Get(*setup, "MECRESL"), c.mecresl);
    int openings = 0;
    for (auto at = run.output.find("dialog 108"); at != std::string::npos; at = run.output.find("dialog 108", at + 1))
      ++openings;
    EXPECT_EQ(openings, c.openings) << run.output;
  }
}

TEST_F(MotorSetupRules, TheMassQuestionRaisesTheTotalMassOrDisregardsTheMotorMass) {
  const struct {
    const char* script;
    int result;
    double totalMass;  // the example: motor 0.4 kg, total 0.5 kg
    double unknown;
  } cases[] = {
      {"click 1", 1, 0.404, 0},  // the default: 1 % above the motor mass
      {"radio 3334\nclick 1", 1, 0.5, 1},
      {"radio 3334\nradio 3333\nclick 1", 1, 0.404, 0},
      {"radio 3334\nclick 2", 2, 0.5, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    auto setup = ExampleSetup();
    const auto run = RunMotorDialog<CMassQuestion>(*setup, std::string("dump 3333\n") + c.script);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.output.rfind("dialog 3056 \"Motor mass\"\n3333 radio shown=1 enabled=1 checked=1", 0), 0u);
    EXPECT_NEAR(Get(*setup, "Mt"), c.totalMass, 1e-12);
    EXPECT_EQ(Get(*setup, "isMotorMassUnknown"), c.unknown);
  }
}

}  // namespace
