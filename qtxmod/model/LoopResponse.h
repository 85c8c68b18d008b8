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

#include <complex>
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
//   speed:     e = r - F_fb(v_m),  I_S += Ki_S e,
//              i_ref = F_iq(Kp_S e + I_S) + K_a a
//   position over the speed loop ("PositionControlType" 1):
//              e = r - p,  I_P += Ki_P e,
//              r_S = F_sr(Kp_P e + I_P) + K_s v_r, then the speed law on
//              r_S in the same tick
//   position PID (otherwise):
//              e = r - p,  I_P += Ki_P e,  D += f ((e - e_prev) - D),
//              i_ref = F_iq(Kp_P e + I_P + Kd_P D) + K_a a,
//              f = "KDFP" / 32767
//
// The feed-forward takes the reference's differences from tick to tick,
// per Ts_S (times N when the loops run every Ts_C): of the speed loop, the
// acceleration a = r - r_prev; of the position loops, the reference's speed
// v_r = r - r_prev and its acceleration a = v_r - v_r_prev, the speed loop
// under the position loop taking that a too. K_a = "KFFA" 2^("SFTKFF" +
// "SFTAFFW") / 32767 (always on; 0 when "KFFA" is), K_s = "KFFS"
// 2^"SFTSFFW" / 32767 when bit 14 of "ACR" ("SpeedForward") is set, else 0.
// F_sr, F_iq and F_fb are the biquad slots on the speed reference (the
// position controller's output), the current reference (the controller's
// output, before the feed-forward is added) and the measured speed: slots
// 1 to 3, y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2 with each coefficient
// "BQnXX" "BQnSF" / 2^31, taken in that order, "SPDREF_BQ_INI",
// "IQREF_BQ_INI" and "ASPD_BQ_INI" consecutive slots each (those beyond
// slot 3 dropped); no slot where the count is 0. The speed-reference
// slots act only in the position loop over the speed loop, the measured
// speed's only where a speed loop runs. All of them, like the loop, start
// at rest with the reference at its first value; a register the setup
// lacks reads 0. The gravity feed-forward ("FFL") is a constant and leaves
// the step unchanged.
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
// (Schur-Cohn on its characteristic polynomial; the feed-forward's memory
// of the reference is outside the loop), the bandwidth that of the
// response from r to the measured signal at the tick rate, feed-forward
// included.
//
// Linear: no saturation (of the current or speed reference, the integrals
// or the voltage), no converter quantisation, no friction (a constant load
// such as gravity leaves the step unchanged).
//
// False, leaving `response` empty, when a name is missing (quiet lookups) or
// a scale, period, the winding, "Mt" or "Kf" is unusable or a feed-forward
// gain or slot coefficient is not finite.
//
// LoopTerms::FeedbackOnly leaves the feed-forward out: the step of the
// closed loop alone, as the gains place it (a step's feed-forward is an
// impulse the loop then has to absorb, which says little of its tuning).
enum class LoopTerms { All, FeedbackOnly };
bool PredictSpeedLoop(const CMC_Setup& setup, int samples, SampledLoopResponse& response,
                      LoopTerms terms = LoopTerms::All);
// With the speed loop's gains too when "PositionControlType" is 1.
bool PredictPositionLoop(const CMC_Setup& setup, int samples, SampledLoopResponse& response,
                         LoopTerms terms = LoopTerms::All);

// What SimulateProfile adds to the speed or position loop of
// PredictSpeedLoop / PredictPositionLoop: the current reference held within
// `current_A`, the winding's voltage amplitude within `voltage_V` (the
// current loop's integral and command with it), and friction on the mover,
// dry and viscous, which stops a mover it would carry past rest and holds
// one at rest while the force stays below the dry part. A limit of 0 or
// less is none.
struct ProfileNonlinearities {
  bool position = false;  // the position loop ("PositionControlType" picks which), else the speed loop
  double current_A = 0.0;
  double voltage_V = 0.0;
  double dryFriction_N = 0.0;
  double viscousFriction_N_s_per_m = 0.0;
};

// The loop's measured signal (m/s, or m) over a reference given one value
// per tick (the same unit), from rest, sampled at each tick before its law
// runs, as PredictSpeedLoop samples its step; with the limits and friction
// of `terms` the response is no longer a step's superposition. False, with
// `measured` empty, where the Predict function would fail or a reference
// value is not finite.
bool SimulateProfile(const CMC_Setup& setup, const std::vector<double>& reference, const ProfileNonlinearities& terms,
                     std::vector<double>& measured);

// The three loops a passband tunes.
enum class TunedLoop { Current, Speed, Position };

// A loop as the drive runs it, broken at its controller's output and seen
// once per period of that controller (the current loop every Ts_C, the speed
// and position loops every tick T):
//
//   x[k+1] = A x[k] + B u[k],   y[k] = C x[k]
//
// u is what the drive applies in place of the controller's output from the
// tick on (the voltage command of the current loop, the current reference
// of the speed loop and of the position PID, the speed reference of the
// position loop over the speed loop, each after the filter slots that act
// on it), y minus what the controller computes from the state at the tick.
// Closing the loop (u = -y) gives back the loop of PredictCurrentLoop (one
// period of delay), PredictSpeedLoop or PredictPositionLoop, with the same
// assumptions; its inner loops are inside A. The controller sees the
// measurement of the tick, so y does not depend on u of the same tick.
//
// The open-loop gain L(z) = C (z I - A)^-1 B is the gain a signal goes
// round the loop with; the loop is at its stability limit where L = -1.
class OpenLoop {
 public:
  // L at the angular frequency w, z = exp(j w T); w above 0 and not a pole
  // of the open loop (its integrators sit at w = 0).
  std::complex<double> At(double w_rad_s) const;
  // The closed loop u = -y has all its poles inside the unit circle.
  bool ClosedLoopStable() const;
  double Period_s() const { return m_period_s; }
  int States() const { return static_cast<int>(m_b.size()); }

 private:
  friend bool BreakLoop(const CMC_Setup&, TunedLoop, OpenLoop&);
  void Reduce();
  // A in upper Hessenberg form, with B and C in the same basis: the same
  // L(z), solved in n^2 operations per frequency.
  std::vector<std::vector<double>> m_a;
  std::vector<double> m_b, m_c;
  double m_period_s = 0.0;
};

// The loop `loop` of the setup's held gains broken at its controller's
// output (see OpenLoop). False when the matching Predict function would
// fail (a name missing, a scale, period, the winding, "Mt" or "Kf"
// unusable); the position loop also needs "PositionControlType".
bool BreakLoop(const CMC_Setup& setup, TunedLoop loop, OpenLoop& open);

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
