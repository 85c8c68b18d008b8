#include "ProtectionCodec.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>

#include "CodecSteps.h"
#include "FeatureProbes.h"
#include "Scales.h"
#include "axcore/Setup.h"

namespace {

// Only after FindStepInputs has found the name.
CMC_Parameter& Param(const CMC_Setup& setup, std::string_view name) { return *setup.FindParameter(name); }
double Base(const CMC_Setup& setup, std::string_view name) { return Param(setup, name).GetValueInBaseUnit(); }

// The bits of a register value truncated to an integer, or nothing when the
// value cannot be a register of the drive (not finite, wider than 32 bits).
// Checked before the conversion: such a double has no integer to become.
std::optional<std::int64_t> RegisterBits(double value) {
  const double truncated = std::trunc(value);
  if (!(std::fabs(truncated) <= 4294967295.0)) return std::nullopt;
  return static_cast<std::int64_t>(truncated);
}

// --- "PCR" ---------------------------------------------------------------

struct PcrFlag {
  std::string_view name;
  int bit;
  // A drive wired without a motor temperature sensor cannot offer the
  // protection: the setup says so with the option "DisableMotorTemperature".
  bool needsMotorTemperatureSensor;
};

constexpr PcrFlag kFlagOverCurrent{"isOverCurrent", 0, false};
constexpr PcrFlag kFlagMotorI2t{"isMotori2t", 1, false};
constexpr PcrFlag kFlagMotorOverTemp{"isMotorOverTemp", 2, true};
constexpr PcrFlag kFlagDriveOverTemp{"isDriveOverTemp", 3, false};
constexpr PcrFlag kFlagOverVoltage{"isOverVoltage", 4, false};
constexpr PcrFlag kFlagUnderVoltage{"isUnderVoltage", 5, false};
constexpr PcrFlag kFlagDriveI2t{"isDriveI2t", 7, false};

constexpr const PcrFlag* kPcrFlags[] = {&kFlagOverCurrent, &kFlagMotorI2t,     &kFlagMotorOverTemp, &kFlagDriveOverTemp,
                                        &kFlagOverVoltage, &kFlagUnderVoltage, &kFlagDriveI2t};

// Bit 6 and bits 8 to 15 are the drive's own; the plug-in never changes them.
constexpr std::int64_t kPcrForeignBits = 0xFF40;

int DecodePcrFlag(CMC_Setup& setup, const PcrFlag& flag) {
  if (!FindStepInputs(setup, {flag.name, "PCR"})) return 0;
  CMC_Parameter& target = Param(setup, flag.name);
  const bool offered = !flag.needsMotorTemperatureSensor || setup.GetIntOption("DisableMotorTemperature") == 0;
  if (!SetParameterRange(target, 0.0, offered ? 1.0 : 0.0)) return 0;
  const std::optional<std::int64_t> pcr = RegisterBits(Base(setup, "PCR"));
  if (!pcr) return 0;
  return target.SetValueInBaseUnit(static_cast<double>((*pcr >> flag.bit) & 1));
}

// --- Supply voltages: converter counts of the measured supply ------------

int DecodeMeasuredVoltage(CMC_Setup& setup, std::string_view user, std::string_view reg, std::optional<double> lowest) {
  if (!FindStepInputs(setup, {user, reg}, kMeasuredVoltageScale)) return 0;
  const double kVdc = MeasuredVoltageScale(setup);
  if (!IsUsableScale(kVdc)) return 0;
  CMC_Parameter& target = Param(setup, user);
  // The thresholds keep whatever range the setup gives them; the brake
  // chopper can act from 1 V up to the highest supply the converter reads.
  if (lowest && !SetParameterRange(target, *lowest, Base(setup, "VdcMaxMeasurable"))) return 0;
  return target.SetValueInBaseUnit(Base(setup, reg) / kVdc);
}

enum class Counts { AsComputed, TruncatedTowardZero };

int EncodeMeasuredVoltage(CMC_Setup& setup, std::string_view reg, std::string_view user, Counts counts) {
  if (!FindStepInputs(setup, {reg, user}, kMeasuredVoltageScale)) return 0;
  const double kVdc = MeasuredVoltageScale(setup);
  if (!IsUsableScale(kVdc)) return 0;
  const double value = Base(setup, user) * kVdc;
  // std::trunc keeps an overflow infinite, which the document then refuses.
  return Param(setup, reg).SetValueInBaseUnit(counts == Counts::TruncatedTowardZero ? std::trunc(value) : value);
}

// --- Drive temperature: converter counts of the drive's sensor -----------

bool FindTemperatureNames(const CMC_Setup& setup) {
  return FindStepInputs(setup, {"T2MAXPROT", "Temp_2", "DriveTempSensorGain", "DriveTempOutputAt0oC", "ADCrange"});
}

// The sensor gives DriveTempOutputAt0oC volts at 0 °C plus DriveTempSensorGain
// volts per degree; the converter spans ADCrange volts over ADCMAX counts.
// Without a span or a gain there is no temperature in the counts.
bool TemperatureSensorUsable(const CMC_Setup& setup) {
  return IsUsableScale(Base(setup, "ADCrange") / (AdcMax(setup) * Base(setup, "DriveTempSensorGain")));
}

// --- I²t -------------------------------------------------------------------
//
// The drive integrates, every speed-loop period and scaled by SFI2T / 2^26,
// the excess of the squared current (in converter counts) over the squared
// nominal current, divided by 16, and trips when the sum reaches I2TINTLIM.
// A constant current I_I2t thus trips after t_I2t = Ts * 2^26 / SFI2T.

constexpr double kTwoPow26 = 67108864.0;
// The trip time spans what SFI2T can express: 2^26 periods at SFI2T 1 down to
// 2048 periods at its largest useful value.
constexpr double kShortestTripPeriods = 2048.0;

struct I2tProtection {
  std::string_view current;        // trip current, A
  std::string_view time;           // trip time at that current, s
  std::string_view nominal;        // nominal current the integrator starts above, A
  std::string_view peak;           // peak current, A
  double lowestTripShare;          // the trip current starts at this share of the nominal current
  std::string_view protection;     // nominal current in converter counts
  std::string_view scaleRegister;  // integration scale
  std::string_view limit;          // trip limit of the integrator
  std::string_view warning;        // warning limit of the integrator
  // The drive's trip time is decoded with Ts_S(p), the motor's with Ts_S(c).
  bool timeFromTsParameter;
  // The drive's trip limit is read, and its nominal count written, in
  // internal units; for these unitless registers it is the same number.
  bool registersInInternalUnit;
};

constexpr I2tProtection kDriveI2t{"I_I2t_D", "t_I2t_D",     "InPS",         "ImaxPS", 1.0, "II2TPROT_D",
                                  "SFI2T_D", "I2TINTLIM_D", "II2TWARLIM_D", true,     true};
// The motor's protection starts 10 % above its nominal current.
constexpr I2tProtection kMotorI2t{"I_I2t_M", "t_I2t_M",     "In",          "ImaxM", 1.1,  "II2TPROT_M",
                                  "SFI2T_M", "I2TINTLIM_M", "I2TWARLIM_M", false,   false};

// Integrator counts at which a current trips: (I^2 - In^2) * kI^2 / 16.
double IntegratorCounts(double current, double nominal, double kI) {
  return (current * current - nominal * nominal) * kI * kI * 0.0625;
}

int DecodeTripCurrent(CMC_Setup& setup, const I2tProtection& p) {
  if (!FindStepInputs(setup, {p.current, p.limit, p.nominal, p.peak}, kCurrentScale)) return 0;
  const double kI = CurrentScale(setup);
  if (!IsUsableScale(kI)) return 0;
  CMC_Parameter& current = Param(setup, p.current);
  const double nominal = Base(setup, p.nominal);
  if (!SetParameterRange(current, p.lowestTripShare * nominal, Base(setup, p.peak))) return 0;
  const CMC_Parameter& limit = Param(setup, p.limit);
  const double counts = p.registersInInternalUnit ? limit.GetValueInInternalUnit() : limit.GetValueInBaseUnit();
  const double nominalCounts = nominal * kI;
  // A negative limit below -(In * kI)^2 / 16 has no current: the root is NaN
  // and the document keeps the previous value.
  return current.SetValueInBaseUnit(std::sqrt(16.0 * counts + nominalCounts * nominalCounts) / kI);
}

int DecodeTripTime(CMC_Setup& setup, const I2tProtection& p) {
  const bool found = p.timeFromTsParameter ? FindStepInputs(setup, {p.time, "Ts_S", p.scaleRegister}, kSpeedLoopPeriod)
                                           : FindStepInputs(setup, {p.time, p.scaleRegister}, kSpeedLoopPeriod);
  if (!found) return 0;
  const double computedPeriod = SpeedLoopPeriod(setup);
  const double period = p.timeFromTsParameter ? Base(setup, "Ts_S") : computedPeriod;
  if (!IsUsableScale(computedPeriod) || !IsUsableScale(period)) return 0;
  CMC_Parameter& time = Param(setup, p.time);
  if (!SetParameterRange(time, kShortestTripPeriods * computedPeriod, kTwoPow26 * computedPeriod)) return 0;
  return time.SetValueInBaseUnit(period * kTwoPow26 / Base(setup, p.scaleRegister));
}

int EncodeNominalCounts(CMC_Setup& setup, const I2tProtection& p) {
  if (!FindStepInputs(setup, {p.protection, p.nominal}, kCurrentScale)) return 0;
  const double kI = CurrentScale(setup);
  if (!IsUsableScale(kI)) return 0;
  const double counts = Base(setup, p.nominal) * kI;
  CMC_Parameter& reg = Param(setup, p.protection);
  return p.registersInInternalUnit ? reg.SetValueInInternalUnit(counts) : reg.SetValueInBaseUnit(counts);
}

int EncodeIntegrationScale(CMC_Setup& setup, const I2tProtection& p) {
  if (!FindStepInputs(setup, {p.scaleRegister, "Ts_S", p.time})) return 0;
  const double period = Base(setup, "Ts_S");
  if (!IsUsableScale(period)) return 0;
  // A zero trip time gives an infinite scale, which the document refuses.
  return Param(setup, p.scaleRegister).SetValueInBaseUnit(period * kTwoPow26 / Base(setup, p.time));
}

int EncodeTripLimit(CMC_Setup& setup, const I2tProtection& p) {
  if (!FindStepInputs(setup, {p.limit, p.current, p.nominal}, kCurrentScale)) return 0;
  const double kI = CurrentScale(setup);
  if (!IsUsableScale(kI)) return 0;
  return Param(setup, p.limit).SetValueInBaseUnit(IntegratorCounts(Base(setup, p.current), Base(setup, p.nominal), kI));
}

int EncodeWarningLimit(CMC_Setup& setup, const I2tProtection& p) {
  // Older drives have no warning limits; their absence is no fault to report.
  if (!HasI2tWarningLimits(setup)) return 0;
  if (!FindStepInputs(setup, {p.warning, p.current, p.time, p.nominal}, kCurrentScale)) return 0;
  const double kI = CurrentScale(setup);
  if (!IsUsableScale(kI)) return 0;
  // The warning comes 2 s before the trip: the trip limit reduced by (1 - 2 / t).
  const double share = 1.0 - 2.0 / Base(setup, p.time);
  return Param(setup, p.warning)
      .SetValueInBaseUnit(IntegratorCounts(Base(setup, p.current), Base(setup, p.nominal), kI) * share);
}

// --- Delays in speed-loop periods ----------------------------------------

// A delay register at this value switches its protection off.
constexpr double kProtectionOff = 65535.0;

int DecodeDelay(CMC_Setup& setup, std::string_view user, std::string_view reg) {
  if (!FindStepInputs(setup, {user, reg}, kSpeedLoopPeriod)) return 0;
  const double period = SpeedLoopPeriod(setup);
  if (!IsUsableScale(period)) return 0;
  CMC_Parameter& target = Param(setup, user);
  if (!SetParameterRange(target, 0.0, 32767.0 * period)) return 0;
  // A delay at 65535 (protection off) lies above the range; the document
  // clamps it, and the enable flag tells the user the protection is off.
  return target.SetValueInBaseUnit(Base(setup, reg) * period);
}

// `enable` empty: the delay always counts.
int EncodeDelay(CMC_Setup& setup, std::string_view reg, std::string_view user, std::string_view enable) {
  const bool found = enable.empty() ? FindStepInputs(setup, {reg, user, "Ts_S"}) : FindStepInputs(setup, {reg, user, "Ts_S", enable});
  if (!found) return 0;
  CMC_Parameter& target = Param(setup, reg);
  if (!enable.empty() && !FlagEqualsOne(Base(setup, enable))) return target.SetValueInBaseUnit(kProtectionOff);
  const double period = Base(setup, "Ts_S");
  if (!IsUsableScale(period)) return 0;
  return target.SetValueInBaseUnit(Base(setup, user) / period);
}

// --- Control errors --------------------------------------------------------

struct ControlErrorProtection {
  std::string_view enable;         // flag: protection on
  std::string_view limit;          // largest error, load unit
  std::string_view delay;          // time the error may last, s
  std::string_view limitRegister;  // largest error in drive units
  std::string_view delayRegister;  // delay in speed-loop periods, 65535 = off
  unsigned scaleInputs;
  double (*scale)(const CMC_Setup&);
};

// Errors are distances: the magnitude of the load scale converts them,
// whatever the direction of the transmission.
constexpr ControlErrorProtection kPositionError{
    "isPositionControlError", "ERR_position",   "time_ERR_pos", "ERRMAX", "TERRMAX",
    kLoadPositionScale,       LoadPositionScale};
constexpr ControlErrorProtection kSpeedError{
    "isSpeedControlError", "ERR_speed", "time_ERR_spd", "SERRMAX", "TSERRMAX", kLoadSpeedScale, LoadSpeedScale};

int DecodeEnable(CMC_Setup& setup, const ControlErrorProtection& e) {
  if (!FindStepInputs(setup, {e.enable, e.delayRegister})) return 0;
  CMC_Parameter& target = Param(setup, e.enable);
  if (!SetParameterRange(target, 0.0, 1.0)) return 0;
  return target.SetValueInBaseUnit(Base(setup, e.delayRegister) != kProtectionOff ? 1.0 : 0.0);
}

int DecodeErrorLimit(CMC_Setup& setup, const ControlErrorProtection& e) {
  if (!FindStepInputs(setup, {e.limit, e.limitRegister}, e.scaleInputs)) return 0;
  const double scale = std::fabs(e.scale(setup));
  if (!IsUsableScale(scale)) return 0;
  CMC_Parameter& target = Param(setup, e.limit);
  if (!SetParameterRange(target, 0.0, 32767.0 / scale)) return 0;
  return target.SetValueInBaseUnit(Base(setup, e.limitRegister) / scale);
}

int EncodeErrorLimit(CMC_Setup& setup, const ControlErrorProtection& e) {
  if (!FindStepInputs(setup, {e.limitRegister, e.limit}, e.scaleInputs)) return 0;
  const double scale = std::fabs(e.scale(setup));
  if (!IsUsableScale(scale)) return 0;
  return Param(setup, e.limitRegister).SetValueInBaseUnit(Base(setup, e.limit) * scale);
}

}  // namespace

