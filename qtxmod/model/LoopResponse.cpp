#include "LoopResponse.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <initializer_list>
#include <limits>
#include <numbers>
#include <string>
#include <utility>

#include "BiquadDesign.h"
#include "ControllerDesign.h"
#include "FeatureProbes.h"
#include "Scales.h"
#include "axcore/Setup.h"

bool IsSchurStable(std::vector<double> c) {
  // Step-down: p has all roots inside the unit circle exactly when
  // |c0| < |cn| and (cn p(z) - c0 z^n p(1/z)) / z, one degree less, has too.
  while (c.size() > 1) {
    const std::size_t n = c.size() - 1;
    const double lead = c[n], constant = c[0];
    if (!(std::fabs(constant) < std::fabs(lead))) return false;
    std::vector<double> next(n);
    for (std::size_t i = 0; i < n; ++i) next[i] = lead * c[i + 1] - constant * c[n - 1 - i];
    c = std::move(next);
  }
  return !c.empty() && c[0] != 0.0;
}

namespace {

double Crossing(const std::vector<double>& y, double level, double period_s) {
  for (std::size_t k = 1; k < y.size(); ++k)
    if (y[k] >= level) return (static_cast<double>(k - 1) + (level - y[k - 1]) / (y[k] - y[k - 1])) * period_s;
  return 0.0;
}

// Overshoot and rise of a stable unit step.
void StepShape(SampledLoopResponse& response) {
  double peak = 1.0;
  for (double y : response.step) peak = std::fmax(peak, y);
  response.overshoot = peak - 1.0;
  response.rise_s = Crossing(response.step, 0.9, response.period_s) - Crossing(response.step, 0.1, response.period_s);
}

// The first frequency on a grid of a thousandth of the Nyquist frequency of
// `period_s`, ending below it, where |gain(f)| falls below 1 / sqrt(2).
template <class Gain>
double Bandwidth(double period_s, Gain gain) {
  const double nyquist_Hz = 0.5 / period_s;
  for (int step = 1; step < 1000; ++step) {
    const double f = nyquist_Hz * step / 1000.0;
    if (std::abs(gain(f)) < std::numbers::sqrt2 / 2.0) return f;
  }
  return 0.0;
}

}  // namespace

namespace {

// The current loop of the setup in counts: i[k+1] = a i[k] + b u[k - d],
// u = Kp e + Ki sum e, every Ts_C.
struct CurrentLoopCoefficients {
  double ts = 0.0, a = 0.0, b = 0.0, kp = 0.0, ki = 0.0;
};

bool ReadCurrentLoop(const CMC_Setup& setup, CurrentLoopCoefficients& c) {
  const char* const names[] = {"R", "L", "MotorPhaseConnectionType", "Kp_C_scl", "Ki_C_scl",
                               "CLPER", "PWMPER", "DSP_freq", "ImaxPS", "Vdc"};
  for (const char* name : names)
    if (FindParameterQuiet(setup, name) == nullptr) return false;
  auto value = [&](const char* name) { return setup.GetParameterValueInBaseUnit(name); };
  const double r = value("R"), tau = value("L") / r;
  const double rPhase = value("MotorPhaseConnectionType") == 1.0 ? r / 3.0 : r;
  const double ts = CurrentLoopPeriod(setup), kI = CurrentScale(setup), kV = VoltageCommandScale(setup);
  const double kp = value("Kp_C_scl"), ki = value("Ki_C_scl");
  for (double x : {tau, rPhase, ts, kI, kV, kp, ki})
    if (!std::isfinite(x)) return false;
  if (!(tau > 0.0 && rPhase > 0.0 && ts > 0.0 && kI > 0.0 && kV > 0.0)) return false;
  c.ts = ts;
  c.a = std::exp(-ts / tau);
  c.b = (1.0 - c.a) / rPhase * kI / kV;
  c.kp = kp;
  c.ki = ki;
  return true;
}

}  // namespace

bool PredictCurrentLoop(const CMC_Setup& setup, int delayPeriods, int samples, SampledLoopResponse& response) {
  response = {};
  CurrentLoopCoefficients loop;
  if (!ReadCurrentLoop(setup, loop) || delayPeriods < 0 || samples < 2) return false;
  const double ts = loop.ts, a = loop.a, b = loop.b, kp = loop.kp, ki = loop.ki;
  const auto d = static_cast<std::size_t>(delayPeriods);
  response.period_s = ts;

  // (z - 1)(z - a) z^d + b ((Kp + Ki) z - Kp), from the constant term up.
  std::vector<double> polynomial(d + 3, 0.0);
  polynomial[d] += a;
  polynomial[d + 1] += -(1.0 + a);
  polynomial[d + 2] += 1.0;
  polynomial[0] += -b * kp;
  polynomial[1] += b * (kp + ki);
  response.stable = IsSchurStable(polynomial);

  // The difference equations themselves, sample by sample.
  std::vector<double> commands(d, 0.0);  // u[k - d] ... u[k - 1], oldest first
  double current = 0.0, integral = 0.0;
  response.step.reserve(static_cast<std::size_t>(samples));
  for (int k = 0; k < samples; ++k) {
    response.step.push_back(current);
    const double error = 1.0 - current;
    integral += ki * error;
    commands.push_back(kp * error + integral);
    const double applied = commands.front();
    commands.erase(commands.begin());
    current = a * current + b * applied;
  }
  if (response.stable) StepShape(response);

  // Closed loop T = L / (1 + L), L(z) = b ((Kp + Ki) z - Kp) / ((z - 1)(z - a) z^d).
  response.bandwidth_Hz = Bandwidth(ts, [&](double f) {
    const std::complex<double> z = std::polar(1.0, 2.0 * std::numbers::pi * f * ts);
    const std::complex<double> open =
        b * ((kp + ki) * z - kp) / ((z - 1.0) * (z - a) * std::pow(z, static_cast<int>(d)));
    return open / (1.0 + open);
  });
  return true;
}

