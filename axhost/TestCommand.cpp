#include "TestCommand.h"

#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include "CodecDrivers.h"
#include "DetectEncoderResolution.h"
#include "DialogRefusals.h"
#include "EditCommand.h"
#include "TestAnalogueRef.h"
#include "TestEncoderConnections.h"
#include "TestPhaseConnections.h"
#include "TestRL.h"
#include "TestVdcDetection.h"
#include "TotalMassTest.h"
#include "axcore/Comm.h"
#include "axcore/MessageText.h"
#include "axcore/SetupFile.h"
#include "virtualdrive/Bench.h"
#include "virtualdrive/VirtualDrive.h"

namespace axhost {
namespace {

struct TestKind {
  const char* name;
  const char* what;
  bool multiCycle;  // runs until the user stops it
  DialogMaker make;
  // The checks before it runs: the tests after the current loop's tuning
  // that move the motor.
  std::optional<MotionTest> motion = std::nullopt;
};

template <typename Test>
std::unique_ptr<CMC_TestDlg> Make(CMC_Setup* setup) {
  return std::make_unique<Test>(setup);
}

const std::vector<TestKind>& Tests() {
  static const std::vector<TestKind> tests = {
      {"supply-voltage", "measures the DC supply (Vdc)", false, Make<CTestVdcDetection>},
      {"phase-connection", "checks the motor phase wiring", false, Make<CTestPhaseConnections>},
      {"resistance-inductance", "identifies R and L", false, Make<CTestRL>},
      {"encoder-connection", "checks the encoder signals while the mover is moved by hand", true,
       Make<CTestEncoderConnections>},
      {"encoder-resolution", "identifies EncRes and the counting direction", false, Make<CDetectEncoderResolution>},
      {"total-mass", "identifies the total moving mass (Mt)", false, Make<CTotalMassTest>,
       MotionTest::TotalMass},
      {"analogue-reference", "shows the analogue reference input live", true, Make<CTestAnalogueRef>},
  };
  return tests;
}

const TestKind* FindTest(const std::string& name) {
  for (const TestKind& test : Tests())
    if (name == test.name) return &test;
  return nullptr;
}

// What a user does with a test when no script is given: Start, let it run
// (a test that runs until stopped for --for ms, moving the mover by hand
// where the test needs it), Stop, then Close answering the question about
// new values.
std::string DefaultScript(const TestKind& test, const TestOptions& options) {
  std::ostringstream script;
  script << "click 10000\n";
  if (test.multiCycle) {
    if (std::string(test.name) == "encoder-connection") {
      const long long leg = std::max(1LL, options.forMs / 4);
      script << "move 2 " << leg << "\nmove -2 " << leg << '\n';
      if (options.forMs > 2 * leg) script << "wait " << options.forMs - 2 * leg << '\n';
    } else {
      script << "wait " << options.forMs << '\n';
    }
    script << "click 10000\n";
  }
  script << "until-idle " << kTestTimeLimitMs << '\n';
  script << "answer " << (options.keep ? "yes" : "no") << "\nclick 2\n";
  return script.str();
}

}  // namespace

std::vector<ParameterSnapshot> TakeSnapshot(const CMC_Setup& setup) {
  std::vector<ParameterSnapshot> values;
  for (const auto& p : setup.Parameters()) values.push_back({p->GetName(), p->GetValueInBaseUnit()});
  return values;
}

void PrintChanges(const CMC_Setup& setup, const std::vector<ParameterSnapshot>& before, std::ostream& out) {
  for (const ParameterSnapshot& old : before) {
    const CMC_Parameter* p = setup.FindParameter(old.name);
    if (p == nullptr || p->GetValueInBaseUnit() == old.value) continue;
    char line[160];
    std::snprintf(line, sizeof line, "%.7g -> %.7g", old.value, p->GetValueInBaseUnit());
    out << "  " << old.name << ' ' << line << (*p->GetUnit() ? " " : "") << p->GetUnit() << '\n';
  }
}

std::string TestNamesHelp() {
  std::string help;
  for (const TestKind& test : Tests()) help += std::string("\n  ") + test.name + ": " + test.what;
  return help;
}

bool IsTestName(const std::string& name) { return FindTest(name) != nullptr; }

int RunTestDialog(const char* command, CMC_Setup& setup, const ChosenDrive& chosen, std::vector<axcore::ScriptLine> lines,
                  const TestOptions& options, Io io, const DialogMaker& make, const DialogInspector& inspect,
                  TestRun& run) {
  axcore::ScriptedUser user(std::move(lines), io.out);
  int status = kExitOk;
  auto platform = MakeDialogPlatform(command, "leave out --gui", !options.gui, &user, options.screenshotDir, io, status);
  if (!platform) return status;
  std::string error;
  const std::unique_ptr<OpenedDrive> drive = chosen.Open(platform.get(), error);
  if (!drive) {
    PrintError(io.err, error);
    return kExitFailed;
  }
  if (!drive->LoadSetup(setup, error)) {
    PrintError(io.err, "loading the setup into the drive: " + error);
    return kExitFailed;
  }
  ScopedDriveLink connected(&drive->Link());
  // The user's hands on the machine: the analogue input and pushing the mover.
  user.SetBenchHandler(drive->Bench());
  // The last message box, which may be why the run stops.
  std::optional<ShownMessage> shown;
  user.SetMessageObserver(
      [&](const std::string& text, int, bool) { shown = ShownMessage{text, user.LastLine()}; });

  // The status texts as they appear, and the end of each run.
  CMC_TestDlg::SetObserver({[&](const CMC_TestDlg&, const std::string& text) { io.out << "status: " << axcore::JoinLines(text) << '\n'; },
                            [&](const CMC_TestDlg& dialog) {
                              ++run.runs;
                              run.lastResult = dialog.GetTestResult();
                              run.lastError = dialog.GetErrorText();
                              if (run.lastResult == 1)
                                io.out << "result: passed\n";
                              else if (run.lastResult == 0)
                                io.out << "result: failed: " << axcore::JoinLines(run.lastError) << '\n';
                              else
                                io.out << "result: stopped by the user\n";
                            }});
  axcore::InstallPlatform(platform.get());
  {
    auto dialog = make(&setup);
    run.dialogResult = dialog->DoModal();
    if (inspect) inspect(*dialog);
  }
  axcore::InstallPlatform(nullptr);
  CMC_TestDlg::SetObserver({});
  PrintMissingNames(io.err);
  if (chosen.ReportsLink()) io.err << chosen.LinkReport() << '\n';

  const std::string name = std::string(command) + ": ";
  if (user.Failed() && !options.script && user.Failure().find("a test still runs") != std::string::npos) {
    PrintError(io.err, name + "the test did not end within " + std::to_string(kTestTimeLimitMs / 1000) +
                           " s; it was stopped and nothing was saved");
    return kExitFailed;
  }
  if (user.Failed()) {
    const std::string where = options.script ? axcore::OneLine(ScriptName(*options.script)) + ": " : name;
    const auto cause = ExplainStop(user.Failure(), user.LastLine(), shown, setup, options.script.has_value());
    PrintError(io.err, where + cause.value_or(user.Failure()) + "; nothing was saved");
    return options.script ? kExitBadInput : kExitFailed;
  }
  if (run.runs == 0) {
    const auto cause = ExplainNotStarted(shown, setup);
    PrintError(io.err, name + "the test was not started" + (cause ? ": " + *cause : std::string()) +
                           "; nothing was saved");
    return kExitFailed;
  }
  if (run.lastResult != 1) {
    PrintError(io.err, name +
                           (run.lastResult == 0 ? chosen.WithLostLink(axcore::JoinLines(run.lastError))
                                                : std::string("stopped by the user")) +
                           "; nothing was saved");
    return kExitFailed;
  }
  return kExitOk;
}

int FinishTestedSetup(CMC_Setup& setup, const std::vector<ParameterSnapshot>& before, int dialogResult,
                      const std::optional<std::string>& output, Io io) {
  std::ostringstream changes;
  PrintChanges(setup, before, changes);
  io.out << (changes.str().empty() ? "no parameter changed\n" : "changed:\n" + changes.str());
  // The dialog that opens the test brings registers and user values into
  // step again when the test ends with its values kept.
  if (dialogResult == 1) {
    const std::vector<ParameterSnapshot> tested = TakeSnapshot(setup);
    EncodeRegisters(setup);
    DecodeRegisters(setup);
    std::ostringstream follow;
    PrintChanges(setup, tested, follow);
    if (!follow.str().empty()) io.out << "and as the setup is encoded again:\n" << follow.str();
  }
  if (!output) return kExitOk;
  if (std::string failure = axcore::SaveSetupFile(setup, *output); !failure.empty()) {
    PrintError(io.err, failure);
    return kExitFailed;
  }
  io.out << "setup written to " << axcore::OneLine(*output) << '\n';
  return kExitOk;
}

std::optional<std::vector<axcore::ScriptLine>> TestScript(const std::string& defaultScript, const TestOptions& options,
                                                          Io io) {
  if (options.script) return LoadScript(*options.script, io);
  std::string error;
  return axcore::ParseScript(defaultScript, error);
}

void WarnBeforeTest(const PluginModule& module, const CMC_Setup& setup, const ChosenDrive& drive, MotionTest test,
                    bool gainsDesigned, Io io) {
  const PreTestFindings findings = CheckBeforeTest(setup, test, gainsDesigned, MeasureSupply(module, setup, drive));
  for (const std::string& line : PreTestWarnings(findings)) PrintWarning(io.err, line);
}

int RunTest(const PluginModule& module, const std::string& name, const std::optional<std::string>& file,
            const TestOptions& options, Io io) {
  const TestKind* test = FindTest(name);
  if (test == nullptr) {
    PrintError(io.err, "test: no test " + axcore::QuoteForMessage(name) + "; one of:" + TestNamesHelp());
    return kExitBadInput;
  }
  if (!options.gui && !options.screenshotDir.empty()) {
    PrintError(io.err, "test: --screenshot needs the Qt view: give --gui");
    return kExitBadInput;
  }
  if (options.forMs < 0 || options.forMs > 3600000) {
    PrintError(io.err, "test: --for takes milliseconds from 0 to 3600000 (one hour of drive time)");
    return kExitBadInput;
  }
  if (OutputRefused(options.output, "test", io)) return kExitBadInput;
  int chosenStatus = kExitOk;
  const auto drive = ChooseDrive(options.driveSpec, options.link, io, chosenStatus);
  if (!drive) return chosenStatus;
  auto lines = TestScript(DefaultScript(*test, options), options, io);
  if (!lines) return kExitBadInput;
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;
  if (test->motion) WarnBeforeTest(module, *setup, *drive, *test->motion, false, io);
  const std::vector<ParameterSnapshot> before = TakeSnapshot(*setup);
  TestRun run;
  if (const int status = RunTestDialog("test", *setup, *drive, std::move(*lines), options, io, test->make, {}, run);
      status != kExitOk)
    return status;
  return FinishTestedSetup(*setup, before, run.dialogResult, options.output, io);
}

}  // namespace axhost