int DecodeisOverCurrent(CMC_Setup& setup) { return DecodePcrFlag(setup, kFlagOverCurrent); }
int DecodeisMotori2t(CMC_Setup& setup) { return DecodePcrFlag(setup, kFlagMotorI2t); }
int DecodeisMotorOverTemp(CMC_Setup& setup) { return DecodePcrFlag(setup, kFlagMotorOverTemp); }
int DecodeisDriveOverTemp(CMC_Setup& setup) { return DecodePcrFlag(setup, kFlagDriveOverTemp); }
int DecodeisOverVoltage(CMC_Setup& setup) { return DecodePcrFlag(setup, kFlagOverVoltage); }
int DecodeisUnderVoltage(CMC_Setup& setup) { return DecodePcrFlag(setup, kFlagUnderVoltage); }
int DecodeisDriveI2t(CMC_Setup& setup) { return DecodePcrFlag(setup, kFlagDriveI2t); }

int EncodePCR(CMC_Setup& setup) {
  bool found = FindStepInputs(setup, {"PCR"});
  for (const PcrFlag* flag : kPcrFlags) found = FindStepInputs(setup, {flag->name}) && found;
  if (!found) return 0;
  const std::optional<std::int64_t> pcr = RegisterBits(Base(setup, "PCR"));
  if (!pcr) return 0;
  std::int64_t value = *pcr & kPcrForeignBits;
  for (const PcrFlag* flag : kPcrFlags)
    if (FlagEqualsOne(Base(setup, flag->name))) value |= std::int64_t{1} << flag->bit;
  return Param(setup, "PCR").SetValueInBaseUnit(static_cast<double>(value));
}