namespace {

enum class OuterLoop { Speed, PositionOverSpeedLoop, PositionPid };

// The state of the loops at the start of a tick. Currents in converter
// counts, the pending voltage command in voltage-command counts, speed in
// m/s, positions in metres; the controllers' memories in their own units.
enum State : std::size_t {
  kCurrent,
  kCurrentIntegral,
  kPendingCommand,  // computed last period, applied in this one
  kSpeed,
  kPosition,
  kTravel,  // since the last tick, for the measured speed
  kSpeedIntegral,
  kPositionIntegral,
  kLastError,
  kDerivative,
  // The reference at the last tick (speed, or position) and, for the
  // position loops, its speed then: the feed-forward's differences. They
  // depend on the reference alone, never on the loop.
  kLastReference,
  kReferenceSpeed,
  // The biquad slots, four each: the last two inputs and outputs.
  kFilter,
  kStates = kFilter + 4 * kBiquadSlotCount
};
using Vector = std::array<double, kStates>;

struct OuterModel {
  OuterLoop loop = OuterLoop::Speed;
  // The winding and the current loop, every Ts_C.
  double tsC = 0.0, a = 0.0, tau = 0.0, rPhase = 0.0, kI = 0.0, kV = 0.0, kpC = 0.0, kiC = 0.0;
  // The mover: acceleration per ampere (Kf / Mt) and the back-EMF per m/s.
  double forcePerMass = 0.0, emfPerSpeed = 0.0;
  // The outer loops: period T, Ts_C periods per tick, scales and gains.
  double t = 0.0;
  int ticks = 1;
  double kS = 0.0, kP = 0.0;
  double kpS = 0.0, kiS = 0.0, kpP = 0.0, kiP = 0.0, kdP = 0.0, derivativeFilter = 1.0;
  // The drive's differences of the reference are per Ts_S: a tick of Ts_C
  // multiplies them by the Ts_C periods in Ts_S.
  double speedPerTick = 1.0;
  double accelerationFeedForward = 0.0, speedFeedForward = 0.0;
  // What the linear model leaves out, for SimulateProfile: the current
  // reference's limit (counts), the voltage amplitude the bridge can put on
  // the winding (V), and friction as deceleration (dry, and per m/s).
  double currentLimit = std::numeric_limits<double>::infinity();
  double voltageLimit_V = std::numeric_limits<double>::infinity();
  double dryDeceleration = 0.0, viscousDeceleration = 0.0;
  // The slots' coefficients, y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2, and
  // the consecutive slots each place takes.
  struct Slot {
    double b0 = 0.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
  };
  struct Chain {
    int first = 0, count = 0;
  };
  std::array<Slot, kBiquadSlotCount> slots{};
  Chain speedReferenceChain, currentReferenceChain, speedFeedbackChain;

  std::vector<std::size_t> FilterStates(std::initializer_list<Chain> chains) const {
    std::vector<std::size_t> states;
    for (const Chain& chain : chains)
      for (int k = 0; k < 4 * chain.count; ++k)
        states.push_back(kFilter + static_cast<std::size_t>(4 * chain.first + k));
    return states;
  }

  // The states of the loop itself, the filter slots it runs included; not
  // the reference's, which the loop never feeds.
  std::vector<std::size_t> LoopStates() const {
    std::vector<std::size_t> states, filters;
    switch (loop) {
      case OuterLoop::Speed:
        states = {kCurrent, kCurrentIntegral, kPendingCommand, kSpeed, kTravel, kSpeedIntegral};
        filters = FilterStates({currentReferenceChain, speedFeedbackChain});
        break;
      case OuterLoop::PositionOverSpeedLoop:
        states = {kCurrent,      kCurrentIntegral, kPendingCommand, kSpeed, kPosition, kTravel, kSpeedIntegral,
                  kPositionIntegral};
        filters = FilterStates({speedReferenceChain, currentReferenceChain, speedFeedbackChain});
        break;
      case OuterLoop::PositionPid:
        states = {kCurrent,          kCurrentIntegral, kPendingCommand, kSpeed, kPosition,
                  kPositionIntegral, kLastError,       kDerivative};
        filters = FilterStates({currentReferenceChain});
        break;
    }
    states.insert(states.end(), filters.begin(), filters.end());
    return states;
  }

