// Reading the JSON files users hand the host and the virtual drive (setup
// files, plant files): one reader, so that each kind refuses the same damage
// with the same one-line messages.
//
// A file is read only when it is a regular file of at most 64 MiB: a device
// would be read until memory runs out, a FIFO would block for ever. The text
// is then parsed strictly: nesting deeper than 64 levels (values this deep
// would exhaust the stack when copied, printed or destroyed), a key repeated
// in one object (the JSON library would keep only the last) and a number too
// large for a double are refused while parsing, before any deep or partial
// value is built.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace axcore {

inline constexpr std::uint64_t kMaxInputFileBytes = 64u << 20;
inline constexpr int kMaxJsonDepth = 64;

// Names the entry at a path of keys for an error message, such as
// parameter "KPI": "value"; empty for the document itself. The default joins
// the quoted keys with '.'.
using JsonEntryNamer = std::function<std::string(const std::vector<std::string>& keys)>;

struct JsonInput {
  std::optional<nlohmann::ordered_json> json;  // empty on failure
  // On failure one line: "SOURCE: ENTRY: reason", or "SOURCE: reason" when
  // the fault is not inside an entry.
  std::string error;
};

// Reads the regular file at `path` into `text`. Empty on success, else the
// reason, such as "cannot read: is a directory".
std::string ReadInputFile(const std::string& path, std::string& text);

// Why a file of this mode is not one the host reads or replaces: "is a
// directory", "not a regular file (a FIFO)" ...; empty for a regular file.
std::string NotARegularFile(mode_t mode);

// `source` names the text in errors: the file's path, or what it is.
JsonInput ParseJsonInput(std::string_view text, std::string_view source, const JsonEntryNamer& nameEntry = {});
JsonInput LoadJsonFile(const std::string& path, const JsonEntryNamer& nameEntry = {});

// A number read from a file becomes an integer only through this check: a
// JSON number (integer, or a double with no fraction) from `minimum` to
// `maximum`. False for anything else, 3e9 for an int, NaN and a text
// included, so that no out-of-range double is ever converted.
bool JsonWholeNumber(const nlohmann::ordered_json& value, long long minimum, long long maximum, long long& number);
bool JsonWholeNumber(const nlohmann::json& value, long long minimum, long long maximum, long long& number);

}  // namespace axcore
