// What a designed current loop does on the drive, as the drive runs it: the
// currents sampled every Ts_C, the PI law of the loop registers, the voltage
// applied one period after the sample it was computed from (the drive loads
// new duty cycles at the next period's start) and held for a whole period.
//
// With a = exp(-Ts_C / tau) (tau = L / R), b = (1 - a) / R_phi K_I / K_V
// (converter counts per voltage-command count and period) and the scaled
// gains Kp = "Kp_C_scl", Ki = "Ki_C_scl" (the drive's counts per counts,
// Ki per period), the loop of the q axis is, in counts,
//
//   i[k+1] = a i[k] + b u[k - d]
//   u[k]   = Kp e[k] + Ki sum_{j<=k} e[j],   e[k] = r - i[k]
//
// with the characteristic polynomial (z - 1)(z - a) z^d + b ((Kp + Ki) z - Kp).
// The design places the continuous loop's poles; the sample-and-hold and
// the delay (together about 1.5 Ts_C) take phase from it, so the real loop
// overshoots more as the passband approaches the sampling rate, and at last
// goes unstable. The prediction is linear: no voltage or integral limit, no
// converter quantisation, no dead time.
#pragma once

#include <vector>

class CMC_Setup;

struct SampledLoopResponse {
  // Response to a unit step of the reference, one sample per period from
  // the step on (element 0 is the sample taken as the step arrives).
  std::vector<double> step;
  double period_s = 0.0;
  bool stable = false;
  // Largest value over the final value (1), minus 1; 0 when it never
  // exceeds it. Meaningful only when stable.
  double overshoot = 0.0;
  // 10 % to 90 % of the final value, interpolated between samples.
  double rise_s = 0.0;
  // Lowest frequency where the closed loop's gain falls below 1 / sqrt(2)
  // (-3 dB), searched up to just below the Nyquist frequency; 0 when the
  // gain stays above it there.
  double bandwidth_Hz = 0.0;
};

// The loop's polynomial has all roots inside the unit circle (Schur-Cohn
// test). Coefficients from the constant term up; the last one not 0.
bool IsSchurStable(std::vector<double> coefficients);

// The sampled current loop of the setup's held gains ("Kp_C_scl",
// "Ki_C_scl"), winding ("R", "L", "MotorPhaseConnectionType") and scales,
// with `delayPeriods` (0 or more) periods of computation delay, over
// `samples` periods. False, leaving `response` empty, when a name is missing
// (quiet: the caller has designed already) or a scale, period or the
// winding is unusable.
bool PredictCurrentLoop(const CMC_Setup& setup, int delayPeriods, int samples, SampledLoopResponse& response);