int DecodeUMAX_PROT(CMC_Setup& setup) { return DecodeMeasuredVoltage(setup, "UMAX_PROT", "UMAXPROT", std::nullopt); }
int DecodeUMIN_PROT(CMC_Setup& setup) { return DecodeMeasuredVoltage(setup, "UMIN_PROT", "UMINPROT", std::nullopt); }
// The over-voltage comparison runs on whole counts; the under-voltage
// threshold goes to the drive as it is.
int EncodeUMAXPROT(CMC_Setup& setup) {
  return EncodeMeasuredVoltage(setup, "UMAXPROT", "UMAX_PROT", Counts::TruncatedTowardZero);
}
int EncodeUMINPROT(CMC_Setup& setup) {
  return EncodeMeasuredVoltage(setup, "UMINPROT", "UMIN_PROT", Counts::AsComputed);
}

int DecodeTemp_2(CMC_Setup& setup) {
  if (!FindTemperatureNames(setup)) return 0;
  if (!TemperatureSensorUsable(setup)) return 0;
  const double volts = Base(setup, "ADCrange") * Base(setup, "T2MAXPROT") / AdcMax(setup);
  return Param(setup, "Temp_2")
      .SetValueInBaseUnit((volts - Base(setup, "DriveTempOutputAt0oC")) / Base(setup, "DriveTempSensorGain"));
}

