// The Frequency Response dialog on the headless view, as a user reaches it
// from the speed tuning test: a field that is no number is refused, a run
// fills the three plots and the figures, and a resonant plant's peak is
// named in them.
#include <gtest/gtest.h>

#include <string>

#include "DriveTestRun.h"
#include "TestSpeedTuning.h"
#include "ControllerDesign.h"
#include "LoopCodec.h"

namespace {

using drivetest_testing::RunTest;

// The example with a speed loop designed for its total mass at 80 rad/s.
std::unique_ptr<CMC_Setup> TunedExample(double mass_kg) {
  auto setup = drivetest_testing::ExampleSetup();
  setup->SetParameterValueInBaseUnit("Mt", mass_kg);
  setup->SetParameterValueInBaseUnit("PB_S", 80.0);
  setup->SetParameterValueInBaseUnit("Dump_S", 2.0);
  DesignSpeedController(*setup);
  EncodeSFTKPS(*setup);
  EncodeKPS(*setup);
  EncodeSFTKIS(*setup);
  EncodeKIS(*setup);
  return setup;
}

TEST(FrequencyResponseDialog, FromTheSpeedTestARunFillsThePlotsAndFigures) {
  struct Case {
    const char* plant;  // "" the example's
    double mass_kg;
    const char* figure;  // in the figures after the run
  };
  const Case cases[] = {
      {"", 0.58, "Resonances: none above the rigid-body line"},
      {"plant-resonant.json", 0.88, "Notch in filter 2 at the Speed Controller Output, 3"},  // 358 Hz
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plant);
    virtualdrive::PlantParameters plant = virtualdrive::ExamplePlant();
    if (*c.plant != '\0') plant = *virtualdrive::LoadPlantFile(std::string(AX_EXAMPLES_DIR) + "/" + c.plant).plant;
    auto setup = TunedExample(c.mass_kg);
    auto run = RunTest<CTestSpeedTuning>(*setup,
                                         "tab 1300 1\nclick 3515\n"
                                         "type 3703 ten\nclick 10000\nuntil-idle\ndump 10002\n"
                                         "type 3703 10\nclick 10000\nuntil-idle\ndump 10002 3725\n" +
                                             std::string(*c.plant != '\0' ? "click 3726\ndump 3725\n" : "") +
                                             "click 2\nclick 2\n",
                                         plant);
    ASSERT_EQ(run.failure, "") << run.output;
    // "Place notch" is there only for a resonance; it leaves the notch in
    // the setup.
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("BQFilter2") == 1.0, *c.plant != '\0');
    EXPECT_NE(run.output.find("dialog 296 \"Frequency Response\""), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("From must be a number, not \\\"ten\\\"."), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Test passed."), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Measured: phase margin "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(c.figure), std::string::npos) << run.output;
  }
}

}  // namespace
