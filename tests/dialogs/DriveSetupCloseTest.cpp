// How the Drive Setup dialog ends, what its buttons open, and the export
// that runs it for the host.
#include <gtest/gtest.h>

#include <string>

#include "DialogRun.h"
#include "axcore/Platform.h"
#include "axcore/PluginModule.h"
#include "axcore/SetupFile.h"

namespace {

using dialog_testing::ExampleSetup;
using dialog_testing::RunDriveSetup;
using dialog_testing::ScriptRun;

double Get(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

TEST(DriveSetupAxisId, TheChosenIdIsStoredOnOkWithAWarningBeyondCanOpen) {
  const struct {
    double held;
    const char* shown;
    const char* chosen;  // null: left as shown
    bool warns;
    double stored;
  } cases[] = {
      {0, "H/W", nullptr, false, 0}, {5, "5", "H/W", false, 0},  {0, "H/W", "128", true, 128},
      {0, "H/W", "127", false, 127}, {1, "1", "255", true, 255}, {300, "", nullptr, false, 300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.held) + " chosen " + (c.chosen ? c.chosen : "none"));
    auto setup = ExampleSetup();
    setup->SetParameterValueInBaseUnit("AAR_table", c.held == 0 ? 0 : c.held + 256);
    const std::string choice = c.chosen != nullptr ? std::string("select 3136 ") + c.chosen + "\n" : "";
    const ScriptRun run = RunDriveSetup(*setup, choice + "click 1\n");
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.Selected(3136), c.chosen != nullptr ? c.chosen : c.shown);
    ASSERT_EQ(run.boxes.size(), c.warns ? 1u : 0u);
    if (c.warns) {
      EXPECT_EQ(run.boxes[0].text,
                "If your drive is set in CANopen mode, the axis ID values must be in the range 1-127. Any value over "
                "127 will set the drive as non-configured and further CANopen communication will be disabled until "
                "a valid Axis ID will be set in the drive. Leave the drive with a non-configured axis ID only if you "
                "intend to set the Axis ID later via a CANopen master using CiA305 LSS protocol.");
    }
    EXPECT_EQ(Get(*setup, "Axis_ID_list"), c.stored);
    EXPECT_EQ(Get(*setup, "AAR_table"), c.stored == 0 ? 0 : c.stored + 256);
  }
}

// The dialog keeps no copy: a change is in the setup at once; only OK
// writes the registers it feeds and the loop options.
TEST(DriveSetupClose, OkEncodesTheRegistersAndCancelTakesNothingBack) {
  for (const bool ok : {true, false}) {
    SCOPED_TRACE(ok ? "OK" : "Cancel");
    auto setup = ExampleSetup();
    setup->SetOption("IsClosedSpeed", "0");
    const double imaxprot = Get(*setup, "IMAXPROT");
    const ScriptRun run = RunDriveSetup(*setup, std::string("type 3173 1.5\ntype 3214 4\nclick ") + (ok ? "1" : "2"));
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, ok ? 1 : 2);
    EXPECT_EQ(Get(*setup, "KPI"), 24575);  // a gain is encoded as it is typed
    EXPECT_NEAR(Get(*setup, "Imax_Prot"), 4.0, 1e-3);
    EXPECT_EQ(Get(*setup, "IMAXPROT") != imaxprot, ok);
    EXPECT_EQ(setup->GetOptionNoError("IsClosedSpeed"), ok ? "1" : "0");
  }
}

// The speed and position tuning tests open from their buttons; the test's
// current limits become the drive's only when the test closes with OK.
TEST(DriveSetupButtons, TuningTestsOpenAndKeepTheirLimitsOnlyOnOk) {
  const struct {
    int button;
    const char* caption;
    bool ok;
  } cases[] = {
      {3178, "dialog 102 \"Speed Controller Tuning Test\"", false},
      {3178, "dialog 102 \"Speed Controller Tuning Test\"", true},
      {3198, "dialog 103 \"Position Controller Tuning Test\"", false},
      {3198, "dialog 103 \"Position Controller Tuning Test\"", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.caption + std::string(c.ok ? " OK" : " Cancel"));
    auto setup = ExampleSetup();
    const double limit = Get(*setup, "IlimPS"), protection = Get(*setup, "Imax_Prot");
    const ScriptRun run = RunDriveSetup(*setup, "click " + std::to_string(c.button) +
                                                    "\ndump 1\ntype 3284 2.5\ntype 3281 3\nclick " +
                                                    (c.ok ? "1" : "2") + "\nclick 2\n");
    ASSERT_EQ(run.failure, "");
    EXPECT_NE(run.output.find(c.caption), std::string::npos) << run.output;
    EXPECT_NEAR(Get(*setup, "IlimPS"), c.ok ? 2.5 : limit, 1e-3);
    EXPECT_NEAR(Get(*setup, "Imax_Prot"), c.ok ? 3.0 : protection, 1e-3);
  }
}

TEST(DriveSetupButtons, HelpOpensTheDriveSetupPage) {
  auto setup = ExampleSetup();
  const ScriptRun run = RunDriveSetup(*setup, "click 10024\nclick 2\n");
  ASSERT_EQ(run.failure, "");
  ASSERT_EQ(run.help.size(), 1u);
  EXPECT_NE(run.help[0].find("help/drive-setup.html (context 0x40106)"), std::string::npos) << run.help[0];
}

// The host's way in: the module loaded with dlopen finds its resources
// beside itself and runs the dialog on the platform the host installed.
TEST(EditSetupExport, GivesOneForOkAndZeroOtherwise) {
  PluginModule module;
  ASSERT_EQ(module.Load(AX_PLUGIN_PATH), "");
  ASSERT_NE(module.editSetup, nullptr);
  const struct {
    const char* script;  // null: no user, the dialog ends as cancelled
    int expected;
  } cases[] = {{"type 3173 1.5\nclick 1\n", 1}, {"click 2\n", 0}, {nullptr, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script ? c.script : "no user");
    auto setup = testing_support::LoadExample();
    module.Attach(*setup);
    std::string error;
    std::ostringstream out;
    axcore::ScriptedUser user(c.script ? *axcore::ParseScript(c.script, error) : std::vector<axcore::ScriptLine>{},
                              out);
    axcore::HeadlessPlatform platform(c.script ? &user : nullptr);
    axcore::InstallPlatform(&platform);
    EXPECT_EQ(module.editSetup(setup.get()), c.expected);
    axcore::InstallPlatform(nullptr);
    EXPECT_EQ(user.Failure(), "");
  }
  EXPECT_EQ(module.editSetup(nullptr), 0);
}

}  // namespace
