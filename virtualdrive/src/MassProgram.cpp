// "Total_Mass_Identification_Test": the total moving mass from the
// acceleration a known force gives it.
//
// Inputs: "In1" the test current (converter counts), "LimitSpeedMax" the
// speed the run must stay below (counts per speed-loop period),
// "Imax_Prot_Test" the program's own over-current level (converter counts;
// beyond it for "TIMAXPROT" the drive trips with the over-current bit of
// "MER"). "RefTest" and "RIncTest", the voltage and ramp of the preliminary
// positioning, are taken but not needed: the electrical angle reference the
// positioning set in the drive stays valid as long as the encoder counts,
// whatever the mover did since.
//
// Outputs: "test_flag", "delta_time" (speed-loop periods), "delta_speed"
// (counts per speed-loop period), with
//
//   delta_speed / delta_time = K_S Ts_S Kf (In1 / K_I) / M
//
// (K_S counts per speed-loop period per m/s, K_I converter counts per
// ampere, Ts_S the speed-loop period): delta_speed is the speed change the
// force of the test current alone (Kf In1 / K_I, without friction or
// gravity) gives the moving mass M in delta_time speed-loop periods, so
// that M = (K_S / K_I) delta_time Ts_S Kf In1 / delta_speed. delta_time is
// the measured time of the forward acceleration across its speed window,
// rounded to whole periods; delta_speed is the measured equivalent
// acceleration (below) times delta_time, rounded.
//
// Failures: "test_flag" 0 and "delta_time" -1 when the measured speed goes
// negative under the positive force (a reversed encoder, or a phase order
// that pushes backward); "delta_time" -2 when the speed stays at zero or
// the test current cannot be reached (no encoder, a stuck mover, a supply
// too low); -3 when no usable speed level is reached within the time
// limits. "test_flag" is 1 in the last two cases.
//
// Method. A raw acceleration is biased by friction and by a gravity load:
// running forward, M dv/dt = Kf i - F_c - b v + F_g. The program
// accelerates forward with +In1 and brakes with -In1 while the mover still
// runs forward, so that both phases see the same friction and gravity, and
// fits that equation of motion to the speed samples of both phases between
// a fifth and four fifths of the speed where the braking began:
//
//   v[k] - v[k-1] = p (i[k-1] + i[k]) / 2 - q - r (v[k-1] + v[k]) / 2
//
// v[k] the speed measured over speed-loop period k (the encoder's count
// difference), i[k] the mean measured current over it (the current loop
// lags a little behind the rising back-EMF, and may run short of voltage).
// Least squares give p, the acceleration per count of current in counts
// per speed-loop period squared, apart from q (Coulomb friction and
// gravity) and r (viscous friction): the sign change of the force separates
// p from q, the speed change within each phase r from both. Comparing only
// the mean accelerating and braking rates would leave a viscous error of
// the order of (b dv / F)^2 / 12, several per cent on a heavy, greased
// axis; the fit leaves none for friction of this form. The braking force
// carries on through standstill into a backward acceleration, which is
// fitted the same way and braked until the mover stops near where it
// started, so the test can be repeated without walking the mover off its
// travel.
//
// The force is Kf times the current along the true q axis, and the angle
// reference the positioning left is off by the angle e at which the field
// had to hold the mover against gravity and friction (10 to 20 degrees on a
// loaded vertical axis): a current on the supposed q axis pushes with
// Kf i cos e only. So the forward run puts the current 20 degrees ahead of
// the supposed q axis and the backward run 20 degrees behind it, i[k] being
// the measured current along that direction: their fits give
// p1 = K cos(20 - e) and p2 = K cos(20 + e), K = Kf / M in the drive's
// units, and K = |((p1 + p2) / (2 cos 20), (p1 - p2) / (2 sin 20))| whatever
// e is. The d part of the current makes no force on this motor, only a
// little more voltage drop.
//
// Where the forward acceleration ends: when the speed reaches 80 % of
// "LimitSpeedMax", when the mover has covered one pole pitch, or when the
// current can no longer be held (the back-EMF eats the voltage), whichever
// comes first. The backward acceleration also ends half-way back from where
// the mover turned, so the braking brings it back near its start.
#include <cmath>
#include <vector>

#include "ProgramSupport.h"