  // The loop's states and the reference's; the others stay 0 (the speed
  // loop never reads the absolute position, whose integrator would look
  // like a pole at 1).
  std::vector<std::size_t> States() const {
    std::vector<std::size_t> states = LoopStates();
    states.push_back(kLastReference);
    if (loop != OuterLoop::Speed) states.push_back(kReferenceSpeed);
    return states;
  }

  // The signal the drive measures at a tick: counts per Ts_S, or counts.
  double Measured(const Vector& z) const {
    return loop == OuterLoop::Speed ? kS / t * z[kTravel] : kP * z[kPosition];
  }

  double Filter(Vector& z, Chain chain, double x) const {
    for (int k = 0; k < chain.count; ++k) {
      const Slot& c = slots[static_cast<std::size_t>(chain.first + k)];
      double* s = &z[kFilter + static_cast<std::size_t>(4 * (chain.first + k))];  // x1, x2, y1, y2
      const double y = c.b0 * x + c.b1 * s[0] + c.b2 * s[1] - c.a1 * s[2] - c.a2 * s[3];
      s[1] = s[0];
      s[0] = x;
      s[3] = s[2];
      s[2] = y;
      x = y;
    }
    return x;
  }

  // The controller's output through the current reference's slots, plus
  // the acceleration feed-forward.
  double CurrentReference(Vector& z, double control, double acceleration) const {
    return Filter(z, currentReferenceChain, control) + accelerationFeedForward * acceleration;
  }

  double SpeedLaw(Vector& z, double reference, double acceleration) const {
    const double error = reference - Filter(z, speedFeedbackChain, kS / t * z[kTravel]);
    z[kSpeedIntegral] += kiS * error;
    return CurrentReference(z, kpS * error + z[kSpeedIntegral], acceleration);
  }

  // One current-loop period with the current reference `iqRef` (counts).
  void CurrentPeriod(Vector& z, double iqRef) const {
    const double error = iqRef - z[kCurrent];
    // The drive holds the integral and the command within the voltage it
    // can apply (no limit in the linear model).
    const double most = voltageLimit_V * kV;
    z[kCurrentIntegral] = std::clamp(z[kCurrentIntegral] + kiC * error, -most, most);
    const double applied_V = z[kPendingCommand] / kV;
    z[kPendingCommand] = std::clamp(kpC * error + z[kCurrentIntegral], -most, most);
    // i(t) = target + excess exp(-t / tau) in amperes over the period.
    const double target = (applied_V - emfPerSpeed * z[kSpeed]) / rPhase;
    const double excess = z[kCurrent] / kI - target;
    const double charge = target * tsC + excess * tau * (1.0 - a);                          // integral of i
    const double moment = target * tsC * tsC / 2.0 + excess * tau * (tsC - tau * (1.0 - a));  // and of that
    double travel = z[kSpeed] * tsC + forcePerMass * moment;
    z[kSpeed] += forcePerMass * charge;
    if (dryDeceleration > 0.0 || viscousDeceleration > 0.0) {
      // Friction over the period, against the motion: a mover it would
      // bring past rest stops (and one at rest stays there while the
      // force is below the dry friction).
      const double drag = (dryDeceleration + viscousDeceleration * std::abs(z[kSpeed])) * tsC;
      const double taken = std::abs(z[kSpeed]) <= drag ? z[kSpeed] : std::copysign(drag, z[kSpeed]);
      z[kSpeed] -= taken;
      travel -= taken * tsC / 2.0;
    }
    z[kPosition] += travel;
    z[kTravel] += travel;
    z[kCurrent] = (target + excess * a) * kI;
  }

  // One tick of the outer loop with the reference r, then the current loop
  // up to the next tick. With `applied`, the loop is broken at the
  // controller's output (OpenLoop): *applied goes on in its place. Returns
  // what the controller computed.
  double Tick(Vector& z, double r, const double* applied = nullptr) const {
    double iqRef = 0.0, output = 0.0;
    if (loop == OuterLoop::Speed) {
      const double acceleration = speedPerTick * (r - z[kLastReference]);
      z[kLastReference] = r;
      iqRef = output = SpeedLaw(z, r, acceleration);
      if (applied != nullptr) iqRef = *applied;
      iqRef = std::clamp(iqRef, -currentLimit, currentLimit);
    } else {
      const double referenceSpeed = speedPerTick * (r - z[kLastReference]);
      const double acceleration = speedPerTick * (referenceSpeed - z[kReferenceSpeed]);
      z[kLastReference] = r;
      z[kReferenceSpeed] = referenceSpeed;
      const double error = r - kP * z[kPosition];
      z[kPositionIntegral] += kiP * error;
      const double pi = kpP * error + z[kPositionIntegral];
      if (loop == OuterLoop::PositionOverSpeedLoop) {
        output = Filter(z, speedReferenceChain, pi) + speedFeedForward * referenceSpeed;
        iqRef = SpeedLaw(z, applied != nullptr ? *applied : output, acceleration);
      } else {
        z[kDerivative] += derivativeFilter * ((error - z[kLastError]) - z[kDerivative]);
        z[kLastError] = error;
        iqRef = output = CurrentReference(z, pi + kdP * z[kDerivative], acceleration);
        if (applied != nullptr) iqRef = *applied;
      }
      iqRef = std::clamp(iqRef, -currentLimit, currentLimit);
    }
    z[kTravel] = 0.0;
    for (int k = 0; k < ticks; ++k) CurrentPeriod(z, iqRef);
    return output;
  }
};

using Matrix = std::vector<std::vector<double>>;

// Characteristic polynomial det(zI - A) by Faddeev-LeVerrier, from the
// constant term up: exact for the handful of states here.
std::vector<double> CharacteristicPolynomial(const Matrix& A) {
  const std::size_t n = A.size();
  std::vector<double> c(n + 1, 0.0);
  c[n] = 1.0;
  Matrix M(n, std::vector<double>(n, 0.0)), AM(n, std::vector<double>(n, 0.0));
  for (std::size_t k = 1; k <= n; ++k) {
    for (std::size_t i = 0; i < n; ++i) M[i][i] += c[n - k + 1];  // M_k = A M_{k-1} + c I
    double trace = 0.0;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = 0; j < n; ++j) {
        double sum = 0.0;
        for (std::size_t l = 0; l < n; ++l) sum += A[i][l] * M[l][j];
        AM[i][j] = sum;
      }
    for (std::size_t i = 0; i < n; ++i) trace += AM[i][i];
    c[n - k] = -trace / static_cast<double>(k);
    M = AM;
  }
  return c;
}

