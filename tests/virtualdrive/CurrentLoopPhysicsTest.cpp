// The current loop of the virtual drive against the sampled loop a real
// drive runs: the gains designed for a passband (damping 1), the currents
// sampled every period and the voltage applied one period later (or at
// once, on a plant without computation delay). Sample for sample the
// simulated step must follow the difference equations of the prediction,
// and where the prediction says unstable the drive must not settle.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "ControllerDesign.h"
#include "DriveRun.h"
#include "LoopCodec.h"
#include "LoopResponse.h"
#include "Scales.h"

namespace {

constexpr double kSamplingRate_Hz = 20000.0;  // the example drive's current loop

TEST(CurrentLoopPhysics, SampledStepFollowsThePredictedLoopWithItsDelay) {
  struct Case {
    double r_ohm, l_H, passband_rad_s, step_A;
    int delay;
  };
  const double fs20 = 2.0 * std::numbers::pi * kSamplingRate_Hz / 20.0;
  const double fs10 = 2.0 * std::numbers::pi * kSamplingRate_Hz / 10.0;
  // Small steps: the first command (Kp + Ki) e stays inside the voltage
  // limit "SATIQ" sets, where the loop is linear.
  const Case cases[] = {
      {4.45, 3.8e-3, 2000, 0.5, 1},       {4.45, 3.8e-3, fs20 / 2, 0.3, 1}, {4.45, 3.8e-3, fs20, 0.2, 1},
      {4.45, 3.8e-3, fs20, 0.2, 0},       {2.0, 0.02, 1000, 0.25, 1},       {2.0, 0.02, 2000, 0.2, 1},
      {4.45, 3.8e-3, fs10, 0.1, 1},       {4.45, 3.8e-3, fs10, 0.1, 0},
  };
  int unstable = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "R " << c.r_ohm << " ohm, L " << c.l_H << " H, w " << c.passband_rad_s
                                      << " rad/s, delay " << c.delay);
    virtualdrive::PlantParameters plant = drive_run::QuietPlant();
    plant.phase_resistance_ohm = c.r_ohm;
    plant.phase_inductance_H = c.l_H;
    plant.dead_time_s = 0;          // the law alone, no bridge non-linearity
    plant.initial_position_m = 0;   // flux along phase A: the step makes no force
    plant.computation_delay_periods = c.delay;
    auto setup = drive_run::ExampleSetup();
    // A 16-bit converter so that a per-cent of the step is many counts; the
    // design sees the true winding and supply.
    setup->SetParameterValueInBaseUnit("ADCbits", 16);
    setup->SetParameterValueInBaseUnit("R", c.r_ohm);
    setup->SetParameterValueInBaseUnit("L", c.l_H);
    setup->SetParameterValueInBaseUnit("Vdc", plant.vdc_V);
    setup->SetParameterValueInBaseUnit("PB_C", c.passband_rad_s);
    setup->SetParameterValueInBaseUnit("Dump_C", 1.0);
    ASSERT_EQ(DesignCurrentController(*setup), 1);
    ASSERT_EQ(EncodeSFTKPI(*setup) & EncodeKPI(*setup) & EncodeSFTKII(*setup) & EncodeKII(*setup), 1);
    ASSERT_EQ(DecodeKp_C_scl(*setup) & DecodeKi_C_scl(*setup), 1);  // the gains the registers hold

    drive_run::Bench bench(plant, setup.get());
    const double step = std::round(c.step_A * CurrentScale(*setup));
    LoggerSettings logger{2000, 2, 1, {"Motor_Current"}};
    ASSERT_TRUE(bench.Run("Current_Controller_Tuning_Test", {{"In1", step}, {"Imax_Prot_Test", 0}}, &logger).finished);
    const auto points = bench.Log();
    ASSERT_EQ(points.size(), 2000u);
    std::vector<double> y;  // from the sample the step arrives at
    for (std::size_t k = 200; k < points.size(); ++k) y.push_back(points[k][1] / step);

    SampledLoopResponse predicted;
    ASSERT_TRUE(PredictCurrentLoop(*setup, c.delay, static_cast<int>(y.size()), predicted));
    if (!predicted.stable) {
      // An unstable loop rings until the voltage limits hold it in a limit
      // cycle (or the protection trips): it never settles at the step.
      double low = y.back(), high = y.back();
      for (std::size_t k = y.size() - 200; k < y.size(); ++k) {
        low = std::min(low, y[k]);
        high = std::max(high, y[k]);
      }
      EXPECT_GT(high - low, 0.2) << "the drive settled where the prediction says unstable";
      ++unstable;
      continue;
    }
    double worst = 0.0;
    std::size_t at = 0;
    for (std::size_t k = 0; k < y.size(); ++k)
      if (std::abs(y[k] - predicted.step[k]) > worst) worst = std::abs(y[k] - predicted.step[k]), at = k;
    // Converter rounding (one count in hundreds) is all that may differ.
    EXPECT_LT(worst, 0.01) << "at sample " << at << ": drive " << y[at] << ", prediction " << predicted.step[at];
    double peak = 0.0;
    for (double v : y) peak = std::max(peak, v);
    EXPECT_NEAR(peak - 1.0, predicted.overshoot, 0.01);
  }
  EXPECT_EQ(unstable, 1) << "a tenth of the sampling rate with the delay is beyond the loop";
}

// The prediction's stability against roots worked out by hand: (z - r1)(z - r2)
// with real roots, and z^2 + c (a pair of radius sqrt(c)).
TEST(CurrentLoopPhysics, SchurTestFindsRootsOutsideTheUnitCircle) {
  struct Case {
    std::vector<double> coefficients;  // constant term first
    bool stable;
  };
  const Case cases[] = {
      {{0.5 * 0.9, -(0.5 + 0.9), 1.0}, true},     // 0.5, 0.9
      {{0.5 * 1.1, -(0.5 + 1.1), 1.0}, false},    // 0.5, 1.1
      {{-0.5 * 0.9, -(-0.5 + 0.9), 1.0}, true},   // -0.5, 0.9
      {{0.81, 0.0, 1.0}, true},                    // +-0.9j
      {{1.0, 0.0, 1.0}, false},                    // +-j, on the circle
      {{0.0, 0.25, -1.0, 1.0}, true},              // 0, 0.5, 0.5
      {{-1.2 * 0.3 * 0.2, 1.2 * 0.3 + 1.2 * 0.2 + 0.3 * 0.2, -(1.2 + 0.3 + 0.2), 1.0}, false},  // 1.2, 0.3, 0.2
  };
  for (const Case& c : cases) EXPECT_EQ(IsSchurStable(c.coefficients), c.stable) << ::testing::PrintToString(c.coefficients);
}

}  // namespace
