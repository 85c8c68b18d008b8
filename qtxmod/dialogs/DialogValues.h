// Reading the setup's values the way the dialogs' rules need them.
#pragma once

#include <cmath>
#include <limits>
#include <string_view>

#include <initializer_list>

#include "axcore/Names.h"
#include "axcore/Setup.h"

namespace dialogs {

// A parameter name the framework handed to a hook, against the name of a
// rule (ASCII case ignored, as every name of the setup).
inline bool Is(const char* name, std::string_view candidate) {
  return name != nullptr && axcore::EqualsIgnoreCase(name, candidate);
}

inline bool IsOneOf(const char* name, std::initializer_list<std::string_view> candidates) {
  for (std::string_view candidate : candidates)
    if (Is(name, candidate)) return true;
  return false;
}

// Marks a value that is no integer at all (not finite or beyond int): it
// matches none of the modes and flags a rule compares with.
inline constexpr int kNoInteger = std::numeric_limits<int>::min();

// A value truncated to an integer, as the drive reads a mode or a flag.
inline int Truncated(double value) {
  if (!std::isfinite(value)) return kNoInteger;
  const double whole = std::trunc(value);
  if (whole < std::numeric_limits<int>::min() || whole > std::numeric_limits<int>::max()) return kNoInteger;
  return static_cast<int>(whole);
}

// An ordinary lookup: a missing name is reported by the host and reads 0.
inline int IntegerValue(const CMC_Setup& setup, std::string_view name) {
  return Truncated(setup.GetParameterValueInBaseUnit(name));
}

inline double Value(const CMC_Setup& setup, std::string_view name) {
  return setup.GetParameterValueInBaseUnit(name);
}

}  // namespace dialogs