// Solves (z I - A) x = g for x, by elimination with partial pivoting; the
// caller has made sure z is no eigenvalue (the loop is stable and |z| = 1).
std::vector<std::complex<double>> SolveShifted(const Matrix& A, std::complex<double> z, const std::vector<double>& g) {
  const std::size_t n = A.size();
  std::vector<std::vector<std::complex<double>>> m(n, std::vector<std::complex<double>>(n + 1));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) m[i][j] = (i == j ? z : 0.0) - A[i][j];
    m[i][n] = g[i];
  }
  for (std::size_t col = 0; col < n; ++col) {
    std::size_t pivot = col;
    for (std::size_t i = col + 1; i < n; ++i)
      if (std::abs(m[i][col]) > std::abs(m[pivot][col])) pivot = i;
    std::swap(m[col], m[pivot]);
    for (std::size_t i = col + 1; i < n; ++i) {
      const std::complex<double> factor = m[i][col] / m[col][col];
      for (std::size_t j = col; j <= n; ++j) m[i][j] -= factor * m[col][j];
    }
  }
  std::vector<std::complex<double>> x(n);
  for (std::size_t i = n; i-- > 0;) {
    std::complex<double> sum = m[i][n];
    for (std::size_t j = i + 1; j < n; ++j) sum -= m[i][j] * x[j];
    x[i] = sum / m[i][i];
  }
  return x;
}

// A gain register pair as the drive reads it: mantissa 2^shift / 32767,
// the shift a whole number 0 to 31.
double RegisterGain(double mantissa, double shift) {
  return std::ldexp(mantissa, static_cast<int>(std::clamp(shift, 0.0, 31.0))) / 32767.0;
}

bool AllFound(const CMC_Setup& setup, std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (FindParameterQuiet(setup, name) == nullptr) return false;
  return true;
}

