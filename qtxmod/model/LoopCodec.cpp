#include "LoopCodec.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>

#include "CodecSteps.h"
#include "FeatureProbes.h"
#include "Scales.h"
#include "axcore/Setup.h"

namespace {

// The drive's fixed-point words: 32767 stands for 1 (a full mantissa, no
// filtering, no saturation).
constexpr double kFullScale = 32767.0;
// Largest user gain of a mantissa and shift: 2^14. The acceleration
// feed-forward has two shift registers and reaches 2^22.
constexpr double kGainMax = 16384.0;
constexpr double kAccelerationGainMax = 4194304.0;
// "SFTAFFW" carries at most 11 of the acceleration feed-forward shift,
// "SFTKFF" the rest.
constexpr double kAccelerationShiftSplit = 11.0;
// ACR bits 8 to 10 hold the control structure; bit 9 is set whenever the
// speed loop runs (speed mode, or position mode over the speed loop), and
// then "SATS" carries the current limit, otherwise "SATP" does.
constexpr std::int64_t kAcrSpeedLoop = 0x0200;
// UPGRADE bit 9 is the time base of "T1ONA" and "T1ONB".
constexpr std::int64_t kUpgradeSlowTimeBase = 0x0200;

// The names a drive scale reads. A step that converts with a scale looks
// them up with its own names: a missing one is reported and the step writes
// nothing, rather than converting with the 0 a missing name reads as.
using Names = std::span<const char* const>;
constexpr const char* kCurrentScaleInputs[] = {"ImaxPS"};
constexpr const char* kCurrentLoopInputs[] = {"CLPER", "PWMPER", "DSP_freq"};
constexpr const char* kLoadSpeedInputs[] = {
    "SLPER", "PWMPER", "DSP_freq", "SINCOS_fract", "EncRes", "Motor_transmission", "Load_transmission"};

// Ordinary lookups of every name, so that the host reports each missing one;
// the parameters of `names` in order, or nothing when any name is missing.
template <std::size_t N>
std::optional<std::array<CMC_Parameter*, N>> FindAll(CMC_Setup& setup, const char* const (&names)[N],
                                                     std::initializer_list<Names> scaleInputs = {}) {
  std::array<CMC_Parameter*, N> found{};
  bool complete = true;
  for (std::size_t i = 0; i < N; ++i) {
    found[i] = setup.FindParameter(names[i]);
    complete = found[i] != nullptr && complete;
  }
  for (Names group : scaleInputs)
    for (const char* name : group) complete = setup.FindParameter(name) != nullptr && complete;
  if (!complete) return std::nullopt;
  return found;
}

double Value(const CMC_Parameter* parameter) { return parameter->GetValueInBaseUnit(); }

// A drive scale to convert with. A zero "ImaxPS", "Vdc" or loop period makes
// a scale infinite, and dividing by it would store 0 as if it were a value;
// such a setup has nothing to convert.
std::optional<double> Usable(double scale) {
  if (!IsUsableScale(scale)) return std::nullopt;
  return scale;
}

// A register taken as an integer for its bits. A value that is not finite or
// does not fit 64 bits is no register content.
std::optional<std::int64_t> AsInteger(double value) {
  const double truncated = std::trunc(value);
  if (!(truncated >= -9223372036854775808.0 && truncated < 9223372036854775808.0)) return std::nullopt;
  return static_cast<std::int64_t>(truncated);
}


// ---------------------------------------------------------------- gains

// Smallest power of two at or above the gain, as ceil(ln G / ln 2); 0 for a
// gain up to 1. The quotient is exact for every power of two up to 2^22, so
// a gain decoded from its registers encodes to the same registers again.
double GainShift(double gain) { return gain <= 1.0 ? 0.0 : std::ceil(std::log(gain) / std::log(2.0)); }

// Above 1 the mantissa lies in (16383.5, 32767]: the drive keeps 15 bits of
// precision whatever the gain. Not rounded here; an integer register rounds.
double GainMantissa(double gain) { return gain * kFullScale / std::exp2(GainShift(gain)); }

struct MantissaShiftGain {
  const char* gain;
  const char* mantissa;
  const char* shift;
  bool (*convertedOnlyWhen)(const CMC_Setup&);  // null: always
};

// clang-format off
//                                           gain        mantissa  shift       converted only when
constexpr MantissaShiftGain kCurrentP      {"Kp_C_scl", "KPI",    "SFTKPI",   nullptr};
constexpr MantissaShiftGain kCurrentI      {"Ki_C_scl", "KII",    "SFTKII",   nullptr};
constexpr MantissaShiftGain kSpeedP        {"Kp_S_scl", "KPS",    "SFTKPS",   nullptr};
constexpr MantissaShiftGain kSpeedI        {"Ki_S_scl", "KIS",    "SFTKIS",   nullptr};
constexpr MantissaShiftGain kPositionP     {"Kp_P_scl", "KPP",    "SFTKPP",   nullptr};
constexpr MantissaShiftGain kPositionI     {"Ki_P_scl", "KIP",    "SFTKIP",   nullptr};
constexpr MantissaShiftGain kPositionD     {"Kd_P_scl", "KDP",    "SFTKDP",   nullptr};
constexpr MantissaShiftGain kAngleP        {"Kp_T_scl", "KPTHT",  "SFTKPTHT", HasAngleController};
constexpr MantissaShiftGain kAngleI        {"Ki_T_scl", "KITHT",  "SFTKITHT", HasAngleController};
constexpr MantissaShiftGain kSpeedForward  {"KFFS_scl", "KFFS",   "SFTSFFW",  nullptr};
// clang-format on

// The condition is a quiet probe: a drive without the angle controller has
// none of its registers, and that is no error to report.
bool IsConverted(const CMC_Setup& setup, const MantissaShiftGain& row) {
  return row.convertedOnlyWhen == nullptr || row.convertedOnlyWhen(setup);
}

int DecodeGain(CMC_Setup& setup, const MantissaShiftGain& row) {
  if (!IsConverted(setup, row)) return 0;
  const auto found = FindAll(setup, {row.gain, row.mantissa, row.shift});
  if (!found) return 0;
  const auto [gain, mantissa, shift] = *found;
  if (!SetParameterRange(*gain, 0.0, kGainMax)) return 0;
  return gain->SetValueInBaseUnit(Value(mantissa) * std::exp2(Value(shift)) / kFullScale);
}

int EncodeGainShift(CMC_Setup& setup, const MantissaShiftGain& row) {
  if (!IsConverted(setup, row)) return 0;
  const auto found = FindAll(setup, {row.shift, row.gain});
  if (!found) return 0;
  const auto [shift, gain] = *found;
  return shift->SetValueInBaseUnit(GainShift(Value(gain)));
}

int EncodeGainMantissa(CMC_Setup& setup, const MantissaShiftGain& row) {
  if (!IsConverted(setup, row)) return 0;
  const auto found = FindAll(setup, {row.mantissa, row.gain});
  if (!found) return 0;
  const auto [mantissa, gain] = *found;
  return mantissa->SetValueInBaseUnit(GainMantissa(Value(gain)));
}

// Each of the three acceleration feed-forward registers is written from the
// gain alone, so they may be encoded in any order.
template <typename Rule>
int EncodeAccelerationRegister(CMC_Setup& setup, const char* target, Rule rule) {
  const auto found = FindAll(setup, {target, "KFFA_scl"});
  if (!found) return 0;
  const auto [out, gain] = *found;
  return out->SetValueInBaseUnit(rule(Value(gain)));
}

// ---------------------------------------------------------------- limits

// Position mode (ControlMode 0) with the position controller driving the
// speed loop (PositionControlType 1): "SATP" then limits the speed
// reference, not the current.
bool IsPositionOverSpeedLoop(const CMC_Parameter* controlMode, const CMC_Parameter* positionControlType) {
  return Value(controlMode) == 0.0 && FlagEqualsOne(Value(positionControlType));
}

// Half a pole pitch per PWM period: the fastest travel the drive's
// commutation follows, DSP_freq * PolePitch * 0.25 / PWMPER.
double CommutationSpeedLimit(const CMC_Parameter* clock, const CMC_Parameter* polePitch, const CMC_Parameter* pwmper) {
  return Value(clock) * Value(polePitch) * 0.25 / Value(pwmper);
}

int DecodeCurrentLimit(CMC_Setup& setup, const char* target) {
  const auto found = FindAll(setup, {target, "SATS", "SATP", "ACR", "ImaxPS", "ImaxM"});
  if (!found) return 0;
  const auto [limit, sats, satp, acr, imaxDrive, imaxMotor] = *found;
  const auto kI = Usable(CurrentScale(setup));
  const auto control = AsInteger(Value(acr));
  if (!kI || !control) return 0;
  if (!SetParameterRange(*limit, 0.0, std::min(Value(imaxDrive), Value(imaxMotor)))) return 0;
  const double saturation = (*control & kAcrSpeedLoop) != 0 ? Value(sats) : Value(satp);
  return limit->SetValueInBaseUnit((kFullScale - saturation) / *kI);
}

// The integral part of a controller saturates at a share (%) of the limit
// its output saturates at.
int DecodeIntegralShare(CMC_Setup& setup, const char* target, const char* integralLimit, const char* saturation) {
  const auto found = FindAll(setup, {target, integralLimit, saturation});
  if (!found) return 0;
  const auto [share, integral, output] = *found;
  if (!SetParameterRange(*share, 0.0, 100.0)) return 0;
  return share->SetValueInBaseUnit((kFullScale - Value(integral)) * 100.0 / (kFullScale - Value(output)));
}

int EncodeCopyOfSATPWM(CMC_Setup& setup, const char* target) {
  const auto found = FindAll(setup, {target, "SATPWM"});
  if (!found) return 0;
  const auto [out, satpwm] = *found;
  return out->SetValueInBaseUnit(Value(satpwm));
}

// ---------------------------------------------------------------- test quantities

// MotorPhaseConnectionType 1 takes a third of the measured resistance as
// the resistance of one phase.
double PhaseResistance(const CMC_Parameter* r, const CMC_Parameter* connectionType) {
  return FlagEqualsOne(Value(connectionType)) ? Value(r) / 3.0 : Value(r);
}

// The start current as a share (%) of In from "REFTST", the voltage command
// that drives it: the part the dead time eats in every PWM period comes off
// first, the rest drives the current through the phase resistance.
int DecodeStartCurrentShare(CMC_Setup& setup, const char* target) {
  const auto found =
      FindAll(setup, {target, "REFTST", "In", "R", "MotorPhaseConnectionType", "Vdc", "DSP_freq", "PWMPER"});
  if (!found) return 0;
  const auto [share, reftst, in, r, connectionType, vdc, clock, pwmper] = *found;
  const auto kV = Usable(VoltageCommandScale(setup));
  if (!kV || !Usable(Value(clock) / (2.0 * Value(pwmper)))) return 0;
  if (!SetParameterRange(*share, 0.0, 300.0)) return 0;
  const double pwmFrequency = Value(clock) / (2.0 * Value(pwmper));
  const double deadTimeCounts = pwmFrequency * DeadTime(setup) * Value(vdc) * *kV;
  return share->SetValueInBaseUnit((Value(reftst) - deadTimeCounts) * 100.0 /
                                   (*kV * Value(in) * PhaseResistance(r, connectionType)));
}

// "REFTST" and "RINCTST" get the same command; this direction takes the PWM
// frequency from the parameter "PWM_freq".
int EncodeStartCommand(CMC_Setup& setup, const char* target) {
  const auto found =
      FindAll(setup, {target, "StartCurrent", "In", "R", "MotorPhaseConnectionType", "PWM_freq", "Vdc", "DSP_freq"});
  if (!found) return 0;
  const auto [out, share, in, r, connectionType, pwmFrequency, vdc, clock] = *found;
  const auto kV = Usable(VoltageCommandScale(setup));
  if (!kV || !Usable(Value(pwmFrequency))) return 0;
  const double deadTimeCounts = Value(pwmFrequency) * DeadTime(setup) * Value(vdc) * *kV;
  return out->SetValueInBaseUnit(*kV * Value(share) * Value(in) * PhaseResistance(r, connectionType) / 100.0 +
                                 deadTimeCounts);
}

// Counts per second of "T1ONA" and "T1ONB": 65535 (up to 1 s) with UPGRADE
// bit 9 clear, 100 (up to 655.35 s) with it set. Nothing when UPGRADE is no
// register value.
std::optional<double> AlignmentTimeBase(const CMC_Parameter* upgrade) {
  const auto bits = AsInteger(Value(upgrade));
  if (!bits) return std::nullopt;
  return (*bits & kUpgradeSlowTimeBase) != 0 ? 100.0 : 65535.0;
}

int EncodeAlignmentTime(CMC_Setup& setup, const char* target) {
  const auto found = FindAll(setup, {target, "time_AB", "UPGRADE"});
  if (!found) return 0;
  const auto [out, time, upgrade] = *found;
  const auto countsPerSecond = AlignmentTimeBase(upgrade);
  if (!countsPerSecond) return 0;
  return out->SetValueInBaseUnit(Value(time) * *countsPerSecond);
}

}  // namespace

