// A virtual drive with its speed or position loop closed on a frictionless
// example motor, and the pieces the closed-loop tests compare it with: the
// step of a continuous transfer function and the shape of a step response.
#pragma once

#include <cmath>
#include <memory>
#include <vector>

#include "ControllerDesign.h"
#include "DriveRun.h"
#include "LoopCodec.h"
#include "Scales.h"

namespace outer_loop_rig {

// The example motor without friction, sensing noise or dead time, its
// flux along phase A at count 0, so that the encoder count alone gives the
// electrical angle.
inline virtualdrive::PlantParameters BarePlant() {
  virtualdrive::PlantParameters plant = drive_run::QuietPlant();
  plant.viscous_friction_N_s_per_m = 0.0;
  plant.coulomb_friction_N = 0.0;
  plant.dead_time_s = 0.0;
  plant.initial_position_m = 0.0;
  return plant;
}

// The example setup told the plant's true data, with a current loop of
// 3000 rad/s (damping 1) far faster than any outer loop tested, no
// feed-forward, no filter slot, the control error protections off.
inline std::unique_ptr<CMC_Setup> SetupFor(const virtualdrive::PlantParameters& plant) {
  auto setup = drive_run::ExampleSetup();
  auto set = [&](const char* name, double value) { setup->SetParameterValueInBaseUnit(name, value); };
  // A 16-bit converter: the small currents that hold a settling mover are
  // many counts, not a fraction of one.
  set("ADCbits", 16);
  set("R", plant.phase_resistance_ohm);
  set("L", plant.phase_inductance_H);
  set("Vdc", plant.vdc_V);
  set("Kf", plant.force_constant_N_per_A);
  set("PB_C", 3000.0);
  set("Dump_C", 1.0);
  // The total mass as the total mass test would find it.
  set("Mt", plant.moving_mass_kg);
  set("KFFA", 0.0);
  set("KFFS", 0.0);
  set("FFL", 0.0);
  set("IQREF_BQ_INI", 0.0);
  set("SPDREF_BQ_INI", 0.0);
  set("ASPD_BQ_INI", 0.0);
  set("TERRMAX", 65535.0);
  set("TSERRMAX", 65535.0);
  DesignCurrentController(*setup);
  EncodeSFTKPI(*setup);
  EncodeKPI(*setup);
  EncodeSFTKII(*setup);
  EncodeKII(*setup);
  return setup;
}

inline void EncodeSpeedGains(CMC_Setup& setup) {
  EncodeSFTKPS(setup);
  EncodeKPS(setup);
  EncodeSFTKIS(setup);
  EncodeKIS(setup);
}

inline void EncodePositionGains(CMC_Setup& setup) {
  EncodeSFTKPP(setup);
  EncodeKPP(setup);
  EncodeSFTKIP(setup);
  EncodeKIP(setup);
  EncodeSFTKDP(setup);
  EncodeKDP(setup);
}

struct StepShape {
  double rise_s = NAN;     // 10 % to 90 % of the final value
  double overshoot = NAN;  // peak over final value, minus 1
};

// Linear interpolation of the first crossing of `level`.
inline double Crossing(const std::vector<double>& t, const std::vector<double>& y, double level) {
  for (std::size_t k = 1; k < y.size(); ++k)
    if (y[k] >= level) return t[k - 1] + (level - y[k - 1]) / (y[k] - y[k - 1]) * (t[k] - t[k - 1]);
  return NAN;
}

inline StepShape Shape(const std::vector<double>& t, const std::vector<double>& y, double final) {
  double peak = 0.0;
  for (double v : y) peak = std::max(peak, v);
  return {Crossing(t, y, 0.9 * final) - Crossing(t, y, 0.1 * final), peak / final - 1.0};
}

// Unit step of num(s) / den(s) (coefficients from s^0 up, den monic, num of
// lower degree), in controllable canonical form integrated with RK4 at
// 100000 steps over `span_s`.
inline StepShape ContinuousStep(const std::vector<double>& num, const std::vector<double>& den, double span_s) {
  const std::size_t n = den.size() - 1;
  constexpr int kSteps = 100000;
  const double dt = span_s / kSteps;
  std::vector<double> x(n, 0.0), k1(n), k2(n), k3(n), k4(n), tmp(n);
  auto f = [&](const std::vector<double>& s, std::vector<double>& d) {
    for (std::size_t i = 0; i + 1 < n; ++i) d[i] = s[i + 1];
    double last = 1.0;  // the unit input
    for (std::size_t i = 0; i < n; ++i) last -= den[i] * s[i];
    d[n - 1] = last;
  };
  auto output = [&] {
    double y = 0.0;
    for (std::size_t i = 0; i < num.size(); ++i) y += num[i] * x[i];
    return y;
  };
  std::vector<double> t{0.0}, y{0.0};
  for (int k = 0; k < kSteps; ++k) {
    f(x, k1);
    for (std::size_t i = 0; i < n; ++i) tmp[i] = x[i] + 0.5 * dt * k1[i];
    f(tmp, k2);
    for (std::size_t i = 0; i < n; ++i) tmp[i] = x[i] + 0.5 * dt * k2[i];
    f(tmp, k3);
    for (std::size_t i = 0; i < n; ++i) tmp[i] = x[i] + dt * k3[i];
    f(tmp, k4);
    for (std::size_t i = 0; i < n; ++i) x[i] += dt / 6.0 * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
    t.push_back((k + 1) * dt);
    y.push_back(output());
  }
  return Shape(t, y, num[0] / den[0]);
}

// The PI-controlled mass, or the PI around an ideal speed loop: the closed
// loop (2 zeta w s + w^2) / (s^2 + 2 zeta w s + w^2).
inline StepShape SecondOrderWithZero(double w, double zeta) {
  return ContinuousStep({w * w, 2.0 * zeta * w}, {w * w, 2.0 * zeta * w, 1.0}, 12.0 / w);
}

// The PID-controlled mass: (c s^2 + c w s + w^3) / (s^3 + c s^2 + c w s + w^3)
// with c = (2 zeta + 1) w.
inline StepShape ThirdOrderPid(double w, double zeta) {
  const double c = (2.0 * zeta + 1.0) * w;
  return ContinuousStep({w * w * w, c * w, c}, {w * w * w, c * w, c, 1.0}, 12.0 / w);
}

}  // namespace outer_loop_rig
