#include "ConfigCodec.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

#include "CodecSteps.h"
#include "FeatureProbes.h"
#include "Limits.h"
#include "Scales.h"
#include "axcore/Setup.h"

namespace {

using Probe = bool (*)(const CMC_Setup&);

// Only after FindStepInputs has found the name.
CMC_Parameter& Param(const CMC_Setup& setup, std::string_view name) { return *setup.FindParameter(name); }
double Base(const CMC_Setup& setup, std::string_view name) { return Param(setup, name).GetValueInBaseUnit(); }
double Internal(const CMC_Setup& setup, std::string_view name) { return Param(setup, name).GetValueInInternalUnit(); }

enum class Units { Base, Internal };

double Read(const CMC_Setup& setup, std::string_view name, Units units) {
  return units == Units::Base ? Base(setup, name) : Internal(setup, name);
}

int Write(CMC_Parameter& target, Units units, double value) {
  return units == Units::Base ? target.SetValueInBaseUnit(value) : target.SetValueInInternalUnit(value);
}

// A value truncated toward zero to an int, or nothing when it is not finite or
// does not fit. Checked before the conversion: such a double has no integer.
std::optional<int> ToInt(double value) {
  const double truncated = std::trunc(value);
  if (!(truncated >= std::numeric_limits<int>::min() && truncated <= std::numeric_limits<int>::max()))
    return std::nullopt;
  return static_cast<int>(truncated);
}

// A register value as the drive's 32-bit word, truncated toward zero; nothing
// when it is not finite or wider than 32 bits (signed or unsigned).
std::optional<std::uint32_t> ToWord(double value) {
  const double truncated = std::trunc(value);
  if (!(truncated >= -2147483648.0 && truncated <= 4294967295.0)) return std::nullopt;
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(truncated));
}

// The value that stores `word` in a register that held `previous`: a register
// holding a negative value is a signed one and reads its word back as such.
double FromWord(std::uint32_t word, double previous) {
  return previous < 0.0 ? static_cast<double>(static_cast<std::int32_t>(word)) : static_cast<double>(word);
}

std::uint32_t WithField(std::uint32_t word, std::uint32_t mask, std::uint32_t field) {
  return (word & ~mask) | (field & mask);
}

// =============================================================== bit fields
//
// One row per user flag held in a field of a register: the field reads `on`
// when the flag is 1 and `off` when it is 0. Decoding gives 1 exactly when
// the field reads `on`; encoding writes `on` when the flag is on (truncated
// value 1), else `off`, and only while `probe` (when given) answers true.

struct FlagField {
  std::string_view reg;
  std::uint32_t mask;
  std::uint32_t on;
  std::uint32_t off;
  std::string_view flag;
  Probe probe = nullptr;
};

bool HasPosSpdInFastLoop(const CMC_Setup& setup) { return FindParameterQuiet(setup, "PosSpd_in_FastLoop") != nullptr; }

// "SCR": the speed estimator runs when bits 3 to 5 read 0x0030.
constexpr FlagField kMotorTemperatureSensor{"SCR", 0x0080, 0x0080, 0, "isMotorTemperatureSensor"};
constexpr FlagField kDriveTemperatureSensor{"SCR", 0x0100, 0x0100, 0, "isDriveTemperatureSensor"};
constexpr FlagField kSpeedEstimator{"SCR", 0x0038, 0x0030, 0, "isSpeedEstimator", HasSpeedEstimator};
// "ACR": bit 2 clear selects the digital reference kind 1.
constexpr FlagField kAutoActivated{"ACR", 0x0002, 0x0002, 0, "IsAutoActivatedAfterPowerOn"};
constexpr FlagField kDigitalReferenceType{"ACR", 0x0004, 0, 0x0004, "DigitalReferenceType"};
constexpr FlagField kAnalogueReference{"ACR", 0x0040, 0x0040, 0, "isAnalogueReference"};
constexpr FlagField kSpeedForward{"ACR", 0x4000, 0x4000, 0, "SpeedForward"};
// "OSR".
constexpr FlagField kStartMode{"OSR", 0x0010, 0x0010, 0, "StartMode"};
constexpr FlagField kBrakeResistor{"OSR", 0x0200, 0x0200, 0, "isBrakeResistor"};
// "ASR": bit 2 clear means inputs polarity type 1.
constexpr FlagField kSoftwareLimitSwitches{"ASR", 0x1000, 0x1000, 0, "isSWLS", HasSoftwareLimitSwitches};
constexpr FlagField kInputsPolarityType{"ASR", 0x0004, 0, 0x0004, "InputsPolarityType", HasInputsPolarityType};
// "DIGIN_ACTIVE_LEVEL": active levels of the enable and limit switch inputs.
constexpr FlagField kEnablePolarity{"DIGIN_ACTIVE_LEVEL", 0x8000, 0x8000, 0, "EnablePolarity"};
constexpr FlagField kLSNPolarity{"DIGIN_ACTIVE_LEVEL", 0x4000, 0x4000, 0, "LSNPolarity"};
constexpr FlagField kLSPPolarity{"DIGIN_ACTIVE_LEVEL", 0x2000, 0x2000, 0, "LSPPolarity"};
// "UPGRADE": bit 6 only on drives that have "PosSpd_in_FastLoop".
constexpr FlagField kLimitMaximum{"UPGRADE", 0x0004, 0x0004, 0, "isLimitMaximum"};
constexpr FlagField kPosSpdInFastLoop{"UPGRADE", 0x0040, 0x0040, 0, "PosSpd_in_FastLoop", HasPosSpdInFastLoop};
// "LSS_Active": a set bit tells the drive not to save that setting.
constexpr FlagField kSaveAxisId{"LSS_Active", 0x0001, 0, 0x0001, "save_axis_id"};
constexpr FlagField kSaveCanBaudrate{"LSS_Active", 0x0002, 0, 0x0002, "save_CAN_baudrate"};
// "BRAKECFG" bit 0: a motor brake is fitted.
constexpr FlagField kMotorBrake{"BRAKECFG", 0x0001, 0x0001, 0, "isMotorBrake"};

// Decodes one flag: range [0, rangeMax] first (none when rangeMax is empty).
int DecodeFlag(CMC_Setup& setup, const FlagField& row, std::optional<double> rangeMax = 1.0,
               Units units = Units::Base) {
  if (!FindStepInputs(setup, {row.flag, row.reg})) return 0;
  CMC_Parameter& target = Param(setup, row.flag);
  if (rangeMax && !SetParameterRange(target, 0.0, *rangeMax)) return 0;
  const std::optional<std::uint32_t> word = ToWord(Read(setup, row.reg, units));
  if (!word) return 0;
  return Write(target, units, (*word & row.mask) == row.on ? 1.0 : 0.0);
}

