// What to check before a test drives current through the motor and moves
// it: whether the current loop holds with the setup's gains, whether the
// supply can reach the speed the test may ask for, and whether the setup's
// supply voltage is the one the drive measures. Each check finds numbers;
// PreTestWarnings turns them into the lines `test`, `tune` and `commission`
// print and the commissioning report keeps.
#pragma once

#include <optional>
#include <string>
#include <vector>

class CMC_Setup;

namespace axhost {

// The tests that run the current loop and move the motor.
enum class MotionTest { CurrentTuning, TotalMass, AngleTuning, SpeedTuning, PositionTuning };

// A current loop that overshoots a step by more than this (a fraction) is
// too close to instability to carry a test.
inline constexpr double kCurrentLoopOvershootLimit = 0.5;
// A setup supply voltage further than this (a fraction of the measured
// one) from the drive's measurement has scaled the current loop's gains
// for another voltage.
inline constexpr double kSupplyTolerance = 0.05;

// The current loop as the drive runs it (one period of computation delay)
// with the setup's "Kp_C_scl" and "Ki_C_scl" on its "R" and "L".
struct CurrentLoopFinding {
  bool stable = false;
  double overshoot = 0.0;  // fraction; meaningful when stable
  double kp = 0.0, ki = 0.0, r_ohm = 0.0, l_H = 0.0;
};

// A speed the test may drive the motor at, above what the supply allows.
struct SupplySpeedFinding {
  std::string parameter;     // "TestMaxSpeed", "TestSpeed" or "Limit_Speed"
  std::string unit;          // the parameter's base unit
  double speed = 0.0;        // the parameter's value, in `unit`
  double allowed = 0.0;      // the supply's limit in `unit`; 0 or less: none
  double supply_V = 0.0;     // the supply the limit was worked out for
  double winding_V = 0.0;    // the largest voltage the drive puts on the winding
  double current_A = 0.0;    // "TestCurrent"
  double rPhase_ohm = 0.0;   // per phase of the equivalent star
  double forceConstant = 0.0;  // "Kf", N/A
};

// The setup's "Vdc" beside the drive's measurement.
struct SupplyFinding {
  double setup_V = 0.0;
  double measured_V = 0.0;
};

struct PreTestFindings {
  std::optional<CurrentLoopFinding> currentLoop;
  std::optional<SupplySpeedFinding> speed;
  std::optional<SupplyFinding> supply;
};

// The resistance one phase of the drive's model sees: a third of the
// terminal value "R" for a delta winding ("MotorPhaseConnectionType" 1).
double PhaseResistance(const CMC_Setup& setup);

// The largest phase-voltage amplitude the drive commands from a supply of
// `supply_V`: 32767 - `satiq` voltage-command counts (the q-axis output's
// limit), with 65534 counts 110 % of the supply. The bridge could give
// supply / sqrt(3) by space vectors; the command's full scale stays below
// that, so it is the bound.
double WindingVoltageLimit(double supply_V, double satiq);

// The highest motor speed (m/s) at which `current_A` can still be driven
// through a phase of `rPhase_ohm` against the back-EMF of force constant
// `forceConstant` (N/A) with `winding_V` on the winding: the q-axis voltage
// R i + (2/3) Kf v, the back-EMF amplitude being 2/3 of Kf times the speed
// (so that 3/2 e i is the mechanical power Kf i v). The winding's inductive
// drop is left out. 0 or less when the current alone needs all the voltage.
double SupplySpeedLimit(double winding_V, double rPhase_ohm, double current_A, double forceConstant);

// The checks that apply to `test` on `setup`. `gainsDesigned`: the test's
// own Tune designs the current loop's gains before it runs (then their
// check is moot). `measuredSupply_V`: the drive's measurement, when it was
// taken; the speed check then works with it, else with the setup's "Vdc".
// A check whose names the setup lacks is left out.
PreTestFindings CheckBeforeTest(const CMC_Setup& setup, MotionTest test, bool gainsDesigned,
                                std::optional<double> measuredSupply_V);

// One line per finding, without "warning: ".
std::vector<std::string> PreTestWarnings(const PreTestFindings& findings);

}  // namespace axhost
