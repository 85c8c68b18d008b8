// The External Reference Setup dialog driven as a user drives it, alone and
// from the Drive Setup dialog's Setup button.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "AnalogReferenceDlg.h"
#include "FeatureProbes.h"
#include "ScriptedDialog.h"
#include "axcore/Setup.h"

namespace {

using dialog_testing::Expect;
using dialog_testing::ExampleSetup;
using Outcome = dialog_testing::DialogScriptRun<CAnalogReferenceDlg>;

double Get(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

Outcome RunDialog(CMC_Setup& setup, const std::string& script) {
  return dialog_testing::RunScript<CAnalogReferenceDlg>(
      script, [&] { return std::make_unique<CAnalogReferenceDlg>(&setup); });
}

constexpr const char* kSpeedText = "Limit maximum speed at";
constexpr const char* kAccelerationText = "Limit maximum acceleration at";

// What the control mode, the reference type and the drive's options show and
// allow. The example is a position axis on a digital reference with the
// limit switched on, on a ±10 V input.
TEST(AnalogReferenceStates, ModeTypeAndOptionsDecideWhatIsShownAndUsable) {
  const struct {
    const char* name;
    std::function<void(CMC_Setup&)> prepare;
    const char* script;
    const char* picture;
    std::vector<Expect> expect;
  } cases[] = {
      {"position, digital reference", [](CMC_Setup&) {}, "", "3003",
       {{1007, 1, 0, "Maximum Position"}, {1006, 1, 0}, {3289, 1, 1, nullptr, 1}, {3290, 1, 1, nullptr, 0},
        {3291, 1, 1}, {3296, 1, 1, "1"}, {3116, 1, 1, kAccelerationText, 1}, {3304, 1, 1, "10"}, {3137, 1, 1, "m/s^2"},
        {3302, 0}, {3136, 0}, {3328, 1, 0, "-10"}, {3327, 1, 0, "10"}, {1002, 0}, {1000, 1, 0}}},
      {"switched to analogue: the speed limit takes the acceleration's place", [](CMC_Setup&) {}, "radio 3290\n",
       "3003",
       {{1006, 1, 1}, {1000, 1, 1}, {3328, 1, 1}, {3291, 1, 0}, {3296, 1, 0}, {3116, 1, 1, kSpeedText},
        {3302, 1, 1, "1"}, {3136, 1, 1, "m/s"}, {3304, 0}, {3137, 0}}},
      {"back to digital", [](CMC_Setup&) {}, "radio 3290\nradio 3289\n", "3003",
       {{3116, 1, 1, kAccelerationText}, {3304, 1, 1}, {3302, 0}, {3291, 1, 1}}},
      {"limit off: neither limit field", [](CMC_Setup&) {}, "check 3116 0\n", "3003",
       {{3116, 1, 1, nullptr, 0}, {3304, 0}, {3302, 0}}},
      {"speed mode: analogue only, the acceleration limit in the speed limit's place",
       [](CMC_Setup& s) {
         s.SetParameterValueInBaseUnit("ControlMode", 1);
         s.SetParameterValueInBaseUnit("isAnalogueReference", 1);
       },
       "", "3044",
       {{1007, 1, 1, "Maximum Speed"}, {1009, 1, 1, "Minimum Speed"}, {3289, 1, 0}, {3291, 1, 0}, {3295, 1, 0},
        {3116, 1, 1, kAccelerationText}, {3302, 1, 1, "10"}, {3136, 1, 1, "m/s^2"}, {3304, 0}}},
      {"torque mode: nothing to limit",
       [](CMC_Setup& s) {
         s.SetParameterValueInBaseUnit("ControlMode", 2);
         s.SetParameterValueInBaseUnit("isAnalogueReference", 1);
       },
       "", "3002",
       {{1007, 1, 1, "Maximum Current"}, {1006, 1, 1, "3.66585"}, {1015, 1, 1, "A"}, {3116, 0}, {3302, 0},
        {3136, 0}, {3304, 0}, {3137, 0}, {3289, 1, 0}}},
      {"the drive refuses a digital reference", [](CMC_Setup& s) { s.SetOption("DisableExternalDigitalReference", "1"); },
       "radio 3290\n", "3003", {{3289, 1, 0, nullptr, 0}, {3290, 1, 1, nullptr, 1}}},
      {"a 5 V input", [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("AnalogueInputsRange", 5); }, "", "3003",
       {{3328, 1, 0, "0"}, {3327, 1, 0, "5"}}},
      {"a 3.3 V input", [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("AnalogueInputsRange", 10); }, "", "3003",
       {{3328, 1, 0, "0"}, {3327, 1, 0, "3.3"}}},
      {"the input filter's row follows its check", [](CMC_Setup&) {}, "radio 3290\ncheck 1001 1\n", "3003",
       {{1002, 1, 1}, {1003, 1, 1, "50"}, {1004, 1, 1, "1/s"}}},
      {"a drive without an analogue input", [](CMC_Setup& s) { s.RemoveVariable("CADIN"); }, "", "3003",
       {{3290, 1, 0}, {1006, 1, 0, ""}, {1010, 1, 0, ""}, {1001, 1, 0, nullptr, 0}, {1002, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = ExampleSetup();
    c.prepare(*setup);
    const Outcome run = RunDialog(*setup, std::string(c.script) + "click 2\n");
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.Control(1014).image, c.picture);
    dialog_testing::CheckControls(run, c.expect);
  }
}

// Values the user enters, and what they pull along.
TEST(AnalogReferenceValues, EachEndAndPartnerFollowsTheOther) {
  const struct {
    const char* name;
    std::function<void(CMC_Setup&)> prepare;
    const char* script;
    std::function<void(const CMC_Setup&, const Outcome&)> check;
  } cases[] = {
      {"a maximum typed below the minimum stops at the minimum", [](CMC_Setup&) {}, "radio 3290\ntype 1006 -5\n",
       [](const CMC_Setup& s, const Outcome&) { EXPECT_DOUBLE_EQ(Get(s, "POS_max"), Get(s, "POS_min")); }},
      {"a minimum typed above the maximum stops at the maximum", [](CMC_Setup&) {}, "radio 3290\ntype 1008 2\n",
       [](const CMC_Setup& s, const Outcome&) { EXPECT_DOUBLE_EQ(Get(s, "POS_min"), Get(s, "POS_max")); }},
      {"a wider maximum widens what the minimum may reach", [](CMC_Setup&) {},
       "radio 3290\ntype 1006 2\ntype 1008 1.5\n",
       [](const CMC_Setup& s, const Outcome&) {
         EXPECT_DOUBLE_EQ(Get(s, "POS_max"), 0.002);
         EXPECT_DOUBLE_EQ(Get(s, "POS_min"), 0.0015);
       }},
      {"the speed minimum takes the unit picked for the maximum",
       [](CMC_Setup& s) {
         s.SetParameterValueInBaseUnit("ControlMode", 1);
         s.SetParameterValueInBaseUnit("isAnalogueReference", 1);
       },
       "unit 1015 mm/s\n",
       [](const CMC_Setup& s, const Outcome& run) {
         EXPECT_EQ(s.GetParameterUnit("SPD_min"), "mm/s");
         EXPECT_EQ(run.Control(1008).text, "-1875");
       }},
      {"the dead band range takes the unit picked for its point", [](CMC_Setup&) {}, "radio 3290\nunit 1016 mV\n",
       [](const CMC_Setup& s, const Outcome& run) {
         EXPECT_EQ(s.GetParameterUnit("DeadBand_Range"), "mV");
         EXPECT_EQ(run.Control(1012).text, "99.89");
       }},
      // Without the new dead band the band reaches no further than the
      // nearer end of ±10 V from its point: 9 V leaves 1 V.
      {"an old dead band narrows as its point nears an end",
       [](CMC_Setup& s) {
         s.SetOption("NewDeadBand", "0");
         s.SetParameterValueInBaseUnit("DeadBand_Range", 2);
       },
       "radio 3290\ntype 1010 9\n",
       [](const CMC_Setup& s, const Outcome& run) {
         EXPECT_DOUBLE_EQ(s.FindParameter("DeadBand_Range")->GetMaxInBaseUnit(), 1.0);
         EXPECT_DOUBLE_EQ(Get(s, "DeadBand_Range"), 1.0);
         EXPECT_EQ(run.Control(1012).text, "1");
       }},
      {"a new dead band may span the whole input", [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("DeadBand_Range", 2); },
       "radio 3290\ntype 1010 9\ntype 1012 15\n",
       [](const CMC_Setup& s, const Outcome&) {
         EXPECT_DOUBLE_EQ(s.FindParameter("DeadBand_Range")->GetMaxInBaseUnit(), 20.0);
         EXPECT_DOUBLE_EQ(Get(s, "DeadBand_Range"), 15.0);
       }},
      {"the gear ratio", [](CMC_Setup&) {}, "type 3296 4\ntype 3295 -3\n",
       [](const CMC_Setup& s, const Outcome&) {
         EXPECT_EQ(Get(s, "GEARMASTER"), 4);
         EXPECT_EQ(Get(s, "GEARSLAVE"), -3);
       }},
      {"the test opens over it and closes back to it", [](CMC_Setup&) {},
       "radio 3290\nclick 1000\ndump 10000\nclick 2\n",
       [](const CMC_Setup&, const Outcome& run) {
         EXPECT_TRUE(run.boxes.empty());
         EXPECT_NE(run.output.find("dialog 104 \"Analogue Reference Test\""), std::string::npos) << run.output;
       }},
      {"help", [](CMC_Setup&) {}, "click 10024\n",
       [](const CMC_Setup&, const Outcome& run) {
         ASSERT_EQ(run.help.size(), 1u);
         EXPECT_NE(run.help[0].find("help/external-reference.html (context 0x40101)"), std::string::npos) << run.help[0];
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = ExampleSetup();
    c.prepare(*setup);
    const Outcome run = RunDialog(*setup, std::string(c.script) + "click 1\n");
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, 1);
    c.check(*setup, run);
  }
}

// Drive Setup opens it on its Setup button; only OK brings the registers
// into step with what the user changed.
TEST(AnalogReferenceFromDriveSetup, OkEncodesTheGearRatioCancelKeepsTheValuesOnly) {
  const struct {
    const char* close;
    double gear;
  } cases[] = {{"click 1\n", 1.5}, {"click 2\n", 1.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.close);
    auto setup = ExampleSetup();
    const auto run = dialog_testing::RunDriveSetup(
        *setup, std::string("radio 1064\nclick 3208\ntype 3296 2\ntype 3295 3\n") + c.close + "click 2\n");
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(Get(*setup, "GEARSLAVE"), 3);
    EXPECT_EQ(Get(*setup, "GEAR"), c.gear);
  }
}

}  // namespace
