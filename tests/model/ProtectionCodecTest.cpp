#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "CodecSteps.h"
#include "EmbeddedExamples.h"
#include "ProtectionCodec.h"
#include "ScaleFactor.h"
#include "axcore/Diagnostics.h"
#include "axcore/SetupFile.h"
#include "support/TestSetup.h"

namespace {

using Given = std::vector<std::pair<const char*, double>>;


void ExpectNear(double actual, double expected, const std::string& what) {
  EXPECT_NEAR(actual, expected, std::fabs(expected) * 1e-12 + 1e-15) << what;
}

// The 20 kHz test drive (kI = 65472 / 20 = 3273.6 counts/A, kVdc = 65472 /
// 102.3 = 640 counts/V, Ts_S = 500 µs, sP = 12.8e6 counts/m, vS = 6400
// counts/period per m/s) with a 3 A / 9 A motor, 4 A nominal drive current
// and every protection name.
std::unique_ptr<CMC_Setup> ProtectedDrive(const Given& changes = {}) {
  auto setup = testing_support::MakeDrive();
  // clang-format off
  const Given names = {
      {"Ts_S", 0.0005}, {"In", 3}, {"ImaxM", 9}, {"InPS", 4}, {"PCR", 0}, {"isOverCurrent", 0},
      {"isMotori2t", 0}, {"isMotorOverTemp", 0}, {"isDriveOverTemp", 0}, {"isOverVoltage", 0},
      {"isUnderVoltage", 0}, {"isDriveI2t", 0}, {"UMAXPROT", 0}, {"UMAX_PROT", 0}, {"UMINPROT", 0},
      {"UMIN_PROT", 0}, {"T2MAXPROT", 0}, {"Temp_2", 0}, {"I_I2t_D", 7}, {"t_I2t_D", 8.192},
      {"I2TINTLIM_D", 0}, {"SFI2T_D", 4096}, {"II2TPROT_D", 0}, {"II2TWARLIM_D", 0}, {"I_I2t_M", 6},
      {"t_I2t_M", 16.384}, {"I2TINTLIM_M", 0}, {"SFI2T_M", 2048}, {"II2TPROT_M", 0}, {"I2TWARLIM_M", 0},
      {"IMAXPROT", 0}, {"Imax_Prot", 0}, {"TIMAXPROT", 20}, {"time_Imax_Prot", 0},
      {"isPositionControlError", 1}, {"ERRMAX", 12800}, {"ERR_position", 0}, {"TERRMAX", 20},
      {"time_ERR_pos", 0.01}, {"isSpeedControlError", 1}, {"SERRMAX", 3200}, {"ERR_speed", 0},
      {"TSERRMAX", 20}, {"time_ERR_spd", 0.01}, {"T1MAXPROT", 0}, {"BRAKELIM", 0}, {"Vbrake", 0}};
  // clang-format on
  for (const auto& [name, value] : names) {
    ParameterSpec spec;
    spec.name = name;
    spec.value = value;
    setup->AddParameter(spec);
  }
  for (const auto& [name, value] : changes) setup->SetParameterValueInBaseUnit(name, value);
  setup->SetScaleFunctions(ModelScaleFunctions());
  return setup;
}

int RunStep(CMC_Setup& setup, CodecDirection direction, const char* writes) {
  return direction == CodecDirection::Decode ? RunDecodeStep(setup, writes) : RunEncodeStep(setup, writes);
}

constexpr auto kDecode = CodecDirection::Decode;
constexpr auto kEncode = CodecDirection::Encode;

TEST(ProtectionCodec, DecodesEachFlagFromItsBitOfPCR) {
  // 0x00B1 = bits 0, 4, 5 and 7.
  const struct {
    const char* flag;
    double expected;
  } cases[] = {{"isOverCurrent", 1}, {"isMotorI2t", 0},     {"isMotorOverTemp", 0}, {"isDriveOverTemp", 0},
               {"isOverVoltage", 1}, {"isUnderVoltage", 1}, {"isDriveI2t", 1}};
  for (const auto& c : cases) {
    auto setup = ProtectedDrive({{"PCR", 0x00B1}, {c.flag, 0.5}});
    EXPECT_EQ(RunDecodeStep(*setup, c.flag), 1) << c.flag;
    EXPECT_EQ(setup->GetParameterValueInBaseUnit(c.flag), c.expected) << c.flag;
    EXPECT_EQ(setup->FindParameter(c.flag)->GetMaxInBaseUnit(), 1.0) << c.flag;
  }
  auto setup = ProtectedDrive({{"PCR", 0x0004}});
  setup->SetOption("DisableMotorTemperature", "1");
  EXPECT_EQ(DecodeisMotorOverTemp(*setup), 1);
  EXPECT_EQ(setup->FindParameter("isMotorOverTemp")->GetMaxInBaseUnit(), 0.0) << "no sensor, no protection";
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("isMotorOverTemp"), 0.0);
}

