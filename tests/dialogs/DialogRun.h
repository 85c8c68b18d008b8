// Runs the Drive Setup dialog on the headless platform with a scripted user
// and keeps what the user saw: the message boxes, the help pages opened and
// the controls as the dialog left them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DriveSetupDlg.h"
#include "ScaleFactor.h"
#include "axcore/HeadlessPlatform.h"
#include "axcore/Resources.h"
#include "support/TestSetup.h"

namespace dialog_testing {

struct MessageBoxShown {
  std::string text;
  unsigned style;
};

class RecordingPlatform : public axcore::HeadlessPlatform {
 public:
  using HeadlessPlatform::HeadlessPlatform;
  int MessageBox(const std::string& text, unsigned style, CMC_EditSetupDlg* owner) override {
    boxes.push_back({text, style});
    return HeadlessPlatform::MessageBox(text, style, owner);
  }
  std::vector<MessageBoxShown> boxes;
};

struct ScriptRun {
  int result = 0;
  std::string failure;  // the script's first failure, empty when it ran through
  std::vector<MessageBoxShown> boxes;
  std::vector<std::string> help;
  std::unique_ptr<CDriveSetupDlg> dialog;  // ended; its controls as the user left them

  const ControlState& Control(int id) const {
    static const ControlState none;
    const ControlState* state = dialog->GetControl(id);
    EXPECT_NE(state, nullptr) << "control " << id;
    return state != nullptr ? *state : none;
  }
  // The chosen item of a combo, "" when none is chosen.
  std::string Selected(int id) const {
    const ControlState& combo = Control(id);
    return combo.selection >= 0 ? combo.items.at(static_cast<std::size_t>(combo.selection)).text : std::string();
  }
};

// The example setup with the plug-in's scales attached, as the host hands it.
inline std::unique_ptr<CMC_Setup> ExampleSetup() {
  auto setup = testing_support::LoadExample();
  if (setup) setup->SetScaleFunctions(ModelScaleFunctions());
  return setup;
}

inline ScriptRun RunDriveSetup(CMC_Setup& setup, const std::string& script) {
  ScriptRun run;
  std::string error;
  auto lines = axcore::ParseScript(script, error);
  if (!lines) {
    run.failure = error;
    return run;
  }
  std::ostringstream out;
  axcore::ScriptedUser user(std::move(*lines), out);
  RecordingPlatform platform(&user);
  axcore::RegisterResourceFolder(AX_RESOURCES_DIR);
  axcore::InstallPlatform(&platform);
  run.dialog = std::make_unique<CDriveSetupDlg>(&setup);
  run.result = run.dialog->DoModal();
  axcore::InstallPlatform(nullptr);
  axcore::WithdrawResourceFolder(AX_RESOURCES_DIR);
  run.failure = user.Failure();
  run.boxes = platform.boxes;
  run.help = platform.HelpRequests();
  return run;
}

}  // namespace dialog_testing
