// The plant file reader, the program descriptors the plug-in reads, the
// logger's timing and the drive's notion of time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "DriveRun.h"

namespace {

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(PlantFile, TheExampleIsTheEmbeddedPlantAndDiffersFromTheSetup) {
  EXPECT_EQ(Slurp(std::filesystem::path(AX_EXAMPLES_DIR) / "plant-linear.json"), virtualdrive::ExamplePlantText());
  virtualdrive::PlantLoad load = virtualdrive::LoadPlantFile(std::string(AX_EXAMPLES_DIR) + "/plant-linear.json");
  ASSERT_TRUE(load.plant) << load.error;
  auto setup = drive_run::ExampleSetup();
  // Identification must find something: every true value is off its nominal.
  EXPECT_NE(load.plant->phase_resistance_ohm, setup->GetParameterValueInBaseUnit("R"));
  EXPECT_NE(load.plant->phase_inductance_H, setup->GetParameterValueInBaseUnit("L"));
  EXPECT_NE(load.plant->vdc_V, setup->GetParameterValueInBaseUnit("Vdc"));
  EXPECT_NE(load.plant->force_constant_N_per_A, setup->GetParameterValueInBaseUnit("Kf"));
}

// {"a":{"a":...1...}}, `depth` objects deep.
std::string DeepObjects(std::size_t depth) {
  std::string text;
  for (std::size_t i = 0; i < depth; ++i) text += "{\"a\":";
  return text + "1" + std::string(depth, '}');
}

TEST(PlantFile, ABadFileIsRefusedWithOneLineNamingFileKeyAndReason) {
  struct Case {
    std::string text;
    const char* expected;
  };
  const Case cases[] = {
      {"{\"vdc_V\": 48,", "p.json: invalid JSON: parse error"},
      {"[1]", "p.json: the plant must be a JSON object"},
      {"{\"vdc_V\": 0}", "p.json: \"vdc_V\": must be a number above 0"},
      {"{\"phase_resistance_ohm\": \"4\"}", "p.json: \"phase_resistance_ohm\": must be a number"},
      {"{\"connection\": \"wye\"}", "p.json: \"connection\": must be \"star\" or \"delta\""},
      {"{\"encoder_direction\": 0}", "p.json: \"encoder_direction\": must be 1 or -1"},
      {"{\"encoder_interpolation_bits\": 8.5}", "p.json: \"encoder_interpolation_bits\": must be a whole number"},
      {"{\"vdc\": 48}", "p.json: \"vdc\": not a key of a plant file"},
      {"{\"travel_min_m\": 1, \"travel_max_m\": 0.5}", "p.json: \"travel_max_m\": must be above travel_min_m"},
      {"{\"noise_seed\": -1}", "p.json: \"noise_seed\": must be a whole number from 0"},
      {"{\"limit_switch_margin_m\": 0.4}", "p.json: \"limit_switch_margin_m\": leaves no travel"},
      {"{\"faults\": []}", "p.json: \"faults\": must be an object"},
      {"{\"faults\": {\"open_lead\": \"D\"}}", "p.json: \"faults\".\"open_lead\": must be \"A\", \"B\" or \"C\""},
      {"{\"faults\": {\"missing_encoder\": 1}}", "p.json: \"faults\".\"missing_encoder\": must be true or false"},
      {"{\"faults\": {\"swapped_phases\": true}}", "p.json: \"faults\".\"swapped_phases\": not a fault"},
      {"{\"phase_resistance_scale\": [1, 0, 1]}", "p.json: \"phase_resistance_scale\": must be three numbers above 0"},
      {"{\"phase_resistance_scale\": [1, 2]}", "p.json: \"phase_resistance_scale\": must be three numbers"},
      // A winding of almost no resistance turns the currents, then the
      // position, into NaN.
      {"{\"connection\": \"delta\", \"phase_resistance_scale\": [1e-300, 1, 1]}",
       "p.json: \"phase_resistance_scale\": gives winding A a resistance below 1e-06 ohm"},
      {"{\"phase_resistance_ohm\": 1e-300}", "p.json: \"phase_resistance_ohm\": gives winding A a resistance below"},
      {"{\"phase_inductance_H\": 10, \"phase_resistance_scale\": [1, 1, 0.01]}",
       "p.json: \"phase_resistance_scale\": gives winding C a time constant L/R above 10 s"},
      {"{\"analogue_input_V\": \"5\"}", "p.json: \"analogue_input_V\": must be a number from -1000"},
      // As a setup file is read: no number beyond a double, no integer the
      // library holds as unsigned, no repeated key, no deep nesting, and a
      // key shown on one line.
      {"{\"vdc_V\": 1e309}", "p.json: \"vdc_V\": number overflow parsing '1e309' (not a finite number)"},
      {"{\"encoder_direction\": 18446744073709551615}", "p.json: \"encoder_direction\": must be a whole number"},
      {"{\"vdc_V\": 24, \"vdc_V\": 48}", "p.json: duplicate key \"vdc_V\""},
      {"{\"vdc_V\":" + DeepObjects(400000) + "}", "p.json: \"vdc_V\".\"a\".\"a\": nested more than 64 levels deep"},
      {"{\"vdc\\n_V\": 48}", "p.json: \"vdc\\n_V\": not a key of a plant file"},
  };
  for (const Case& c : cases) {
    virtualdrive::PlantLoad load = virtualdrive::ParsePlant(c.text, "p.json");
    EXPECT_FALSE(load.plant) << c.expected;
    EXPECT_EQ(load.error.rfind(c.expected, 0), 0u) << load.error;
    EXPECT_EQ(load.error.find('\n'), std::string::npos);
  }
  EXPECT_EQ(virtualdrive::LoadPlantFile("/no/such/plant.json").error,
            "/no/such/plant.json: cannot read: No such file or directory");
  EXPECT_EQ(virtualdrive::LoadPlantFile(AX_EXAMPLES_DIR).error,
            std::string(AX_EXAMPLES_DIR) + ": cannot read: is a directory");
}

TEST(PlantFile, FaultsUnbalancedPhasesAndTheAnalogueInputReachThePlant) {
  const virtualdrive::PlantLoad load = virtualdrive::ParsePlant(
      R"({"faults": {"open_lead": "C", "reversed_encoder": true, "missing_encoder": false},
          "phase_resistance_scale": [1, 1.5, 0.5], "analogue_input_V": -2.5})",
      "p.json");
  ASSERT_TRUE(load.plant) << load.error;
  EXPECT_EQ(load.plant->faults.openLead, 2);
  EXPECT_TRUE(load.plant->faults.encoderReversed);
  EXPECT_FALSE(load.plant->faults.encoderMissing);
  EXPECT_EQ(load.plant->phase_resistance_scale, (std::array<double, 3>{1, 1.5, 0.5}));
  // The plant starts with them.
  virtualdrive::VirtualDrive drive(*load.plant);
  EXPECT_EQ(drive.GetPlant().Faults().openLead, 2);
  EXPECT_TRUE(drive.GetPlant().Faults().encoderReversed);
  std::string error;
  ASSERT_TRUE(drive.StartProgram("Analogue_Reference_Test", nullptr, error));
  drive.AdvanceTo(0.001);
  double reading = 0;
  ASSERT_TRUE(drive.ReadVariable("AD5", reading, error));
  EXPECT_NEAR(reading, 0.375 * 65472, 32);
}

