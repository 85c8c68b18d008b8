// The drive's own units: sampling periods and the scale of every quantity.
//
// The drive counts currents and voltages in converter counts, positions in
// encoder counts, speeds in counts per speed-loop period, times in sampling
// periods and electrical angles in steps of 2*pi/65534 rad. Each function
// reads its inputs by name in base units every time it is called (nothing is
// cached), so a change of a register shows at once. Inputs are not checked:
// a missing name is reported by the host and reads as 0, and a zero divisor
// gives an IEEE infinity or NaN, which the setup document refuses to store.
#pragma once

class CMC_Setup;

// Radians per electrical-angle step: 65534 steps per electrical turn, not 65536.
inline constexpr double kAngleUnit_rad = 9.587672516830327e-5;

// Full-scale count of the drive's converter (65472 for a 10-bit converter).
double AdcMax(const CMC_Setup& setup);

// DSP_freq / (2 * PWMPER), Hz.
double PwmFrequency(const CMC_Setup& setup);
// Current-loop period from the registers: CLPER * 2 * PWMPER / DSP_freq, s.
double CurrentLoopPeriod(const CMC_Setup& setup);
// Speed- and position-loop period from the registers:
// SLPER * 2 * PWMPER / DSP_freq, s. Not the parameter "Ts_S".
double SpeedLoopPeriod(const CMC_Setup& setup);

// Effective dead time of the power stage, s: 0 without "DBT", 1 µs for
// DBT 0, else the larger 8-bit count of DBT times DBTPC/100 (0.5 without
// "DBTPC") over DSP_freq. NaN when DBT is too large to be a register value.
double DeadTime(const CMC_Setup& setup);

// Voltage-command counts per volt: 65534 / (1.1 * Vdc).
double VoltageCommandScale(const CMC_Setup& setup);
// Converter counts per volt of measured supply: ADCMAX / VdcMaxMeasurable.
double MeasuredVoltageScale(const CMC_Setup& setup);
// Converter counts per ampere: ADCMAX / (2 * ImaxPS).
double CurrentScale(const CMC_Setup& setup);

// 2^n encoder counts per sine-cosine period, n = SINCOS_fract truncated.
double InterpolationFactor(const CMC_Setup& setup);
// Encoder counts per metre of motor travel: 2^n / EncRes.
double MotorPositionScale(const CMC_Setup& setup);
// Counts per load unit: (Motor_transmission / Load_transmission) * 2^n / EncRes.
// Negative when the transmission reverses.
double LoadPositionScale(const CMC_Setup& setup);
// Counts per speed-loop period per m/s of motor speed.
double MotorSpeedScale(const CMC_Setup& setup);
// Counts per speed-loop period (squared, cubed) per load speed
// (acceleration, jerk) unit.
double LoadSpeedScale(const CMC_Setup& setup);
double LoadAccelerationScale(const CMC_Setup& setup);
double LoadJerkScale(const CMC_Setup& setup);

// Base value of "Ts_C_min" / "Ts_S_min", 0 when absent; quiet lookups.
double GetTsCMin(const CMC_Setup& setup);
double GetTsSMin(const CMC_Setup& setup);
