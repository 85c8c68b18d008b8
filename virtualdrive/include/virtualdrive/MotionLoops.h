// The drive's speed and position loops, with their saturations, the
// feed-forward terms and the three biquad filter slots.
//
// Units are the drive's own: positions in encoder counts, speeds in counts
// per speed-loop period Ts_S ("SLPER"), accelerations in counts per Ts_S
// squared, currents in converter counts. A gain register pair (mantissa K,
// shift S) means G = K 2^S / 32767; a saturation register X means the limit
// 32767 - X.
//
// The loops run once per tick of period T: T = Ts_S, or T = Ts_C (the
// current-loop period) when "PosSpd_in_FastLoop" (UPGRADE bit 6) is set.
// Speeds stay in counts per Ts_S in either case, so in the fast loop a
// difference per tick is multiplied by n = Ts_S / T.
//
// Speed loop (speed mode, and inside the position loop of type 1):
//
//   e[k] = w_ref[k] - F_fb(w[k])           w[k] = n (x[k] - x[k-1])
//   I[k] = sat(I[k-1] + Kis e[k], 32767 - IMAXS)
//   i_ref[k] = sat(F_i(Kps e[k] + I[k]) + Kffa a_ref[k] + i_g, 32767 - SATS)
//
// On the mass M driven by the force constant Kf, with K_S counts per Ts_S
// per m/s and K_I converter counts per ampere, this is the continuous PI
// i = (K_S / K_I) (Kps e + (Kis / T) integral(e dt)) and the closed loop
// M s^2 + (Kf K_S / K_I) (Kps s + Kis / T) = 0: the controller design's
// s^2 + 2 zeta w s + w^2 with its integral gain per sampling period T.
//
// Position loop type 1 (ACR 0x0700), a PI around the closed speed loop:
//
//   e[k] = x_ref[k] - x[k]
//   I[k] = sat(I[k-1] + Kip e[k], 32767 - IMAXP)
//   w_ref[k] = sat(F_w(Kpp e[k] + I[k]) + Kffs v_ref[k], 32767 - SATP)
//
// With the speed loop taken as ideal, dx/dt = v_ref: the loop
// s^2 + (Kpp K_P / K_S) s + Kip K_P / (K_S T) with K_P counts per metre.
//
// Position loop type 0 (ACR 0x0500), a PID driving the current reference:
//
//   D[k] = D[k-1] + f ((e[k] - e[k-1]) - D[k-1])       f = KDFP / 32767
//   I[k] = sat(I[k-1] + Kip e[k], 32767 - IMAXP)
//   i_ref[k] = sat(F_i(Kpp e[k] + I[k] + Kdp D[k]) + Kffa a_ref[k] + i_g, 32767 - SATP)
//
// the continuous PID i = (K_P / K_I) (Kpp e + (Kip / T) integral(e) + Kdp T de/dt)
// on the mass: M s^3 + (Kf K_P / K_I) (Kdp T s^2 + Kpp s + Kip / T) = 0.
//
// Feed-forward, from the reference itself: v_ref = n (x_ref[k] - x_ref[k-1])
// (only with ACR bit 14 set), a_ref = n (v_ref[k] - v_ref[k-1]) or, in speed
// mode, n (w_ref[k] - w_ref[k-1]); Kffs = KFFS 2^SFTSFFW / 32767, Kffa =
// KFFA 2^(SFTKFF + SFTAFFW) / 32767. i_g = FFL KFFL / 32767 holds a gravity
// load. F_w, F_i and F_fb are the biquad slots of the speed reference, the
// current reference and the speed feedback ("SPDREF_BQ_INI", "IQREF_BQ_INI",
// "ASPD_BQ_INI" consecutive slots from slot 1); a location with no slot
// passes its signal unchanged.
#pragma once

#include <array>

