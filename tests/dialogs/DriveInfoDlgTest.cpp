// The Drive info dialog driven as a user, and a service engineer, drive it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ChildDialogRun.h"
#include "DriveInfoDlg.h"

namespace {

using dialog_testing::ExampleSetup;
using dialog_testing::RunChildDialog;

double Get(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

const std::string kUnlock = "key ctrl+alt+shift+e\n";

TEST(DriveInfoDialog, ScriptedCases) {
  // Identity and ratings, a protection switch and its level, an always
  // editable field, and a unit box and label that follow their switch only.
  const std::vector<int> serviced = {3275, 3276, 3087, 1159, 3103, 1169}, always = {3114, 1170, 3104};
  const struct {
    const char* name;
    std::string script;
    bool unlocked;  // the service mode as the dialog was left
    std::function<void(const CMC_Setup&)> check;
  } cases[] = {
      {"as opened", "click 2\n", false, [](const CMC_Setup& s) { EXPECT_EQ(s.GetE2ROMSize(), 8192); }},
      {"unlocked", kUnlock + "click 2\n", true, nullptr},
      {"locked again", kUnlock + kUnlock + "click 2\n", false, nullptr},
      {"other chords", "key ctrl+alt+shift+k\nkey ctrl+alt+e\nkey ctrl+shift+e\nclick 2\n", false, nullptr},
      {"identity stored on OK, the E2ROM size in kilowords",
       kUnlock + "type 3275 Bench drive\ntype 3278 2.5.1\ntype 3276 16 Kwords\nclick 1\n", true,
       [](const CMC_Setup& s) {
         EXPECT_EQ(s.GetDescription(), "Bench drive");
         EXPECT_EQ(s.GetFirmwareID(), "2.5.1");
         EXPECT_EQ(s.GetE2ROMSize(), 16384);
       }},
      {"an application ID takes 40 characters", "type 3114 axis 7 of the winding line, station north\nclick 1\n",
       false, [](const CMC_Setup& s) { EXPECT_EQ(s.GetUserAppID(), "axis 7 of the winding line, station nort"); }},
      // 55 V at 65472 / 102 converter counts per volt, encoded on OK.
      {"a protection level", kUnlock + "type 1169 55\nclick 1\n", true,
       [](const CMC_Setup& s) { EXPECT_NEAR(Get(s, "UMAXPROT"), 55.0 * 65472 / 102, 1.0); }},
      {"no over temperature without the sensor", kUnlock + "check 3097 0\nclick 3105\nclick 1\n", true,
       [](const CMC_Setup& s) {
         EXPECT_EQ(Get(s, "isDriveOverTemp"), 0);
         EXPECT_EQ(Get(s, "isUnderVoltage"), 0);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = ExampleSetup();
    const auto run = RunChildDialog<CDriveInfo>(*setup, c.script);
    ASSERT_EQ(run.failure, "");
    EXPECT_TRUE(run.boxes.empty());
    for (int id : serviced) EXPECT_EQ(run.Control(id).enabled, c.unlocked) << id;
    for (int id : always) EXPECT_TRUE(run.Control(id).enabled) << id;
    if (c.check) c.check(*setup);
  }
}

// Unlocked, a protection's level follows its switch; its unit box and label
// follow the switch in either mode.
TEST(DriveInfoDialog, ProtectionLevelsFollowTheirSwitches) {
  auto setup = ExampleSetup();
  const auto run = RunChildDialog<CDriveInfo>(*setup, kUnlock + "check 3103 0\nclick 10024\nclick 2\n");
  ASSERT_EQ(run.failure, "");
  for (int id : {1169, 1170, 3104}) EXPECT_FALSE(run.Control(id).enabled) << id;
  EXPECT_TRUE(run.Control(1171).enabled);
  EXPECT_EQ(run.Control(3276).text, "8");
  ASSERT_EQ(run.help.size(), 1u);
  EXPECT_NE(run.help[0].find("help/drive-info.html (context 0x40110)"), std::string::npos) << run.help[0];
}

// From Drive Setup, OK re-encodes with the new ratings: a peak current of
// 20 A spreads the converter's 65472 counts over 40 A.
TEST(DriveInfoDialog, DriveSetupTakesTheNewRatings) {
  auto setup = ExampleSetup();
  const auto run = dialog_testing::RunDriveSetup(*setup, "click 3159\n" + kUnlock + "type 1161 20\nclick 1\nclick 2\n");
  ASSERT_EQ(run.failure, "");
  EXPECT_NEAR(Get(*setup, "IMAXPROT"), 8.0 * 65472 / 40, 1.0);
}

}  // namespace
