// Runs one drive test dialog of the plug-in on the headless platform with a
// scripted user and the virtual drive connected: the drive runs on the
// platform's virtual clock, so a whole test takes milliseconds. Keeps what
// the user saw (message boxes, help pages, the controls and plots as the
// dialog left them) and the drive, for its plant's truth.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../dialogs/DialogRun.h"
#include "axcore/Comm.h"
#include "virtualdrive/Bench.h"
#include "virtualdrive/PlantFile.h"
#include "virtualdrive/VirtualDrive.h"

namespace drivetest_testing {

using dialog_testing::ExampleSetup;
using dialog_testing::MessageBoxShown;
using dialog_testing::RecordingPlatform;

template <typename Test>
struct TestRun {
  int result = 0;
  std::string failure;  // the script's first failure, empty when it ran through
  std::string output;   // what the script printed (message boxes, dumps)
  std::vector<MessageBoxShown> boxes;
  std::vector<std::string> help;
  std::unique_ptr<Test> dialog;
  std::unique_ptr<virtualdrive::VirtualDrive> drive;

  const ControlState& Control(int id) const {
    static const ControlState none;
    const ControlState* state = dialog->GetControl(id);
    EXPECT_NE(state, nullptr) << "control " << id;
    return state != nullptr ? *state : none;
  }
  std::string Text(int id) const { return Control(id).text; }
};

// What to do to the drive before the dialog opens (inject faults, set the
// bench inputs); called with the drive connected and the setup loaded.
using DrivePreparation = std::function<void(virtualdrive::VirtualDrive&)>;

// Runs the test dialog `make` builds on `setup`, with a virtual drive of
// `plant` loaded from the setup. The dialog is built after the platform is
// installed and the drive connected, as its caller builds it.
template <typename Test>
TestRun<Test> RunTest(CMC_Setup& setup, const std::string& script,
                      const std::function<std::unique_ptr<Test>(CMC_Setup&)>& make,
                      const virtualdrive::PlantParameters& plant = virtualdrive::ExamplePlant(),
                      const DrivePreparation& prepare = {}) {
  TestRun<Test> run;
  std::string error;
  auto lines = axcore::ParseScript(script, error);
  if (!lines) {
    run.failure = error;
    return run;
  }
  std::ostringstream out;
  axcore::ScriptedUser user(std::move(*lines), out);
  RecordingPlatform platform(&user);
  run.drive = std::make_unique<virtualdrive::VirtualDrive>(plant, &platform);
  // The script's bench actions ("analogue VOLTS", "move MM") act on it.
  user.SetBenchHandler(virtualdrive::BenchHandlerFor(*run.drive));
  if (!run.drive->LoadSetup(setup, &error)) {
    run.failure = "loading the setup into the drive: " + error;
    return run;
  }
  if (prepare) prepare(*run.drive);
  ScopedDriveLink connected(run.drive.get());
  axcore::RegisterResourceFolder(AX_RESOURCES_DIR);
  axcore::InstallPlatform(&platform);
  run.dialog = make(setup);
  run.result = run.dialog->DoModal();
  axcore::InstallPlatform(nullptr);
  axcore::WithdrawResourceFolder(AX_RESOURCES_DIR);
  run.failure = user.Failure();
  run.output = out.str();
  run.boxes = platform.boxes;
  run.help = platform.HelpRequests();
  return run;
}

// The usual constructor of a test: (setup).
template <typename Test>
TestRun<Test> RunTest(CMC_Setup& setup, const std::string& script,
                      const virtualdrive::PlantParameters& plant = virtualdrive::ExamplePlant(),
                      const DrivePreparation& prepare = {}) {
  return RunTest<Test>(
      setup, script, [](CMC_Setup& s) { return std::make_unique<Test>(&s); }, plant, prepare);
}

}  // namespace drivetest_testing