// ---------------------------------------------------------------- gains held as mantissa and shift

int DecodeKp_C_scl(CMC_Setup& setup) { return DecodeGain(setup, kCurrentP); }
int DecodeKi_C_scl(CMC_Setup& setup) { return DecodeGain(setup, kCurrentI); }
int DecodeKp_S_scl(CMC_Setup& setup) { return DecodeGain(setup, kSpeedP); }
int DecodeKi_S_scl(CMC_Setup& setup) { return DecodeGain(setup, kSpeedI); }
int DecodeKp_P_scl(CMC_Setup& setup) { return DecodeGain(setup, kPositionP); }
int DecodeKi_P_scl(CMC_Setup& setup) { return DecodeGain(setup, kPositionI); }
int DecodeKd_P_scl(CMC_Setup& setup) { return DecodeGain(setup, kPositionD); }
int DecodeKp_T_scl(CMC_Setup& setup) { return DecodeGain(setup, kAngleP); }
int DecodeKi_T_scl(CMC_Setup& setup) { return DecodeGain(setup, kAngleI); }
int DecodeKFFS_scl(CMC_Setup& setup) { return DecodeGain(setup, kSpeedForward); }

int EncodeKPI(CMC_Setup& setup) { return EncodeGainMantissa(setup, kCurrentP); }
int EncodeSFTKPI(CMC_Setup& setup) { return EncodeGainShift(setup, kCurrentP); }
int EncodeKII(CMC_Setup& setup) { return EncodeGainMantissa(setup, kCurrentI); }
int EncodeSFTKII(CMC_Setup& setup) { return EncodeGainShift(setup, kCurrentI); }
int EncodeKPS(CMC_Setup& setup) { return EncodeGainMantissa(setup, kSpeedP); }
int EncodeSFTKPS(CMC_Setup& setup) { return EncodeGainShift(setup, kSpeedP); }
int EncodeKIS(CMC_Setup& setup) { return EncodeGainMantissa(setup, kSpeedI); }
int EncodeSFTKIS(CMC_Setup& setup) { return EncodeGainShift(setup, kSpeedI); }
int EncodeKPP(CMC_Setup& setup) { return EncodeGainMantissa(setup, kPositionP); }
int EncodeSFTKPP(CMC_Setup& setup) { return EncodeGainShift(setup, kPositionP); }
int EncodeKIP(CMC_Setup& setup) { return EncodeGainMantissa(setup, kPositionI); }
int EncodeSFTKIP(CMC_Setup& setup) { return EncodeGainShift(setup, kPositionI); }
int EncodeKDP(CMC_Setup& setup) { return EncodeGainMantissa(setup, kPositionD); }
int EncodeSFTKDP(CMC_Setup& setup) { return EncodeGainShift(setup, kPositionD); }
int EncodeKPTHT(CMC_Setup& setup) { return EncodeGainMantissa(setup, kAngleP); }
int EncodeSFTKPTHT(CMC_Setup& setup) { return EncodeGainShift(setup, kAngleP); }
int EncodeKITHT(CMC_Setup& setup) { return EncodeGainMantissa(setup, kAngleI); }
int EncodeSFTKITHT(CMC_Setup& setup) { return EncodeGainShift(setup, kAngleI); }
int EncodeKFFS(CMC_Setup& setup) { return EncodeGainMantissa(setup, kSpeedForward); }
int EncodeSFTSFFW(CMC_Setup& setup) { return EncodeGainShift(setup, kSpeedForward); }

