// The speed and position loop models against closed forms and against each
// other.
//
// The designed speed loop of damping 1, (2 w s + w^2) / (s + w)^2, steps
// as 1 - exp(-w t) (1 - w t): its peak 1 + exp(-2) at t = 2 / w; its gain
// is 1 / sqrt(2) where (w'/w)^2 = 3 + sqrt(10), w' = 2.4824 w (15.80 Hz at
// w = 40 rad/s, the first 1 Hz step of the 2 kHz grid beyond it is 16 Hz).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ControllerDesign.h"
#include "LoopResponse.h"
#include "Scales.h"
#include "support/TestSetup.h"
#include "axcore/Setup.h"

namespace {

TEST(LoopModels, TheDesignedLoopStepsAsItsClosedForm) {
  const double w = 40.0, ts = 0.5e-3;
  SampledLoopResponse r;
  ASSERT_TRUE(DesignedLoopStep(ControllerModel::Speed, w, 1.0, ts, 400, r));
  ASSERT_TRUE(r.stable);
  for (int k : {10, 57, 100, 399}) {
    const double x = w * ts * k;
    EXPECT_NEAR(r.step[static_cast<std::size_t>(k)], 1.0 - std::exp(-x) * (1.0 - x), 1e-9) << k;
  }
  EXPECT_NEAR(r.overshoot, std::exp(-2.0), 1e-9);  // the peak falls on sample 100
  EXPECT_EQ(r.bandwidth_Hz, 16.0);
  EXPECT_FALSE(DesignedLoopStep(ControllerModel::CurrentPolePlacement, w, 1.0, ts, 400, r));
}

// The sampled loops of the example setup's drive data: at the current-loop
// rate and far below it they are the designed loops (within a sample's
// worth of the rise); a speed passband close to the sampling rate is
// unstable.
TEST(LoopModels, TheSampledLoopsMeetTheDesignedOnesFarBelowTheSamplingRate) {
  struct Case {
    const char* what;
    ControllerModel model;
    double passband_rad_s;
    bool stable;
  };
  const Case cases[] = {{"speed", ControllerModel::Speed, 40, true},
                        {"position over the speed loop", ControllerModel::PositionOverSpeedLoop, 10, true},
                        {"position PID", ControllerModel::PositionPid, 40, true},
                        {"speed near the sampling rate", ControllerModel::Speed, 40000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = testing_support::LoadExample();
    auto set = [&](const char* name, double value) { setup->SetParameterValueInBaseUnit(name, value); };
    set("PosSpd_in_FastLoop", 1);  // every 50 us
    set("PositionControlType", c.model == ControllerModel::PositionOverSpeedLoop ? 1 : 0);
    set("PB_C", 3000.0);
    set("Dump_C", 1.0);
    set("PB_S", c.model == ControllerModel::Speed ? c.passband_rad_s : 300.0);
    set("Dump_S", 1.0);
    set("PB_P", c.passband_rad_s);
    set("Dump_P", 1.0);
    set("KDFP", 32767);
    // The loops alone: the example's acceleration feed-forward and its
    // current-reference slot off.
    set("KFFA", 0);
    set("IQREF_BQ_INI", 0);
    ASSERT_EQ(DesignCurrentController(*setup), 1);
    ASSERT_EQ(DesignSpeedController(*setup), 1);
    ASSERT_EQ(DesignPositionController(*setup), 1);
    const double ts = CurrentLoopPeriod(*setup);
    const int samples = static_cast<int>(12.0 / c.passband_rad_s / ts);
    SampledLoopResponse sampled, designed;
    ASSERT_TRUE(c.model == ControllerModel::Speed ? PredictSpeedLoop(*setup, samples, sampled)
                                                  : PredictPositionLoop(*setup, samples, sampled));
    ASSERT_EQ(sampled.stable, c.stable);
    if (!c.stable) continue;
    ASSERT_TRUE(DesignedLoopStep(c.model, c.passband_rad_s, 1.0, ts, samples, designed));
    EXPECT_NEAR(sampled.rise_s, designed.rise_s, 0.03 * designed.rise_s);
    EXPECT_NEAR(sampled.overshoot, designed.overshoot, 0.1 * designed.overshoot);
    EXPECT_NEAR(sampled.step.back(), 1.0, 0.01);
  }
}

// The profile simulation is the step's superposition as long as nothing
// limits the loop; the current limit caps the mover's acceleration at
// Kf I / Mt, and friction delays the response but leaves the speed the
// integral holds.
TEST(LoopModels, TheProfileSimulationAddsTheLimitsAndFrictionToTheStep) {
  auto setup = testing_support::LoadExample();
  setup->SetParameterValueInBaseUnit("PositionControlType", 1);
  setup->SetParameterValueInBaseUnit("PB_S", 150.0);
  setup->SetParameterValueInBaseUnit("PB_P", 40.0);
  ASSERT_EQ(DesignCurrentController(*setup), 1);
  ASSERT_EQ(DesignSpeedController(*setup), 1);
  ASSERT_EQ(DesignPositionController(*setup), 1);
  const double ts = SpeedLoopPeriod(*setup), kf = setup->GetParameterValueInBaseUnit("Kf");
  const double mass = setup->GetParameterValueInBaseUnit("Mt");
  const int samples = 400;
  // A speed step of 0.2 m/s; a position ramp of 0.2 m/s over 40 ticks.
  std::vector<double> time, step, ramp;
  for (int k = 0; k < samples; ++k) {
    time.push_back(k * ts);
    step.push_back(k == 0 ? 0.0 : 0.2);
    ramp.push_back(0.2 * ts * std::min(k, 40));
  }
  const struct {
    const char* what;
    ProfileNonlinearities terms;
  } cases[] = {{"speed, linear", {false, 0.0, 0.0, 0.0, 0.0}},
               {"position, linear", {true, 0.0, 0.0, 0.0, 0.0}},
               {"speed, 1 A", {false, 1.0, 0.0, 0.0, 0.0}},
               {"speed, friction", {false, 0.0, 0.0, 3.0, 10.0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<double>& reference = c.terms.position ? ramp : step;
    SampledLoopResponse loop;
    ASSERT_TRUE(c.terms.position ? PredictPositionLoop(*setup, samples, loop)
                                 : PredictSpeedLoop(*setup, samples, loop));
    const std::vector<double> linear = ResponseToReference(loop, time, reference, 0.0);
    std::vector<double> simulated;
    ASSERT_TRUE(SimulateProfile(*setup, reference, c.terms, simulated));
    ASSERT_EQ(simulated.size(), linear.size());
    if (c.terms.current_A == 0.0 && c.terms.dryFriction_N == 0.0) {
      for (std::size_t k = 0; k < linear.size(); ++k) EXPECT_NEAR(simulated[k], linear[k], 1e-9 * 0.2) << k;
      continue;
    }
    // Slower than the linear loop at first, the same speed in the end.
    EXPECT_LT(simulated[10], linear[10] - 0.01);
    EXPECT_NEAR(simulated.back(), 0.2, 0.002);
    if (c.terms.current_A > 0.0) {
      // The measured speed is the mean over a tick: its rise per tick at
      // most the acceleration the current allows.
      for (std::size_t k = 1; k < simulated.size(); ++k)
        EXPECT_LE(simulated[k] - simulated[k - 1], kf * c.terms.current_A / mass * ts * (1.0 + 1e-9)) << k;
    }
  }
  EXPECT_FALSE(SimulateProfile(*setup, {0.0, std::nan("")}, {}, ramp));
  EXPECT_TRUE(ramp.empty());
}

}  // namespace
