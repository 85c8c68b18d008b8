#include <gtest/gtest.h>

#include <cmath>

#include "CodecSteps.h"
#include "support/TestSetup.h"

namespace {

TEST(SetParameterRange, NeverLeavesTheMinimumAboveTheMaximum) {
  const struct {
    const char* what;
    std::optional<double> presentMin, presentMax;
    double min, max;
    int result;
    double endMin, endMax;
  } cases[] = {
      {"unbounded", {}, {}, 0, 100, 1, 0, 100},
      {"moving up past the present maximum", 0.0, 10.0, 20, 30, 1, 20, 30},
      {"moving down below the present minimum", 20.0, 30.0, 0, 10, 1, 0, 10},
      {"crossed limits are straightened first", 5.0, 1.0, 0, 3, 1, 0, 3},
      {"a single point", 0.0, 1.0, 0, 0, 1, 0, 0},
      {"an empty range changes nothing", 0.0, 10.0, 5, 4, 0, 0, 10},
      // The document refuses a bound that is not finite: that limit stays.
      {"an infinite maximum keeps the old one", 0.0, 10.0, 2, INFINITY, 1, 2, 10},
      {"a NaN minimum keeps the old one", 0.0, 10.0, NAN, 1, 1, 0, 1},
  };
  for (const auto& c : cases) {
    CMC_Setup setup;
    ParameterSpec spec;
    spec.name = "IlimPS";
    spec.value = 50;
    spec.min = c.presentMin;
    spec.max = c.presentMax;
    CMC_Parameter* p = setup.AddParameter(spec);
    EXPECT_EQ(SetParameterRange(*p, c.min, c.max), c.result) << c.what;
    if (c.presentMin || c.result) {
      EXPECT_EQ(p->GetMinInBaseUnit(), c.endMin) << c.what;
    }
    if (c.presentMax || c.result) {
      EXPECT_EQ(p->GetMaxInBaseUnit(), c.endMax) << c.what;
    }
    EXPECT_EQ(p->GetValueInBaseUnit(), 50.0) << c.what << ": a range never moves the value";
  }
}

TEST(CodecSteps, AreFoundByTheNameTheyWriteWithCaseIgnored) {
  auto setup = testing_support::MakeSetup({{"DSP_freq", 40e6}, {"PWMPER", 1000}, {"PWM_freq", 0}});
  const CodecStep* step = FindCodecStep(CodecDirection::Decode, "pwm_FREQ");
  ASSERT_NE(step, nullptr);
  EXPECT_EQ(step->writes, "PWM_freq");
  EXPECT_EQ(FindCodecStep(CodecDirection::Encode, "PWM_freq"), nullptr) << "PWM_freq has no encoding";
  EXPECT_EQ(RunDecodeStep(*setup, "PWM_freq"), 1);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("PWM_freq"), 20000.0);
  EXPECT_EQ(RunDecodeStep(*setup, "NoSuchStep"), 0);
  for (const CodecStep& s : SamplingCodecSteps())
    EXPECT_EQ(FindCodecStep(s.direction, s.writes), &s) << s.writes;
}

}  // namespace