// ---------------------------------------------------------------- acceleration feed-forward

int DecodeKFFA_scl(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"KFFA_scl", "KFFA", "SFTKFF", "SFTAFFW"});
  if (!found) return 0;
  const auto [gain, mantissa, upperShift, lowerShift] = *found;
  if (!SetParameterRange(*gain, 0.0, kAccelerationGainMax)) return 0;
  return gain->SetValueInBaseUnit(Value(mantissa) * std::exp2(Value(upperShift) + Value(lowerShift)) / kFullScale);
}

int EncodeKFFA(CMC_Setup& setup) { return EncodeAccelerationRegister(setup, "KFFA", GainMantissa); }

int EncodeSFTAFFW(CMC_Setup& setup) {
  return EncodeAccelerationRegister(setup, "SFTAFFW",
                                    [](double gain) { return std::min(GainShift(gain), kAccelerationShiftSplit); });
}

int EncodeSFTKFF(CMC_Setup& setup) {
  return EncodeAccelerationRegister(setup, "SFTKFF", [](double gain) {
    const double shift = GainShift(gain);
    return shift > kAccelerationShiftSplit ? shift - kAccelerationShiftSplit : 0.0;
  });
}

// ---------------------------------------------------------------- derivative filter

int DecodeFilter_D(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"filter_D", "KDFP"});
  if (!found) return 0;
  const auto [filter, kdfp] = *found;
  if (!SetParameterRange(*filter, 0.0, 1.0)) return 0;
  return filter->SetValueInBaseUnit(Value(kdfp) / kFullScale);
}

