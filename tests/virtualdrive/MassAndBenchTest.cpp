// The total mass test through the host's formula, and the programs the user
// works with at the bench: the encoder connection test ("APOS" while the
// mover is pushed by hand) and the analogue reference test ("AD5").
#include <gtest/gtest.h>

#include <cmath>

#include "DriveRun.h"
#include "Scales.h"

namespace {

using drive_run::Bench;
using virtualdrive::PlantParameters;

constexpr const char* kMass = "Total_Mass_Identification_Test";

struct MassRun {
  double flag = 0, time = 0, speed = 0;
  double mass_kg = 0;  // by the host's formula, with the plant's true force constant
  double mer = 0;
  double topSpeed = 0;  // counts per speed-loop period
  double drift_m = 0;   // where the run left the mover from where it began
};

// The positioning, then the mass program with the inputs the host writes;
// `change` may alter the drive and the inputs in between.
MassRun IdentifyMass(const PlantParameters& plant,
                     const std::function<void(Bench&, std::map<std::string, double>&)>& change = nullptr) {
  auto setup = drive_run::ExampleSetup();
  Bench bench(plant, setup.get());
  const double ki = CurrentScale(*setup), sv = MotorSpeedScale(*setup), ts = SpeedLoopPeriod(*setup);
  const double i0 = std::trunc(setup->GetParameterValueInBaseUnit("TestCurrent") * ki);
  EXPECT_TRUE(bench.Run("Initial_Positioning_Test", {{"In1", i0}}).finished);
  std::map<std::string, double> inputs = {
      {"RefTest", bench.Variable("REFTST_V")},
      {"RIncTest", bench.Variable("RINCTST_V")},
      {"In1", i0},
      {"LimitSpeedMax", std::trunc(setup->GetParameterValueInBaseUnit("TestMaxSpeed") * sv)},
      {"Imax_Prot_Test", std::trunc(setup->GetParameterValueInBaseUnit("TestProtectionCurrent") * ki)}};
  if (change) change(bench, inputs);
  std::string error;
  for (const auto& [name, value] : inputs) EXPECT_TRUE(bench.drive.SetProgramVariable(kMass, name, value, error)) << error;
  EXPECT_TRUE(bench.drive.StartProgram(kMass, nullptr, error)) << error;
  MassRun run;
  const double start = bench.drive.GetPlant().Position_m();
  for (int k = 0; k < 20000 && bench.drive.ProgramRunning(); ++k) {
    bench.clock.Advance(0.0005);
    bench.drive.AdvanceTo(bench.clock.Now());
    run.topSpeed = std::max(run.topSpeed, std::abs(bench.drive.GetPlant().Speed_m_s()) * sv);
  }
  EXPECT_FALSE(bench.drive.ProgramRunning());
  run.drift_m = bench.drive.GetPlant().Position_m() - start;
  run.flag = bench.Output(kMass, "test_flag");
  run.time = bench.Output(kMass, "delta_time");
  run.speed = bench.Output(kMass, "delta_speed");
  run.mer = bench.Variable("MER");
  run.mass_kg = (sv / ki) * run.time * ts * plant.force_constant_N_per_A / run.speed * i0;
  return run;
}

TEST(TotalMass, TheHostFormulaFindsTheMovingMassDespiteFrictionAndGravity) {
  struct Case {
    double mass_kg, kf, viscous, coulomb, gravity_N;
    double speedLimit;  // counts per speed-loop period; 0: the setup's
  };
  // The loaded rows leave the positioning 6 to 23 degrees off the field,
  // which a current on the supposed q axis alone would read as up to 9 %
  // more mass; heavy viscous friction would bias plain acceleration and
  // braking times by several per cent more.
  const Case cases[] = {
      {0.58, 24.3, 6.0, 2.5, 0.0, 0},     {0.58, 24.3, 6.0, 2.5, -4.0, 0},  {1.16, 24.3, 6.0, 2.5, 3.0, 0},
      {0.58, 12.15, 6.0, 2.5, -4.0, 0},   {1.16, 12.15, 12.0, 3.0, -3.0, 0}, {2.0, 24.3, 30.0, 8.0, 10.0, 0},
      {0.58, 24.3, 6.0, 2.5, 0.0, 4000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mass_kg << " kg, " << c.kf << " N/A, " << c.viscous << " N s/m, "
                                    << c.coulomb << " N, " << c.gravity_N << " N, limit " << c.speedLimit);
    PlantParameters plant = virtualdrive::ExamplePlant();
    plant.moving_mass_kg = c.mass_kg;
    plant.force_constant_N_per_A = c.kf;
    plant.viscous_friction_N_s_per_m = c.viscous;
    plant.coulomb_friction_N = c.coulomb;
    plant.gravity_force_N = c.gravity_N;
    const MassRun run = IdentifyMass(plant, [&](Bench&, std::map<std::string, double>& inputs) {
      if (c.speedLimit > 0) inputs["LimitSpeedMax"] = c.speedLimit;
    });
    EXPECT_EQ(run.mer, 0.0);
    EXPECT_EQ(run.flag, 1.0);
    EXPECT_NEAR(run.mass_kg, c.mass_kg, 0.02 * c.mass_kg) << run.time << " periods, " << run.speed << " counts";
    if (c.speedLimit > 0) {
      EXPECT_LT(run.topSpeed, c.speedLimit);
    }
    // Back near its start, less than a pole pitch away: the test can be
    // run again and again.
    EXPECT_LT(std::abs(run.drift_m), 0.03);
  }
}

TEST(TotalMass, AFaultyAxisGivesTheCodeOfItsFault) {
  struct Case {
    const char* fault;
    std::function<void(Bench&, std::map<std::string, double>&)> change;
    double flag, time;
    double mer;             // 2: the over-current protection tripped, nothing delivered
    double supply_V = 0.0;  // 0: the plant's
    bool reversedEncoder = false;
  };
  const Case cases[] = {
      {"reversed encoder", nullptr, 0, -1, 0, 0.0, true},
      {"missing encoder", [](Bench& b, auto&) { b.drive.InjectMissingEncoder(true); }, 1, -2, 0},
      {"no test current", [](Bench&, auto& inputs) { inputs["In1"] = 0; }, 1, -2, 0},
      {"a supply too low for the test current", nullptr, 1, -2, 0, 6.0},
      {"speed limit below any usable speed", [](Bench&, auto& inputs) { inputs["LimitSpeedMax"] = 100; }, 1, -3, 0},
      {"protection below the test current", [](Bench&, auto& inputs) { inputs["Imax_Prot_Test"] = 2000; }, 0, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    PlantParameters plant = drive_run::QuietPlant();
    if (c.supply_V > 0) plant.vdc_V = c.supply_V;
    plant.faults.encoderReversed = c.reversedEncoder;
    const MassRun run = IdentifyMass(plant, c.change);
    EXPECT_EQ(run.mer, c.mer);
    if (c.mer != 0) {
      EXPECT_EQ(run.time, virtualdrive::kNotDelivered);
      continue;
    }
    EXPECT_EQ(run.flag, c.flag);
    EXPECT_EQ(run.time, c.time);
  }
}

}  // namespace

namespace {

// Advances the bench's clock by `s` and lets the drive catch up.
void Pass(Bench& bench, double s) {
  bench.clock.Advance(s);
  bench.drive.AdvanceTo(bench.clock.Now());
}

TEST(EncoderConnection, APOSFollowsTheHandUntilTheHostStopsTheProgram) {
  struct Case {
    const char* encoder;
    int direction;
    bool reversed, missing;
    double distance_m;
  };
  const Case cases[] = {
      {"counting up", 1, false, false, 0.010},  {"counting down", -1, false, false, 0.010},
      {"reversed", 1, true, false, -0.005},     {"missing", 1, false, true, 0.010},
      {"pushed into the positive stop", 1, false, false, 0.600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoder);
    PlantParameters plant = drive_run::QuietPlant();
    plant.encoder_direction = c.direction;
    plant.faults.encoderReversed = c.reversed;
    plant.faults.encoderMissing = c.missing;
    Bench bench(plant);
    std::string error;
    ASSERT_TRUE(bench.drive.StartProgram("Encoder_Connection_Test", nullptr, error)) << error;
    Pass(bench, 0.02);
    const double x0 = bench.drive.GetPlant().Position_m(), apos0 = bench.Variable("APOS");
    // The interpolated count of a place, as the encoder reports it.
    const double sign = c.reversed ? -c.direction : c.direction;
    auto counts = [&](double x) {
      x = std::clamp(x, plant.travel_min_m, plant.travel_max_m);
      return c.missing ? 0.0 : std::floor(sign * x / plant.encoder_period_m * 256) - std::floor(sign * x0 / plant.encoder_period_m * 256);
    };
    bench.drive.MoveByHand(c.distance_m, 0.5);
    Pass(bench, 0.25);
    // Half-way, give or take the hand's travel in one drive period.
    const double perPeriod = std::abs(c.distance_m) / 0.5 * bench.drive.Firmware().Period_s() / plant.encoder_period_m * 256;
    EXPECT_NEAR(bench.Variable("APOS") - apos0, counts(x0 + c.distance_m / 2), perPeriod + 1);
    Pass(bench, 0.3);
    EXPECT_NEAR(bench.Variable("APOS") - apos0, counts(x0 + c.distance_m), 1);
    // Still running, as the host sees it: not started, axis off, no error.
    EXPECT_TRUE(bench.drive.ProgramRunning());
    EXPECT_EQ(bench.Output("Encoder_Connection_Test", "STARTED"), 0.0);
    EXPECT_EQ(bench.Variable("MER"), 0.0);
    ASSERT_TRUE(bench.drive.WriteVariable("var_i2", 1, error)) << error;
    Pass(bench, 0.02);
    EXPECT_FALSE(bench.drive.ProgramRunning());
    EXPECT_EQ(bench.Output("Encoder_Connection_Test", "STARTED"), 1.0);
  }
}

TEST(AnalogueReference, AD5IsTheConverterReadingOfTheInputOverItsRange) {
  struct Case {
    double range;  // "AnalogueInputsRange"; 0: the drive has none
    double volts;
    double reading;  // the ideal mapping; the converter gives the nearest of its steps
  };
  const Case cases[] = {
      {0, 0.0, 32736},  {20, 0.0, 32736}, {20, 10.0, 65472}, {20, -10.0, 0},  {20, 12.0, 65472},
      {20, 5.0, 49104}, {5, 2.5, 32736},  {5, -1.0, 0},      {12, 3.3, 65472}, {12, 1.0, 19840},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "range " << c.range << ", " << c.volts << " V");
    VirtualClock clock;
    virtualdrive::VirtualDrive drive(drive_run::QuietPlant(), &clock);
    std::string error;
    if (c.range != 0) {
      ASSERT_TRUE(drive.WriteRegister("AnalogueInputsRange", c.range, error)) << error;
    }
    ASSERT_TRUE(drive.StartProgram("Analogue_Reference_Test", nullptr, error)) << error;
    drive.SetAnalogueInput_V(c.volts);
    clock.Advance(0.02);
    double reading = -1;
    ASSERT_TRUE(drive.ReadVariable("AD5", reading, error)) << error;
    EXPECT_NEAR(reading, c.reading, 32);
    EXPECT_EQ(std::fmod(reading, 64.0), 0.0);
  }
}

TEST(AnalogueReference, TheReadingIsNoisyAsTheSupplyReadingIsAndRunsUntilAnotherProgram) {
  Bench bench(virtualdrive::ExamplePlant());
  std::string error;
  ASSERT_TRUE(bench.drive.StartProgram("Analogue_Reference_Test", nullptr, error)) << error;
  double low = 1e9, high = -1e9, sum = 0;
  for (int k = 0; k < 200; ++k) {
    Pass(bench, 0.02);
    const double reading = bench.Variable("AD5");
    low = std::min(low, reading);
    high = std::max(high, reading);
    sum += reading;
  }
  // 0 V lies between two steps: the noise (0.8 of a step) shows both, and a
  // few more at most, around the true value.
  EXPECT_GE(high - low, 64.0);
  EXPECT_LE(high - low, 5 * 64.0);
  EXPECT_NEAR(sum / 200, 32736, 16);
  EXPECT_TRUE(bench.drive.ProgramRunning());
  EXPECT_FALSE(bench.drive.GetPlant().Speed_m_s() != 0 || bench.Variable("MER") != 0);
  ASSERT_TRUE(bench.drive.StartProgram("VDC_Detection_Test", nullptr, error)) << error;
  Pass(bench, 0.05);
  EXPECT_FALSE(bench.drive.ProgramRunning());
}

}  // namespace
