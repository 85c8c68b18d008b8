// The analogue reference test through its dialog on the virtual drive: the
// voltage at the input and the command it stands for, for each input span
// and control mode, as the user sets the voltage; Stop ends in success.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

#include "DriveTestRun.h"
#include "TestAnalogueRef.h"
#include "axcore/Setup.h"

namespace {

using drivetest_testing::RunTest;

void SetEnds(CMC_Setup& setup, const char* minimum, const char* maximum, const char* unit, double lo, double hi) {
  for (const char* name : {minimum, maximum}) {
    CMC_Parameter* p = setup.FindParameter(name);
    p->SetMinInBaseUnit(-1e6);
    p->SetMaxInBaseUnit(1e6);
    setup.ChangeParameterUnit(name, unit);
  }
  setup.SetParameterValueInBaseUnit(minimum, lo);
  setup.SetParameterValueInBaseUnit(maximum, hi);
}

// The example plant without the converter noise its supply reading has,
// which the analogue input shares: readings exactly at the voltage set.
virtualdrive::PlantParameters QuietPlant() {
  virtualdrive::PlantParameters plant = virtualdrive::ExamplePlant();
  plant.voltage_noise_V = 0.0;
  return plant;
}

// Speed mode from -3 to 3 m/s, shown in mm/s.
void SpeedMode(CMC_Setup& setup) {
  setup.SetParameterValueInBaseUnit("ControlMode", 1);
  SetEnds(setup, "SPD_min", "SPD_max", "mm/s", -3, 3);
}

// Current mode from 0.5 to 2 A on an input of `span`.
void CurrentMode(CMC_Setup& setup, double span) {
  setup.SetParameterValueInBaseUnit("AnalogueInputsRange", span);
  setup.SetParameterValueInBaseUnit("ControlMode", 2);
  SetEnds(setup, "CRT_min", "CRT_max", "A", 0.5, 2);
}

struct Bar {
  double lo, hi, reference;
};

// Readings on the example's 10-bit converter: steps of 64 counts, 65472 at
// full scale; the dialog scales them with 65472 too.
TEST(AnalogueReferenceTest, ShowsTheInputAndItsCommandForEachSpanAndMode) {
  const struct {
    const char* what;
    std::function<void(CMC_Setup&)> prepare;
    const char* volts;
    const char* input;    // 1010
    const char* command;  // 1011
    const char* label;    // 1013
    const char* unit;     // 1017
    Bar inputBar, commandBar;
  } cases[] = {
      // 10 V reads 65472: 10 V, and the maximum (0.9375 mm) of the example.
      {"position on +-10 V, top", [](CMC_Setup&) {}, "10", "10.00", "0.94", "Position command", "mm",
       {-10, 10, 0}, {-0.9375, 0.9375421, 0}},
      // A converter of 11 bits reads 32736 (1023 steps of 32) at -9.8 mV:
      // 20 x 32736 / 65472 - 10 = 0.
      {"speed on +-10 V, mid-scale",
       [](CMC_Setup& s) {
         s.SetParameterValueInBaseUnit("ADCbits", 11);
         SpeedMode(s);
       },
       "-0.0097680", "0.00", "0.00", "Speed command", "mm/s", {-10, 10, 0}, {-3000, 3000, 0}},
      // 5 V reads 767 steps (49088): 20 x 49088 / 65472 - 10 = 4.995 V and
      // 6000 x 49088 / 65472 - 3000 = 1498.53 mm/s.
      {"speed on +-10 V, 5 V", SpeedMode, "5", "5.00", "1498.53", "Speed command", "mm/s", {-10, 10, 0},
       {-3000, 3000, 0}},
      // 0 to 5 V: 2.5 V is 511.5 steps, read as 512 (32768): 2.502 V and
      // 1.5 x 32768 / 65472 + 0.5 = 1.2507 A; the current bar grows from 0.5.
      {"current on 0 to 5 V", [](CMC_Setup& s) { CurrentMode(s, 5); }, "2.5", "2.50", "1.25", "Current command",
       "A", {0, 5, 0}, {0.5, 2, 0.5}},
      // Any other span is 0 to 3.3 V.
      {"current on 0 to 3.3 V, top", [](CMC_Setup& s) { CurrentMode(s, 12); }, "3.3", "3.30", "2.00",
       "Current command", "A", {0, 3.3, 0}, {0.5, 2, 0.5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = drivetest_testing::ExampleSetup();
    c.prepare(*setup);
    auto run = RunTest<CTestAnalogueRef>(
        *setup,
        std::string("click 10000\nwait 100\nanalogue ") + c.volts + "\nwait 100\nclick 10000\nwait 100\nclick 2\n",
        QuietPlant());
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.dialog->GetTestResult(), 1) << run.dialog->GetErrorText();
    EXPECT_EQ(run.result, 2);
    EXPECT_EQ(run.Text(1010), c.input);
    EXPECT_EQ(run.Text(1011), c.command);
    EXPECT_EQ(run.Text(1013), c.label);
    EXPECT_EQ(run.Text(1016), "V");
    EXPECT_EQ(run.Text(1017), c.unit);
    for (const auto& [id, bar, colour, text] :
         {std::tuple{1014, c.inputBar, "#ff0000", c.input}, std::tuple{1015, c.commandBar, "#00ff00", c.command}}) {
      const axcore::PlotGauge& gauge = run.dialog->GetPlot(id)->Gauge();
      EXPECT_NEAR(gauge.lo, bar.lo, 1e-6) << id;
      EXPECT_NEAR(gauge.hi, bar.hi, 1e-6) << id;
      EXPECT_EQ(gauge.reference, bar.reference) << id;
      EXPECT_EQ(gauge.value, std::stod(text)) << id;
      EXPECT_EQ(gauge.colour, colour) << id;
    }
  }
}

// Start and Stop, the help page, and what a drive fault does.
TEST(AnalogueReferenceTest, RunsUntilStoppedAndEndsInSuccess) {
  auto setup = drivetest_testing::ExampleSetup();
  const char* script = "dump 1010\nclick 10000\nwait 500\ndump 10000\nclick 10000\nwait 100\nclick 10024\nclick 2\n";
  auto run = RunTest<CTestAnalogueRef>(*setup, script, QuietPlant());
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(run.dialog->GetTestResult(), 1);
  EXPECT_EQ(run.dialog->GetStep(), 2);
  EXPECT_EQ(run.Text(10001), "Running test");
  EXPECT_EQ(run.Text(10002), "Test passed.");
  // Nothing shown before Start; "Stop" while it runs.
  EXPECT_NE(run.output.find("1010 edit shown=1 enabled=1 checked=0 \"\""), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("10000 button shown=1 enabled=1 checked=0 \"Stop\""), std::string::npos) << run.output;
  // 0 V reads 512 steps (32768): 20 x 32768 / 65472 - 10 = 0.0098 V.
  EXPECT_EQ(run.Text(1010), "0.01");
  EXPECT_EQ(run.dialog->GetPlot(1014)->Gauge().text, "0.01");
  ASSERT_EQ(run.help.size(), 1u);
  EXPECT_NE(run.help[0].find("help/analogue-reference-test.html (context 0x40104)"), std::string::npos);

  auto shorted = RunTest<CTestAnalogueRef>(*setup, "click 10000\nwait 500\nclick 2\n", virtualdrive::ExamplePlant(),
                                           [](virtualdrive::VirtualDrive& d) { d.InjectMerBits(1u << 1); });
  ASSERT_EQ(shorted.failure, "");
  EXPECT_EQ(shorted.dialog->GetTestResult(), 0);
  EXPECT_EQ(shorted.dialog->GetErrorText(), "Drive / Motor shortcircuit protection triggered.");
}

}  // namespace