int EncodeKDFP(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"KDFP", "filter_D"});
  if (!found) return 0;
  const auto [kdfp, filter] = *found;
  return kdfp->SetValueInBaseUnit(Value(filter) * kFullScale);
}

// ---------------------------------------------------------------- current limit and saturations

int DecodeIlimPS(CMC_Setup& setup) { return DecodeCurrentLimit(setup, "IlimPS"); }
int DecodeTestLimitCurrent(CMC_Setup& setup) { return DecodeCurrentLimit(setup, "TestLimitCurrent"); }

int DecodeLimit_Speed(CMC_Setup& setup) {
  const auto found =
      FindAll(setup, {"Limit_Speed", "SATP", "PolePitch", "DSP_freq", "PWMPER", "ControlMode", "PositionControlType"},
              {kLoadSpeedInputs});
  if (!found) return 0;
  const auto [limit, satp, polePitch, clock, pwmper, mode, type] = *found;
  // In any other mode "SATP" holds a current limit and there is no speed
  // limit to show: nothing to do is no failure.
  if (!IsPositionOverSpeedLoop(mode, type)) return 1;
  const auto vS = Usable(std::fabs(LoadSpeedScale(setup)));
  const auto fastest = Usable(CommutationSpeedLimit(clock, polePitch, pwmper));
  if (!vS || !fastest) return 0;
  if (!SetParameterRange(*limit, 0.0, *fastest)) return 0;
  return limit->SetValueInBaseUnit((kFullScale - Value(satp)) / *vS);
}