bool BuildOuterModel(const CMC_Setup& setup, OuterLoop loop, OuterModel& model) {
  if (!AllFound(setup, {"R", "L", "MotorPhaseConnectionType", "Kp_C_scl", "Ki_C_scl", "CLPER", "SLPER", "PWMPER",
                        "DSP_freq", "ImaxPS", "Vdc", "Mt", "Kf", "SINCOS_fract", "EncRes"}))
    return false;
  const bool speedLoop = loop != OuterLoop::PositionPid;
  const bool positionLoop = loop != OuterLoop::Speed;
  if (speedLoop && !AllFound(setup, {"Kp_S_scl", "Ki_S_scl"})) return false;
  if (positionLoop && !AllFound(setup, {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl"})) return false;
  auto value = [&](const char* name) { return setup.GetParameterValueInBaseUnit(name); };
  auto optional = [&](const char* name, double absent) {
    return FindParameterQuiet(setup, name) != nullptr ? value(name) : absent;
  };

  OuterModel& m = model;
  m.loop = loop;
  const double r = value("R");
  m.tau = value("L") / r;
  m.rPhase = value("MotorPhaseConnectionType") == 1.0 ? r / 3.0 : r;
  m.tsC = CurrentLoopPeriod(setup);
  m.kI = CurrentScale(setup);
  m.kV = VoltageCommandScale(setup);
  m.kpC = value("Kp_C_scl");
  m.kiC = value("Ki_C_scl");
  const double mass = value("Mt"), kf = value("Kf");
  m.forcePerMass = kf / mass;
  m.emfPerSpeed = 2.0 / 3.0 * kf;
  // The drive's own choice of loop rate: "PosSpd_in_FastLoop" (optional).
  const double tsS = SpeedLoopPeriod(setup);
  const bool fast = optional("PosSpd_in_FastLoop", 0.0) != 0.0;
  m.t = fast ? m.tsC : tsS;
  m.ticks = fast ? 1 : static_cast<int>(std::clamp(std::round(tsS / m.tsC), 1.0, 1000.0));
  m.kS = MotorSpeedScale(setup);
  m.kP = MotorPositionScale(setup);
  if (speedLoop) {
    m.kpS = value("Kp_S_scl");
    m.kiS = value("Ki_S_scl");
  }
  if (positionLoop) {
    m.kpP = value("Kp_P_scl");
    m.kiP = value("Ki_P_scl");
    m.kdP = loop == OuterLoop::PositionPid ? value("Kd_P_scl") : 0.0;
    m.derivativeFilter = std::clamp(optional("KDFP", 32767.0) / 32767.0, 0.0, 1.0);
  }
  // The feed-forward and the slots, from their registers as the drive reads
  // them; an absent register reads 0 (the term is off).
  const double periodsPerSpeedPeriod = std::clamp(std::round(tsS / m.tsC), 1.0, 1000.0);
  m.speedPerTick = fast ? periodsPerSpeedPeriod : 1.0;
  m.accelerationFeedForward =
      RegisterGain(optional("KFFA", 0.0), std::clamp(optional("SFTKFF", 0.0), 0.0, 31.0) +
                                              std::clamp(optional("SFTAFFW", 0.0), 0.0, 31.0));
  // "SpeedForward", bit 14 of "ACR", switches the speed feed-forward on.
  const double acr = std::trunc(optional("ACR", 0.0));
  const bool speedForward = std::isfinite(acr) && std::fmod(std::floor(std::ldexp(std::fabs(acr), -14)), 2.0) == 1.0;
  m.speedFeedForward = speedForward ? RegisterGain(optional("KFFS", 0.0), optional("SFTSFFW", 0.0)) : 0.0;
  for (std::size_t slot = 0; slot < m.slots.size(); ++slot) {
    const std::string prefix = "BQ" + std::to_string(slot + 1);
    auto coefficient = [&](const char* suffix) { return optional((prefix + suffix).c_str(), 0.0); };
    const double scale = coefficient("SF") / 2147483648.0;  // SF / 2^31
    m.slots[slot] = {coefficient("B0") * scale, coefficient("B1") * scale, coefficient("B2") * scale,
                     coefficient("A1") * scale, coefficient("A2") * scale};
  }
  // Slots in the order speed reference, current reference, speed feedback,
  // each place's share consecutive, never beyond the last slot.
  auto count = [&](const char* name, int room) {
    return static_cast<int>(std::clamp(std::trunc(optional(name, 0.0)), 0.0, static_cast<double>(room)));
  };
  int next = 0;
  for (auto [chain, name] : {std::pair{&m.speedReferenceChain, "SPDREF_BQ_INI"},
                             std::pair{&m.currentReferenceChain, "IQREF_BQ_INI"},
                             std::pair{&m.speedFeedbackChain, "ASPD_BQ_INI"}}) {
    *chain = {next, count(name, kBiquadSlotCount - next)};
    next += chain->count;
  }
  for (double x : {m.tau, m.rPhase, m.tsC, m.kI, m.kV, m.kpC, m.kiC, m.forcePerMass, m.t, tsS, m.kS, m.kP, m.kpS,
                   m.kiS, m.kpP, m.kiP, m.kdP, m.derivativeFilter, m.accelerationFeedForward, m.speedFeedForward})
    if (!std::isfinite(x)) return false;
  for (const OuterModel::Slot& c : m.slots)
    for (double x : {c.b0, c.b1, c.b2, c.a1, c.a2})
      if (!std::isfinite(x)) return false;
  if (!(m.tau > 0.0 && m.rPhase > 0.0 && m.tsC > 0.0 && m.kI > 0.0 && m.kV > 0.0 && mass > 0.0 && kf != 0.0 &&
        m.t > 0.0 && m.kS > 0.0 && m.kP > 0.0))
    return false;
  m.a = std::exp(-m.tsC / m.tau);
  return true;
}

bool PredictOuterLoop(const CMC_Setup& setup, OuterLoop loop, int samples, SampledLoopResponse& response,
                      LoopTerms terms) {
  response = {};
  OuterModel model;
  if (samples < 2 || !BuildOuterModel(setup, loop, model)) return false;
  if (terms == LoopTerms::FeedbackOnly) model.accelerationFeedForward = model.speedFeedForward = 0.0;
  response.period_s = model.t;

  Vector z{};
  response.step.reserve(static_cast<std::size_t>(samples));
  for (int k = 0; k < samples; ++k) {
    response.step.push_back(model.Measured(z));
    model.Tick(z, 1.0);
  }

  // The tick as a linear map of the states: z' = A z + g r,
  // y = c z. Its columns are the ticks of unit states with r = 0.
  const std::vector<std::size_t> states = model.States();
  const std::size_t n = states.size();
  Matrix A(n, std::vector<double>(n, 0.0));
  std::vector<double> g(n), c(n);
  for (std::size_t j = 0; j < n; ++j) {
    Vector unit{};
    unit[states[j]] = 1.0;
    c[j] = model.Measured(unit);
    model.Tick(unit, 0.0);
    for (std::size_t i = 0; i < n; ++i) A[i][j] = unit[states[i]];
  }
  Vector fromRest{};
  model.Tick(fromRest, 1.0);
  for (std::size_t i = 0; i < n; ++i) g[i] = fromRest[states[i]];

  // The reference's states come last and no state feeds them: A is block
  // triangular and their block nilpotent: the loop's own block decides
  // stability.
  const std::size_t loopStates = model.LoopStates().size();
  Matrix loopBlock(loopStates, std::vector<double>(loopStates));
  for (std::size_t i = 0; i < loopStates; ++i)
    for (std::size_t j = 0; j < loopStates; ++j) loopBlock[i][j] = A[i][j];
  response.stable = IsSchurStable(CharacteristicPolynomial(loopBlock));
  if (!response.stable) return true;
  StepShape(response);
  response.bandwidth_Hz = Bandwidth(model.t, [&](double f) {
    const std::vector<std::complex<double>> x =
        SolveShifted(A, std::polar(1.0, 2.0 * std::numbers::pi * f * model.t), g);
    std::complex<double> y = 0.0;
    for (std::size_t i = 0; i < n; ++i) y += c[i] * x[i];
    return y;
  });
  return true;
}

}  // namespace

bool SimulateProfile(const CMC_Setup& setup, const std::vector<double>& reference, const ProfileNonlinearities& terms,
                     std::vector<double>& measured) {
  measured.clear();
  OuterLoop loop = OuterLoop::Speed;
  if (terms.position) {
    if (FindParameterQuiet(setup, "PositionControlType") == nullptr) return false;
    loop = setup.GetParameterValueInBaseUnit("PositionControlType") == 1.0 ? OuterLoop::PositionOverSpeedLoop
                                                                             : OuterLoop::PositionPid;
  }
  OuterModel model;
  if (!BuildOuterModel(setup, loop, model)) return false;
  const double mass = setup.GetParameterValueInBaseUnit("Mt");
  if (terms.current_A > 0.0) model.currentLimit = terms.current_A * model.kI;
  if (terms.voltage_V > 0.0) model.voltageLimit_V = terms.voltage_V;
  model.dryDeceleration = std::max(0.0, terms.dryFriction_N) / mass;
  model.viscousDeceleration = std::max(0.0, terms.viscousFriction_N_s_per_m) / mass;
  const double scale = terms.position ? model.kP : model.kS;
  Vector z{};
  measured.reserve(reference.size());
  for (const double r : reference) {
    if (!std::isfinite(r)) {
      measured.clear();
      return false;
    }
    measured.push_back(model.Measured(z) / scale);
    model.Tick(z, r * scale);
  }
  return true;
}

bool PredictSpeedLoop(const CMC_Setup& setup, int samples, SampledLoopResponse& response, LoopTerms terms) {
  return PredictOuterLoop(setup, OuterLoop::Speed, samples, response, terms);
}

bool PredictPositionLoop(const CMC_Setup& setup, int samples, SampledLoopResponse& response, LoopTerms terms) {
  response = {};
  if (FindParameterQuiet(setup, "PositionControlType") == nullptr) return false;
  const bool overSpeedLoop = setup.GetParameterValueInBaseUnit("PositionControlType") == 1.0;
  return PredictOuterLoop(setup, overSpeedLoop ? OuterLoop::PositionOverSpeedLoop : OuterLoop::PositionPid, samples,
                          response, terms);
}

bool BreakLoop(const CMC_Setup& setup, TunedLoop loop, OpenLoop& open) {
  open = OpenLoop();
  if (loop == TunedLoop::Current) {
    // The drive's one period of delay: the command computed at a sample is
    // applied through the next period. States: the current, the integral,
    // the pending command.
    CurrentLoopCoefficients c;
    if (!ReadCurrentLoop(setup, c)) return false;
    open.m_a = {{c.a, 0.0, c.b}, {-c.ki, 1.0, 0.0}, {0.0, 0.0, 0.0}};
    open.m_b = {0.0, 0.0, 1.0};
    open.m_c = {c.kp + c.ki, -1.0, 0.0};  // minus Kp e + the new integral, e = -i
    open.m_period_s = c.ts;
    open.Reduce();
    return true;
  }
  OuterLoop outer = OuterLoop::Speed;
  if (loop == TunedLoop::Position) {
    if (FindParameterQuiet(setup, "PositionControlType") == nullptr) return false;
    outer = setup.GetParameterValueInBaseUnit("PositionControlType") == 1.0 ? OuterLoop::PositionOverSpeedLoop
                                                                           : OuterLoop::PositionPid;
  }
  OuterModel model;
  if (!BuildOuterModel(setup, outer, model)) return false;
  // The reference is 0 and stays so: the feed-forward is outside the loop.
  const std::vector<std::size_t> states = model.LoopStates();
  const std::size_t n = states.size();
  open.m_a.assign(n, std::vector<double>(n, 0.0));
  open.m_b.assign(n, 0.0);
  open.m_c.assign(n, 0.0);
  const double none = 0.0, unitInput = 1.0;
  for (std::size_t j = 0; j < n; ++j) {
    Vector unit{};
    unit[states[j]] = 1.0;
    open.m_c[j] = -model.Tick(unit, 0.0, &none);
    for (std::size_t i = 0; i < n; ++i) open.m_a[i][j] = unit[states[i]];
  }
  Vector fromRest{};
  model.Tick(fromRest, 0.0, &unitInput);
  for (std::size_t i = 0; i < n; ++i) open.m_b[i] = fromRest[states[i]];
  open.m_period_s = model.t;
  open.Reduce();
  return true;
}

// The states span many orders of magnitude (converter counts, metres,
// integrals of counts): first a diagonal similarity by powers of 2 (exact)
// evens out each state's row and column, as the usual balancing does, so
// that the reflections below mix no tiny entry with a huge one; a double
// pole at z = 1 (the integral and the mass) would split by the square root
// of the rounding, a pole pair near 1 rad/s on a 2 kHz loop. Then
// Householder reflections P = I - 2 v v' / v'v, one per column, bring A to
// upper Hessenberg form P A P; B and C follow into the same basis.
void OpenLoop::Reduce() {
  const std::size_t n = m_b.size();
  for (bool changed = true; changed;) {
    changed = false;
    for (std::size_t i = 0; i < n; ++i) {
      double column = 0.0, row = 0.0;
      for (std::size_t j = 0; j < n; ++j)
        if (j != i) {
          column += std::fabs(m_a[j][i]);
          row += std::fabs(m_a[i][j]);
        }
      if (column == 0.0 || row == 0.0) continue;
      double f = 1.0;
      const double sum = column + row;
      while (column < row / 2.0) {
        column *= 2.0;
        row /= 2.0;
        f *= 2.0;
      }
      while (column >= row * 2.0) {
        column /= 2.0;
        row *= 2.0;
        f /= 2.0;
      }
      if (column + row >= 0.95 * sum) continue;
      changed = true;
      for (std::size_t j = 0; j < n; ++j) {
        m_a[j][i] *= f;
        m_a[i][j] /= f;
      }
      m_b[i] /= f;
      m_c[i] *= f;
    }
  }
  for (std::size_t k = 0; k + 2 < n; ++k) {
    std::vector<double> v(n, 0.0);
    double norm = 0.0;
    for (std::size_t i = k + 1; i < n; ++i) norm += m_a[i][k] * m_a[i][k];
    norm = std::sqrt(norm);
    if (norm == 0.0) continue;
    const double alpha = m_a[k + 1][k] > 0.0 ? -norm : norm;
    for (std::size_t i = k + 1; i < n; ++i) v[i] = m_a[i][k];
    v[k + 1] -= alpha;
    double vv = 0.0;
    for (std::size_t i = k + 1; i < n; ++i) vv += v[i] * v[i];
    if (vv == 0.0) continue;
    // Rows: A = A - v (2 v' A / v'v); B likewise.
    for (std::size_t j = 0; j < n; ++j) {
      double dot = 0.0;
      for (std::size_t i = k + 1; i < n; ++i) dot += v[i] * m_a[i][j];
      dot *= 2.0 / vv;
      for (std::size_t i = k + 1; i < n; ++i) m_a[i][j] -= dot * v[i];
    }
    double dotB = 0.0;
    for (std::size_t i = k + 1; i < n; ++i) dotB += v[i] * m_b[i];
    dotB *= 2.0 / vv;
    for (std::size_t i = k + 1; i < n; ++i) m_b[i] -= dotB * v[i];
    // Columns: A = A - (2 A v / v'v) v'; C likewise.
    for (std::size_t i = 0; i < n; ++i) {
      double dot = 0.0;
      for (std::size_t j = k + 1; j < n; ++j) dot += m_a[i][j] * v[j];
      dot *= 2.0 / vv;
      for (std::size_t j = k + 1; j < n; ++j) m_a[i][j] -= dot * v[j];
    }
    double dotC = 0.0;
    for (std::size_t j = k + 1; j < n; ++j) dotC += m_c[j] * v[j];
    dotC *= 2.0 / vv;
    for (std::size_t j = k + 1; j < n; ++j) m_c[j] -= dotC * v[j];
    for (std::size_t i = k + 2; i < n; ++i) m_a[i][k] = 0.0;
  }
}

std::complex<double> OpenLoop::At(double w_rad_s) const {
  const std::size_t n = m_b.size();
  if (n == 0) return 0.0;
  const std::complex<double> z = std::polar(1.0, w_rad_s * m_period_s);
  // (z I - H) x = B by elimination down the one subdiagonal, then back.
  std::vector<std::complex<double>> m(n * n), x(m_b.begin(), m_b.end());
  auto at = [&](std::size_t i, std::size_t j) -> std::complex<double>& { return m[i * n + j]; };
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) at(i, j) = (i == j ? z : 0.0) - m_a[i][j];
  for (std::size_t k = 0; k + 1 < n; ++k) {
    if (std::abs(at(k + 1, k)) > std::abs(at(k, k))) {
      for (std::size_t j = k; j < n; ++j) std::swap(at(k, j), at(k + 1, j));
      std::swap(x[k], x[k + 1]);
    }
    if (at(k, k) == 0.0) continue;
    const std::complex<double> factor = at(k + 1, k) / at(k, k);
    for (std::size_t j = k; j < n; ++j) at(k + 1, j) -= factor * at(k, j);
    x[k + 1] -= factor * x[k];
  }
  std::complex<double> y = 0.0;
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t j = i + 1; j < n; ++j) x[i] -= at(i, j) * x[j];
    x[i] /= at(i, i);
    y += m_c[i] * x[i];
  }
  return y;
}

