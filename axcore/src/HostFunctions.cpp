#include "axcore/HostFunctions.h"

#include <cmath>
#include <limits>

#include "axcore/Diagnostics.h"
#include "axcore/Setup.h"

std::int32_t TG_FRound(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = std::round(value);  // halves away from zero
  if (rounded >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (rounded <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(rounded);
}

std::int32_t TG_Round(float value) {
  if (std::isnan(value)) return 0;
  const float rounded = std::round(value);
  // 2^31 is exactly representable as a float; anything at or above it saturates.
  if (rounded >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
  if (rounded <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(rounded);
}

double RoundDecimalValue(double value, int decimals) {
  if (!std::isfinite(value)) return value;
  const double scale = std::pow(10.0, decimals);
  const double scaled = value * scale;
  // Beyond 2^52 a double has no fraction left to round.
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 4503599627370496.0 || scale == 0.0) return value;
  return std::round(scaled) / scale;
}

std::uint32_t Compute_ADCMaxValue(const CMC_Setup* setup) {
  int bits = 10;
  if (setup != nullptr) {
    axcore::QuietLookup quiet;
    if (const CMC_Parameter* p = setup->FindParameter("ADCbits")) {
      // Limit before converting: the value may be anything a file held.
      const double limited = std::fmin(std::fmax(std::trunc(p->GetValueInBaseUnit()), 1.0), 16.0);
      bits = static_cast<int>(limited);
    }
  }
  return ((std::uint32_t{1} << bits) - 1u) << (16 - bits);
}