int DecodeIPSatS(CMC_Setup& setup) { return DecodeIntegralShare(setup, "IPSatS", "IMAXS", "SATS"); }
int DecodeIPSatP(CMC_Setup& setup) { return DecodeIntegralShare(setup, "IPSatP", "IMAXP", "SATP"); }

int EncodeSATS(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"SATS", "IlimPS"}, {kCurrentScaleInputs});
  if (!found) return 0;
  const auto [sats, currentLimit] = *found;
  const auto kI = Usable(CurrentScale(setup));
  if (!kI || !SetParameterRange(*sats, 0.0, kFullScale)) return 0;
  return sats->SetValueInBaseUnit(kFullScale - Value(currentLimit) * *kI);
}

int EncodeSATP(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"SATP", "IlimPS", "Limit_Speed", "ControlMode", "PositionControlType"},
                             {kCurrentScaleInputs, kLoadSpeedInputs});
  if (!found) return 0;
  const auto [satp, currentLimit, speedLimit, mode, type] = *found;
  const bool limitsSpeed = IsPositionOverSpeedLoop(mode, type);
  const auto scale = Usable(limitsSpeed ? std::fabs(LoadSpeedScale(setup)) : CurrentScale(setup));
  if (!scale || !SetParameterRange(*satp, 0.0, kFullScale)) return 0;
  const double limit = limitsSpeed ? Value(speedLimit) : Value(currentLimit);
  return satp->SetValueInBaseUnit(kFullScale - limit * *scale);
}

int EncodeIMAXS(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"IMAXS", "IPSatS", "IlimPS"}, {kCurrentScaleInputs});
  if (!found) return 0;
  const auto [imaxs, share, currentLimit] = *found;
  const auto kI = Usable(CurrentScale(setup));
  if (!kI || !SetParameterRange(*imaxs, 0.0, kFullScale)) return 0;
  return imaxs->SetValueInBaseUnit(kFullScale - (Value(share) / 100.0) * Value(currentLimit) * *kI);
}

