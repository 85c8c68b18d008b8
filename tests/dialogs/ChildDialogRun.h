// Runs one setup dialog of the plug-in by itself, as its parent opens it,
// on the headless platform with a scripted user (see DialogRun.h).
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DialogRun.h"

namespace dialog_testing {

template <typename Dialog>
struct ChildRun {
  int result = 0;
  std::string failure;
  std::vector<MessageBoxShown> boxes;
  std::vector<std::string> help;
  std::unique_ptr<Dialog> dialog;  // ended; its controls as the user left them

  const ControlState& Control(int id) const {
    static const ControlState none;
    const ControlState* state = dialog->GetControl(id);
    EXPECT_NE(state, nullptr) << "control " << id;
    return state != nullptr ? *state : none;
  }
};

template <typename Dialog>
ChildRun<Dialog> RunChildDialog(CMC_Setup& setup, const std::string& script) {
  ChildRun<Dialog> run;
  auto lines = axcore::ParseScript(script, run.failure);
  if (!lines) return run;
  std::ostringstream out;
  axcore::ScriptedUser user(std::move(*lines), out);
  RecordingPlatform platform(&user);
  axcore::RegisterResourceFolder(AX_RESOURCES_DIR);
  axcore::InstallPlatform(&platform);
  run.dialog = std::make_unique<Dialog>(&setup);
  run.result = run.dialog->DoModal();
  axcore::InstallPlatform(nullptr);
  axcore::WithdrawResourceFolder(AX_RESOURCES_DIR);
  run.failure = user.Failure();
  run.boxes = platform.boxes;
  run.help = platform.HelpRequests();
  return run;
}

}  // namespace dialog_testing
