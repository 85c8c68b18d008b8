// `axhost compute` and `axhost encode` as a user runs them, and damaged
// setups through the binary: exit status, reports, and the files written.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "Commands.h"
#include "EmbeddedExamples.h"
#include "axcore/SetupFile.h"
#include "support/HostRunner.h"
#include "support/SetupMutations.h"

namespace {

namespace fs = std::filesystem;

using testing_support::HostRun;
using testing_support::ReadFile;

class Compute : public ::testing::Test {
 protected:
  HostRun Axhost(const std::string& arguments) { return testing_support::RunAxhost(arguments, scratch.path()); }

  // The basic example, changed by `edit`, written to `name`.
  template <typename Edit>
  fs::path WriteBasic(const std::string& name, Edit edit) {
    auto load = axcore::ParseSetup(LinearDriveBasicExample(), "basic");
    EXPECT_TRUE(load.setup) << load.error;
    edit(*load.setup);
    const fs::path path = dir / name;
    EXPECT_EQ(axcore::SaveSetupFile(*load.setup, path.string()), "");
    return path;
  }

  static std::unique_ptr<CMC_Setup> Read(const fs::path& path) {
    auto load = axcore::LoadSetupFile(path.string());
    EXPECT_TRUE(load.setup) << load.error;
    return std::move(load.setup);
  }

