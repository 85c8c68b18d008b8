// The drive program descriptors shipped beside the plug-in are what the tests
// download: each must read, name the program of its file and hold the
// variables every program has.
#include <gtest/gtest.h>

#include <filesystem>

#include "axcore/CoffFormat.h"

namespace {

namespace fs = std::filesystem;

TEST(ProgramDescriptors, EveryShippedDescriptorReadsAndNamesItsProgram) {
  const fs::path dir = fs::path(AX_PLUGIN_PATH).parent_path() / "resources" / "programs";
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
  int count = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    CMC_CoffFormat program;
    program.SetPath(entry.path().string());
    ASSERT_EQ(program.ReadCoff(), 1) << program.GetLastError();
    EXPECT_EQ(program.GetProgramName() + ".json", entry.path().filename().string());
    EXPECT_NE(program.FindVariable("STARTED"), nullptr) << program.GetProgramName() << ": the host polls it";
    ++count;
  }
  EXPECT_GE(count, 6);
  for (const char* name : {"Initial_Positioning_Test", "VDC_Detection_Test", "Ident_R_or_Rs", "Ident_L_or_Tau_el",
                           "Motor_Phase_Connection_Test", "Current_Controller_Tuning_Test"})
    EXPECT_TRUE(fs::exists(dir / (std::string(name) + ".json"))) << name;
}

}  // namespace
