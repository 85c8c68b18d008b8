#include "axcore/DialogTemplate.h"

#include <set>

#include "axcore/JsonInput.h"
#include "axcore/MessageText.h"

namespace axcore {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::pair<ControlKind, const char*> kKindNames[] = {
    {ControlKind::Group, "group"},   {ControlKind::Label, "label"},   {ControlKind::Text, "text"},
    {ControlKind::Edit, "edit"},     {ControlKind::UnitCombo, "unit"}, {ControlKind::Radio, "radio"},
    {ControlKind::Check, "check"},   {ControlKind::Combo, "combo"},   {ControlKind::Button, "button"},
    {ControlKind::Slider, "slider"}, {ControlKind::Spin, "spin"},     {ControlKind::Tab, "tab"},
    {ControlKind::Image, "image"},   {ControlKind::Plot, "plot"},
};

struct Refusal {
  std::string text;
};

int Integer(const Json& node, const std::string& where, const char* key, int minimum, int maximum) {
  if (!node.is_number_integer())
    throw Refusal{where + ": " + QuoteForMessage(key) + " must be a whole number"};
  const auto value = node.get<long long>();
  if (value < minimum || value > maximum)
    throw Refusal{where + ": " + QuoteForMessage(key) + " must be from " + std::to_string(minimum) + " to " +
                  std::to_string(maximum)};
  return static_cast<int>(value);
}

std::string Text(const Json& node, const std::string& where, const char* key) {
  if (!node.is_string()) throw Refusal{where + ": " + QuoteForMessage(key) + " must be a text"};
  return node.get<std::string>();
}

bool Flag(const Json& node, const std::string& where, const char* key) {
  if (!node.is_boolean()) throw Refusal{where + ": " + QuoteForMessage(key) + " must be true or false"};
  return node.get<bool>();
}

ControlTemplate ReadControl(const Json& node, std::size_t index) {
  std::string where = "control " + std::to_string(index + 1);
  if (!node.is_object()) throw Refusal{where + " must be an object"};
  ControlTemplate control;
  if (!node.contains("id")) throw Refusal{where + ": \"id\" is missing"};
  control.id = Integer(node["id"], where, "id", 1, 65535);
  where = "control " + std::to_string(control.id);
  if (!node.contains("kind")) throw Refusal{where + ": \"kind\" is missing"};
  const std::string kind = Text(node["kind"], where, "kind");
  const auto parsed = ParseControlKind(kind);
  if (!parsed) throw Refusal{where + ": unknown kind " + QuoteForMessage(kind)};
  control.kind = *parsed;
  for (auto it = node.begin(); it != node.end(); ++it) {
    const std::string& key = it.key();
    const Json& value = it.value();
    if (key == "id" || key == "kind") continue;
    if (key == "text") {
      control.text = Text(value, where, "text");
    } else if (key == "in") {
      control.parent = Integer(value, where, "in", 0, 65535);
    } else if (key == "page") {
      control.page = Integer(value, where, "page", 0, 63);
    } else if (key == "at") {
      if (!value.is_array() || (value.size() != 2 && value.size() != 4))
        throw Refusal{where + ": \"at\" must be [row, column] or [row, column, rows, columns]"};
      control.row = Integer(value[0], where, "at", 0, 199);
      control.column = Integer(value[1], where, "at", 0, 199);
      if (value.size() == 4) {
        control.rows = Integer(value[2], where, "at", 1, 200);
        control.columns = Integer(value[3], where, "at", 1, 200);
      }
    } else if (key == "disabled") {
      control.enabled = !Flag(value, where, "disabled");
    } else if (key == "hidden") {
      control.shown = !Flag(value, where, "hidden");
    } else if (key == "image") {
      control.image = Text(value, where, "image");
    } else if (key == "width") {
      control.width = Integer(value, where, "width", 0, 400);
    } else if (key == "lines") {
      control.lines = Integer(value, where, "lines", 0, 200);
    } else {
      throw Refusal{where + ": " + QuoteForMessage(key) + " is not a key of a control"};
    }
  }
  return control;
}

DialogTemplate Read(const Json& json) {
  if (!json.is_object()) throw Refusal{"a dialog template must be a JSON object"};
  DialogTemplate dialog;
  bool hasControls = false;
  for (auto it = json.begin(); it != json.end(); ++it) {
    const std::string& key = it.key();
    const Json& value = it.value();
    if (key == "format") {
      if (value != "axdialog-1") throw Refusal{"\"format\" must be \"axdialog-1\""};
    } else if (key == "id") {
      dialog.id = Integer(value, "the dialog", "id", 1, 65535);
    } else if (key == "caption") {
      dialog.caption = Text(value, "the dialog", "caption");
    } else if (key == "pages") {
      if (!value.is_object()) throw Refusal{"\"pages\" must map tab control ids to lists of page titles"};
      for (auto page = value.begin(); page != value.end(); ++page) {
        std::vector<std::string> titles;
        if (!page.value().is_array()) throw Refusal{"\"pages\": " + QuoteForMessage(page.key()) + " must be a list"};
        for (const Json& title : page.value()) titles.push_back(Text(title, "\"pages\"", "title"));
        int id = 0;
        try {
          id = std::stoi(page.key());
        } catch (...) {
          throw Refusal{"\"pages\": " + QuoteForMessage(page.key()) + " is no control id"};
        }
        dialog.pages.emplace_back(id, std::move(titles));
      }
    } else if (key == "controls") {
      if (!value.is_array()) throw Refusal{"\"controls\" must be a list"};
      hasControls = true;
      std::set<int> ids;
      for (std::size_t i = 0; i < value.size(); ++i) {
        ControlTemplate control = ReadControl(value[i], i);
        if (!ids.insert(control.id).second)
          throw Refusal{"control " + std::to_string(control.id) + ": the id is used twice"};
        dialog.controls.push_back(std::move(control));
      }
    } else {
      throw Refusal{QuoteForMessage(key) + " is not a key of a dialog template"};
    }
  }
  if (dialog.id == 0) throw Refusal{"\"id\" is missing"};
  if (!hasControls) throw Refusal{"\"controls\" is missing"};
  for (const ControlTemplate& control : dialog.controls) {
    if (control.parent == 0) continue;
    const ControlTemplate* parent = dialog.Find(control.parent);
    if (parent == nullptr || (parent->kind != ControlKind::Group && parent->kind != ControlKind::Tab))
      throw Refusal{"control " + std::to_string(control.id) + ": \"in\" " + std::to_string(control.parent) +
                    " is no group box or tab control of this dialog"};
  }
  return dialog;
}

}  // namespace

const char* ControlKindName(ControlKind kind) {
  for (const auto& [k, name] : kKindNames)
    if (k == kind) return name;
  return "?";
}

std::optional<ControlKind> ParseControlKind(std::string_view name) {
  for (const auto& [kind, text] : kKindNames)
    if (name == text) return kind;
  return std::nullopt;
}

const ControlTemplate* DialogTemplate::Find(int id) const {
  for (const ControlTemplate& control : controls)
    if (control.id == id) return &control;
  return nullptr;
}

std::optional<DialogTemplate> ParseDialogTemplate(std::string_view text, std::string_view source, std::string& error) {
  JsonInput input = ParseJsonInput(text, source);
  if (!input.json) {
    error = input.error;
    return std::nullopt;
  }
  try {
    return Read(*input.json);
  } catch (const Refusal& refusal) {
    error = OneLine(source) + ": " + refusal.text;
    return std::nullopt;
  }
}

}  // namespace axcore