  testing_support::TempDir scratch{"axhost-scratch"};
  testing_support::TempDir files{"axhost-compute"};
  const fs::path& dir = files.path();
};

TEST_F(Compute, RunsAllFourStagesOnTheBasicExample) {
  const fs::path in = WriteBasic("in.json", [](CMC_Setup& s) {
    s.SetParameterValueInBaseUnit("ACR", 0x0300);  // the speed loop alone: decodes to ControlMode 1
    s.SetParameterValueInBaseUnit("SLPER", 20);    // Ts_S = 20 * 2 * 1000 / 40 MHz = 1 ms
    s.SetParameterValueInBaseUnit("TransmissionType", 1);
    s.FindParameter("isAnalogueReference")->SetMaxInBaseUnit(1);
    s.SetOption("IsClosedSpeed", "0");
  });
  const fs::path out = dir / "out.json";
  HostRun run = Axhost("compute '" + in.string() + "' -o '" + out.string() + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  auto result = Read(out);
  ASSERT_TRUE(result);
  // Decoding: the registers give the mode and the loop period.
  EXPECT_EQ(result->GetParameterValueInBaseUnit("ControlMode"), 1.0);
  EXPECT_NEAR(result->GetParameterValueInBaseUnit("Ts_S"), 1e-3, 1e-15);
  // Without the analogue input the reference cannot be analogue.
  EXPECT_EQ(result->FindParameter("isAnalogueReference")->GetMinInBaseUnit(), 0.0);
  EXPECT_EQ(result->FindParameter("isAnalogueReference")->GetMaxInBaseUnit(), 0.0);
  // Limits from the computed period: 32767 * 1 ms.
  EXPECT_NEAR(result->FindParameter("time_ERR_pos")->GetMaxInBaseUnit(), 32.767, 1e-12);
  // Options from the decoded mode, reported as written.
  EXPECT_EQ(result->GetOptionNoError("IsClosedPosition"), "0");
  EXPECT_EQ(result->GetOptionNoError("IsClosedSpeed"), "1");
  EXPECT_NE(run.out.find("\nIsClosedPosition = 0\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nIsClosedSpeed = 1\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("IsClosedCurrent ="), std::string::npos) << "unchanged options are not listed";
  // Units of a rotary load.
  EXPECT_STREQ(result->FindParameter("TestSpeed")->GetShownUnit().GetName(), "rpm");
  // The optional registers the basic drive lacks are probed quietly.
  for (const char* probed : {"CADIN", "KPTHT", "isSWLS", "isSpeedEstimator", "save_CAN_baudrate", "BRAKECFG",
                             "isMotorBrake", "POSOKLIM_FC", "InputsPolarityType", "IQREF_BQ_INI", "ReverseCounting",
                             "ELRES_FRACT", "SpeedForward", "isFilterEnc", "FilterEncValue", "II2TWARLIM_D"})
    EXPECT_EQ(run.err.find(std::string("\"") + probed + "\""), std::string::npos) << run.err;
}

TEST_F(Compute, PrintsTheUserParametersAndWritesNothingWithoutOutput) {
  const fs::path in = WriteBasic("in.json", [](CMC_Setup& s) { s.ClearOption("isIndex"); });
  HostRun run = Axhost("compute '" + in.string() + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("name ", 0), 0u) << run.out;
  // The basic example: EncRes 20 µm shown in µm, at most the pole pitch of 32 mm.
  EXPECT_NE(run.out.find("\nEncRes "), std::string::npos);
  std::istringstream encRes(run.out.substr(run.out.find("\nEncRes ") + 1));
  std::string name, value, unit, min, max;
  encRes >> name >> value >> unit >> min >> max;
  EXPECT_EQ(value + " " + unit + " " + max, "20 µm 32000");
  EXPECT_EQ(run.out.find("\nKPI "), std::string::npos) << "registers are not user parameters";
  EXPECT_NE(run.out.find("\noptions written:\nisIndex = 1\n"), std::string::npos) << run.out;
  std::size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir)) files += e.path().extension() == ".json";
  EXPECT_EQ(files, 1u) << "only the input";
}

TEST_F(Compute, FailsWithOneLineAndWritesNothingWhenTheModuleCannotCompute) {
  PluginModule module;
  ASSERT_EQ(module.Load(AX_PLUGIN_PATH), "");
  module.computeAllOptions = nullptr;  // as an older build of the plug-in
  const fs::path out = dir / "out.json";
  std::ostringstream stdoutText, stderrText;
  EXPECT_EQ(axhost::RunCompute(module, std::nullopt, out.string(), {stdoutText, stderrText}), axhost::kExitFailed);
  EXPECT_EQ(stderrText.str(),
            "error: embedded linear-drive example: cannot compute: the plug-in does not export ComputeAllOptions\n");
  EXPECT_FALSE(fs::exists(out));

  HostRun unwritable = Axhost("compute -o /nonexistent/out.json");
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_EQ(unwritable.err.rfind("error: /nonexistent/out.json", 0), 0u) << unwritable.err;
  EXPECT_EQ(Axhost("compute /nonexistent/in.json").status, 2);
}

TEST_F(Compute, ABoundTooLargeForItsShownUnitIsShownAsStoredWithAWarning) {
  // 1e300 m per encoder count: the software limit switches' range in mm
  // exceeds a double, though it is stored in m.
  auto setup = axcore::ParseSetup(LinearDriveExample(), "example").setup;
  ASSERT_TRUE(setup);
  CMC_Parameter* encRes = setup->FindParameter("EncRes");
  encRes->ClearMin();
  encRes->ClearMax();
  encRes->SetValueInBaseUnit(1e300);
  const fs::path in = dir / "in.json";
  ASSERT_EQ(axcore::SaveSetupFile(*setup, in.string()), "");
  HostRun run = Axhost("compute '" + in.string() + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.find("inf"), std::string::npos) << run.out;
  for (const char* name : {"Negative_SWLS", "Positive_SWLS"}) {
    const std::string row = run.out.substr(run.out.find(std::string("\n") + name + " ") + 1);
    EXPECT_NE(row.substr(0, row.find('\n')).find("e+306 m"), std::string::npos) << row;
    EXPECT_NE(run.err.find("warning: \"" + std::string(name) +
                           "\": its minimum cannot be shown in \"mm\" (too large for a double): shown as stored, -"),
              std::string::npos)
        << run.err;
  }
}

TEST_F(Compute, EncodeWritesTheRegistersOfTheEditedValues) {
  // 10 kHz PWM on the 40 MHz clock: PWMPER = 40e6 * 0.5 / 10e3 = 2000, and
  // back: Ts_S = SLPER 10 * 2 * 2000 / 40e6 = 1 ms.
  const fs::path in = WriteBasic("in.json", [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("PWM_freq", 10e3); });
  const fs::path out = dir / "out.json";
  HostRun run = Axhost("encode '" + in.string() + "' -o '" + out.string() + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  auto result = Read(out);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->GetParameterValueInBaseUnit("PWMPER"), 2000.0);
  EXPECT_NEAR(result->GetParameterValueInBaseUnit("Ts_S"), 1e-3, 1e-15);
  EXPECT_EQ(Axhost("encode '" + in.string() + "'").status, 2) << "the output is required";
}

TEST_F(Compute, DamagedSetupsThroughTheBinaryStayFinite) {
  // A few dozen of the in-process robustness cases, end to end: file,
  // process, file.
  constexpr std::uint32_t kSeed = 977;
  constexpr int kCases = 24;
  for (int index = 0; index < kCases; ++index) {
    std::mt19937 rng(kSeed + static_cast<std::uint32_t>(index));
    auto load = axcore::ParseSetup(index % 2 ? LinearDriveBasicExample() : LinearDriveExample(), "example");
    ASSERT_TRUE(load.setup);
    const std::string changes = testing_support::Mutate(*load.setup, rng, 1 + static_cast<int>(rng() % 12));
    const std::string where = "case " + std::to_string(index) + " (" + changes + ")";
    const fs::path in = dir / "damaged.json", out = dir / "computed.json";
    ASSERT_EQ(axcore::SaveSetupFile(*load.setup, in.string()), "") << where;
    HostRun run = Axhost("compute '" + in.string() + "' -o '" + out.string() + "'");
    ASSERT_EQ(run.status, 0) << where << "\n" << run.err;
    auto result = Read(out);
    ASSERT_TRUE(result) << where;
    ASSERT_EQ(testing_support::FindNonFinite(*result), "") << where;
    fs::remove(out);
  }
}

}  // namespace