int EncodeIMAXP(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"IMAXP", "IPSatP", "IlimPS", "Limit_Speed", "ControlMode", "PositionControlType"},
                             {kCurrentScaleInputs, kLoadSpeedInputs});
  if (!found) return 0;
  const auto [imaxp, share, currentLimit, speedLimit, mode, type] = *found;
  const bool limitsSpeed = IsPositionOverSpeedLoop(mode, type);
  const auto scale = Usable(std::fabs(limitsSpeed ? LoadSpeedScale(setup) : CurrentScale(setup)));
  if (!scale || !SetParameterRange(*imaxp, 0.0, kFullScale)) return 0;
  const double limit = limitsSpeed ? Value(speedLimit) : Value(currentLimit);
  return imaxp->SetValueInBaseUnit(kFullScale - limit * (Value(share) / 100.0) * *scale);
}

// A current measurement that samples within the PWM period needs the duty
// to stay 4 µs short of full: 4e-6 s * 32767 = 0.13107 counts per hertz.
int EncodeSATPWM(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"SATPWM", "CurrentMeasurementType", "PWM_freq"});
  if (!found) return 0;
  const auto [satpwm, measurement, pwmFrequency] = *found;
  return satpwm->SetValueInBaseUnit(Value(measurement) != 0.0 ? Value(pwmFrequency) * 0.13107 : 0.0);
}

int EncodeSATID(CMC_Setup& setup) { return EncodeCopyOfSATPWM(setup, "SATID"); }
int EncodeSATIQ(CMC_Setup& setup) { return EncodeCopyOfSATPWM(setup, "SATIQ"); }

// ---------------------------------------------------------------- gravity offset and load feed-forward

int DecodeOffsetCurrent(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"OffsetCurrent", "FFL", "In"}, {kCurrentScaleInputs});
  if (!found) return 0;
  const auto [offset, ffl, in] = *found;
  const auto kI = Usable(CurrentScale(setup));
  if (!kI || !SetParameterRange(*offset, -Value(in), Value(in))) return 0;
  return offset->SetValueInBaseUnit(Value(ffl) / *kI);
}

int DecodeIsCompensateGravitationalLoads(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"isCompensateGravitationalLoads", "FFL"});
  if (!found) return 0;
  const auto [flag, ffl] = *found;
  if (!SetParameterRange(*flag, 0.0, 1.0)) return 0;
  return flag->SetValueInBaseUnit(Value(ffl) != 0.0 ? 1.0 : 0.0);
}

int DecodeMload_over_M(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"Mload_over_M", "Mt", "M"});
  if (!found) return 0;
  const auto [ratio, totalMass, motorMass] = *found;
  if (!SetParameterRange(*ratio, 0.0, 100.0)) return 0;
  return ratio->SetValueInBaseUnit(Value(totalMass) / Value(motorMass) - 1.0);
}

int EncodeFFL(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"FFL", "OffsetCurrent", "isCompensateGravitationalLoads"}, {kCurrentScaleInputs});
  if (!found) return 0;
  const auto [ffl, offset, compensate] = *found;
  // Without compensation the register is 0 whatever the current scale.
  if (std::trunc(Value(compensate)) == 0.0) return ffl->SetValueInBaseUnit(0.0);
  const auto kI = Usable(CurrentScale(setup));
  if (!kI) return 0;
  return ffl->SetValueInBaseUnit(Value(offset) * *kI);
}

// The load feed-forward runs at full gain.
int EncodeKFFL(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"KFFL"});
  if (!found) return 0;
  return (*found)[0]->SetValueInBaseUnit(kFullScale);
}

// ---------------------------------------------------------------- filter on the current controller output

int DecodeIsUseFilterOnCrtCtrlOutput(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"isUseFilterOnCrtCtrlOutput", "FILTERQ"});
  if (!found) return 0;
  const auto [flag, filterq] = *found;
  if (!SetParameterRange(*flag, 0.0, 1.0)) return 0;
  return flag->SetValueInBaseUnit(Value(filterq) != kFullScale ? 1.0 : 0.0);
}

// Rate r of y += q (x - y) run every Ts_C: q = 1 - exp(-r Ts_C), so
// r = -ln(1 - q) / Ts_C, at most 0.5 / Ts_C. An unfiltered output shows the
// rate 5000/s the user starts from when switching the filter on. Without a
// usable current-loop period there is no rate to show, filtered or not: the
// range would collapse to [0, 0] or open without end.
int DecodeFilterOnCurrentControllerOutput(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"FilterOnCurrentControllerOutput", "FILTERQ", "DSP_freq", "CLPER", "PWMPER"});
  if (!found) return 0;
  const auto [rate, filterq, clock, clper, pwmper] = *found;
  if (!Usable(CurrentLoopPeriod(setup))) return 0;
  if (!SetParameterRange(*rate, 0.0, Value(clock) * 0.25 / Value(clper) / Value(pwmper))) return 0;
  if (Value(filterq) == kFullScale) return rate->SetValueInBaseUnit(5000.0);
  return rate->SetValueInBaseUnit(std::log(1.0 - Value(filterq) / kFullScale) * Value(clock) / Value(clper) * (-0.5) /
                                  Value(pwmper));
}

