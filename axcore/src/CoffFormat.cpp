#include "axcore/CoffFormat.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "axcore/JsonInput.h"
#include "axcore/Names.h"

int CMC_CoffFormat::ReadCoff() {
  m_program.clear();
  m_variables.clear();
  m_lastError.clear();
  // Through the one reader of JSON input, as every file the host reads.
  axcore::JsonInput input = axcore::LoadJsonFile(m_path);
  if (!input.json) {
    m_lastError = input.error;
    return 0;
  }
  const nlohmann::ordered_json& doc = *input.json;
  auto fail = [&](const std::string& reason) {
    m_program.clear();
    m_variables.clear();
    m_lastError = m_path + ": " + reason;
    return 0;
  };
  if (!doc.is_object()) return fail("not a program descriptor (not a JSON object)");
  if (!doc.contains("program") || !doc["program"].is_string() || doc["program"].get<std::string>().empty())
    return fail("\"program\" must name the program");
  if (!doc.contains("variables") || !doc["variables"].is_object()) return fail("\"variables\" must be an object");
  m_program = doc["program"].get<std::string>();
  for (auto it = doc["variables"].begin(); it != doc["variables"].end(); ++it) {
    const std::string type = it.value().is_string() ? it.value().get<std::string>() : std::string();
    VariableType parsed;
    if (type == "int") parsed = VariableType::Int;
    else if (type == "long") parsed = VariableType::Long;
    else if (type == "fixed") parsed = VariableType::Fixed;
    else return fail("variable \"" + it.key() + "\": unknown type (int, long or fixed)");
    if (FindVariable(it.key()) != nullptr) return fail("variable \"" + it.key() + "\": duplicate name");
    m_variables.push_back({it.key(), parsed});
  }
  return 1;
}

const CMC_CoffFormat::UserVariable* CMC_CoffFormat::FindVariable(std::string_view name) const {
  for (const UserVariable& v : m_variables)
    if (axcore::EqualsIgnoreCase(v.name, name)) return &v;
  return nullptr;
}

bool CMC_CoffFormat::Fits(VariableType type, double value) {
  if (!std::isfinite(value)) return false;
  switch (type) {
    case VariableType::Int: return value >= -32768.0 && value <= 65535.0;  // signed or unsigned 16-bit
    case VariableType::Long: return value >= -2147483648.0 && value <= 4294967295.0;
    case VariableType::Fixed: return value >= -32768.0 && value < 32768.0;
  }
  return false;
}
