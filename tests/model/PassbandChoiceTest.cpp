// The passband choice on the example setup, tuned from the inside out as
// commissioning does: the chosen passband meets the bound, 5 % more does
// not (or lies beyond the range searched), and the caller's setup is left
// as it was.
#include <gtest/gtest.h>

#include <numbers>
#include <string>
#include <vector>

#include "PassbandChoice.h"
#include "support/TestSetup.h"
#include "axcore/Setup.h"
#include "axcore/SetupFile.h"

namespace {

using testing_support::Change;

// The chosen passband meets `bound` and 5 % above it does not.
void ExpectLargest(const CMC_Setup& setup, TunedLoop loop, const PassbandChoice& choice, double bound) {
  ASSERT_TRUE(choice.valid);
  ASSERT_TRUE(choice.met);
  EXPECT_TRUE(choice.response.stable);
  EXPECT_LE(choice.response.overshoot, bound);
  const double above = 1.05 * choice.passband_rad_s;
  if (above > choice.ceiling_rad_s) return;
  CMC_Setup trial(setup);
  SampledLoopResponse response;
  ASSERT_TRUE(PredictTunedLoop(trial, loop, above, response));
  EXPECT_TRUE(!response.stable || response.overshoot > bound) << response.overshoot;
}

TEST(PassbandChoice, EachLoopInTurnGetsTheLargestPassbandThatMeetsItsBound) {
  enum class Inner { None, Current, Speed };
  struct Case {
    const char* what;
    TunedLoop loop;
    Inner inner;
    // The designs' own steps overshoot e^-2 = 13.5 % at damping 1 whatever
    // the passband: the outer loops need more damping for a 10 % bound.
    std::vector<Change> changes;
    // The PID's two zeros keep its step above 12 % at any damping until
    // its integral gain is down to a few steps of its register, a design
    // the drive does not run: no passband meets the bound.
    bool met = true;
  };
  const Case cases[] = {
      {"current", TunedLoop::Current, Inner::None, {}},
      {"speed", TunedLoop::Speed, Inner::Current, {{"Dump_S", 2.0}}},
      {"position over the speed loop", TunedLoop::Position, Inner::Speed, {{"Dump_P", 2.0}}},
      {"position PID", TunedLoop::Position, Inner::Current, {{"PositionControlType", 0}, {"Dump_P", 5.0}}, false},
  };
  auto setup = testing_support::LoadExample();
  ASSERT_NE(setup, nullptr);
  double bandwidth_rad_s[3] = {0.0, 0.0, 0.0};  // measured, by Inner
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::Apply(*setup, c.changes);
    const double bound = DefaultOvershootBound(c.loop);
    const std::string before = axcore::SerializeSetup(*setup);
    const PassbandChoice choice = ChoosePassband(*setup, c.loop, bound, bandwidth_rad_s[static_cast<int>(c.inner)]);
    EXPECT_EQ(axcore::SerializeSetup(*setup), before);
    if (!c.met) {
      EXPECT_TRUE(choice.valid);
      EXPECT_FALSE(choice.met);
      continue;
    }
    ExpectLargest(*setup, c.loop, choice, bound);
    // Tuned at the choice, as the next loop out finds it.
    SampledLoopResponse tuned;
    ASSERT_TRUE(PredictTunedLoop(*setup, c.loop, choice.passband_rad_s, tuned));
    const double measured = 2.0 * std::numbers::pi * tuned.bandwidth_Hz;
    if (c.loop == TunedLoop::Current) bandwidth_rad_s[static_cast<int>(Inner::Current)] = measured;
    if (c.loop == TunedLoop::Speed) bandwidth_rad_s[static_cast<int>(Inner::Speed)] = measured;
  }
}

// The ends of the range: the cascade ceiling below every passband that
// meets the bound, and a bound no passband meets.
TEST(PassbandChoice, TheCeilingOrTheMinimumWhenTheBoundDoesNotDecide) {
  struct Case {
    const char* what;
    double damping;
    double innerBandwidth_rad_s;
    bool met;
    bool capped;
    double passband_rad_s;
  };
  const Case cases[] = {
      // 10 % holds up to about 72 rad/s at damping 2; a fifth of 250 is below.
      {"a slow inner loop", 2.0, 250.0, true, true, 50.0},
      // At damping 1 the step overshoots 13.5 % or more at every passband.
      {"damping 1", 1.0, 0.0, false, false, 10.0 * std::numbers::pi},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = testing_support::LoadExample();
    ASSERT_NE(setup, nullptr);
    setup->SetParameterValueInBaseUnit("Dump_S", c.damping);
    const PassbandChoice choice = ChoosePassband(*setup, TunedLoop::Speed, 0.10, c.innerBandwidth_rad_s);
    ASSERT_TRUE(choice.valid);
    EXPECT_EQ(choice.met, c.met);
    EXPECT_EQ(choice.capped, c.capped);
    EXPECT_NEAR(choice.passband_rad_s, c.passband_rad_s, 1e-9);
    EXPECT_EQ(choice.response.stable, true);
    EXPECT_EQ(choice.response.overshoot <= 0.10, c.met) << choice.response.overshoot;
  }
}

}  // namespace
