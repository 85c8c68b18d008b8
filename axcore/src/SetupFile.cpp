#include "axcore/SetupFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <nlohmann/json.hpp>

#include "axcore/Diagnostics.h"
#include "axcore/JsonInput.h"
#include "axcore/MessageText.h"
#include "axcore/Names.h"

namespace axcore {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "axsetup-1";

// An error while reading: the entry and the reason; the file is added by the caller.
struct Refusal {
  std::string text;
};

std::string Quoted(std::string_view s) { return QuoteForMessage(s); }

const char* KindName(ParameterKind kind) {
  switch (kind) {
    case ParameterKind::User: return "user";
    case ParameterKind::Motion: return "motion";
    case ParameterKind::Register: return "register";
    case ParameterKind::Constant: return "constant";
  }
  return "user";
}

bool ParseKind(std::string_view text, ParameterKind& kind) {
  for (ParameterKind k : {ParameterKind::User, ParameterKind::Motion, ParameterKind::Register, ParameterKind::Constant})
    if (text == KindName(k)) {
      kind = k;
      return true;
    }
  return false;
}

double FiniteNumber(const Json& node, const std::string& entry, const char* key) {
  if (!node.is_number()) throw Refusal{entry + ": " + Quoted(key) + " must be a number"};
  const double value = node.get<double>();
  if (!std::isfinite(value)) throw Refusal{entry + ": " + Quoted(key) + " must be a finite number"};
  return value;
}

std::string Text(const Json& node, const std::string& entry, const char* key) {
  if (!node.is_string()) throw Refusal{entry + ": " + Quoted(key) + " must be a text"};
  return node.get<std::string>();
}

const Json& Object(const Json& node, const std::string& entry) {
  if (!node.is_object()) throw Refusal{entry + " must be an object"};
  return node;
}

// The unit pair of a parameter or variable entry.
std::pair<std::string, std::string> Units(const Json& entry, const std::string& where) {
  std::string unit = entry.contains("unit") ? Text(entry["unit"], where, "unit") : std::string();
  std::string shown = entry.contains("shown") ? Text(entry["shown"], where, "shown") : unit;
  const CMC_Unit* base = CMC_Units::FindUnit(unit);
  if (base == nullptr) throw Refusal{where + ": unknown unit " + Quoted(unit)};
  if (!base->IsBase())
    throw Refusal{where + ": unit " + Quoted(unit) + " is not a base unit (values are stored in " +
                  Quoted(CMC_Units::BaseUnitOf(base->GetType())->GetName()) + ")"};
  const CMC_Unit* shownUnit = CMC_Units::FindUnit(shown);
  if (shownUnit == nullptr) throw Refusal{where + ": unknown unit " + Quoted(shown)};
  if (shownUnit->GetType() != base->GetType())
    throw Refusal{where + ": shown unit " + Quoted(shown) + " is not a unit of the same kind as " + Quoted(unit)};
  return {unit, shown};
}

std::string Extras(const Json& entry, std::initializer_list<const char*> known) {
  Json extra = Json::object();
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    bool isKnown = false;
    for (const char* k : known) isKnown = isKnown || it.key() == k;
    if (!isKnown) extra[it.key()] = it.value();
  }
  return extra.empty() ? std::string() : extra.dump();
}

void ReadParameters(const Json& node, CMC_Setup& setup) {
  Object(node, Quoted("parameters"));
  for (auto it = node.begin(); it != node.end(); ++it) {
    const std::string where = "parameter " + Quoted(it.key());
    const Json& entry = Object(it.value(), where);
    ParameterSpec spec;
    spec.name = it.key();
    std::tie(spec.unit, spec.shown) = Units(entry, where);
    if (entry.contains("kind") && !ParseKind(Text(entry["kind"], where, "kind"), spec.kind))
      throw Refusal{where + ": unknown kind " + Quoted(entry["kind"].get<std::string>()) +
                    " (user, motion, register or constant)"};
    if (entry.contains("int")) {
      if (!entry["int"].is_boolean()) throw Refusal{where + ": \"int\" must be true or false"};
      spec.isInt = entry["int"].get<bool>();
    }
    if (entry.contains("value")) spec.value = FiniteNumber(entry["value"], where, "value");
    if (entry.contains("min")) spec.min = FiniteNumber(entry["min"], where, "min");
    if (entry.contains("max")) spec.max = FiniteNumber(entry["max"], where, "max");
    if (setup.FindParameter(spec.name) != nullptr)
      throw Refusal{where + ": duplicate name (names ignore case) of parameter " +
                    Quoted(setup.FindParameter(spec.name)->GetName())};
    CMC_Parameter* p = setup.AddParameter(spec);
    p->SetExtraKeys(Extras(entry, {"value", "unit", "shown", "kind", "int", "min", "max"}));
  }
}

