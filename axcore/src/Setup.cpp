#include "axcore/Setup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "axcore/Comm.h"
#include "axcore/Diagnostics.h"
#include "axcore/EditSetupDlg.h"

// ---------------------------------------------------------------- quantity

CMC_Quantity::CMC_Quantity(CMC_Setup* setup, std::string name, const CMC_Unit* base)
    : m_setup(setup), m_name(std::move(name)), m_base(base), m_shown(base) {}

int CMC_Quantity::SetShownUnit(std::string_view unit) {
  const CMC_Unit* u = CMC_Units::FindUnit(unit);
  if (u == nullptr || u->GetType() != m_base->GetType()) return 0;
  m_shown = u;
  return 1;
}

int CMC_Quantity::ChangeUnitType(std::string_view unit) {
  const CMC_Unit* u = CMC_Units::FindUnit(unit);
  if (u == nullptr) return 0;
  if (u->GetType() == m_base->GetType()) return 1;
  m_base = CMC_Units::BaseUnitOf(u->GetType());
  m_shown = u;
  return 1;
}

int CMC_Quantity::Store(double value) {
  if (!std::isfinite(value)) return 0;
  m_value = value;
  return 1;
}

CMC_Quantity::Scale CMC_Quantity::InternalScale() const {
  const ScaleFunctions& f = m_setup->GetScaleFunctions();
  if (f.factor == nullptr) return {};
  const double factor = f.factor(m_setup, m_base->GetName(), m_name.c_str());
  // The offset belongs to the factor: a refused factor refuses both.
  if (!std::isfinite(factor) || factor == 0.0) return {};
  const double offset = f.offset != nullptr ? f.offset(m_setup, m_base->GetName()) : 0.0;
  return {factor, std::isfinite(offset) ? offset : 0.0};
}

int CMC_Quantity::DriveAccess(const std::function<bool(DriveLink&, std::string&)>& access) {
  DriveLink* link = CMC_Comm::GetLink();
  std::string error;
  if (link == nullptr) {
    error = kNoDriveConnected;
  } else if (access(*link, error)) {
    return 1;
  } else if (error.empty()) {
    error = "the drive did not answer for \"" + m_name + "\"";
  }
  CMC_Comm::SetLastErrorText(error);
  m_setup->SetLastDriveError(std::move(error));
  return 0;
}

double CMC_Quantity::BaseToInternal(double base) const {
  const Scale scale = InternalScale();
  return base / scale.factor - scale.offset;
}

double CMC_Quantity::InternalToBase(double internal) const {
  const Scale scale = InternalScale();
  return (internal + scale.offset) * scale.factor;
}

double CMC_Quantity::GetValueInInternalUnit() const { return BaseToInternal(m_value); }

int CMC_Quantity::SetValueInInternalUnit(double value) { return Store(InternalToBase(value)); }

std::string CMC_Quantity::PrintValue() const {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", GetValueInShownUnit());
  std::string out = text;
  if (*m_shown->GetName() != '\0') {
    out += ' ';
    out += m_shown->GetName();
  }
  return out;
}

// ---------------------------------------------------------------- parameter

double CMC_Parameter::GetMinInBaseUnit() const {
  return m_min.value_or(-std::numeric_limits<double>::infinity());
}

double CMC_Parameter::GetMaxInBaseUnit() const {
  return m_max.value_or(std::numeric_limits<double>::infinity());
}

int CMC_Parameter::SetMinInBaseUnit(double minimum) {
  if (!std::isfinite(minimum)) return 0;
  m_min = minimum;
  return 1;
}

int CMC_Parameter::SetMaxInBaseUnit(double maximum) {
  if (!std::isfinite(maximum)) return 0;
  m_max = maximum;
  return 1;
}

int CMC_Parameter::Store(double value) {
  if (!std::isfinite(value)) return 0;
  if (m_isInt) value = std::round(value);  // halves away from zero
  const bool ordered = !(m_min && m_max) || *m_min <= *m_max;
  if (ordered) {
    if (m_min && value < *m_min) value = *m_min;
    if (m_max && value > *m_max) value = *m_max;
  }
  StoreRaw(value);
  return 1;
}

