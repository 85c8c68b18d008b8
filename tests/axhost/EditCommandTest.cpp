// axhost edit as a user runs it: one script through the headless view and
// the Qt view (offscreen) gives the same transcript and the same setup; a
// script that cannot be carried out names its line, exits 2 and writes
// nothing; Cancel writes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "support/HostRunner.h"

namespace {

namespace fs = std::filesystem;
using testing_support::HostRun;
using testing_support::ReadFile;

class Edit : public ::testing::Test {
 protected:
  // The user's motor database is the test's own, and empty.
  void SetUp() override { ::setenv("XDG_CONFIG_HOME", files.path().c_str(), 1); }
  HostRun Axhost(const std::string& arguments) { return testing_support::RunAxhost(arguments, scratch.path()); }
  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path path = files.path() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

  testing_support::TempDir scratch{"axedit-scratch"};
  testing_support::TempDir files{"axedit-test"};
};

// Typing, a unit, a radio that greys a group, a check box, a combo with a
// warning, and the dump of what changed.
constexpr const char* kScript =
    "wait 150\n"
    "click 2               # the Motor Setup opens over the Drive Setup\n"
    "type 3173 1.5\n"
    "unit 3166 mV\n"
    "radio 1060            # speed mode\n"
    "check 3243 0\n"
    "select 3136 200\n"
    "dump 3173 3163 3166 3189 3190 3196 3244 3136\n"
    "click 1\n";

TEST_F(Edit, OneScriptGivesTheSameDialogsAndSetupOnBothViews) {
  const fs::path script = Write("steps.txt", kScript);
  const fs::path headless = files.path() / "headless.json", qt = files.path() / "qt.json";
  const HostRun a = Axhost("edit --headless --script " + Quoted(script) + " -o " + Quoted(headless));
  ASSERT_EQ(a.status, 0) << a.err;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);  // the Qt view without a display
  const HostRun b = Axhost("edit --script " + Quoted(script) + " -o " + Quoted(qt) + " --screenshot " +
                           Quoted(files.path() / "shots"));
  ASSERT_EQ(b.status, 0) << b.err;
  const auto transcript = [](const std::string& out) { return out.substr(0, out.rfind("setup written to")); };
  EXPECT_EQ(transcript(a.out), transcript(b.out));
  EXPECT_EQ(ReadFile(headless), ReadFile(qt));
  EXPECT_GT(fs::file_size(files.path() / "shots" / "106.png"), 10000u);
  EXPECT_NE(a.out.find("3173 edit shown=1 enabled=1 checked=0 \"1.49998\""), std::string::npos) << a.out;
  EXPECT_NE(a.out.find("3163 edit shown=1 enabled=1 checked=0 \"48000\""), std::string::npos) << a.out;
  EXPECT_NE(a.out.find("3190 edit shown=1 enabled=0"), std::string::npos) << a.out;
  EXPECT_NE(a.out.find("3196 edit shown=0"), std::string::npos) << a.out;
  EXPECT_NE(a.out.find("3244 edit shown=1 enabled=0"), std::string::npos) << a.out;
  EXPECT_NE(a.out.find("message: If your drive is set in CANopen mode"), std::string::npos) << a.out;
}

TEST_F(Edit, AScriptThatCannotBeCarriedOutExitsTwoAndWritesNothing) {
  struct Case {
    const char* script;
    const char* error;
  };
  const Case cases[] = {
      {"click 1\nfly\n", "line 2: unknown action \"fly\""},
      {"click 4242\n", "line 1: control 4242 is not in dialog 106"},
      {"click 3208\n", "line 1: button 3208 is disabled"},  // Setup, with no external reference
      {"type 3163 47\n", "the script ended while dialog 106 \"Drive Setup\" is open"},
  };
  const fs::path setup = files.path() / "drive.json";
  std::ofstream(setup) << Axhost("new").out;
  const std::string before = ReadFile(setup);
  for (const Case& c : cases) {
    const fs::path script = Write("bad.txt", c.script);
    const HostRun run = Axhost("edit --headless --script " + Quoted(script) + " " + Quoted(setup));
    EXPECT_EQ(run.status, 2) << c.script;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(ReadFile(setup), before) << c.script;
  }
  const HostRun cancelled = Axhost("edit --headless --script " + Quoted(Write("c.txt", "type 3163 47\nclick 2\n")) +
                                   " " + Quoted(setup));
  EXPECT_EQ(cancelled.status, 0) << cancelled.err;
  EXPECT_EQ(cancelled.out, "cancelled: nothing was saved\n");
  EXPECT_EQ(ReadFile(setup), before);
}

}  // namespace
