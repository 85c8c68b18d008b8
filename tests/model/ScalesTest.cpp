#include <gtest/gtest.h>

#include <cmath>

#include "FeatureProbes.h"
#include "ScaleFactor.h"
#include "Scales.h"
#include "axcore/Diagnostics.h"
#include "support/TestSetup.h"

namespace {

using testing_support::MakeDrive;
using testing_support::MakeSetup;

// Relative comparison: the expected values are worked out by hand, not by
// repeating the code's order of operations.
void ExpectNear(double actual, double expected, const std::string& what) {
  EXPECT_NEAR(actual, expected, std::fabs(expected) * 1e-12) << what;
}

TEST(Scales, SamplingPeriodsOfThe20kHzDrive) {
  auto drive = MakeDrive();
  ExpectNear(PwmFrequency(*drive), 20000.0, "PWM frequency");
  ExpectNear(CurrentLoopPeriod(*drive), 50e-6, "Ts_C");
  ExpectNear(SpeedLoopPeriod(*drive), 500e-6, "Ts_S");
  drive->SetParameterValueInBaseUnit("Ts_S", 1.0);  // not a parameter here: the scales never read it
  ExpectNear(SpeedLoopPeriod(*drive), 500e-6, "Ts_S stays computed from the registers");
}

TEST(Scales, QuantityScalesOfTheExampleDrive) {
  auto drive = MakeDrive();
  const struct {
    const char* what;
    double (*scale)(const CMC_Setup&);
    double expected;
  } cases[] = {
      {"voltage command: 65534 / (1.1 * 48)", VoltageCommandScale, 65534.0 / 52.8},
      {"measured voltage: 65472 / 102.3", MeasuredVoltageScale, 640.0},
      {"current: 65472 / 20", CurrentScale, 3273.6},
      {"motor position: 256 / 20 µm", MotorPositionScale, 12800000.0},
      {"load position, 1:1", LoadPositionScale, 12800000.0},
      {"motor speed: 500 µs * 12.8e6", MotorSpeedScale, 6400.0},
      {"load speed", LoadSpeedScale, 6400.0},
      {"load acceleration: (500 µs)^2 * 12.8e6", LoadAccelerationScale, 3.2},
      {"load jerk: (500 µs)^3 * 12.8e6", LoadJerkScale, 0.0016},
  };
  for (const auto& c : cases) ExpectNear(c.scale(*drive), c.expected, c.what);
}

TEST(Scales, LoadScalesFollowTheTransmissionAndInterpolationBits) {
  auto drive = MakeDrive();
  drive->SetParameterValueInBaseUnit("Load_transmission", -2.0);
  drive->SetParameterValueInBaseUnit("SINCOS_fract", 8.9);  // the fraction is dropped
  ExpectNear(MotorPositionScale(*drive), 12800000.0, "motor scale ignores the transmission");
  ExpectNear(LoadPositionScale(*drive), -6400000.0, "1 / -2 of the motor scale");
  ExpectNear(LoadSpeedScale(*drive), -3200.0, "negative with the transmission");
  ExpectNear(LoadAccelerationScale(*drive), -1.6, "negative with the transmission");
}

TEST(Scales, DeadTimeTakesTheLargerByteOfDBT) {
  const struct {
    const char* what;
    bool hasDbt;
    double dbt;
    bool hasPercent;
    double percent;
    double expected;
  } cases[] = {
      {"DBT 2580: bytes 20 and 10, half effective", true, 2580, false, 0, 20 * 0.5 / 40e6},
      {"high byte larger", true, 0x1405, true, 100, 20 * 1.0 / 40e6},
      {"low byte 255", true, 0x00FF, false, 0, 255 * 0.5 / 40e6},
      {"DBTPC 30 %", true, 2580, true, 30, 20 * 0.3 / 40e6},
      {"fraction of DBT dropped", true, 2580.9, false, 0, 20 * 0.5 / 40e6},
      {"DBT 0 means 1 µs", true, 0, true, 80, 1e-6},
      {"no DBT: no dead time", false, 0, true, 80, 0.0},
  };
  for (const auto& c : cases) {
    auto drive = MakeDrive();
    if (c.hasDbt) drive = MakeSetup({{"DSP_freq", 40e6}, {"DBT", c.dbt}});
    else drive = MakeSetup({{"DSP_freq", 40e6}});
    if (c.hasPercent) {
      ParameterSpec spec;
      spec.name = "DBTPC";
      spec.value = c.percent;
      drive->AddParameter(spec);
    }
    axcore::TakeMissingNames();
    ExpectNear(DeadTime(*drive), c.expected, c.what);
    EXPECT_TRUE(axcore::TakeMissingNames().empty()) << c.what << ": DBT and DBTPC are optional";
  }
  auto huge = MakeSetup({{"DSP_freq", 40e6}, {"DBT", 1e300}});
  EXPECT_TRUE(std::isnan(DeadTime(*huge))) << "no register holds 1e300: no dead time can be derived";
}

TEST(Scales, QuietReadersOfTheMinimumPeriods) {
  auto without = MakeSetup({});
  auto with = MakeSetup({{"Ts_C_min", 62.5e-6}, {"Ts_S_min", 250e-6}});
  axcore::TakeMissingNames();
  EXPECT_EQ(GetTsCMin(*without), 0.0);
  EXPECT_EQ(GetTsSMin(*without), 0.0);
  EXPECT_EQ(GetTsCMin(*with), 62.5e-6);
  EXPECT_EQ(GetTsSMin(*with), 250e-6);
  EXPECT_TRUE(axcore::TakeMissingNames().empty());
}

TEST(ScaleFactor, TableRowsWorkedOutForTheExampleDrive) {
  auto drive = MakeDrive();
  const double kV = 65534.0 / 52.8, kI = 3273.6;
  const struct {
    const char* unit;
    const char* name;
    double expected;
  } cases[] = {
      {"V ", "Vdc_measured", 102.3 / 65472.0},
      {"v ", "anything", 102.3 / 65472.0},
      {"V", "AnalogueInputsRange", 1.0},
      {"V", "AD5", 20.0 / 65472.0},
      {"v", "deadband_POINT", 20.0 / 65472.0},
      {"V", "AD2FIL_VAL", 20.0 / 65472.0},
      {"V", "Vdc", 1.1 * 48.0 / 65534.0},
      {"A", "IlimPS", 1.0 / kI},
      {"s", "Ts_C", 50e-6},
      {"S", "ts_c", 50e-6},
      {"s", "time_ERR_pos", 500e-6},
      {"rad", "THTST", 9.587672516830327e-5},
      {"m", "APOS_MT", 1.0 / 12800000.0},
      {"m", "Motor_Position", 1.0 / 12800000.0},
      {"m", "Negative_SWLS", 1.0 / 12800000.0},
      {"m/s", "ASPD", 1.0 / 6400.0},
      {"m/s", "Motor_Speed_Reference", 1.0 / 6400.0},
      {"m/s", "ERR_speed", 1.0 / 6400.0},
      {"m/s^2", "CACC", 1.0 / 3.2},
      {"rad/s^2", "CACC", 1.0 / 3.2},
      {"m/s^3", "JERK", 1.0 / 0.0016},
      {"V/s", "VoltageSlope", 1.0 / (kV * 500e-6)},
      {"A/s", "CurrentSlope", 1.0 / (kI * 500e-6)},
      {"ohm", "R", 1.0},
      {"", "KPI", 1.0},
      {"furlong", "KPI", 1.0},
      {"V  ", "Vdc", 1.0},  // two blanks: no row
  };
  for (const auto& c : cases)
    ExpectNear(ComputeScaleFactor(*drive, c.unit, c.name), c.expected, std::string(c.unit) + " / " + c.name);
}

TEST(ScaleFactor, DistancesArePositiveWhateverTheTransmission) {
  auto drive = MakeDrive();
  drive->SetParameterValueInBaseUnit("Load_transmission", -2.0);  // load scale -6.4e6 counts/m
  const struct {
    const char* unit;
    const char* name;
    double expected;
  } cases[] = {
      {"m", "ERR_position", 1.0 / 6400000.0},     {"m", "FreezeControl_errband", 1.0 / 6400000.0},
      {"m", "TestPosition", 1.0 / 6400000.0},     {"m", "POS_max", 1.0 / 6400000.0},
      {"m", "Positive_SWLS", -1.0 / 6400000.0},   {"m", "APOS_MT", 1.0 / 12800000.0},
      {"rad", "pos_min", 1.0 / 6400000.0},        {"rad", "APOS", -1.0 / 6400000.0},
      {"m/s", "Limit_Speed", 1.0 / 3200.0},       {"m/s", "ErefMaxSpeed", 1.0 / 3200.0},
      {"rad/s", "TestSpeed", 1.0 / 3200.0},       {"rad/s", "SPD_min", 1.0 / 3200.0},
      {"rad/s", "ASPD_LD", -1.0 / 3200.0},        {"m/s", "Motor_Speed", 1.0 / 6400.0},
      {"m/s^2", "CACC", -1.0 / 1.6},
  };
  for (const auto& c : cases)
    ExpectNear(ComputeScaleFactor(*drive, c.unit, c.name), c.expected, std::string(c.unit) + " / " + c.name);
}

TEST(ScaleFactor, DriveTemperatureInBothSpellingsOfDegreesCelsius) {
  auto drive = MakeDrive();
  // 3.3 V converter span, 10 mV/°C, 0.5 V at 0 °C.
  const double factor = 3.3 / (65472.0 * 0.01);
  const double offset = -(65472.0 * 0.5 / 3.3);
  for (const char* unit : {"\xB0" "C", "\xC2\xB0" "C", "\xB0" "c"}) {
    ExpectNear(ComputeScaleFactor(*drive, unit, "Temp_2"), factor, "factor");
    ExpectNear(ComputeScaleOffset(*drive, unit), offset, "offset");
    // 25 °C: the sensor gives 0.75 V, read as 0.75 / 3.3 * 65472 counts.
    const double reading = 0.75 / 3.3 * 65472.0;
    ExpectNear((reading + ComputeScaleOffset(*drive, unit)) * ComputeScaleFactor(*drive, unit, "Temp_2"), 25.0,
               "a reading of 0.75 V is 25 °C");
  }
  for (const char* unit : {"V", "A", "m/s", "C", "", "V "}) EXPECT_EQ(ComputeScaleOffset(*drive, unit), 0.0) << unit;
  EXPECT_EQ(ComputeScaleOffset(*drive, nullptr), 0.0);
}

TEST(ScaleFactor, TinctstIsTheAngleStepPerCurrentPeriodOverTheAngleResolution) {
  auto drive = MakeDrive();
  ParameterSpec spec;
  for (auto [name, value] : {std::pair{"ENC2THL", 83886.0}, std::pair{"MECRESL", 1600.0}}) {
    spec.name = name;
    spec.value = value;
    drive->AddParameter(spec);
  }
  const double perPeriod = 9.587672516830327e-5 / 50e-6;
  ExpectNear(ComputeScaleFactor(*drive, "rad/s", "TINCTST"), perPeriod, "without ELRES_FRACT");
  // With 8 fractional bits: 256 * 1600 * 83886 / 2^32 = 7.9999924 rounds to 8.
  spec.name = "ELRES_FRACT";
  spec.value = 8;
  drive->AddParameter(spec);
  ExpectNear(ComputeScaleFactor(*drive, "RAD/S", "tinctst"), perPeriod / 8.0, "with ELRES_FRACT 8");
  drive->SetParameterValueInBaseUnit("ELRES_FRACT", 5);  // 32 * 1600 * 83886 / 2^32 rounds to 1
  ExpectNear(ComputeScaleFactor(*drive, "rad/s", "TINCTST"), perPeriod, "with ELRES_FRACT 5");
}

TEST(FeatureProbes, AnswerQuietlyAndNeedEveryName) {
  auto setup = MakeSetup({{"BRAKECFG", 0}, {"II2TWARLIM_D", 0}, {"I2TWARLIM_M", 0}, {"CADIN", 0}});
  axcore::TakeMissingNames();
  EXPECT_FALSE(HasMotorBrake(*setup)) << "needs \"isMotorBrake\" too";
  EXPECT_TRUE(HasI2tWarningLimits(*setup));
  EXPECT_FALSE(HasAnalogueReference(*setup)) << "needs the variable \"CADIN\" too";
  setup->AddVariable("cadin", "");
  EXPECT_TRUE(HasAnalogueReference(*setup));
  EXPECT_FALSE(HasElresFract(*setup));
  EXPECT_TRUE(axcore::TakeMissingNames().empty());
  EXPECT_EQ(g_bShowErrors, 1);
}

TEST(FeatureProbes, OptionTests) {
  CMC_Setup setup;
  EXPECT_EQ(GetInputsTypeProgrammable(setup), -1);
  setup.SetOption("IsInputsTypeProgrammable", "");
  EXPECT_EQ(GetInputsTypeProgrammable(setup), -1);
  setup.SetOption("IsInputsTypeProgrammable", "0");
  EXPECT_EQ(GetInputsTypeProgrammable(setup), 0);
  EXPECT_FALSE(HasNegativeTransmission(setup));
  setup.SetOption("hasNegTransmission", "1");
  setup.SetOption("NewDeadBand", "2");
  EXPECT_TRUE(HasNegativeTransmission(setup));
  EXPECT_FALSE(IsNewDeadBand(setup)) << "only 1 turns it on";
  EXPECT_EQ(GetAbsoluteStartMinMovePercent(setup), 60.0);
  auto with = MakeSetup({{"ABSTART_MINMOVE_PERCENT", 45}});
  EXPECT_EQ(GetAbsoluteStartMinMovePercent(*with), 45.0);
}

}  // namespace
