// The frequency-response computation against systems whose answer is known
// in closed form: spectra of a simulated loop, margins of an integrator
// with a delay, the peak of a two-mass plant over its rigid line, the
// notch's Q worked out by hand, and the notch placed in the setup.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

#include "BiquadDesign.h"
#include "FrequencyResponse.h"
#include "MeasuredLoop.h"
#include "support/TestSetup.h"
#include "axcore/Setup.h"

namespace {

constexpr double kPi = std::numbers::pi;
using Complex = std::complex<double>;

// A loop simulated sample by sample: the plant y[k+1] = a y[k] + b u[k]
// (G(z) = b / (z - a)), the controller c[k] = -g y[k], u = c + d with d a
// random binary sequence. Open loop L = g G, plant G, at every line.
TEST(FrequencyResponseModel, SpectraOfASimulatedLoopGiveItsPlantAndOpenLoop) {
  struct Case {
    double a, b, g;
    bool noise;  // white noise on the measurement
  };
  for (const Case& c : {Case{0.9, 0.5, 0.3, false}, Case{0.95, 0.2, 2.0, true}, Case{0.5, 1.0, 0.1, true}}) {
    SCOPED_TRACE(::testing::Message() << "a " << c.a << " g " << c.g);
    const int n = 256 * 16;
    std::vector<double> d(n), u(n), y(n);
    std::uint32_t lfsr = 1, rng = 12345;
    double state = 0.0;
    for (int k = 0; k < n; ++k) {
      const bool bit = (lfsr & 1u) != 0;
      lfsr = (lfsr >> 1) ^ (bit ? 0x90000u : 0u);
      rng = rng * 1664525u + 1013904223u;
      const double measured = state + (c.noise ? 0.01 * (static_cast<double>(rng >> 8) / 16777216.0 - 0.5) : 0.0);
      d[k] = bit ? 1.0 : -1.0;
      u[k] = d[k] - c.g * measured;
      y[k] = measured;
      state = c.a * state + c.b * u[k];
    }
    const double tick = 1e-3;
    // From the fourth line up (the Hann window's leakage spreads over two
    // lines either side, as the excitation's plan allows for).
    const MeasuredResponse m = MeasureResponse(d, u, y, tick, 256, false, 4.0 / (256 * tick), 450.0);
    ASSERT_EQ(m.error, "");
    EXPECT_EQ(m.averages, 31);
    for (std::size_t i = 0; i < m.frequency_Hz.size(); ++i) {
      const Complex z = std::polar(1.0, 2.0 * kPi * m.frequency_Hz[i] * tick);
      const Complex plant = c.b / (z - c.a);
      EXPECT_LT(std::abs(m.plant[i] / plant - 1.0), 0.05) << m.frequency_Hz[i];
      EXPECT_LT(std::abs(m.openLoop[i] / (c.g * plant) - 1.0), 0.05) << m.frequency_Hz[i];
      EXPECT_GT(m.coherence[i], 0.9);
    }
  }
  // Too short a record for one segment says so.
  EXPECT_NE(MeasureResponse({1, -1}, {1, -1}, {0, 0}, 1e-3, 256, false, 5.0, 450.0).error, "");
}

// L = K exp(-j w T) / (j w): crossover K, phase margin 90 - K T (degrees),
// the phase through -180 at pi / (2 T) with gain 2 K T / pi.
TEST(FrequencyResponseModel, MarginsOfAMeasuredIntegratorWithADelay) {
  struct Case {
    double k_rad_s, t_s;
  };
  for (const Case& c : {Case{300.0, 1e-3}, Case{100.0, 2e-3}, Case{800.0, 0.5e-3}}) {
    SCOPED_TRACE(c.k_rad_s);
    MeasuredResponse m;
    for (double f = 2.0; f < 1200.0; f += 2.0) {
      const double w = 2.0 * kPi * f;
      m.frequency_Hz.push_back(f);
      m.openLoop.push_back(c.k_rad_s * std::polar(1.0, -w * c.t_s) / Complex(0.0, w));
      m.coherence.push_back(f < 1000.0 ? 1.0 : 0.2);  // the incoherent top is left out
    }
    const LoopMargins margins = MeasuredMargins(m);
    ASSERT_TRUE(margins.valid);
    EXPECT_NEAR(margins.crossover_rad_s, c.k_rad_s, 0.01 * c.k_rad_s);
    EXPECT_NEAR(margins.phaseMargin_deg, 90.0 - c.k_rad_s * c.t_s * 180.0 / kPi, 0.5);
    EXPECT_NEAR(margins.gainMargin_dB, -20.0 * std::log10(2.0 * c.k_rad_s * c.t_s / kPi), 0.1);
    EXPECT_NEAR(margins.gainMarginAt_rad_s, kPi / (2.0 * c.t_s), 0.01 * kPi / (2.0 * c.t_s));
  }
}

// The motor's speed of two masses over the rigid mover's: (m2 s^2 + c s + k)
// (m1 + m2) / (m1 m2 s^2 + c (m1 + m2) s + k (m1 + m2)), a dip at the
// antiresonance and a peak at the resonance.
TEST(FrequencyResponseModel, AResonanceIsFoundOnItsRigidLineAndNoneOnAScaledOne) {
  struct Case {
    double resonance_Hz, damping, load_over_motor;
  };
  for (const Case& c : {Case{200.0, 0.02, 0.5}, Case{450.0, 0.05, 1.0}, Case{700.0, 0.05, 0.6}}) {
    SCOPED_TRACE(c.resonance_Hz);
    const double m1 = 1.0, m2 = c.load_over_motor, mu = m1 * m2 / (m1 + m2);
    const double wr = 2.0 * kPi * c.resonance_Hz, k = wr * wr * mu, cc = 2.0 * c.damping * std::sqrt(k * mu);
    MeasuredResponse m, scaled;
    std::vector<Complex> rigid;
    for (double f = 2.0; f <= 900.0; f += 2.0) {
      const Complex s(0.0, 2.0 * kPi * f);
      const Complex line = 1.0 / ((m1 + m2) * s);
      const Complex ratio = (m2 * s * s + cc * s + k) * (m1 + m2) / (m1 * m2 * s * s + cc * (m1 + m2) * s + k * (m1 + m2));
      for (MeasuredResponse* r : {&m, &scaled}) {
        r->frequency_Hz.push_back(f);
        r->coherence.push_back(1.0);
      }
      m.plant.push_back(line * ratio);
      scaled.plant.push_back(0.7 * line);
      rigid.push_back(line);
    }
    const std::vector<Resonance> found = FindResonances(m, rigid);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NEAR(found[0].frequency_Hz, c.resonance_Hz, 0.01 * c.resonance_Hz);
    // At the resonance the ratio is k (m2 / m1) / (c w_r) = m2 / (2 zeta m1).
    const double expected_dB = 20.0 * std::log10(m2 / (2.0 * c.damping * m1));
    EXPECT_NEAR(found[0].height_dB, expected_dB, 1.0);
    EXPECT_TRUE(FindResonances(scaled, rigid).empty());
  }
}

TEST(FrequencyResponseModel, TheNotchTakesThePeakDownAtItsHalfPowerPoints) {
  struct Case {
    Resonance resonance;
    double q;
  };
  // 23 dB high, 20 Hz wide at 400 Hz: a = 0.1, delta = 0.025,
  // Q = a / (2 delta sqrt(1 - a^2)) = 2.0101.
  const Case cases[] = {
      {{400.0, 23.0, 20.0, 20.0}, 2.0101},
      {{400.0, 2.0, 20.0, 20.0}, 5.0},   // below 3 dB: the narrowest
      {{400.0, 40.0, 20.0, 40.0}, 0.5},  // very high: the widest
  };
  for (const Case& c : cases) EXPECT_NEAR(NotchQuality(c.resonance, 0.5, 5.0), c.q, 1e-3) << c.resonance.height_dB;
}

TEST(FrequencyResponseModel, TheNotchGoesIntoTheFirstFreeFilterAtTheSpeedControllerOutput) {
  auto setup = testing_support::LoadExample();
  auto set = [&](const std::string& name, double v) { setup->SetParameterValueInBaseUnit(name, v); };
  set("BQFilter1", 1);  // the example's low pass, on
  set("BQFilter2", 0);
  set("BQFilter3", 0);
  const Resonance resonance{360.0, 20.0, 24.0, 20.0};
  const NotchPlacement placed = PlaceNotch(*setup, resonance);
  ASSERT_EQ(placed.filter, 2) << placed.error;
  EXPECT_FALSE(placed.moved);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("BQFilter2"), 1.0);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("BQFilterType2"), kBiquadNotch);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("BQFilterLocation2"), kBiquadAtSpeedControllerOutput);
  EXPECT_NEAR(setup->GetParameterValueInBaseUnit("BQFilterF12"), 360.0, 1e-9);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("IQREF_BQ_INI"), 2.0);  // both filters on the current reference
  // The same resonance a little off: the notch moves, no second one.
  const NotchPlacement moved = PlaceNotch(*setup, {370.0, 20.0, 24.0, 20.0});
  EXPECT_EQ(moved.filter, 2);
  EXPECT_TRUE(moved.moved);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("BQFilter3"), 0.0);
  // All three on, none near: refused, nothing changed.
  set("BQFilter3", 1);
  const double q3 = setup->GetParameterValueInBaseUnit("BQFilterQ3");
  const NotchPlacement none = PlaceNotch(*setup, {150.0, 20.0, 10.0, 20.0});
  EXPECT_EQ(none.filter, 0);
  EXPECT_EQ(none.error, "no filter is free (all three are on)");
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("BQFilterQ3"), q3);
}

}  // namespace