int CMC_Parameter::WriteToChip() {
  return DriveAccess([&](DriveLink& link, std::string& error) {
    return link.WriteRegister(GetName(), GetValueInInternalUnit(), error);
  });
}

// ---------------------------------------------------------------- variable

int CMC_Variable::ReadFromChip() {
  return DriveAccess([&](DriveLink& link, std::string& error) {
    double value = 0.0;
    if (!link.ReadVariable(GetName(), value, error)) return false;
    if (SetValueInInternalUnit(value) == 0) {
      error = "drive variable \"" + GetName() + "\" read a value that is not a finite number";
      return false;
    }
    return true;
  });
}

int CMC_Variable::WriteToChip() {
  return DriveAccess([&](DriveLink& link, std::string& error) {
    return link.WriteVariable(GetName(), GetValueInInternalUnit(), error);
  });
}

// ---------------------------------------------------------------- setup

CMC_Setup::CMC_Setup(const CMC_Setup& other) { CopyFrom(other); }

CMC_Setup& CMC_Setup::operator=(const CMC_Setup& other) {
  if (this != &other) CopyFrom(other);
  return *this;
}

CMC_Setup::~CMC_Setup() = default;

void CMC_Setup::CopyFrom(const CMC_Setup& other) {
  m_parameters.clear();
  m_variables.clear();
  m_parameterIndex.clear();
  m_variableIndex.clear();
  for (const auto& p : other.m_parameters) {
    auto copy = std::unique_ptr<CMC_Parameter>(
        new CMC_Parameter(this, p->GetName(), &p->GetBaseUnit(), p->m_kind, p->m_isInt));
    copy->m_shown = &p->GetShownUnit();
    copy->StoreRaw(p->GetValueInBaseUnit());
    copy->m_min = p->m_min;
    copy->m_max = p->m_max;
    copy->SetExtraKeys(p->GetExtraKeys());
    m_parameterIndex.emplace(copy->GetName(), m_parameters.size());
    m_parameters.push_back(std::move(copy));
  }
  for (const auto& v : other.m_variables) {
    auto copy = std::unique_ptr<CMC_Variable>(new CMC_Variable(this, v->GetName(), &v->GetBaseUnit()));
    copy->m_shown = &v->GetShownUnit();
    copy->StoreRaw(v->GetValueInBaseUnit());
    copy->SetExtraKeys(v->GetExtraKeys());
    m_variableIndex.emplace(copy->GetName(), m_variables.size());
    m_variables.push_back(std::move(copy));
  }
  m_options = other.m_options;
  m_description = other.m_description;
  m_productId = other.m_productId;
  m_firmwareId = other.m_firmwareId;
  m_userAppId = other.m_userAppId;
  m_e2romSize = other.m_e2romSize;
  m_scale = other.m_scale;
  m_lastDriveError = other.m_lastDriveError;
  m_extraKeys = other.m_extraKeys;
}

CMC_Parameter* CMC_Setup::FindParameterQuietly(std::string_view name) const {
  auto it = m_parameterIndex.find(name);
  return it == m_parameterIndex.end() ? nullptr : m_parameters[it->second].get();
}

CMC_Variable* CMC_Setup::FindVariableQuietly(std::string_view name) const {
  auto it = m_variableIndex.find(name);
  return it == m_variableIndex.end() ? nullptr : m_variables[it->second].get();
}

CMC_Parameter* CMC_Setup::FindParameter(std::string_view name) const {
  CMC_Parameter* p = FindParameterQuietly(name);
  if (p == nullptr) axcore::ReportMissingName(axcore::MissingName::Kind::Parameter, name);
  return p;
}

CMC_Variable* CMC_Setup::FindVariable(std::string_view name, int /*driveVariable*/) const {
  CMC_Variable* v = FindVariableQuietly(name);
  if (v == nullptr) axcore::ReportMissingName(axcore::MissingName::Kind::Variable, name);
  return v;
}

double CMC_Setup::GetParameterValueInBaseUnit(std::string_view name) const {
  const CMC_Parameter* p = FindParameter(name);
  return p ? p->GetValueInBaseUnit() : 0.0;
}

double CMC_Setup::GetParameterValueInInternalUnit(std::string_view name) const {
  const CMC_Parameter* p = FindParameter(name);
  return p ? p->GetValueInInternalUnit() : 0.0;
}

