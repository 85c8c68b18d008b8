// Free functions the host offers its plug-ins.
#pragma once

#include <cstdint>

class CMC_Setup;

// Nearest integer, halves away from zero, saturating at the int32 limits;
// NaN gives 0.
std::int32_t TG_FRound(double value);
// The same on a float.
std::int32_t TG_Round(float value);

// value rounded to `decimals` decimals (negative: to tens, hundreds ...),
// halves away from zero. A value too large to carry that many decimals, or
// not finite, comes back unchanged.
double RoundDecimalValue(double value, int decimals);

// Full-scale count of the drive's converter, left-aligned in 16 bits:
// (2^b - 1) * 2^(16 - b), with b the constant "ADCbits" truncated and limited
// to 1..16, or 10 when the setup has no "ADCbits" (65472). The lookup is quiet.
std::uint32_t Compute_ADCMaxValue(const CMC_Setup* setup);
