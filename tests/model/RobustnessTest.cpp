// Damaged setups through everything the host and the dialogs run on them:
// ComputeAllOptions through the loaded module, then the dialogs'
// normalisation (EncodeRegisters, DecodeRegisters) and the single rules the
// dialogs call. Nothing may crash or trip the sanitizers, and the document
// must come out with finite values and finite bounds only.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "CodecDrivers.h"
#include "EmbeddedExamples.h"
#include "Limits.h"
#include "axcore/Diagnostics.h"
#include "axcore/PluginModule.h"
#include "axcore/SetupFile.h"
#include "support/SetupMutations.h"

namespace {

constexpr std::uint32_t kSeed = 20240611;

class Robustness : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module = new PluginModule;
    ASSERT_EQ(module->Load(AX_PLUGIN_PATH), "");
    ASSERT_NE(module->computeAllOptions, nullptr);
  }
  static void TearDownTestSuite() {
    delete module;
    module = nullptr;
  }
  static PluginModule* module;
};

PluginModule* Robustness::module = nullptr;

TEST_F(Robustness, ANullSetupIsLeftAlone) {
  module->computeAllOptions(nullptr);  // must simply return
  EXPECT_TRUE(axcore::TakeMissingNames().empty()) << "nothing was looked up";
}

TEST_F(Robustness, DamagedExamplesKeepEveryValueAndBoundFinite) {
  const std::string_view examples[] = {LinearDriveExample(), LinearDriveBasicExample()};
  CMC_Setup originals[2];
  for (int i = 0; i < 2; ++i) {
    auto load = axcore::ParseSetup(examples[i], "example");
    ASSERT_TRUE(load.setup) << load.error;
    originals[i] = *load.setup;
  }
  // 400 setups: about 12 s under the sanitizers, a fraction of that without.
  constexpr int kCases = 400;
  for (int index = 0; index < kCases; ++index) {
    std::mt19937 rng(kSeed + static_cast<std::uint32_t>(index));
    CMC_Setup setup = originals[index % 2];
    const std::string changes = testing_support::Mutate(setup, rng, 1 + static_cast<int>(rng() % 12));
    const std::string where = "case " + std::to_string(index) + " (" + (index % 2 ? "basic" : "full") +
                              " example: " + changes + ")";
    module->Attach(setup);
    const std::size_t parameters = setup.Parameters().size(), variables = setup.Variables().size();

    module->computeAllOptions(&setup);
    ASSERT_EQ(testing_support::FindNonFinite(setup), "") << where << " after ComputeAllOptions";
    EncodeRegisters(setup);
    DecodeRegisters(setup);
    ASSERT_EQ(testing_support::FindNonFinite(setup), "") << where << " after EncodeRegisters, DecodeRegisters";
    // The rules the dialogs call on their own, on the normalised setup.
    ApplySpeedFeedforwardRule(setup);
    SetEncResLimits(setup);
    SetMaxCurrentLimits(setup);
    SetAnalogueReferenceLimits(setup);
    SetControlStructureOptions(setup);
    SwitchUnitTypes(setup);
    ASSERT_EQ(testing_support::FindNonFinite(setup), "") << where << " after the single rules";
    ASSERT_EQ(setup.Parameters().size(), parameters) << where << ": no rule creates a parameter";
    ASSERT_EQ(setup.Variables().size(), variables) << where;
    axcore::TakeMissingNames();
  }
}

}  // namespace
