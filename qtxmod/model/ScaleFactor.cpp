#include "ScaleFactor.h"

#include <array>
#include <cmath>
#include <span>
#include <string_view>

#include "FeatureProbes.h"
#include "Scales.h"
#include "axcore/HostFunctions.h"
#include "axcore/Names.h"
#include "axcore/Setup.h"

namespace {

using axcore::EqualsIgnoreCase;

// The drive's temperature unit comes in two spellings: code page 1252
// (0xB0 'C') from hosts that speak it, UTF-8 (0xC2 0xB0 'C') from setup files.
constexpr std::string_view kDegreesCelsius1252 = "\xB0" "C";
constexpr std::string_view kDegreesCelsiusUtf8 = "\xC2\xB0" "C";

bool IsDegreesCelsius(std::string_view unit) {
  return EqualsIgnoreCase(unit, kDegreesCelsius1252) || EqualsIgnoreCase(unit, kDegreesCelsiusUtf8);
}

double Value(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

// Names scaled by the magnitude of the load scale: errors, bands and limits
// are distances, positive whatever the direction of the transmission.
constexpr std::string_view kAbsPositionNames[] = {"ERR_position", "FreezeControl_errband", "TestPosition", "POS_max",
                                                  "POS_min"};
constexpr std::string_view kAbsSpeedNames[] = {"ERR_speed", "Limit_Speed", "ErefMaxSpeed", "TestSpeed", "SPD_max",
                                               "SPD_min"};
constexpr std::string_view kMotorPositionNames[] = {"Motor_Position", "APOS_MT"};
constexpr std::string_view kMotorSpeedNames[] = {"Motor_Speed", "ASPD",   "ASPD_MT", "TestMaxSpeed",
                                                 "SPDREF",      "Motor_Speed_Reference"};
// Analogue input readings: the converter spans the analogue inputs' range.
constexpr std::string_view kAnalogueInputNames[] = {"DeadBand_Point", "DeadBand_Range", "AD2", "AD2FIL_VAL", "AD5"};
constexpr std::string_view kAnalogueInputsRange[] = {"AnalogueInputsRange"};
constexpr std::string_view kTsC[] = {"Ts_C"};
constexpr std::string_view kThtst[] = {"THTST"};
constexpr std::string_view kTinctst[] = {"TINCTST"};

struct FactorRow {
  std::string_view unit;
  std::span<const std::string_view> names;  // empty: any name
  double (*factor)(const CMC_Setup&);
};

// Tested from top to bottom; the first row whose unit and name match wins.
const FactorRow kFactorRows[] = {
    {"V ", {}, [](const CMC_Setup& s) { return 1.0 / MeasuredVoltageScale(s); }},
    {"V", kAnalogueInputsRange, [](const CMC_Setup&) { return 1.0; }},
    {"V", kAnalogueInputNames, [](const CMC_Setup& s) { return Value(s, "AnalogueInputsRange") / AdcMax(s); }},
    {"V", {}, [](const CMC_Setup& s) { return 1.0 / VoltageCommandScale(s); }},
    {"A", {}, [](const CMC_Setup& s) { return 1.0 / CurrentScale(s); }},
    {"s", kTsC, [](const CMC_Setup& s) { return CurrentLoopPeriod(s); }},
    {"s", {}, [](const CMC_Setup& s) { return SpeedLoopPeriod(s); }},
    {"rad", kThtst, [](const CMC_Setup&) { return kAngleUnit_rad; }},
    {"rad", kAbsPositionNames, [](const CMC_Setup& s) { return 1.0 / std::fabs(LoadPositionScale(s)); }},
    {"rad", {}, [](const CMC_Setup& s) { return 1.0 / LoadPositionScale(s); }},
    {"m", kMotorPositionNames, [](const CMC_Setup& s) { return 1.0 / MotorPositionScale(s); }},
    {"m", kAbsPositionNames, [](const CMC_Setup& s) { return 1.0 / std::fabs(LoadPositionScale(s)); }},
    {"m", {}, [](const CMC_Setup& s) { return 1.0 / LoadPositionScale(s); }},
    {"rad/s", kTinctst, [](const CMC_Setup& s) { return TinctstFactor(s); }},
    {"rad/s", kAbsSpeedNames, [](const CMC_Setup& s) { return 1.0 / std::fabs(LoadSpeedScale(s)); }},
    {"rad/s", {}, [](const CMC_Setup& s) { return 1.0 / LoadSpeedScale(s); }},
    {"m/s", kMotorSpeedNames, [](const CMC_Setup& s) { return 1.0 / MotorSpeedScale(s); }},
    {"m/s", kAbsSpeedNames, [](const CMC_Setup& s) { return 1.0 / std::fabs(LoadSpeedScale(s)); }},
    {"m/s", {}, [](const CMC_Setup& s) { return 1.0 / LoadSpeedScale(s); }},
    {"rad/s^2", {}, [](const CMC_Setup& s) { return 1.0 / LoadAccelerationScale(s); }},
    {"m/s^2", {}, [](const CMC_Setup& s) { return 1.0 / LoadAccelerationScale(s); }},
    {"rad/s^3", {}, [](const CMC_Setup& s) { return 1.0 / LoadJerkScale(s); }},
    {"m/s^3", {}, [](const CMC_Setup& s) { return 1.0 / LoadJerkScale(s); }},
    {kDegreesCelsius1252, {},
     [](const CMC_Setup& s) { return Value(s, "ADCrange") / (AdcMax(s) * Value(s, "DriveTempSensorGain")); }},
    {kDegreesCelsiusUtf8, {},
     [](const CMC_Setup& s) { return Value(s, "ADCrange") / (AdcMax(s) * Value(s, "DriveTempSensorGain")); }},
    {"V/s", {}, [](const CMC_Setup& s) { return 1.0 / (VoltageCommandScale(s) * SpeedLoopPeriod(s)); }},
    {"A/s", {}, [](const CMC_Setup& s) { return 1.0 / (CurrentScale(s) * SpeedLoopPeriod(s)); }},
};

bool NameMatches(std::span<const std::string_view> names, std::string_view name) {
  if (names.empty()) return true;
  for (std::string_view candidate : names)
    if (EqualsIgnoreCase(candidate, name)) return true;
  return false;
}

}  // namespace

double TinctstFactor(const CMC_Setup& setup) {
  const double enc2thl = setup.GetParameterValueInInternalUnit("ENC2THL");
  const double mecresl = setup.GetParameterValueInInternalUnit("MECRESL");
  const double perPeriod = kAngleUnit_rad / CurrentLoopPeriod(setup);
  if (!HasElresFract(setup)) return perPeriod;
  // ENC2THL * MECRESL / 2^32 is the angle count per encoder count, refined
  // by the ELRES_FRACT fractional bits of the angle computation.
  const double steps = RoundDecimalValue(std::exp2(setup.GetParameterValueInBaseUnit("ELRES_FRACT")) * mecresl *
                                             enc2thl * 2.3283064365386963e-10,
                                         0);
  return perPeriod / steps;
}

double ComputeScaleFactor(const CMC_Setup& setup, const char* unit, const char* name) {
  const std::string_view u = unit != nullptr ? unit : "";
  const std::string_view n = name != nullptr ? name : "";
  for (const FactorRow& row : kFactorRows)
    if (EqualsIgnoreCase(row.unit, u) && NameMatches(row.names, n)) return row.factor(setup);
  return 1.0;
}

double ComputeScaleOffset(const CMC_Setup& setup, const char* unit) {
  if (unit == nullptr || !IsDegreesCelsius(unit)) return 0.0;
  // A reading r then shows as (r * ADCrange / ADCMAX - output at 0 °C) / gain.
  return -(AdcMax(setup) * Value(setup, "DriveTempOutputAt0oC") / Value(setup, "ADCrange"));
}

ScaleFunctions ModelScaleFunctions() {
  ScaleFunctions functions;
  functions.factor = [](CMC_Setup* setup, const char* unit, const char* name) {
    return ComputeScaleFactor(*setup, unit, name);
  };
  functions.offset = [](CMC_Setup* setup, const char* unit) { return ComputeScaleOffset(*setup, unit); };
  return functions;
}
