// `axhost test NAME`: one of the plug-in's identification tests on a setup,
// with the drive connected, run to its end as a user would run it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "DriveChoice.h"
#include "PreTestChecks.h"
#include "axcore/HeadlessPlatform.h"
#include "axcore/TestDlg.h"
#include "virtualdrive/Plant.h"

namespace axhost {

struct TestOptions {
  std::optional<std::string> output;  // -o
  std::optional<std::string> script;  // --script: the user's own actions instead of Start, wait, Close
  long long forMs = 3000;             // --for: how long a test that runs until stopped runs
  bool keep = true;                   // --keep yes|no: the answer to "save the new value(s)?"
  bool gui = false;                   // --gui: the Qt view instead of the headless one
  std::string screenshotDir;          // --screenshot DIR (Qt view)
  std::string driveSpec = "virtual";  // --drive
  drivewire::LinkOptions link;       // --link-timeout, --link-tries
};

// The test names the command knows, in the order the commissioning guide
// runs them, with what each identifies, for --help.
std::string TestNamesHelp();
bool IsTestName(const std::string& name);

int RunTest(const PluginModule& module, const std::string& name, const std::optional<std::string>& file,
            const TestOptions& options, Io io);

// --- what `test` and `tune` share: one test dialog run by a scripted user
// on the virtual drive.

// How long a test may run before the command gives up on it: far beyond
// the longest identification (some seconds of drive time), short enough that
// a drive that never ends a program does not hold the command for good.
inline constexpr long long kTestTimeLimitMs = 120000;

using plant_t = virtualdrive::PlantParameters;
using DialogMaker = std::function<std::unique_ptr<CMC_TestDlg>(CMC_Setup*)>;
// Looks at the dialog after its modal run, before it is destroyed.
using DialogInspector = std::function<void(CMC_TestDlg&)>;

struct TestRun {
  int dialogResult = 0;  // DoModal's
  int runs = 0;          // runs that ended
  int lastResult = -1;   // of the last run: 1 passed, 0 failed, -1 stopped
  std::string lastError;
};

// The script's actions: the user's (--script) or `defaultScript`; none, with
// the error printed, when the user's cannot be read.
std::optional<std::vector<axcore::ScriptLine>> TestScript(const std::string& defaultScript, const TestOptions& options,
                                                          Io io);
// Runs the dialog `make` builds on the setup with the drive connected,
// printing "status:" and "result:" lines. kExitOk when the script ran and
// the last run passed; otherwise the error is printed.
int RunTestDialog(const char* command, CMC_Setup& setup, const ChosenDrive& drive, std::vector<axcore::ScriptLine> lines,
                  const TestOptions& options, Io io, const DialogMaker& make, const DialogInspector& inspect,
                  TestRun& run);

// Prints a "warning:" line for each check `test` fails on `setup` before
// it runs, with the supply measured on a drive of `plant`
// (CheckBeforeTest).
void WarnBeforeTest(const PluginModule& module, const CMC_Setup& setup, const ChosenDrive& drive, MotionTest test,
                    bool gainsDesigned, Io io);

struct ParameterSnapshot {
  std::string name;
  double value;
};
std::vector<ParameterSnapshot> TakeSnapshot(const CMC_Setup& setup);
// "NAME old -> new unit" for every parameter whose value differs from the
// snapshot.
void PrintChanges(const CMC_Setup& setup, const std::vector<ParameterSnapshot>& before, std::ostream& out);
// Prints what changed since `before` and, after OK, what follows as the
// setup is encoded again; writes the setup to `output` when given.
int FinishTestedSetup(CMC_Setup& setup, const std::vector<ParameterSnapshot>& before, int dialogResult,
                      const std::optional<std::string>& output, Io io);

}  // namespace axhost
