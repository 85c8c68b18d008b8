// The speed and position loops of the virtual drive against the loops the
// controller design assumes: with the gains designed for a passband w and a
// damping zeta, the step response of the simulated drive (its current loop
// ten to a hundred times faster, the outer loop sampled at 2 kHz, or at
// 20 kHz in the fast loop) must match the continuous closed loop in rise
// time and overshoot. The biquad slot on the current reference must filter
// as its bilinear design says.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "BiquadDesign.h"
#include "OuterLoopRig.h"

namespace {

using namespace outer_loop_rig;
using virtualdrive::PositionLoop;

// Runs `span_s` of the drive, the outer loop already applied, and samples
// the mover's true speed or position every current-loop period.
// Times are counted from `start_s`.
template <typename Measure>
void Record(drive_run::Bench& bench, double start_s, double span_s, Measure measure, std::vector<double>& t,
            std::vector<double>& y) {
  const double ts = bench.drive.Firmware().Period_s();
  const auto periods = static_cast<int>(std::ceil(span_s / ts));
  for (int k = 1; k <= periods; ++k) {
    bench.drive.AdvanceTo(start_s + k * ts);
    t.push_back(k * ts);
    y.push_back(measure(bench.drive.GetPlant()));
  }
}

void ExpectShape(const StepShape& simulated, const StepShape& theory) {
  EXPECT_GT(simulated.rise_s, 0.85 * theory.rise_s) << simulated.rise_s << " vs " << theory.rise_s;
  EXPECT_LT(simulated.rise_s, 1.15 * theory.rise_s) << simulated.rise_s << " vs " << theory.rise_s;
  // 15 % of the overshoot, with a floor of half a per cent of the step.
  EXPECT_NEAR(simulated.overshoot, theory.overshoot, 0.15 * theory.overshoot + 0.005)
      << "rise " << simulated.rise_s << " vs " << theory.rise_s;
}

TEST(OuterLoops, SpeedStepMatchesTheDesignedSecondOrderLoop) {
  struct Case {
    double passband_rad_s, damping;
    bool fastLoop;
  };
  const Case cases[] = {{40, 1.0, false}, {80, 1.0, false}, {80, 0.7, false}, {150, 1.0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "w " << c.passband_rad_s << ", zeta " << c.damping << ", fast "
                                      << c.fastLoop);
    const virtualdrive::PlantParameters plant = BarePlant();
    auto setup = SetupFor(plant);
    setup->SetParameterValueInBaseUnit("PB_S", c.passband_rad_s);
    setup->SetParameterValueInBaseUnit("Dump_S", c.damping);
    setup->SetParameterValueInBaseUnit("PosSpd_in_FastLoop", c.fastLoop ? 1 : 0);
    if (c.fastLoop) setup->SetParameterValueInBaseUnit("UPGRADE", 0x0044);
    ASSERT_EQ(DesignSpeedController(*setup), 1);
    EncodeSpeedGains(*setup);

    drive_run::Bench bench(plant, setup.get());
    const double step_m_s = 0.2;
    auto& firmware = bench.drive.Firmware();
    ASSERT_TRUE(firmware.TurnAxisOn());
    firmware.ApplySpeed(std::round(step_m_s * MotorSpeedScale(*setup)));
    std::vector<double> t, y;
    Record(bench, 0.0, 12.0 / c.passband_rad_s, [](const virtualdrive::Plant& p) { return p.Speed_m_s(); }, t, y);
    ASSERT_TRUE(firmware.AxisOn()) << "MER " << firmware.Mer();
    const double reference = firmware.Loops().SpeedReference() / MotorSpeedScale(*setup);
    ExpectShape(Shape(t, y, reference), SecondOrderWithZero(c.passband_rad_s, c.damping));
  }
}

TEST(OuterLoops, PositionStepMatchesTheDesignedLoopOfEachType) {
  struct Case {
    PositionLoop loop;
    double passband_rad_s, damping;
  };
  const Case cases[] = {{PositionLoop::OverSpeedLoop, 10, 1.0},
                        {PositionLoop::OverSpeedLoop, 15, 0.7},
                        {PositionLoop::Pid, 30, 1.0},
                        {PositionLoop::Pid, 20, 0.7}};
  for (const Case& c : cases) {
    const bool overSpeed = c.loop == PositionLoop::OverSpeedLoop;
    SCOPED_TRACE(::testing::Message() << (overSpeed ? "PI over the speed loop" : "PID") << ", w "
                                      << c.passband_rad_s << ", zeta " << c.damping);
    const virtualdrive::PlantParameters plant = BarePlant();
    auto setup = SetupFor(plant);
    setup->SetParameterValueInBaseUnit("PositionControlType", overSpeed ? 1 : 0);
    setup->SetParameterValueInBaseUnit("ACR", overSpeed ? 0x0700 : 0x0500);
    // The inner speed loop twenty times faster than the position loop.
    setup->SetParameterValueInBaseUnit("PB_S", 300.0);
    setup->SetParameterValueInBaseUnit("Dump_S", 1.0);
    setup->SetParameterValueInBaseUnit("PB_P", c.passband_rad_s);
    setup->SetParameterValueInBaseUnit("Dump_P", c.damping);
    setup->SetParameterValueInBaseUnit("KDFP", 32767);  // the derivative unfiltered, as designed
    ASSERT_EQ(DesignSpeedController(*setup), 1);
    ASSERT_EQ(DesignPositionController(*setup), 1);
    EncodeSpeedGains(*setup);
    EncodePositionGains(*setup);

    drive_run::Bench bench(plant, setup.get());
    auto& firmware = bench.drive.Firmware();
    ASSERT_EQ(firmware.ConfiguredPositionLoop(), c.loop);
    ASSERT_TRUE(firmware.TurnAxisOn());
    // The loop holds the mover for 5 ms, then the reference steps.
    firmware.ApplyPosition(0.0, firmware.ConfiguredPositionLoop());
    bench.drive.AdvanceTo(5e-3);
    const double step_m = 0.1e-3;
    firmware.ApplyPosition(std::round(step_m * MotorPositionScale(*setup)), firmware.ConfiguredPositionLoop());
    std::vector<double> t, y;
    Record(bench, 5e-3, 12.0 / c.passband_rad_s, [](const virtualdrive::Plant& p) { return p.Position_m(); }, t, y);
    ASSERT_TRUE(firmware.AxisOn()) << "MER " << firmware.Mer();
    const StepShape theory = overSpeed ? SecondOrderWithZero(c.passband_rad_s, c.damping)
                                       : ThirdOrderPid(c.passband_rad_s, c.damping);
    ExpectShape(Shape(t, y, step_m), theory);
  }
}

// A notch in the current-reference slot, on a mover held still so that
// the speed controller (proportional gain 1, no integral) hands its
// reference straight to the slot. The slot's gain at frequency f follows
// from the bilinear transform pre-warped at the notch frequency f0: with
// x = tan(pi f T) / tan(pi f0 T), |H| = |1 - x^2| / sqrt((1 - x^2)^2 + (x/Q)^2).
TEST(OuterLoops, ANotchOnTheCurrentReferenceRemovesItsFrequencyAndPassesTheRest) {
  constexpr double kNotch_Hz = 100.0, kQ = 2.0, kPi = std::numbers::pi;
  virtualdrive::PlantParameters plant = BarePlant();
  plant.coulomb_friction_N = 1e6;  // the mover cannot move
  auto setup = SetupFor(plant);
  auto set = [&](const char* name, double value) { setup->SetParameterValueInBaseUnit(name, value); };
  set("BQFilter1", 1);
  set("BQFilterType1", kBiquadNotch);
  set("BQFilterLocation1", kBiquadAtSpeedControllerOutput);
  set("BQFilterF11", kNotch_Hz);
  set("BQFilterQ1", kQ);
  set("BQFilter2", 0);
  set("BQFilter3", 0);
  CBiquadDesign design;
  ASSERT_EQ(design.EncodeFilters(*setup), 1) << design.GetLastError();
  set("KPS", 32767);
  set("SFTKPS", 0);
  set("KIS", 0);
  const double ts = SpeedLoopPeriod(*setup);

  struct Case {
    double frequency_Hz;
  };
  const Case cases[] = {{kNotch_Hz}, {25.0}, {300.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.frequency_Hz << " Hz");
    drive_run::Bench bench(plant, setup.get());
    auto& firmware = bench.drive.Firmware();
    ASSERT_TRUE(firmware.TurnAxisOn());
    constexpr double kDc = 2000.0, kAmplitude = 2000.0;
    // 40 cycles; the first 20 let the filter settle, the last 20 are
    // projected on the input's sine and cosine and averaged for the DC.
    const int perCycle = static_cast<int>(std::round(1.0 / (c.frequency_Hz * ts)));
    const int ticks = 40 * perCycle;
    double sine = 0, cosine = 0, mean = 0;
    for (int k = 0; k < ticks; ++k) {
      const double phase = 2.0 * kPi * k / perCycle;
      firmware.ApplySpeed(kDc + kAmplitude * std::sin(phase));
      bench.drive.AdvanceTo((k + 1) * ts);
      if (k < ticks / 2) continue;
      const double out = firmware.CurrentReference();
      sine += out * std::sin(phase);
      cosine += out * std::cos(phase);
      mean += out;
    }
    ASSERT_TRUE(firmware.AxisOn()) << "MER " << firmware.Mer();
    const double half = ticks / 2.0;
    const double gain = 2.0 * std::hypot(sine, cosine) / half / kAmplitude;
    const double x = std::tan(kPi * c.frequency_Hz * ts) / std::tan(kPi * kNotch_Hz * ts);
    const double expected = std::abs(1 - x * x) / std::hypot(1 - x * x, x / kQ);
    EXPECT_NEAR(gain, expected, 0.02 * expected + 0.005);
    EXPECT_NEAR(mean / half, kDc, 0.01 * kDc);
  }
}

}  // namespace