TEST(ProtectionCodec, EncodesPCRKeepingTheDrivesOwnBits) {
  const struct {
    const char* what;
    double pcr;
    double flags[7];  // over-current, motor I²t, motor temp, drive temp, over-, under-voltage, drive I²t
    double expected;
  } cases[] = {
      {"0xFF40 kept, 0x01 | 0x10 | 0x20 | 0x80 set", 0xFFFF, {1, 0, 0, 0, 1, 1, 1}, 0xFFF1},
      {"all seven flags: 0x00BF", 0, {1, 1, 1, 1, 1, 1, 1}, 0x00BF},
      {"1.9 truncates to 1, 2 is not 1, bit 6 kept", 0x0040, {1.9, 2, 0.9, -1, 0, 0, 0}, 0x0041},
  };
  const char* names[] = {"isOverCurrent", "isMotori2t",     "isMotorOverTemp", "isDriveOverTemp",
                         "isOverVoltage", "isUnderVoltage", "isDriveI2t"};
  for (const auto& c : cases) {
    auto setup = ProtectedDrive({{"PCR", c.pcr}});
    for (int i = 0; i < 7; ++i) setup->SetParameterValueInBaseUnit(names[i], c.flags[i]);
    EXPECT_EQ(EncodePCR(*setup), 1) << c.what;
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("PCR"), c.expected) << c.what;
  }
}

TEST(ProtectionCodec, APCRThatIsNoRegisterValueWritesNothing) {
  // Would be undefined behaviour if converted to an integer.
  for (double pcr : {1e300, -1e300, 4294967296.0}) {
    auto setup = ProtectedDrive({{"PCR", pcr}, {"isOverVoltage", 1}});
    EXPECT_EQ(DecodeisOverCurrent(*setup), 0) << pcr;
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("isOverCurrent"), 0.0) << pcr;
    EXPECT_EQ(EncodePCR(*setup), 0) << pcr;
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("PCR"), pcr) << pcr;
  }
}

TEST(ProtectionCodec, ConvertsThresholdsDelaysAndLimitsWorkedByHand) {
  const struct {
    CodecDirection direction;
    const char* writes;
    Given given;
    double expected;
    const char* arithmetic;
  } cases[] = {
      {kDecode, "UMAX_PROT", {{"UMAXPROT", 38400}}, 60, "38400 / 640"},
      {kEncode, "UMAXPROT", {{"UMAX_PROT", 60.01}}, 38406, "60.01 * 640 = 38406.4, truncated"},
      {kEncode, "UMINPROT", {{"UMIN_PROT", 10.01}}, 6406.4, "10.01 * 640, not rounded"},
      {kDecode, "UMIN_PROT", {{"UMINPROT", 6400}}, 10, "6400 / 640"},
      {kDecode, "Vbrake", {{"BRAKELIM", 35840}}, 56, "35840 / 640"},
      {kEncode, "BRAKELIM", {{"Vbrake", 56.1}}, 35904, "56.1 * 640"},
      {kDecode, "Temp_2", {{"T2MAXPROT", 25792}}, 80, "3.3 * 25792 / 65472 = 1.3 V; (1.3 - 0.5) / 0.01"},
      {kEncode, "T2MAXPROT", {{"Temp_2", 80}}, 25792, "65472 * (0.5 + 0.01 * 80) / 3.3"},
      {kDecode, "Imax_Prot", {{"IMAXPROT", 26188.8}}, 8, "26188.8 / 3273.6"},
      {kEncode, "IMAXPROT", {{"Imax_Prot", 5}}, 16368, "5 * 3273.6"},
      {kDecode, "time_Imax_Prot", {{"TIMAXPROT", 20}}, 0.01, "20 * 500 µs"},
      {kEncode, "TIMAXPROT", {{"time_Imax_Prot", 0.01}}, 20, "0.01 / 500 µs"},
      {kEncode, "II2TPROT_D", {}, 13094.4, "InPS 4 * 3273.6"},
      {kEncode, "II2TPROT_M", {}, 9820.8, "In 3 * 3273.6"},
      {kEncode, "I2TINTLIM_D", {}, 33.0 * 3273.6 * 3273.6 / 16.0, "(7^2 - 4^2) * kI^2 / 16"},
      {kEncode, "II2TWARLIM_D", {}, 33.0 * 3273.6 * 3273.6 / 16.0 * 0.755859375, "... * (1 - 2 / 8.192)"},
      {kEncode, "I2TWARLIM_M", {}, 27.0 * 3273.6 * 3273.6 / 16.0 * 0.8779296875, "(6^2 - 3^2) ... (1 - 2 / 16.384)"},
      {kEncode, "SFI2T_D", {}, 4096, "500 µs * 2^26 / 8.192 s"},
      {kEncode, "T1MAXPROT", {}, 32767, "always the largest value"},
      {kDecode, "isPositionControlError", {{"TERRMAX", 65535}}, 0, "65535: off"},
      {kDecode, "isSpeedControlError", {{"TSERRMAX", 0}}, 1, "any other delay: on"},
      {kEncode, "TERRMAX", {{"isPositionControlError", 0}, {"time_ERR_pos", 0.02}}, 65535, "off, whatever the time"},
      {kEncode, "TERRMAX", {{"isPositionControlError", 0}, {"Ts_S", 0}}, 65535, "off needs no period"},
      {kEncode, "TSERRMAX", {{"time_ERR_spd", 0.02}}, 40, "0.02 / 500 µs"},
      {kDecode, "time_ERR_pos", {{"TERRMAX", 40}}, 0.02, "40 * 500 µs"},
      {kDecode, "ERR_position", {}, 0.001, "12800 / 12.8e6"},
      {kDecode, "ERR_position", {{"Load_transmission", -1}}, 0.001, "a reversed load: still a distance"},
      {kEncode, "ERRMAX", {{"ERR_position", 0.002}}, 25600, "0.002 * 12.8e6"},
      {kDecode, "ERR_speed", {}, 0.5, "3200 / 6400"},
      {kEncode, "SERRMAX", {{"ERR_speed", 0.25}, {"Load_transmission", -2}}, 800, "0.25 * |-3200|"},
  };
  for (const auto& c : cases) {
    auto setup = ProtectedDrive(c.given);
    EXPECT_EQ(RunStep(*setup, c.direction, c.writes), 1) << c.writes << ": " << c.arithmetic;
    ExpectNear(setup->GetParameterValueInBaseUnit(c.writes), c.expected, std::string(c.writes) + ": " + c.arithmetic);
  }
}

