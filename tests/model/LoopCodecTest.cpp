// The loop and controller registers against values worked out by hand on
// the example drive: kI = 65472 / (2 * 10 A) = 3273.6 counts/A; kV = 65534 /
// (1.1 * 48 V) = 1241.174 counts/V; Ts_C 50 µs; vS = 500 µs * 2^8 / 20 µm =
// 6400; dead time 20 * 0.5 / 40 MHz = 0.25 µs, i.e. 0.25 / 50 * 48 V * kV =
// 297.88 counts; In 3 A, InPS 4 A, R 4.2 ohm, registers as integers.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "CodecSteps.h"
#include "EmbeddedExamples.h"
#include "LoopCodec.h"
#include "axcore/Diagnostics.h"
#include "axcore/SetupFile.h"
#include "support/TestSetup.h"

namespace {

using enum CodecDirection;

std::unique_ptr<CMC_Setup> Example() {
  auto setup = testing_support::LoadExample();
  axcore::TakeMissingNames();
  return setup;
}

double Get(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

std::vector<double> Values(const CMC_Setup& setup) {
  std::vector<double> values;
  for (const auto& p : setup.Parameters()) values.push_back(p->GetValueInBaseUnit());
  return values;
}

int RunStep(CMC_Setup& setup, CodecDirection direction, const char* writes) {
  return direction == Decode ? RunDecodeStep(setup, writes) : RunEncodeStep(setup, writes);
}

using testing_support::Change;

TEST(LoopCodec, ConvertsTheExampleDrive) {
  const struct {
    const char* what;
    std::vector<Change> changes;
    CodecDirection direction;
    const char* writes;
    double expected;
  } cases[] = {
      // ACR bit 9 picks the saturation: SATP 19967 gives 12800 / kI, SATS 9852 gives 22915 / kI.
      {"position over current", {{"ACR", 0x0500}}, Decode, "IlimPS", 12800 / 3273.6},
      {"position over speed", {{"ACR", 0x0700}}, Decode, "TestLimitCurrent", 22915 / 3273.6},
      // 32767 - 5 A * kI = 16399; with IPSatP 50 %: 32767 - 2.5 * kI = 24583.
      {"position over current", {{"PositionControlType", 0}, {"IlimPS", 5}}, Encode, "SATP", 16399},
      {"speed mode", {{"ControlMode", 1}, {"IlimPS", 5}, {"IPSatP", 50}}, Encode, "IMAXP", 24583},
      // Over the speed loop SATP limits the speed: 32767 - 1.5 m/s * 6400 = 23167; half of it 27967.
      {"position over speed", {{"Limit_Speed", 1.5}}, Encode, "SATP", 23167},
      {"position over speed", {{"Limit_Speed", 1.5}, {"IPSatP", 50}}, Encode, "IMAXP", 27967},
      {"position over speed", {{"SATP", 23167}}, Decode, "Limit_Speed", 1.5},
      {"speed mode keeps it", {{"ControlMode", 1}, {"Limit_Speed", 0.25}}, Decode, "Limit_Speed", 0.25},
      // FILTERQ 32767 is no filter; 1500/s: (1 - e^-0.075) * 32767 = 2367.63, cut to 2367.
      {"no filter", {}, Decode, "FilterOnCurrentControllerOutput", 5000},
      {"1500/s",
       {{"isUseFilterOnCrtCtrlOutput", 1}, {"FilterOnCurrentControllerOutput", 1500}},
       Encode,
       "FILTERQ",
       2367},
      {"filter off", {{"FILTERQ", 100}, {"FilterOnCurrentControllerOutput", 1500}}, Encode, "FILTERQ", 32767},
      {"-ln(1 - 2367/32767) / 50 µs", {{"FILTERQ", 2367}}, Decode, "FilterOnCurrentControllerOutput", 1499.5860592},
      // 50 % of 3 A through 4.2 ohm: 6.3 * kV + 297.88 = 8117.28; through 1.4 ohm: 2.1 * kV + 297.88 = 2904.35.
      {"50 %", {{"StartCurrent", 50}}, Encode, "REFTST", 8117},
      {"50 %, R/3", {{"StartCurrent", 50}, {"MotorPhaseConnectionType", 1}}, Encode, "RINCTST", 2904},
      {"(8117 - 297.88) * 100 / (12.6 kV)", {}, Decode, "StartCurrent", 49.99821249},
      {"(2904 - 297.88) * 100 / (4.2 kV)",
       {{"REFTST", 2904}, {"MotorPhaseConnectionType", 1}},
       Decode,
       "TestStartCurrent",
       49.99332953},
      {"reset to min(3, 4) / 2", {{"TestCurrent", 2.2}}, Decode, "TestCurrent", 1.5},
      // UPGRADE bit 9 clear: T1ONA counts 65535 per second; set: 100.
      {"T1ONA 32768", {}, Decode, "time_AB", 32768.0 / 65535},
      {"T1ONA 32768, bit 9", {{"UPGRADE", 0x0204}}, Decode, "time_AB", 327.68},
      {"0.25 s, bit 9", {{"UPGRADE", 0x0204}, {"time_AB", 0.25}}, Encode, "T1ONB", 25},
      {"0.5 A * kI = 1636.8", {{"isCompensateGravitationalLoads", 1}, {"OffsetCurrent", 0.5}}, Encode, "FFL", 1637},
  };
  for (const auto& c : cases) {
    auto setup = Example();
    testing_support::Apply(*setup, c.changes);
    EXPECT_EQ(RunStep(*setup, c.direction, c.writes), 1) << c.writes << ": " << c.what;
    EXPECT_NEAR(Get(*setup, c.writes), c.expected, 1e-9 * std::max(1.0, c.expected)) << c.writes << ": " << c.what;
  }
  // "Taken as an integer": a gravity flag of 0.7 is off.
  auto plain = testing_support::MakeSetup(
      {{"FFL", 5}, {"OffsetCurrent", 2}, {"isCompensateGravitationalLoads", 0.7}, {"ImaxPS", 10}});
  EXPECT_EQ(EncodeFFL(*plain), 1);
  EXPECT_EQ(Get(*plain, "FFL"), 0.0);
}

TEST(LoopCodec, GainMantissaAndShift) {
  // Plain (not integer) registers show the mantissa unrounded.
  const struct {
    double gain, shift, mantissa;
  } cases[] = {
      {0.5, 0, 16383.5},    // up to 1: no shift, G * 32767
      {1.0, 0, 32767},      // exactly 1 still unshifted
      {2.44, 2, 19987.87},  // 2.44 * 32767 / 4
      {4.0, 2, 32767},      // a power of two fills the mantissa
      {16384.0, 14, 32767},
  };
  for (const auto& c : cases) {
    auto setup = testing_support::MakeSetup({{"Kp_C_scl", c.gain}, {"KPI", -1}, {"SFTKPI", -1}});
    EXPECT_EQ(EncodeSFTKPI(*setup) + EncodeKPI(*setup), 2);
    EXPECT_EQ(Get(*setup, "SFTKPI"), c.shift) << c.gain;
    EXPECT_DOUBLE_EQ(Get(*setup, "KPI"), c.mantissa) << c.gain;
  }
  auto setup = testing_support::MakeSetup({{"Kp_C_scl", 0}, {"KPI", 20000}, {"SFTKPI", 2}});
  EXPECT_EQ(DecodeKp_C_scl(*setup), 1);
  EXPECT_DOUBLE_EQ(Get(*setup, "Kp_C_scl"), 20000.0 * 4 / 32767);

  // Every row of the gain table, through the registry by name: 2.44 gives
  // shift 2 and mantissa 19987.87, held as 19988 * 4 / 32767.
  const char* const table[][3] = {{"Kp_C_scl", "KPI", "SFTKPI"},     {"Ki_C_scl", "KII", "SFTKII"},
                                  {"Kp_S_scl", "KPS", "SFTKPS"},     {"Ki_S_scl", "KIS", "SFTKIS"},
                                  {"Kp_P_scl", "KPP", "SFTKPP"},     {"Ki_P_scl", "KIP", "SFTKIP"},
                                  {"Kd_P_scl", "KDP", "SFTKDP"},     {"Kp_T_scl", "KPTHT", "SFTKPTHT"},
                                  {"Ki_T_scl", "KITHT", "SFTKITHT"}, {"KFFS_scl", "KFFS", "SFTSFFW"}};
  for (const auto& [gain, mantissa, shift] : table) {
    auto drive = Example();
    drive->SetParameterValueInBaseUnit(gain, 2.44);
    EXPECT_EQ(RunEncodeStep(*drive, mantissa) + RunEncodeStep(*drive, shift) + RunDecodeStep(*drive, gain), 3) << gain;
    EXPECT_EQ(Get(*drive, mantissa), 19988.0) << mantissa;
    EXPECT_EQ(Get(*drive, shift), 2.0) << shift;
    EXPECT_DOUBLE_EQ(Get(*drive, gain), 19988.0 * 4 / 32767) << gain;
  }
}

TEST(LoopCodec, AccelerationFeedForwardSplitsItsShiftAt11) {
  const struct {
    double gain, lowerShift, upperShift, mantissa, held;
  } cases[] = {
      {0.5, 0, 0, 16384, 16384.0 / 32767},             // 16383.5 rounds away from zero
      {3000, 11, 1, 23999, 23999.0 * 4096 / 32767},    // x = 12: 3000 * 32767 / 4096 = 23999.27
      {10000, 11, 3, 19999, 19999.0 * 16384 / 32767},  // x = 14: 10000 * 32767 / 16384 = 19999.39
      {4194304, 11, 11, 32767, 4194304},               // x = 22, the largest gain
  };
  for (const auto& c : cases) {
    auto setup = Example();
    setup->SetParameterValueInBaseUnit("KFFA_scl", c.gain);
    EXPECT_EQ(EncodeSFTKFF(*setup) + EncodeKFFA(*setup) + EncodeSFTAFFW(*setup) + DecodeKFFA_scl(*setup), 4);
    EXPECT_EQ(Get(*setup, "SFTAFFW"), c.lowerShift) << c.gain;
    EXPECT_EQ(Get(*setup, "SFTKFF"), c.upperShift) << c.gain;
    EXPECT_EQ(Get(*setup, "KFFA"), c.mantissa) << c.gain;
    EXPECT_DOUBLE_EQ(Get(*setup, "KFFA_scl"), c.held) << c.gain;
  }
}

// Encoding the gain the registers hold gives the same registers again, for
// exact powers of two, their neighbours one ulp and a few parts per billion
// away, and a dense geometric grid from 1e-6 to the largest gain.
void ExpectStableRoundTrip(const char* gain, std::vector<const char*> registers, double largest) {
  std::vector<double> gains;
  for (double p = 0x1p-20; p <= largest; p *= 2)
    for (double g : {p, std::nextafter(p, 0.0), std::nextafter(p, 2 * p), p * (1 + 1e-9), p * (1 - 1e-9)})
      if (g <= largest) gains.push_back(g);
  for (double g = 1e-6; g <= largest; g *= 1.0007) gains.push_back(g);

  auto setup = Example();
  auto encodeDecode = [&] {
    std::vector<double> held;
    for (const char* r : registers) RunEncodeStep(*setup, r);
    RunDecodeStep(*setup, gain);
    for (const char* r : registers) held.push_back(Get(*setup, r));
    return held;
  };
  int unstable = 0;
  for (double g : gains) {
    setup->SetParameterValueInBaseUnit(gain, g);
    if (encodeDecode() != encodeDecode() && ++unstable <= 5) ADD_FAILURE() << gain << " " << g;
  }
  EXPECT_EQ(unstable, 0) << gain;
}

TEST(LoopCodec, ReencodingAHeldGainKeepsItsRegisters) {
  ExpectStableRoundTrip("Kp_C_scl", {"SFTKPI", "KPI"}, 16384);
  ExpectStableRoundTrip("KFFA_scl", {"SFTKFF", "KFFA", "SFTAFFW"}, 4194304);
}

TEST(LoopCodec, FailingStepsWriteNothing) {
  const struct {
    const char* what;
    std::vector<Change> changes;
    std::vector<const char*> decodes, encodes;
  } cases[] = {
      // Empty ranges.
      {"[0, min(-1, 9)]", {{"ImaxPS", -1}}, {"IlimPS"}, {}},
      {"[0, min(9, -1)]", {{"ImaxM", -1}}, {"TestLimitCurrent", "TestProtectionCurrent"}, {}},
      {"[1, -1] and [0, -0.9]", {{"In", -1}}, {"OffsetCurrent", "TestCurrent"}, {}},
      {"speeds [0, -320]", {{"PolePitch", -0.032}}, {"TestMaxSpeed", "Limit_Speed"}, {}},
      // (With the filter on the rate needs Ts_C; the infinite maximum is
      // refused by the document and the old one stays.)
      {"0.5 / Ts_C infinite", {{"CLPER", 0}, {"FILTERQ", 30000}}, {"FilterOnCurrentControllerOutput"}, {}},
      // Zero scales and divisors: nothing to convert, not 0 stored as a value.
      // (FFL converts only while gravity is compensated; otherwise it is 0
      // whatever the scale.)
      {"kI infinite",
       {{"ImaxPS", 0}, {"ControlMode", 1}, {"isCompensateGravitationalLoads", 1}},
       {"IlimPS", "TestLimitCurrent", "TestProtectionCurrent", "OffsetCurrent"},
       {"SATS", "SATP", "IMAXS", "IMAXP", "FFL"}},
      {"kV infinite", {{"Vdc", 0}}, {"StartCurrent", "TestStartCurrent"}, {"REFTST", "RINCTST"}},
      {"vS 0", {{"SLPER", 0}}, {"Limit_Speed"}, {"SATP", "IMAXP"}},
      {"Ts_C 0", {{"CLPER", 0}, {"isUseFilterOnCrtCtrlOutput", 1}}, {}, {"FILTERQ"}},
      {"no clock", {{"DSP_freq", 0}, {"isUseFilterOnCrtCtrlOutput", 1}},
       {"TestStartCurrent", "StartCurrent", "FilterOnCurrentControllerOutput", "TestMaxSpeed"}, {"FILTERQ"}},
      // An unfiltered output shows 5000/s only where there is a loop to run it.
      {"Ts_C 0, unfiltered",
       {{"CLPER", 0}, {"FILTERQ", 32767}, {"FilterOnCurrentControllerOutput", 1000}},
       {"FilterOnCurrentControllerOutput"}, {}},
      {"no PWM period", {{"PWMPER", 0}}, {"TestStartCurrent", "StartCurrent", "TestMaxSpeed"}, {}},
      {"no PWM frequency", {{"PWM_freq", 0}}, {}, {"REFTST", "RINCTST"}},
      {"no pole pitch", {{"PolePitch", 0}, {"ControlMode", 0}, {"PositionControlType", 1}}, {"TestMaxSpeed", "Limit_Speed"}, {}},
      {"no current limit", {{"SATS", 32767}}, {"IPSatS"}, {}},
      {"no motor mass", {{"M", 0}}, {"Mload_over_M"}, {}},
  };
  for (const auto& c : cases) {
    auto setup = Example();
    testing_support::Apply(*setup, c.changes);
    std::vector<double> before = Values(*setup);
    std::vector<double> ranges;
    for (const char* name : c.decodes)
      ranges.insert(ranges.end(),
                    {setup->FindParameter(name)->GetMinInBaseUnit(), setup->FindParameter(name)->GetMaxInBaseUnit()});
    for (const char* step : c.decodes) EXPECT_EQ(RunDecodeStep(*setup, step), 0) << c.what << ": " << step;
    for (const char* step : c.encodes) EXPECT_EQ(RunEncodeStep(*setup, step), 0) << c.what << ": " << step;
    EXPECT_EQ(Values(*setup), before) << c.what;
    for (std::size_t i = 0; i < c.decodes.size(); ++i) {
      EXPECT_EQ(setup->FindParameter(c.decodes[i])->GetMinInBaseUnit(), ranges[2 * i]) << c.decodes[i];
      EXPECT_EQ(setup->FindParameter(c.decodes[i])->GetMaxInBaseUnit(), ranges[2 * i + 1]) << c.decodes[i];
    }
  }
}

TEST(LoopCodec, BadInputIsRefusedAndReported) {
  // Every value at the edge of what a double holds: bit tests and truncations
  // refuse rather than cast out of range (the sanitizer build checks).
  for (double extreme : {1e308, -1e308, 5e-324, 0.0}) {
    auto setup = Example();
    for (const auto& p : setup->Parameters()) {
      p->ClearMin();
      p->ClearMax();
      p->SetValueInBaseUnit(extreme);
    }
    for (const CodecStep& step : LoopCodecSteps()) step.run(*setup);
    for (const auto& p : setup->Parameters()) EXPECT_TRUE(std::isfinite(p->GetValueInBaseUnit())) << p->GetName();
  }
  // A missing name is reported, each one, and stops the step.
  auto setup = Example();
  setup->RemoveParameter("ACR");
  setup->RemoveParameter("ImaxM");
  axcore::TakeMissingNames();
  const auto before = Values(*setup);
  EXPECT_EQ(DecodeIlimPS(*setup), 0);
  EXPECT_EQ(Values(*setup), before);
  const auto missing = axcore::TakeMissingNames();
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_EQ(missing[0].name, "ACR");
  EXPECT_EQ(missing[1].name, "ImaxM");
  // Without the angle controller its steps do nothing, and quietly.
  setup->RemoveParameter("KPTHT");
  for (const char* step : {"SFTKPTHT", "KITHT", "SFTKITHT"}) EXPECT_EQ(RunEncodeStep(*setup, step), 0) << step;
  for (const char* step : {"Kp_T_scl", "Ki_T_scl"}) EXPECT_EQ(RunDecodeStep(*setup, step), 0) << step;
  EXPECT_TRUE(axcore::TakeMissingNames().empty());
}

}  // namespace
