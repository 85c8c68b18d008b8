// axhost edit through the Advanced and the Drive info dialogs: one script per
// dialog gives the same transcript and the same setup on the headless and on
// the Qt view (offscreen); the service chord reaches Drive info through the
// Qt keyboard handling.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/HostRunner.h"

namespace {

namespace fs = std::filesystem;
using testing_support::HostRun;
using testing_support::ReadFile;

const struct {
  const char* script;  // after the Motor Setup dialog, which opens by itself, is closed
  int dialog;
  const char* shown[3];
} kCases[] = {
    {"click 3158\ntype 1129 10\ndump 1132 1135 1141\n"
     "type 1135 2\ndump 1149\nclick 1  # 200 µs: below the slow loop's minimum\ntype 1135 5\nclick 1\nclick 1\n",
     110,
     {"1132 edit shown=1 enabled=1 checked=0 \"1\"\n1135 edit shown=1 enabled=1 checked=0 \"5\"\n"
      "1141 edit shown=1 enabled=0 checked=0 \"100\"",
      "1149 label shown=1 enabled=1 checked=0 \"OUTSIDE LIMITS ->\"",
      "message: The minimum value for Slow loop sampling period is 0.250 ms!"}},
    {"click 3159\ndump 3276\nkey ctrl+alt+shift+e\ndump 3276\ntype 3276 16\n"
     "type 3114 axis 7 of the winding line, station north\nclick 1\nclick 1\n",
     3018,
     {"3276 edit shown=1 enabled=0 checked=0 \"8\"", "3276 edit shown=1 enabled=1 checked=0 \"8\"",
      "\"e2rom_size\": 16384"}},
};

TEST(EditChildDialogs, OneScriptGivesTheSameDialogsAndSetupOnBothViews) {
  testing_support::TempDir scratch{"axchild-scratch"}, files{"axchild-test"};
  const auto quoted = [](const fs::path& path) { return "'" + path.string() + "'"; };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.dialog);
    const fs::path script = files.path() / "steps.txt";
    std::ofstream(script, std::ios::binary) << "wait 300\nclick 2\n" << c.script;
    const fs::path headless = files.path() / "headless.json", qt = files.path() / "qt.json";
    const HostRun a = testing_support::RunAxhost(
        "edit --headless --script " + quoted(script) + " -o " + quoted(headless), scratch.path());
    ASSERT_EQ(a.status, 0) << a.err;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);  // the Qt view without a display
    const HostRun b = testing_support::RunAxhost("edit --script " + quoted(script) + " -o " + quoted(qt) +
                                                     " --screenshot " + quoted(files.path() / "shots"),
                                                 scratch.path());
    ASSERT_EQ(b.status, 0) << b.err;
    const auto transcript = [](const std::string& out) { return out.substr(0, out.rfind("setup written to")); };
    EXPECT_EQ(transcript(a.out), transcript(b.out));
    EXPECT_EQ(ReadFile(headless), ReadFile(qt));
    EXPECT_GT(fs::file_size(files.path() / "shots" / (std::to_string(c.dialog) + ".png")), 10000u);
    for (const char* line : c.shown)
      EXPECT_NE((a.out + ReadFile(qt)).find(line), std::string::npos) << line << "\n" << a.out;
  }
}

}  // namespace
