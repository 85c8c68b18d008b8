// The Motor Setup dialog through axhost edit as a user meets it: it opens
// by itself over the Drive Setup, and one script gives the same transcript
// and the same setup on the headless view and on the Qt view (offscreen).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/HostRunner.h"

namespace {

namespace fs = std::filesystem;
using testing_support::HostRun;
using testing_support::ReadFile;

// A catalogue motor, a current typed over it, an interpolation level, a
// rotary load, no temperature sensor, a name the catalogue already has;
// OK in both dialogs.
constexpr const char* kScript =
    "wait 150              # the Motor Setup opens by itself\n"
    "select 10011 AXL-F32-3\n"
    "type 1159 2.5\n"
    "select 1197 64\n"
    "radio 1194\n"
    "check 1183 0\n"
    "dump 1159 1165 1166 1197 3353 1192 1184 10014 3385 3408\n"
    "click 10012\n"
    "click 1\n"
    "click 1\n";

TEST(MotorSetupEdit, OneScriptGivesTheSameDialogsAndSetupOnBothViews) {
  testing_support::TempDir files("axmotoredit");
  testing_support::TempDir scratch("axmotoredit-scratch");
  ::setenv("XDG_CONFIG_HOME", files.path().c_str(), 1);  // an empty user database
  std::ofstream(files.path() / "steps.txt") << kScript;
  const fs::path headless = files.path() / "headless.json", qt = files.path() / "qt.json";
  auto quoted = [](const fs::path& path) { return "'" + path.string() + "'"; };
  const HostRun a = testing_support::RunAxhost(
      "edit --headless --script " + quoted(files.path() / "steps.txt") + " -o " + quoted(headless), scratch.path());
  ASSERT_EQ(a.status, 0) << a.err;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const HostRun b = testing_support::RunAxhost("edit --script " + quoted(files.path() / "steps.txt") + " -o " +
                                                   quoted(qt) + " --screenshot " + quoted(files.path() / "shots"),
                                               scratch.path());
  ASSERT_EQ(b.status, 0) << b.err;
  const auto transcript = [](const std::string& out) { return out.substr(0, out.rfind("setup written to")); };
  EXPECT_EQ(transcript(a.out), transcript(b.out));
  EXPECT_EQ(ReadFile(headless), ReadFile(qt));
  EXPECT_GT(fs::file_size(files.path() / "shots" / "108.png"), 10000u);
  for (const char* line : {"1166 edit shown=1 enabled=1 checked=0 \"28\"",  // the catalogue's force constant
                           "3353 edit shown=1 enabled=0 checked=0 \"0.3125\"",  // 20 µm / 64
                           "1192 unit shown=1 enabled=1 checked=0 \"rot\"",
                           "message: A motor named \"AXL-F32-3\" is already in the CATALOGUE database."})
    EXPECT_NE(a.out.find(line), std::string::npos) << line << "\n" << a.out;
  // OK of the Motor Setup: no over-temperature protection without a sensor.
  EXPECT_NE(ReadFile(headless).find("\"isMotorOverTemp\": {\n      \"value\": 0"), std::string::npos);
  EXPECT_FALSE(fs::exists(files.path() / "axsetup"));  // nothing was saved
}

}  // namespace
