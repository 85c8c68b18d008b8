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
enum class ControllerModel;

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

// The speed and position loops as the drive runs them, every period T of
// those loops (Ts_S, or Ts_C when "PosSpd_in_FastLoop" is not 0), with the
// current loop and the mover simulated every Ts_C in between (N = T / Ts_C
// current-loop periods per tick, "SLPER" / "CLPER" rounded, or 1).
//
// At a tick the drive samples the encoder, works out the measured speed
// v_m = K_S / T x (the travel x in metres since the last tick; counts per
// Ts_S, whatever T is) or the position p = K_P x_abs (counts), runs its
// outer law and hands the current reference to the current loop in the same
// Ts_C period: the outer loop adds no computation delay of its own. The
// reference is then held for the N periods up to the next tick. Laws, with
// the setup's held gains (counts per counts, integral gains per period):
//
//   speed:     e = r - v_m,  I_S += Ki_S e,  i_ref = Kp_S e + I_S
//   position over the speed loop ("PositionControlType" 1):
//              e = r - p,  I_P += Ki_P e,  r_S = Kp_P e + I_P, then the
//              speed law on r_S in the same tick
//   position PID (otherwise):
//              e = r - p,  I_P += Ki_P e,  D += f ((e - e_prev) - D),
//              i_ref = Kp_P e + I_P + Kd_P D,  f = "KDFP" / 32767
//
// The current loop is that of PredictCurrentLoop with one period of
// computation delay (the drive's), its gains "Kp_C_scl", "Ki_C_scl". The
// winding is solved exactly over each period against the back-EMF
// (2/3) Kf v taken at the period's start; the force Kf i(t) drives the
// mass "Mt" (the total mass the setup holds, in kilograms), and speed and
// travel are its exact integrals over the period. The measured speed is thus
// the mean speed over the last tick, half a tick behind the mover.
//
// The step is that of the signal the drive measures (v_m or p), sampled at
// each tick before the tick's law runs: element 0 is 0, the sample taken as
// the step arrives. Stability is that of the monodromy map over one tick
// (Schur-Cohn on its characteristic polynomial), the bandwidth that of the
// closed loop from r to the measured signal at the tick rate.
//
// Linear: no saturation, integral limit or converter quantisation, no
// friction (a constant load such as gravity leaves the step unchanged), no
// feed-forward and no filter slot.
//
// False, leaving `response` empty, when a name is missing (quiet lookups) or
// a scale, period, the winding, "Mt" or "Kf" is unusable.
bool PredictSpeedLoop(const CMC_Setup& setup, int samples, SampledLoopResponse& response);
// With the speed loop's gains too when "PositionControlType" is 1.
bool PredictPositionLoop(const CMC_Setup& setup, int samples, SampledLoopResponse& response);

// The continuous closed loop a design places, sampled every `period_s`:
// (2 zeta w s + w^2) / (s^2 + 2 zeta w s + w^2) for ControllerModel::Speed
// and ::PositionOverSpeedLoop (the PI on the mass, or around an ideal speed
// loop), (c s^2 + c w s + w^3) / (s^3 + c s^2 + c w s + w^3), c =
// (2 zeta + 1) w, for ::PositionPid. Step, overshoot and rise as above from
// the samples; the bandwidth of the continuous loop searched up to just
// below the Nyquist frequency of `period_s`. Stable when the damping is
// above 0. False for the current-loop models (their zero depends on the
// winding), a passband or period that is not a positive finite number, a
// damping below 0 or fewer than 2 samples.
bool DesignedLoopStep(ControllerModel model, double passband_rad_s, double damping, double period_s, int samples,
                      SampledLoopResponse& response);

// What a loop of unit step response `loop` does with a reference recorded
// at `time_s` (increasing, from the loop's start): the superposition of the
// step response, shifted to each sample where the reference changed and
// scaled by the change, the step read between its samples by linear
// interpolation (and held at its last one). The loop starts settled at
// `initial` with the reference at its first value. Empty when the record or
// the step is.
std::vector<double> ResponseToReference(const SampledLoopResponse& loop, const std::vector<double>& time_s,
                                        const std::vector<double>& reference, double initial);