namespace virtualdrive {
namespace {

constexpr double kSpeedNegative = -1.0;
constexpr double kNoMotion = -2.0;
constexpr double kLevelNotReached = -3.0;

class TotalMassTest : public TestProgram {
 public:
  bool Step(ProgramContext& c) override {
    DriveFirmware& d = c.drive;
    if (m_periods == 0) {
      if (!PowerUp(c)) return false;
      m_current = c.Get("In1");
      d.SetProgramCurrentLimit(c.Get("Imax_Prot_Test"));
      if (!(m_current > 0.0)) return Finish(c, 1.0, kNoMotion);
      if (!(c.Get("LimitSpeedMax") > 0.0)) return Finish(c, 1.0, kLevelNotReached);
      m_brakeSpeed = 0.8 * c.Get("LimitSpeedMax");
      // A speed of 1/4096 electrical period per speed-loop period is motion.
      m_detect = std::max(1.0, d.CountsPerElectricalTurn() / 4096.0);
      m_travel = d.CountsPerElectricalTurn();
      m_start = d.Position();
      m_noMotionPeriods = c.Periods(0.3);
      m_currentPeriods = c.Periods(0.1);
      m_phasePeriods = c.Periods(3.0);
      d.SetAngleSource(AngleSource::Encoder);
      Enter(Phase::Push);
    } else if (!d.AxisOn()) {
      return false;  // a protection stopped the run; "MER" says which
    }
    ++m_periods;
    const Direction& u = kDirections[Backward() ? 1 : 0];
    m_currentSum += d.Iq() * u.q + d.Id() * u.d;
    ++m_currentCount;
    if (d.SpeedLoopTick() && !OnSpeedSample(c)) return false;
    const Direction& now = kDirections[Backward() ? 1 : 0];
    const double current = m_phase == Phase::Push || m_phase == Phase::BrakeBack ? m_current : -m_current;
    d.ApplyCurrent(current * now.q, current * now.d);
    return true;
  }

 private:
  enum class Phase { Push, Brake, PushBack, BrakeBack };
  struct Sample {
    double speed;    // counts per speed-loop period
    double current;  // mean current along the run's direction over the speed-loop period it ends
  };
  // The current of each run as a unit vector of the rotating frame (q, d;
  // d lies 90 degrees behind q): 20 degrees ahead of the q axis forward, 20
  // degrees behind it backward.
  struct Direction {
    double q, d;
  };
  static constexpr double kCos20 = 0.9396926207859084, kSin20 = 0.3420201433256687;
  static constexpr Direction kDirections[2] = {{kCos20, -kSin20}, {kCos20, kSin20}};
  struct Run {
    double accelerating = 0.0;  // periods across the window, speeding up
    double acceleration = 0.0;  // of In1 alone, counts per period^2
    bool valid = false;
  };

  bool Backward() const { return m_phase == Phase::PushBack || m_phase == Phase::BrakeBack; }

  void Enter(Phase phase) {
    m_phase = phase;
    m_phaseStart = m_periods;
    m_firstSample[static_cast<int>(phase)] = m_samples.size();
  }

  // Takes the speed-loop sample and moves through the phases; false when
  // the run has ended (its outputs set).
  bool OnSpeedSample(ProgramContext& c) {
    DriveFirmware& d = c.drive;
    const double v = d.Speed();
    const double i = m_currentSum / static_cast<double>(std::max<std::int64_t>(1, m_currentCount));
    m_currentSum = 0.0;
    m_currentCount = 0;
    m_samples.push_back({v, i});
    const std::int64_t inPhase = m_periods - m_phaseStart;
    const double position = d.Position();
    switch (m_phase) {
      case Phase::Push: {
        // The mover may already drift (a gravity load while the axis was
        // off): motion is judged from the first sample on.
        if (m_samples.size() == 1) m_firstSpeed = v;
        const double gained = v - m_firstSpeed;
        if (gained < -m_detect) return Finish(c, 0.0, kSpeedNegative);
        if (!m_moving && gained > m_detect) m_moving = true;
        if (!m_moving && inPhase > m_noMotionPeriods) return Finish(c, 1.0, kNoMotion);
        if (!m_held && i >= 0.97 * m_current) m_held = true;
        if (!m_held && inPhase > m_currentPeriods) return Finish(c, 1.0, kNoMotion);
        if (inPhase > m_phasePeriods) return Finish(c, 1.0, kLevelNotReached);
        if (!m_moving || !m_held) return true;
        const bool lost = i < 0.93 * m_current;
        if (v >= m_brakeSpeed || position - m_start >= m_travel || lost) {
          m_peak[0] = v;
          if (v < 8.0 * m_detect) return Finish(c, 1.0, lost ? kNoMotion : kLevelNotReached);
          Enter(Phase::Brake);
        }
        return true;
      }
      case Phase::Brake:
        if (v < 0.0) {
          m_turn = position;
          m_held = false;  // the current turns to the backward run's direction
          Enter(Phase::PushBack);
        } else if (inPhase > m_phasePeriods) {
          return Finish(c, 1.0, kLevelNotReached);
        }
        return true;
      case Phase::PushBack: {
        if (inPhase > m_phasePeriods) return Finish(c, 1.0, kLevelNotReached);
        if (!m_held && -i >= 0.97 * m_current) m_held = true;
        if (!m_held && inPhase > m_currentPeriods) return Finish(c, 1.0, kNoMotion);
        if (!m_held) return true;
        const bool lost = -i < 0.93 * m_current;
        if (-v >= m_brakeSpeed || position <= 0.5 * (m_turn + m_start) || lost) {
          m_peak[1] = -v;
          if (-v < 8.0 * m_detect) return Finish(c, 1.0, lost ? kNoMotion : kLevelNotReached);
          Enter(Phase::BrakeBack);
        }
        return true;
      }
      case Phase::BrakeBack:
        if (v > -m_detect) return Deliver(c);
        if (inPhase > m_phasePeriods) return Finish(c, 1.0, kLevelNotReached);
        return true;
    }
    return true;
  }

