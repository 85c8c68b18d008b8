// axhost tune as a user runs it: the arguments it refuses before opening
// anything, and one current loop tuned at 250 Hz with its graph saved as
// CSV and the tuned setup written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "axcore/SetupFile.h"
#include "support/HostRunner.h"

namespace {

namespace fs = std::filesystem;

TEST(TuneCommandTest, RefusesBadArgumentsBeforeOpeningAnything) {
  testing_support::TempDir dir{"axtest-tune"};
  const struct {
    const char* arguments;
    const char* err;  // the start of standard error
  } cases[] = {
      {"tune torque", "error: tune: no loop \"torque\"; one of: current, speed, position, angle"},
      {"tune speed --passband 5000", "error: tune: --passband 5000 rad/s: the passband PB_S goes from"},
      {"tune current --passband 250parsec", "error: tune: --passband: unknown unit \"parsec\""},
      // Only plain decimal numbers: no hexadecimal, no empty text, nothing
      // beyond a double.
      {"tune current --passband 0x7D0", "error: tune: --passband: unknown unit \"x7D0\": give a decimal number"},
      {"tune current --passband ''", "error: tune: --passband takes a decimal number of rad/s"},
      {"tune current --passband ' 100'", "error: tune: --passband takes a decimal number of rad/s"},
      {"tune current --passband 1e308kHz", "error: tune: --passband must be a number above 0 that a double holds"},
      // The example's PB_C goes from 2 pi 100 Hz to 2 pi 3 kHz.
      {"tune current --passband 50", "error: tune: --passband 50 rad/s: the passband PB_C goes from 628.3185 to 1884"},
      {"tune current --passband 3.1kHz", "error: tune: --passband 19477.87 rad/s: the passband PB_C goes from"},
      {"tune angle --passband 1000", "error: tune: --passband and --no-tune are for the loops designed from a passband"},
      {"tune current --plot graph.txt", "error: tune: --plot takes a file ending in .svg, .png or .csv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const auto run = testing_support::RunAxhost(c.arguments, dir.path());
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
  }
}

std::vector<std::vector<double>> CsvRows(std::istream& in) {
  std::vector<std::vector<double>> rows;
  for (std::string line; std::getline(in, line);) {
    std::vector<double>& row = rows.emplace_back();
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, ',');) row.push_back(std::strtod(field.c_str(), nullptr));
  }
  return rows;
}

TEST(TuneCommandTest, TunesAt250HzSavesTheGraphAndTheSetup) {
  testing_support::TempDir dir{"axtest-tune"};
  const fs::path csv = dir.path() / "x.csv", out = dir.path() / "out.json";
  const auto run = testing_support::RunAxhost(
      "tune current --passband 250Hz --plot '" + csv.string() + "' -o '" + out.string() + "'", dir.path());
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  for (const char* line : {"\nresult: passed\ngains: Kp_C_scl = ", "\nstep response (the loop's model in parentheses):",
                           "\n  Rise time (10-90 %): ", "\n  Overshoot: ", "\nplot written to "})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;

  std::istringstream text(testing_support::ReadFile(csv));
  std::string header;
  std::getline(text, header);
  EXPECT_EQ(header, "time_s,Current_Reference,Motor_Current,Voltage_Reference");
  const auto rows = CsvRows(text);
  ASSERT_EQ(rows.size(), 100u);
  // Amperes and volts, not drive counts: the drive steps to the 1.5 A test
  // current in whole counts of 20 A / 65472, and the plant's 4.45 ohm takes
  // 6.7 V of it (a little more with the bridge's dead time).
  double current = 0.0, voltage = 0.0;
  for (std::size_t k = 90; k < 100; ++k) {
    ASSERT_EQ(rows[k].size(), 4u);
    current += rows[k][2] / 10.0;
    voltage += rows[k][3] / 10.0;
  }
  EXPECT_NEAR(rows.back()[1], 1.5, 20.0 / 65472.0);
  EXPECT_NEAR(current, 1.5, 0.05);
  EXPECT_NEAR(voltage, 4.45 * 1.5, 0.15 * 4.45 * 1.5);
  EXPECT_NEAR(rows[1][0] - rows[0][0], 50e-6, 1e-12);

  auto tuned = axcore::ParseSetup(testing_support::ReadFile(out), "out.json").setup;
  ASSERT_NE(tuned, nullptr);
  EXPECT_NEAR(tuned->GetParameterValueInBaseUnit("PB_C"), 2.0 * std::numbers::pi * 250.0, 1e-9);
}

TEST(TuneCommandTest, TheSpeedProfilesFiguresComeBesideTheModels) {
  testing_support::TempDir dir{"axtest-tune"};
  const auto run = testing_support::RunAxhost("tune speed --passband 150", dir.path());
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  for (const char* line : {"\nresult: passed\ngains: Kp_S_scl = ", "\nprofile response (the loop's model in parentheses):",
                           "\n  Following error: peak ", " (model peak ", "\n  Settling after ramp 2: "})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;
}

}  // namespace
