// The motionless start of the electric angle controller test, run through
// the drive link as the dialog runs it: the drive must find the angle of
// the mover's flux with the setup's angle gains, and say why when it cannot.
#include <gtest/gtest.h>

#include <utility>

#include "DriveRun.h"

namespace {

using drive_run::Bench;

constexpr const char* kAngle = "Angle_Controller_Tuning_Test";

TEST(AngleTuningProgram, FindsTheFluxWithTheSetupGainsAndSaysWhyWhenItCannot) {
  struct Case {
    const char* what;
    double kp, kpShift, ki, kiShift;  // "KPTHT", "SFTKPTHT", "KITHT", "SFTKITHT"
    double testCurrent;               // "In1", converter counts
    double protection;                // "IMAXPROT"; 0: the setup's
    double flag;                      // expected "test_flag"
  };
  // The example: Kp_T_scl 0.5 (KPTHT 16384), Ki_T_scl 0.1 (KITHT 3277), a
  // test current of 1.5 A at 65472 / 20 counts per ampere (4910), steps of
  // 0.1 A (327), 1 s of 0.5 ms speed-loop periods (2000). The mover starts
  // 0.0123 m into a 0.032 m pole pitch: the current along phase A sits 132
  // electrical degrees from its q axis, pushing it hard the wrong way.
  const Case cases[] = {
      {"example gains", 16384, 0, 3277, 0, 4910, 0, 1},
      // Kp_T_scl 0.005: the field drags the mover about 10 mm away, the
      // integral creeps it back far too slowly.
      {"a hundredth of Kp", 164, 0, 3277, 0, 4910, 0, -2},
      // Ki_T_scl 2 (32767 * 2^1 / 32767): the integral turns the field
      // faster than the mover can follow and the angle swings on.
      {"twenty times Ki", 16384, 0, 32767, 1, 4910, 0, -2},
      // 0.05 A pushes with at most 24.3 * 0.05 = 1.2 N against 2.5 N of friction.
      {"current below friction", 16384, 0, 3277, 0, 164, 0, -3},
      // The drive's over-current level below the test current.
      {"protection below the test current", 16384, 0, 3277, 0, 4910, 3000, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bench bench(virtualdrive::ExamplePlant());
    std::string error;
    for (const auto& [name, value] : {std::pair<const char*, double>{"KPTHT", c.kp}, {"SFTKPTHT", c.kpShift},
                                      {"KITHT", c.ki}, {"SFTKITHT", c.kiShift}})
      ASSERT_TRUE(bench.drive.WriteRegister(name, value, error)) << error;
    if (c.protection > 0) {
      ASSERT_TRUE(bench.drive.WriteRegister("IMAXPROT", c.protection, error)) << error;
    }
    const double start_m = bench.drive.GetPlant().Position_m();
    bench.Run(kAngle, {{"In1", c.testCurrent}, {"ReferenceIncrement", 327}, {"TimeLimit", 2000}});
    EXPECT_EQ(bench.Output(kAngle, "test_flag"), c.flag);
    const double theta = bench.Output(kAngle, "theta_1");
    if (c.flag == 1) {
      // On the flux (-16384) within 10 electrical degrees, the mover back
      // within 10 electrical degrees (0.032 m / 36) of where it stood.
      EXPECT_NEAR(theta, -16384, 1820);
      EXPECT_NEAR(bench.drive.GetPlant().Position_m(), start_m, 0.032 / 36);
    } else if (c.flag == -2) {
      EXPECT_TRUE(theta >= -32768 && theta < 32768) << theta;
    } else if (c.flag == -1) {
      EXPECT_EQ(static_cast<unsigned>(bench.Variable("MER")) & 0x0002u, 0x0002u);
    }
  }
}

}  // namespace
