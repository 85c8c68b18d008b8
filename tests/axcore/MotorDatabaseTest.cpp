// Motor files: damage refuses a file whole with its reason, a record
// written reads back exactly, and where the user's motors live.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "axcore/MotorDatabase.h"
#include "support/HostRunner.h"

namespace {

using axcore::MotorRecord;

TEST(MotorFile, DamageRefusesTheWholeFileWithItsReason) {
  const std::pair<const char*, const char*> cases[] = {
      {R"([1])", "a motor file must be a JSON object"},
      {R"({"name": "A", "parameters": {}})", "\"format\" is missing"},
      {R"({"format": "axmotor-1", "name": "A\nB", "parameters": {}})", "control character"},
      {R"({"format": "axmotor-1", "name": "A"})", "\"parameters\" is missing"},
      {R"({"format": "axmotor-1", "name": "A", "parameters": {"R": {"value": "4.2"}}})", "must be a number"},
      {R"({"format": "axmotor-1", "name": "A", "parameters": {"R": {"value": 1, "unit": "Ohm"}}})", "unknown unit"},
      {R"({"format": "axmotor-1", "name": "A", "parameters": {"R": {"value": 1}, "r": {"value": 2}}})",
       "parameter \"r\" is named twice"},
      // Finite as written, beyond a double in the base unit.
      {R"({"format": "axmotor-1", "name": "A", "parameters": {"X": {"value": 1e308, "unit": "rot"}}})",
       "the value is beyond a number"},
  };
  for (const auto& [text, reason] : cases) {
    std::string error;
    EXPECT_FALSE(axcore::ParseMotorRecord(text, "m.json", error)) << text;
    EXPECT_EQ(error.rfind("m.json: ", 0), 0u) << error;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }
}

TEST(MotorFile, ARecordWrittenReadsBackExactlyInBaseUnits) {
  const MotorRecord record{"Achse \xC3\xBC \"7\"", "two\nlines", {{"R", 0.1 + 0.2, "ohm"}, {"N", 1, ""}}, ""};
  std::string error;
  const auto back = axcore::ParseMotorRecord(axcore::SerializeMotorRecord(record), "written", error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->name, record.name);
  EXPECT_EQ(back->description, record.description);
  ASSERT_EQ(back->values.size(), 2u);
  EXPECT_EQ(back->values[0].value, 0.1 + 0.2);
  EXPECT_EQ(back->values[1].unit, "");
  const auto typed = axcore::ParseMotorRecord(
      R"({"format": "axmotor-1", "name": "B", "parameters": {"EncRes": {"value": 20, "unit": "µm"}}})", "t", error);
  ASSERT_TRUE(typed) << error;
  EXPECT_DOUBLE_EQ(typed->Find("encres")->value, 20e-6);
  EXPECT_EQ(typed->Find("encres")->unit, "m");
}

// A file far longer than a motor's data sheet is refused whole, naming it,
// and read in linear time so that it cannot stall the dialog; the other
// motors stay usable.
TEST(MotorDatabase, AFileWithMoreParametersThanAMotorHasIsSkippedByName) {
  testing_support::TempDir dir{"axtest-motors"};
  std::string big = R"({"format": "axmotor-1", "name": "Big", "parameters": {)";
  for (std::size_t k = 0; k <= axcore::kMaxMotorParameters; ++k)
    big += (k ? ", \"P" : "\"P") + std::to_string(k) + R"(": {"value": 1})";
  std::ofstream(dir.path() / "big.json") << big << "}}";
  std::ofstream(dir.path() / "small.json") << R"({"format": "axmotor-1", "name": "Small", "parameters": {"R": {"value": 4.2, "unit": "ohm"}}})";
  const axcore::MotorDatabase db = axcore::MotorDatabase::Load(dir.path().string());
  ASSERT_EQ(db.Motors().size(), 1u);
  EXPECT_EQ(db.Motors()[0].name, "Small");
  ASSERT_EQ(db.Skipped().size(), 1u);
  EXPECT_EQ(db.Skipped()[0], (dir.path() / "big.json").string() + ": a motor file holds at most 1000 parameters, this one 1001");
}

TEST(MotorDatabase, TheUsersFolderFollowsTheDesktopsConfigurationHome) {
  const struct {
    const char* config;  // null: unset
    const char* home;
    const char* folder;
  } cases[] = {
      {"/cfg", "/home/u", "/cfg/axsetup/motors"},
      {"relative/cfg", "/home/u", "/home/u/.config/axsetup/motors"},  // not absolute: ignored
      {nullptr, "/home/u", "/home/u/.config/axsetup/motors"},
      {nullptr, nullptr, ""},
  };
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  for (const auto& c : cases) {
    c.config ? ::setenv("XDG_CONFIG_HOME", c.config, 1) : ::unsetenv("XDG_CONFIG_HOME");
    c.home ? ::setenv("HOME", c.home, 1) : ::unsetenv("HOME");
    EXPECT_EQ(axcore::UserMotorFolder(), c.folder) << (c.config ? c.config : "(unset)");
  }
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", home.c_str(), 1);
}

}  // namespace