// How an encoding step builds its register: the bits of the previous value
// it keeps (0: the register is rebuilt), the bits it always sets, then the
// flag fields in order.
struct BitFieldRegister {
  std::string_view reg;
  std::uint32_t keep;
  std::uint32_t set;
  std::span<const FlagField* const> fields;
};

// Looks up the register and the flag of every field whose probe answers true,
// then builds the word; nothing when a name is missing or the previous value
// is no register word.
std::optional<std::uint32_t> BuildWord(const CMC_Setup& setup, const BitFieldRegister& reg) {
  bool complete = FindStepInputs(setup, {reg.reg});
  for (const FlagField* field : reg.fields)
    if (field->probe == nullptr || field->probe(setup)) complete = FindStepInputs(setup, {field->flag}) && complete;
  if (!complete) return std::nullopt;
  std::uint32_t word = 0;
  if (reg.keep != 0) {
    const std::optional<std::uint32_t> previous = ToWord(Base(setup, reg.reg));
    if (!previous) return std::nullopt;
    word = *previous & reg.keep;
  }
  word |= reg.set;
  for (const FlagField* field : reg.fields)
    if (field->probe == nullptr || field->probe(setup))
      word = WithField(word, field->mask, FlagEqualsOne(Base(setup, field->flag)) ? field->on : field->off);
  return word;
}

int WriteWord(CMC_Setup& setup, std::string_view reg, std::uint32_t word) {
  CMC_Parameter& target = Param(setup, reg);
  return target.SetValueInBaseUnit(FromWord(word, target.GetValueInBaseUnit()));
}

int EncodeBitFields(CMC_Setup& setup, const BitFieldRegister& reg) {
  const std::optional<std::uint32_t> word = BuildWord(setup, reg);
  return word ? WriteWord(setup, reg.reg, *word) : 0;
}

// Bits 12 to 14 are always written 0x2000, whatever the drive held there.
constexpr const FlagField* kScrFields[] = {&kMotorTemperatureSensor, &kDriveTemperatureSensor, &kSpeedEstimator};
constexpr BitFieldRegister kScr{"SCR", 0x8FFF, 0x2000, kScrFields};
// Bit 2 always 1, bit 3 always 0.
constexpr const FlagField* kOsrFields[] = {&kBrakeResistor, &kStartMode};
constexpr BitFieldRegister kOsr{"OSR", 0xFFE3, 0x0004, kOsrFields};
// Bit 7 (reversed transmission) is cleared here and set by the step itself.
constexpr const FlagField* kAsrFields[] = {&kSoftwareLimitSwitches, &kInputsPolarityType};
constexpr BitFieldRegister kAsr{"ASR", ~std::uint32_t{0x0080}, 0, kAsrFields};
constexpr const FlagField* kDiginFields[] = {&kEnablePolarity, &kLSNPolarity, &kLSPPolarity};
constexpr BitFieldRegister kDigin{"DIGIN_ACTIVE_LEVEL", ~std::uint32_t{0}, 0, kDiginFields};
// Bit 15 always 0; the word is a 16-bit unsigned value.
constexpr const FlagField* kUpgradeFields[] = {&kLimitMaximum, &kPosSpdInFastLoop};
constexpr BitFieldRegister kUpgrade{"UPGRADE", 0x7FFF, 0, kUpgradeFields};
// Rebuilt from the two flags.
constexpr const FlagField* kLssFields[] = {&kSaveAxisId, &kSaveCanBaudrate};
constexpr BitFieldRegister kLss{"LSS_Active", 0, 0, kLssFields};

// ACR bits 8 to 10: the control structure. Bit 8 closes the current loop,
// bit 9 the speed loop, bit 10 the position loop.
constexpr std::uint32_t kAcrStructure = 0x0700;
constexpr std::uint32_t kAcrSpeedLoop = 0x0200;
constexpr std::uint32_t kAcrPosition = 0x0400;
constexpr std::uint32_t kAcrFreezeControl = 0x0010;

// ============================================================ analogue span
//
// The analogue input maps the converter's span onto [min, max] of the
// quantity the control mode selects; min is the offset "AD5OFF".

struct AnalogueQuantity {
  std::string_view min;
  std::string_view max;
  unsigned scales;                       // inputs of the quantity's internal unit
  double (*scale)(const CMC_Setup&);     // the scale of that unit
  // The derived range of each end; like any decoded range, one that cannot
  // be set (empty, or a name missing) keeps the value from being written.
  int (*refreshMinRange)(CMC_Setup&);    // null: the minimum keeps its range
  int (*refreshMaxRange)(CMC_Setup&);
};

constexpr AnalogueQuantity kAnaloguePosition{"POS_min", "POS_max", kLoadPositionScale, LoadPositionScale,
                                             SetPosMinLimits, SetPosMaxLimits};
constexpr AnalogueQuantity kAnalogueSpeed{"SPD_min", "SPD_max", kLoadSpeedScale, LoadSpeedScale, SetSpdMinLimits,
                                          SetSpdMaxLimits};
constexpr AnalogueQuantity kAnalogueCurrent{"CRT_min", "CRT_max", kCurrentScale, CurrentScale, nullptr,
                                            SetCrtMaxLimits};

// ControlMode 0 position, 1 speed, anything else current; the mode is taken
// as an integer, as the drive knows no fractional modes.
const AnalogueQuantity& QuantityOfMode(double controlMode) {
  const double mode = std::trunc(controlMode);
  if (mode == 0.0) return kAnaloguePosition;
  if (mode == 1.0) return kAnalogueSpeed;
  return kAnalogueCurrent;
}

// min = AD5OFF, internal units.
int DecodeAnalogueMin(CMC_Setup& setup, const AnalogueQuantity& q) {
  if (!FindStepInputs(setup, {"AD5OFF", q.min}, q.scales)) return 0;
  if (!IsUsableScale(q.scale(setup))) return 0;
  if (q.refreshMinRange != nullptr && !q.refreshMinRange(setup)) return 0;
  return Param(setup, q.min).SetValueInInternalUnit(Internal(setup, "AD5OFF"));
}

