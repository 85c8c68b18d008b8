// The protection registers: the enable word "PCR", the supply voltage and
// drive temperature thresholds, the drive and motor I²t integrators, the
// over-current threshold, the largest position and speed control errors and
// the brake chopper threshold.
//
// Each function is one conversion step, named after the parameter it writes:
// Decode<user parameter> (register to user parameter) or Encode<register>.
// A step looks up every name it needs, including the inputs of the drive
// scales it uses, with ordinary lookups so that the host reports each missing
// one; it then returns 0 and writes nothing. A decoding step sets the range of
// its user parameter first and writes nothing when that range is empty. A
// step whose scale is zero or not finite (a zero rating, period or encoder
// resolution) writes nothing and returns 0 rather than store 0 as if it had
// converted something. 1 means the value was written.
//
// Periods: Ts_S(c) is the speed-loop period computed from "SLPER", "PWMPER"
// and "DSP_freq"; Ts_S(p) is the parameter "Ts_S". They agree once the
// sampling registers have been decoded; each step below names the one it uses.
#pragma once

class CMC_Setup;

// --- "PCR", the protection enable word. Bit 6 and bits 8 to 15 belong to
// no flag here and are kept on encoding.
int DecodeisOverCurrent(CMC_Setup& setup);    // bit 0
int DecodeisMotori2t(CMC_Setup& setup);       // bit 1
int DecodeisMotorOverTemp(CMC_Setup& setup);  // bit 2; range [0, 0] under the option "DisableMotorTemperature"
int DecodeisDriveOverTemp(CMC_Setup& setup);  // bit 3
int DecodeisOverVoltage(CMC_Setup& setup);    // bit 4
int DecodeisUnderVoltage(CMC_Setup& setup);   // bit 5
int DecodeisDriveI2t(CMC_Setup& setup);       // bit 7
int EncodePCR(CMC_Setup& setup);

// --- Supply voltage thresholds, in converter counts of the measured supply.
int DecodeUMAX_PROT(CMC_Setup& setup);  // UMAXPROT / kVdc, no range set
int DecodeUMIN_PROT(CMC_Setup& setup);  // UMINPROT / kVdc, no range set
int EncodeUMAXPROT(CMC_Setup& setup);   // UMAX_PROT * kVdc, truncated toward zero
int EncodeUMINPROT(CMC_Setup& setup);   // UMIN_PROT * kVdc, not rounded

// --- Drive temperature threshold, in converter counts of the drive's sensor.
int DecodeTemp_2(CMC_Setup& setup);
int EncodeT2MAXPROT(CMC_Setup& setup);

// --- I²t of the drive (nominal "InPS", peak "ImaxPS").
int DecodeI_I2t_D(CMC_Setup& setup);  // range [InPS, ImaxPS]
int Decodet_I2t_D(CMC_Setup& setup);  // Ts_S(p) * 2^26 / SFI2T_D, range from Ts_S(c)
int EncodeII2TPROT_D(CMC_Setup& setup);
int EncodeSFI2T_D(CMC_Setup& setup);  // Ts_S(p) * 2^26 / t_I2t_D
int EncodeI2TINTLIM_D(CMC_Setup& setup);
// Only when the setup holds both warning limits ("II2TWARLIM_D" and
// "I2TWARLIM_M"); otherwise 0, nothing written and nothing reported.
int EncodeII2TWARLIM_D(CMC_Setup& setup);

// --- I²t of the motor (nominal "In", peak "ImaxM").
int DecodeI_I2t_M(CMC_Setup& setup);  // range [1.1 * In, ImaxM]
int Decodet_I2t_M(CMC_Setup& setup);  // Ts_S(c) * 2^26 / SFI2T_M, range from Ts_S(c)
int EncodeII2TPROT_M(CMC_Setup& setup);
int EncodeSFI2T_M(CMC_Setup& setup);  // Ts_S(p) * 2^26 / t_I2t_M
int EncodeI2TINTLIM_M(CMC_Setup& setup);
int EncodeI2TWARLIM_M(CMC_Setup& setup);  // as EncodeII2TWARLIM_D

// --- Over-current protection.
int DecodeImax_Prot(CMC_Setup& setup);       // range [0, min(ImaxM, ImaxPS)]
int Decodetime_Imax_Prot(CMC_Setup& setup);  // TIMAXPROT * Ts_S(c)
int EncodeIMAXPROT(CMC_Setup& setup);
int EncodeTIMAXPROT(CMC_Setup& setup);  // time_Imax_Prot / Ts_S(p)

// --- Control error protections. A delay register at 65535 means off.
int DecodeisPositionControlError(CMC_Setup& setup);
int DecodeERR_position(CMC_Setup& setup);  // ERRMAX / abs(load position scale)
int Decodetime_ERR_pos(CMC_Setup& setup);  // TERRMAX * Ts_S(c)
int EncodeERRMAX(CMC_Setup& setup);
int EncodeTERRMAX(CMC_Setup& setup);  // time_ERR_pos / Ts_S(p) when enabled, else 65535
int DecodeisSpeedControlError(CMC_Setup& setup);
int DecodeERR_speed(CMC_Setup& setup);     // SERRMAX / abs(load speed scale)
int Decodetime_ERR_spd(CMC_Setup& setup);  // TSERRMAX * Ts_S(c)
int EncodeSERRMAX(CMC_Setup& setup);
int EncodeTSERRMAX(CMC_Setup& setup);  // time_ERR_spd / Ts_S(p) when enabled, else 65535

// --- Other protection registers.
// Always 32767, only when the setup holds "T1MAXPROT"; otherwise 0, nothing
// written and nothing reported.
int EncodeT1MAXPROT(CMC_Setup& setup);
int DecodeVbrake(CMC_Setup& setup);  // range [1, VdcMaxMeasurable]; BRAKELIM / kVdc
int EncodeBRAKELIM(CMC_Setup& setup);
