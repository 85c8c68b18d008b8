// The Advanced dialog driven as a user drives it, on the example drive:
// 40 MHz clock, PWMPER 1000 (20 kHz), CLPER 1, SLPER 10, minimum periods
// 25 µs and 250 µs. Expected values are worked out by hand: PWM period =
// 2 * PWMPER / 40 MHz, loop period = divider * PWM period; a count of the
// encoder is 20 µm / 2^8, so v m/s is v * Ts_S * 12.8e6 counts per period.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "AdvancedDialog.h"
#include "ChildDialogRun.h"

namespace {

using dialog_testing::ExampleSetup;
using dialog_testing::RunChildDialog;
using Prepare = std::function<void(CMC_Setup&)>;

double Get(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }
void Keep(CMC_Setup&) {}
Prepare Set(const char* name, double value) {
  return [=](CMC_Setup& s) { s.SetParameterValueInBaseUnit(name, value); };
}
std::string TooShort(const char* loop, const char* ms) {
  return std::string("The minimum value for ") + loop + " loop sampling period is " + ms +
         " ms!\nPlease adjust the PWM frequency and/or the " + loop +
         " loop sampling frequency divider until this condition is fulfilled!";
}

struct Control {
  int id;
  bool shown, enabled, alert;
};

TEST(AdvancedDialog, ScriptedCases) {
  const struct {
    const char* name;
    Prepare prepare;
    const char* script;
    std::vector<std::pair<const char*, double>> values;
    std::vector<Control> controls;
    std::vector<std::string> messages;
    int result;
    const char* picture = "3016";
  } cases[] = {
      // 50 µs cannot be held at a 100 µs PWM period; 500 µs can.
      {"10 kHz", Keep, "type 1129 10\nclick 1\n",
       {{"PWMPER", 2000}, {"CLPER", 1}, {"SLPER", 5}, {"Ts_C", 100e-6}, {"Ts_S", 500e-6}, {"PWMperiod", 100e-6}},
       {{1140, true, true, false}, {1148, false, true, true}}, {}, 1},
      // 50 µs is 0.4 of a 125 µs PWM period: the fast divider stays 1, not 0.
      {"8 kHz", Keep, "type 1129 8\nclick 1\n", {{"PWMPER", 2500}, {"CLPER", 1}, {"SLPER", 4}, {"Ts_C", 125e-6}}, {},
       {}, 1},
      {"8 kHz and back", Keep, "type 1129 8\ntype 1129 20\nclick 1\n", {{"CLPER", 1}, {"SLPER", 10}}, {}, {}, 1},
      // The slow divider follows a larger fast one; the drive's counts and
      // the period a later PWM change keeps follow it too.
      {"fast divider above the slow one", Keep, "type 1132 20\ntype 1129 10\nclick 1\n",
       {{"CLPER", 10}, {"SLPER", 10}, {"Ts_S", 1e-3}, {"TERRMAX", 10}, {"SERRMAX", 6400}, {"CACC", 128}}, {}, {}, 1},
      {"a divider below 1, a PWM frequency of 0", Keep, "type 1132 0\ntype 1129 0\nclick 1\n",
       {{"CLPER", 1}, {"PWM_freq", 20000}, {"PWMPER", 1000}}, {}, {}, 1},
      // 2048 periods is the shortest I2t time: at 1 ms, 2.048 s; the trip
      // current keeps I^2 * t = 7^2 * 1.024.
      {"an I2t time the new period cannot hold", Set("t_I2t_D", 1.024), "type 1135 20\nclick 1\n",
       {{"t_I2t_D", 2.048}, {"I_I2t_D", 7 * std::sqrt(0.5)}, {"SFI2T_D", 32768}}, {}, {}, 1},
      {"below its minimum from the start", Set("Ts_C_min", 1e-4), "click 1\nclick 2\n", {},
       {{1131, true, true, true}, {1140, true, true, true}, {1148, true, true, true}, {1143, true, true, false},
        {1149, false, true, true}},
       {TooShort("Fast", "0.100")}, 2},
      {"slow loop below its minimum, then mended", Keep, "type 1135 4\nclick 1\ntype 1135 5\nclick 1\n", {},
       {{1134, true, true, false}, {1149, false, true, true}}, {TooShort("Slow", "0.250")}, 1},
      // 24 kHz: PWMPER 833, 41.65 µs, and the fast divider stays 1.
      {"made too short by the PWM frequency", Set("Ts_C_min", 45e-6), "type 1129 24\nclick 1\nclick 2\n", {},
       {{1131, true, true, true}, {1148, true, true, true}}, {TooShort("Fast", "0.045")}, 2},
      {"equal to its minimum", Keep, "type 1129 40\ntype 1132 1\nclick 1\n", {{"Ts_C", 25e-6}}, {}, {}, 1},
      {"speed mode", Set("ControlMode", 1), "click 2\n", {},
       {{3344, false, true, false}, {3374, true, false, false}, {3375, true, true, false}, {3396, true, false, false}},
       {}, 2, "3060"},
      {"torque mode", Set("ControlMode", 2), "click 2\n", {},
       {{3376, true, false, false}, {3375, true, false, false}, {1146, true, false, false}}, {}, 2, "3061"},
      // Without a speed loop the speed reference is fed to the current loop.
      {"position only", Keep, "radio 3344\nclick 1\n", {{"PositionControlType", 0}, {"SpeedForward", 1}},
       {{3374, true, false, false}, {3375, true, true, false}, {1147, true, false, false}}, {}, 1, "3017"},
      {"freeze control switched on", Keep, "check 3396 1\nclick 2\n", {{"isFreezeControl", 1}},
       {{3399, true, true, false}, {3402, true, true, false}}, {}, 2},
      {"a drive without the optional functions",
       [](CMC_Setup& s) {
         for (const char* name : {"PosSpd_in_FastLoop", "isSpeedEstimator", "SpeedForward", "POSOKLIM_FC"})
           s.RemoveParameter(name);
       },
       "click 2\n", {},
       {{1146, false, true, false}, {3347, false, true, false}, {3356, true, false, false},
        {3376, true, false, false}, {3396, true, false, false}},
       {}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = ExampleSetup();
    c.prepare(*setup);
    const auto run = RunChildDialog<CAdvancedDialog>(*setup, c.script);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, c.result);
    for (const auto& [name, value] : c.values) EXPECT_NEAR(Get(*setup, name), value, 1e-6 * std::fabs(value)) << name;
    for (const Control& e : c.controls) {
      const ControlState& state = run.Control(e.id);
      EXPECT_EQ(state.shown, e.shown) << e.id;
      EXPECT_EQ(state.enabled, e.enabled) << e.id;
      EXPECT_EQ(state.alert, e.alert) << e.id;
    }
    ASSERT_EQ(run.boxes.size(), c.messages.size());
    for (std::size_t i = 0; i < c.messages.size(); ++i) EXPECT_EQ(run.boxes[i].text, c.messages[i]);
    EXPECT_EQ(run.Control(3280).image, c.picture);
  }
}

// Every parameter of a time-based unit keeps its physical value, to half a
// count of the new period (an I2t time, held as 2^26 periods over a 16-bit
// divisor, to a relative step), whatever its kind. Not compared: the periods
// themselves, the commutation limit (it follows the PWM period) and, in
// position mode, the analogue span read as speeds (the drive holds it as
// positions).
TEST(AdvancedDialog, AChangeOfTheSlowPeriodKeepsEveryTimeBasedValue) {
  for (const char* script : {"type 1135 20\n", "type 1135 7\n", "type 1132 16\n", "type 1129 15\n"}) {
    SCOPED_TRACE(script);
    auto setup = ExampleSetup();
    setup->AddParameter({"TestRegisterTime", "s", "", ParameterKind::Register, false, 0.02, {}, {}});
    setup->AddParameter({"TestRatedAcceleration", "rad/s^2", "", ParameterKind::Constant, false, 3.0, {}, {}});
    std::vector<std::pair<const CMC_Parameter*, double>> before;
    for (const auto& p : setup->Parameters()) {
      const std::string unit = p->GetUnit(), name = p->GetName();
      if ((unit == "s" || unit == "rad/s" || unit == "m/s" || unit == "rad/s^2" || unit == "m/s^2" || unit == "A/s") &&
          name != "Ts_C" && name != "Ts_S" && name != "PWMperiod" && name != "TestMaxSpeed" && name != "SPD_min" &&
          name != "SPD_max")
        before.emplace_back(p.get(), p->GetValueInBaseUnit());
    }
    ASSERT_EQ(RunChildDialog<CAdvancedDialog>(*setup, std::string(script) + "click 1\n").failure, "");
    const double ts = Get(*setup, "Ts_S");
    ASSERT_NE(ts, 500e-6);
    for (const auto& [p, value] : before) {
      const double halfCount = std::fabs(p->InternalToBase(0.5) - p->InternalToBase(0.0)) * (1 + 1e-9);
      EXPECT_NEAR(p->GetValueInBaseUnit(), value, std::max(halfCount, 1e-3 * std::fabs(value))) << p->GetName();
    }
    EXPECT_EQ(Get(*setup, "TERRMAX"), std::round(0.01 / ts));          // 10 ms
    EXPECT_EQ(Get(*setup, "CSPD"), std::round(1.0 * ts * 12.8e6));      // 1 m/s
    EXPECT_EQ(Get(*setup, "CACC"), std::round(10.0 * ts * ts * 12.8e6));  // 10 m/s^2
  }
}

// Drive Setup's Advanced button: on OK the feedforward a position loop
// without a speed loop cannot use is cleared; Cancel adds nothing.
TEST(AdvancedDialog, DriveSetupClearsTheFeedforwardTheStructureCannotUse) {
  const double kffa = 20.00061037018952;  // the example's
  const struct {
    const char* name;
    Prepare prepare;
    const char* script;
    double kffs, kffa;
  } cases[] = {
      {"with a speed loop", Keep, "click 3158\nclick 1\nclick 2\n", 1.0, kffa},
      {"slow loop", Keep, "click 3158\nradio 3344\nclick 1\nclick 2\n", 0.0, kffa},
      {"fast loop", Set("UPGRADE", 4 + 0x40), "click 3158\nradio 3344\nclick 1\nclick 2\n", 0.0, 0.0},
      {"cancelled", Keep, "click 3158\nradio 3344\nclick 2\nclick 2\n", 1.0, kffa},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = ExampleSetup();
    c.prepare(*setup);
    ASSERT_EQ(dialog_testing::RunDriveSetup(*setup, c.script).failure, "");
    EXPECT_DOUBLE_EQ(Get(*setup, "KFFS_scl"), c.kffs);
    EXPECT_DOUBLE_EQ(Get(*setup, "KFFA_scl"), c.kffa);
    EXPECT_EQ(Get(*setup, "KFFA") == 0.0, c.kffa == 0.0);  // the registers follow
  }
}

}  // namespace
