// The frequency-response program on the virtual drive, measured as the host
// measures it, against the loop model: on a rigid mover the measured plant
// and open loop must lie on the model's; on two-mass mechanics the
// resonance must be found where the textbook puts it.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "FrequencyResponse.h"
#include "MeasuredLoop.h"
#include "OuterLoopRig.h"

namespace {

using namespace outer_loop_rig;

struct FraRun {
  drive_run::Outcome outcome;
  MeasuredResponse measured;
  double travel_counts = 0.0;
};

// The speed loop of `setup` on `plant` measured from `from_Hz` to `to_Hz`
// with a PRBS of `amplitude_A` on the current reference.
FraRun MeasureSpeedLoop(const virtualdrive::PlantParameters& plant, const CMC_Setup& setup, double amplitude_A,
                     double from_Hz, double to_Hz) {
  FraRun run;
  drive_run::Bench bench(plant, &setup);
  const double tick_s = SpeedLoopPeriod(setup);
  const ExcitationPlan plan = PlanExcitation(tick_s, from_Hz, to_Hz);
  EXPECT_EQ(plan.error, "");
  LoggerSettings logger;
  logger.points = plan.measureTicks;
  logger.logType = 1;
  logger.variables = {"Excitation", "Current_Reference", "Load_Speed"};
  run.outcome = bench.Run("Frequency_Response_Test",
                          {{"Loop", 1},
                           {"Amplitude", std::round(amplitude_A * CurrentScale(setup))},
                           {"Register_Bits", plan.registerBits},
                           {"Bit_Ticks", plan.bitTicks},
                           {"Settle_Ticks", plan.settleTicks},
                           {"Measure_Ticks", plan.measureTicks},
                           {"Travel_Limit", 0.005 * MotorPositionScale(setup)}},
                          &logger);
  run.travel_counts = bench.Output("Frequency_Response_Test", "Travel_Used");
  std::vector<double> d, u, y;
  for (const std::vector<double>& point : bench.Log()) {
    d.push_back(point[1]);
    u.push_back(point[2]);
    y.push_back(point[3]);
  }
  run.measured = MeasureResponse(d, u, y, tick_s, plan.segmentTicks, false, from_Hz, to_Hz);
  return run;
}

std::unique_ptr<CMC_Setup> TunedSpeedLoop(const virtualdrive::PlantParameters& plant, double passband_rad_s) {
  auto setup = SetupFor(plant);
  setup->SetParameterValueInBaseUnit("Mt", plant.moving_mass_kg + plant.load_mass_kg);
  setup->SetParameterValueInBaseUnit("PB_S", passband_rad_s);
  setup->SetParameterValueInBaseUnit("Dump_S", 1.0);
  EXPECT_EQ(DesignSpeedController(*setup), 1);
  EncodeSpeedGains(*setup);
  return setup;
}

TEST(FrequencyResponse, OnARigidMoverTheMeasuredLoopLiesOnTheModel) {
  // With the sensing noise, quantisation and delays of a real drive, but no
  // friction: the loop model has none. (Dry friction under a random
  // excitation acts as a damping that grows as the speed it meets falls,
  // and bends the plant's low end away from a mass's line; the measurement
  // shows it, coherent, as the machine has it.)
  virtualdrive::PlantParameters plant = BarePlant();
  plant.current_noise_A = 0.015;
  for (const double passband_rad_s : {60.0, 150.0}) {
    SCOPED_TRACE(passband_rad_s);
    auto setup = TunedSpeedLoop(plant, passband_rad_s);
    const double tick_s = SpeedLoopPeriod(*setup);
    const FraRun run = MeasureSpeedLoop(plant, *setup, 1.0, 10.0, 0.45 / tick_s);
    ASSERT_TRUE(run.outcome.finished) << run.outcome.failure;
    ASSERT_EQ(run.measured.error, "");
    EXPECT_LT(run.travel_counts, 0.005 * MotorPositionScale(*setup));
    std::vector<std::complex<double>> open, rigid;
    ASSERT_TRUE(ModelResponses(*setup, TunedLoop::Speed, run.measured.frequency_Hz, open, rigid));
    const LoopComparison c = CompareWithModel(run.measured, open, rigid, ComputeLoopMargins(*setup, TunedLoop::Speed),
                                              0.25 / tick_s);
    // Most of the band up to half the Nyquist frequency is coherent.
    EXPECT_GT(c.linesCompared, 0.8 * (0.25 / tick_s - 10.0) / run.measured.frequency_Hz[0]) << c.linesCompared;
    EXPECT_LT(c.openLoopMagnitude_dB, 1.0);
    EXPECT_LT(c.openLoopPhase_deg, 5.0);
    EXPECT_LT(c.plantMagnitude_dB, 1.0);
    EXPECT_LT(c.plantPhase_deg, 5.0);
    ASSERT_TRUE(c.measured.valid);
    EXPECT_NEAR(c.measured.phaseMargin_deg, c.model.phaseMargin_deg, 5.0);
    EXPECT_NEAR(c.measured.gainMargin_dB, c.model.gainMargin_dB, 1.5);
    EXPECT_NEAR(c.measured.crossover_rad_s, c.model.crossover_rad_s, 0.05 * c.model.crossover_rad_s);
    EXPECT_TRUE(FindResonances(run.measured, rigid).empty()) << c.measured.crossover_rad_s;
  }
}

TEST(FrequencyResponse, TheResonanceOfTwoMassMechanicsIsFoundWhereItIs) {
  struct Case {
    double load_kg, stiffness_N_per_m, damping;  // damping ratio of the coupling
    bool encoderOnLoad;
  };
  const Case cases[] = {
      {0.3, 1.0e6, 0.02, false},  // 358 Hz
      {0.3, 2.0e6, 0.10, false},  // 506 Hz
      {0.6, 0.6e6, 0.02, true},   // 200 Hz
      {0.2, 3.5e6, 0.05, true},   // 766 Hz
  };
  for (const Case& c : cases) {
    virtualdrive::PlantParameters plant = BarePlant();
    plant.load_mass_kg = c.load_kg;
    plant.coupling_stiffness_N_per_m = c.stiffness_N_per_m;
    const double reduced_kg = 1.0 / (1.0 / plant.moving_mass_kg + 1.0 / c.load_kg);
    plant.coupling_damping_N_s_per_m = 2.0 * c.damping * std::sqrt(c.stiffness_N_per_m * reduced_kg);
    plant.encoder_on_load = c.encoderOnLoad;
    const double resonance_Hz = std::sqrt(c.stiffness_N_per_m / reduced_kg) / (2.0 * std::numbers::pi);
    SCOPED_TRACE(::testing::Message() << resonance_Hz << " Hz, damping " << c.damping << ", encoder on load "
                                      << c.encoderOnLoad);
    auto setup = TunedSpeedLoop(plant, 40.0);
    const double tick_s = SpeedLoopPeriod(*setup);
    const FraRun run = MeasureSpeedLoop(plant, *setup, 1.0, 10.0, 0.45 / tick_s);
    ASSERT_TRUE(run.outcome.finished) << run.outcome.failure;
    std::vector<std::complex<double>> open, rigid;
    ASSERT_TRUE(ModelResponses(*setup, TunedLoop::Speed, run.measured.frequency_Hz, open, rigid));
    const std::vector<Resonance> found = FindResonances(run.measured, rigid);
    ASSERT_FALSE(found.empty());
    EXPECT_NEAR(found[0].frequency_Hz, resonance_Hz, 0.03 * resonance_Hz);
    EXPECT_GT(found[0].height_dB, 3.0);
  }
}

TEST(FrequencyResponse, ABandTheDriveCannotMeasureIsRefused) {
  struct Case {
    double from_Hz, to_Hz;
    const char* expected;  // start of the error
  };
  const Case cases[] = {
      {10.0, 1200.0, "the band ends at 1200 Hz, beyond the loop's Nyquist frequency of 1000 Hz"},
      {0.0, 500.0, "the band must start above 0 Hz"},
      {300.0, 200.0, "the band must end above its start"},
      {0.1, 500.0, "the band starts at 0.1 Hz, too low"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PlanExcitation(0.5e-3, c.from_Hz, c.to_Hz).error.rfind(c.expected, 0), 0u)
        << PlanExcitation(0.5e-3, c.from_Hz, c.to_Hz).error;
  // 10 Hz on a 2 kHz loop: 4 lines up to 10 Hz need 800 ticks a segment:
  // 1024; 15 averages in 8 segment lengths, a sequence longer than 9 of them.
  const ExcitationPlan plan = PlanExcitation(0.5e-3, 10.0, 900.0);
  EXPECT_EQ(plan.segmentTicks, 1024);
  EXPECT_EQ(plan.measureTicks, 8192);
  EXPECT_EQ(plan.registerBits, 14);
  EXPECT_EQ(plan.bitTicks, 1);
  EXPECT_NEAR(plan.resolution_Hz, 2000.0 / 1024.0, 1e-9);
  // Up to 100 Hz on the same loop: bits of 8 ticks, 0.4 / (100 Hz 0.5 ms).
  EXPECT_EQ(PlanExcitation(0.5e-3, 2.0, 100.0).bitTicks, 8);
}

}  // namespace