int EncodeT2MAXPROT(CMC_Setup& setup) {
  if (!FindTemperatureNames(setup)) return 0;
  if (!TemperatureSensorUsable(setup)) return 0;
  const double volts = Base(setup, "DriveTempOutputAt0oC") + Base(setup, "DriveTempSensorGain") * Base(setup, "Temp_2");
  return Param(setup, "T2MAXPROT").SetValueInBaseUnit(AdcMax(setup) * volts / Base(setup, "ADCrange"));
}

int DecodeI_I2t_D(CMC_Setup& setup) { return DecodeTripCurrent(setup, kDriveI2t); }
int Decodet_I2t_D(CMC_Setup& setup) { return DecodeTripTime(setup, kDriveI2t); }
int EncodeII2TPROT_D(CMC_Setup& setup) { return EncodeNominalCounts(setup, kDriveI2t); }
int EncodeSFI2T_D(CMC_Setup& setup) { return EncodeIntegrationScale(setup, kDriveI2t); }
int EncodeI2TINTLIM_D(CMC_Setup& setup) { return EncodeTripLimit(setup, kDriveI2t); }
int EncodeII2TWARLIM_D(CMC_Setup& setup) { return EncodeWarningLimit(setup, kDriveI2t); }

int DecodeI_I2t_M(CMC_Setup& setup) { return DecodeTripCurrent(setup, kMotorI2t); }
int Decodet_I2t_M(CMC_Setup& setup) { return DecodeTripTime(setup, kMotorI2t); }
int EncodeII2TPROT_M(CMC_Setup& setup) { return EncodeNominalCounts(setup, kMotorI2t); }
int EncodeSFI2T_M(CMC_Setup& setup) { return EncodeIntegrationScale(setup, kMotorI2t); }
int EncodeI2TINTLIM_M(CMC_Setup& setup) { return EncodeTripLimit(setup, kMotorI2t); }
int EncodeI2TWARLIM_M(CMC_Setup& setup) { return EncodeWarningLimit(setup, kMotorI2t); }

