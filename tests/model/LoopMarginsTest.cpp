// The loops' margins against cases worked by hand and against the
// closed loop's own poles.
//
// A current-loop PI whose zero cancels the winding's pole, Ki = Kp (1 - a)
// / a, leaves the sampled integrator with one period of delay,
// L(z) = g / (z (z - 1)), g = b (Kp + Ki). Its closed loop z^2 - z + g is
// at the stability limit at g = 1 with poles exp(+-j pi / 3): the gain
// margin is -20 log10 g at w = pi / (3 T). |L| = 1 where 2 sin(theta / 2)
// = g, theta = w T, and there the phase is -theta - (pi / 2 + theta / 2):
// the phase margin is 90 degrees - 1.5 theta.
//
// A PI on a mass far below the sampling rate is the continuous loop
// L(s) = (2 zeta w s + w^2) / s^2: |L| = 1 at W^2 = w^2 (2 zeta^2 +
// sqrt(4 zeta^4 + 1)), phase margin atan(2 zeta W / w) (2.058 w and 76.3
// degrees at damping 1), no phase crossover short of the sampling's.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "ControllerDesign.h"
#include "LoopMargins.h"
#include "LoopResponse.h"
#include "Scales.h"
#include "support/TestSetup.h"
#include "axcore/Setup.h"

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;

TEST(LoopMargins, TheSampledIntegratorWithDelayHasItsClosedFormMargins) {
  for (double g : {0.25, 0.5, 0.8}) {
    SCOPED_TRACE(g);
    auto setup = testing_support::LoadExample();
    const double ts = CurrentLoopPeriod(*setup);
    const double r = setup->GetParameterValueInBaseUnit("R"), l = setup->GetParameterValueInBaseUnit("L");
    const double rPhase = setup->GetParameterValueInBaseUnit("MotorPhaseConnectionType") == 1.0 ? r / 3.0 : r;
    const double a = std::exp(-ts * r / l);
    const double b = (1.0 - a) / rPhase * CurrentScale(*setup) / VoltageCommandScale(*setup);
    const double kp = g * a / b;
    setup->SetParameterValueInBaseUnit("Kp_C_scl", kp);
    setup->SetParameterValueInBaseUnit("Ki_C_scl", kp * (1.0 - a) / a);
    const LoopMargins m = ComputeLoopMargins(*setup, TunedLoop::Current);
    ASSERT_TRUE(m.valid);
    EXPECT_TRUE(m.stable);
    const double theta = 2.0 * std::asin(g / 2.0);
    EXPECT_NEAR(m.gainMargin_dB, -20.0 * std::log10(g), 1e-6);
    EXPECT_NEAR(m.gainMarginAt_rad_s, std::numbers::pi / 3.0 / ts, 1e-6 / ts);
    EXPECT_NEAR(m.crossover_rad_s, theta / ts, 1e-6 / ts);
    EXPECT_NEAR(m.phaseMargin_deg, 90.0 - 1.5 * theta * kDegrees, 1e-6);
    EXPECT_FALSE(std::isfinite(m.gainReductionMargin_dB));
    // The sensitivity z (z - 1) / (z^2 - z + g) at its worst, on a fine grid.
    double peak = 0.0;
    for (int k = 1; k <= 200000; ++k) {
      const std::complex<double> z = std::polar(1.0, std::numbers::pi * k / 200000.0);
      peak = std::max(peak, std::abs(z * (z - 1.0) / (z * z - z + g)));
    }
    EXPECT_NEAR(m.sensitivityPeak_dB, 20.0 * std::log10(peak), 1e-4);
  }
}

