// The current loop of the virtual drive against the loop the current
// controller design assumes: with the gains designed for a passband w and
// damping 1, the step response of the simulated drive must match the
// continuous-time PI-controlled R-L winding (its zero included) in rise time
// and overshoot, for passbands up to a tenth of the sampling rate.
#include <gtest/gtest.h>

#include <cmath>

#include "ControllerDesign.h"
#include "DriveRun.h"
#include "LoopCodec.h"
#include "Scales.h"
#include "axcore/HostFunctions.h"

namespace {

struct StepShape {
  double rise_s;     // 10 % to 90 % of the final value
  double overshoot;  // peak over final value, minus 1
};

// Linear interpolation of the first crossing of `level`.
double Crossing(const std::vector<double>& t, const std::vector<double>& y, double level) {
  for (std::size_t k = 1; k < y.size(); ++k)
    if (y[k] >= level) return t[k - 1] + (level - y[k - 1]) / (y[k] - y[k - 1]) * (t[k] - t[k - 1]);
  return NAN;
}

StepShape Shape(const std::vector<double>& t, const std::vector<double>& y, double final) {
  double peak = 0;
  for (double v : y) peak = std::max(peak, v);
  return {Crossing(t, y, 0.9 * final) - Crossing(t, y, 0.1 * final), peak / final - 1.0};
}

// The continuous loop: L di/dt = V - R i, V = Kp e + Ki integral(e), unit
// step, integrated with RK4 at a step far below every time constant.
StepShape ContinuousStep(double r, double l, double kp, double ki, double span_s) {
  const double dt = span_s / 200000.0;
  double i = 0, z = 0;  // current, integral of the error
  auto f = [&](double ii, double zz, double& di, double& dz) {
    const double e = 1.0 - ii;
    di = (kp * e + ki * zz - r * ii) / l;
    dz = e;
  };
  std::vector<double> t{0}, y{0};
  for (int k = 0; k < 200000; ++k) {
    double a1, b1, a2, b2, a3, b3, a4, b4;
    f(i, z, a1, b1);
    f(i + 0.5 * dt * a1, z + 0.5 * dt * b1, a2, b2);
    f(i + 0.5 * dt * a2, z + 0.5 * dt * b2, a3, b3);
    f(i + dt * a3, z + dt * b3, a4, b4);
    i += dt / 6 * (a1 + 2 * a2 + 2 * a3 + a4);
    z += dt / 6 * (b1 + 2 * b2 + 2 * b3 + b4);
    t.push_back((k + 1) * dt);
    y.push_back(i);
  }
  return Shape(t, y, 1.0);
}

TEST(CurrentLoopPhysics, StepResponseMatchesTheDesignedContinuousLoop) {
  struct Case {
    double r_ohm, l_H, passband_rad_s, step_A;
  };
  // The example motor, and a slow winding that lets the zero show a large
  // overshoot; passbands up to a tenth of the 20 kHz sampling rate.
  const Case cases[] = {
      {4.45, 3.8e-3, 1000, 2.0}, {4.45, 3.8e-3, 2000, 2.0}, {2.0, 0.02, 500, 0.25},
      {2.0, 0.02, 1000, 0.25},   {2.0, 0.02, 2000, 0.2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "R " << c.r_ohm << " ohm, L " << c.l_H << " H, w " << c.passband_rad_s);
    virtualdrive::PlantParameters plant = drive_run::QuietPlant();
    plant.phase_resistance_ohm = c.r_ohm;
    plant.phase_inductance_H = c.l_H;
    plant.dead_time_s = 0;          // the law alone, no bridge non-linearity
    plant.initial_position_m = 0;   // flux along phase A: the step makes no force
    auto setup = drive_run::ExampleSetup();
    // A 16-bit converter so that a per-cent overshoot is many counts; the
    // design sees the true winding and supply.
    setup->SetParameterValueInBaseUnit("ADCbits", 16);
    setup->SetParameterValueInBaseUnit("R", c.r_ohm);
    setup->SetParameterValueInBaseUnit("L", c.l_H);
    setup->SetParameterValueInBaseUnit("Vdc", plant.vdc_V);
    setup->SetParameterValueInBaseUnit("PB_C", c.passband_rad_s);
    setup->SetParameterValueInBaseUnit("Dump_C", 1.0);
    ASSERT_EQ(DesignCurrentController(*setup), 1);
    ASSERT_EQ(EncodeSFTKPI(*setup) & EncodeKPI(*setup) & EncodeSFTKII(*setup) & EncodeKII(*setup), 1);

    drive_run::Bench bench(plant, setup.get());
    const double ki_counts = CurrentScale(*setup), kv_counts = VoltageCommandScale(*setup);
    const double ts = CurrentLoopPeriod(*setup);
    const double step = std::round(c.step_A * ki_counts);
    LoggerSettings logger{2000, 1, 1, {"Motor_Current"}};
    ASSERT_TRUE(bench.Run("Current_Controller_Tuning_Test", {{"In1", step}, {"Imax_Prot_Test", 0}}, &logger).finished);
    std::vector<double> t, y;
    for (const auto& point : bench.Log())
      if (point[0] >= 200 * ts - 1e-12) {  // the step comes after a tenth of the recording
        t.push_back(point[0] - 200 * ts);
        y.push_back(point[1]);
      }
    ASSERT_GT(t.size(), 1000u);
    const StepShape simulated = Shape(t, y, step);

    // Independent theory: the gains the registers hold, in volts and amperes.
    auto gain = [&](const char* k, const char* s) {
      return setup->GetParameterValueInBaseUnit(k) * std::ldexp(1.0, int(setup->GetParameterValueInBaseUnit(s))) /
             32767.0;
    };
    const double kp = gain("KPI", "SFTKPI") * ki_counts / kv_counts;
    const double ki = gain("KII", "SFTKII") * ki_counts / (kv_counts * ts);
    const StepShape theory = ContinuousStep(c.r_ohm, c.l_H, kp, ki, 30.0 / c.passband_rad_s);

    EXPECT_GT(simulated.rise_s, 0.85 * theory.rise_s) << simulated.rise_s << " vs " << theory.rise_s;
    EXPECT_LT(simulated.rise_s, 1.15 * theory.rise_s) << simulated.rise_s << " vs " << theory.rise_s;
    // Two-sided on the overshoot, with a floor of 0.2 % of the step for
    // responses that hardly overshoot.
    EXPECT_NEAR(simulated.overshoot, theory.overshoot, 0.15 * theory.overshoot + 0.002)
        << "rise " << simulated.rise_s << " vs " << theory.rise_s;
  }
}

}  // namespace
