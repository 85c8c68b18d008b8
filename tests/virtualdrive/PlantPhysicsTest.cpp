// The plant against numbers worked out by hand: what the bridge can apply,
// and when a mover left to itself is really at rest.
#include <gtest/gtest.h>

#include <cmath>

#include "DriveRun.h"

namespace {

using virtualdrive::Plant;
using virtualdrive::PlantParameters;

// The example winding on a bridge without losses, flux along phase A.
PlantParameters BareWinding() {
  PlantParameters p = drive_run::QuietPlant();
  p.dead_time_s = 0.0;
  p.initial_position_m = 0.0;
  p.force_constant_N_per_A = 0.0;  // nothing moves: no back-EMF
  return p;
}

TEST(PlantPhysics, TheBridgeAppliesAtMostVdcOverSqrt3KeepingTheDirection) {
  struct Case {
    double alpha_V, beta_V;
    double applied_V, angle_rad;  // the vector the winding sees
  };
  const PlantParameters p = BareWinding();
  const double limit = p.vdc_V / std::sqrt(3.0);  // 27.25 V on 47.2 V
  const Case cases[] = {
      {20.0, 0.0, 20.0, 0.0},                                  // inside: as commanded
      {100.0, 0.0, limit, 0.0},                                // shortened
      {60.0, 80.0, limit, std::atan2(80.0, 60.0)},             // shortened, same direction
      {-20.0, 20.0, limit, 0.75 * std::acos(-1.0)},            // 28.3 V: just beyond
      {-13.0, -22.5, std::hypot(13.0, 22.5), std::atan2(-22.5, -13.0)},  // 26.0 V: inside
  };
  for (const Case& c : cases) {
    Plant plant(p);
    plant.SetPeriod(50e-6, 50e-6);
    for (int k = 0; k < 2000; ++k) plant.Step(c.alpha_V, c.beta_V, true);  // 100 ms, over 100 L/R
    // Steady state: V / R along the applied vector.
    const double alpha_A = plant.MotorPhaseCurrent_A(0);
    const double beta_A = (plant.MotorPhaseCurrent_A(1) - plant.MotorPhaseCurrent_A(2)) / std::sqrt(3.0);
    const double expected_A = c.applied_V / p.phase_resistance_ohm;
    EXPECT_NEAR(alpha_A, expected_A * std::cos(c.angle_rad), 1e-9) << c.alpha_V << ", " << c.beta_V;
    EXPECT_NEAR(beta_A, expected_A * std::sin(c.angle_rad), 1e-9) << c.alpha_V << ", " << c.beta_V;
  }
}

TEST(PlantPhysics, AMoverThatCoastsToAHaltUnderGravityIsAtRestOnlyWhenFrictionHoldsIt) {
  struct Case {
    double gravity_N;
    bool heldWhereItStops;
  };
  // Coulomb friction 2.5 N; a push along +x, then the bridge off.
  for (const Case& c : {Case{-10.0, false}, Case{-2.0, true}, Case{0.0, true}}) {
    SCOPED_TRACE(c.gravity_N);
    PlantParameters p = drive_run::QuietPlant();
    p.dead_time_s = 0.0;
    p.initial_position_m = 0.0;  // at x = 0 the force is Kf times the beta current
    p.gravity_force_N = c.gravity_N;
    Plant plant(p);
    plant.SetPeriod(50e-6, 50e-6);
    for (int k = 0; k < 200; ++k) plant.Step(0.0, 20.0, true);
    ASSERT_GT(plant.Speed_m_s(), 0.0);
    int periods = 0;
    while (plant.Speed_m_s() > 0.0 && ++periods < 200000) plant.Step(0.0, 0.0, false);
    ASSERT_EQ(plant.Speed_m_s(), 0.0);
    const double top = plant.Position_m();
    EXPECT_EQ(plant.AtRest(), c.heldWhereItStops);
    for (int k = 0; k < 200000 && !plant.AtRest(); ++k) plant.Step(0.0, 0.0, false);
    EXPECT_TRUE(plant.AtRest());
    if (c.heldWhereItStops) {
      EXPECT_EQ(plant.Position_m(), top);
    } else {
      EXPECT_EQ(plant.Position_m(), p.travel_min_m) << "slides back onto the lower stop";
    }
  }
}

// Through the drive: a mover that gravity pulls off its start slides onto
// the lower stop, and there the idle drive skips the hour in one go.
TEST(PlantPhysics, AnIdleDriveLetsAnUnheldMoverSlide) {
  PlantParameters p = drive_run::QuietPlant();
  p.gravity_force_N = -10.0;
  VirtualClock clock;
  virtualdrive::VirtualDrive drive(p, &clock);
  clock.Advance(3600.0);
  drive.AdvanceTo(clock.Now());
  EXPECT_EQ(drive.GetPlant().Position_m(), p.travel_min_m);
  EXPECT_NEAR(drive.Now_s(), 3600.0, 1e-3);
}

}  // namespace
