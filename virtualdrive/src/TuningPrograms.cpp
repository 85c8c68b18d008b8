// The controller tuning programs.
#include <numbers>

#include "ProgramSupport.h"

namespace virtualdrive {
namespace {

// "Current_Controller_Tuning_Test": a step of the current reference from 0
// to "In1" (converter counts) on the q axis of the test frame at angle 0,
// the axis along which the positioning program aligned the mover's flux, so
// the step makes no force. The current loop runs with the drive's "KPI",
// "SFTKPI", "KII", "SFTKII", "FILTERQ" (see DriveFirmware::Control). The
// logger records from the start of the run; the step comes after a tenth
// of the recording and holds to its end (50 ms in all without a logger).
// A current magnitude above "Imax_Prot_Test" (when positive) stops the run
// with "test_flag" 0; a full run gives "test_flag" 1.
class CurrentTuningTest : public TestProgram {
 public:
  bool Step(ProgramContext& c) override {
    DriveFirmware& d = c.drive;
    if (m_period == 0) {
      if (!PowerUp(c)) return false;
      m_step = c.Get("In1");
      m_protection = c.Get("Imax_Prot_Test");
      m_total = MeasuringPeriods(c, c.Periods(0.05));
      m_stepAt = std::max<std::int64_t>(1, m_total / 10);
      d.SetAngleSource(AngleSource::Test);
      d.SetTestAngle(0.0, 0.0);
      c.StartLogging();
    } else if (!d.AxisOn()) {
      return false;
    }
    if (m_protection > 0.0 && d.CurrentMagnitude() > m_protection) {
      c.Set("test_flag", 0.0);
      return false;
    }
    if (m_period >= m_total) {
      c.Set("test_flag", 1.0);
      return false;
    }
    d.ApplyCurrent(m_period >= m_stepAt ? m_step : 0.0, 0.0);
    ++m_period;
    return true;
  }