// max = AD5OFF + CADIN * 2 * sigma * ADCMAX / 65536 * 2^SFTADIN, internal
// units; sigma = -1 when the load position scale is not above 0.
int DecodeAnalogueMax(CMC_Setup& setup, const AnalogueQuantity& q) {
  if (!FindStepInputs(setup, {"CADIN", "SFTADIN", "AD5OFF", q.max}, q.scales | kLoadPositionScale)) return 0;
  const double sP = LoadPositionScale(setup);
  if (!IsUsableScale(sP) || !IsUsableScale(q.scale(setup))) return 0;
  if (!q.refreshMaxRange(setup)) return 0;
  const double sigma = sP > 0.0 ? 1.0 : -1.0;
  const double max = Internal(setup, "AD5OFF") + Internal(setup, "CADIN") * 2.0 * sigma * AdcMax(setup) *
                                                     std::exp2(-16.0) * std::exp2(Internal(setup, "SFTADIN"));
  return Param(setup, q.max).SetValueInInternalUnit(max);
}

struct SpanRegisters {
  double cadin;    // mantissa, at most 32767 in magnitude
  double sftadin;  // power-of-two shift
};

// The span a = (max - min) * 0.5 * 65536 / ADCMAX in internal units of the
// selected quantity, negative when the load position scale is not above 0,
// split into a mantissa the 16-bit "CADIN" holds and the shift "SFTADIN".
// The drive multiplies the mantissa by 2^SFTADIN whatever its sign, so a
// negative span wider than 32767 is shifted like a positive one.
std::optional<SpanRegisters> AnalogueSpan(const CMC_Setup& setup, std::string_view writes) {
  const bool own = FindStepInputs(setup, {writes, "ControlMode"});
  if (FindParameterQuiet(setup, "ControlMode") == nullptr) return std::nullopt;  // reported just above
  const AnalogueQuantity& q = QuantityOfMode(Base(setup, "ControlMode"));
  if (!FindStepInputs(setup, {q.min, q.max}, q.scales | kLoadPositionScale) || !own) return std::nullopt;
  const double sP = LoadPositionScale(setup);
  if (!IsUsableScale(sP) || !IsUsableScale(q.scale(setup))) return std::nullopt;
  double span = (Internal(setup, q.max) - Internal(setup, q.min)) * 0.5 * 65536.0 / AdcMax(setup);
  if (!(sP > 0.0)) span = -span;
  if (!std::isfinite(span)) return std::nullopt;
  const double magnitude = std::fabs(span);
  if (magnitude <= 32767.0) return SpanRegisters{span, 0.0};
  const double shift = std::ceil(std::log(magnitude / 32767.0) / std::log(2.0));
  return SpanRegisters{span / std::exp2(shift), shift};
}

// ========================================================== encoder filter

// Filter setting per "FilterEncValue": c for "QUAL_ACT" bits 16 to 23, b for
// "QUAL_AQ2" bits 8 to 11 and 14 to 15.
struct EncoderFilter {
  std::uint32_t c;
  std::uint32_t b;
};

constexpr EncoderFilter kEncoderFilters[] = {
    {0x00000, 0x4500}, {0x00000, 0x8A00}, {0x10000, 0x8A00}, {0x30000, 0x4500}, {0x20000, 0x8A00},
    {0x50000, 0x4500}, {0x30000, 0x8A00}, {0x70000, 0x4500}, {0x40000, 0x8A00}, {0x90000, 0x4500},
    {0x50000, 0x8A00}, {0xB0000, 0x4500}, {0x60000, 0x8A00},
};

constexpr std::uint32_t kQualActKeep = 0xFF00FFFF;
constexpr std::uint32_t kQualAq2Keep = 0xFFFF30FF;

// ============================================================ small helpers

// target = Ts_S(p) * register, the register counting speed-loop periods.
int DecodeDelay(CMC_Setup& setup, std::string_view target, std::string_view reg) {
  if (!FindStepInputs(setup, {target, reg, "Ts_S"})) return 0;
  const double ts = Base(setup, "Ts_S");
  if (!IsUsableScale(ts)) return 0;
  return Param(setup, target).SetValueInBaseUnit(ts * Internal(setup, reg));
}

// register = time / Ts_S(p), in internal units.
int EncodeDelay(CMC_Setup& setup, std::string_view reg, std::string_view time) {
  if (!FindStepInputs(setup, {reg, time, "Ts_S"})) return 0;
  const double ts = Base(setup, "Ts_S");
  if (!IsUsableScale(ts)) return 0;
  return Param(setup, reg).SetValueInInternalUnit(Base(setup, time) / ts);
}

// Under a reversing transmission (sP < 0) the load's negative limit lies at
// the drive's positive limit switch, and the other way round.
std::string_view LimitRegister(double sP, bool negativeLimit) {
  return (sP > 0.0) == negativeLimit ? "SWNEGLS" : "SWPOSLS";
}

int DecodeLimitSwitch(CMC_Setup& setup, std::string_view target, bool negativeLimit) {
  if (!FindStepInputs(setup, {target, "SWNEGLS", "SWPOSLS"}, kLoadPositionScale)) return 0;
  const double sP = LoadPositionScale(setup);
  if (!IsUsableScale(sP)) return 0;
  // The registers are signed 32-bit counts.
  CMC_Parameter& out = Param(setup, target);
  if (!SetParameterRange(out, -2147483648.0 / std::fabs(sP), 2147483647.0 / std::fabs(sP))) return 0;
  return out.SetValueInBaseUnit(Base(setup, LimitRegister(sP, negativeLimit)) / sP);
}

int EncodeLimitSwitch(CMC_Setup& setup, std::string_view source, bool negativeLimit) {
  if (!FindStepInputs(setup, {source, "SWNEGLS", "SWPOSLS"}, kLoadPositionScale)) return 0;
  const double sP = LoadPositionScale(setup);
  if (!IsUsableScale(sP)) return 0;
  return Param(setup, LimitRegister(sP, negativeLimit)).SetValueInBaseUnit(Base(setup, source) * sP);
}

// User value = register / |scale| with range [0, 32767 / |scale|].
int DecodeScaledLimit(CMC_Setup& setup, std::string_view target, std::string_view reg, unsigned scales,
                      double (*scale)(const CMC_Setup&)) {
  if (!FindStepInputs(setup, {target, reg}, scales)) return 0;
  const double s = std::fabs(scale(setup));
  if (!IsUsableScale(s)) return 0;
  CMC_Parameter& out = Param(setup, target);
  if (!SetParameterRange(out, 0.0, 32767.0 / s)) return 0;
  return out.SetValueInBaseUnit(Base(setup, reg) / s);
}