void ReadVariables(const Json& node, CMC_Setup& setup) {
  Object(node, Quoted("variables"));
  for (auto it = node.begin(); it != node.end(); ++it) {
    const std::string where = "variable " + Quoted(it.key());
    const Json& entry = Object(it.value(), where);
    auto [unit, shown] = Units(entry, where);
    const double value = entry.contains("value") ? FiniteNumber(entry["value"], where, "value") : 0.0;
    if (setup.FindVariable(it.key()) != nullptr)
      throw Refusal{where + ": duplicate name (names ignore case) of variable " +
                    Quoted(setup.FindVariable(it.key())->GetName())};
    CMC_Variable* v = setup.AddVariable(it.key(), unit, shown);
    v->SetValueInBaseUnit(value);
    v->SetExtraKeys(Extras(entry, {"value", "unit", "shown"}));
  }
}

void ReadOptions(const Json& node, CMC_Setup& setup) {
  Object(node, Quoted("options"));
  for (auto it = node.begin(); it != node.end(); ++it) {
    const std::string where = "option " + Quoted(it.key());
    if (!it.value().is_string()) throw Refusal{where + " must be a text"};
    if (setup.HasOption(it.key())) throw Refusal{where + ": duplicate name (names ignore case)"};
    setup.SetOption(it.key(), it.value().get<std::string>());
  }
}

std::unique_ptr<CMC_Setup> ReadDocument(const Json& doc) {
  Object(doc, "the document");
  if (!doc.contains("format")) throw Refusal{"missing \"format\" (expected " + Quoted(kFormat) + ")"};
  if (!doc["format"].is_string()) throw Refusal{"\"format\" must be the text " + Quoted(kFormat)};
  if (doc["format"].get<std::string>() != kFormat)
    throw Refusal{"\"format\": unsupported format " + Quoted(doc["format"].get<std::string>()) + " (expected " +
                  Quoted(kFormat) + ")"};
  auto setup = std::make_unique<CMC_Setup>();
  // The file is read quietly: a duplicate check must not count as a missing name.
  const int saved = g_bShowErrors;
  g_bShowErrors = 0;
  try {
    if (doc.contains("description")) setup->SetDescription(Text(doc["description"], "the document", "description"));
    if (doc.contains("product_id")) setup->SetProductID(Text(doc["product_id"], "the document", "product_id"));
    if (doc.contains("firmware_id")) setup->SetFirmwareID(Text(doc["firmware_id"], "the document", "firmware_id"));
    if (doc.contains("user_app_id")) setup->SetUserAppID(Text(doc["user_app_id"], "the document", "user_app_id"));
    if (doc.contains("e2rom_size")) {
      const double size = FiniteNumber(doc["e2rom_size"], "the document", "e2rom_size");
      if (size < 0 || size != std::floor(size) || size > 9.0e15)
        throw Refusal{"\"e2rom_size\" must be a whole number of bytes"};
      setup->SetE2ROMSize(static_cast<std::int64_t>(size));
    }
    if (doc.contains("options")) ReadOptions(doc["options"], *setup);
    if (doc.contains("parameters")) ReadParameters(doc["parameters"], *setup);
    if (doc.contains("variables")) ReadVariables(doc["variables"], *setup);
  } catch (...) {
    g_bShowErrors = saved;
    throw;
  }
  g_bShowErrors = saved;
  setup->SetExtraKeys(Extras(doc, {"format", "description", "product_id", "firmware_id", "user_app_id", "e2rom_size",
                                   "options", "parameters", "variables"}));
  return setup;
}