// The example's drive every 50 µs (PosSpd_in_FastLoop), a fast current
// loop and the loops' passbands far below both: the continuous loop's
// margins, less a degree or two of the sampling's and the current loop's lag.
// Ten times the example's mass: the back-EMF of a light mover, which the
// current loop follows only to its finite gain, takes a few per cent off
// the speed loop's gain.
TEST(LoopMargins, APiOnAMassFarBelowTheSamplingRateHasTheContinuousMargins) {
  struct Case {
    const char* what;
    TunedLoop loop;
    double damping;
  };
  const Case cases[] = {{"speed, damping 1", TunedLoop::Speed, 1.0},
                        {"speed, damping 0.7", TunedLoop::Speed, 0.7},
                        {"position over a fast speed loop", TunedLoop::Position, 1.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = testing_support::LoadExample();
    auto set = [&](const char* name, double value) { setup->SetParameterValueInBaseUnit(name, value); };
    set("PosSpd_in_FastLoop", 1);
    set("PositionControlType", 1);
    set("IQREF_BQ_INI", 0);
    set("Mt", 5.0);
    set("PB_C", 3000.0);
    set("Dump_C", 1.0);
    set("PB_S", c.loop == TunedLoop::Speed ? 20.0 : 600.0);
    set("Dump_S", c.loop == TunedLoop::Speed ? c.damping : 1.0);
    set("PB_P", 20.0);
    set("Dump_P", c.damping);
    ASSERT_EQ(DesignCurrentController(*setup), 1);
    ASSERT_EQ(DesignSpeedController(*setup), 1);
    ASSERT_EQ(DesignPositionController(*setup), 1);
    const LoopMargins m = ComputeLoopMargins(*setup, c.loop);
    ASSERT_TRUE(m.valid);
    ASSERT_TRUE(m.stable);
    const double zeta = c.damping;
    const double w = setup->GetParameterValueInBaseUnit(c.loop == TunedLoop::Speed ? "PB_S" : "PB_P");  // its range
    const double crossover = w * std::sqrt(2.0 * zeta * zeta + std::sqrt(4.0 * zeta * zeta * zeta * zeta + 1.0));
    EXPECT_NEAR(m.crossover_rad_s, crossover, 0.02 * crossover);
    const double margin = std::atan(2.0 * zeta * crossover / w) * kDegrees;
    EXPECT_NEAR(m.phaseMargin_deg, margin, 3.0);
    EXPECT_GT(m.gainMargin_dB, 20.0);
  }
}

// Every loop's gains raised (or lowered) by its gain margin put it at its
// stability limit as the step predictions see it (Schur-Cohn on the closed
// loop's own tick map): 2 % short of it stable, 2 % beyond it not.
TEST(LoopMargins, GainsScaledByTheGainMarginReachTheStabilityLimit) {
  struct Case {
    const char* what;
    TunedLoop loop;
    double positionControlType;
    std::vector<const char*> gains;
  };
  const Case cases[] = {
      {"current", TunedLoop::Current, 1, {"Kp_C_scl", "Ki_C_scl"}},
      {"speed, with the example's current-reference filter", TunedLoop::Speed, 1, {"Kp_S_scl", "Ki_S_scl"}},
      {"position over the speed loop", TunedLoop::Position, 1, {"Kp_P_scl", "Ki_P_scl"}},
      {"position PID", TunedLoop::Position, 0, {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl"}},
  };
  auto stable = [](const CMC_Setup& setup, TunedLoop loop) {
    SampledLoopResponse response;
    const bool predicted = loop == TunedLoop::Current   ? PredictCurrentLoop(setup, 1, 2, response)
                           : loop == TunedLoop::Speed ? PredictSpeedLoop(setup, 2, response)
                                                      : PredictPositionLoop(setup, 2, response);
    EXPECT_TRUE(predicted);
    return response.stable;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = testing_support::LoadExample();
    auto set = [&](const char* name, double value) { setup->SetParameterValueInBaseUnit(name, value); };
    set("PositionControlType", c.positionControlType);
    set("PB_C", 4000.0);
    set("PB_S", 150.0);
    set("PB_P", 40.0);
    set("KDFP", 16384);
    ASSERT_EQ(DesignCurrentController(*setup), 1);
    ASSERT_EQ(DesignSpeedController(*setup), 1);
    ASSERT_EQ(DesignPositionController(*setup), 1);
    const LoopMargins m = ComputeLoopMargins(*setup, c.loop);
    ASSERT_TRUE(m.valid);
    ASSERT_TRUE(m.stable);
    ASSERT_TRUE(stable(*setup, c.loop));
    struct Limit {
      double margin_dB, sign;
    };
    for (const Limit limit : {Limit{m.gainMargin_dB, 1.0}, Limit{m.gainReductionMargin_dB, -1.0}}) {
      if (!std::isfinite(limit.margin_dB)) continue;
      const double factor = std::pow(10.0, limit.sign * limit.margin_dB / 20.0);
      for (const double share : {0.98, 1.02}) {
        CMC_Setup scaled(*setup);
        const double k = limit.sign > 0.0 ? factor * share : factor / share;
        for (const char* gain : c.gains) scaled.SetParameterValueInBaseUnit(gain, k * setup->GetParameterValueInBaseUnit(gain));
        EXPECT_EQ(stable(scaled, c.loop), share < 1.0) << "gain x " << k;
      }
    }
  }
}

}  // namespace

// The example's current-reference filter, a second-order low-pass of Q
// 0.707 at 200 Hz designed by the bilinear transform pre-warped at 200 Hz
// for Ts_S 0.5 ms, is the analog H(s) = wa^2 / (s^2 + wa s / Q + wa^2),
// wa = (2 / T) tan(pi 200 Hz T), read at s = j (2 / T) tan(w T / 2). In the
// speed loop it sits in series with everything else: the loop's phase
// changes by the filter's alone.
TEST(LoopMargins, AFilterSlotCostsTheLoopItsOwnPhase) {
  auto setup = testing_support::LoadExample();
  const double t = 0.5e-3, wa = 2.0 / t * std::tan(std::numbers::pi * 200.0 * t);
  for (double w : {100.0, 313.0, 1000.0}) {
    SCOPED_TRACE(w);
    const double s = 2.0 / t * std::tan(w * t / 2.0);
    const double lag = std::atan2(wa * s / 0.707, wa * wa - s * s) * kDegrees;
    const std::vector<FilterPhaseCost> costs = FilterPhaseCosts(*setup, TunedLoop::Speed, w);
    ASSERT_EQ(costs.size(), 1u);
    EXPECT_EQ(costs[0].slot, 1);
    EXPECT_STREQ(costs[0].place, "current reference");
    EXPECT_NEAR(costs[0].phase_deg, lag, 0.05);
  }
  CMC_Setup bypassed(*setup);
  BypassFilterSlot(bypassed, 1);
  EXPECT_TRUE(FilterPhaseCosts(bypassed, TunedLoop::Speed, 313.0).empty());
}