// Register = user value * |scale|.
int EncodeScaledLimit(CMC_Setup& setup, std::string_view reg, std::string_view source, unsigned scales,
                      double (*scale)(const CMC_Setup&)) {
  if (!FindStepInputs(setup, {reg, source}, scales)) return 0;
  const double s = std::fabs(scale(setup));
  if (!IsUsableScale(s)) return 0;
  return Param(setup, reg).SetValueInBaseUnit(Base(setup, source) * s);
}

// The analogue inputs of a 20 V range span -10 V to 10 V; the others start at 0 V.
double AnalogueInputOffset(double range) { return std::trunc(range) == 20.0 ? 10.0 : 0.0; }

double InterpolationCounts(const CMC_Setup& setup) { return std::exp2(std::trunc(Base(setup, "SINCOS_fract"))); }

}  // namespace

// ================================================================== SCR

int DecodeisMotorTemperatureSensor(CMC_Setup& setup) { return DecodeFlag(setup, kMotorTemperatureSensor); }
int DecodeisDriveTemperatureSensor(CMC_Setup& setup) { return DecodeFlag(setup, kDriveTemperatureSensor); }
int DecodeisSpeedEstimator(CMC_Setup& setup) { return DecodeFlag(setup, kSpeedEstimator); }
int EncodeSCR(CMC_Setup& setup) { return EncodeBitFields(setup, kScr); }

// ================================================================== ACR

int DecodeControlMode(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"ControlMode", "ACR"})) return 0;
  CMC_Parameter& target = Param(setup, "ControlMode");
  if (!SetParameterRange(target, 0.0, 2.0)) return 0;
  const std::optional<std::uint32_t> acr = ToWord(Base(setup, "ACR"));
  if (!acr) return 0;
  // Position when bit 10 is set, speed when only bit 9 is, else current.
  const double mode = (*acr & kAcrPosition) != 0 ? 0.0 : (*acr & kAcrSpeedLoop) != 0 ? 1.0 : 2.0;
  return target.SetValueInBaseUnit(mode);
}

int DecodeExternalReference(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"ExternalReference", "ACR"})) return 0;
  CMC_Parameter& target = Param(setup, "ExternalReference");
  if (!SetParameterRange(target, 0.0, 1.0)) return 0;
  const std::optional<std::uint32_t> acr = ToWord(Base(setup, "ACR"));
  if (!acr) return 0;
  // Bit 6 analogue, bit 7 digital: either is an external reference.
  return target.SetValueInBaseUnit((*acr & 0x00C0) != 0 ? 1.0 : 0.0);
}

int DecodeIsAutoActivatedAfterPowerOn(CMC_Setup& setup) { return DecodeFlag(setup, kAutoActivated); }

int DecodeisAnalogueReference(CMC_Setup& setup) {
  // A drive without the analogue input cannot take an analogue reference.
  return DecodeFlag(setup, kAnalogueReference, HasAnalogueReference(setup) ? 1.0 : 0.0);
}

int DecodeDigitalReferenceType(CMC_Setup& setup) { return DecodeFlag(setup, kDigitalReferenceType); }

int DecodeSpeedForward(CMC_Setup& setup) { return DecodeFlag(setup, kSpeedForward, std::nullopt, Units::Internal); }

int DecodeisFreezeControl(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"isFreezeControl", "ACR", "ControlMode"})) return 0;
  CMC_Parameter& target = Param(setup, "isFreezeControl");
  if (!SetParameterRange(target, 0.0, 1.0)) return 0;
  const std::optional<std::uint32_t> acr = ToWord(Internal(setup, "ACR"));
  if (!acr) return 0;
  // Freeze control acts on the position loop only.
  const bool on = (*acr & kAcrFreezeControl) != 0 && std::trunc(Internal(setup, "ControlMode")) == 0.0;
  return target.SetValueInInternalUnit(on ? 1.0 : 0.0);
}

int EncodeACR(CMC_Setup& setup) {
  const bool speedForward = HasSpeedForward(setup);
  const bool freezeControl = HasFreezeControl(setup);
  bool complete = FindStepInputs(setup, {"ACR", "isAutoActivatedAfterPowerOn", "isAnalogueReference", "DigitalReferenceType",
                                  "PositionControlType", "ControlMode", "ExternalReference"});
  if (speedForward) complete = FindStepInputs(setup, {"SpeedForward"}) && complete;
  if (freezeControl) complete = FindStepInputs(setup, {"isFreezeControl"}) && complete;
  if (!complete) return 0;
  const std::optional<std::uint32_t> acr = ToWord(Base(setup, "ACR"));
  if (!acr) return 0;

  std::uint32_t v = WithField(*acr, 0x0002, FlagEqualsOne(Base(setup, "isAutoActivatedAfterPowerOn")) ? 0x0002 : 0);

  // External reference: bit 6 analogue, bit 7 digital; bit 2 gives the
  // digital reference kind and is kept for an analogue one.
  if (FlagEqualsOne(Base(setup, "ExternalReference"))) {
    if (FlagEqualsOne(Base(setup, "isAnalogueReference"))) {
      v = (v & 0xFF3F) | 0x0040;
    } else {
      v = (v & 0xFF3B) | 0x0080;
      if (Base(setup, "DigitalReferenceType") == 0.0) v |= 0x0004;
    }
  } else {
    v &= 0xFF3F;
  }

  // Control structure.
  const double mode = std::trunc(Base(setup, "ControlMode"));
  if (mode == 0.0) {
    v |= 0x0500;
    v = WithField(v, kAcrSpeedLoop,
                  FlagEqualsOne(Base(setup, "PositionControlType")) ? kAcrSpeedLoop : 0);
  } else if (mode == 1.0) {
    v = (v & ~kAcrStructure) | 0x0300;
  } else if (mode == 2.0) {
    v = (v & ~kAcrStructure) | 0x0100;
  } else {
    return 0;  // the drive has no such control structure
  }

  // Speed feed-forward only on drives that offer it; the others must not see it on.
  if (speedForward)
    v = WithField(v, kSpeedForward.mask, Internal(setup, "SpeedForward") == 1.0 ? kSpeedForward.mask : 0);
  else
    v &= ~kSpeedForward.mask;
  if (freezeControl)
    v = WithField(v, kAcrFreezeControl, Internal(setup, "isFreezeControl") == 1.0 ? kAcrFreezeControl : 0);

  return WriteWord(setup, "ACR", v);
}

// ================================================================== OSR

