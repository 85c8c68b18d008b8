#include "axcore/Units.h"

#include <array>
#include <numbers>

namespace {

constexpr double kPi = std::numbers::pi;

// The first unit of each type is its base unit.
constexpr std::array<CMC_Unit, 36> kUnits{{
    {"", UnitType::None, 1.0},
    {"V", UnitType::Voltage, 1.0},
    {"mV", UnitType::Voltage, 1e-3},
    {"V ", UnitType::MeasuredVoltage, 1.0},
    {"A", UnitType::Current, 1.0},
    {"mA", UnitType::Current, 1e-3},
    {"s", UnitType::Time, 1.0},
    {"ms", UnitType::Time, 1e-3},
    {"\xC2\xB5s", UnitType::Time, 1e-6},  // µs
    {"Hz", UnitType::Frequency, 1.0},
    {"kHz", UnitType::Frequency, 1e3},
    {"m", UnitType::Length, 1.0},
    {"mm", UnitType::Length, 1e-3},
    {"\xC2\xB5m", UnitType::Length, 1e-6},  // µm
    {"rad", UnitType::Angle, 1.0},
    {"rot", UnitType::Angle, 2.0 * kPi},
    {"deg", UnitType::Angle, kPi / 180.0},
    {"m/s", UnitType::LinearSpeed, 1.0},
    {"mm/s", UnitType::LinearSpeed, 1e-3},
    {"rad/s", UnitType::AngularSpeed, 1.0},
    {"rpm", UnitType::AngularSpeed, 2.0 * kPi / 60.0},
    {"m/s^2", UnitType::LinearAcceleration, 1.0},
    {"rad/s^2", UnitType::AngularAcceleration, 1.0},
    {"m/s^3", UnitType::LinearJerk, 1.0},
    {"rad/s^3", UnitType::AngularJerk, 1.0},
    {"\xC2\xB0" "C", UnitType::Temperature, 1.0},  // °C
    {"V/s", UnitType::VoltageRate, 1.0},
    {"A/s", UnitType::CurrentRate, 1.0},
    {"ohm", UnitType::Resistance, 1.0},
    {"H", UnitType::Inductance, 1.0},
    {"mH", UnitType::Inductance, 1e-3},
    {"kg", UnitType::Mass, 1.0},
    {"g", UnitType::Mass, 1e-3},
    {"N/A", UnitType::ForceConstant, 1.0},
    {"%", UnitType::Percent, 1.0},
    {"1/s", UnitType::Rate, 1.0},
}};

}  // namespace

const CMC_Unit* CMC_Units::FindUnit(std::string_view name) {
  for (const CMC_Unit& unit : kUnits)
    if (name == unit.GetName()) return &unit;
  return nullptr;
}

const CMC_Unit* CMC_Units::FindBaseUnit(std::string_view name) {
  const CMC_Unit* unit = FindUnit(name);
  return (unit != nullptr && unit->IsBase()) ? unit : nullptr;
}

const CMC_Unit* CMC_Units::BaseUnitOf(UnitType type) {
  for (const CMC_Unit& unit : kUnits)
    if (unit.GetType() == type && unit.IsBase()) return &unit;
  return nullptr;
}

std::span<const CMC_Unit> CMC_Units::All() { return kUnits; }
