// Random damage to a setup, for the robustness suites: values scaled,
// negated, zeroed, made huge or tiny, parameters and variables removed,
// options flipped. Every draw comes from the caller's std::mt19937, reduced
// by plain arithmetic (no standard distribution, whose results differ
// between libraries), so a case index and a seed give the same setup
// everywhere.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "axcore/Diagnostics.h"
#include "axcore/Setup.h"

namespace testing_support {

// The names that drive the scales, the modes and the optional features: a
// change to one of them reaches many rules at once, so they are drawn more
// often than their share of the setup.
inline const std::vector<std::string>& HotNames() {
  static const std::vector<std::string> names = {
      "DSP_freq", "PWMPER", "CLPER", "SLPER", "ADCbits", "EncRes", "SINCOS_fract", "PolePitch",
      "Motor_transmission", "Load_transmission", "TransmissionType", "ImaxPS", "ImaxM", "In", "InPS",
      "Vdc", "VdcMaxMeasurable", "ControlMode", "PositionControlType", "ACR", "SCR", "ASR", "OSR",
      "AnalogueInputsRange", "Limit_Speed", "TaPP", "TaNP", "CADIN", "SFTADIN", "AD5OFF", "KPTHT",
      "IQREF_BQ_INI", "DeadBand_Point", "POS_min", "POS_max", "SPD_min", "SPD_max", "CRT_min", "CRT_max",
      "ELRES_FRACT", "FilterEncValue", "DBT", "Ts_S", "SpeedForward", "isSWLS", "POSOKLIM_FC"};
  return names;
}

inline const std::vector<std::string>& FlippedOptions() {
  static const std::vector<std::string> names = {"NewDeadBand", "hasNegTransmission", "hideEnablePolarity",
                                                 "IsInputsTypeProgrammable", "IsClosedPosition", "IsClosedSpeed"};
  return names;
}

inline std::uint32_t Draw(std::mt19937& rng, std::uint32_t count) { return static_cast<std::uint32_t>(rng() % count); }
// Uniform in [0, 1).
inline double DrawUnit(std::mt19937& rng) { return std::ldexp(static_cast<double>(rng()), -32); }

// Writes `value` whatever the parameter's range: the bounds are lifted for
// the write and put back, so a damaged value can stand outside them as it
// can in a file. Int parameters are still rounded, as the document does.
inline void SetRawValue(CMC_Parameter& p, double value) {
  const bool hasMin = p.HasMin(), hasMax = p.HasMax();
  const double min = p.GetMinInBaseUnit(), max = p.GetMaxInBaseUnit();
  p.ClearMin();
  p.ClearMax();
  p.SetValueInBaseUnit(value);
  if (hasMin) p.SetMinInBaseUnit(min);
  if (hasMax) p.SetMaxInBaseUnit(max);
}

// One random change; returns what it did, for the failure message.
inline std::string MutateOnce(CMC_Setup& setup, std::mt19937& rng) {
  const std::uint32_t what = Draw(rng, 16);
  if (what == 0) {
    const std::string& name = FlippedOptions()[Draw(rng, static_cast<std::uint32_t>(FlippedOptions().size()))];
    const std::string text = setup.GetIntOption(name) == 1 ? "0" : "1";
    setup.SetOption(name, text);
    return "option " + name + "=" + text;
  }
  if (what == 1 && !setup.Variables().empty()) {
    // CADIN decides the analogue reference; other variables only their units.
    const std::string name =
        Draw(rng, 2) == 0 ? std::string("CADIN")
                          : setup.Variables()[Draw(rng, static_cast<std::uint32_t>(setup.Variables().size()))]->GetName();
    setup.RemoveVariable(name);
    return "variable " + name + " removed";
  }
  if (setup.Parameters().empty()) return "nothing";
  CMC_Parameter* p = nullptr;
  if (Draw(rng, 2) == 0) {
    axcore::QuietLookup quiet;
    p = setup.FindParameter(HotNames()[Draw(rng, static_cast<std::uint32_t>(HotNames().size()))]);
  }
  if (p == nullptr) p = setup.Parameters()[Draw(rng, static_cast<std::uint32_t>(setup.Parameters().size()))].get();
  const std::string name = p->GetName();
  const double value = p->GetValueInBaseUnit();
  switch (Draw(rng, 8)) {
    case 0: {
      // A factor from 1e-6 to 1e6, either sign.
      const double factor = std::pow(10.0, DrawUnit(rng) * 12.0 - 6.0) * (Draw(rng, 2) == 0 ? 1.0 : -1.0);
      SetRawValue(*p, value * factor);
      return name + " scaled by " + std::to_string(factor);
    }
    case 1:
      SetRawValue(*p, -value);
      return name + " negated";
    case 2:
      SetRawValue(*p, 0.0);
      return name + " = 0";
    case 3:
      SetRawValue(*p, Draw(rng, 2) == 0 ? 1e300 : -1e300);
      return name + " huge";
    case 4:
      SetRawValue(*p, Draw(rng, 2) == 0 ? 1e-300 : -1e-300);
      return name + " tiny";
    case 5:
      SetRawValue(*p, std::trunc(DrawUnit(rng) * 70000.0) - 2000.0);
      return name + " = some count";
    default:
      setup.RemoveParameter(name);
      return name + " removed";
  }
}

inline std::string Mutate(CMC_Setup& setup, std::mt19937& rng, int changes) {
  std::string done;
  for (int i = 0; i < changes; ++i) done += (i ? "; " : "") + MutateOnce(setup, rng);
  return done;
}

// Empty when every value and every bound of the setup is finite; else the
// first offender.
inline std::string FindNonFinite(const CMC_Setup& setup) {
  for (const auto& p : setup.Parameters()) {
    if (!std::isfinite(p->GetValueInBaseUnit())) return "value of " + p->GetName();
    if (p->HasMin() && !std::isfinite(p->GetMinInBaseUnit())) return "minimum of " + p->GetName();
    if (p->HasMax() && !std::isfinite(p->GetMaxInBaseUnit())) return "maximum of " + p->GetName();
  }
  for (const auto& v : setup.Variables())
    if (!std::isfinite(v->GetValueInBaseUnit())) return "value of variable " + v->GetName();
  return {};
}

}  // namespace testing_support
