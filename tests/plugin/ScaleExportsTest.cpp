// The plug-in module as the host sees it: loaded with dlopen, reached only
// through its exported functions.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>

#include "axcore/PluginModule.h"
#include "axcore/SetupFile.h"
#include "support/TestSetup.h"

namespace {

class ScaleExports : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(module.Load(AX_PLUGIN_PATH), ""); }
  PluginModule module;
};

TEST_F(ScaleExports, GiveTheExampleDrivesFactorsThroughTheLoadedModule) {
  auto drive = testing_support::MakeDrive();
  ParameterSpec dbt;
  const struct {
    const char* unit;
    const char* name;
    double expected;
  } cases[] = {
      {"m", "APOS_MT", 1.0 / 12800000.0},  // 20 µm period, 8 interpolation bits
      {"s", "Ts_C", 50e-6},
      {"s", "time_ERR_pos", 500e-6},
      {"V", "AnalogueInputsRange", 1.0},
      {"V", "AD5", 20.0 / 65472.0},
      {"V", "Vdc", 1.1 * 48.0 / 65534.0},
      {"A", "IlimPS", 20.0 / 65472.0},
      {"unknown", "KPI", 1.0},
  };
  for (const auto& c : cases) {
    const double factor = module.getScaleFactor(drive.get(), c.unit, c.name);
    EXPECT_NEAR(factor, c.expected, c.expected * 1e-12) << c.unit << " / " << c.name;
  }
  EXPECT_EQ(module.getScaleOffset(drive.get(), "V"), 0.0);
  EXPECT_NEAR(module.getScaleOffset(drive.get(), "\xB0" "C"), -65472.0 * 0.5 / 3.3, 1e-9);
}

TEST_F(ScaleExports, ANullSetupGivesTheNeutralScale) {
  EXPECT_EQ(module.getScaleFactor(nullptr, "m", "APOS_MT"), 1.0);
  EXPECT_EQ(module.getScaleOffset(nullptr, "\xB0" "C"), 0.0);
  auto drive = testing_support::MakeDrive();
  EXPECT_EQ(module.getScaleFactor(drive.get(), nullptr, nullptr), 1.0);
}

TEST_F(ScaleExports, TheDocumentConvertsThroughTheAttachedModule) {
  auto drive = testing_support::MakeDrive();
  ParameterSpec spec;
  spec.name = "IlimPS";
  spec.unit = "A";
  spec.value = 5.0;
  CMC_Parameter* ilim = drive->AddParameter(spec);
  module.Attach(*drive);
  EXPECT_NEAR(ilim->GetValueInInternalUnit(), 5.0 * 3273.6, 1e-9);
  ilim->SetValueInInternalUnit(32767.0);
  EXPECT_NEAR(ilim->GetValueInBaseUnit(), 32767.0 / 3273.6, 1e-12);
  // A zero supply voltage makes the factor infinite: the document falls back
  // to factor 1 instead of storing an infinity.
  drive->SetParameterValueInBaseUnit("ImaxPS", 0.0);
  EXPECT_EQ(ilim->GetValueInInternalUnit(), ilim->GetValueInBaseUnit());
}

TEST_F(ScaleExports, TheModuleShowsNoSymbolButItsExports) {
  const std::string command = std::string("nm -D --defined-only '") + AX_PLUGIN_PATH + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> symbols;
  char line[512];
  while (std::fgets(line, sizeof line, pipe.get())) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    if (name.empty()) continue;
    // Sanitizer builds carry their runtime's hooks; they are not ours.
    if (name.rfind("__asan", 0) == 0 || name.rfind("__ubsan", 0) == 0 || name.rfind("__sanitizer", 0) == 0) continue;
    symbols.insert(name);
  }
  EXPECT_EQ(symbols, (std::set<std::string>{"ComputeAllOptions", "EditSetup", "GetScaleFactor", "GetScaleOffset"}));
}

}  // namespace
