// The checks before a test moves the motor, on the example setup with one
// value changed: which of them find something, and the supply's speed
// limit worked out by hand.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "PreTestChecks.h"
#include "support/TestSetup.h"

namespace {

using axhost::MotionTest;

TEST(PreTestChecks, TheSupplySpeedLimitIsTheVoltageLeftAfterRiOverTheBackEmfPerSpeed) {
  // 48 V: 65534 voltage-command counts are 52.8 V; the example's SATIQ
  // 2621 leaves 30146 counts, 24.29 V. TestCurrent 1.5 A through 4.2 ohm
  // takes 6.3 V; Kf 25 N/A gives 2/3 x 25 = 16.67 V per m/s:
  // (24.29 - 6.3) / 16.67 = 1.079 m/s.
  EXPECT_NEAR(axhost::WindingVoltageLimit(48.0, 2621.0), 30146.0 * 52.8 / 65534.0, 1e-12);
  EXPECT_NEAR(axhost::WindingVoltageLimit(48.0, 2621.0), 24.288, 1e-3);
  EXPECT_NEAR(axhost::SupplySpeedLimit(24.288, 4.2, 1.5, 25.0), 1.0793, 1e-4);
  // A current whose R i drop alone takes the whole voltage: no speed.
  EXPECT_LT(axhost::SupplySpeedLimit(24.288, 20.0, 1.5, 25.0), 0.0);

  auto setup = testing_support::LoadExample();
  const auto findings = axhost::CheckBeforeTest(*setup, MotionTest::TotalMass, false, 48.0);
  ASSERT_TRUE(findings.speed.has_value());
  EXPECT_EQ(findings.speed->parameter, "TestMaxSpeed");
  EXPECT_NEAR(findings.speed->allowed, 1.0793, 1e-4);
  // A delta winding is its equivalent star: a third of R per phase.
  setup->SetParameterValueInBaseUnit("MotorPhaseConnectionType", 1);
  const auto delta = axhost::CheckBeforeTest(*setup, MotionTest::TotalMass, false, 48.0);
  ASSERT_TRUE(delta.speed.has_value());
  EXPECT_NEAR(delta.speed->allowed, (24.288 - 1.4 * 1.5) / (2.0 / 3.0 * 25.0), 1e-4);
}

TEST(PreTestChecks, EachCheckFindsWhatItIsFor) {
  struct Case {
    const char* what;
    MotionTest test;
    bool gainsDesigned;
    std::optional<double> measured_V;
    std::vector<testing_support::Change> changes;  // on the example
    bool currentLoop, speed, supply;
  };
  // The example's gains (PB_C 1 kHz) overshoot 66 % with the drive's delay
  // on its own 4.2 ohm and 3.5 mH.
  const Case cases[] = {
      {"the example's gains", MotionTest::SpeedTuning, false, 47.2, {}, true, false, false},
      {"Tune designs them", MotionTest::CurrentTuning, true, 47.2, {}, false, false, false},
      {"held gains, tamer passband", MotionTest::AngleTuning, false, 47.2, {{"Kp_C_scl", 6.0}, {"Ki_C_scl", 0.51}},
       false, false, false},
      {"a small winding", MotionTest::AngleTuning, false, 47.2, {{"R", 0.5}, {"L", 0.0004}}, true, false, false},
      {"a profile too fast", MotionTest::SpeedTuning, false, 47.2, {{"TestSpeed", 1.5}}, true, true, false},
      {"Limit_Speed over the speed loop", MotionTest::PositionTuning, false, 47.2, {}, true, true, false},
      {"the position PID has none", MotionTest::PositionTuning, false, 47.2, {{"PositionControlType", 0}}, true, false,
       false},
      {"Vdc 5 % off", MotionTest::CurrentTuning, true, 50.5, {{"Vdc", 48.0}}, false, false, false},
      {"Vdc 6 % off", MotionTest::CurrentTuning, true, 51.1, {{"Vdc", 48.0}}, false, false, true},
      {"Vdc above, unmeasured", MotionTest::CurrentTuning, true, std::nullopt, {{"Vdc", 60.0}}, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = testing_support::LoadExample();
    testing_support::Apply(*setup, c.changes);
    const auto findings = axhost::CheckBeforeTest(*setup, c.test, c.gainsDesigned, c.measured_V);
    EXPECT_EQ(findings.currentLoop.has_value(), c.currentLoop);
    EXPECT_EQ(findings.speed.has_value(), c.speed);
    EXPECT_EQ(findings.supply.has_value(), c.supply);
    EXPECT_EQ(axhost::PreTestWarnings(findings).size(),
              std::size_t{c.currentLoop} + std::size_t{c.speed} + std::size_t{c.supply});
  }
}

}  // namespace
