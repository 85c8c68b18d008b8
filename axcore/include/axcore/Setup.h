// The setup document: named parameters, drive variables, text options and the
// identity of the drive, owned by the host and handed to the plug-in.
//
// Values are doubles in base units. Every write obeys three rules: a
// non-finite value is refused (nothing changes, the write reports 0), a
// parameter flagged `int` is rounded to the nearest integer (halves away from
// zero), and a value is clamped to [minimum, maximum] while minimum <= maximum.
// Names are unique with ASCII case ignored and are kept in the order they were
// added (the collection order).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "axcore/DriveLink.h"
#include "axcore/Names.h"
#include "axcore/Units.h"

class CMC_Setup;
class CComboBox;

// The plug-in's conversion between internal (drive) units and base units:
// base = (internal + offset) * factor.
struct ScaleFunctions {
  double (*factor)(CMC_Setup* setup, const char* unit, const char* name) = nullptr;
  double (*offset)(CMC_Setup* setup, const char* unit) = nullptr;
};

// What parameters and variables share: a name, a unit pair and a value.
class CMC_Quantity {
 public:
  CMC_Quantity(const CMC_Quantity&) = delete;
  CMC_Quantity& operator=(const CMC_Quantity&) = delete;
  virtual ~CMC_Quantity() = default;

  const std::string& GetName() const { return m_name; }
  // Base unit name ("" for a plain number).
  const char* GetUnit() const { return m_base->GetName(); }
  const CMC_Unit& GetBaseUnit() const { return *m_base; }
  const CMC_Unit& GetShownUnit() const { return *m_shown; }
  // Chooses the unit the value is shown in; it must be of the same type.
  int SetShownUnit(std::string_view unit);
  // Switches to the type of `unit`: base unit and shown unit become those of
  // that type and unit, the base value is kept as it is. Nothing changes when
  // the quantity already has that type or `unit` is unknown (then 0).
  int ChangeUnitType(std::string_view unit);

  double GetValueInBaseUnit() const { return m_value; }
  int SetValueInBaseUnit(double value) { return Store(value); }
  double GetValueInInternalUnit() const;
  int SetValueInInternalUnit(double value);
  double GetValueInShownUnit() const { return m_value / m_shown->GetFactorToBase(); }

  // Internal value of one base value: base / factor - offset. Factor 1 and
  // offset 0 when no plug-in is attached or it gives a factor that is zero
  // or not finite.
  double BaseToInternal(double base) const;
  double InternalToBase(double internal) const;

  // "<value in the shown unit> <shown unit>", six significant digits.
  std::string PrintValue() const;

  // Keys of the setup file this host does not interpret, kept as a JSON
  // object text and written back unchanged.
  const std::string& GetExtraKeys() const { return m_extraKeys; }
  void SetExtraKeys(std::string json) { m_extraKeys = std::move(json); }

  CMC_Setup* GetSetup() const { return m_setup; }

 protected:
  CMC_Quantity(CMC_Setup* setup, std::string name, const CMC_Unit* base);
  // Applies the write rules and stores; 0 when refused.
  virtual int Store(double value);
  // Runs one access of the connected drive; on failure (or without a drive)
  // records the reason for CMC_Comm::GetLastErrorText and the setup, and
  // gives 0.
  int DriveAccess(const std::function<bool(DriveLink&, std::string&)>& access);
  void StoreRaw(double value) { m_value = value; }

 private:
  friend class CMC_Setup;
  // Factor and offset of the internal unit: factor 1, offset 0 without a
  // plug-in or when it gives a factor that is zero or not finite.
  struct Scale {
    double factor = 1.0;
    double offset = 0.0;
  };
  Scale InternalScale() const;

  CMC_Setup* m_setup;
  std::string m_name;
  const CMC_Unit* m_base;
  const CMC_Unit* m_shown;
  double m_value = 0.0;
  std::string m_extraKeys;
};

enum class ParameterKind : int { User = 0, Motion = 1, Register = 5, Constant = 6 };