TEST(ProtectionCodec, DecodesTheRangesItsUsersMayChooseFrom) {
  const struct {
    const char* writes;
    double min, max;
  } cases[] = {
      {"Imax_Prot", 0, 9},                 // the smaller of ImaxM 9 and ImaxPS 10
      {"I_I2t_D", 4, 10},                  // InPS .. ImaxPS
      {"I_I2t_M", 3.3, 9},                 // 1.1 * In .. ImaxM
      {"t_I2t_M", 1.024, 33554.432},       // 2048 and 2^26 periods of 500 µs
      {"time_ERR_spd", 0, 16.3835},        // 32767 periods
      {"ERR_speed", 0, 32767.0 / 6400.0},  // 32767 counts
      {"ERR_position", 0, 32767.0 / 12800000.0},
      {"Vbrake", 1, 102.3},  // 1 V .. VdcMaxMeasurable
  };
  for (const auto& c : cases) {
    auto setup = ProtectedDrive();
    ASSERT_EQ(RunDecodeStep(*setup, c.writes), 1) << c.writes;
    ExpectNear(setup->FindParameter(c.writes)->GetMinInBaseUnit(), c.min, c.writes);
    ExpectNear(setup->FindParameter(c.writes)->GetMaxInBaseUnit(), c.max, c.writes);
  }
}

TEST(ProtectionCodec, I2tCurrentsAndTimesComeBackFromTheirRegisters) {
  const struct {
    const char *current, *time, *limit, *scale;
    double amps, seconds;
  } cases[] = {
      {"I_I2t_D", "t_I2t_D", "I2TINTLIM_D", "SFI2T_D", 4, 1.024},  // both at their lowest
      {"I_I2t_D", "t_I2t_D", "I2TINTLIM_D", "SFI2T_D", 7.3, 12.5},
      {"I_I2t_D", "t_I2t_D", "I2TINTLIM_D", "SFI2T_D", 10, 33554.432},  // both at their highest
      {"I_I2t_M", "t_I2t_M", "I2TINTLIM_M", "SFI2T_M", 3.3, 1.024},
      {"I_I2t_M", "t_I2t_M", "I2TINTLIM_M", "SFI2T_M", 6.1, 300},
      {"I_I2t_M", "t_I2t_M", "I2TINTLIM_M", "SFI2T_M", 9, 33554.432},
  };
  for (const auto& c : cases) {
    auto setup = ProtectedDrive({{c.current, c.amps}, {c.time, c.seconds}});
    ASSERT_EQ(RunEncodeStep(*setup, c.limit), 1) << c.limit;
    ASSERT_EQ(RunEncodeStep(*setup, c.scale), 1) << c.scale;
    setup->SetParameterValueInBaseUnit(c.current, 0);
    setup->SetParameterValueInBaseUnit(c.time, 0);
    ASSERT_EQ(RunDecodeStep(*setup, c.current), 1) << c.current;
    ASSERT_EQ(RunDecodeStep(*setup, c.time), 1) << c.time;
    ExpectNear(setup->GetParameterValueInBaseUnit(c.current), c.amps, c.current);
    ExpectNear(setup->GetParameterValueInBaseUnit(c.time), c.seconds, c.time);
  }
}