int DecodeStartMode(CMC_Setup& setup) { return DecodeFlag(setup, kStartMode); }
int DecodeisBrakeResistor(CMC_Setup& setup) { return DecodeFlag(setup, kBrakeResistor); }
int EncodeOSR(CMC_Setup& setup) { return EncodeBitFields(setup, kOsr); }

// ================================================================== ASR

int DecodeisSWLS(CMC_Setup& setup) { return DecodeFlag(setup, kSoftwareLimitSwitches); }
int DecodeInputsPolarityType(CMC_Setup& setup) { return DecodeFlag(setup, kInputsPolarityType); }

int EncodeASR(CMC_Setup& setup) {
  const bool negativeOffered = HasNegativeTransmission(setup);
  const bool ratioFound = !negativeOffered || FindStepInputs(setup, {"Motor_transmission", "Load_transmission"});
  const std::optional<std::uint32_t> word = BuildWord(setup, kAsr);
  if (!word || !ratioFound) return 0;
  std::uint32_t v = *word;
  // Bit 7 tells the drive that the load moves against the motor.
  if (negativeOffered && Base(setup, "Motor_transmission") / Base(setup, "Load_transmission") < 0.0) v |= 0x0080;
  return WriteWord(setup, "ASR", v);
}

// =================================================== DIGIN_ACTIVE_LEVEL

int DecodeEnablePolarity(CMC_Setup& setup) { return DecodeFlag(setup, kEnablePolarity); }
int DecodeLSNPolarity(CMC_Setup& setup) { return DecodeFlag(setup, kLSNPolarity); }
int DecodeLSPPolarity(CMC_Setup& setup) { return DecodeFlag(setup, kLSPPolarity); }
int EncodeDIGIN_ACTIVE_LEVEL(CMC_Setup& setup) { return EncodeBitFields(setup, kDigin); }

// ============================================================== UPGRADE

int DecodeisLimitMaximum(CMC_Setup& setup) { return DecodeFlag(setup, kLimitMaximum); }

int DecodePosSpd_in_FastLoop(CMC_Setup& setup) {
  if (!HasPosSpdInFastLoop(setup)) return 1;  // a drive without the option: nothing to show
  return DecodeFlag(setup, kPosSpdInFastLoop);
}

int EncodeUPGRADE(CMC_Setup& setup) { return EncodeBitFields(setup, kUpgrade); }

// ============================================================== MTSTYPE

int DecodeMotor_TempSensor_Type(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"Motor_TempSensor_Type", "MTSTYPE"})) return 0;
  CMC_Parameter& target = Param(setup, "Motor_TempSensor_Type");
  if (!SetParameterRange(target, 0.0, 1.0)) return 0;
  const std::optional<int> type = ToInt(Base(setup, "MTSTYPE"));
  if (!type) return 0;
  return target.SetValueInBaseUnit(*type);
}

int EncodeMTSTYPE(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"MTSTYPE", "Motor_TempSensor_Type"})) return 0;
  return Param(setup, "MTSTYPE").SetValueInBaseUnit(FlagEqualsOne(Base(setup, "Motor_TempSensor_Type")) ? 1.0 : 0.0);
}

// ==================================================== CAN and axis identity

// "AAR_table" holds the axis id plus 256, or 0 for axis id 0.
int DecodeAxis_ID_list(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"Axis_ID_list", "AAR_table"})) return 0;
  CMC_Parameter& target = Param(setup, "Axis_ID_list");
  if (!SetParameterRange(target, 0.0, 511.0)) return 0;
  const double aar = Base(setup, "AAR_table");
  return target.SetValueInBaseUnit(aar != 0.0 ? aar - 256.0 : 0.0);
}

int EncodeAAR_table(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"AAR_table", "Axis_ID_list"})) return 0;
  const double id = Base(setup, "Axis_ID_list");
  return Param(setup, "AAR_table").SetValueInBaseUnit(std::trunc(id) != 0.0 ? id + 256.0 : 0.0);
}

int Decodesave_CAN_baudrate(CMC_Setup& setup) { return DecodeFlag(setup, kSaveCanBaudrate); }
int Decodesave_axis_id(CMC_Setup& setup) { return DecodeFlag(setup, kSaveAxisId); }
int EncodeLSS_Active(CMC_Setup& setup) { return EncodeBitFields(setup, kLss); }

// ============================================================ motor brake

int DecodeisMotorBrake(CMC_Setup& setup) { return DecodeFlag(setup, kMotorBrake, 1.0, Units::Internal); }

int DecodeMotorBrake_output(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"MotorBrake_output", "BRAKECFG"})) return 0;
  const std::optional<std::uint32_t> cfg = ToWord(Internal(setup, "BRAKECFG"));
  if (!cfg) return 0;
  const int pin = static_cast<int>((*cfg >> 8) & 0xFF);
  return Param(setup, "MotorBrake_output").SetValueInInternalUnit(setup.GetIOPortFromPin(pin));
}

int DecodeMotorBrake_releasetime(CMC_Setup& setup) {
  return DecodeDelay(setup, "MotorBrake_releasetime", "BRAKERELEASEDELAY");
}

int DecodeMotorBrake_applytime(CMC_Setup& setup) { return DecodeDelay(setup, "MotorBrake_applytime", "BRAKEAPPLYDELAY"); }

int EncodeBRAKECFG(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"BRAKECFG", "MotorBrake_output", "isMotorBrake"})) return 0;
  const std::optional<int> port = ToInt(Internal(setup, "MotorBrake_output"));
  if (!port) return 0;
  // The drive pin of the brake's output port in bits 8 to 15, "fitted" in bit 0.
  const double pin = setup.GetIOPinFromPort(*port);
  const double fitted = Internal(setup, "isMotorBrake") != 0.0 ? 1.0 : 0.0;
  return Param(setup, "BRAKECFG").SetValueInInternalUnit(pin * 256.0 + fitted);
}

int EncodeBRAKEAPPLYDELAY(CMC_Setup& setup) { return EncodeDelay(setup, "BRAKEAPPLYDELAY", "MotorBrake_applytime"); }

int EncodeBRAKERELEASEDELAY(CMC_Setup& setup) {
  return EncodeDelay(setup, "BRAKERELEASEDELAY", "MotorBrake_releasetime");
}

// ================================================ software limit switches

