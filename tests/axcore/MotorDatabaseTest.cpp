// Motor files: what a file holds in base units, what damage refuses it
// whole, a record written and read back unchanged, and where the user's
// motors live.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "axcore/MotorDatabase.h"
#include "support/HostRunner.h"

namespace {

using axcore::MotorRecord;

TEST(MotorFile, ValuesAreKeptInTheBaseUnitOfTheirType) {
  std::string error;
  const auto record = axcore::ParseMotorRecord(
      R"({"format": "axmotor-1", "name": "LMX-1", "description": "flat", "parameters": {
          "PolePitch": {"value": 32, "unit": "mm"}, "EncRes": {"unit": "µm", "value": 20},
          "L": {"value": 3.5, "unit": "mH"}, "isMotorMassUnknown": {"value": 0}}})",
      "lmx.json", error);
  ASSERT_TRUE(record) << error;
  EXPECT_EQ(record->name, "LMX-1");
  EXPECT_EQ(record->description, "flat");
  const struct {
    const char* name;
    double value;
    const char* unit;
  } expected[] = {{"polepitch", 0.032, "m"}, {"EncRes", 20e-6, "m"}, {"L", 3.5e-3, "H"}, {"isMotorMassUnknown", 0, ""}};
  for (const auto& e : expected) {
    const axcore::MotorValue* v = record->Find(e.name);
    ASSERT_NE(v, nullptr) << e.name;
    EXPECT_DOUBLE_EQ(v->value, e.value) << e.name;
    EXPECT_EQ(v->unit, e.unit) << e.name;
  }
}