TEST(ProtectionCodec, EachRowUsesTheSpeedLoopPeriodItNames) {
  // Ts_S (parameter) 1 ms, registers 500 µs: SFI2T 4096 is 2^26 / 4096 = 16384 periods.
  auto setup = ProtectedDrive({{"Ts_S", 0.001}, {"SFI2T_D", 4096}, {"SFI2T_M", 4096}, {"TIMAXPROT", 10}});
  ASSERT_EQ(Decodet_I2t_D(*setup), 1);
  ExpectNear(setup->GetParameterValueInBaseUnit("t_I2t_D"), 16.384, "drive: 16384 * 1 ms, the parameter");
  ExpectNear(setup->FindParameter("t_I2t_D")->GetMaxInBaseUnit(), 33554.432, "range from the registers");
  ASSERT_EQ(Decodet_I2t_M(*setup), 1);
  ExpectNear(setup->GetParameterValueInBaseUnit("t_I2t_M"), 8.192, "motor: 16384 * 500 µs, the registers");
  ASSERT_EQ(Decodetime_Imax_Prot(*setup), 1);
  ExpectNear(setup->GetParameterValueInBaseUnit("time_Imax_Prot"), 0.005, "10 * 500 µs");
  ASSERT_EQ(EncodeTIMAXPROT(*setup), 1);
  ExpectNear(setup->GetParameterValueInBaseUnit("TIMAXPROT"), 5, "0.005 s / 1 ms");
}

TEST(ProtectionCodec, AnEmptyRangeWritesNothing) {
  const struct {
    const char* writes;
    Given given;
  } cases[] = {
      {"I_I2t_M", {{"In", 8.5}}},      // 1.1 * 8.5 = 9.35 above ImaxM 9
      {"I_I2t_D", {{"InPS", 10.5}}},   // above ImaxPS 10
      {"Imax_Prot", {{"ImaxM", -1}}},  // a negative peak
      {"Vbrake", {{"VdcMaxMeasurable", 0.5}}},
  };
  for (const auto& c : cases) {
    auto setup = ProtectedDrive(c.given);
    CMC_Parameter* target = setup->FindParameter(c.writes);
    target->SetMinInBaseUnit(-100);
    target->SetMaxInBaseUnit(100);
    target->SetValueInBaseUnit(42);
    EXPECT_EQ(RunDecodeStep(*setup, c.writes), 0) << c.writes;
    EXPECT_EQ(target->GetValueInBaseUnit(), 42.0) << c.writes;
    EXPECT_EQ(target->GetMinInBaseUnit(), -100.0) << c.writes;
    EXPECT_EQ(target->GetMaxInBaseUnit(), 100.0) << c.writes;
  }
}