int EncodeFILTERQ(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"FILTERQ", "isUseFilterOnCrtCtrlOutput", "FilterOnCurrentControllerOutput"},
                             {kCurrentLoopInputs});
  if (!found) return 0;
  const auto [filterq, use, rate] = *found;
  if (Value(use) == 0.0) return filterq->SetValueInBaseUnit(kFullScale);
  const auto tsC = Usable(CurrentLoopPeriod(setup));
  if (!tsC) return 0;
  // The drive takes whole counts, cut toward zero; a rate that makes the
  // coefficient no 32-bit number (a large negative rate) is no filter.
  const double coefficient = (1.0 - std::exp(-Value(rate) * *tsC)) * kFullScale;
  if (!(coefficient > -2147483649.0 && coefficient < 2147483648.0)) return 0;
  return filterq->SetValueInBaseUnit(std::trunc(coefficient));
}

// ---------------------------------------------------------------- test and start quantities

// Every decoding resets the test current to its default: half the smaller
// of the motor's and the drive's nominal current.
int DecodeTestCurrent(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"TestCurrent", "In", "InPS"});
  if (!found) return 0;
  const auto [current, motorNominal, driveNominal] = *found;
  const double half = std::min(Value(motorNominal) * 0.5, Value(driveNominal) * 0.5);
  if (!SetParameterRange(*current, 0.0, 1.8 * half)) return 0;
  return current->SetValueInBaseUnit(half);
}

int DecodeTestProtectionCurrent(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"TestProtectionCurrent", "IMAXPROT", "ImaxM", "ImaxPS"});
  if (!found) return 0;
  const auto [current, imaxprot, imaxMotor, imaxDrive] = *found;
  const auto kI = Usable(CurrentScale(setup));
  if (!kI || !SetParameterRange(*current, 0.0, std::min(Value(imaxMotor), Value(imaxDrive)))) return 0;
  return current->SetValueInBaseUnit(Value(imaxprot) / *kI);
}

int DecodeTestStartCurrent(CMC_Setup& setup) { return DecodeStartCurrentShare(setup, "TestStartCurrent"); }
int DecodeStartCurrent(CMC_Setup& setup) { return DecodeStartCurrentShare(setup, "StartCurrent"); }
int EncodeREFTST(CMC_Setup& setup) { return EncodeStartCommand(setup, "REFTST"); }
int EncodeRINCTST(CMC_Setup& setup) { return EncodeStartCommand(setup, "RINCTST"); }

// Tests start at a third of the fastest travel the commutation follows.
int DecodeTestMaxSpeed(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"TestMaxSpeed", "PolePitch", "DSP_freq", "PWMPER"});
  if (!found) return 0;
  const auto [speed, polePitch, clock, pwmper] = *found;
  // Without a clock or a PWM period there is no commutation to follow.
  const auto fastest = Usable(CommutationSpeedLimit(clock, polePitch, pwmper));
  if (!fastest) return 0;
  if (!SetParameterRange(*speed, 0.0, *fastest)) return 0;
  return speed->SetValueInBaseUnit(*fastest / 3.0);
}

int DecodeTime_AB(CMC_Setup& setup) {
  const auto found = FindAll(setup, {"time_AB", "T1ONA", "UPGRADE"});
  if (!found) return 0;
  const auto [time, t1ona, upgrade] = *found;
  const auto countsPerSecond = AlignmentTimeBase(upgrade);
  if (!countsPerSecond || !SetParameterRange(*time, 0.01, 65535.0 / *countsPerSecond)) return 0;
  return time->SetValueInBaseUnit(Value(t1ona) / *countsPerSecond);
}

int EncodeT1ONA(CMC_Setup& setup) { return EncodeAlignmentTime(setup, "T1ONA"); }
int EncodeT1ONB(CMC_Setup& setup) { return EncodeAlignmentTime(setup, "T1ONB"); }

// ---------------------------------------------------------------- registry

