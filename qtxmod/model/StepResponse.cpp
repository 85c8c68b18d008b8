#include "StepResponse.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "LoopResponse.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A reference that moves by no more than this share of its largest magnitude
// holds still: rounding, not a step.
constexpr double kLeastChange = 1e-6;
constexpr double kBand = 0.02;

double Mean(const std::vector<double>& v, std::size_t from, std::size_t to) {
  double sum = 0.0;
  for (std::size_t k = from; k < to; ++k) sum += v[k];
  return sum / static_cast<double>(to - from);
}

// When the normalised response u first reaches `level`, searched from sample
// `from` on: at that sample when it is already there, else interpolated on the
// segment where it gets there. NaN when it never does.
double Reaching(const std::vector<double>& t, const std::vector<double>& u, double level, std::size_t from) {
  for (std::size_t k = from; k < u.size(); ++k) {
    if (u[k] < level) continue;
    if (k == from) return t[k];
    return t[k - 1] + (t[k] - t[k - 1]) * (level - u[k - 1]) / (u[k] - u[k - 1]);
  }
  return kNaN;
}

}  // namespace

std::string ThreeSignificantDigits(double x) {
  if (!std::isfinite(x) || x == 0.0) return "0";
  // log10 of a finite non-zero double lies within +/-324: safe to convert.
  const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(x))));
  const int decimals = std::clamp(2 - magnitude, 0, 15);
  char text[400];
  std::snprintf(text, sizeof text, "%.*f", decimals, x);
  std::string s = text;
  if (s.find('.') != std::string::npos) {
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
  }
  return s == "-0" ? "0" : s;
}

StepFigures MeasureStep(const std::vector<double>& time_s, const std::vector<double>& reference,
                        const std::vector<double>& response) {
  StepFigures f;
  const std::size_t n = time_s.size();
  if (n < 4 || reference.size() != n || response.size() != n) return f;
  double scale = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    if (!std::isfinite(time_s[k]) || !std::isfinite(reference[k]) || !std::isfinite(response[k])) return f;
    if (k > 0 && !(time_s[k] > time_s[k - 1])) return f;
    scale = std::max(scale, std::fabs(reference[k]));
  }

  // The last 10 % of the samples (at least one) hold the values after the step.
  const std::size_t tail = n - (n + 9) / 10;
  const double final = Mean(reference, tail, n);
  const double roughChange = final - reference[0];
  if (!std::isfinite(roughChange) || !(std::fabs(roughChange) > kLeastChange * scale)) return f;
  // The first sample at or past half of the change; never sample 0, and one
  // exists, since the tail's mean lies at the full change.
  std::size_t step = 1;
  while (step < n && (reference[step] - reference[0]) / roughChange < 0.5) ++step;
  if (step >= tail) return f;
  const double initial = Mean(reference, 0, step);
  const double change = final - initial;
  if (!std::isfinite(change) || !(std::fabs(change) > kLeastChange * scale)) return f;

  // The response as a share of the change: 0 before the step, 1 at the final
  // reference, whichever way the reference went.
  std::vector<double> u(n);
  for (std::size_t k = 0; k < n; ++k) {
    u[k] = (response[k] - initial) / change;
    if (!std::isfinite(u[k])) return f;
  }
  double error = 0.0;
  for (std::size_t k = tail; k < n; ++k) error += reference[k] - response[k];
  error /= static_cast<double>(n - tail);
  if (!std::isfinite(error)) return f;

  f.valid = true;
  f.stepTime_s = time_s[step];
  f.initial = initial;
  f.final = final;
  f.steadyStateError = error;

  // From the last sample before the step, so that a response that gets there
  // on the step's own sample is interpolated on the segment that leads to it.
  // The 90 % sample never comes before the 10 % one, so the rise is never
  // negative.
  const double t10 = Reaching(time_s, u, 0.1, step - 1);
  const double t90 = Reaching(time_s, u, 0.9, step - 1);
  f.rise_s = t90 - t10;  // NaN when 90 % is never reached

  double peak = 1.0;
  for (std::size_t k = step; k < n; ++k) peak = std::max(peak, u[k]);
  f.overshoot = peak - 1.0;

  // The last sample outside the band, then back into it on the next segment.
  std::size_t last = n;
  for (std::size_t k = n; k-- > step;)
    if (std::fabs(u[k] - 1.0) > kBand) {
      last = k;
      break;
    }
  if (last == n) {
    f.settling_s = 0.0;  // inside the band from the step's sample on
  } else if (last + 1 < n) {
    const double edge = u[last] > 1.0 ? 1.0 + kBand : 1.0 - kBand;
    const double t = time_s[last] + (time_s[last + 1] - time_s[last]) * (edge - u[last]) / (u[last + 1] - u[last]);
    f.settling_s = t - f.stepTime_s;
  }  // else still outside at the record's end: NaN
  return f;
}

StepFigures MeasurePredictedStep(const SampledLoopResponse& response, double amplitude, double stepTime_s) {
  const std::size_t n = response.step.size() + 1;
  std::vector<double> time_s(n), reference(n, amplitude), measured(n, 0.0);
  reference[0] = 0.0;
  for (std::size_t k = 0; k < n; ++k) time_s[k] = stepTime_s + (static_cast<double>(k) - 1.0) * response.period_s;
  for (std::size_t k = 1; k < n; ++k) measured[k] = amplitude * response.step[k - 1];
  return MeasureStep(time_s, reference, measured);
}

std::string FormatStepFigures(const StepFigures& figures, const char* unit) {
  if (!figures.valid) return "No step found in the record";
  auto milliseconds = [](double seconds, const char* missing) {
    return std::isnan(seconds) ? std::string(missing) : ThreeSignificantDigits(seconds * 1e3) + " ms";
  };
  char overshoot[64];
  std::snprintf(overshoot, sizeof overshoot, "%.1f %%", figures.overshoot * 100.0);
  std::string error = ThreeSignificantDigits(figures.steadyStateError);
  if (unit != nullptr && *unit != '\0') error += std::string(" ") + unit;
  return "Rise time (10-90 %): " + milliseconds(figures.rise_s, "not reached") + "\nOvershoot: " + overshoot +
         "\nSettling time (2 %): " + milliseconds(figures.settling_s, "not settled") +
         "\nSteady-state error: " + error;
}

std::string CompareFigureLines(const std::string& measured, const std::string& model) {
  std::string compared;
  std::size_t at = 0, modelAt = 0;
  while (at <= measured.size()) {
    const std::size_t end = std::min(measured.find('\n', at), measured.size());
    const std::size_t modelEnd = std::min(model.find('\n', modelAt), model.size());
    const std::string modelLine = modelAt <= model.size() ? model.substr(modelAt, modelEnd - modelAt) : std::string();
    const std::size_t colon = modelLine.find(": ");
    compared += measured.substr(at, end - at);
    if (colon != std::string::npos) compared += " (model " + modelLine.substr(colon + 2) + ")";
    if (end < measured.size()) compared += '\n';
    at = end + 1;
    modelAt = modelEnd + 1;
  }
  return compared;
}
