#include "TestCommand.h"

#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include "CodecDrivers.h"
#include "DetectEncoderResolution.h"
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

// How long a test may run before the command gives up on it: far beyond
// the longest identification (some seconds of drive time), short enough that
// a drive that never ends a program does not hold the command for good.
constexpr long long kTestTimeLimitMs = 120000;

struct TestKind {
  const char* name;
  const char* what;
  bool multiCycle;  // runs until the user stops it
  std::function<std::unique_ptr<CMC_TestDlg>(CMC_Setup*)> make;
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
      {"total-mass", "identifies the total moving mass (Mt)", false, Make<CTotalMassTest>},
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

struct Snapshot {
  std::string name;
  double value;
};

std::vector<Snapshot> TakeSnapshot(const CMC_Setup& setup) {
  std::vector<Snapshot> values;
  for (const auto& p : setup.Parameters()) values.push_back({p->GetName(), p->GetValueInBaseUnit()});
  return values;
}

// "NAME old -> new unit" for every parameter whose value differs from the
// snapshot.
void PrintChanges(const CMC_Setup& setup, const std::vector<Snapshot>& before, std::ostream& out) {
  for (const Snapshot& old : before) {
    const CMC_Parameter* p = setup.FindParameter(old.name);
    if (p == nullptr || p->GetValueInBaseUnit() == old.value) continue;
    char line[160];
    std::snprintf(line, sizeof line, "%.7g -> %.7g", old.value, p->GetValueInBaseUnit());
    out << "  " << old.name << ' ' << line << (*p->GetUnit() ? " " : "") << p->GetUnit() << '\n';
  }
}

}  // namespace

std::string TestNamesHelp() {
  std::string help;
  for (const TestKind& test : Tests()) help += std::string("\n  ") + test.name + ": " + test.what;
  return help;
}

bool IsTestName(const std::string& name) { return FindTest(name) != nullptr; }

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
  if (options.forMs < 0 || options.forMs > 86400000) {
    PrintError(io.err, "test: --for takes milliseconds from 0 to 86400000");
    return kExitBadInput;
  }
  const auto plant = DrivePlant(options.driveSpec, io);
  if (!plant) return kExitBadInput;
  std::optional<std::vector<axcore::ScriptLine>> lines;
  if (options.script) {
    if (!(lines = LoadScript(*options.script, io))) return kExitBadInput;
  } else {
    std::string error;
    lines = axcore::ParseScript(DefaultScript(*test, options), error);
  }
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;

  axcore::ScriptedUser user(std::move(*lines), io.out);
  int status = kExitOk;
  auto platform = MakeDialogPlatform("test", "leave out --gui", !options.gui, &user, options.screenshotDir, io, status);
  if (!platform) return status;
  virtualdrive::VirtualDrive drive(*plant, platform.get());
  std::string error;
  if (!drive.LoadSetup(*setup, &error)) {
    PrintError(io.err, "loading the setup into the drive: " + error);
    return kExitFailed;
  }
  ScopedDriveLink connected(&drive);
  // The user's hands on the machine: the analogue input and pushing the mover.
  user.SetBenchHandler(virtualdrive::BenchHandlerFor(drive));
  const std::vector<Snapshot> before = TakeSnapshot(*setup);

  // The status texts as they appear, and the end of each run.
  int runs = 0, lastResult = -1;
  std::string lastError;
  CMC_TestDlg::SetObserver({[&](const CMC_TestDlg&, const std::string& text) { io.out << "status: " << axcore::OneLine(text) << '\n'; },
                            [&](const CMC_TestDlg& dialog) {
                              ++runs;
                              lastResult = dialog.GetTestResult();
                              lastError = dialog.GetErrorText();
                              if (lastResult == 1)
                                io.out << "result: passed\n";
                              else if (lastResult == 0)
                                io.out << "result: failed: " << axcore::OneLine(lastError) << '\n';
                              else
                                io.out << "result: stopped by the user\n";
                            }});
  axcore::InstallPlatform(platform.get());
  int result = 0;
  {
    auto dialog = test->make(setup.get());
    result = dialog->DoModal();
  }
  axcore::InstallPlatform(nullptr);
  CMC_TestDlg::SetObserver({});
  PrintMissingNames(io.err);

  if (user.Failed() && !options.script && user.Failure().find("a test still runs") != std::string::npos) {
    PrintError(io.err, "test: the test did not end within " + std::to_string(kTestTimeLimitMs / 1000) +
                           " s; it was stopped and nothing was saved");
    return kExitFailed;
  }
  if (user.Failed()) {
    const std::string where = options.script ? axcore::OneLine(ScriptName(*options.script)) + ": " : "test: ";
    PrintError(io.err, where + user.Failure() + "; nothing was saved");
    return options.script ? kExitBadInput : kExitFailed;
  }
  if (runs == 0) {
    PrintError(io.err, "test: the test was not started; nothing was saved");
    return kExitFailed;
  }
  if (lastResult != 1) {
    PrintError(io.err, "test: " + (lastResult == 0 ? axcore::OneLine(lastError) : std::string("stopped by the user")) +
                           "; nothing was saved");
    return kExitFailed;
  }
  std::ostringstream changes;
  PrintChanges(*setup, before, changes);
  io.out << (changes.str().empty() ? "no parameter changed\n" : "changed:\n" + changes.str());
  // The dialog that opens the test brings registers and user values into
  // step again when the test ends with its values kept.
  if (result == 1) {
    const std::vector<Snapshot> tested = TakeSnapshot(*setup);
    EncodeRegisters(*setup);
    DecodeRegisters(*setup);
    std::ostringstream follow;
    PrintChanges(*setup, tested, follow);
    if (!follow.str().empty()) io.out << "and as the setup is encoded again:\n" << follow.str();
  }
  if (!options.output) return kExitOk;
  if (std::string failure = axcore::SaveSetupFile(*setup, *options.output); !failure.empty()) {
    PrintError(io.err, failure);
    return kExitFailed;
  }
  io.out << "setup written to " << axcore::OneLine(*options.output) << '\n';
  return kExitOk;
}

}  // namespace axhost
