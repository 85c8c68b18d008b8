#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CodecSteps.h"
#include "ConfigCodec.h"
#include "ScaleFactor.h"
#include "support/TestSetup.h"

namespace {

using Given = std::vector<std::pair<const char*, double>>;


// The 20 kHz test drive (sP = 256 / 20 µm = 12.8e6 counts/m, ADCMAX 65472)
// plus `given` as plain parameters; a value that is already there is set.
std::unique_ptr<CMC_Setup> Drive(const Given& given) {
  auto setup = testing_support::MakeDrive();
  for (const auto& [name, value] : given) {
    if (setup->FindParameter(name) != nullptr) {
      setup->SetParameterValueInBaseUnit(name, value);
      continue;
    }
    ParameterSpec spec;
    spec.name = name;
    spec.value = value;
    setup->AddParameter(spec);
  }
  return setup;
}

double Value(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

TEST(ConfigCodec, EncodesTheSystemWord) {
  const struct {
    double scr, motorSensor, driveSensor;
    std::optional<double> estimator;  // empty: a drive without the speed estimator
    double expected;
  } cases[] = {
      // 0x2000 | 0x0080 | 0x0100 | 0x0030
      {0x0000, 1, 1, 1, 0x21B0},
      // (0x7FFF & 0x8FFF) | 0x2000 = 0x2FFF; bits 7, 8 and 3..5 cleared: 0x2E47
      {0x7FFF, 0, 0, 0, 0x2E47},
      // 0xAFFF with bit 8 cleared; the estimator field stays as it was
      {0xFFFF, 1, 0, std::nullopt, 0xAEFF},
      // on means the field reads 0x0030 exactly: bit 3 is cleared
      {0x0008, 0, 0, 1, 0x2030},
  };
  for (const auto& c : cases) {
    Given given = {{"SCR", c.scr}, {"isMotorTemperatureSensor", c.motorSensor},
                   {"isDriveTemperatureSensor", c.driveSensor}};
    if (c.estimator) given.emplace_back("isSpeedEstimator", *c.estimator);
    auto setup = Drive(given);
    EXPECT_EQ(EncodeSCR(*setup), 1) << c.scr;
    EXPECT_EQ(Value(*setup, "SCR"), c.expected) << c.scr;
  }
}

TEST(ConfigCodec, EncodesTheApplicationWord) {
  const struct {
    const char* what;
    double acr, external, analogue, digitalType, mode, positionType, autoOn;
    std::optional<double> speedForward, freeze;  // empty: the drive lacks them
    int result;
    double expected;
  } cases[] = {
      {"digital reference kind 0, position with speed loop", 0x0000, 1, 0, 0, 0, 1, 1, {}, {}, 1, 0x0786},
      // 0x4085 -> analogue: (& 0xFF3F) | 0x40 = 0x4045 -> speed: 0x4345 -> feed-forward off: 0x0345
      {"analogue reference keeps bit 2 and bit 0", 0x4085, 1, 1, 0, 1, 0, 0, 0.0, {}, 1, 0x0345},
      // 0x07C0 -> no external reference: 0x0700 -> current: 0x0100 -> feed-forward: 0x4100
      {"current mode drops the reference bits", 0x07C0, 0, 1, 1, 2, 1, 0, 1.0, {}, 1, 0x4100},
      // 0x0004 -> digital kind 1: 0x0080 -> position without speed loop: 0x0580
      {"digital kind 1 clears bit 2", 0x0004, 1, 0, 1, 0, 0, 0, {}, {}, 1, 0x0580},
      {"freeze control on", 0x0000, 0, 0, 0, 0, 1, 0, {}, 1.0, 1, 0x0710},
      {"freeze control off clears bit 4", 0x0010, 0, 0, 0, 1, 0, 0, {}, 0.0, 1, 0x0300},
      {"no such control mode", 0x1234, 0, 0, 0, 3, 0, 0, {}, {}, 0, 0x1234},
  };
  for (const auto& c : cases) {
    Given given = {{"ACR", c.acr},         {"ExternalReference", c.external}, {"isAnalogueReference", c.analogue},
                   {"DigitalReferenceType", c.digitalType}, {"ControlMode", c.mode},
                   {"PositionControlType", c.positionType}, {"isAutoActivatedAfterPowerOn", c.autoOn}};
    if (c.speedForward) given.emplace_back("SpeedForward", *c.speedForward);
    if (c.freeze) given.insert(given.end(), {{"isFreezeControl", *c.freeze}, {"POSOKLIM_FC", 0}, {"TONPOSOK_FC", 0}});
    auto setup = Drive(given);
    EXPECT_EQ(EncodeACR(*setup), c.result) << c.what;
    EXPECT_EQ(Value(*setup, "ACR"), c.expected) << c.what;
  }
}

TEST(ConfigCodec, DecodesTheApplicationWord) {
  const struct {
    double acr, mode, external, digitalType, autoOn;
  } cases[] = {
      {0x0500, 0, 0, 1, 0}, {0x0700, 0, 0, 1, 0}, {0x0300, 1, 0, 1, 0}, {0x0100, 2, 0, 1, 0},
      {0x0000, 2, 0, 1, 0}, {0x0786, 0, 1, 0, 1}, {0x0340, 1, 1, 1, 0},
  };
  for (const auto& c : cases) {
    auto setup = Drive({{"ACR", c.acr}, {"ControlMode", 9}, {"ExternalReference", 9},
                        {"DigitalReferenceType", 9}, {"isAutoActivatedAfterPowerOn", 9}});
    for (const char* name : {"ControlMode", "ExternalReference", "DigitalReferenceType", "IsAutoActivatedAfterPowerOn"})
      EXPECT_EQ(RunDecodeStep(*setup, name), 1) << name;
    EXPECT_EQ(Value(*setup, "ControlMode"), c.mode) << c.acr;
    EXPECT_EQ(Value(*setup, "ExternalReference"), c.external) << c.acr;
    EXPECT_EQ(Value(*setup, "DigitalReferenceType"), c.digitalType) << c.acr;
    EXPECT_EQ(Value(*setup, "isAutoActivatedAfterPowerOn"), c.autoOn) << c.acr;
  }
  // Without the analogue input the flag has nowhere to go.
  auto setup = Drive({{"ACR", 0x0040}, {"isAnalogueReference", 1}});
  EXPECT_EQ(DecodeisAnalogueReference(*setup), 1);
  EXPECT_EQ(Value(*setup, "isAnalogueReference"), 0.0);
  EXPECT_EQ(setup->FindParameter("isAnalogueReference")->GetMaxInBaseUnit(), 0.0);
}

TEST(ConfigCodec, EncodesTheOptionWord) {
  const struct {
    double osr, brakeResistor, startMode, expected;
  } cases[] = {
      {0xFFFF, 0, 1, 0xFDF7},  // bit 9 off, bits 2..4 = 0b101
      {0x0000, 1, 0, 0x0204},
      {0x0008, 0, 0, 0x0004},  // bit 3 is always written 0
      {0x0010, 1.7, 2, 0x0204},  // 1.7 truncates to 1 (on), 2 is not 1 (off)
  };
  for (const auto& c : cases) {
    auto setup = Drive({{"OSR", c.osr}, {"isBrakeResistor", c.brakeResistor}, {"StartMode", c.startMode}});
    EXPECT_EQ(EncodeOSR(*setup), 1) << c.osr;
    EXPECT_EQ(Value(*setup, "OSR"), c.expected) << c.osr;
  }
}

TEST(ConfigCodec, ElectricalAngleFractionFollowsThePolePitch) {
  // b = ceil(log2(PolePitch / EncRes)); ELRES_FRACT = min(10 - b, 8) for b in
  // 0..9, else 0. Both lengths are multiples of 2^-16 m, so the ratio is exact.
  const struct {
    double periodsPerPolePitch, expected;
  } cases[] = {{1, 8}, {2, 8}, {3, 8}, {32, 5}, {256, 2}, {512, 1}, {513, 0}, {1024, 0}, {0.5, 0}};
  for (const auto& c : cases) {
    auto setup = Drive({{"EncRes", std::ldexp(1.0, -16)}, {"PolePitch", std::ldexp(c.periodsPerPolePitch, -16)},
                        {"ELRES_FRACT", 99}});
    EXPECT_EQ(EncodeELRES_FRACT(*setup), 1) << c.periodsPerPolePitch;
    EXPECT_EQ(Value(*setup, "ELRES_FRACT"), c.expected) << c.periodsPerPolePitch;
    EXPECT_EQ(setup->FindParameter("SINCOS_fract")->GetMinInBaseUnit(), c.expected) << c.periodsPerPolePitch;
  }
  auto setup = Drive({{"PolePitch", 0}, {"ELRES_FRACT", 3}});
  EXPECT_EQ(EncodeELRES_FRACT(*setup), 0) << "log of 0 is no bit count";
  EXPECT_EQ(Value(*setup, "ELRES_FRACT"), 3.0);
}

TEST(ConfigCodec, SoftwareLimitSwitchesSwapUnderAReversingTransmission) {
  const struct {
    const char* what;
    double motorTransmission, loadTransmission;
    int result;
    double swneg, swpos;  // registers after encoding -0.1 m and 0.5 m
  } cases[] = {
      {"forward: sP = 12.8e6", 1, 1, 1, -0.1 * 12.8e6, 0.5 * 12.8e6},
      // sP = -12.8e6: -0.1 m lies at the drive's positive limit, +1280000 counts
      {"reversed: sP = -12.8e6", 1, -1, 1, 0.5 * -12.8e6, -0.1 * -12.8e6},
      {"zero transmission: no scale", 0, 1, 0, 7, 8},
  };
  for (const auto& c : cases) {
    auto setup = Drive({{"Motor_transmission", c.motorTransmission}, {"Load_transmission", c.loadTransmission},
                        {"Negative_SWLS", -0.1}, {"Positive_SWLS", 0.5}, {"SWNEGLS", 7}, {"SWPOSLS", 8}});
    EXPECT_EQ(EncodeSWNEGLS(*setup), c.result) << c.what;
    EXPECT_EQ(EncodeSWPOSLS(*setup), c.result) << c.what;
    EXPECT_DOUBLE_EQ(Value(*setup, "SWNEGLS"), c.swneg) << c.what;
    EXPECT_DOUBLE_EQ(Value(*setup, "SWPOSLS"), c.swpos) << c.what;
    setup->SetParameterValueInBaseUnit("Negative_SWLS", 3);
    setup->SetParameterValueInBaseUnit("Positive_SWLS", 4);
    EXPECT_EQ(DecodeNegative_SWLS(*setup), c.result) << c.what;
    EXPECT_EQ(DecodePositive_SWLS(*setup), c.result) << c.what;
    EXPECT_DOUBLE_EQ(Value(*setup, "Negative_SWLS"), c.result ? -0.1 : 3.0) << c.what;
    EXPECT_DOUBLE_EQ(Value(*setup, "Positive_SWLS"), c.result ? 0.5 : 4.0) << c.what;
    if (c.result) {
      EXPECT_DOUBLE_EQ(setup->FindParameter("Negative_SWLS")->GetMinInBaseUnit(), -2147483648.0 / 12.8e6) << c.what;
    }
  }
}

TEST(ConfigCodec, DeadBandInVoltsAtTheAnalogueInput) {
  const struct {
    double inputsRange, level, eLevel;  // LEVEL_AD5, E_LEVEL_AD5 in counts of 65472
    double point, band;                 // volts
  } cases[] = {
      {20, 32736, 6547.2, 0, 2},     // 20 * 0.5 - 10 = 0 V;  20 * 0.1 = 2 V
      {20, 16368, 3273.6, -5, 1},    // 20 * 0.25 - 10 = -5 V; band up to 5 V from the end
      {5, 13094.4, 6547.2, 1, 0.5},  // 5 * 0.2 = 1 V; 5 * 0.1 = 0.5 V
      {3.3, 65472, 0, 3.3, 0},       // full scale of a 3.3 V input
  };
  for (const auto& c : cases) {
    auto setup = Drive({{"AnalogueInputsRange", c.inputsRange}, {"LEVEL_AD5", c.level}, {"E_LEVEL_AD5", c.eLevel},
                        {"DeadBand_Point", 99}, {"DeadBand_Range", 99}});
    EXPECT_EQ(DecodeDeadBand_Point(*setup), 1) << c.inputsRange;
    EXPECT_EQ(DecodeDeadBand_Range(*setup), 1) << c.inputsRange;
    EXPECT_NEAR(Value(*setup, "DeadBand_Point"), c.point, 1e-12) << c.inputsRange;
    EXPECT_NEAR(Value(*setup, "DeadBand_Range"), c.band, 1e-12) << c.inputsRange;
    // And back to the same counts.
    EXPECT_EQ(EncodeLEVEL_AD5(*setup), 1);
    EXPECT_EQ(EncodeE_LEVEL_AD5(*setup), 1);
    EXPECT_NEAR(Value(*setup, "LEVEL_AD5"), c.level, 1e-9) << c.inputsRange;
    EXPECT_NEAR(Value(*setup, "E_LEVEL_AD5"), c.eLevel, 1e-9) << c.inputsRange;
  }
}

TEST(ConfigCodec, CanIdentity) {
  // A set LSS_Active bit tells the drive not to save: bit 0 the axis id, bit 1 the baud rate.
  const struct {
    double saveAxisId, saveBaudrate, lss;
  } cases[] = {{1, 1, 0}, {1, 0, 2}, {0, 1, 1}, {0, 0, 3}};
  for (const auto& c : cases) {
    auto setup = Drive({{"save_axis_id", c.saveAxisId}, {"save_CAN_baudrate", c.saveBaudrate}, {"LSS_Active", 0xF0}});
    EXPECT_EQ(EncodeLSS_Active(*setup), 1);
    EXPECT_EQ(Value(*setup, "LSS_Active"), c.lss) << "the register is rebuilt";
    setup->SetParameterValueInBaseUnit("save_axis_id", 7);
    setup->SetParameterValueInBaseUnit("save_CAN_baudrate", 7);
    EXPECT_EQ(Decodesave_axis_id(*setup), 1);
    EXPECT_EQ(Decodesave_CAN_baudrate(*setup), 1);
    EXPECT_EQ(Value(*setup, "save_axis_id"), c.saveAxisId) << c.lss;
    EXPECT_EQ(Value(*setup, "save_CAN_baudrate"), c.saveBaudrate) << c.lss;
  }
  for (const auto& [id, aar] : {std::pair{5.0, 261.0}, std::pair{0.0, 0.0}}) {
    auto setup = Drive({{"Axis_ID_list", id}, {"AAR_table", 1}});
    EXPECT_EQ(EncodeAAR_table(*setup), 1);
    EXPECT_EQ(Value(*setup, "AAR_table"), aar);
    setup->SetParameterValueInBaseUnit("Axis_ID_list", 99);
    EXPECT_EQ(DecodeAxis_ID_list(*setup), 1);
    EXPECT_EQ(Value(*setup, "Axis_ID_list"), id);
  }
}

TEST(ConfigCodec, MotorBrakeOnTheOutputPortPins) {
  auto setup = Drive({{"BRAKECFG", 0}, {"isMotorBrake", 1}, {"MotorBrake_output", 1}, {"Ts_S", 0.0005},
                      {"MotorBrake_applytime", 0.03}, {"BRAKEAPPLYDELAY", 0}});
  setup->SetOption("OutputPortPins", "25,26,27,28");
  EXPECT_EQ(EncodeBRAKECFG(*setup), 1);
  EXPECT_EQ(Value(*setup, "BRAKECFG"), 26 * 256 + 1);  // pin of port 1 in bits 8..15, fitted
  EXPECT_EQ(EncodeBRAKEAPPLYDELAY(*setup), 1);
  EXPECT_NEAR(Value(*setup, "BRAKEAPPLYDELAY"), 60, 1e-9);  // 30 ms / 500 µs
  setup->SetParameterValueInBaseUnit("BRAKECFG", 28 * 256);
  EXPECT_EQ(DecodeMotorBrake_output(*setup), 1);
  EXPECT_EQ(DecodeisMotorBrake(*setup), 1);
  EXPECT_EQ(Value(*setup, "MotorBrake_output"), 3);
  EXPECT_EQ(Value(*setup, "isMotorBrake"), 0);
}

TEST(ConfigCodec, EncoderFilterTable) {
  const struct {
    double index, act, aq2, expectedAct, expectedAq2;
  } cases[] = {
      {2, 0x00FF0000, 0xFFFF, 0x00010000, 0x30FF | 0x8A00},
      {11, 0, 0, 0xB0000, 0x4500},
      {13, 0x00FF0000, 0xCF00, 0, 0},  // out of the table: both fields 0
      // A signed register stays signed: 0x10000 | (0xFFFFFFFF & 0xFF00FFFF) = 0xFF01FFFF
      {2, -1, 0, static_cast<double>(static_cast<std::int32_t>(0xFF01FFFFu)), 0x8A00},
  };
  for (const auto& c : cases) {
    auto setup = Drive({{"QUAL", 0}, {"isFilterEnc", 1}, {"FilterEncValue", c.index}, {"QUAL_ACT", c.act},
                        {"QUAL_AQ2", c.aq2}});
    EXPECT_EQ(RunEncodeStep(*setup, "QUAL_ACT"), 1) << "one step writes all three registers";
    EXPECT_EQ(Value(*setup, "QUAL"), 1);
    EXPECT_EQ(Value(*setup, "QUAL_ACT"), c.expectedAct) << c.index;
    EXPECT_EQ(Value(*setup, "QUAL_AQ2"), c.expectedAq2) << c.index;
  }
}

TEST(ConfigCodec, ValuesThatCannotBeARegisterWordStopTheStep) {
  const struct {
    const char* step;
    bool encode;
    Given given;
    const char* unchanged;
    double value;
  } cases[] = {
      {"SCR", true, {{"SCR", 1e10}, {"isMotorTemperatureSensor", 1}, {"isDriveTemperatureSensor", 1}}, "SCR", 1e10},
      {"ControlMode", false, {{"ACR", -1e12}, {"ControlMode", 1}}, "ControlMode", 1},
      {"BRAKECFG", true, {{"BRAKECFG", 5}, {"MotorBrake_output", 1e300}, {"isMotorBrake", 1}}, "BRAKECFG", 5},
      {"QUAL", true,
       {{"QUAL", 0}, {"isFilterEnc", 1}, {"FilterEncValue", 1e300}, {"QUAL_ACT", 3}, {"QUAL_AQ2", 4}},
       "QUAL_ACT", 3},
      {"ELRES_FRACT", true, {{"EncRes", 1e-300}, {"PolePitch", 1e300}, {"ELRES_FRACT", 2}}, "ELRES_FRACT", 2},
  };
  for (const auto& c : cases) {
    auto setup = Drive(c.given);
    EXPECT_EQ(c.encode ? RunEncodeStep(*setup, c.step) : RunDecodeStep(*setup, c.step), 0) << c.step;
    EXPECT_EQ(Value(*setup, c.unchanged), c.value) << c.step;
  }
}

TEST(ConfigCodec, AWideNegativeAnalogueSpanIsShiftedLikeAPositiveOne) {
  // Reversed transmission (sP = -12.8e6) and the position reference over the
  // whole range, -32767 to 32767 counts: a = -65534 * 0.5 * 65536 / 65472 =
  // -32799.03..., beyond a 16-bit mantissa, so shift 1 and mantissa a / 2.
  auto setup = Drive({{"Load_transmission", -1}, {"ControlMode", 0}, {"CADIN", 0}, {"SFTADIN", 0}, {"AD5OFF", 0}});
  setup->SetScaleFunctions(ModelScaleFunctions());
  for (const auto& [name, value] : {std::pair{"POS_min", -32767 / 12.8e6}, std::pair{"POS_max", 32767 / 12.8e6}}) {
    ParameterSpec spec;
    spec.name = name;
    spec.unit = "m";
    spec.value = value;
    setup->AddParameter(spec);
  }
  const double span = -65534 * 0.5 * 65536 / 65472;
  EXPECT_EQ(EncodeCADIN(*setup), 1);
  EXPECT_EQ(EncodeSFTADIN(*setup), 1);
  EXPECT_EQ(EncodeAD5OFF(*setup), 1);
  EXPECT_NEAR(Value(*setup, "CADIN"), span / 2, 1e-9);
  EXPECT_EQ(Value(*setup, "SFTADIN"), 1);
  EXPECT_NEAR(Value(*setup, "AD5OFF"), -32767, 1e-6);
  // Decoding gives the maximum back: -32767 + mantissa * 2 * (-1) * 65472 / 65536 * 2 = 32767.
  setup->SetParameterValueInBaseUnit("POS_max", 0);
  EXPECT_EQ(DecodePOS_max(*setup), 1);
  EXPECT_NEAR(Value(*setup, "POS_max"), 32767 / 12.8e6, 1e-15);
}

TEST(ConfigCodec, EveryStepIsFoundByTheNameItWrites) {
  for (const CodecStep& step : ConfigCodecSteps()) {
    const CodecStep* found = FindCodecStep(step.direction, step.writes);
    ASSERT_NE(found, nullptr) << step.writes;
    EXPECT_EQ(found->run, step.run) << step.writes << ": another codec registered the same name";
  }
  EXPECT_EQ(FindCodecStep(CodecDirection::Encode, "qual_aq2")->run, EncodeQUAL);
  EXPECT_EQ(FindCodecStep(CodecDirection::Decode, "isautoactivatedafterpoweron")->run,
            DecodeIsAutoActivatedAfterPowerOn);
}

}  // namespace