int DecodeImax_Prot(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"Imax_Prot", "IMAXPROT", "ImaxM", "ImaxPS"}, kCurrentScale)) return 0;
  const double kI = CurrentScale(setup);
  if (!IsUsableScale(kI)) return 0;
  CMC_Parameter& target = Param(setup, "Imax_Prot");
  // Neither the motor nor the drive may be asked to carry more than its peak.
  if (!SetParameterRange(target, 0.0, std::min(Base(setup, "ImaxM"), Base(setup, "ImaxPS")))) return 0;
  return target.SetValueInBaseUnit(Base(setup, "IMAXPROT") / kI);
}

int Decodetime_Imax_Prot(CMC_Setup& setup) { return DecodeDelay(setup, "time_Imax_Prot", "TIMAXPROT"); }

int EncodeIMAXPROT(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"IMAXPROT", "Imax_Prot"}, kCurrentScale)) return 0;
  const double kI = CurrentScale(setup);
  if (!IsUsableScale(kI)) return 0;
  return Param(setup, "IMAXPROT").SetValueInBaseUnit(Base(setup, "Imax_Prot") * kI);
}

int EncodeTIMAXPROT(CMC_Setup& setup) { return EncodeDelay(setup, "TIMAXPROT", "time_Imax_Prot", {}); }

