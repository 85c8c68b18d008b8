// The example setups are what a drive holds after the plug-in has run: the
// host's ComputeAllOptions (through the loaded module) and then the register
// encoding give back every register, user value and range they hold.
#include <gtest/gtest.h>

#include "CodecDrivers.h"
#include "EmbeddedExamples.h"
#include "axcore/Diagnostics.h"
#include "axcore/PluginModule.h"
#include "axcore/SetupFile.h"

namespace {

TEST(ExampleSetups, AreAFixedPointOfComputeAllOptionsAndEncodeRegisters) {
  PluginModule module;
  ASSERT_EQ(module.Load(AX_PLUGIN_PATH), "");
  ASSERT_NE(module.computeAllOptions, nullptr);
  for (std::string_view example : {LinearDriveExample(), LinearDriveBasicExample()}) {
    axcore::SetupLoad load = axcore::ParseSetup(example, "example");
    ASSERT_NE(load.setup, nullptr) << load.error;
    const CMC_Setup original = *load.setup;
    CMC_Setup& setup = *load.setup;
    module.Attach(setup);
    axcore::TakeMissingNames();
    module.computeAllOptions(&setup);
    EncodeRegisters(setup);
    for (const axcore::MissingName& missing : axcore::TakeMissingNames())
      ADD_FAILURE() << setup.GetDescription() << ": " << axcore::FormatMissingName(missing);
    ASSERT_EQ(setup.Parameters().size(), original.Parameters().size());
    for (const auto& before : original.Parameters()) {
      const CMC_Parameter& after = *setup.FindParameter(before->GetName());
      EXPECT_EQ(after.GetValueInBaseUnit(), before->GetValueInBaseUnit()) << before->GetName();
      EXPECT_EQ(after.GetMinInBaseUnit(), before->GetMinInBaseUnit()) << before->GetName();
      EXPECT_EQ(after.GetMaxInBaseUnit(), before->GetMaxInBaseUnit()) << before->GetName();
      EXPECT_STREQ(after.GetShownUnit().GetName(), before->GetShownUnit().GetName()) << before->GetName();
    }
    for (const auto& [name, text] : original.Options()) EXPECT_EQ(setup.GetOptionNoError(name), text) << name;
  }
}

}  // namespace
