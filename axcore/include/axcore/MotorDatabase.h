// Motor databases of the host's motor editor: a folder of JSON files, one
// motor per file, read whole or not at all.
//
// Two databases exist: the catalogue a module ships in its resources
// (`motors/` of its resource folder, read-only) and the user's own, in
// $XDG_CONFIG_HOME/axsetup/motors (or ~/.config/axsetup/motors). A motor
// file:
//
//   { "format": "axmotor-1",
//     "name": "AXL-F32-3",
//     "description": "iron-core flat motor, 32 mm pole pitch",
//     "parameters": {
//       "In":        { "value": 3, "unit": "A" },
//       "PolePitch": { "value": 32, "unit": "mm" },
//       "MotorPhaseConnectionType": { "value": 0 } } }
//
// A value is given in any unit of the units catalogue and kept in the base
// unit of that unit's type; a parameter without "unit" is a plain number.
// A file is refused whole for anything the host reader refuses
// (axcore/JsonInput.h), another format, a missing or empty name, a name with
// control characters, an unknown key or unit, a value that is no finite
// number, or a parameter named twice (ASCII case ignored). Refused files are
// skipped and named; a motor is never loaded in part.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace axcore {

// One motor parameter: its setup name and its value in the base unit of its
// unit's type ("" for a plain number).
struct MotorValue {
  std::string parameter;
  double value = 0.0;
  std::string unit;
};

// A motor file names at most this many parameters: a setup holds some
// three hundred, of which a motor's data sheet fills about fifteen, so a
// file with more is not a motor's record (and is refused whole, naming it,
// while the rest of the database stays usable).
inline constexpr std::size_t kMaxMotorParameters = 1000;

struct MotorRecord {
  std::string name;         // unique in its database, ASCII case ignored
  std::string description;  // may be empty
  std::vector<MotorValue> values;
  std::string file;  // the file it was read from or written to

  const MotorValue* Find(std::string_view parameter) const;
};

// The record of a motor file's text; on a refused text nothing, with the
// reason in `error` (one line naming `source`).
std::optional<MotorRecord> ParseMotorRecord(std::string_view text, std::string_view source, std::string& error);
// The file text of a record, values in their base units.
std::string SerializeMotorRecord(const MotorRecord& record);

class MotorDatabase {
 public:
  MotorDatabase() = default;
  // Every "*.json" file of `folder`, in file name order; a folder that does
  // not exist is an empty database. A motor whose name an earlier file took
  // is skipped like a damaged file.
  static MotorDatabase Load(const std::string& folder);

  const std::string& Folder() const { return m_folder; }
  // Sorted by name, ASCII case ignored.
  const std::vector<MotorRecord>& Motors() const { return m_motors; }
  // One line per file left out: "PATH: reason".
  const std::vector<std::string>& Skipped() const { return m_skipped; }
  const MotorRecord* Find(std::string_view name) const;

  // Writes `record` to a new file of the folder (made when missing) and adds
  // it. Empty on success, else the reason; nothing is added then. The name
  // must be new to this database.
  std::string Add(MotorRecord record);
  // Deletes the motor's file and the motor. Empty on success, else the reason.
  std::string Remove(std::string_view name);

 private:
  void Sort();

  std::string m_folder;
  std::vector<MotorRecord> m_motors;
  std::vector<std::string> m_skipped;
};

// The user's motor folder: $XDG_CONFIG_HOME/axsetup/motors when that
// variable holds an absolute path, else $HOME/.config/axsetup/motors; empty
// when neither is known.
std::string UserMotorFolder();

// A file name for a motor: its name with every character but letters,
// digits, '-', '_' and '.' turned into '_', at most 64 characters, ".json"
// added; never hidden, never empty.
std::string MotorFileName(std::string_view name);

}  // namespace axcore
