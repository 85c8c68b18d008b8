// The speed and position controller tuning programs on the example motor,
// after the positioning as the host runs them: the reference the drive's
// own loop gets is the profile of the segments fed, to the 1/65536, and the
// motor follows it; the current limit and the protections end or bound the
// run as the drive's would. Profiles (speed-loop periods of 0.5 ms, counts
// per period or counts, 16.16 increments as whole 1/65536 units):
// - speed, 0 -> 3200 -> 0 (0.5 m/s): 59 x 3495253 (Q(3200/60)) then the
//   rest 3200 * 65536 - 59 * 3495253 = 3495273, 400 at 3200, the same down,
//   200 at 0; 720 periods, so 721 logged points;
// - position, 0 -> 50000 counts (3.9 mm): 149 x 21845333 (Q(50000/150)),
//   the rest 21845383, 1000 at 50000, the same back, 1000 at 0;
// - back and forth: 20 x 10, 40 x 0, 40 x -10, 40 x 0, 20 x 10, 20 x 0: a
//   speed of +-200 that leaves the mover where it started, 180 periods.
#include <gtest/gtest.h>

#include <cmath>

#include "OuterLoopRig.h"

namespace {

using drive_run::Bench;

struct Segment {
  double count, increment;  // increment in 1/65536 units
};
using Profile = std::vector<Segment>;

const Profile kSpeedUpAndDown = {{59, 3495253}, {1, 3495273}, {400, 0}, {59, -3495253}, {1, -3495273}, {200, 0}};
const Profile kPositionOutAndBack = {{149, 21845333}, {1, 21845383}, {1000, 0},
                                     {149, -21845333}, {1, -21845383}, {1000, 0}};
const Profile kBackAndForth = {{20, 655360}, {40, 0}, {40, -655360}, {40, 0}, {20, 655360}, {20, 0}};

// The speed runs are on the example motor with the example setup's gains.
// The position runs are on the motor of the loop tests (no friction, noise
// or dead time, a 16-bit converter: the few counts of current that hold a
// settling mover are then many converter steps), with gains designed for
// its mass, damping 1: the position loop over a speed loop of 300 rad/s at
// 40 rad/s, the speed feed-forward on so that it follows the ramp, or the
// PID on the current at 30 rad/s. On the example motor itself noise, dry
// friction and the converter's steps keep a mover held this softly 10 to
// 250 counts about its target.
enum class Gains { Example, OverSpeedLoop, Pid };

struct Case {
  const char* what;
  const char* program;
  const Profile* profile;
  std::map<std::string, double> inputs;  // besides the profile, "MultiC" 0 and the angle
  Gains gains = Gains::Example;
  double imaxprot = 0;  // "IMAXPROT" of the drive; 0: the example's
  double flag = 1, mer = 0;  // expected
};

struct ProfileRun {
  drive_run::Outcome outcome;
  double flag = 0, mer = 0, started = 0;
  bool axisOn = true;
  bool stopped = false;  // after the host's stop: the program gone, the axis off
  std::vector<std::vector<double>> log;  // time, reference, response, current reference
};

ProfileRun RunProfile(const Case& c, double multiCycle = 0, double stopAfter_s = 0) {
  virtualdrive::PlantParameters plant = virtualdrive::ExamplePlant();
  auto setup = drive_run::ExampleSetup();
  if (c.gains != Gains::Example) {
    const bool pid = c.gains == Gains::Pid;
    plant = outer_loop_rig::BarePlant();
    setup = outer_loop_rig::SetupFor(plant);
    auto set = [&](const char* name, double value) { setup->SetParameterValueInBaseUnit(name, value); };
    set("PositionControlType", pid ? 0 : 1);
    set("ACR", pid ? 0x0500 : 0x4700);
    set("KFFS", 32767);
    set("PB_S", 300.0);
    set("Dump_S", 1.0);
    set("PB_P", pid ? 30.0 : 40.0);
    set("Dump_P", 1.0);
    set("KDFP", 32767);
    EXPECT_EQ(DesignSpeedController(*setup), 1);
    EXPECT_EQ(DesignPositionController(*setup), 1);
    outer_loop_rig::EncodeSpeedGains(*setup);
    outer_loop_rig::EncodePositionGains(*setup);
  }
  Bench bench(plant, setup.get());
  std::string error;
  const double i0 = std::trunc(setup->GetParameterValueInBaseUnit("TestCurrent") * CurrentScale(*setup));
  EXPECT_TRUE(bench.Run("Initial_Positioning_Test", {{"In1", i0}}).finished);
  if (c.imaxprot > 0) {
    EXPECT_TRUE(bench.drive.WriteRegister("IMAXPROT", c.imaxprot, error));
  }
  std::map<std::string, double> inputs = c.inputs;
  inputs["RefTest"] = bench.Variable("REFTST_V");
  inputs["RIncTest"] = bench.Variable("RINCTST_V");
  inputs["MultiC"] = multiCycle;
  for (std::size_t i = 0; i < c.profile->size(); ++i) {
    inputs["a" + std::to_string(i)] = (*c.profile)[i].count;
    inputs["b" + std::to_string(i)] = (*c.profile)[i].increment / 65536.0;
  }
  const bool speed = std::string(c.program).starts_with("Speed");
  LoggerSettings logger{2400, 1, 1,
                        speed ? std::vector<std::string>{"Speed_Reference", "Load_Speed", "Current_Reference"}
                              : std::vector<std::string>{"Target_Position", "Load_Position", "Current_Reference"}};
  ProfileRun run;
  run.outcome = bench.Run(c.program, inputs, &logger, stopAfter_s > 0 ? stopAfter_s : 30.0);
  run.axisOn = bench.drive.Firmware().AxisOn();
  run.started = bench.Output(c.program, "STARTED");
  if (stopAfter_s > 0) {
    EXPECT_TRUE(bench.drive.StopProgram(error));
    run.stopped = !bench.drive.ProgramRunning() && !bench.drive.Firmware().AxisOn();
  }
  run.flag = bench.Output(c.program, "test_flag");
  run.mer = bench.Variable("MER");
  run.log = bench.Log();
  return run;
}

TEST(ProfilePrograms, TheDrivesLoopFollowsTheSegmentsOrAProtectionEndsTheRun) {
  const double limit = 1500;  // converter counts, 0.46 A
  const Case cases[] = {
      // The program's own protection (0.09 A, below what the ramp needs)
      // ends the run with "test_flag" 0 and no "MER" bit; the drive's
      // "IMAXPROT" there with the over-current bit and "test_flag" 0 too.
      {"own protection", "Speed_Controller_Tuning_Test", &kSpeedUpAndDown, {{"Imax_Prot_Test", 300}}, Gains::Example,
       0, 0},
      {"IMAXPROT", "Speed_Controller_Tuning_Test", &kSpeedUpAndDown, {}, Gains::Example, 300, 0, 2},
      {"speed", "Speed_Controller_Tuning_Test", &kSpeedUpAndDown, {{"Imax_Prot_Test", 26189}}},
      {"speed, current limited", "Speed_Controller_Tuning_Test", &kSpeedUpAndDown,
       {{"IlimPS_Test", limit}, {"Imax_Prot_Test", 26189}}},
      {"position over the speed loop", "Position_Controller_Tuning_Test_with_SpdCtrl", &kPositionOutAndBack,
       {{"LimitSpeed_Test", 12800}, {"Imax_Prot_Test", 26189}}, Gains::OverSpeedLoop},
      {"position PID", "Position_Controller_Tuning_Test_without_SpdCtrl", &kPositionOutAndBack,
       {{"IlimPS_Test", 22915}, {"Imax_Prot_Test", 26189}}, Gains::Pid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ProfileRun run = RunProfile(c);
    EXPECT_EQ(run.outcome.finished, c.mer == 0) << run.outcome.failure;
    EXPECT_EQ(run.flag, c.flag);
    EXPECT_EQ(run.mer, c.mer);
    EXPECT_FALSE(run.axisOn);
    if (c.flag == 0) {
      EXPECT_LT(run.log.size(), 60u);  // within the first ramp
      continue;
    }
    const bool speed = std::string(c.program).starts_with("Speed");
    const double top = speed ? 3200 : 50000;
    const std::size_t ramp = speed ? 60 : 150, plateau = speed ? 400 : 1000, down = ramp + plateau;
    ASSERT_EQ(run.log.size(), speed ? 721u : 2301u);
    for (std::size_t k = 0; k < run.log.size(); ++k) {
      const double reference = run.log[k][1];
      const double b0 = (*c.profile)[0].increment / 65536.0;
      const double expected = k < ramp ? k * b0 : k <= down ? top : k < down + ramp ? top - (k - down) * b0 : 0.0;
      ASSERT_EQ(reference, expected) << "point " << k;
      if (c.inputs.contains("IlimPS_Test")) {
        ASSERT_LE(std::abs(run.log[k][3]), c.inputs.at("IlimPS_Test"));
      }
    }
    // The response lags the ramp and settles on the plateau and back at 0.
    const auto& mid = run.log[ramp / 2];
    if (speed) {
      EXPECT_GT(mid[2], 0.0);
      EXPECT_LT(mid[2], mid[1]);
    }
    if (c.inputs.contains("IlimPS_Test") && speed) {
      // 0.46 A pushes with 11.1 N, 2.5 N of which go to friction: at most
      // 14.8 m/s^2, 0.445 m/s (2850 counts) when the 30 ms ramp ends.
      EXPECT_EQ(run.log[ramp / 2][3], limit);
      EXPECT_LT(run.log[ramp][2], 2850.0);
      continue;
    }
    const double tolerance = speed ? 0.01 * top : 3.0;
    EXPECT_NEAR(run.log[down - 1][2], top, tolerance);
    EXPECT_NEAR(run.log.back()[2], 0.0, tolerance);
  }
}

TEST(ProfilePrograms, MultipleCyclesRunUntilTheHostStopsThem) {
  // Repeated: still running after three cycles (0.27 s), the reference
  // periodic, until the host stops it.
  const Case repeated{"repeated", "Speed_Controller_Tuning_Test", &kBackAndForth, {}};
  const ProfileRun run = RunProfile(repeated, 1, 0.4);
  EXPECT_FALSE(run.outcome.finished);
  EXPECT_TRUE(run.axisOn);
  EXPECT_EQ(run.started, 1.0);
  EXPECT_EQ(run.flag, 1.0);
  EXPECT_TRUE(run.stopped);
  ASSERT_GT(run.log.size(), 3 * 180u);
  for (std::size_t k = 0; k + 180 < run.log.size(); ++k) ASSERT_EQ(run.log[k + 180][1], run.log[k][1]) << k;
  EXPECT_EQ(run.log[20][1], 200.0);
  EXPECT_EQ(run.log[100][1], -200.0);
}

}  // namespace