TEST(ProgramDescriptors, EachProgramOfTheDriveHasItsDescriptorAndNoOther) {
  const std::filesystem::path folder = std::filesystem::path(AX_EXAMPLES_DIR) / ".." / "qtxmod" / "resources" / "programs";
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    ++files;
    const auto json = nlohmann::ordered_json::parse(Slurp(entry.path()));
    const std::string name = json.at("program");
    EXPECT_EQ(entry.path().stem().string(), name);
    const virtualdrive::ProgramSpec* spec = virtualdrive::FindProgram(name);
    ASSERT_NE(spec, nullptr) << name;
    ASSERT_EQ(json.at("variables").size(), spec->variables.size()) << name;
    std::size_t k = 0;
    for (const auto& [variable, type] : json.at("variables").items()) {
      const virtualdrive::UserVariableSpec& expected = spec->variables[k++];
      EXPECT_EQ(variable, expected.name) << name;
      const char* typeName = expected.type == virtualdrive::VariableType::Int    ? "int"
                             : expected.type == virtualdrive::VariableType::Long ? "long"
                                                                                  : "fixed";
      EXPECT_EQ(type, typeName) << name << ' ' << variable;
    }
  }
  EXPECT_EQ(files, virtualdrive::ProgramTable().size());
}

TEST(DriveTime, TheDriveFollowsItsClockInWholeLoopPeriods) {
  VirtualClock clock;
  virtualdrive::VirtualDrive drive(drive_run::QuietPlant(), &clock);
  std::string error;
  ASSERT_TRUE(drive.StartProgram("VDC_Detection_Test", nullptr, error));
  double started = -1;
  // 256 readings of 50 µs: not there after 12.7 ms, there after 12.85 ms.
  clock.Advance(0.0127);
  drive.GetProgramVariable("VDC_Detection_Test", "STARTED", started, error);
  EXPECT_EQ(started, 0.0);
  clock.Advance(0.00015);
  drive.GetProgramVariable("VDC_Detection_Test", "STARTED", started, error);
  EXPECT_EQ(started, 1.0);
  // A slower loop: PWMPER 2000 doubles the period.
  ASSERT_TRUE(drive.WriteRegister("PWMPER", 2000, error));
  EXPECT_DOUBLE_EQ(drive.Firmware().Period_s(), 100e-6);
  // An idle drive passes a long wait at once and stays where it was.
  clock.Advance(3600);
  drive.AdvanceTo(clock.Now());
  EXPECT_NEAR(drive.Now_s(), clock.Now(), 100e-6);
}

TEST(DataLogger, PointsCarryTheirTimeAndComeEveryStepOfTheirLoop) {
  struct Case {
    int logType, step;
    double spacing_s;
  };
  for (const Case& c : {Case{2, 1, 50e-6}, Case{2, 4, 200e-6}, Case{1, 1, 500e-6}, Case{1, 3, 1.5e-3}}) {
    drive_run::Bench bench(drive_run::QuietPlant());
    LoggerSettings logger{20, c.logType, c.step, {"Current_Reference", "THTST"}};
    ASSERT_TRUE(bench.Run("Current_Controller_Tuning_Test", {{"In1", 1000}}, &logger).finished);
    const auto points = bench.Log();
    ASSERT_EQ(points.size(), 20u);
    for (std::size_t k = 0; k < points.size(); ++k) {
      ASSERT_EQ(points[k].size(), 3u);
      EXPECT_NEAR(points[k][0], k * c.spacing_s, 1e-9);
    }
    EXPECT_EQ(points.front()[1], 0.0);   // before the step
    EXPECT_EQ(points.back()[1], 1000.0);  // the step
  }
}

}  // namespace
