// A plug-in dialog run on the headless platform with a scripted user, with
// the user's motor database in a folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DialogRun.h"
#include "support/HostRunner.h"

namespace motor_testing {

template <typename Dialog>
struct MotorRun {
  int result = 0;
  std::string failure;  // the script's first failure, empty when it ran through
  std::string output;   // dumps and message boxes as the script printed them
  std::vector<dialog_testing::MessageBoxShown> boxes;
  std::vector<std::string> help;
  std::unique_ptr<Dialog> dialog;  // ended; its controls as the user left them

  const ControlState& Control(int id) const { return *dialog->GetControl(id); }
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

template <typename Dialog>
MotorRun<Dialog> RunMotorDialog(CMC_Setup& setup, const std::string& script) {
  MotorRun<Dialog> run;
  std::string error;
  auto lines = axcore::ParseScript(script, error);
  if (!lines) {
    run.failure = error;
    return run;
  }
  std::ostringstream out;
  axcore::ScriptedUser user(std::move(*lines), out);
  dialog_testing::RecordingPlatform platform(&user);
  axcore::RegisterResourceFolder(AX_RESOURCES_DIR);
  axcore::InstallPlatform(&platform);
  run.dialog = std::make_unique<Dialog>(&setup);
  run.result = run.dialog->DoModal();
  axcore::InstallPlatform(nullptr);
  axcore::WithdrawResourceFolder(AX_RESOURCES_DIR);
  run.failure = user.Failure();
  run.output = out.str();
  run.boxes = platform.boxes;
  run.help = platform.HelpRequests();
  return run;
}

// XDG_CONFIG_HOME points to a folder of the test's own while it runs.
class MotorDatabaseFolder : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("XDG_CONFIG_HOME", m_config.path().c_str(), 1); }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
  std::filesystem::path UserMotors() const { return m_config.path() / "axsetup" / "motors"; }
  void WriteUserMotor(const std::string& file, const std::string& text) const {
    std::filesystem::create_directories(UserMotors());
    std::ofstream(UserMotors() / file, std::ios::binary) << text;
  }

 private:
  testing_support::TempDir m_config{"axmotors"};
};

}  // namespace motor_testing