int CMC_Setup::SetParameterValueInBaseUnit(std::string_view name, double value) {
  CMC_Parameter* p = FindParameter(name);
  return p ? p->SetValueInBaseUnit(value) : 0;
}

int CMC_Setup::SetParameterValueInInternalUnit(std::string_view name, double value) {
  CMC_Parameter* p = FindParameter(name);
  return p ? p->SetValueInInternalUnit(value) : 0;
}

std::string CMC_Setup::GetParameterUnit(std::string_view name) const {
  const CMC_Parameter* p = FindParameter(name);
  return p ? std::string(p->GetShownUnit().GetName()) : std::string();
}

int CMC_Setup::ChangeParameterUnit(std::string_view name, std::string_view unit) {
  CMC_Parameter* p = FindParameter(name);
  return p ? p->SetShownUnit(unit) : 0;
}

CMC_Parameter* CMC_Setup::AddParameter(const ParameterSpec& spec) {
  const CMC_Unit* base = CMC_Units::FindBaseUnit(spec.unit);
  const CMC_Unit* shown = spec.shown.empty() ? base : CMC_Units::FindUnit(spec.shown);
  if (base == nullptr || shown == nullptr || shown->GetType() != base->GetType()) return nullptr;
  if (FindParameterQuietly(spec.name) != nullptr) return nullptr;
  auto p = std::unique_ptr<CMC_Parameter>(new CMC_Parameter(this, spec.name, base, spec.kind, spec.isInt));
  p->m_shown = shown;
  p->StoreRaw(spec.value);
  p->m_min = spec.min;
  p->m_max = spec.max;
  m_parameterIndex.emplace(spec.name, m_parameters.size());
  m_parameters.push_back(std::move(p));
  return m_parameters.back().get();
}

CMC_Variable* CMC_Setup::AddVariable(std::string_view name, std::string_view unit, std::string_view shown) {
  const CMC_Unit* base = CMC_Units::FindBaseUnit(unit);
  const CMC_Unit* shownUnit = shown.empty() ? base : CMC_Units::FindUnit(shown);
  if (base == nullptr || shownUnit == nullptr || shownUnit->GetType() != base->GetType()) return nullptr;
  if (FindVariableQuietly(name) != nullptr) return nullptr;
  auto v = std::unique_ptr<CMC_Variable>(new CMC_Variable(this, std::string(name), base));
  v->m_shown = shownUnit;
  m_variableIndex.emplace(std::string(name), m_variables.size());
  m_variables.push_back(std::move(v));
  return m_variables.back().get();
}

namespace {

template <typename T>
int RemoveNamed(std::vector<std::unique_ptr<T>>& items, axcore::CaseInsensitiveMap<std::size_t>& index,
                std::string_view name) {
  auto it = index.find(name);
  if (it == index.end()) return 0;
  items.erase(items.begin() + static_cast<std::ptrdiff_t>(it->second));
  index.clear();
  for (std::size_t i = 0; i < items.size(); ++i) index.emplace(items[i]->GetName(), i);
  return 1;
}

}  // namespace

int CMC_Setup::RemoveParameter(std::string_view name) { return RemoveNamed(m_parameters, m_parameterIndex, name); }

int CMC_Setup::RemoveVariable(std::string_view name) { return RemoveNamed(m_variables, m_variableIndex, name); }

