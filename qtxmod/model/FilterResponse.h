// Frequency response of one of the drive's biquad filters.
//
// The drive runs each filter slot as
//   H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2)
// once per speed-loop period. A slot holds each coefficient as the signed
// 32-bit fraction coefficient * 2^31 / SF, with SF, a power of two, common to
// the slot. These functions evaluate H on the unit circle, z = exp(j 2 pi f Ts),
// either for a floating design or for the registers of a slot, so that what
// the drive will do can be set beside what was designed.
#pragma once

#include <complex>
#include <vector>

// One filter's coefficients in floating point (a0 is 1). The default is the
// pass-through filter.
struct BiquadCoefficients {
  double b0 = 1.0;
  double b1 = 0.0;
  double b2 = 0.0;
  double a1 = 0.0;
  double a2 = 0.0;
};

// The six registers of a slot, as integers held in doubles: B0 ... A2 are
// coefficient * 2^31 / sf, sf the slot's scale factor.
struct BiquadRegisters {
  double b0 = 0.0;
  double b1 = 0.0;
  double b2 = 0.0;
  double a1 = 0.0;
  double a2 = 0.0;
  double sf = 0.0;
};

// The coefficients a slot's registers stand for: register * sf / 2^31.
BiquadCoefficients CoefficientsOfRegisters(const BiquadRegisters& registers);

// H(exp(j 2 pi frequency_Hz period_s)). A pole on the unit circle at that
// frequency gives an infinite or NaN value (IEEE division), which callers show
// as such and never store.
std::complex<double> BiquadResponse(const BiquadCoefficients& filter, double frequency_Hz, double period_s);
std::complex<double> BiquadResponse(const BiquadRegisters& registers, double frequency_Hz, double period_s);

// 20 log10 |h|: -inf for an exact null.
double MagnitudeDb(std::complex<double> h);
// arg h in degrees, in (-180, 180]; NaN where there is no phase to speak
// of: at an exact null or a non-finite value.
double PhaseDeg(std::complex<double> h);

// The frequencies a filter response is shown at: log-spaced from 1 Hz to
// just below the speed-loop Nyquist frequency, 31 points (ten a decade for
// the usual drives). A low-pass filter's zero lies on the Nyquist frequency
// itself, where the gain in dB is minus infinity and the phase undefined; a
// thousandth below it every figure is a number. `between` adds that many
// log-spaced points inside each interval, for a smooth curve through the
// same 31 points. Empty when the Nyquist frequency is not above 1 Hz.
inline constexpr int kFilterResponsePoints = 31;
inline constexpr double kFilterResponseTopOfNyquist = 0.999;
std::vector<double> FilterResponseFrequencies(double nyquist_Hz, int between = 0);