 private:
  std::int64_t m_period = 0, m_total = 1, m_stepAt = 1;
  double m_step = 0.0, m_protection = 0.0;
};

// "Angle_Controller_Tuning_Test": the motionless start. No positioning has
// run and the encoder's electrical zero says nothing about where the
// mover's flux lies, so the drive takes the mover as it stands: it injects
// a current along the test angle 0 (the q axis of the test frame, no d
// part; "Motor_Current" is its measured magnitude) and lets the angle
// controller turn that angle so that whatever force the current makes is
// answered before the mover gets far. At equilibrium the current lies along
// the flux, a quarter of an electrical turn behind the q axis, and makes no
// force.
//
// Inputs: "In1" the test current and "ReferenceIncrement" its step
// (converter counts), "TimeLimit" the stabilize time (speed-loop periods).
//
// The run:
// - ramp: the current rises by ReferenceIncrement every 2 ms, the last step
//   ending at In1 (an increment of 0 or above In1 is a single step); the
//   controller turns the angle from the first period on;
// - hold: In1 for TimeLimit speed-loop periods, at least 100 ms, so that
//   the angle is watched for 25 ms at least before it is called steady;
// - ramp down: back to zero by the same steps every 2 ms, the controller
//   still holding the mover; then the verdict.
//
// The angle controller, every current-loop period, angles in steps of
// 65536 per electrical turn, P the encoder count (P0 at the start), N the
// encoder counts per electrical turn ("ELRESL"):
//
//   e[k]     = (P[k] - P0) 65536 / N       the mover's displacement, as electrical angle
//   S[k]     = S[k-1] + e[k]
//   u[k]     = 32 Kp (e[k] + Ki S[k] / 512)   Kp = KPTHT 2^SFTKPTHT / 32767
//                                             Ki = KITHT 2^SFTKITHT / 32767
//   theta[k] = A - u[k]                     the current's angle from the test angle 0
//
// A is 0, or a quarter turn (16384) when the mover has not moved by the
// time the current reaches In1: the field then lies along the flux or
// against it, where it makes no force, and turned a quarter it pushes with
// the whole force Kf In1.
//
// A displacement turns the current back 32 Kp times as far, so the force
// pushes the mover back after (1 + 32 Kp)^-1 of the way the field alone
// would pull it; the integral (time constant 512 / Ki periods, 256 ms for
// Ki 0.1 at 50 µs) then brings it back to where it started, so that the
// angle found belongs to that place. The mover on the field is a mass on a
// magnetic spring; the controller makes the spring stiffer, and its
// integral turns the field on its own: faster than the mover's inertia and
// its little viscous damping let it follow, the angle swings without end
// (on the example motor from some 12 times the example's Ki). Too little
// Kp leaves the field to drag the mover away and the integral to creep it
// back, the angle creeping with it (a hundredth of the example's Kp is
// still far off after 1 s); a large Kp is held quiet by the dry friction
// while the encoder is as clean as the virtual one.
//
// "Electric_Angle" (live) is the current's angle relative to the true q
// axis of the mover where it started, wrapped into [-32768, 32768): the
// angle the drive found for its start position, measured against the motor
// itself (the bench's view, which no decision of the program uses). A good
// controller settles at -16384, within the friction band of the test
// current (asin(coulomb / (Kf In1)) either side).
//
// Outputs:
// - "test_flag" 1: the angle stayed within 1820 steps (10 electrical
//   degrees) of its final value during the last quarter of the hold, and
//   the mover ended the hold within 1820 steps of its start (a mover left
//   further away puts the angle found that far off for the start position);
//   -2 otherwise;
//   -3: no current was asked for, or the encoder never counted more than 2
//   counts from the start during ramp and hold, the quarter turn included:
//   even the whole force Kf In1 does not overcome friction and there is
//   nothing to regulate;
//   -1: a current protection stopped the run: the program's own level of
//   1.5 In1 or the drive's "IMAXPROT", each held for "TIMAXPROT" (both set
//   the over-current bit of "MER").
// - "theta_1" (16.16): "Electric_Angle" at the end of the hold, delivered
//   once the hold ended.
class AngleTuningTest : public TestProgram {
 public:
  bool Step(ProgramContext& c) override {
    DriveFirmware& d = c.drive;
    if (m_phase == Phase::Start) {
      if (!PowerUp(c)) return false;
      m_target = c.Get("In1");
      if (!(m_target > 0.0)) return Finish(c, kNothingToRegulate);
      const double increment = c.Get("ReferenceIncrement");
      m_increment = increment > 0.0 && increment < m_target ? increment : m_target;
      m_hold = std::max(c.Periods(kShortestHold_s),
                        static_cast<std::int64_t>(std::clamp(c.Get("TimeLimit"), 0.0, 1e6)) * d.SlowLoopDivider());
      m_stepPeriods = c.Periods(kStep_s);
      m_start = d.Position();
      m_turnSteps = kSteps / d.CountsPerElectricalTurn();
      m_startQAxis = d.TrueFluxAngle_rad() / kTwoPi * kSteps + kSteps / 4.0;
      d.SetProgramCurrentLimit(1.5 * m_target);
      d.SetAngleSource(AngleSource::Test);
      c.StartLogging();
      m_phase = Phase::Ramp;
    } else if (!d.AxisOn()) {
      if ((d.Mer() & kMerShortCircuit) != 0) c.Set("test_flag", kProtection);
      return false;
    }

    Regulate(c);
    ++m_elapsed;
    switch (m_phase) {
      case Phase::Start:
        break;
      case Phase::Ramp:
        m_level = std::min(m_target, m_increment * static_cast<double>(1 + (m_elapsed - 1) / m_stepPeriods));
        if (m_level >= m_target && m_elapsed % m_stepPeriods == 0) {
          // Still at rest with the full current: the field may lie along
          // the flux or against it, where it makes no force. A quarter turn
          // gives the whole force, which tells whether the current can
          // overcome friction at all.
          if (m_excursion <= kStillCounts) m_offset = kSteps / 4.0;
          Enter(Phase::Hold);
        }
        break;
      case Phase::Hold:
        if (m_elapsed > m_hold - m_hold / 4) {
          m_lowest = std::min(m_lowest, m_theta);
          m_highest = std::max(m_highest, m_theta);
        }
        if (m_elapsed >= m_hold) EndHold(c);
        break;
      case Phase::RampDown:
        if (m_elapsed % m_stepPeriods == 0) m_level = std::max(0.0, m_level - m_increment);
        if (m_level <= 0.0) return Finish(c, m_verdict);
        break;
    }
    d.ApplyCurrent(m_level, 0.0);
    return true;
  }