namespace virtualdrive {

// The coefficients of one slot: H(z) = (b0 + b1 z^-1 + b2 z^-2) /
// (1 + a1 z^-1 + a2 z^-2). The registers "BQsB0" ... "BQsA2" hold each as
// coefficient 2^31 / SF, "BQsSF" the slot's power of two SF.
struct BiquadCoefficientSet {
  double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
  static BiquadCoefficientSet FromRegisters(double b0, double b1, double b2, double a1, double a2, double sf);
};

inline constexpr int kDriveBiquadSlots = 3;

// The slots of one location, run one after the other (direct form I).
class BiquadChain {
 public:
  void Configure(const BiquadCoefficientSet* first, int count);
  void Reset() { m_state = {}; }
  double Filter(double x);

 private:
  struct State {
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
  };
  std::array<BiquadCoefficientSet, kDriveBiquadSlots> m_slots{};
  std::array<State, kDriveBiquadSlots> m_state{};
  int m_count = 0;
};

enum class PositionLoop {
  OverSpeedLoop,  // type 1: the position PI sets the speed reference
  Pid,            // type 0: the position PID sets the current reference
};

// What the registers say, in the units above.
struct MotionSettings {
  double kpSpeed = 0.0, kiSpeed = 0.0;
  double kpPosition = 0.0, kiPosition = 0.0, kdPosition = 0.0;
  double derivativeFilter = 1.0;
  double speedFeedForward = 0.0;  // 0 unless ACR bit 14 is set
  double accelerationFeedForward = 0.0;
  double gravityCurrent = 0.0;
  double speedCurrentLimit = 32767.0, speedIntegralLimit = 32767.0;
  double positionOutputLimit = 32767.0, positionIntegralLimit = 32767.0;
  // A running program's own limits in place of the registers': of the
  // current reference (instead of "SATS" in the speed loop and "SATP" in the
  // PID) and of the speed reference the position loop of type 1 gives
  // (instead of "SATP"); 0 or less: the register's.
  double programCurrentLimit = 0.0, programSpeedLimit = 0.0;
  double ticksPerSpeedPeriod = 1.0;  // n above
  std::array<BiquadCoefficientSet, kDriveBiquadSlots> slots{};
  int speedReferenceSlots = 0, currentReferenceSlots = 0, speedFeedbackSlots = 0;
};

class MotionLoops {
 public:
  // New settings keep the loops' state (the tuning dialogs change gains
  // while a test runs).
  void Configure(const MotionSettings& settings);
  // Starts afresh from the mover at `position_counts` with these
  // references: no integral, no feed-forward kick.
  void Reset(double position_counts, double speedReference, double positionReference_counts);

  // An excitation added to the current reference (converter counts) or to
  // the speed reference the position loop over the speed loop gives (counts
  // per Ts_S), each before its limit, from the next tick on: where a
  // frequency-response measurement breaks the loop. 0 for none.
  void SetInjection(double currentReference, double speedReference) {
    m_currentInjection = currentReference;
    m_speedInjection = speedReference;
  }

  // One tick; each returns the current reference.
  double SpeedTick(double speedReference, double position_counts);
  double PositionTick(PositionLoop loop, double positionReference_counts, double position_counts);

  // Of the last tick.
  double Speed() const { return m_speed; }                    // measured, counts per Ts_S
  double SpeedReference() const { return m_speedReference; }  // of the speed loop
  double SpeedError() const { return m_speedReference - m_speed; }
  double PositionError() const { return m_positionError; }
  double PositionReference() const { return m_positionReference; }

 private:
  void Measure(double position_counts);
  double SpeedLaw(double speedReference, double acceleration);
  double Finish(double control, double acceleration, double limit);

  MotionSettings m_s;
  BiquadChain m_speedReferenceFilter, m_currentReferenceFilter, m_speedFeedbackFilter;
  double m_lastPosition = 0.0, m_speed = 0.0;
  double m_speedIntegral = 0.0, m_speedReference = 0.0, m_lastSpeedReference = 0.0;
  double m_positionIntegral = 0.0, m_positionError = 0.0, m_lastPositionError = 0.0, m_derivative = 0.0;
  double m_positionReference = 0.0, m_lastPositionReference = 0.0, m_referenceSpeed = 0.0;
  double m_currentInjection = 0.0, m_speedInjection = 0.0;
};

}  // namespace virtualdrive