  // The first time (fractional sample index) from `from` on at which the
  // speed, taken with `sign`, crosses `level` upward (or downward).
  double Crossing(std::size_t from, double sign, double level, bool upward) const {
    for (std::size_t k = std::max<std::size_t>(from, 1); k < m_samples.size(); ++k) {
      const double a = sign * m_samples[k - 1].speed, b = sign * m_samples[k].speed;
      if (upward ? (a < level && b >= level) : (a > level && b <= level))
        return static_cast<double>(k - 1) + (level - a) / (b - a);
    }
    return std::nan("");
  }

  // One run in the direction `sign`: its acceleration from sample
  // `pushFrom`, its braking from `brakeFrom` up to `end`, fitted over the
  // samples between a fifth and four fifths of the speed `peak` where the
  // braking began.
  Run Measure(std::size_t pushFrom, std::size_t brakeFrom, std::size_t end, double sign, double peak) const {
    Run run;
    const double low = 0.2 * peak, high = 0.8 * peak;
    // Normal equations of the fit y = p x0 - q - r x2, unknowns (p, q, r).
    double n[3][3] = {}, t[3] = {};
    std::size_t used[2] = {0, 0};
    for (std::size_t k = pushFrom + 1; k < end; ++k) {
      if (k == brakeFrom) continue;  // the force changed inside the pair
      const double v0 = sign * m_samples[k - 1].speed, v1 = sign * m_samples[k].speed;
      if (v0 < low || v0 > high || v1 < low || v1 > high) continue;
      const double x[3] = {0.5 * sign * (m_samples[k - 1].current + m_samples[k].current), -1.0, -0.5 * (v0 + v1)};
      for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) n[row][col] += x[row] * x[col];
        t[row] += x[row] * (v1 - v0);
      }
      ++used[k < brakeFrom ? 0 : 1];
    }
    // Enough samples in both phases to tell the three apart.
    if (used[0] < 3 || used[1] < 3) return run;
    const double p = SolveFirst(n, t);
    const double a1 = Crossing(pushFrom == 0 ? 0 : pushFrom - 1, sign, low, true);
    const double a2 = Crossing(pushFrom == 0 ? 0 : pushFrom - 1, sign, high, true);
    if (!(p > 0.0) || !(a2 > a1)) return run;
    run.accelerating = a2 - a1;
    run.acceleration = p * m_current;
    run.valid = true;
    return run;
  }

  // The first unknown of n u = t (Cramer's rule); NaN when n is singular.
  static double SolveFirst(const double (&n)[3][3], const double (&t)[3]) {
    auto det = [](double a, double b, double c, double d, double e, double f, double g, double h, double i) {
      return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    };
    const double whole = det(n[0][0], n[0][1], n[0][2], n[1][0], n[1][1], n[1][2], n[2][0], n[2][1], n[2][2]);
    if (!(std::abs(whole) > 0.0)) return std::nan("");
    return det(t[0], n[0][1], n[0][2], t[1], n[1][1], n[1][2], t[2], n[2][1], n[2][2]) / whole;
  }

  bool Deliver(ProgramContext& c) {
    const Run forward = Measure(m_firstSample[0], m_firstSample[1], m_firstSample[2], 1.0, m_peak[0]);
    const Run backward = Measure(m_firstSample[2], m_firstSample[3], m_samples.size(), -1.0, m_peak[1]);
    if (!forward.valid || !backward.valid) return Finish(c, 1.0, kLevelNotReached);
    // The two runs' accelerations, K cos(20 - e) and K cos(20 + e) with e
    // the error of the angle reference, give K whatever e is.
    const double sum = (forward.acceleration + backward.acceleration) / (2.0 * kCos20);
    const double difference = (forward.acceleration - backward.acceleration) / (2.0 * kSin20);
    const double acceleration = std::hypot(sum, difference);
    const double time = std::max(1.0, Whole(forward.accelerating));
    return Finish(c, 1.0, time, Whole(acceleration * time));
  }

  bool Finish(ProgramContext& c, double flag, double time, double speed = 0.0) {
    c.Set("test_flag", flag);
    c.Set("delta_time", time);
    c.Set("delta_speed", speed);
    return false;
  }

  Phase m_phase = Phase::Push;
  std::int64_t m_periods = 0, m_phaseStart = 0;
  std::int64_t m_noMotionPeriods = 1, m_currentPeriods = 1, m_phasePeriods = 1;
  double m_current = 0.0, m_brakeSpeed = 0.0, m_detect = 1.0, m_travel = 0.0;
  double m_start = 0.0, m_turn = 0.0, m_firstSpeed = 0.0;
  double m_peak[2] = {0.0, 0.0};
  bool m_moving = false, m_held = false;
  double m_currentSum = 0.0;
  std::int64_t m_currentCount = 0;
  std::vector<Sample> m_samples;
  std::size_t m_firstSample[4] = {0, 0, 0, 0};  // of each phase
};

}  // namespace

std::unique_ptr<TestProgram> MakeTotalMassTest() { return std::make_unique<TotalMassTest>(); }

}  // namespace virtualdrive
