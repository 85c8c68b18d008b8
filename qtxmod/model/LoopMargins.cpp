#include "LoopMargins.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "BiquadDesign.h"
#include "FeatureProbes.h"
#include "StepResponse.h"
#include "axcore/Setup.h"

namespace {

constexpr double kDecades = 5.0;
constexpr int kPointsPerDecade = 100;
constexpr int kRefinements = 40;  // halvings of a grid step: far below 1e-9

double Decibels(double gain) { return 20.0 * std::log10(gain); }

// The root of f between w0 and w1 (f(w0), f(w1) of opposite signs or one
// of them 0), halving in the logarithm of the frequency.
template <class F>
double Bisect(F f, double w0, double w1) {
  double f0 = f(w0);
  for (int k = 0; k < kRefinements; ++k) {
    const double middle = std::sqrt(w0 * w1), fm = f(middle);
    if ((fm <= 0.0) == (f0 <= 0.0)) {
      w0 = middle;
      f0 = fm;
    } else {
      w1 = middle;
    }
  }
  return std::sqrt(w0 * w1);
}

}  // namespace

LoopMargins ComputeLoopMargins(const CMC_Setup& setup, TunedLoop loop) {
  OpenLoop open;
  if (!BreakLoop(setup, loop, open)) return {};
  return ComputeLoopMargins(open);
}

LoopMargins ComputeLoopMargins(const OpenLoop& open) {
  LoopMargins m;
  if (!(open.Period_s() > 0.0) || open.States() == 0) return m;
  m.valid = true;
  m.period_s = open.Period_s();
  m.stable = open.ClosedLoopStable();
  const double nyquist = std::numbers::pi / m.period_s;
  const int points = static_cast<int>(kDecades) * kPointsPerDecade;
  m.frequency_rad_s.reserve(points + 1);
  m.response.reserve(points + 1);
  for (int k = 0; k <= points; ++k) {
    // The last point exactly at the Nyquist frequency, where L is real.
    const double w = k == points ? nyquist : nyquist * std::pow(10.0, -kDecades + static_cast<double>(k) / kPointsPerDecade);
    m.frequency_rad_s.push_back(w);
    m.response.push_back(open.At(w));
  }
  auto gainAbove1 = [&](double w) { return std::abs(open.At(w)) - 1.0; };
  auto imaginary = [&](double w) { return open.At(w).imag(); };
  auto sensitivity = [&](double w) { return 1.0 / std::abs(1.0 + open.At(w)); };

  double peak = 0.0;
  std::size_t peakAt = 0;
  for (std::size_t k = 0; k < m.response.size(); ++k) {
    const std::complex<double> l = m.response[k];
    if (const double s = 1.0 / std::abs(1.0 + l); s > peak) {
      peak = s;
      peakAt = k;
    }
    if (k == 0) continue;
    const double w0 = m.frequency_rad_s[k - 1], w1 = m.frequency_rad_s[k];
    const std::complex<double> l0 = m.response[k - 1];
    // |L| passes 1: a crossover.
    if ((std::abs(l0) - 1.0 > 0.0) != (std::abs(l) - 1.0 > 0.0)) {
      const double w = Bisect(gainAbove1, w0, w1);
      const double margin = std::arg(-open.At(w)) * 180.0 / std::numbers::pi;
      m.crossover_rad_s = std::max(m.crossover_rad_s, w);
      m.phaseMargin_deg = std::min(m.phaseMargin_deg, margin);
    }
    // The phase passes -180 degrees: L crosses the negative real axis (at
    // the Nyquist frequency L is real, and may end on it).
    const bool crosses = (l0.imag() > 0.0) != (l.imag() > 0.0) || (k + 1 == m.response.size() && l.imag() == 0.0);
    if (crosses && (l0.real() < 0.0 || l.real() < 0.0)) {
      const double w = l.imag() == 0.0 ? w1 : Bisect(imaginary, w0, w1);
      const std::complex<double> at = open.At(w);
      if (at.real() >= 0.0) continue;
      const double gain = std::abs(at);
      if (gain < 1.0 && -Decibels(gain) < m.gainMargin_dB) {
        m.gainMargin_dB = -Decibels(gain);
        m.gainMarginAt_rad_s = w;
      } else if (gain >= 1.0 && Decibels(gain) < m.gainReductionMargin_dB) {
        m.gainReductionMargin_dB = Decibels(gain);
        m.gainReductionMarginAt_rad_s = w;
      }
    }
  }
  // The peak between the grid's neighbours of its largest point.
  double a = m.frequency_rad_s[peakAt == 0 ? 0 : peakAt - 1];
  double b = m.frequency_rad_s[std::min(peakAt + 1, m.frequency_rad_s.size() - 1)];
  for (int k = 0; k < kRefinements; ++k) {
    const double third = (b - a) / 3.0;
    if (sensitivity(a + third) < sensitivity(b - third))
      a += third;
    else
      b -= third;
  }
  const double w = 0.5 * (a + b);
  m.sensitivityPeakAt_rad_s = sensitivity(w) > peak ? w : m.frequency_rad_s[peakAt];
  m.sensitivityPeak_dB = Decibels(std::max(peak, sensitivity(w)));
  return m;
}