int DecodeNegative_SWLS(CMC_Setup& setup) { return DecodeLimitSwitch(setup, "Negative_SWLS", true); }
int DecodePositive_SWLS(CMC_Setup& setup) { return DecodeLimitSwitch(setup, "Positive_SWLS", false); }
int EncodeSWNEGLS(CMC_Setup& setup) { return EncodeLimitSwitch(setup, "Negative_SWLS", true); }
int EncodeSWPOSLS(CMC_Setup& setup) { return EncodeLimitSwitch(setup, "Positive_SWLS", false); }

// ========================================================= freeze control

int DecodeFreezeControl_errband(CMC_Setup& setup) {
  return DecodeScaledLimit(setup, "FreezeControl_errband", "POSOKLIM_FC", kLoadPositionScale, LoadPositionScale);
}

int DecodeFreezeControl_time(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"FreezeControl_time", "TONPOSOK_FC", "Ts_S"})) return 0;
  const double ts = Base(setup, "Ts_S");
  if (!IsUsableScale(ts)) return 0;
  CMC_Parameter& target = Param(setup, "FreezeControl_time");
  if (!SetParameterRange(target, 0.0, 65535.0 * ts)) return 0;
  return target.SetValueInBaseUnit(ts * Base(setup, "TONPOSOK_FC"));
}

int EncodePOSOKLIM_FC(CMC_Setup& setup) {
  return EncodeScaledLimit(setup, "POSOKLIM_FC", "FreezeControl_errband", kLoadPositionScale, LoadPositionScale);
}

int EncodeTONPOSOK_FC(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"TONPOSOK_FC", "FreezeControl_time", "Ts_S"})) return 0;
  const double ts = Base(setup, "Ts_S");
  if (!IsUsableScale(ts)) return 0;
  return Param(setup, "TONPOSOK_FC").SetValueInBaseUnit(Base(setup, "FreezeControl_time") / ts);
}

// ================================================ encoder and transmission

int EncodeMECRESL(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"MECRESL", "PolePitch", "EncRes"})) return 0;
  return Param(setup, "MECRESL").SetValueInBaseUnit(Base(setup, "PolePitch") / Base(setup, "EncRes"));
}

int EncodeENC2THL(CMC_Setup& setup) {
  const bool fractional = HasElresFract(setup);
  const bool fractFound = !fractional || FindStepInputs(setup, {"ELRES_FRACT"});
  if (!FindStepInputs(setup, {"ENC2THL", "EncRes", "PolePitch"}) || !fractFound) return 0;
  // Electrical angle per encoder period as a 32-bit fraction of a pole pitch,
  // less the fractional bits the drive keeps apart.
  const double fractBits = fractional ? std::exp2(Base(setup, "ELRES_FRACT")) : 1.0;
  return Param(setup, "ENC2THL")
      .SetValueInBaseUnit(Base(setup, "EncRes") * 4294967296.0 / (Base(setup, "PolePitch") * fractBits));
}

int EncodeELRESL(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"ELRESL", "PolePitch", "EncRes", "SINCOS_fract"})) return 0;
  return Param(setup, "ELRESL")
      .SetValueInBaseUnit(Base(setup, "PolePitch") * InterpolationCounts(setup) / Base(setup, "EncRes"));
}

int EncodeELRES_FRACT(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"ELRES_FRACT", "PolePitch", "EncRes", "SINCOS_fract"})) return 0;
  // b bits count the encoder periods of one pole pitch. The electrical angle
  // keeps 10 - b fractional bits, at most 8; a pole pitch of more than 2^9
  // periods (or less than one) leaves none.
  const std::optional<int> b =
      ToInt(std::ceil(std::log(Base(setup, "PolePitch") / Base(setup, "EncRes")) / std::log(2.0)));
  if (!b) return 0;
  const int fract = (*b >= 0 && *b <= 9) ? std::min(10 - *b, 8) : 0;
  if (!Param(setup, "ELRES_FRACT").SetValueInBaseUnit(fract)) return 0;
  // The interpolation must deliver at least those fractional bits.
  Param(setup, "SINCOS_fract").SetMinInBaseUnit(fract);
  return 1;
}

int DecodeReverseCounting(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"ReverseCounting", "COUNTINGDIR"})) return 0;
  CMC_Parameter& target = Param(setup, "ReverseCounting");
  if (!SetParameterRange(target, 0.0, 1.0)) return 0;
  return target.SetValueInBaseUnit(Base(setup, "COUNTINGDIR") == 1.0 ? 1.0 : 0.0);
}

int EncodeCOUNTINGDIR(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"COUNTINGDIR", "ReverseCounting"})) return 0;
  return Param(setup, "COUNTINGDIR").SetValueInBaseUnit(FlagEqualsOne(Base(setup, "ReverseCounting")) ? 1.0 : 0.0);
}

int EncodeTRANSMISSION(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"TRANSMISSION", "Motor_transmission", "Load_transmission"})) return 0;
  const double ratio = Base(setup, "Motor_transmission") / Base(setup, "Load_transmission");
  return Param(setup, "TRANSMISSION").SetValueInBaseUnit(ratio < 0.0 ? -1.0 : 1.0);
}

int EncodeABSTART_MINMOVE(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"ABSTART_MINMOVE", "PolePitch", "EncRes", "SINCOS_fract"})) return 0;
  // The motionless start must see the motor move by this share of a third of
  // a pole pitch before it accepts the angle.
  const double countsPerPolePitch = Base(setup, "PolePitch") * InterpolationCounts(setup) / Base(setup, "EncRes");
  return Param(setup, "ABSTART_MINMOVE")
      .SetValueInBaseUnit(countsPerPolePitch / 3.0 * GetAbsoluteStartMinMovePercent(setup) / 100.0);
}

// ========================================================= encoder filter

int DecodeisFilterEnc(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"isFilterEnc", "QUAL"})) return 0;
  CMC_Parameter& target = Param(setup, "isFilterEnc");
  if (!SetParameterRange(target, 0.0, 1.0)) return 0;
  return target.SetValueInBaseUnit(Base(setup, "QUAL") == 1.0 ? 1.0 : 0.0);
}