bool OpenLoop::ClosedLoopStable() const {
  const std::size_t n = m_b.size();
  if (n == 0) return false;
  Matrix closed = m_a;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) closed[i][j] -= m_b[i] * m_c[j];
  return IsSchurStable(CharacteristicPolynomial(closed));
}

bool DesignedLoopStep(ControllerModel model, double passband_rad_s, double damping, double period_s, int samples,
                      SampledLoopResponse& response) {
  response = {};
  const double w = passband_rad_s, zeta = damping;
  if (!(std::isfinite(w) && w > 0.0 && std::isfinite(zeta) && zeta >= 0.0 && std::isfinite(period_s) &&
        period_s > 0.0 && samples >= 2))
    return false;
  // num(s) / den(s), coefficients from s^0 up, den monic.
  std::vector<double> num, den;
  switch (model) {
    case ControllerModel::Speed:
    case ControllerModel::PositionOverSpeedLoop:
      num = {w * w, 2.0 * zeta * w};
      den = {w * w, 2.0 * zeta * w, 1.0};
      break;
    case ControllerModel::PositionPid: {
      const double c = (2.0 * zeta + 1.0) * w;
      num = {w * w * w, c * w, c};
      den = {w * w * w, c * w, c, 1.0};
      break;
    }
    case ControllerModel::CurrentPolePlacement:
    case ControllerModel::CurrentFastWinding:
      return false;
  }
  response.period_s = period_s;
  response.stable = zeta > 0.0;

  // Controllable canonical form, x' = F x + e_n, y = num . x, integrated by
  // RK4 in steps of at most a hundredth of 1 / w: far below the samples'
  // own rounding.
  const std::size_t n = den.size() - 1;
  const int substeps = std::max(1, static_cast<int>(std::ceil(period_s * w * 100.0)));
  const double h = period_s / substeps;
  using State = std::vector<double>;
  auto derivative = [&](const State& x) {
    State d(n);
    for (std::size_t i = 0; i + 1 < n; ++i) d[i] = x[i + 1];
    double last = 1.0;
    for (std::size_t i = 0; i < n; ++i) last -= den[i] * x[i];
    d[n - 1] = last;
    return d;
  };
  auto plus = [&](const State& x, const State& d, double scale) {
    State y(n);
    for (std::size_t i = 0; i < n; ++i) y[i] = x[i] + scale * d[i];
    return y;
  };
  State x(n, 0.0);
  response.step.reserve(static_cast<std::size_t>(samples));
  for (int k = 0; k < samples; ++k) {
    double y = 0.0;
    for (std::size_t i = 0; i < num.size(); ++i) y += num[i] * x[i];
    response.step.push_back(y);
    for (int s = 0; s < substeps; ++s) {
      const State k1 = derivative(x), k2 = derivative(plus(x, k1, h / 2.0)), k3 = derivative(plus(x, k2, h / 2.0)),
                  k4 = derivative(plus(x, k3, h));
      for (std::size_t i = 0; i < n; ++i) x[i] += h / 6.0 * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
    }
  }
  if (response.stable) StepShape(response);
  response.bandwidth_Hz = Bandwidth(period_s, [&](double f) {
    const std::complex<double> s(0.0, 2.0 * std::numbers::pi * f);
    std::complex<double> top = 0.0, bottom = 0.0, power = 1.0;
    for (std::size_t i = 0; i < den.size(); ++i, power *= s) {
      if (i < num.size()) top += num[i] * power;
      bottom += den[i] * power;
    }
    return top / bottom;
  });
  return true;
}

std::vector<double> ResponseToReference(const SampledLoopResponse& loop, const std::vector<double>& time_s,
                                        const std::vector<double>& reference, double initial) {
  const std::size_t n = std::min(time_s.size(), reference.size());
  if (n == 0 || loop.step.empty() || !(loop.period_s > 0.0)) return {};
  const auto stepAt = [&loop](double t) {
    const double x = t / loop.period_s;
    if (!(x > 0.0)) return loop.step.front();
    const auto last = loop.step.size() - 1;
    if (x >= static_cast<double>(last)) return loop.step.back();
    const auto k = static_cast<std::size_t>(x);
    return loop.step[k] + (x - static_cast<double>(k)) * (loop.step[k + 1] - loop.step[k]);
  };
  std::vector<double> response(n, initial);
  double previous = reference[0];
  for (std::size_t k = 0; k < n; ++k) {
    const double change = reference[k] - previous;
    previous = reference[k];
    if (change == 0.0 || !std::isfinite(change)) continue;
    for (std::size_t i = k; i < n; ++i) response[i] += change * stepAt(time_s[i] - time_s[k]);
  }
  return response;
}