class CMC_Parameter : public CMC_Quantity {
 public:
  // Host type code: user 0, motion 1, register 5, constant 6.
  int GetType() const { return static_cast<int>(m_kind); }
  ParameterKind GetKind() const { return m_kind; }
  bool IsInt() const { return m_isInt; }

  bool HasMin() const { return m_min.has_value(); }
  bool HasMax() const { return m_max.has_value(); }
  // -infinity / +infinity when unbounded.
  double GetMinInBaseUnit() const;
  double GetMaxInBaseUnit() const;
  // Setting a bound never changes the value; a non-finite bound is refused.
  int SetMinInBaseUnit(double minimum);
  int SetMaxInBaseUnit(double maximum);
  void ClearMin() { m_min.reset(); }
  void ClearMax() { m_max.reset(); }

  // Sends the value (internal units) to the drive register of this name; 0
  // on failure with the reason in CMC_Comm::GetLastErrorText.
  int WriteToChip();

 private:
  friend class CMC_Setup;
  CMC_Parameter(CMC_Setup* setup, std::string name, const CMC_Unit* base, ParameterKind kind,
                bool isInt)
      : CMC_Quantity(setup, std::move(name), base), m_kind(kind), m_isInt(isInt) {}
  int Store(double value) override;

  ParameterKind m_kind;
  bool m_isInt;
  std::optional<double> m_min;
  std::optional<double> m_max;
};

class CMC_Variable : public CMC_Quantity {
 public:
  // Reads the drive variable into the value; non-zero on success.
  int ReadFromChip();
  // Writes the value to the drive variable; non-zero on success.
  int WriteToChip();

 private:
  friend class CMC_Setup;
  CMC_Variable(CMC_Setup* setup, std::string name, const CMC_Unit* base)
      : CMC_Quantity(setup, std::move(name), base) {}
};

struct ParameterSpec {
  std::string name;
  std::string unit;   // base unit name
  std::string shown;  // empty: the base unit
  ParameterKind kind = ParameterKind::User;
  bool isInt = false;
  double value = 0.0;
  std::optional<double> min;
  std::optional<double> max;
};

class CMC_Setup {
 public:
  CMC_Setup() = default;
  CMC_Setup(const CMC_Setup& other);
  CMC_Setup& operator=(const CMC_Setup& other);
  ~CMC_Setup();

  // --- lookups: null when absent; the absence is reported while
  // g_bShowErrors is non-zero.
  CMC_Parameter* FindParameter(std::string_view name) const;
  // `driveVariable` is kept for callers that ask for a drive variable
  // explicitly; every variable of this host is a drive variable.
  CMC_Variable* FindVariable(std::string_view name, int driveVariable = 1) const;

  // --- by-name access; a missing name reads as 0 and writes nothing.
  double GetParameterValueInBaseUnit(std::string_view name) const;
  double GetParameterValueInInternalUnit(std::string_view name) const;
  int SetParameterValueInBaseUnit(std::string_view name, double value);
  int SetParameterValueInInternalUnit(std::string_view name, double value);
  // Shown unit of the parameter, "" when missing.
  std::string GetParameterUnit(std::string_view name) const;
  // Shows the parameter in `unit` (same type); 0 when missing or unfit.
  int ChangeParameterUnit(std::string_view name, std::string_view unit);

  // --- building. Null when the name exists already (ASCII case ignored) or
  // a unit is not in the catalogue or of the wrong kind.
  CMC_Parameter* AddParameter(const ParameterSpec& spec);
  CMC_Variable* AddVariable(std::string_view name, std::string_view unit,
                            std::string_view shown = {});
  int RemoveParameter(std::string_view name);
  int RemoveVariable(std::string_view name);

  // Collection order.
  const std::vector<std::unique_ptr<CMC_Parameter>>& Parameters() const { return m_parameters; }
  const std::vector<std::unique_ptr<CMC_Variable>>& Variables() const { return m_variables; }

