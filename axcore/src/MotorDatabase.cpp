#include "axcore/MotorDatabase.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <unordered_set>

#include "axcore/SetupFile.h"
#include "axcore/JsonInput.h"
#include "axcore/MessageText.h"
#include "axcore/Names.h"
#include "axcore/Units.h"

namespace axcore {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "axmotor-1";
constexpr std::size_t kMaxNameBytes = 256;  // 64 characters of any script

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return AsciiLower(x) < AsciiLower(y); });
}

// Whether `text` is well-formed UTF-8 (shortest forms, no surrogates).
bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t code = length == 1 ? c : c & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// Why a motor name cannot be one; empty when it can.
std::string BadName(std::string_view name) {
  if (name.empty()) return "the motor has no name";
  if (!IsUtf8(name)) return "the name is not UTF-8 text";
  if (name.size() > kMaxNameBytes) return "the name is longer than " + std::to_string(kMaxNameBytes) + " bytes";
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return "the name holds a control character";
  if (name.front() == ' ' || name.back() == ' ') return "the name begins or ends with a blank";
  return {};
}

// The record of a parsed document, or the reason it is refused.
std::string ReadRecord(const Json& doc, MotorRecord& record) {
  if (!doc.is_object()) return "a motor file must be a JSON object";
  bool hasFormat = false, hasParameters = false;
  for (auto it = doc.begin(); it != doc.end(); ++it) {
    const std::string& key = it.key();
    const Json& value = it.value();
    if (key == "format") {
      if (!value.is_string() || value.get<std::string>() != kFormat)
        return std::string("\"format\" must be \"") + kFormat + "\"";
      hasFormat = true;
    } else if (key == "name") {
      if (!value.is_string()) return "\"name\" must be a text";
      record.name = value.get<std::string>();
    } else if (key == "description") {
      if (!value.is_string()) return "\"description\" must be a text";
      record.description = value.get<std::string>();
    } else if (key == "parameters") {
      if (!value.is_object()) return "\"parameters\" must be an object";
      if (value.size() > kMaxMotorParameters)
        return "a motor file holds at most " + std::to_string(kMaxMotorParameters) + " parameters, this one " +
               std::to_string(value.size());
      hasParameters = true;
      // Names seen, case ignored: one lookup each keeps a long file linear.
      std::unordered_set<std::string_view, CaseInsensitiveHash, CaseInsensitiveEqual> seen;
      seen.reserve(value.size());
      for (auto entry = value.begin(); entry != value.end(); ++entry) {
        const std::string where = "parameter " + QuoteForMessage(entry.key());
        if (entry.key().empty()) return "a parameter has no name";
        if (!seen.insert(entry.key()).second) return where + " is named twice";
        const Json& node = entry.value();
        if (!node.is_object()) return where + " must be an object";
        std::optional<double> number;
        const CMC_Unit* unit = CMC_Units::FindUnit("");
        for (auto field = node.begin(); field != node.end(); ++field) {
          if (field.key() == "value") {
            if (!field.value().is_number()) return where + ": \"value\" must be a number";
            number = field.value().get<double>();
          } else if (field.key() == "unit") {
            if (!field.value().is_string()) return where + ": \"unit\" must be a text";
            unit = CMC_Units::FindUnit(field.value().get<std::string>());
            if (unit == nullptr) return where + ": unknown unit " + QuoteForMessage(field.value().get<std::string>());
          } else {
            return where + ": " + QuoteForMessage(field.key()) + " is not a key of a parameter";
          }
        }
        if (!number) return where + ": \"value\" is missing";
        const double base = *number * unit->GetFactorToBase();
        if (!std::isfinite(base)) return where + ": the value is beyond a number";
        record.values.push_back({entry.key(), base, CMC_Units::BaseUnitOf(unit->GetType())->GetName()});
      }
    } else {
      return QuoteForMessage(key) + " is not a key of a motor file";
    }
  }
  if (!hasFormat) return "\"format\" is missing";
  if (std::string bad = BadName(record.name); !bad.empty()) return bad;
  if (!hasParameters) return "\"parameters\" is missing";
  return {};
}

std::optional<MotorRecord> FromInput(JsonInput input, std::string_view source, std::string& error) {
  if (!input.json) {
    error = std::move(input.error);
    return std::nullopt;
  }
  MotorRecord record;
  if (std::string reason = ReadRecord(*input.json, record); !reason.empty()) {
    error = OneLine(source) + ": " + reason;
    return std::nullopt;
  }
  return record;
}

Json NumberNode(double value) {
  // Whole numbers are written without a fraction; they read back exactly.
  if (std::floor(value) == value && std::fabs(value) < 9007199254740992.0)
    return Json(static_cast<std::int64_t>(value));
  return Json(value);
}

}  // namespace