int EncodeQUAL(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"QUAL", "isFilterEnc", "FilterEncValue", "QUAL_ACT", "QUAL_AQ2"})) return 0;
  const bool on = FlagEqualsOne(Base(setup, "isFilterEnc"));
  if (!Param(setup, "QUAL").SetValueInBaseUnit(on ? 1.0 : 0.0)) return 0;
  if (!on) return 1;  // the filter fields mean nothing while the filter is off
  const std::optional<int> index = ToInt(Base(setup, "FilterEncValue"));
  const std::optional<std::uint32_t> act = ToWord(Base(setup, "QUAL_ACT"));
  const std::optional<std::uint32_t> aq2 = ToWord(Base(setup, "QUAL_AQ2"));
  if (!index || !act || !aq2) return 0;
  const EncoderFilter filter =
      (*index >= 0 && *index < static_cast<int>(std::size(kEncoderFilters))) ? kEncoderFilters[*index] : EncoderFilter{};
  const int wroteAct = WriteWord(setup, "QUAL_ACT", filter.c | (*act & kQualActKeep));
  const int wroteAq2 = WriteWord(setup, "QUAL_AQ2", filter.b | (*aq2 & kQualAq2Keep));
  return wroteAct && wroteAq2 ? 1 : 0;
}

// ===================================================== external reference

int DecodeErefMaxSpeed(CMC_Setup& setup) {
  return DecodeScaledLimit(setup, "ErefMaxSpeed", "CSPD", kLoadSpeedScale, LoadSpeedScale);
}

int EncodeCSPD(CMC_Setup& setup) {
  return EncodeScaledLimit(setup, "CSPD", "ErefMaxSpeed", kLoadSpeedScale, LoadSpeedScale);
}

int DecodeErefMaxAcceleration(CMC_Setup& setup) {
  return DecodeScaledLimit(setup, "ErefMaxAcceleration", "CACC", kLoadSpeedScale, LoadAccelerationScale);
}

int EncodeCACC(CMC_Setup& setup) {
  return EncodeScaledLimit(setup, "CACC", "ErefMaxAcceleration", kLoadSpeedScale, LoadAccelerationScale);
}

int EncodeGEAR(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"GEAR", "GEARSLAVE", "GEARMASTER"})) return 0;
  return Param(setup, "GEAR").SetValueInBaseUnit(Base(setup, "GEARSLAVE") / Base(setup, "GEARMASTER"));
}

int DecodeDeadBand_Point(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"LEVEL_AD5", "AnalogueInputsRange", "DeadBand_Point"})) return 0;
  if (!SetDeadBandPointLimits(setup)) return 0;
  const double range = Base(setup, "AnalogueInputsRange");
  return Param(setup, "DeadBand_Point")
      .SetValueInBaseUnit(range * Base(setup, "LEVEL_AD5") / AdcMax(setup) - AnalogueInputOffset(range));
}

int DecodeDeadBand_Range(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"E_LEVEL_AD5", "AnalogueInputsRange", "DeadBand_Range"})) return 0;
  if (!SetDeadBandRangeLimits(setup)) return 0;
  return Param(setup, "DeadBand_Range")
      .SetValueInBaseUnit(Base(setup, "AnalogueInputsRange") * Base(setup, "E_LEVEL_AD5") / AdcMax(setup));
}

int EncodeLEVEL_AD5(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"LEVEL_AD5", "DeadBand_Point", "AnalogueInputsRange"})) return 0;
  const double range = Base(setup, "AnalogueInputsRange");
  return Param(setup, "LEVEL_AD5")
      .SetValueInBaseUnit(AdcMax(setup) * (Base(setup, "DeadBand_Point") + AnalogueInputOffset(range)) / range);
}

int EncodeE_LEVEL_AD5(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"E_LEVEL_AD5", "DeadBand_Range", "AnalogueInputsRange"})) return 0;
  return Param(setup, "E_LEVEL_AD5")
      .SetValueInBaseUnit(Base(setup, "DeadBand_Range") * AdcMax(setup) / Base(setup, "AnalogueInputsRange"));
}

int DecodeUseFilter(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"UseFilter", "FILTER1"})) return 0;
  CMC_Parameter& target = Param(setup, "UseFilter");
  if (!SetParameterRange(target, 0.0, 1.0)) return 0;
  return target.SetValueInBaseUnit(Base(setup, "FILTER1") != 32767.0 ? 1.0 : 0.0);
}

int Decodefilter(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"FILTER1", "DSP_freq", "SLPER", "PWMPER", "filter", "UseFilter"})) return 0;
  const double ts = SpeedLoopPeriod(setup);
  if (!IsUsableScale(ts)) return 0;
  CMC_Parameter& target = Param(setup, "filter");
  if (!SetParameterRange(target, 0.0, 0.5 / ts)) return 0;
  // FILTER1 = 32767 passes the reference unfiltered; 50/s is what the user
  // starts from when switching the filter on.
  const double q = Base(setup, "FILTER1");
  return target.SetValueInBaseUnit(q == 32767.0 ? 50.0 : -std::log(1.0 - q / 32767.0) / ts);
}

int EncodeFILTER1(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"FILTER1", "UseFilter", "filter", "Ts_S"})) return 0;
  CMC_Parameter& target = Param(setup, "FILTER1");
  if (Base(setup, "UseFilter") == 0.0) return target.SetValueInBaseUnit(32767.0);
  const double ts = Base(setup, "Ts_S");
  if (!IsUsableScale(ts)) return 0;
  return target.SetValueInBaseUnit((1.0 - std::exp(-Base(setup, "filter") * ts)) * 32767.0);
}

int DecodePOS_min(CMC_Setup& setup) { return DecodeAnalogueMin(setup, kAnaloguePosition); }
int DecodePOS_max(CMC_Setup& setup) { return DecodeAnalogueMax(setup, kAnaloguePosition); }
int DecodeSPD_min(CMC_Setup& setup) { return DecodeAnalogueMin(setup, kAnalogueSpeed); }
int DecodeSPD_max(CMC_Setup& setup) { return DecodeAnalogueMax(setup, kAnalogueSpeed); }
int DecodeCRT_min(CMC_Setup& setup) { return DecodeAnalogueMin(setup, kAnalogueCurrent); }
int DecodeCRT_max(CMC_Setup& setup) { return DecodeAnalogueMax(setup, kAnalogueCurrent); }

int EncodeCADIN(CMC_Setup& setup) {
  const std::optional<SpanRegisters> span = AnalogueSpan(setup, "CADIN");
  return span ? Param(setup, "CADIN").SetValueInInternalUnit(span->cadin) : 0;
}

int EncodeSFTADIN(CMC_Setup& setup) {
  const std::optional<SpanRegisters> span = AnalogueSpan(setup, "SFTADIN");
  return span ? Param(setup, "SFTADIN").SetValueInInternalUnit(span->sftadin) : 0;
}