  // --- options: name -> text, names ASCII case-insensitive, never reported.
  // Leading integer of the text; 0 when absent, empty or not a number.
  int GetIntOption(std::string_view name) const;
  // The text, "" when absent.
  std::string GetOptionNoError(std::string_view name) const;
  bool HasOption(std::string_view name) const;
  void SetOption(std::string_view name, std::string_view text);
  void ClearOption(std::string_view name);
  const std::vector<std::pair<std::string, std::string>>& Options() const { return m_options; }

  // --- output ports of the drive. The option "OutputPortPins" lists,
  // comma-separated, the drive pin of each output port, port 0 first
  // ("25,26,27,28"). An entry that is not a plain non-negative number is a
  // port without a pin.
  // The pin of output port `port`; 0 when the list has no such port or the
  // port has no pin.
  int GetIOPinFromPort(int port) const;
  // The first output port wired to drive pin `pin`; 0 when none is.
  int GetIOPortFromPin(int pin) const;

  // --- the motor brake on an output port. Every output port with a pin can
  // drive the brake. The option "OutputPortTypes" gives, comma-separated in
  // port order, each port's output stage: "PNP" (source, switches +Vlog) or
  // "NPN" (sink, switches to GND, the default). "InvertedOutputPorts" lists
  // the ports whose level the drive inverts.
  int GetNumberOfBrakeOutputs() const;
  // 0 when `port` cannot drive the brake; else 0x01 with 0x10 for a source
  // (PNP) output or 0x20 for a sink (NPN) output.
  int IsBrakePortEnable(int port) const;
  bool IsIOMC3PortInverted(int port) const;
  // Fills `combo` with the brake outputs ("OUT1 (pin 26)"), item data the
  // port, and selects port `current` when it is one of them.
  void FillIOBrakeCombo(CComboBox& combo, int current) const;

  // --- identity
  const std::string& GetDescription() const { return m_description; }
  void SetDescription(std::string_view text) { m_description = text; }
  const std::string& GetProductID() const { return m_productId; }
  void SetProductID(std::string_view text) { m_productId = text; }
  const std::string& GetFirmwareID() const { return m_firmwareId; }
  void SetFirmwareID(std::string_view text) { m_firmwareId = text; }
  const std::string& GetUserAppID() const { return m_userAppId; }
  void SetUserAppID(std::string_view text) { m_userAppId = text; }
  std::int64_t GetE2ROMSize() const { return m_e2romSize; }
  void SetE2ROMSize(std::int64_t bytes) { m_e2romSize = bytes; }

  // --- the plug-in's scale functions (none: factor 1, offset 0).
  void SetScaleFunctions(const ScaleFunctions& functions) { m_scale = functions; }
  const ScaleFunctions& GetScaleFunctions() const { return m_scale; }

  // --- the text of the last failed drive access of this setup's parameters
  // and variables (the same text CMC_Comm::GetLastErrorText gives).
  const std::string& GetLastDriveError() const { return m_lastDriveError; }
  void SetLastDriveError(std::string text) { m_lastDriveError = std::move(text); }

  // Top-level keys of the setup file this host does not interpret.
  const std::string& GetExtraKeys() const { return m_extraKeys; }
  void SetExtraKeys(std::string json) { m_extraKeys = std::move(json); }

 private:
  void CopyFrom(const CMC_Setup& other);
  CMC_Parameter* FindParameterQuietly(std::string_view name) const;
  CMC_Variable* FindVariableQuietly(std::string_view name) const;

  std::vector<std::unique_ptr<CMC_Parameter>> m_parameters;
  std::vector<std::unique_ptr<CMC_Variable>> m_variables;
  axcore::CaseInsensitiveMap<std::size_t> m_parameterIndex;
  axcore::CaseInsensitiveMap<std::size_t> m_variableIndex;
  std::vector<std::pair<std::string, std::string>> m_options;
  std::string m_description;
  std::string m_productId;
  std::string m_firmwareId;
  std::string m_userAppId;
  std::int64_t m_e2romSize = 0;
  ScaleFunctions m_scale;
  std::string m_lastDriveError;
  std::string m_extraKeys;
};