int CMC_Setup::GetIntOption(std::string_view name) const {
  const std::string text = GetOptionNoError(name);
  const char* begin = text.c_str();
  char* end = nullptr;
  const long value = std::strtol(begin, &end, 10);
  if (end == begin) return 0;
  if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

std::string CMC_Setup::GetOptionNoError(std::string_view name) const {
  for (const auto& [key, text] : m_options)
    if (axcore::EqualsIgnoreCase(key, name)) return text;
  return {};
}

bool CMC_Setup::HasOption(std::string_view name) const {
  for (const auto& option : m_options)
    if (axcore::EqualsIgnoreCase(option.first, name)) return true;
  return false;
}

void CMC_Setup::SetOption(std::string_view name, std::string_view text) {
  for (auto& [key, value] : m_options)
    if (axcore::EqualsIgnoreCase(key, name)) {
      value = text;
      return;
    }
  m_options.emplace_back(std::string(name), std::string(text));
}

void CMC_Setup::ClearOption(std::string_view name) {
  std::erase_if(m_options, [&](const auto& option) { return axcore::EqualsIgnoreCase(option.first, name); });
}

namespace {

// The pin named by one entry of "OutputPortPins", blanks around it allowed;
// -1 for an entry that names no pin (empty, not a number, out of range).
int PinOfPortEntry(std::string_view entry) {
  while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t')) entry.remove_prefix(1);
  while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) entry.remove_suffix(1);
  if (entry.empty()) return -1;
  int pin = 0;
  for (char c : entry) {
    if (c < '0' || c > '9') return -1;
    if (pin > (std::numeric_limits<int>::max() - (c - '0')) / 10) return -1;
    pin = pin * 10 + (c - '0');
  }
  return pin;
}

// Calls visit(port, pin) for each entry of "OutputPortPins" in port order
// until it returns true; the port it stopped at, or -1.
template <typename Visit>
int FindOutputPort(const CMC_Setup& setup, Visit visit) {
  const std::string list = setup.GetOptionNoError("OutputPortPins");
  if (list.empty()) return -1;
  std::string_view rest = list;
  for (int port = 0;; ++port) {
    const std::size_t comma = rest.find(',');
    if (visit(port, PinOfPortEntry(rest.substr(0, comma)))) return port;
    if (comma == std::string_view::npos) return -1;
    rest.remove_prefix(comma + 1);
  }
}

}  // namespace

int CMC_Setup::GetIOPinFromPort(int port) const {
  int found = 0;
  FindOutputPort(*this, [&](int p, int pin) {
    if (p != port) return false;
    found = pin < 0 ? 0 : pin;
    return true;
  });
  return found;
}

int CMC_Setup::GetIOPortFromPin(int pin) const {
  const int port = FindOutputPort(*this, [&](int, int entryPin) { return entryPin >= 0 && entryPin == pin; });
  return port < 0 ? 0 : port;
}

namespace {

// Entry `index` of a comma-separated option, blanks around it dropped; empty
// when the list is shorter.
std::string ListEntry(const std::string& list, int index) {
  std::string_view rest = list;
  for (int i = 0; i < index; ++i) {
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos) return {};
    rest.remove_prefix(comma + 1);
  }
  std::string_view entry = rest.substr(0, rest.find(','));
  while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t')) entry.remove_prefix(1);
  while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) entry.remove_suffix(1);
  return std::string(entry);
}

// The pin of a port that can drive the brake, -1 for any other port.
int BrakePin(const CMC_Setup& setup, int port) {
  int found = -1;
  FindOutputPort(setup, [&](int p, int pin) {
    if (p != port) return false;
    found = pin;
    return true;
  });
  return found;
}

}  // namespace

int CMC_Setup::GetNumberOfBrakeOutputs() const {
  int count = 0;
  FindOutputPort(*this, [&](int, int pin) {
    if (pin >= 0) ++count;
    return false;
  });
  return count;
}

int CMC_Setup::IsBrakePortEnable(int port) const {
  if (port < 0 || BrakePin(*this, port) < 0) return 0;
  const bool source = axcore::EqualsIgnoreCase(ListEntry(GetOptionNoError("OutputPortTypes"), port), "PNP");
  return 0x01 | (source ? 0x10 : 0x20);
}

bool CMC_Setup::IsIOMC3PortInverted(int port) const {
  const std::string list = GetOptionNoError("InvertedOutputPorts");
  const int entries = 1 + static_cast<int>(std::count(list.begin(), list.end(), ','));
  for (int i = 0; i < entries; ++i)
    if (ListEntry(list, i) == std::to_string(port)) return true;
  return false;
}

void CMC_Setup::FillIOBrakeCombo(CComboBox& combo, int current) const {
  combo.ResetContent();
  FindOutputPort(*this, [&](int port, int pin) {
    if (pin < 0) return false;
    const int index = combo.AddString("OUT" + std::to_string(port) + " (pin " + std::to_string(pin) + ")");
    combo.SetItemData(index, port);
    if (port == current) combo.SetCurSel(index);
    return false;
  });
}
