#include <gtest/gtest.h>

#include "SamplingCodec.h"
#include "axcore/Diagnostics.h"
#include "support/TestSetup.h"

namespace {

using testing_support::MakeSetup;

std::unique_ptr<CMC_Setup> Sampling() {
  return MakeSetup({{"DSP_freq", 40e6}, {"PWMPER", 1000}, {"CLPER", 1}, {"SLPER", 10}, {"PWM_freq", 0},
                    {"PWMperiod", 0}, {"Ts_C", 0}, {"Ts_S", 0}});
}

TEST(SamplingCodec, DecodesThePeriodsOfA20kHzDrive) {
  const struct {
    const char* writes;
    int (*step)(CMC_Setup&);
    double expected;
  } cases[] = {
      {"PWM_freq", DecodePWM_freq, 20000.0},
      {"PWMperiod", DecodePWMperiod, 50e-6},
      {"Ts_C", DecodeTs_C, 50e-6},
      {"Ts_S", DecodeTs_S, 500e-6},
  };
  for (const auto& c : cases) {
    auto setup = Sampling();
    EXPECT_EQ(c.step(*setup), 1) << c.writes;
    EXPECT_DOUBLE_EQ(setup->GetParameterValueInBaseUnit(c.writes), c.expected) << c.writes;
  }
}

TEST(SamplingCodec, EncodesPWMPERUnrounded) {
  auto setup = Sampling();
  setup->SetParameterValueInBaseUnit("PWM_freq", 16000);
  EXPECT_EQ(EncodePWMPER(*setup), 1);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("PWMPER"), 1250.0);
  setup->SetParameterValueInBaseUnit("PWM_freq", 15000);
  EXPECT_EQ(EncodePWMPER(*setup), 1);
  EXPECT_DOUBLE_EQ(setup->GetParameterValueInBaseUnit("PWMPER"), 40e6 * 0.5 / 15000);
}

TEST(SamplingCodec, AMissingNameWritesNothingAndIsReported) {
  auto setup = MakeSetup({{"DSP_freq", 40e6}, {"PWM_freq", 7}});
  axcore::TakeMissingNames();
  EXPECT_EQ(DecodePWM_freq(*setup), 0);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("PWM_freq"), 7.0);
  const auto missing = axcore::TakeMissingNames();
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0].name, "PWMPER");
}

TEST(SamplingCodec, AZeroDivisorStoresNothingAndFails) {
  auto setup = Sampling();
  setup->SetParameterValueInBaseUnit("PWMPER", 0);
  setup->SetParameterValueInBaseUnit("PWM_freq", 123);
  EXPECT_EQ(DecodePWM_freq(*setup), 0) << "40 MHz / 0 is no frequency";
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("PWM_freq"), 123.0);
  setup->SetParameterValueInBaseUnit("PWM_freq", 0);
  EXPECT_EQ(EncodePWMPER(*setup), 0);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("PWMPER"), 0.0);
}

}  // namespace
