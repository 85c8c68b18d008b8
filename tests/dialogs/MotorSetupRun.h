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
using MotorRun = dialog_testing::DialogScriptRun<Dialog>;

template <typename Dialog>
MotorRun<Dialog> RunMotorDialog(CMC_Setup& setup, const std::string& script) {
  return dialog_testing::RunDialog<Dialog>(setup, script);
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