TEST(ProtectionCodec, AZeroScaleOrPeriodWritesNothingAndFails) {
  const struct {
    const char* zeroed;
    std::vector<std::pair<CodecDirection, const char*>> steps;
  } cases[] = {
      {"ImaxPS",  // kI infinite: every current would read 0 A
       {{kDecode, "I_I2t_D"},
        {kDecode, "I_I2t_M"},
        {kDecode, "Imax_Prot"},
        {kEncode, "II2TPROT_D"},
        {kEncode, "I2TINTLIM_D"},
        {kEncode, "I2TWARLIM_M"},
        {kEncode, "IMAXPROT"}}},
      {"VdcMaxMeasurable",
       {{kDecode, "UMAX_PROT"},
        {kDecode, "Vbrake"},
        {kEncode, "UMAXPROT"},
        {kEncode, "UMINPROT"},
        {kEncode, "BRAKELIM"}}},
      {"SLPER",
       {{kDecode, "t_I2t_D"},
        {kDecode, "t_I2t_M"},
        {kDecode, "time_ERR_pos"},
        {kDecode, "ERR_speed"},
        {kEncode, "SERRMAX"}}},
      {"Ts_S", {{kDecode, "t_I2t_D"}, {kEncode, "SFI2T_M"}, {kEncode, "TIMAXPROT"}, {kEncode, "TERRMAX"}}},
      {"Motor_transmission", {{kDecode, "ERR_position"}, {kEncode, "ERRMAX"}, {kEncode, "SERRMAX"}}},
      {"DriveTempSensorGain", {{kDecode, "Temp_2"}, {kEncode, "T2MAXPROT"}}},
      {"ADCrange", {{kDecode, "Temp_2"}, {kEncode, "T2MAXPROT"}}},
      {"SFI2T_D", {{kDecode, "t_I2t_D"}}},
      {"t_I2t_M", {{kEncode, "SFI2T_M"}, {kEncode, "I2TWARLIM_M"}}},
  };
  for (const auto& c : cases) {
    for (const auto& [direction, writes] : c.steps) {
      auto setup = ProtectedDrive({{c.zeroed, 0}, {writes, 42}});
      EXPECT_EQ(RunStep(*setup, direction, writes), 0) << c.zeroed << " 0: " << writes;
      EXPECT_EQ(setup->GetParameterValueInBaseUnit(writes), 42.0) << c.zeroed << " 0: " << writes;
    }
    auto setup = ProtectedDrive({{c.zeroed, 0}});
    for (const CodecStep& step : ProtectionCodecSteps()) step.run(*setup);
    for (const auto& p : setup->Parameters())
      EXPECT_TRUE(std::isfinite(p->GetValueInBaseUnit())) << c.zeroed << " 0: " << p->GetName();
  }
}

TEST(ProtectionCodec, ReportsEveryMissingNameAndWritesNothing) {
  const struct {
    CodecDirection direction;
    const char* writes;
    std::vector<const char*> removed;
  } cases[] = {
      {kDecode, "Imax_Prot", {"ImaxM"}},
      {kDecode, "ERR_position", {"EncRes"}},  // an input of the load position scale
      {kEncode, "PCR", {"isOverVoltage", "isDriveI2t"}},
      {kDecode, "t_I2t_D", {"Ts_S", "SLPER"}},
  };
  for (const auto& c : cases) {
    auto setup = ProtectedDrive({{c.writes, 42}});
    for (const char* name : c.removed) setup->RemoveParameter(name);
    axcore::TakeMissingNames();
    EXPECT_EQ(RunStep(*setup, c.direction, c.writes), 0) << c.writes;
    EXPECT_EQ(setup->GetParameterValueInBaseUnit(c.writes), 42.0) << c.writes;
    std::vector<std::string> reported;
    for (const auto& missing : axcore::TakeMissingNames()) reported.push_back(missing.name);
    EXPECT_EQ(reported, std::vector<std::string>(c.removed.begin(), c.removed.end())) << c.writes;
  }
}

TEST(ProtectionCodec, OptionalRegistersAreSkippedSilently) {
  // Only one warning limit: the drive has none in the sense of the probe.
  auto setup = ProtectedDrive({{"II2TWARLIM_D", 42}});
  setup->RemoveParameter("I2TWARLIM_M");
  setup->RemoveParameter("T1MAXPROT");
  axcore::TakeMissingNames();
  EXPECT_EQ(EncodeII2TWARLIM_D(*setup), 0);
  EXPECT_EQ(EncodeI2TWARLIM_M(*setup), 0);
  EXPECT_EQ(EncodeT1MAXPROT(*setup), 0);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("II2TWARLIM_D"), 42.0);
  EXPECT_TRUE(axcore::TakeMissingNames().empty());
}

TEST(ProtectionCodec, EveryStepReproducesTheExampleSetup) {
  for (CodecDirection direction : {kDecode, kEncode}) {
    axcore::SetupLoad load = axcore::ParseSetup(LinearDriveExample(), "linear-drive.json");
    ASSERT_NE(load.setup, nullptr) << load.error;
    CMC_Setup& setup = *load.setup;
    setup.SetScaleFunctions(ModelScaleFunctions());
    for (const CodecStep& step : ProtectionCodecSteps()) {
      if (step.direction != direction) continue;
      const std::string name(step.writes);
      const double held = setup.GetParameterValueInBaseUnit(name);
      EXPECT_EQ(step.run(setup), 1) << name;
      EXPECT_NEAR(setup.GetParameterValueInBaseUnit(name), held, std::fabs(held) * 1e-12) << name;
    }
  }
}

}  // namespace