int DecodeisPositionControlError(CMC_Setup& setup) { return DecodeEnable(setup, kPositionError); }
int DecodeERR_position(CMC_Setup& setup) { return DecodeErrorLimit(setup, kPositionError); }
int Decodetime_ERR_pos(CMC_Setup& setup) {
  return DecodeDelay(setup, kPositionError.delay, kPositionError.delayRegister);
}
int EncodeERRMAX(CMC_Setup& setup) { return EncodeErrorLimit(setup, kPositionError); }
int EncodeTERRMAX(CMC_Setup& setup) {
  return EncodeDelay(setup, kPositionError.delayRegister, kPositionError.delay, kPositionError.enable);
}

int DecodeisSpeedControlError(CMC_Setup& setup) { return DecodeEnable(setup, kSpeedError); }
int DecodeERR_speed(CMC_Setup& setup) { return DecodeErrorLimit(setup, kSpeedError); }
int Decodetime_ERR_spd(CMC_Setup& setup) { return DecodeDelay(setup, kSpeedError.delay, kSpeedError.delayRegister); }
int EncodeSERRMAX(CMC_Setup& setup) { return EncodeErrorLimit(setup, kSpeedError); }
int EncodeTSERRMAX(CMC_Setup& setup) {
  return EncodeDelay(setup, kSpeedError.delayRegister, kSpeedError.delay, kSpeedError.enable);
}

