// The drive's two sampling periods as the Advanced dialog edits them.
//
// The current loop runs every CLPER PWM periods (Ts_C), the speed and
// position loops every SLPER PWM periods (Ts_S); one PWM period lasts
// 2 * PWMPER processor clocks. The drive counts every time, speed,
// acceleration and current slope of its setup in Ts_S, so a change of the
// PWM frequency or of a divider must keep both periods where the user had
// them and every time-based setting where it was.
#pragma once

class CMC_Setup;

namespace sampling {

// The loop divider whose period comes nearest to `period_s` with the PWM
// period 2 * PWMPER / DSP_freq: floor(DSP_freq * period * 0.5 / PWMPER + 0.5).
// A loop runs at least once per PWM period, so a period shorter than half a
// PWM period gives 1, not 0 (a divider of 0 would stop the loop and make
// every time of the setup 0). Not finite when an input is 0 or missing.
double NearestDivider(double dspFreq_Hz, double period_s, double pwmper);

// Sets "CLPER" and "SLPER" to the dividers nearest to the two periods with
// the setup's present PWMPER, then decodes "Ts_S" and "Ts_C".
void KeepPeriods(CMC_Setup& setup, double fastPeriod_s, double slowPeriod_s);

// Raises a divider the user set below 1 to 1; true when it did.
bool KeepDividerUsable(CMC_Setup& setup, const char* divider);

// True when the PWM frequency gives a PWMPER of 1 or more once the register
// has rounded it: a frequency of 0 or below, or one above the processor
// clock (PWMPER rounds to 0), has no PWM period.
bool IsUsablePwmFrequency(const CMC_Setup& setup);

// Keeps every time-based user value physically unchanged after Ts_S
// changed: times, speeds, accelerations and current slopes (base units s,
// rad/s, m/s, rad/s^2, m/s^2, A/s) of every parameter but the drive's
// registers and constants (host types 5 and 6), which are re-encoded from
// those values or never change. The drive's counts then follow by encoding;
// a value the new period's range cannot hold is held at the end of that
// range, and when an I2t trip time could not be kept its trip current is
// changed by sqrt(kept time / new time) so that the I2t product stays.
void RescaleTimeBase(CMC_Setup& setup);

// A sampling period below the drive's minimum ("Ts_C_min", "Ts_S_min",
// quiet lookups; 0 or absent: no minimum). A period equal to its minimum is
// allowed.
struct PeriodLimits {
  double fastMin_s = 0.0;
  double slowMin_s = 0.0;
  bool fastTooShort = false;
  bool slowTooShort = false;
};
PeriodLimits CheckPeriodLimits(const CMC_Setup& setup);

}  // namespace sampling
