#include "LoopResponse.h"

#include <cmath>
#include <complex>
#include <numbers>

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

}  // namespace

bool PredictCurrentLoop(const CMC_Setup& setup, int delayPeriods, int samples, SampledLoopResponse& response) {
  response = {};
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
  if (!(tau > 0.0 && rPhase > 0.0 && ts > 0.0 && kI > 0.0 && kV > 0.0) || delayPeriods < 0 || samples < 2)
    return false;

  const double a = std::exp(-ts / tau);
  const double b = (1.0 - a) / rPhase * kI / kV;
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
  if (response.stable) {
    double peak = 1.0;
    for (double y : response.step) peak = std::fmax(peak, y);
    response.overshoot = peak - 1.0;
    response.rise_s = Crossing(response.step, 0.9, ts) - Crossing(response.step, 0.1, ts);
  }

  // Closed loop T = L / (1 + L), L(z) = b ((Kp + Ki) z - Kp) / ((z - 1)(z - a) z^d),
  // on a grid of a thousandth of the Nyquist frequency, ending below it.
  const double nyquist_Hz = 0.5 / ts;
  for (int step = 1; step < 1000; ++step) {
    const double f = nyquist_Hz * step / 1000.0;
    const std::complex<double> z = std::polar(1.0, 2.0 * std::numbers::pi * f * ts);
    const std::complex<double> open =
        b * ((kp + ki) * z - kp) / ((z - 1.0) * (z - a) * std::pow(z, static_cast<int>(d)));
    if (std::abs(open / (1.0 + open)) < std::numbers::sqrt2 / 2.0) {
      response.bandwidth_Hz = f;
      break;
    }
  }
  return true;
}