 private:
  enum class Phase { Start, Ramp, Hold, RampDown };
  static constexpr double kSteps = 65536.0;       // angle steps per electrical turn
  static constexpr double kTolerance = 1820.0;    // 10 electrical degrees
  static constexpr double kStep_s = 0.002;        // time of each current step
  static constexpr double kShortestHold_s = 0.1;  // an angle is judged over 25 ms at least
  static constexpr double kStillCounts = 2.0;     // encoder counts that are no motion
  static constexpr double kSuccess = 1.0, kProtection = -1.0, kNotStabilised = -2.0, kNothingToRegulate = -3.0;
  static constexpr double kTwoPi = 2.0 * std::numbers::pi;

  void Enter(Phase phase) {
    m_phase = phase;
    m_elapsed = 0;
  }

  void Regulate(ProgramContext& c) {
    DriveFirmware& d = c.drive;
    const double moved = d.Position() - m_start;
    if (m_phase != Phase::RampDown) m_excursion = std::max(m_excursion, std::abs(moved));
    m_displacement = moved * m_turnSteps;
    m_sum += m_displacement;
    const double kp = 32.0 * Gain(d, "KPTHT", "SFTKPTHT"), ki = Gain(d, "KITHT", "SFTKITHT") / 512.0;
    m_theta = m_offset - kp * (m_displacement + ki * m_sum);
    const double turn = std::fmod(m_theta, kSteps);
    d.SetTestAngle((turn < 0.0 ? turn + kSteps : turn) * (kAngleStepsPerTurn / kSteps), 0.0);
    d.SetElectricAngle(Wrap(m_theta - m_startQAxis));
  }

  void EndHold(ProgramContext& c) {
    // 16.16, the largest fraction below 32768 at most.
    c.Set("theta_1", std::min(std::nearbyint(Wrap(m_theta - m_startQAxis) * 65536.0) / 65536.0, 32768.0 - 0x1p-16));
    if (m_excursion <= kStillCounts) {
      m_verdict = kNothingToRegulate;
    } else {
      const bool steady = m_highest - m_theta <= kTolerance && m_theta - m_lowest <= kTolerance;
      m_verdict = steady && std::abs(m_displacement) <= kTolerance ? kSuccess : kNotStabilised;
    }
    Enter(Phase::RampDown);
  }

  static bool Finish(ProgramContext& c, double flag) {
    c.Set("test_flag", flag);
    return false;
  }

  // mantissa 2^shift / 32767, the shift a whole number 0..31 (absent
  // registers: no gain).
  static double Gain(const DriveFirmware& d, const char* mantissa, const char* shift) {
    return std::ldexp(d.Register(mantissa), static_cast<int>(std::clamp(d.Register(shift), 0.0, 31.0))) / 32767.0;
  }

  // Into [-32768, 32768).
  static double Wrap(double steps) {
    const double turn = std::fmod(steps + kSteps / 2.0, kSteps);
    return (turn < 0.0 ? turn + kSteps : turn) - kSteps / 2.0;
  }

  Phase m_phase = Phase::Start;
  double m_target = 0.0, m_increment = 0.0, m_level = 0.0;
  std::int64_t m_hold = 1, m_stepPeriods = 1, m_elapsed = 0;
  double m_start = 0.0, m_turnSteps = 0.0, m_startQAxis = 0.0;
  double m_displacement = 0.0, m_sum = 0.0, m_theta = 0.0, m_offset = 0.0, m_excursion = 0.0;
  double m_lowest = 1e300, m_highest = -1e300;
  double m_verdict = kNotStabilised;
};

}  // namespace

std::unique_ptr<TestProgram> MakeCurrentTuningTest() { return std::make_unique<CurrentTuningTest>(); }
std::unique_ptr<TestProgram> MakeAngleTuningTest() { return std::make_unique<AngleTuningTest>(); }

}  // namespace virtualdrive