TEST(MotorFile, DamageRefusesTheWholeFileWithItsReason) {
  const struct {
    const char* text;
    const char* reason;
  } cases[] = {
      {R"({"format": "axmotor-1", "name": "A", "parameters": {"R": {"value": 1}})", "motor.json:"},  // cut short
      {R"([1, 2])", "a motor file must be a JSON object"},
      {R"({"name": "A", "parameters": {}})", "\"format\" is missing"},
      {R"({"format": "axsetup-1", "name": "A", "parameters": {}})", "\"format\" must be \"axmotor-1\""},
      {R"({"format": "axmotor-1", "parameters": {}})", "the motor has no name"},
      {R"({"format": "axmotor-1", "name": "", "parameters": {}})", "the motor has no name"},
      {R"({"format": "axmotor-1", "name": "A\nB", "parameters": {}})", "control character"},
      {R"({"format": "axmotor-1", "name": " A", "parameters": {}})", "begins or ends with a blank"},
      {R"({"format": "axmotor-1", "name": "A"})", "\"parameters\" is missing"},
      {R"({"format": "axmotor-1", "name": "A", "parameters": [], "x": 1})", "\"parameters\" must be an object"},
      {R"({"format": "axmotor-1", "name": "A", "parameters": {}, "maker": "x"})", "\"maker\" is not a key"},
      {R"({"format": "axmotor-1", "name": "A", "parameters": {"R": {"value": "4.2"}}})",
       "parameter \"R\": \"value\" must be a number"},
      {R"({"format": "axmotor-1", "name": "A", "parameters": {"R": {"unit": "ohm"}}})", "\"value\" is missing"},
      {R"({"format": "axmotor-1", "name": "A", "parameters": {"R": {"value": 1, "unit": "Ohm"}}})",
       "unknown unit \"Ohm\""},
      {R"({"format": "axmotor-1", "name": "A", "parameters": {"R": {"value": 1, "min": 0}}})",
       "\"min\" is not a key of a parameter"},
      {R"({"format": "axmotor-1", "name": "A", "parameters": {"R": {"value": 1}, "r": {"value": 2}}})",
       "parameter \"r\" is named twice"},
      {R"({"format": "axmotor-1", "name": "A", "parameters": {"R": 4.2}})", "parameter \"R\" must be an object"},
      // Beyond a double once in the base unit: 1e308 turns in radians.
      {R"({"format": "axmotor-1", "name": "A", "parameters": {"Load_transmission": {"value": 1e308, "unit": "rot"}}})",
       "the value is beyond a number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_FALSE(axcore::ParseMotorRecord(c.text, "motor.json", error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(error.rfind("motor.json", 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(MotorFile, ARecordWrittenReadsBackTheSame) {
  MotorRecord record;
  record.name = "Achse \xC3\xBC \"7\"";
  record.description = "two lines\nof text";
  record.values = {{"R", 0.1 + 0.2, "ohm"}, {"L", 3.3e-3, "H"}, {"In", 4, "A"}, {"ReverseCounting", 1, ""}};
  std::string error;
  const auto back = axcore::ParseMotorRecord(axcore::SerializeMotorRecord(record), "written", error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->name, record.name);
  EXPECT_EQ(back->description, record.description);
  ASSERT_EQ(back->values.size(), record.values.size());
  for (std::size_t i = 0; i < record.values.size(); ++i) {
    EXPECT_EQ(back->values[i].parameter, record.values[i].parameter);
    EXPECT_EQ(back->values[i].value, record.values[i].value);  // exactly, not nearly
    EXPECT_EQ(back->values[i].unit, record.values[i].unit);
  }
}

TEST(MotorDatabase, AddAndRemoveKeepOneFilePerMotor) {
  testing_support::TempDir folder("axmotordb");
  const std::string path = (folder.path() / "user" / "motors").string();
  auto db = axcore::MotorDatabase::Load(path);  // not there yet: empty
  EXPECT_TRUE(db.Motors().empty());
  EXPECT_TRUE(db.Skipped().empty());
  MotorRecord a{"a b", "", {{"R", 1, "ohm"}}, ""};
  MotorRecord b{"a/b", "", {{"R", 2, "ohm"}}, ""};
  EXPECT_EQ(db.Add(a), "");
  EXPECT_EQ(db.Add(b), "");  // the same file name: numbered
  EXPECT_NE(db.Add(MotorRecord{"A B", "", {}, ""}).find("already there"), std::string::npos);
  EXPECT_NE(db.Add(MotorRecord{"", "", {}, ""}).find("no name"), std::string::npos);
  EXPECT_NE(db.Add(MotorRecord{"\xFF", "", {}, ""}).find("not UTF-8"), std::string::npos);
  const auto reread = axcore::MotorDatabase::Load(path);
  ASSERT_EQ(reread.Motors().size(), 2u);
  EXPECT_EQ(reread.Find("A/B")->values.at(0).value, 2);
  EXPECT_EQ(reread.Find("a b")->file, path + "/a_b.json");
  EXPECT_EQ(reread.Find("a/b")->file, path + "/a_b-2.json");
  EXPECT_EQ(db.Remove("A B"), "");
  EXPECT_NE(db.Remove("A B"), "");
  EXPECT_EQ(axcore::MotorDatabase::Load(path).Motors().size(), 1u);
}

TEST(MotorDatabase, FileNamesAndTheUsersFolder) {
  const struct {
    const char* name;
    const char* file;
  } names[] = {{"LMF-32-3", "LMF-32-3.json"}, {"Axis X / 2", "Axis_X___2.json"}, {".x", "motor.x.json"},
               {"\xC3\xBC", "__.json"}};
  for (const auto& n : names) EXPECT_EQ(axcore::MotorFileName(n.name), n.file) << n.name;

  const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
  const char* savedHome = std::getenv("HOME");
  const std::optional<std::string> config = savedConfig ? std::optional<std::string>(savedConfig) : std::nullopt;
  const std::optional<std::string> home = savedHome ? std::optional<std::string>(savedHome) : std::nullopt;
  const struct {
    const char* config;  // null: unset
    const char* home;
    const char* folder;
  } cases[] = {
      {"/cfg", "/home/u", "/cfg/axsetup/motors"},
      {"relative/cfg", "/home/u", "/home/u/.config/axsetup/motors"},  // not absolute: ignored
      {"", "/home/u", "/home/u/.config/axsetup/motors"},
      {nullptr, "/home/u", "/home/u/.config/axsetup/motors"},
      {nullptr, nullptr, ""},
  };
  for (const auto& c : cases) {
    c.config ? ::setenv("XDG_CONFIG_HOME", c.config, 1) : ::unsetenv("XDG_CONFIG_HOME");
    c.home ? ::setenv("HOME", c.home, 1) : ::unsetenv("HOME");
    EXPECT_EQ(axcore::UserMotorFolder(), c.folder) << (c.config ? c.config : "(unset)");
  }
  config ? ::setenv("XDG_CONFIG_HOME", config->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
  home ? ::setenv("HOME", home->c_str(), 1) : ::unsetenv("HOME");
}

}  // namespace
