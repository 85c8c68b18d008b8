#include "Scales.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "FeatureProbes.h"
#include "axcore/HostFunctions.h"
#include "axcore/Setup.h"

namespace {

double Value(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

}  // namespace

double AdcMax(const CMC_Setup& setup) { return static_cast<double>(Compute_ADCMaxValue(&setup)); }

double PwmFrequency(const CMC_Setup& setup) { return Value(setup, "DSP_freq") / (2.0 * Value(setup, "PWMPER")); }

double CurrentLoopPeriod(const CMC_Setup& setup) {
  return Value(setup, "CLPER") * 2.0 * Value(setup, "PWMPER") / Value(setup, "DSP_freq");
}

double SpeedLoopPeriod(const CMC_Setup& setup) {
  return Value(setup, "SLPER") * 2.0 * Value(setup, "PWMPER") / Value(setup, "DSP_freq");
}

double DeadTime(const CMC_Setup& setup) {
  const CMC_Parameter* dbt = FindParameterQuiet(setup, "DBT");
  const CMC_Parameter* dbtpc = FindParameterQuiet(setup, "DBTPC");
  if (dbt == nullptr) return 0.0;
  const double truncated = std::trunc(dbt->GetValueInBaseUnit());
  // The register is at most 32 bits wide; anything larger is no register value.
  if (!(std::fabs(truncated) <= 4294967295.0)) return std::nan("");
  const auto d = static_cast<std::int64_t>(truncated);
  if (d == 0) return 1e-06;
  const std::int64_t low = d & 0xFF;
  const std::int64_t high = (d >> 8) & 0xFF;
  const double count = static_cast<double>(std::max(low, high));
  const double share = dbtpc != nullptr ? dbtpc->GetValueInBaseUnit() / 100.0 : 0.5;
  return count * share / Value(setup, "DSP_freq");
}

double VoltageCommandScale(const CMC_Setup& setup) { return 65534.0 / (1.1 * Value(setup, "Vdc")); }

double MeasuredVoltageScale(const CMC_Setup& setup) { return AdcMax(setup) / Value(setup, "VdcMaxMeasurable"); }

double CurrentScale(const CMC_Setup& setup) { return AdcMax(setup) / (2.0 * Value(setup, "ImaxPS")); }

double InterpolationFactor(const CMC_Setup& setup) {
  // exp2 of the truncated value stays IEEE for any input: no integer cast.
  return std::exp2(std::trunc(Value(setup, "SINCOS_fract")));
}

double MotorPositionScale(const CMC_Setup& setup) { return InterpolationFactor(setup) / Value(setup, "EncRes"); }

double LoadPositionScale(const CMC_Setup& setup) {
  return (Value(setup, "Motor_transmission") / Value(setup, "Load_transmission")) * InterpolationFactor(setup) /
         Value(setup, "EncRes");
}

double MotorSpeedScale(const CMC_Setup& setup) {
  return SpeedLoopPeriod(setup) * InterpolationFactor(setup) / Value(setup, "EncRes");
}

double LoadSpeedScale(const CMC_Setup& setup) { return SpeedLoopPeriod(setup) * LoadPositionScale(setup); }

double LoadAccelerationScale(const CMC_Setup& setup) {
  const double ts = SpeedLoopPeriod(setup);
  return ts * ts * LoadPositionScale(setup);
}

double LoadJerkScale(const CMC_Setup& setup) {
  const double ts = SpeedLoopPeriod(setup);
  return ts * ts * ts * LoadPositionScale(setup);
}

double GetTsCMin(const CMC_Setup& setup) { return GetOptionalValue(setup, "Ts_C_min", 0.0); }

double GetTsSMin(const CMC_Setup& setup) { return GetOptionalValue(setup, "Ts_S_min", 0.0); }
