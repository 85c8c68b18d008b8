#include "FilterResponse.h"

#include <algorithm>
#include <cmath>
#include <numbers>

BiquadCoefficients CoefficientsOfRegisters(const BiquadRegisters& r) {
  // The drive multiplies each Q31 product by SF: coefficient = register * SF / 2^31.
  const double scale = r.sf / 2147483648.0;
  return {r.b0 * scale, r.b1 * scale, r.b2 * scale, r.a1 * scale, r.a2 * scale};
}

std::complex<double> BiquadResponse(const BiquadCoefficients& f, double frequency_Hz, double period_s) {
  const double omegaT = 2.0 * std::numbers::pi * frequency_Hz * period_s;
  const std::complex<double> z1 = std::polar(1.0, -omegaT);  // z^-1 on the unit circle
  const std::complex<double> z2 = z1 * z1;
  const std::complex<double> numerator = f.b0 + f.b1 * z1 + f.b2 * z2;
  const std::complex<double> denominator = 1.0 + f.a1 * z1 + f.a2 * z2;
  return numerator / denominator;
}

std::complex<double> BiquadResponse(const BiquadRegisters& registers, double frequency_Hz, double period_s) {
  return BiquadResponse(CoefficientsOfRegisters(registers), frequency_Hz, period_s);
}

double MagnitudeDb(std::complex<double> h) { return 20.0 * std::log10(std::abs(h)); }

double PhaseDeg(std::complex<double> h) {
  const double magnitude = std::abs(h);
  if (!(magnitude > 0.0 && std::isfinite(magnitude))) return std::nan("");
  const double degrees = std::arg(h) * 180.0 / std::numbers::pi;
  return degrees == -180.0 ? 180.0 : degrees;
}

std::vector<double> FilterResponseFrequencies(double nyquist_Hz, int between) {
  std::vector<double> f;
  const double top_Hz = kFilterResponseTopOfNyquist * nyquist_Hz;
  if (!(nyquist_Hz > 1.0) || !std::isfinite(nyquist_Hz)) return f;
  const double decades = std::log10(top_Hz);
  const int steps = kFilterResponsePoints - 1;
  between = std::max(between, 0);
  for (int i = 0; i <= steps; ++i) {
    // The 31 points come out the same whatever `between` is.
    f.push_back(i == steps ? top_Hz : std::pow(10.0, decades * i / steps));
    if (i == steps) break;
    for (int k = 1; k <= between; ++k)
      f.push_back(std::pow(10.0, decades * (i + static_cast<double>(k) / (between + 1)) / steps));
  }
  return f;
}
