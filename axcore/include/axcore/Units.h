// The units catalogue of the setup document.
//
// Every parameter and variable carries a base unit (the unit its value is
// stored in) and a shown unit (the unit the user reads it in). Both belong to
// one unit type; each type has exactly one base unit. The catalogue is fixed:
// a setup file may only name units listed here.
#pragma once

#include <span>
#include <string>
#include <string_view>

// Unit types. The numbering is ours; callers compare types, never numbers.
enum class UnitType : int {
  None = 0,
  Voltage,
  MeasuredVoltage,  // "V ": a measured supply voltage, scaled by the converter
  Current,
  Time,
  Frequency,
  Length,
  Angle,
  LinearSpeed,
  AngularSpeed,
  LinearAcceleration,
  AngularAcceleration,
  LinearJerk,
  AngularJerk,
  Temperature,
  VoltageRate,
  CurrentRate,
  Resistance,
  Inductance,
  Mass,
  ForceConstant,
  Percent,
  Rate,
};

class CMC_Unit {
 public:
  constexpr CMC_Unit(const char* name, UnitType type, double factorToBase)
      : m_name(name), m_type(type), m_factorToBase(factorToBase) {}

  const char* GetName() const { return m_name; }
  UnitType GetType() const { return m_type; }
  int GetUnitType() const { return static_cast<int>(m_type); }
  // Base value of one of this unit: 1 mm is 0.001 m.
  double GetFactorToBase() const { return m_factorToBase; }
  bool IsBase() const { return m_factorToBase == 1.0; }

 private:
  const char* m_name;
  UnitType m_type;
  double m_factorToBase;
};

class CMC_Units {
 public:
  // The unit of that exact name (units are case sensitive: "mA" is not "MA"),
  // or null.
  static const CMC_Unit* FindUnit(std::string_view name);
  // The unit of that name when it is the base unit of its type, else null.
  static const CMC_Unit* FindBaseUnit(std::string_view name);
  // The base unit of a type (never null for a type of the enumeration).
  static const CMC_Unit* BaseUnitOf(UnitType type);
  static std::span<const CMC_Unit> All();
};
