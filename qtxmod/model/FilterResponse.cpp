#include "FilterResponse.h"

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