std::span<const CodecStep> LoopCodecSteps() {
  using enum CodecDirection;
  static const CodecStep steps[] = {
      {Decode, "Kp_C_scl", DecodeKp_C_scl},
      {Decode, "Ki_C_scl", DecodeKi_C_scl},
      {Decode, "Kp_S_scl", DecodeKp_S_scl},
      {Decode, "Ki_S_scl", DecodeKi_S_scl},
      {Decode, "Kp_P_scl", DecodeKp_P_scl},
      {Decode, "Ki_P_scl", DecodeKi_P_scl},
      {Decode, "Kd_P_scl", DecodeKd_P_scl},
      {Decode, "Kp_T_scl", DecodeKp_T_scl},
      {Decode, "Ki_T_scl", DecodeKi_T_scl},
      {Decode, "KFFS_scl", DecodeKFFS_scl},
      {Encode, "KPI", EncodeKPI},
      {Encode, "SFTKPI", EncodeSFTKPI},
      {Encode, "KII", EncodeKII},
      {Encode, "SFTKII", EncodeSFTKII},
      {Encode, "KPS", EncodeKPS},
      {Encode, "SFTKPS", EncodeSFTKPS},
      {Encode, "KIS", EncodeKIS},
      {Encode, "SFTKIS", EncodeSFTKIS},
      {Encode, "KPP", EncodeKPP},
      {Encode, "SFTKPP", EncodeSFTKPP},
      {Encode, "KIP", EncodeKIP},
      {Encode, "SFTKIP", EncodeSFTKIP},
      {Encode, "KDP", EncodeKDP},
      {Encode, "SFTKDP", EncodeSFTKDP},
      {Encode, "KPTHT", EncodeKPTHT},
      {Encode, "SFTKPTHT", EncodeSFTKPTHT},
      {Encode, "KITHT", EncodeKITHT},
      {Encode, "SFTKITHT", EncodeSFTKITHT},
      {Encode, "KFFS", EncodeKFFS},
      {Encode, "SFTSFFW", EncodeSFTSFFW},
      {Decode, "KFFA_scl", DecodeKFFA_scl},
      {Encode, "KFFA", EncodeKFFA},
      {Encode, "SFTAFFW", EncodeSFTAFFW},
      {Encode, "SFTKFF", EncodeSFTKFF},
      {Decode, "filter_D", DecodeFilter_D},
      {Encode, "KDFP", EncodeKDFP},
      {Decode, "IlimPS", DecodeIlimPS},
      {Decode, "TestLimitCurrent", DecodeTestLimitCurrent},
      {Decode, "Limit_Speed", DecodeLimit_Speed},
      {Decode, "IPSatS", DecodeIPSatS},
      {Decode, "IPSatP", DecodeIPSatP},
      {Encode, "SATS", EncodeSATS},
      {Encode, "SATP", EncodeSATP},
      {Encode, "IMAXS", EncodeIMAXS},
      {Encode, "IMAXP", EncodeIMAXP},
      {Encode, "SATPWM", EncodeSATPWM},
      {Encode, "SATID", EncodeSATID},
      {Encode, "SATIQ", EncodeSATIQ},
      {Decode, "OffsetCurrent", DecodeOffsetCurrent},
      {Decode, "isCompensateGravitationalLoads", DecodeIsCompensateGravitationalLoads},
      {Decode, "Mload_over_M", DecodeMload_over_M},
      {Encode, "FFL", EncodeFFL},
      {Encode, "KFFL", EncodeKFFL},
      {Decode, "isUseFilterOnCrtCtrlOutput", DecodeIsUseFilterOnCrtCtrlOutput},
      {Decode, "FilterOnCurrentControllerOutput", DecodeFilterOnCurrentControllerOutput},
      {Encode, "FILTERQ", EncodeFILTERQ},
      {Decode, "TestCurrent", DecodeTestCurrent},
      {Decode, "TestProtectionCurrent", DecodeTestProtectionCurrent},
      {Decode, "TestStartCurrent", DecodeTestStartCurrent},
      {Decode, "StartCurrent", DecodeStartCurrent},
      {Decode, "TestMaxSpeed", DecodeTestMaxSpeed},
      {Decode, "time_AB", DecodeTime_AB},
      {Encode, "REFTST", EncodeREFTST},
      {Encode, "RINCTST", EncodeRINCTST},
      {Encode, "T1ONA", EncodeT1ONA},
      {Encode, "T1ONB", EncodeT1ONB},
  };
  return steps;
}
