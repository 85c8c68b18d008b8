// The protections of the virtual drive: each sets its bit of "MER" and
// turns the axis off, when (and only when) its condition has held as long
// as its registers say; times are worked out from the registers and the
// plant by hand.
#include <gtest/gtest.h>

#include <functional>

#include "OuterLoopRig.h"

namespace {

using namespace outer_loop_rig;
using virtualdrive::PositionLoop;

constexpr double kTsC = 50e-6, kTsS = 500e-6;

struct Trip {
  unsigned mer = 0;
  double time_s = -1.0;  // -1: the axis stayed on
  double position_m = 0.0;
};

// Runs period by period until the axis goes off or `limit_s` has passed.
Trip RunUntilOff(drive_run::Bench& bench, double limit_s) {
  auto& firmware = bench.drive.Firmware();
  const auto periods = static_cast<int>(std::ceil(limit_s / kTsC));
  for (int k = 1; k <= periods; ++k) {
    bench.drive.AdvanceTo(k * kTsC);
    if (!firmware.AxisOn()) return {firmware.Mer(), k * kTsC, bench.drive.GetPlant().Position_m()};
  }
  return {firmware.Mer(), -1.0, bench.drive.GetPlant().Position_m()};
}

TEST(Protections, ControlErrorTripsBit3AfterItsDelayAndOnlyWhenOn) {
  struct Case {
    const char* what;
    double gravity_N, coulomb_N;
    std::function<void(CMC_Setup&)> registers;
    std::function<void(virtualdrive::DriveFirmware&)> command;
    double earliest_s, latest_s;  // -1: no trip within 50 ms
  };
  // "TSERRMAX" / "TERRMAX" 20: the error must stand beyond its limit for 21
  // speed-loop periods, 10.5 ms; the check runs once per speed-loop period.
  auto speedOn = [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("TSERRMAX", 20); };
  auto positionOn = [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("TERRMAX", 20); };
  const Case cases[] = {
      // Blocked mover, speed reference 0.6 m/s = 3840 counts/period > SERRMAX 3200.
      {"speed error, blocked", 0.0, 1e6, speedOn,
       [](virtualdrive::DriveFirmware& f) { f.ApplySpeed(3840); }, 10.5e-3 - 0.5 * kTsS, 10.5e-3 + 0.5 * kTsS},
      // Blocked mover, position step of 2 mm = 25600 counts > ERRMAX 12800.
      {"position error, blocked", 0.0, 1e6, positionOn,
       [](virtualdrive::DriveFirmware& f) { f.ApplyPosition(25600, PositionLoop::OverSpeedLoop); }, 10.5e-3 - 0.5 * kTsS,
       10.5e-3 + 0.5 * kTsS},
      // A 300 N load against the PID's current limit of (32767 - SATP) =
      // 12800 counts, 3.91 A or 95 N: (300 - 95) N / 0.58 kg = 353 m/s^2
      // drop the mover 1 mm (ERRMAX) in 2.4 ms, then 10.5 ms of delay.
      {"position error, gravity", -300.0, 0.0, positionOn,
       [](virtualdrive::DriveFirmware& f) { f.ApplyPosition(0, PositionLoop::Pid); }, 12.9e-3 * 0.9,
       12.9e-3 * 1.15},
      {"protections off, blocked", 0.0, 1e6, [](CMC_Setup&) {},
       [](virtualdrive::DriveFirmware& f) { f.ApplyPosition(25600, PositionLoop::OverSpeedLoop); }, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    virtualdrive::PlantParameters plant = BarePlant();
    plant.gravity_force_N = c.gravity_N;
    plant.coulomb_friction_N = c.coulomb_N;
    auto setup = SetupFor(plant);
    c.registers(*setup);
    drive_run::Bench bench(plant, setup.get());
    ASSERT_TRUE(bench.drive.Firmware().TurnAxisOn());
    c.command(bench.drive.Firmware());
    const Trip trip = RunUntilOff(bench, 50e-3);
    if (c.earliest_s < 0) {
      EXPECT_EQ(trip.time_s, -1.0);
      EXPECT_EQ(trip.mer, 0u);
      continue;
    }
    EXPECT_EQ(trip.mer, virtualdrive::kMerControlError);
    EXPECT_GE(trip.time_s, c.earliest_s);
    EXPECT_LE(trip.time_s, c.latest_s);
  }
}

// The limit switches sit 2 mm inside the stops at -0.1 m and 0.5 m. An input
// wired with the other polarity than "DIGIN_ACTIVE_LEVEL" says reads as
// active away from the switch, so the drive trips at once.
TEST(Protections, LimitSwitchesTripBits6And7WithTheirPolarity) {
  struct Case {
    const char* what;
    int plantActiveLevel;
    double diginActiveLevel;
    double start_m, speed_m_s;
    unsigned mer;
    double switch_m;  // where the trip must come; NAN: at once
  };
  const Case cases[] = {
      {"positive, active low", 0, 0x8000, 0.49, 0.1, virtualdrive::kMerPositiveLimit, 0.498},
      {"negative, active low", 0, 0x8000, -0.09, -0.1, virtualdrive::kMerNegativeLimit, -0.098},
      {"positive, active high", 1, 0xE000, 0.49, 0.1, virtualdrive::kMerPositiveLimit, 0.498},
      {"wired high, set low", 1, 0x8000, 0.2, 0.1, virtualdrive::kMerPositiveLimit | virtualdrive::kMerNegativeLimit,
       NAN},
      {"wired low, set high", 0, 0xE000, 0.2, -0.1, virtualdrive::kMerPositiveLimit | virtualdrive::kMerNegativeLimit,
       NAN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    virtualdrive::PlantParameters plant = BarePlant();
    plant.limit_switch_active_level = c.plantActiveLevel;
    plant.initial_position_m = c.start_m;
    auto setup = SetupFor(plant);
    setup->SetParameterValueInBaseUnit("PB_S", 100);
    DesignSpeedController(*setup);
    EncodeSpeedGains(*setup);
    setup->SetParameterValueInBaseUnit("DIGIN_ACTIVE_LEVEL", c.diginActiveLevel);
    drive_run::Bench bench(plant, setup.get());
    auto& firmware = bench.drive.Firmware();
    ASSERT_TRUE(firmware.TurnAxisOn());
    firmware.ApplySpeed(std::round(c.speed_m_s * MotorSpeedScale(*setup)));
    const Trip trip = RunUntilOff(bench, 0.3);
    EXPECT_EQ(trip.mer, c.mer);
    if (std::isnan(c.switch_m)) {
      EXPECT_NEAR(trip.time_s, kTsC, 0.5 * kTsC);
    } else {
      // Caught within the period that reached the switch.
      EXPECT_NEAR(trip.position_m, c.switch_m, 2.0 * std::abs(c.speed_m_s) * kTsC + 1e-9);
    }
  }
}

// Over-current: the current magnitude above "IMAXPROT" for more than
// "TIMAXPROT" speed-loop periods (PCR bit 0 on). A 4 A step against an
// IMAXPROT of 3 A settles within 1 ms, so the trip comes after 20 speed-loop
// periods (10 ms) more. The ENABLE input trips bit 15 within a period.
TEST(Protections, OverCurrentAndEnableTripTheirBits) {
  struct Case {
    const char* what;
    double pcr;
    bool disableInput;
    unsigned mer;
    double earliest_s, latest_s;
  };
  const Case cases[] = {
      {"over current", 0x00BF, false, virtualdrive::kMerShortCircuit, 10e-3, 11.5e-3},
      {"over current, PCR bit 0 off", 0x00BE, false, 0u, -1, -1},
      {"ENABLE input off", 0x00BF, true, virtualdrive::kMerEnableInput, 0.0, 1.5 * kTsC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const virtualdrive::PlantParameters plant = BarePlant();
    auto setup = SetupFor(plant);
    const double perAmpere = CurrentScale(*setup);
    setup->SetParameterValueInBaseUnit("PCR", c.pcr);
    setup->SetParameterValueInBaseUnit("IMAXPROT", std::round(3.0 * perAmpere));
    setup->SetParameterValueInBaseUnit("TIMAXPROT", 20);
    drive_run::Bench bench(plant, setup.get());
    auto& firmware = bench.drive.Firmware();
    ASSERT_TRUE(firmware.TurnAxisOn());
    // Along the flux (test angle 0 with the mover at 0): no force.
    firmware.SetAngleSource(virtualdrive::AngleSource::Test);
    firmware.SetTestAngle(0.0, 0.0);
    firmware.ApplyCurrent(std::round((c.disableInput ? 1.0 : 4.0) * perAmpere));
    if (c.disableInput) bench.drive.SetEnableInput(false);
    const Trip trip = RunUntilOff(bench, 30e-3);
    EXPECT_EQ(trip.mer, c.mer);
    if (c.earliest_s < 0) {
      EXPECT_EQ(trip.time_s, -1.0);
    } else {
      EXPECT_GE(trip.time_s, c.earliest_s);
      EXPECT_LE(trip.time_s, c.latest_s);
    }
  }
}

}  // namespace
