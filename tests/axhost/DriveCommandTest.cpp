// `axhost drive run` as a script uses it: NAME=VALUE lines with 17 digits,
// exit 1 with the drive's failure text, exit 2 naming a bad argument.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "support/HostRunner.h"

namespace {

namespace fs = std::filesystem;

struct HostRun {
  int status;
  std::string out, err;
  std::map<std::string, double> values;
};

HostRun Axhost(const std::string& arguments) {
  testing_support::TempDir scratch("drive-run");
  const testing_support::HostRun raw = testing_support::RunAxhost(arguments, scratch.path());
  HostRun run{raw.status, raw.out, raw.err, {}};
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) run.values[line.substr(0, eq)] = std::strtod(line.c_str() + eq + 1, nullptr);
  }
  return run;
}

TEST(DriveRun, PrintsTheProgramsVariablesAndWhatItWrote) {
  HostRun run = Axhost("drive run Ident_R_or_Rs RefTest=8800 RIncTest=20 In1=4910");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.rfind("RefTest=8800\nRIncTest=20\nIn1=4910\nSTARTED=1\nvar_i1=", 0), 0u) << run.out;
  // The held voltage: 1.5 A through the example plant's 4.45 ohm plus the
  // bridge's dead-time drop, in counts of 1.1 x 47.2 V / 65534.
  EXPECT_NEAR(run.values["var_i1"], (1.5 * 4.45 + 0.32) * 65534 / (1.1 * 47.2), 150);
  EXPECT_NEAR(run.values["var_u2"], 47.2 * 65472 / 102, 100);

  HostRun vdc = Axhost("drive run VDC_Detection_Test");
  ASSERT_EQ(vdc.status, 0) << vdc.err;
  EXPECT_EQ(vdc.out.find("var_u2="), vdc.out.find('\n') + 1) << vdc.out;
}

TEST(DriveRun, AnotherPlantFileChangesWhatTheDriveFinds) {
  const fs::path plant = fs::temp_directory_path() / ("plant-" + std::to_string(::getpid()) + ".json");
  std::ofstream(plant) << R"({"vdc_V": 24})";
  HostRun run = Axhost("--drive virtual:" + plant.string() + " drive run VDC_Detection_Test");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NEAR(run.values["var_u2"], 24.0 * 65472 / 102, 64);
  std::ofstream(plant) << R"({"vdc_V": -24})";
  HostRun bad = Axhost("--drive virtual:" + plant.string() + " drive run VDC_Detection_Test");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("\"vdc_V\""), std::string::npos) << bad.err;
  fs::remove(plant);
}

TEST(DriveRun, BadArgumentsAndFailuresGiveTheirStatusAndOneLine) {
  struct Case {
    std::string arguments;
    int status;
    const char* fragment;
  };
  const std::string descriptors = std::string(AX_EXAMPLES_DIR) + "/../qtxmod/resources/programs/";
  const Case cases[] = {
      {"drive run Ident_R_or_Rs In1", 2, "\"In1\": not an assignment VAR=VALUE"},
      {"drive run Ident_R_or_Rs In1=abc", 2, "\"In1=abc\": the value is not a number"},
      {"drive run Ident_R_or_Rs Nope=1", 2, "\"Nope=1\": program \"Ident_R_or_Rs\" has no variable \"Nope\""},
      {"drive run Ident_R_or_Rs In1=70000", 2, "\"In1=70000\""},
      {"--drive serial drive run VDC_Detection_Test", 2, "unknown drive"},
      // A program the plug-in has no descriptor for is a bad argument.
      {"drive run No_Such_Program", 2, "\"No_Such_Program\": no such test program"},
      // A program name is a name, never a path to a descriptor elsewhere.
      {"drive run '" + descriptors + "VDC_Detection_Test'", 2, "\": not a test program name"},
      {"drive run ../programs/VDC_Detection_Test", 2, "\"../programs/VDC_Detection_Test\": not a test program name"},
      {"drive run \"$(printf 'VDC\\nerror: forged')\"", 2, "\"VDC\\nerror: forged\": not a test program name"},
      {"drive run VDC_Detection_Test 'In 1=5'", 2, "\"In 1=5\": not an assignment VAR=VALUE"},
      // Without a current to hold, the positioning answers 0.
      {"drive run Initial_Positioning_Test In1=0", 0, ""},
  };
  for (const Case& c : cases) {
    HostRun run = Axhost(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments << ": " << run.err;
    EXPECT_NE(run.err.find(c.fragment), std::string::npos) << run.err;
    if (c.status != 0) {
      EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
  }
}

}  // namespace