int EncodeT1MAXPROT(CMC_Setup& setup) {
  // Not every drive has this threshold; the plug-in keeps it at its largest
  // value where it exists and says nothing where it does not.
  CMC_Parameter* reg = FindParameterQuiet(setup, "T1MAXPROT");
  return reg != nullptr ? reg->SetValueInBaseUnit(32767.0) : 0;
}

int DecodeVbrake(CMC_Setup& setup) { return DecodeMeasuredVoltage(setup, "Vbrake", "BRAKELIM", 1.0); }
int EncodeBRAKELIM(CMC_Setup& setup) { return EncodeMeasuredVoltage(setup, "BRAKELIM", "Vbrake", Counts::AsComputed); }

std::span<const CodecStep> ProtectionCodecSteps() {
  using enum CodecDirection;
  static const CodecStep steps[] = {
      {Decode, "isOverCurrent", DecodeisOverCurrent},
      {Decode, "isMotori2t", DecodeisMotori2t},
      {Decode, "isMotorOverTemp", DecodeisMotorOverTemp},
      {Decode, "isDriveOverTemp", DecodeisDriveOverTemp},
      {Decode, "isOverVoltage", DecodeisOverVoltage},
      {Decode, "isUnderVoltage", DecodeisUnderVoltage},
      {Decode, "isDriveI2t", DecodeisDriveI2t},
      {Encode, "PCR", EncodePCR},
      {Decode, "UMAX_PROT", DecodeUMAX_PROT},
      {Decode, "UMIN_PROT", DecodeUMIN_PROT},
      {Encode, "UMAXPROT", EncodeUMAXPROT},
      {Encode, "UMINPROT", EncodeUMINPROT},
      {Decode, "Temp_2", DecodeTemp_2},
      {Encode, "T2MAXPROT", EncodeT2MAXPROT},
      {Decode, "I_I2t_D", DecodeI_I2t_D},
      {Decode, "t_I2t_D", Decodet_I2t_D},
      {Encode, "II2TPROT_D", EncodeII2TPROT_D},
      {Encode, "SFI2T_D", EncodeSFI2T_D},
      {Encode, "I2TINTLIM_D", EncodeI2TINTLIM_D},
      {Encode, "II2TWARLIM_D", EncodeII2TWARLIM_D},
      {Decode, "I_I2t_M", DecodeI_I2t_M},
      {Decode, "t_I2t_M", Decodet_I2t_M},
      {Encode, "II2TPROT_M", EncodeII2TPROT_M},
      {Encode, "SFI2T_M", EncodeSFI2T_M},
      {Encode, "I2TINTLIM_M", EncodeI2TINTLIM_M},
      {Encode, "I2TWARLIM_M", EncodeI2TWARLIM_M},
      {Decode, "Imax_Prot", DecodeImax_Prot},
      {Decode, "time_Imax_Prot", Decodetime_Imax_Prot},
      {Encode, "IMAXPROT", EncodeIMAXPROT},
      {Encode, "TIMAXPROT", EncodeTIMAXPROT},
      {Decode, "isPositionControlError", DecodeisPositionControlError},
      {Decode, "ERR_position", DecodeERR_position},
      {Decode, "time_ERR_pos", Decodetime_ERR_pos},
      {Encode, "ERRMAX", EncodeERRMAX},
      {Encode, "TERRMAX", EncodeTERRMAX},
      {Decode, "isSpeedControlError", DecodeisSpeedControlError},
      {Decode, "ERR_speed", DecodeERR_speed},
      {Decode, "time_ERR_spd", Decodetime_ERR_spd},
      {Encode, "SERRMAX", EncodeSERRMAX},
      {Encode, "TSERRMAX", EncodeTSERRMAX},
      {Encode, "T1MAXPROT", EncodeT1MAXPROT},
      {Decode, "Vbrake", DecodeVbrake},
      {Encode, "BRAKELIM", EncodeBRAKELIM},
  };
  return steps;
}