int EncodeAD5OFF(CMC_Setup& setup) {
  if (!FindStepInputs(setup, {"AD5OFF", "ControlMode"})) return 0;
  // The offset is the minimum of the controlled quantity; a control mode the
  // drive does not have leaves the offset alone.
  const double mode = std::trunc(Base(setup, "ControlMode"));
  if (mode != 0.0 && mode != 1.0 && mode != 2.0) return 0;
  const AnalogueQuantity& q = QuantityOfMode(mode);
  if (!FindStepInputs(setup, {q.min}, q.scales)) return 0;
  if (!IsUsableScale(q.scale(setup))) return 0;
  return Param(setup, "AD5OFF").SetValueInInternalUnit(Internal(setup, q.min));
}

// ================================================================ registry

std::span<const CodecStep> ConfigCodecSteps() {
  using enum CodecDirection;
  static const CodecStep steps[] = {
      {Decode, "isMotorTemperatureSensor", DecodeisMotorTemperatureSensor},
      {Decode, "isDriveTemperatureSensor", DecodeisDriveTemperatureSensor},
      {Decode, "isSpeedEstimator", DecodeisSpeedEstimator},
      {Encode, "SCR", EncodeSCR},
      {Decode, "ControlMode", DecodeControlMode},
      {Decode, "ExternalReference", DecodeExternalReference},
      {Decode, "IsAutoActivatedAfterPowerOn", DecodeIsAutoActivatedAfterPowerOn},
      {Decode, "isAnalogueReference", DecodeisAnalogueReference},
      {Decode, "DigitalReferenceType", DecodeDigitalReferenceType},
      {Decode, "SpeedForward", DecodeSpeedForward},
      {Decode, "isFreezeControl", DecodeisFreezeControl},
      {Encode, "ACR", EncodeACR},
      {Decode, "StartMode", DecodeStartMode},
      {Decode, "isBrakeResistor", DecodeisBrakeResistor},
      {Encode, "OSR", EncodeOSR},
      {Decode, "isSWLS", DecodeisSWLS},
      {Decode, "InputsPolarityType", DecodeInputsPolarityType},
      {Encode, "ASR", EncodeASR},
      {Decode, "EnablePolarity", DecodeEnablePolarity},
      {Decode, "LSNPolarity", DecodeLSNPolarity},
      {Decode, "LSPPolarity", DecodeLSPPolarity},
      {Encode, "DIGIN_ACTIVE_LEVEL", EncodeDIGIN_ACTIVE_LEVEL},
      {Decode, "isLimitMaximum", DecodeisLimitMaximum},
      {Decode, "PosSpd_in_FastLoop", DecodePosSpd_in_FastLoop},
      {Encode, "UPGRADE", EncodeUPGRADE},
      {Decode, "Motor_TempSensor_Type", DecodeMotor_TempSensor_Type},
      {Encode, "MTSTYPE", EncodeMTSTYPE},
      {Decode, "Axis_ID_list", DecodeAxis_ID_list},
      {Encode, "AAR_table", EncodeAAR_table},
      {Decode, "save_CAN_baudrate", Decodesave_CAN_baudrate},
      {Decode, "save_axis_id", Decodesave_axis_id},
      {Encode, "LSS_Active", EncodeLSS_Active},
      {Decode, "isMotorBrake", DecodeisMotorBrake},
      {Decode, "MotorBrake_output", DecodeMotorBrake_output},
      {Decode, "MotorBrake_releasetime", DecodeMotorBrake_releasetime},
      {Decode, "MotorBrake_applytime", DecodeMotorBrake_applytime},
      {Encode, "BRAKECFG", EncodeBRAKECFG},
      {Encode, "BRAKEAPPLYDELAY", EncodeBRAKEAPPLYDELAY},
      {Encode, "BRAKERELEASEDELAY", EncodeBRAKERELEASEDELAY},
      {Decode, "Negative_SWLS", DecodeNegative_SWLS},
      {Decode, "Positive_SWLS", DecodePositive_SWLS},
      {Encode, "SWNEGLS", EncodeSWNEGLS},
      {Encode, "SWPOSLS", EncodeSWPOSLS},
      {Decode, "FreezeControl_errband", DecodeFreezeControl_errband},
      {Decode, "FreezeControl_time", DecodeFreezeControl_time},
      {Encode, "POSOKLIM_FC", EncodePOSOKLIM_FC},
      {Encode, "TONPOSOK_FC", EncodeTONPOSOK_FC},
      {Encode, "MECRESL", EncodeMECRESL},
      {Encode, "ENC2THL", EncodeENC2THL},
      {Encode, "ELRESL", EncodeELRESL},
      {Encode, "ELRES_FRACT", EncodeELRES_FRACT},
      {Decode, "ReverseCounting", DecodeReverseCounting},
      {Encode, "COUNTINGDIR", EncodeCOUNTINGDIR},
      {Encode, "TRANSMISSION", EncodeTRANSMISSION},
      {Encode, "ABSTART_MINMOVE", EncodeABSTART_MINMOVE},
      {Decode, "isFilterEnc", DecodeisFilterEnc},
      {Encode, "QUAL", EncodeQUAL},
      {Encode, "QUAL_ACT", EncodeQUAL},  // the same step: it writes all three
      {Encode, "QUAL_AQ2", EncodeQUAL},
      {Decode, "ErefMaxSpeed", DecodeErefMaxSpeed},
      {Encode, "CSPD", EncodeCSPD},
      {Decode, "ErefMaxAcceleration", DecodeErefMaxAcceleration},
      {Encode, "CACC", EncodeCACC},
      {Encode, "GEAR", EncodeGEAR},
      {Decode, "DeadBand_Point", DecodeDeadBand_Point},
      {Decode, "DeadBand_Range", DecodeDeadBand_Range},
      {Encode, "LEVEL_AD5", EncodeLEVEL_AD5},
      {Encode, "E_LEVEL_AD5", EncodeE_LEVEL_AD5},
      {Decode, "UseFilter", DecodeUseFilter},
      {Decode, "filter", Decodefilter},
      {Encode, "FILTER1", EncodeFILTER1},
      {Decode, "POS_min", DecodePOS_min},
      {Decode, "POS_max", DecodePOS_max},
      {Decode, "SPD_min", DecodeSPD_min},
      {Decode, "SPD_max", DecodeSPD_max},
      {Decode, "CRT_min", DecodeCRT_min},
      {Decode, "CRT_max", DecodeCRT_max},
      {Encode, "CADIN", EncodeCADIN},
      {Encode, "SFTADIN", EncodeSFTADIN},
      {Encode, "AD5OFF", EncodeAD5OFF},
  };
  return steps;
}
