// The motor database on the Motor Setup dialog as a commissioning engineer
// uses it: a catalogue motor chosen, a motor saved to the user database and
// chosen again in a later session, damaged files named, names refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "MotorSetupDlg.h"
#include "MotorSetupRun.h"

namespace {

namespace fs = std::filesystem;
using dialog_testing::ExampleSetup;
using motor_testing::RunMotorDialog;

double Get(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

class MotorDatabaseEditor : public motor_testing::MotorDatabaseFolder {};

// A catalogue motor's values are set as if typed: the new pole pitch bounds
// the encoder period, the period sets the levels offered and the step.
TEST_F(MotorDatabaseEditor, ACatalogueMotorSetsItsDataAsTyped) {
  auto setup = ExampleSetup();
  const auto run = RunMotorDialog<CMotorSetupDialog>(*setup, "select 10011 AXL-T25-1\nclick 1");
  ASSERT_EQ(run.failure, "");
  const std::pair<const char*, double> expected[] = {{"In", 1.4},  {"PolePitch", 0.0256}, {"L", 0.0022},
                                                     {"EncRes", 1e-3}, {"MotorPhaseConnectionType", 1}};
  for (const auto& [name, value] : expected) EXPECT_NEAR(Get(*setup, name), value, 1e-12) << name;
  EXPECT_NEAR(setup->FindParameter("EncRes")->GetMaxInBaseUnit(), 0.0256, 1e-15);
  EXPECT_EQ(run.Items(1197).front(), "32");      // 25.6 periods: 5 fraction bits
  EXPECT_EQ(run.Control(3353).text, "3.90625");  // 1000 µm / 256
  EXPECT_FALSE(run.Control(10013).enabled);      // the catalogue is read-only
  EXPECT_EQ(Get(*setup, "isMotorOverTemp"), 0);  // this motor has no sensor
}

TEST_F(MotorDatabaseEditor, AMotorSavedIsTheSameMotorInTheNextSession) {
  auto first = ExampleSetup();
  const auto save = RunMotorDialog<CMotorSetupDialog>(
      *first, "select 10011 AXL-F48-6\ntype 1168 2.345\ntype 1170 9.87\ntype 10014 Axis X / left\nclick 10012\nclick 1");
  ASSERT_EQ(save.failure, "");
  EXPECT_TRUE(save.boxes.empty()) << save.output;
  EXPECT_EQ(save.Selected(10011), "Axis X / left");
  EXPECT_TRUE(fs::exists(UserMotors() / "Axis_X___left.json"));

  auto second = ExampleSetup();
  ASSERT_EQ(RunMotorDialog<CMotorSetupDialog>(*second, "select 10010 USER\nselect 10011 Axis X / left\nclick 1").failure,
            "");
  for (const char* name : {"In", "ImaxM", "PolePitch", "Kf", "R", "L", "M", "isMotorMassUnknown",
                           "MotorPhaseConnectionType", "EncRes", "isMotorTemperatureSensor", "Motor_TempSensor_Type"})
    EXPECT_EQ(Get(*second, name), Get(*first, name)) << name;
  EXPECT_EQ(Get(*second, "R"), 2.345);
}

TEST_F(MotorDatabaseEditor, ADamagedFileIsNamedAndTheOthersStillLoad) {
  WriteUserMotor("a-cut.json", R"({"format": "axmotor-1", "name": "Half",)");
  WriteUserMotor("b-unit.json", R"({"format": "axmotor-1", "name": "Odd", "parameters": {"In": {"value": 3, "unit": "ft"}}})");
  WriteUserMotor("c-good.json", R"({"format": "axmotor-1", "name": "Spare", "parameters": {"R": {"value": 3.3, "unit": "ohm"}}})");
  WriteUserMotor("d-twin.json", R"({"format": "axmotor-1", "name": "SPARE", "parameters": {}})");
  auto setup = ExampleSetup();
  const auto run = RunMotorDialog<CMotorSetupDialog>(*setup, "select 10010 USER\nselect 10011 Spare\nclick 2");
  ASSERT_EQ(run.failure, "");
  ASSERT_EQ(run.boxes.size(), 1u) << run.output;
  const std::string& text = run.boxes[0].text;
  EXPECT_EQ(text.rfind("These motor database files are damaged and were left out:\n", 0), 0u) << text;
  for (const char* file : {"a-cut.json", "b-unit.json", "d-twin.json"})
    EXPECT_NE(text.find("\n" + (UserMotors() / file).string() + ": "), std::string::npos) << file;
  EXPECT_EQ(text.find("\n" + (UserMotors() / "c-good.json").string()), std::string::npos) << text;
  EXPECT_EQ(run.Items(10011), std::vector<std::string>{"Spare"});
  EXPECT_EQ(Get(*setup, "R"), 3.3);
}

TEST_F(MotorDatabaseEditor, SavingRefusesAMissingOrTakenName) {
  WriteUserMotor("mine.json", R"({"format": "axmotor-1", "name": "Mine", "parameters": {}})");
  const std::pair<const char*, const char*> cases[] = {
      {"click 10012", "Type a name for the motor into the Name field, then save it again."},
      {"select 10011 AXL-U30-2\nclick 10012",  // its own name comes with a chosen motor
       "A motor named \"AXL-U30-2\" is already in the CATALOGUE database. Give this motor another name."},
      {"type 10014 MINE\nclick 10012",
       "A motor named \"MINE\" is already in the USER database. Give this motor another name."},
  };
  for (const auto& [script, message] : cases) {
    SCOPED_TRACE(script);
    auto setup = ExampleSetup();
    const auto run = RunMotorDialog<CMotorSetupDialog>(*setup, std::string(script) + "\nclick 2");
    ASSERT_EQ(run.boxes.size(), 1u) << run.failure << run.output;
    EXPECT_EQ(run.boxes[0].text, message);
    EXPECT_EQ(std::distance(fs::directory_iterator(UserMotors()), fs::directory_iterator()), 1);
  }
}

TEST_F(MotorDatabaseEditor, OnlyAUserMotorCanBeDeletedAndOnlyWhenConfirmed) {
  const struct {
    const char* script;
    bool kept;
    const char* failure;
  } cases[] = {
      {"select 10010 USER\nselect 10011 Mine\nanswer no\nclick 10013\nclick 2", true, ""},
      {"select 10010 USER\nselect 10011 Mine\nanswer yes\nclick 10013\nclick 2", false, ""},
      {"select 10011 AXL-F32-3\nclick 10013", true, "line 2: button 10013 is disabled"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    WriteUserMotor("mine.json", R"({"format": "axmotor-1", "name": "Mine", "parameters": {}})");
    auto setup = ExampleSetup();
    const auto run = RunMotorDialog<CMotorSetupDialog>(*setup, c.script);
    EXPECT_EQ(run.failure, c.failure);
    EXPECT_EQ(fs::exists(UserMotors() / "mine.json"), c.kept);
    EXPECT_EQ(run.Items(10011).empty() && c.failure[0] == '\0', !c.kept);
  }
}

}  // namespace