// Names the place of a key path the way the other messages do:
// parameter "KPI": "value", or "a"."b" outside the three collections.
std::string EntryOf(const std::vector<std::string>& path) {
  if (path.empty()) return "the document";
  const struct {
    const char* collection;
    const char* entry;
  } collections[] = {{"parameters", "parameter "}, {"variables", "variable "}, {"options", "option "}};
  if (path.size() >= 2)
    for (const auto& c : collections)
      if (path[0] == c.collection) {
        std::string where = c.entry + Quoted(path[1]);
        for (std::size_t i = 2; i < path.size(); ++i) where += (i == 2 ? ": " : ".") + Quoted(path[i]);
        return where;
      }
  std::string where;
  for (std::size_t i = 0; i < path.size(); ++i) where += (i ? "." : "") + Quoted(path[i]);
  return where;
}

Json NumberNode(double value) {
  // Whole numbers are written without a fraction; they read back exactly.
  if (std::floor(value) == value && std::fabs(value) < 9007199254740992.0)
    return Json(static_cast<std::int64_t>(value));
  return Json(value);
}

void AppendExtras(Json& entry, const std::string& extras) {
  if (extras.empty()) return;
  const Json parsed = Json::parse(extras);
  for (auto it = parsed.begin(); it != parsed.end(); ++it) entry[it.key()] = it.value();
}

SetupLoad ReadSetup(JsonInput input, std::string_view source) {
  SetupLoad result;
  if (!input.json) {
    result.error = std::move(input.error);
    return result;
  }
  const std::string prefix = OneLine(source) + ": ";
  try {
    result.setup = ReadDocument(*input.json);
  } catch (const nlohmann::json::exception& e) {
    result.error = prefix + "invalid document: " + OneLine(e.what());
  } catch (const Refusal& r) {
    result.error = prefix + r.text;
  }
  if (!result.error.empty()) result.setup.reset();
  return result;
}

}  // namespace

SetupLoad ParseSetup(std::string_view text, std::string_view source) {
  return ReadSetup(axcore::ParseJsonInput(text, source, EntryOf), source);
}

SetupLoad LoadSetupFile(const std::string& path) { return ReadSetup(axcore::LoadJsonFile(path, EntryOf), path); }

std::string SerializeSetup(const CMC_Setup& setup) {
  Json doc = Json::object();
  doc["format"] = kFormat;
  doc["description"] = setup.GetDescription();
  doc["product_id"] = setup.GetProductID();
  doc["firmware_id"] = setup.GetFirmwareID();
  doc["user_app_id"] = setup.GetUserAppID();
  doc["e2rom_size"] = setup.GetE2ROMSize();
  Json options = Json::object();
  for (const auto& [name, text] : setup.Options()) options[name] = text;
  doc["options"] = options;
  Json parameters = Json::object();
  for (const auto& p : setup.Parameters()) {
    Json entry = Json::object();
    entry["value"] = NumberNode(p->GetValueInBaseUnit());
    if (*p->GetUnit() != '\0') entry["unit"] = p->GetUnit();
    if (&p->GetShownUnit() != &p->GetBaseUnit()) entry["shown"] = p->GetShownUnit().GetName();
    if (p->GetKind() != ParameterKind::User) entry["kind"] = KindName(p->GetKind());
    if (p->IsInt()) entry["int"] = true;
    if (p->HasMin()) entry["min"] = NumberNode(p->GetMinInBaseUnit());
    if (p->HasMax()) entry["max"] = NumberNode(p->GetMaxInBaseUnit());
    AppendExtras(entry, p->GetExtraKeys());
    parameters[p->GetName()] = entry;
  }
  doc["parameters"] = parameters;
  Json variables = Json::object();
  for (const auto& v : setup.Variables()) {
    Json entry = Json::object();
    if (*v->GetUnit() != '\0') entry["unit"] = v->GetUnit();
    if (&v->GetShownUnit() != &v->GetBaseUnit()) entry["shown"] = v->GetShownUnit().GetName();
    if (v->GetValueInBaseUnit() != 0.0) entry["value"] = NumberNode(v->GetValueInBaseUnit());
    AppendExtras(entry, v->GetExtraKeys());
    variables[v->GetName()] = entry;
  }
  doc["variables"] = variables;
  AppendExtras(doc, setup.GetExtraKeys());
  return doc.dump(2) + "\n";
}

std::string SaveSetupFile(const CMC_Setup& setup, const std::string& path) {
  return ReplaceFile(path, SerializeSetup(setup));
}

}  // namespace axcore
