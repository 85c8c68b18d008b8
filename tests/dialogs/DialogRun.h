// Runs the Drive Setup dialog on the headless platform with a scripted user
// and keeps what the user saw: the message boxes, the help pages opened and
// the controls as the dialog left them.
#pragma once

#include <gtest/gtest.h>

#include <functional>
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

// What a scripted run of one dialog left: its result, the script's first
// failure, what it printed, the message boxes and help pages, and the dialog
// itself with its controls and plots as the user left them.
template <typename Dialog>
struct DialogScriptRun {
  int result = 0;
  std::string failure;  // empty when the script ran through
  std::string output;   // dumps and message boxes as the script printed them
  std::vector<MessageBoxShown> boxes;
  std::vector<std::string> help;
  std::unique_ptr<Dialog> dialog;

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
  std::vector<std::string> Items(int id) const {
    std::vector<std::string> texts;
    for (const ComboItem& item : Control(id).items) texts.push_back(item.text);
    return texts;
  }
};

// Runs the dialog `make` builds (once the platform is installed) with the
// module's resources registered.
template <typename Dialog>
DialogScriptRun<Dialog> RunScript(const std::string& script, const std::function<std::unique_ptr<Dialog>()>& make) {
  DialogScriptRun<Dialog> run;
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
  run.dialog = make();
  run.result = run.dialog->DoModal();
  axcore::InstallPlatform(nullptr);
  axcore::WithdrawResourceFolder(AX_RESOURCES_DIR);
  run.failure = user.Failure();
  run.output = out.str();
  run.boxes = platform.boxes;
  run.help = platform.HelpRequests();
  return run;
}

// A dialog built on `setup` as its parent builds it.
template <typename Dialog>
DialogScriptRun<Dialog> RunDialog(CMC_Setup& setup, const std::string& script) {
  return RunScript<Dialog>(script, [&] { return std::make_unique<Dialog>(&setup); });
}

using ScriptRun = DialogScriptRun<CDriveSetupDlg>;

// The example setup with the plug-in's scales attached, as the host hands it.
inline std::unique_ptr<CMC_Setup> ExampleSetup() {
  auto setup = testing_support::LoadExample();
  if (setup) setup->SetScaleFunctions(ModelScaleFunctions());
  return setup;
}

inline ScriptRun RunDriveSetup(CMC_Setup& setup, const std::string& script) {
  return RunDialog<CDriveSetupDlg>(setup, script);
}

}  // namespace dialog_testing
