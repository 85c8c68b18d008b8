// `axhost design`: the Tune button of each loop on the command line.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "Commands.h"
#include "EmbeddedExamples.h"
#include "support/TestSetup.h"
#include "axcore/SetupFile.h"

namespace {

namespace fs = std::filesystem;

class DesignCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(module.Load(AX_PLUGIN_PATH), "");
    std::string pattern = (fs::temp_directory_path() / "axhost-design-XXXXXX").string();
    dir = ::mkdtemp(pattern.data());
  }
  void TearDown() override { fs::remove_all(dir); }

  int RunLoop(const std::string& loop, std::optional<std::string> file = {}, std::optional<std::string> output = {}) {
    out.str("");
    err.str("");
    return axhost::RunDesign(module, file, loop, output, {out, err});
  }

  PluginModule module;
  fs::path dir;
  std::ostringstream out, err;
};

TEST_F(DesignCommand, EachLoopShowsPassbandGainsAndRegisters) {
  // The registers of the designed gains (worked out in ControllerDesignTest):
  // Kp_C 15.0833: shift ceil(log2) = 4, 15.0833 * 32767 / 16 = 30889.6, held 30890 * 16 / 32767;
  // Ki_C 2.61942: 2, 21457.9. Kp_S 12.8554: shift 4, 26327.1; Ki_S 2.01932: shift 2, 16541.8.
  // Kp_P 0.1256637 * 32767 = 4117.6; Ki_P 0.00394784 * 32767 = 129.36; Kd_P 0.
  const struct {
    const char* loop;
    std::vector<const char*> texts;
  } cases[] = {
      {"current",
       {"PB_C = 6283.185 rad/s (1000 Hz)", "Dump_C = 1\n", "KPI = 30890  SFTKPI = 4  15.08347\n",
        "KII = 21458  SFTKII = 2"}},
      {"speed", {"PB_S = 628.3185 rad/s (100 Hz)", "KPS = 26327  SFTKPS = 4", "KIS = 16542  SFTKIS = 2"}},
      {"position", {"around the closed speed loop", "KPP = 4118", "KIP = 129", "KDP = 0"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunLoop(c.loop), 0) << c.loop << err.str();
    EXPECT_EQ(err.str(), "") << c.loop;
    for (const char* text : c.texts) EXPECT_NE(out.str().find(text), std::string::npos) << text << "\n" << out.str();
  }
}

TEST_F(DesignCommand, WritesTheChangedSetupOnlyOnSuccess) {
  auto example = testing_support::LoadExample();
  const std::string input = (dir / "in.json").string(), output = (dir / "out.json").string();
  ASSERT_EQ(axcore::SaveSetupFile(*example, input), "");
  ASSERT_EQ(RunLoop("current", input, output), 0) << err.str();
  auto written = axcore::LoadSetupFile(output).setup;
  ASSERT_NE(written, nullptr);
  EXPECT_EQ(written->GetParameterValueInBaseUnit("KPI"), 30890.0);
  EXPECT_EQ(written->GetParameterValueInBaseUnit("SFTKPI"), 4.0);
  EXPECT_DOUBLE_EQ(written->GetParameterValueInBaseUnit("Kp_C_scl"), 30890.0 * 16 / 32767) << "held, not designed";
  EXPECT_EQ(axcore::SerializeSetup(*axcore::LoadSetupFile(input).setup), axcore::SerializeSetup(*example));

  example->RemoveParameter("Dump_C");
  ASSERT_EQ(axcore::SaveSetupFile(*example, input), "");
  fs::remove(output);
  EXPECT_EQ(RunLoop("current", input, output), 1);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(),
            "warning: no parameter \"Dump_C\" in this setup\n"
            "error: design: no current controller designed: a name is missing, or the drive data give no finite "
            "gains\n");
  EXPECT_FALSE(fs::exists(output));
}

TEST_F(DesignCommand, AnUnknownLoopOrFileIsBadInput) {
  EXPECT_EQ(RunLoop("sideways"), 2);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "error: design: LOOP \"sideways\" is not one of current, speed, position\n");
  EXPECT_EQ(RunLoop("speed", "/nonexistent/setup.json"), 2);
  // Through the command line as a user types it.
  auto axhost = [](const std::string& arguments) {
    const int raw = std::system(("'" + std::string(AX_HOST_PATH) + "' " + arguments + " >/dev/null 2>&1").c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  EXPECT_EQ(axhost("design Current"), 2) << "loop names are lower case";
  EXPECT_EQ(axhost("design"), 2);
  EXPECT_EQ(axhost("design position"), 0);
}

}  // namespace