const MotorValue* MotorRecord::Find(std::string_view parameter) const {
  for (const MotorValue& v : values)
    if (EqualsIgnoreCase(v.parameter, parameter)) return &v;
  return nullptr;
}

std::optional<MotorRecord> ParseMotorRecord(std::string_view text, std::string_view source, std::string& error) {
  return FromInput(ParseJsonInput(text, source), source, error);
}

std::string SerializeMotorRecord(const MotorRecord& record) {
  // One line per parameter, as the data sheet lists them.
  std::string text = "{\n  \"format\": " + Json(kFormat).dump() + ",\n  \"name\": " + Json(record.name).dump() + ",\n";
  if (!record.description.empty()) text += "  \"description\": " + Json(record.description).dump() + ",\n";
  text += "  \"parameters\": {";
  const char* separator = "\n";
  for (const MotorValue& v : record.values) {
    text += separator;
    text += "    " + Json(v.parameter).dump() + ": {\"value\": " + NumberNode(v.value).dump();
    if (!v.unit.empty()) text += ", \"unit\": " + Json(v.unit).dump();
    text += "}";
    separator = ",\n";
  }
  text += record.values.empty() ? "}\n}\n" : "\n  }\n}\n";
  return text;
}

MotorDatabase MotorDatabase::Load(const std::string& folder) {
  MotorDatabase db;
  db.m_folder = folder;
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(folder, ec)) return db;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".json" && it->path().filename().string().front() != '.')
      files.push_back(it->path());
  if (ec) db.m_skipped.push_back(OneLine(folder) + ": cannot list the folder: " + ec.message());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::string error;
    auto record = FromInput(LoadJsonFile(file.string()), file.string(), error);
    if (!record) {
      db.m_skipped.push_back(error);
      continue;
    }
    if (const MotorRecord* earlier = db.Find(record->name); earlier != nullptr) {
      db.m_skipped.push_back(OneLine(file.string()) + ": the motor " + QuoteForMessage(record->name) +
                             " is already in " + OneLine(earlier->file));
      continue;
    }
    record->file = file.string();
    db.m_motors.push_back(std::move(*record));
  }
  db.Sort();
  return db;
}

const MotorRecord* MotorDatabase::Find(std::string_view name) const {
  for (const MotorRecord& record : m_motors)
    if (EqualsIgnoreCase(record.name, name)) return &record;
  return nullptr;
}

std::string MotorDatabase::Add(MotorRecord record) {
  if (std::string bad = BadName(record.name); !bad.empty()) return bad;
  if (Find(record.name) != nullptr) return "a motor named " + QuoteForMessage(record.name) + " is already there";
  if (m_folder.empty()) return "there is no folder for it: neither XDG_CONFIG_HOME nor HOME is set";
  std::error_code ec;
  fs::create_directories(m_folder, ec);
  if (ec) return "cannot make the folder " + OneLine(m_folder) + ": " + ec.message();
  // Names that differ only where the file name cannot follow them get a
  // number of their own.
  const std::string file = MotorFileName(record.name);
  const std::string stem = file.substr(0, file.size() - 5);
  fs::path path = fs::path(m_folder) / file;
  for (int n = 2; fs::exists(fs::symlink_status(path, ec)); ++n)
    path = fs::path(m_folder) / (stem + "-" + std::to_string(n) + ".json");
  if (std::string failure = ReplaceFile(path.string(), SerializeMotorRecord(record)); !failure.empty())
    return failure;
  record.file = path.string();
  m_motors.push_back(std::move(record));
  Sort();
  return {};
}

std::string MotorDatabase::Remove(std::string_view name) {
  auto it = std::find_if(m_motors.begin(), m_motors.end(),
                         [&](const MotorRecord& r) { return EqualsIgnoreCase(r.name, name); });
  if (it == m_motors.end()) return "no motor named " + QuoteForMessage(name);
  if (::unlink(it->file.c_str()) != 0 && errno != ENOENT)
    return "cannot delete " + OneLine(it->file) + ": " + std::strerror(errno);
  m_motors.erase(it);
  return {};
}

void MotorDatabase::Sort() {
  std::stable_sort(m_motors.begin(), m_motors.end(),
                   [](const MotorRecord& a, const MotorRecord& b) { return LessIgnoringCase(a.name, b.name); });
}

std::string UserMotorFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config != nullptr && config[0] == '/') {
    base = config;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    base = std::string(home) + "/.config";
  } else {
    return {};
  }
  return base + "/axsetup/motors";
}

std::string MotorFileName(std::string_view name) {
  std::string file;
  for (char c : name.substr(0, 64)) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '_' || c == '.';
    file += plain ? c : '_';
  }
  if (file.empty() || file.front() == '.') file.insert(0, "motor");
  return file + ".json";
}

}  // namespace axcore
