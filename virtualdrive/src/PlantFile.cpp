#include "virtualdrive/PlantFile.h"

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <nlohmann/json.hpp>
#include <sstream>

#include "axcore/JsonInput.h"
#include "axcore/MessageText.h"

namespace virtualdrive {
namespace {

using Json = nlohmann::ordered_json;

// Each key with where it goes and the range that keeps the simulation
// meaningful (and every count it derives inside a 64-bit integer).
struct NumberKey {
  const char* key;
  double PlantParameters::*field;
  double min;
  double max;
  bool minExclusive;
};

constexpr NumberKey kNumbers[] = {
    {"vdc_V", &PlantParameters::vdc_V, 0.0, 10000.0, true},
    {"phase_resistance_ohm", &PlantParameters::phase_resistance_ohm, 0.0, 1e6, true},
    {"phase_inductance_H", &PlantParameters::phase_inductance_H, 0.0, 100.0, true},
    {"force_constant_N_per_A", &PlantParameters::force_constant_N_per_A, 0.0, 1e6, false},
    {"pole_pitch_m", &PlantParameters::pole_pitch_m, 0.0, 10.0, true},
    {"moving_mass_kg", &PlantParameters::moving_mass_kg, 0.0, 1e6, true},
    {"viscous_friction_N_s_per_m", &PlantParameters::viscous_friction_N_s_per_m, 0.0, 1e6, false},
    {"coulomb_friction_N", &PlantParameters::coulomb_friction_N, 0.0, 1e6, false},
    {"gravity_force_N", &PlantParameters::gravity_force_N, -1e6, 1e6, false},
    {"travel_min_m", &PlantParameters::travel_min_m, -1000.0, 1000.0, false},
    {"travel_max_m", &PlantParameters::travel_max_m, -1000.0, 1000.0, false},
    {"limit_switch_margin_m", &PlantParameters::limit_switch_margin_m, 0.0, 1000.0, false},
    {"initial_position_m", &PlantParameters::initial_position_m, -1000.0, 1000.0, false},
    {"encoder_period_m", &PlantParameters::encoder_period_m, 1e-9, 10.0, false},
    {"dead_time_s", &PlantParameters::dead_time_s, 0.0, 1e-3, false},
    {"current_noise_A", &PlantParameters::current_noise_A, 0.0, 1e3, false},
    {"voltage_noise_V", &PlantParameters::voltage_noise_V, 0.0, 1e3, false},
    {"analogue_input_V", &PlantParameters::analogue_input_V, -1e3, 1e3, false},
    {"load_mass_kg", &PlantParameters::load_mass_kg, 0.0, 1e6, false},
    {"coupling_stiffness_N_per_m", &PlantParameters::coupling_stiffness_N_per_m, 0.0, 1e12, true},
    {"coupling_damping_N_s_per_m", &PlantParameters::coupling_damping_N_s_per_m, 0.0, 1e9, true},
};

// The highest resonance the two-mass mechanics may have: beyond it the
// coupling would need hundreds of substeps a period, and no loop of the
// drive reaches it.
constexpr double kHighestResonance_Hz = 5000.0;
// Beyond this damping ratio the coupling no longer rings: two masses that
// move as one are a rigid mover.
constexpr double kHighestCouplingDamping = 2.0;

// The two-mass keys belong together: a coupling and a load encoder need a
// load, a load needs a coupling that rings below kHighestResonance_Hz and
// loses some energy. An empty reason when they agree; `key` names the one
// to blame.
std::string CheckTwoMass(const Json& json, const PlantParameters& plant, std::string& key) {
  const bool load = plant.load_mass_kg > 0.0;
  for (const char* coupling : {"coupling_stiffness_N_per_m", "coupling_damping_N_s_per_m"}) {
    key = coupling;
    if (!load && json.contains(coupling)) return "needs a \"load_mass_kg\" above 0";
  }
  key = "encoder_on";
  if (!load && plant.encoder_on_load) return "\"load\" needs a \"load_mass_kg\" above 0";
  if (!load) return "";
  key = "coupling_stiffness_N_per_m";
  if (!json.contains(key)) return "is needed with a \"load_mass_kg\" above 0";
  key = "coupling_damping_N_s_per_m";
  if (!json.contains(key)) return "is needed with a \"load_mass_kg\" above 0 (a coupling without loss rings for ever)";
  const double reduced_kg = 1.0 / (1.0 / plant.moving_mass_kg + 1.0 / plant.load_mass_kg);
  const double resonance_Hz =
      std::sqrt(plant.coupling_stiffness_N_per_m / reduced_kg) / (2.0 * std::numbers::pi);
  key = "coupling_stiffness_N_per_m";
  if (resonance_Hz > kHighestResonance_Hz) {
    std::ostringstream text;
    text << "gives a resonance of " << resonance_Hz << " Hz, above the " << kHighestResonance_Hz
         << " Hz the virtual mechanics resolve";
    return text.str();
  }
  const double damping =
      plant.coupling_damping_N_s_per_m / (2.0 * std::sqrt(plant.coupling_stiffness_N_per_m * reduced_kg));
  key = "coupling_damping_N_s_per_m";
  if (damping > kHighestCouplingDamping) {
    std::ostringstream text;
    text << "gives a damping ratio of " << damping << ", above " << kHighestCouplingDamping
         << ": the masses would move as one (leave the load out, its mass in \"moving_mass_kg\")";
    return text.str();
  }
  return "";
}

struct IntegerKey {
  const char* key;
  long long min;
  long long max;
  std::function<void(PlantParameters&, long long)> set;
};

// `where` is the quoted key (or "parent"."key"), empty for the file itself.
PlantLoad FailAt(std::string_view source, const std::string& where, const std::string& reason) {
  PlantLoad load;
  load.error = axcore::OneLine(source) + ": " + (where.empty() ? "" : where + ": ") + reason;
  return load;
}

PlantLoad Fail(std::string_view source, std::string_view key, const std::string& reason) {
  return FailAt(source, key.empty() ? std::string() : axcore::QuoteForMessage(key), reason);
}

// "faults": the wiring faults the plant starts with. An empty error when
// every key is known and valid.
std::string ReadFaults(const Json& value, PlantFaults& faults, std::string& where) {
  where = axcore::QuoteForMessage("faults");
  if (!value.is_object()) return "must be an object of \"open_lead\", \"reversed_encoder\", \"missing_encoder\"";
  for (const auto& [key, entry] : value.items()) {
    where = axcore::QuoteForMessage("faults") + "." + axcore::QuoteForMessage(key);
    if (key == "open_lead") {
      const std::string lead = entry.is_string() ? entry.get<std::string>() : "";
      if (lead != "A" && lead != "B" && lead != "C") return "must be \"A\", \"B\" or \"C\"";
      faults.openLead = lead[0] - 'A';
    } else if (key == "reversed_encoder" || key == "missing_encoder") {
      if (!entry.is_boolean()) return "must be true or false";
      (key == "reversed_encoder" ? faults.encoderReversed : faults.encoderMissing) = entry.get<bool>();
    } else {
      return "not a fault a plant file can hold";
    }
  }
  return "";
}

constexpr double kMinWindingResistance_ohm = 1e-6;
constexpr double kMaxWindingTimeConstant_s = 10.0;

// "phase_resistance_scale": three positive factors, phases A, B, C.
bool ReadScale(const Json& value, std::array<double, 3>& scale) {
  if (!value.is_array() || value.size() != 3) return false;
  for (std::size_t k = 0; k < 3; ++k) {
    if (!value[k].is_number()) return false;
    const double factor = value[k].get<double>();
    if (!std::isfinite(factor) || !(factor > 0.0) || factor > 1e6) return false;
    scale[k] = factor;
  }
  return true;
}

std::string Range(double min, double max, bool minExclusive) {
  std::ostringstream text;
  text << "must be a number " << (minExclusive ? "above " : "from ") << min << (minExclusive ? " up to " : " to ")
       << max;
  return text.str();
}

// A JSON integer as a long long: false for a non-integer and for one beyond
// its range (the library holds those above it as unsigned).
bool WholeNumber(const Json& value, long long& number) {
  if (value.is_number_unsigned()) {
    if (value.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) return false;
  } else if (!value.is_number_integer()) {
    return false;
  }
  number = value.get<long long>();
  return true;
}

PlantLoad ReadPlant(axcore::JsonInput input, std::string_view source) {
  if (!input.json) {
    PlantLoad load;
    load.error = std::move(input.error);
    return load;
  }
  const Json& json = *input.json;
  if (!json.is_object()) return Fail(source, "", "the plant must be a JSON object");

  const IntegerKey integers[] = {
      {"encoder_interpolation_bits", 0, 16,
       [](PlantParameters& p, long long v) { p.encoder_interpolation_bits = static_cast<int>(v); }},
      {"encoder_direction", -1, 1, [](PlantParameters& p, long long v) { p.encoder_direction = static_cast<int>(v); }},
      {"limit_switch_active_level", 0, 1,
       [](PlantParameters& p, long long v) { p.limit_switch_active_level = static_cast<int>(v); }},
      {"computation_delay_periods", 0, 1,
       [](PlantParameters& p, long long v) { p.computation_delay_periods = static_cast<int>(v); }},
      {"noise_seed", 0, 1LL << 53, [](PlantParameters& p, long long v) { p.noise_seed = static_cast<std::uint64_t>(v); }},
  };

  PlantParameters plant;
  for (const auto& [key, value] : json.items()) {
    if (key == "format" || key == "description") {
      if (!value.is_string()) return Fail(source, key, "must be a text");
      continue;
    }
    if (key == "connection") {
      if (value == "star") {
        plant.connection = Connection::Star;
      } else if (value == "delta") {
        plant.connection = Connection::Delta;
      } else {
        return Fail(source, key, "must be \"star\" or \"delta\"");
      }
      continue;
    }
    if (key == "encoder_on") {
      if (value == "motor" || value == "load") {
        plant.encoder_on_load = value == "load";
      } else {
        return Fail(source, key, "must be \"motor\" or \"load\"");
      }
      continue;
    }
    if (key == "faults") {
      std::string where;
      if (const std::string reason = ReadFaults(value, plant.faults, where); !reason.empty())
        return FailAt(source, where, reason);
      continue;
    }
    if (key == "phase_resistance_scale") {
      if (!ReadScale(value, plant.phase_resistance_scale))
        return Fail(source, key, "must be three numbers above 0 up to 1e+06, for phases A, B and C");
      continue;
    }
    bool known = false;
    for (const NumberKey& entry : kNumbers) {
      if (key != entry.key) continue;
      known = true;
      if (!value.is_number()) return Fail(source, key, Range(entry.min, entry.max, entry.minExclusive));
      const double v = value.get<double>();
      const bool below = entry.minExclusive ? !(v > entry.min) : !(v >= entry.min);
      if (!std::isfinite(v) || below || v > entry.max)
        return Fail(source, key, Range(entry.min, entry.max, entry.minExclusive));
      plant.*entry.field = v;
    }
    for (const IntegerKey& entry : integers) {
      if (key != entry.key) continue;
      known = true;
      const std::string reason =
          "must be a whole number from " + std::to_string(entry.min) + " to " + std::to_string(entry.max);
      long long v = 0;
      if (!WholeNumber(value, v)) return Fail(source, key, reason);
      if (v < entry.min || v > entry.max || (entry.key == std::string_view("encoder_direction") && v == 0))
        return Fail(source, key, entry.key == std::string_view("encoder_direction") ? "must be 1 or -1" : reason);
      entry.set(plant, v);
    }
    if (!known) return Fail(source, key, "not a key of a plant file");
  }
  if (!(plant.travel_min_m < plant.travel_max_m))
    return Fail(source, "travel_max_m", "must be above travel_min_m");
  if (2.0 * plant.limit_switch_margin_m >= plant.travel_max_m - plant.travel_min_m)
    return Fail(source, "limit_switch_margin_m", "leaves no travel between the limit switches");
  {
    std::string key;
    if (const std::string reason = CheckTwoMass(json, plant, key); !reason.empty()) return Fail(source, key, reason);
  }
  // The encoder count of any position must fit a 64-bit integer with room.
  const double reach = std::max(std::abs(plant.travel_min_m), std::abs(plant.travel_max_m));
  if (reach / plant.encoder_period_m * std::ldexp(1.0, plant.encoder_interpolation_bits) > 1e17)
    return Fail(source, "encoder_period_m", "too small for the travel: the encoder count would overflow");
  // Each winding's current is computed from its time constant L / R over a
  // current-loop period: a winding of almost no resistance (a scale factor
  // of 1e-300, say) makes that step lose every digit, and the currents and
  // then the position become NaN. No motor has a winding below a
  // micro-ohm or a time constant of seconds.
  for (std::size_t k = 0; k < 3; ++k) {
    const double winding_ohm = plant.phase_resistance_ohm * plant.phase_resistance_scale[k];
    const std::string key = plant.phase_resistance_scale[k] == 1.0 ? "phase_resistance_ohm" : "phase_resistance_scale";
    if (!(winding_ohm >= kMinWindingResistance_ohm))
      return Fail(source, key,
                  std::string("gives winding ") + "ABC"[k] + " a resistance below 1e-06 ohm, which no motor has");
    if (!(plant.phase_inductance_H / winding_ohm <= kMaxWindingTimeConstant_s))
      return Fail(source, key,
                  std::string("gives winding ") + "ABC"[k] + " a time constant L/R above 10 s, which no motor has");
  }
  PlantLoad load;
  load.plant = plant;
  return load;
}

}  // namespace

PlantLoad ParsePlant(std::string_view text, std::string_view source) {
  return ReadPlant(axcore::ParseJsonInput(text, source), source);
}

PlantLoad LoadPlantFile(const std::string& path) { return ReadPlant(axcore::LoadJsonFile(path), path); }

PlantParameters ExamplePlant() {
  // The embedded example is checked by the build's tests; should it ever be
  // refused, the built-in defaults (the same motor) stand in.
  PlantLoad load = ParsePlant(ExamplePlantText(), "embedded example plant");
  return load.plant ? *load.plant : PlantParameters{};
}

}  // namespace virtualdrive
