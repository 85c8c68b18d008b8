// axhost run as a user runs it: exit status, standard output, standard error.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "axcore/SetupFile.h"
#include "support/HostRunner.h"
#include "support/TestSetup.h"

namespace {

namespace fs = std::filesystem;

using testing_support::HostRun;
using testing_support::ReadFile;

class Host : public ::testing::Test {
 protected:
  HostRun Axhost(const std::string& arguments) { return testing_support::RunAxhost(arguments, scratch.path()); }

  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  testing_support::TempDir scratch{"axhost-scratch"};
  testing_support::TempDir files{"axhost-test"};
  const fs::path& dir = files.path();
};

TEST_F(Host, ScalePrintsFactorAndOffsetForScripts) {
  HostRun run = Axhost("scale m APOS_MT");
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream fields(run.out);
  double factor = 0, offset = 1;
  fields >> factor >> offset;
  EXPECT_EQ(factor, 1.0 / 12800000.0) << run.out;  // 17 digits read back exactly
  EXPECT_EQ(offset, 0.0);
  EXPECT_EQ(run.out.back(), '\n');
  EXPECT_EQ(run.err, "");
}

TEST_F(Host, ShowPrintsTheChosenParametersOrFailsOnAMissingOne) {
  HostRun run = Axhost("show KPI EncRes");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("name", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\nKPI "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nEncRes "), std::string::npos) << run.out;
  HostRun missing = Axhost("show KPI NoSuchThing \"$(printf 'A\\nB')\"");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "error: embedded linear-drive example: no parameters \"NoSuchThing\", \"A\\nB\" in this setup\n");
  EXPECT_NE(missing.out.find("\nKPI "), std::string::npos) << "the parameters found are shown";
}

TEST_F(Host, NewPrintsExamplesThatShowReadsBack) {
  for (const char* variant : {"", " --basic"}) {
    HostRun made = Axhost(std::string("new") + variant);
    ASSERT_EQ(made.status, 0) << made.err;
    const fs::path file = Write("made.json", made.out);
    HostRun shown = Axhost("show '" + file.string() + "'");
    EXPECT_EQ(shown.status, 0) << variant << ": " << shown.err;
    EXPECT_EQ(shown.err, "") << variant << ": every name the scales read is in the example";
  }
}

