// Any setup dialog of the plug-in, built as its caller builds it and run on
// the headless platform with a scripted user; what the user saw is kept.
#pragma once

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "DialogRun.h"

namespace dialog_testing {

template <typename Dialog>
struct DialogScriptRun {
  int result = 0;
  std::string failure;  // the script's first failure, empty when it ran through
  std::string output;   // dumps and message boxes as the script printed them
  std::vector<MessageBoxShown> boxes;
  std::vector<std::string> help;
  std::unique_ptr<Dialog> dialog;  // ended; its controls and plots as the user left them

  const ControlState& Control(int id) const {
    static const ControlState none;
    const ControlState* state = dialog->GetControl(id);
    EXPECT_NE(state, nullptr) << "control " << id;
    return state != nullptr ? *state : none;
  }
  std::string Selected(int id) const {
    const ControlState& combo = Control(id);
    return combo.selection >= 0 ? combo.items.at(static_cast<std::size_t>(combo.selection)).text : std::string();
  }
};

// `make` builds the dialog on the setup once the platform is installed.
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

// An expected state of one control; a null text or a -1 flag is not checked.
struct Expect {
  int id;
  int shown = -1;
  int enabled = -1;
  const char* text = nullptr;
  int checked = -1;
};

template <typename Dialog>
void CheckControls(const DialogScriptRun<Dialog>& run, const std::vector<Expect>& expected) {
  for (const Expect& e : expected) {
    SCOPED_TRACE("control " + std::to_string(e.id));
    const ControlState& c = run.Control(e.id);
    if (e.shown >= 0) {
      EXPECT_EQ(c.shown, e.shown == 1);
    }
    if (e.enabled >= 0) {
      EXPECT_EQ(c.enabled, e.enabled == 1);
    }
    if (e.checked >= 0) {
      EXPECT_EQ(c.checked, e.checked == 1);
    }
    if (e.text != nullptr) {
      const bool list = c.kind == axcore::ControlKind::Combo || c.kind == axcore::ControlKind::UnitCombo;
      EXPECT_EQ(list ? run.Selected(e.id) : c.text, e.text);
    }
  }
}

}  // namespace dialog_testing