bool MarginBoundsNamed(const std::string& name, MarginBounds& bounds) {
  if (name == "gentle")
    bounds = {65.0, 12.0, 4.0};
  else if (name == "standard")
    bounds = {55.0, 8.0, 6.0};
  else if (name == "firm")
    bounds = {45.0, 6.0, 8.0};
  else
    return false;
  return true;
}

bool MeetsBounds(const LoopMargins& m, const MarginBounds& bounds) {
  return m.valid && m.stable && m.crossover_rad_s > 0.0 && m.phaseMargin_deg >= bounds.phaseMargin_deg &&
         m.gainMargin_dB >= bounds.gainMargin_dB && m.gainReductionMargin_dB >= bounds.gainMargin_dB &&
         m.sensitivityPeak_dB <= bounds.sensitivityPeak_dB;
}

std::string FormatMargins(const LoopMargins& m) {
  if (!m.valid) return "";
  if (!m.stable) return "unstable: no margins";
  // Three significant digits without an exponent ("8070 rad/s", not
  // "8.07e+03"), as the tests' figures read.
  const auto figure = ThreeSignificantDigits;
  std::string text = "phase margin " + (std::isfinite(m.phaseMargin_deg) ? figure(m.phaseMargin_deg) + " deg" : "none") +
                     " at " + figure(m.crossover_rad_s) + " rad/s, gain margin " +
                     (std::isfinite(m.gainMargin_dB) ? figure(m.gainMargin_dB) + " dB" : "unlimited");
  if (std::isfinite(m.gainReductionMargin_dB)) text += " (-" + figure(m.gainReductionMargin_dB) + " dB)";
  return text + ", sensitivity peak " + figure(m.sensitivityPeak_dB) + " dB";
}

void BypassFilterSlot(CMC_Setup& setup, int slot) {
  const std::string prefix = "BQ" + std::to_string(slot);
  // b0 = B0 SF / 2^31 = 1 with SF 2.
  setup.SetParameterValueInBaseUnit((prefix + "SF").c_str(), 2.0);
  setup.SetParameterValueInBaseUnit((prefix + "B0").c_str(), 1073741824.0);
  for (const char* name : {"B1", "B2", "A1", "A2"}) setup.SetParameterValueInBaseUnit((prefix + name).c_str(), 0.0);
}

std::vector<FilterPhaseCost> FilterPhaseCosts(const CMC_Setup& setup, TunedLoop loop, double crossover_rad_s) {
  std::vector<FilterPhaseCost> costs;
  OpenLoop open;
  if (!(crossover_rad_s > 0.0) || !BreakLoop(setup, loop, open)) return costs;
  const std::complex<double> with = open.At(crossover_rad_s);
  // The slots in use, place by place, consecutive from slot 1 (as the drive
  // assigns them).
  int slot = 1;
  for (auto [count, place] : {std::pair{"SPDREF_BQ_INI", "speed reference"},
                              std::pair{"IQREF_BQ_INI", "current reference"},
                              std::pair{"ASPD_BQ_INI", "speed feedback"}}) {
    const CMC_Parameter* p = FindParameterQuiet(setup, count);
    const double n = p != nullptr ? std::trunc(p->GetValueInBaseUnit()) : 0.0;
    for (int k = 0; k < n && slot <= kBiquadSlotCount; ++k, ++slot) {
      CMC_Setup bypassed(setup);
      BypassFilterSlot(bypassed, slot);
      OpenLoop without;
      if (!BreakLoop(bypassed, loop, without)) continue;
      const double phase = -std::arg(with / without.At(crossover_rad_s)) * 180.0 / std::numbers::pi;
      if (std::fabs(phase) >= 0.01) costs.push_back({slot, place, phase});
    }
  }
  return costs;
}
