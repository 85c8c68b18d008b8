#include "SamplingPeriods.h"

#include <cmath>
#include <utility>
#include <vector>

#include "CodecDrivers.h"
#include "CodecSteps.h"
#include "Scales.h"
#include "axcore/Setup.h"
#include "axcore/Units.h"

namespace sampling {
namespace {

// The quantities the drive counts per speed-loop period.
bool IsTimeBased(UnitType type) {
  for (const char* unit : {"s", "rad/s", "m/s", "rad/s^2", "m/s^2", "A/s"}) {
    const CMC_Unit* base = CMC_Units::FindBaseUnit(unit);
    if (base != nullptr && base->GetType() == type) return true;
  }
  return false;
}

bool IsRegisterOrConstant(const CMC_Parameter& parameter) {
  return parameter.GetType() == static_cast<int>(ParameterKind::Register) ||
         parameter.GetType() == static_cast<int>(ParameterKind::Constant);
}

// The drive trips after the integral of I^2 reaches I_I2t^2 * t_I2t (above
// the nominal current). A trip time the new period cannot count is replaced
// by the nearest it can; the trip current then keeps the product.
void KeepI2tProduct(CMC_Setup& setup, const char* current, const char* time, double keptTime_s) {
  const double newTime_s = setup.GetParameterValueInBaseUnit(time);
  if (newTime_s == keptTime_s) return;
  const double scaled = setup.GetParameterValueInBaseUnit(current) * std::sqrt(keptTime_s / newTime_s);
  setup.SetParameterValueInBaseUnit(current, scaled);  // a non-finite result is refused by the document
}

}  // namespace

double NearestDivider(double dspFreq_Hz, double period_s, double pwmper) {
  const double divider = std::floor(dspFreq_Hz * period_s * 0.5 / pwmper + 0.5);
  if (!std::isfinite(divider)) return divider;
  return divider < 1.0 ? 1.0 : divider;
}

void KeepPeriods(CMC_Setup& setup, double fastPeriod_s, double slowPeriod_s) {
  const double dspFreq_Hz = setup.GetParameterValueInBaseUnit("DSP_freq");
  const double pwmper = setup.GetParameterValueInBaseUnit("PWMPER");
  const double fast = NearestDivider(dspFreq_Hz, fastPeriod_s, pwmper);
  const double slow = NearestDivider(dspFreq_Hz, slowPeriod_s, pwmper);
  if (std::isfinite(fast)) setup.SetParameterValueInBaseUnit("CLPER", fast);
  if (std::isfinite(slow)) setup.SetParameterValueInBaseUnit("SLPER", slow);
  RunDecodeStep(setup, "Ts_S");
  RunDecodeStep(setup, "Ts_C");
}

bool KeepDividerUsable(CMC_Setup& setup, const char* divider) {
  if (!(setup.GetParameterValueInBaseUnit(divider) < 1.0)) return false;
  return setup.SetParameterValueInBaseUnit(divider, 1.0) != 0;
}

bool IsUsablePwmFrequency(const CMC_Setup& setup) {
  const double frequency_Hz = setup.GetParameterValueInBaseUnit("PWM_freq");
  const double pwmper = setup.GetParameterValueInBaseUnit("DSP_freq") * 0.5 / frequency_Hz;
  // PWMPER is rounded by its register, halves away from zero.
  return frequency_Hz > 0.0 && std::isfinite(pwmper) && pwmper >= 0.5;
}

void RescaleTimeBase(CMC_Setup& setup) {
  // This document keeps every user value in its base unit and derives the
  // drive's count from the present period, so the physical values that must
  // stay are the ones the setup holds now; what the new period changes is
  // their counts and the ranges those counts allow.
  const double driveTripTime_s = setup.GetParameterValueInBaseUnit("t_I2t_D");
  const double motorTripTime_s = setup.GetParameterValueInBaseUnit("t_I2t_M");
  std::vector<std::pair<CMC_Parameter*, double>> kept;
  for (const auto& parameter : setup.Parameters()) {
    if (IsRegisterOrConstant(*parameter) || !IsTimeBased(parameter->GetBaseUnit().GetType())) continue;
    kept.emplace_back(parameter.get(), parameter->GetValueInBaseUnit());
  }
  // Counts and ranges for the new period; decoding rounds each value to
  // what its register holds.
  EncodeRegisters(setup);
  DecodeRegisters(setup);
  for (const auto& [parameter, value] : kept) {
    parameter->SetValueInBaseUnit(value);
    if (parameter->GetValueInBaseUnit() == value) continue;
    // Held at the end of its range: renew the ranges once more (a range may
    // follow from a value written before this one) and take what fits.
    EncodeRegisters(setup);
    DecodeRegisters(setup);
    parameter->SetValueInBaseUnit(value);
  }
  KeepI2tProduct(setup, "I_I2t_D", "t_I2t_D", driveTripTime_s);
  KeepI2tProduct(setup, "I_I2t_M", "t_I2t_M", motorTripTime_s);
}

PeriodLimits CheckPeriodLimits(const CMC_Setup& setup) {
  PeriodLimits limits;
  limits.fastMin_s = GetTsCMin(setup);
  limits.slowMin_s = GetTsSMin(setup);
  limits.fastTooShort = limits.fastMin_s > 0.0 && limits.fastMin_s > setup.GetParameterValueInBaseUnit("Ts_C");
  limits.slowTooShort = limits.slowMin_s > 0.0 && limits.slowMin_s > setup.GetParameterValueInBaseUnit("Ts_S");
  return limits;
}

}  // namespace sampling
