#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "CodecDrivers.h"
#include "EmbeddedExamples.h"
#include "FeatureProbes.h"
#include "ScaleFactor.h"
#include "axcore/Diagnostics.h"
#include "axcore/Names.h"
#include "axcore/SetupFile.h"

namespace {


std::unique_ptr<CMC_Setup> Load(std::string_view text) {
  axcore::SetupLoad load = axcore::ParseSetup(text, "example");
  EXPECT_NE(load.setup, nullptr) << load.error;
  if (load.setup) load.setup->SetScaleFunctions(ModelScaleFunctions());
  return std::move(load.setup);
}

double Value(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

TEST(CodecDrivers, ADriveWithoutOptionalRegistersHearsOfNone) {
  // Every name the full example has and the basic one lacks is optional: a
  // feature probe or a quiet lookup guards it, so nothing may report it.
  auto full = Load(LinearDriveExample());
  auto basic = Load(LinearDriveBasicExample());
  ASSERT_TRUE(full && basic);
  axcore::CaseInsensitiveMap<int> optional;
  for (const auto& p : full->Parameters())
    if (FindParameterQuiet(*basic, p->GetName()) == nullptr) optional.emplace(p->GetName(), 0);
  for (const auto& v : full->Variables())
    if (FindVariableQuiet(*basic, v->GetName()) == nullptr) optional.emplace(v->GetName(), 1);
  axcore::TakeMissingNames();
  ASSERT_FALSE(optional.empty());

  DecodeRegisters(*basic);
  EncodeRegisters(*basic);
  for (const axcore::MissingName& missing : axcore::TakeMissingNames())
    EXPECT_EQ(optional.count(missing.name), 0u) << axcore::FormatMissingName(missing);
}

TEST(CodecDrivers, DecodeAndEncodeGiveTheExampleRegistersBack) {
  // The example was written by the drive with consistent user parameters, so
  // one pass each way is a normalisation that changes none of them.
  auto setup = Load(LinearDriveExample());
  ASSERT_TRUE(setup);
  const char* const registers[] = {
      "SCR",     "ACR",       "OSR",    "ASR",         "DIGIN_ACTIVE_LEVEL", "UPGRADE",  "MTSTYPE",  "AAR_table",
      "LSS_Active", "BRAKECFG", "BRAKERELEASEDELAY", "BRAKEAPPLYDELAY", "SWNEGLS", "SWPOSLS", "POSOKLIM_FC",
      "TONPOSOK_FC", "MECRESL", "ENC2THL", "ELRESL", "ELRES_FRACT", "COUNTINGDIR", "TRANSMISSION",
      "ABSTART_MINMOVE", "QUAL", "QUAL_ACT", "QUAL_AQ2", "CSPD", "CACC", "GEAR", "LEVEL_AD5", "E_LEVEL_AD5",
      "FILTER1", "CADIN", "SFTADIN", "AD5OFF",
  };
  std::vector<double> before;
  for (const char* name : registers) before.push_back(Value(*setup, name));
  DecodeRegisters(*setup);
  EncodeRegisters(*setup);
  for (std::size_t i = 0; i < std::size(registers); ++i) EXPECT_EQ(Value(*setup, registers[i]), before[i]) << registers[i];
}

TEST(CodecDrivers, DecodingReadsWhatEarlierStepsDecoded) {
  auto setup = Load(LinearDriveExample());
  ASSERT_TRUE(setup);
  // A stale period and control mode: the registers say 500 µs (10 * 2 * 1000
  // / 40 MHz) and position control with freeze control on.
  setup->SetParameterValueInBaseUnit("Ts_S", 0.002);
  setup->SetParameterValueInBaseUnit("ControlMode", 1);
  setup->SetParameterValueInBaseUnit("ACR", 0x0710);
  DecodeRegisters(*setup);
  EXPECT_DOUBLE_EQ(Value(*setup, "Ts_S"), 0.0005);
  EXPECT_DOUBLE_EQ(Value(*setup, "MotorBrake_releasetime"), 100 * 0.0005);
  EXPECT_DOUBLE_EQ(Value(*setup, "MotorBrake_applytime"), 60 * 0.0005);
  EXPECT_DOUBLE_EQ(Value(*setup, "FreezeControl_time"), 20 * 0.0005);
  EXPECT_EQ(Value(*setup, "ControlMode"), 0);
  EXPECT_EQ(Value(*setup, "isFreezeControl"), 1) << "freeze control acts in position mode only";
}

TEST(CodecDrivers, EncodingTakesTwoPassesToCatchUpWithANewPolePitch) {
  auto setup = Load(LinearDriveExample());
  ASSERT_TRUE(setup);
  // 32 encoder periods per pole pitch: ELRES_FRACT goes from 0 to 10 - 5 = 5.
  setup->SetParameterValueInBaseUnit("PolePitch", 0.03125);
  setup->SetParameterValueInBaseUnit("EncRes", 0.0009765625);
  EncodeRegisters(*setup);
  EXPECT_EQ(Value(*setup, "ELRES_FRACT"), 5);
  EXPECT_EQ(Value(*setup, "ENC2THL"), 4294967296.0 / 32) << "from the ELRES_FRACT 0 held before the pass";
  EncodeRegisters(*setup);
  EXPECT_EQ(Value(*setup, "ENC2THL"), 4294967296.0 / 32 / 32);
}

}  // namespace