TEST_F(Host, MalformedFilesAreRefusedWithOneLineAndStatus2) {
  const struct {
    const char* name;
    const char* text;
    const char* reason;
  } cases[] = {
      {"bad.json", "{ \"format\": ", "invalid JSON"},
      {"case.json", R"({"format":"axsetup-1","parameters":{"KPI":{},"kpi":{}}})", "duplicate name"},
      {"unit.json", R"({"format":"axsetup-1","parameters":{"KPI":{"unit":"Volt"}}})", "unknown unit \"Volt\""},
      {"kind.json", R"({"format":"axsetup-1","parameters":{"KPI":{"kind":"reg"}}})", "unknown kind \"reg\""},
      {"string.json", R"({"format":"axsetup-1","parameters":{"KPI":{"value":"1"}}})", "must be a number"},
      {"newline.json", R"({"format":"axsetup-1","parameters":{"K\nerror: forged":{"unit":"Volt"}}})",
       "parameter \"K\\nerror: forged\": unknown unit"},
  };
  for (const auto& c : cases) {
    const fs::path file = Write(c.name, c.text);
    const auto before = fs::last_write_time(file);
    HostRun run = Axhost("show '" + file.string() + "'");
    EXPECT_EQ(run.status, 2) << c.name;
    EXPECT_EQ(run.out, "") << c.name;
    EXPECT_EQ(run.err.rfind("error: " + file.string() + ": ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(ReadFile(file), c.text) << "the input is never touched";
    EXPECT_EQ(fs::last_write_time(file), before);
  }
  std::size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) entries += e.path().extension() == ".json";
  EXPECT_EQ(entries, std::size(cases)) << "no other file was created";
}

TEST_F(Host, InputsThatAreNoFileAndBadOutputNamesAreRefusedWithOneLine) {
  const fs::path fifo = dir / "fifo.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Targets commissioning cannot write: refused before the drive moves.
  const fs::path readOnly = Write("read-only.json", "{}");
  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::create_directories(dir / "taken" / "index.html");
  const fs::path aFile = Write("a-file", "");
  const std::string out = " -o '" + (dir / "out.json").string() + "'";
  const struct {
    std::string arguments;
    std::string message;
  } cases[] = {
      {"compute '" + dir.string() + "'", "cannot read: is a directory"},
      {"compute '" + fifo.string() + "'", "cannot read: not a regular file (a FIFO)"},
      {"show /dev/null", "cannot read: not a regular file (a character device)"},
      {"--drive virtual:/dev/null drive run VDC_Detection_Test", "cannot read: not a regular file"},
      {"compute -o ''", "--output: the file name is empty"},
      {"encode -o ''", "--output: the file name is empty"},
      {"design current -o ''", "--output: the file name is empty"},
      {"commission -o '" + dir.string() + "'", "commission: -o " + dir.string() + ": cannot write: is a directory"},
      {"commission -o '" + fifo.string() + "'", "cannot write: not a regular file (a FIFO)"},
      {"commission -o '" + readOnly.string() + "'", "cannot write: the file is read-only (mode 0444)"},
      {"tune current -o '" + readOnly.string() + "'", "tune: -o " + readOnly.string() + ": cannot write: the file is"},
      {"test supply-voltage -o '" + dir.string() + "'", "test: -o " + dir.string() + ": cannot write: is a directory"},
      {"commission" + out + " --report '" + aFile.string() + "'", aFile.string() + ": is a file, not a folder"},
      {"commission" + out + " --report '" + (dir / "taken").string() + "'", "index.html: cannot write: is a directory"},
      {"commission" + out + " --report '" + (dir / std::string(300, 'r')).string() + "'", "File name too long"},
  };
  for (const auto& c : cases) {
    HostRun run = Axhost(c.arguments);
    EXPECT_EQ(run.status, 2) << c.arguments;
    EXPECT_EQ(run.out, "") << c.arguments;
    EXPECT_EQ(run.err.rfind("error: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

// Qt's own diagnostics (no XDG_RUNTIME_DIR, an offscreen platform without
// size hints) would read like the command's errors: only --verbose shows them.
TEST_F(Host, QtsOwnDiagnosticsOnlyWithVerbose) {
  const fs::path script = Write("close.txt", "click 2\n");
  const std::string runtime = std::getenv("XDG_RUNTIME_DIR") != nullptr ? std::getenv("XDG_RUNTIME_DIR") : "";
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::unsetenv("XDG_RUNTIME_DIR");
  const HostRun quiet = Axhost("tune current --gui --script '" + script.string() + "'");
  const HostRun verbose = Axhost("--verbose tune current --gui --script '" + script.string() + "'");
  if (!runtime.empty()) ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  EXPECT_EQ(quiet.err, "error: tune: the test was not started; nothing was saved\n");
  EXPECT_EQ(verbose.err.rfind("qt: ", 0), 0u) << verbose.err;
}

TEST_F(Host, BadArgumentsAndAMissingPluginAreReported) {
  EXPECT_EQ(Axhost("").status, 2);
  EXPECT_EQ(Axhost("frobnicate").status, 2);
  EXPECT_EQ(Axhost("scale m").status, 2);
  HostRun help = Axhost("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* command : {"new", "show", "scale", "--plugin"}) EXPECT_NE(help.out.find(command), std::string::npos);
  HostRun noPlugin = Axhost("--plugin /nonexistent/Qtxmod_lin.so show");
  EXPECT_EQ(noPlugin.status, 1);
  EXPECT_EQ(noPlugin.err.rfind("error: cannot load plug-in /nonexistent/Qtxmod_lin.so: ", 0), 0u) << noPlugin.err;
  HostRun missingFile = Axhost("show /nonexistent/setup.json");
  EXPECT_EQ(missingFile.status, 2);
  EXPECT_EQ(missingFile.err, "error: /nonexistent/setup.json: cannot read: No such file or directory\n");
}

// What a newcomer sees: axhost alone, a test dialog that refuses to go on,
// and the warnings before a test moves the motor. Each line as printed.
TEST_F(Host, ErrorsAndWarningsNameTheirCause) {
  const auto setupWith = [&](const char* name, std::vector<testing_support::Change> changes) {
    auto setup = testing_support::LoadExample();
    testing_support::Apply(*setup, changes);
    const fs::path path = dir / name;
    EXPECT_EQ(axcore::SaveSetupFile(*setup, path.string()), "");
    return "'" + path.string() + "'";
  };
  const std::string belowLimit = setupWith("below-limit.json", {{"TestProtectionCurrent", 5.0}});
  const std::string belowTest = setupWith("below-test.json", {{"TestProtectionCurrent", 1.0}});
  const std::string small = setupWith("small.json", {{"R", 0.5}, {"L", 0.0004}});
  const std::string vdc60 = setupWith("vdc60.json", {{"Vdc", 60.0}});
  const std::string noRange = setupWith("no-range.json", {{"VdcMaxMeasurable", -1.0}});
  const fs::path smallPlant =
      Write("small-plant.json",
            R"({"format": "axplant-1", "phase_resistance_ohm": 0.5, "phase_inductance_H": 0.0004})");
  // Drive Setup's speed test, its protection typed below its limit, then
  // its Test page.
  const fs::path script =
      Write("refused.txt", "wait 150\nclick 1\nclick 3178\ntype 3281 5\ntab 1300 1\nunit 1380 rad/s\n");
  const fs::path report = dir / "report";
  const std::string speedLimit =
      " is above what the supply can drive the motor at: 1.055 m/s (TestCurrent 1.5 A through R 4.2 ohm takes 6.3 V "
      "of the 23.88 V a 47.19 V supply puts on the winding; the back-EMF of Kf 25 N/A takes 16.67 V per m/s of the "
      "rest)";
  const struct {
    std::string arguments;
    int status;
    std::vector<std::string> lines;  // in standard error, whole lines
  } cases[] = {
      {"", 2,
       {"usage: axhost [--drive virtual[:PLANT]] COMMAND [ARGS...]",
        "  axhost commission [FILE] -o OUT.json --report DIR",
        "      OUT.json, the report to DIR/index.html (with DIR/summary.json)", "  axhost edit [FILE] -o OUT.json",
        "  axhost test NAME [FILE] [-o OUT.json]"}},
      {"tune speed " + belowLimit, 1,
       {"error: tune: the dialog refused: \"Over current protection must be greater than Drive current limit. "
        "Recommended value for Drive current limit is maximum 90% of Over current protection.\"; raise "
        "TestProtectionCurrent (\"Over current protection\", now 5 A) to at least TestLimitCurrent (\"Drive current "
        "limit\", 7 A), or lower TestLimitCurrent; nothing was saved"}},
      {"edit --headless --script '" + script.string() + "' -o '" + (dir / "edited.json").string() + "'", 2,
       {"error: " + script.string() +
        ": line 6: unit 1380 is hidden, after the dialog refused: \"Over current protection must be greater than "
        "Drive current limit. Recommended value for Drive current limit is maximum 90% of Over current protection.\"; "
        "raise TestProtectionCurrent (\"Over current protection\", now 5 A) to at least TestLimitCurrent (\"Drive "
        "current limit\", 7 A), or lower TestLimitCurrent; nothing was saved"}},
      {"tune current " + belowTest, 1,
       {"error: tune: the dialog refused: \"Over current protection must be greater or equal to Test current.\"; raise "
        "TestProtectionCurrent (\"Over current protection\", now 1 A) to at least TestCurrent (\"Test current\", 1.5 "
        "A), or lower TestCurrent; nothing was saved"}},
      {"test total-mass " + belowTest, 1,
       {"error: test: the test was not started: the dialog refused: \"I protection must be greater or equal to Test "
        "current.\"; raise TestProtectionCurrent (\"I protection\", now 1 A) to at least TestCurrent (\"Test "
        "current\", 1.5 A), or lower TestCurrent; nothing was saved"}},
      {"--drive virtual:'" + smallPlant.string() + "' test total-mass " + small, 1,
       {"warning: the current loop with the setup's gains (Kp_C_scl 14.65, Ki_C_scl 2.564) on its winding (R 0.5 "
        "ohm, L 0.4 mH) is unstable as the drive runs it: tune the current controller first (axhost tune current)"}},
      {"tune speed", 0,
       {"warning: the current loop with the setup's gains (Kp_C_scl 14.65, Ki_C_scl 2.564) on its winding (R 4.2 "
        "ohm, L 3.5 mH) overshoots a step by 66.01 % (more than 50 %) as the drive runs it: tune the current "
        "controller first (axhost tune current)"}},
      {"test total-mass", 0, {"warning: TestMaxSpeed 106.7 m/s" + speedLimit}},
      // The cause in the setup is named, not the drive blamed.
      {"test supply-voltage " + noRange, 1,
       {"error: test: The setup's \"VdcMaxMeasurable\" is -1 V: the drive measures its supply as a fraction of "
        "this range, so it must be above 0. Set it to the drive's supply measuring range and run the test again.; "
        "nothing was saved"}},
      // A list of lines reads as one line of text, not with "\n" in it.
      {"test nosuch", 2,
       {"error: test: no test \"nosuch\"; one of: supply-voltage: measures the DC supply (Vdc); phase-connection: "
        "checks the motor phase wiring; resistance-inductance: identifies R and L; encoder-connection: checks the "
        "encoder signals while the mover is moved by hand; encoder-resolution: identifies EncRes and the counting "
        "direction; total-mass: identifies the total moving mass (Mt); analogue-reference: shows the analogue "
        "reference input live"}},
      {"test encoder-connection --for 3600001", 2,
       {"error: test: --for takes milliseconds from 0 to 3600000 (one hour of drive time)"}},
      {"tune current " + vdc60, 0,
       {"warning: the setup's supply voltage Vdc 60 V differs from the 47.19 V the drive measures by 27.15 % (more "
        "than 5 %): the current loop's gains were designed for another voltage (Tune designs them for Vdc); measure "
        "it (axhost test supply-voltage) and tune the current controller again"}},
      {"commission -o '" + (dir / "out.json").string() + "' --report '" + report.string() + "'", 0,
       {"warning: Total mass: TestMaxSpeed 106.7 m/s" +
        std::string(" is above what the supply can drive the motor at: 1.031 m/s (TestCurrent 1.5 A through R 4.459 "
                    "ohm takes 6.689 V of the 23.88 V a 47.19 V supply puts on the winding; the back-EMF of Kf 25 N/A "
                    "takes 16.67 V per m/s of the rest)")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const HostRun run = Axhost(c.arguments);
    EXPECT_EQ(run.status, c.status) << run.err;
    for (const std::string& line : c.lines)
      EXPECT_NE(("\n" + run.err).find("\n" + line + "\n"), std::string::npos) << line << "\nnot in\n" << run.err;
  }
  // The commissioning report keeps the warning the run printed.
  const std::string summary = ReadFile(report / "summary.json");
  EXPECT_NE(summary.find("Total mass: TestMaxSpeed 106.7 m/s is above what the supply can drive the motor at"),
            std::string::npos);
}

}  // namespace
