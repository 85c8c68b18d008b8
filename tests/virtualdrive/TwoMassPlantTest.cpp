// Two-mass mechanics against the textbook two-mass oscillator, and the
// plant file's checks of its keys.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "DriveRun.h"
#include "virtualdrive/PlantFile.h"

namespace {

using virtualdrive::Plant;
using virtualdrive::PlantParameters;

// A mover without friction that falls under gravity from rest, the load
// held at its static stretch: released, the coupling rings at its damped
// resonance sqrt(k (1/m1 + 1/m2)) sqrt(1 - zeta^2), with no force from the
// motor (the bridge is off).
TEST(TwoMassPlant, ReleasedTheCouplingRingsAtItsResonance) {
  struct Case {
    double motor_kg, load_kg, stiffness_N_per_m, damping;  // damping ratio
    double period_s;
  };
  const Case cases[] = {
      {0.58, 0.58, 2.9e6, 0.01, 50e-6},   // 450 Hz, ~1 rad a period: substeps needed
      {0.58, 2.0, 1.0e6, 0.05, 50e-6},    // 236 Hz
      {0.58, 0.2, 4.0e6, 0.02, 62.5e-6},  // 808 Hz
  };
  for (const Case& c : cases) {
    PlantParameters p = drive_run::QuietPlant();
    p.viscous_friction_N_s_per_m = 0.0;
    p.coulomb_friction_N = 0.0;
    p.gravity_force_N = -20.0;
    p.initial_position_m = 0.2;
    p.moving_mass_kg = c.motor_kg;
    p.load_mass_kg = c.load_kg;
    p.coupling_stiffness_N_per_m = c.stiffness_N_per_m;
    const double reduced_kg = 1.0 / (1.0 / c.motor_kg + 1.0 / c.load_kg);
    p.coupling_damping_N_s_per_m = 2.0 * c.damping * std::sqrt(c.stiffness_N_per_m * reduced_kg);
    const double expected_Hz =
        std::sqrt(c.stiffness_N_per_m / reduced_kg) * std::sqrt(1.0 - c.damping * c.damping) / (2.0 * std::numbers::pi);
    SCOPED_TRACE(expected_Hz);
    Plant plant(p);
    plant.SetPeriod(c.period_s, c.period_s);
    // Upward crossings of the stretch through its mean (0: in free fall the
    // spring carries nothing), timed by linear interpolation.
    double last = plant.Position_m() - plant.LoadPosition_m();
    double first_s = -1.0, last_s = -1.0;
    int crossings = 0;
    for (int k = 1; k <= static_cast<int>(0.1 / c.period_s); ++k) {
      plant.Step(0.0, 0.0, false);
      const double stretch = plant.Position_m() - plant.LoadPosition_m();
      if (last < 0.0 && stretch >= 0.0) {
        const double t = c.period_s * (k - stretch / (stretch - last));
        if (first_s < 0.0) first_s = t;
        last_s = t;
        ++crossings;
      }
      last = stretch;
    }
    ASSERT_GT(crossings, 10);
    EXPECT_NEAR((crossings - 1) / (last_s - first_s), expected_Hz, 0.002 * expected_Hz);
    // The whole mover falls as one mass under the whole weight.
    EXPECT_NEAR(plant.LoadSpeed_m_s(), -20.0 / (c.motor_kg + c.load_kg) * 0.1, 0.02);
  }
}

TEST(TwoMassPlant, TheEncoderReadsTheMassItIsOn) {
  for (const bool onLoad : {false, true}) {
    PlantParameters p = drive_run::QuietPlant();
    p.coulomb_friction_N = 0.0;
    p.gravity_force_N = -20.0;
    p.load_mass_kg = 1.0;
    p.coupling_stiffness_N_per_m = 1e5;  // 12.7 N of the load: 0.13 mm of stretch
    p.coupling_damping_N_s_per_m = 20.0;
    p.encoder_on_load = onLoad;
    Plant plant(p);
    plant.SetPeriod(50e-6, 50e-6);
    const double read_m = onLoad ? plant.LoadPosition_m() : plant.Position_m();
    EXPECT_NEAR(static_cast<double>(plant.EncoderCount()), std::floor(read_m / p.encoder_period_m * 256.0), 0.5)
        << onLoad;
    EXPECT_GT(std::abs(plant.LoadPosition_m() - plant.Position_m()) / p.encoder_period_m * 256.0, 100.0);
  }
}

TEST(TwoMassPlant, TheFileRefusesTwoMassKeysThatDoNotFit) {
  const std::string base = R"({"moving_mass_kg": 0.58, )";
  struct Case {
    const char* keys;
    const char* expected;  // the start of the error; empty: accepted
  };
  const Case cases[] = {
      {R"("load_mass_kg": 0.5, "coupling_stiffness_N_per_m": 2e6, "coupling_damping_N_s_per_m": 30, "encoder_on": "load")",
       ""},
      {R"("load_mass_kg": -1)", "p.json: \"load_mass_kg\": must be a number from 0 to 1e+06"},
      {R"("load_mass_kg": 0.5, "coupling_damping_N_s_per_m": 30)",
       "p.json: \"coupling_stiffness_N_per_m\": is needed"},
      {R"("load_mass_kg": 0.5, "coupling_stiffness_N_per_m": 2e6)",
       "p.json: \"coupling_damping_N_s_per_m\": is needed"},
      {R"("coupling_stiffness_N_per_m": 2e6)", "p.json: \"coupling_stiffness_N_per_m\": needs a \"load_mass_kg\""},
      {R"("encoder_on": "load")", "p.json: \"encoder_on\": \"load\" needs"},
      {R"("encoder_on": "frame")", "p.json: \"encoder_on\": must be \"motor\" or \"load\""},
      {R"("load_mass_kg": 0.5, "coupling_stiffness_N_per_m": 0, "coupling_damping_N_s_per_m": 30)",
       "p.json: \"coupling_stiffness_N_per_m\": must be a number above 0"},
      // 0.58 and 0.5 kg on 1e9 N/m: 9.6 kHz.
      {R"("load_mass_kg": 0.5, "coupling_stiffness_N_per_m": 1e9, "coupling_damping_N_s_per_m": 30)",
       "p.json: \"coupling_stiffness_N_per_m\": gives a resonance of 9"},
      // 2 sqrt(k m) = 1470 N s/m is damping 1.
      {R"("load_mass_kg": 0.5, "coupling_stiffness_N_per_m": 2e6, "coupling_damping_N_s_per_m": 4000)",
       "p.json: \"coupling_damping_N_s_per_m\": gives a damping ratio of 2.7"},
  };
  for (const Case& c : cases) {
    const virtualdrive::PlantLoad load = virtualdrive::ParsePlant(base + c.keys + "}", "p.json");
    if (*c.expected == '\0') {
      ASSERT_TRUE(load.plant) << c.keys << ": " << load.error;
      EXPECT_TRUE(load.plant->encoder_on_load);
      continue;
    }
    EXPECT_FALSE(load.plant) << c.keys;
    EXPECT_EQ(load.error.rfind(c.expected, 0), 0u) << load.error;
  }
}

}  // namespace
