// The derived limits, the control structure options, the load's unit types
// and the speed feedforward rule, against numbers worked out by hand.
//
// The drive of MakeDrive: Ts_S = SLPER * 2 * PWMPER / DSP_freq
// = 10 * 2 * 1000 / 40e6 = 5e-4 s; load position scale sP = 2^8 / 20e-6 m
// = 12.8e6 counts/m; load speed scale vS = Ts_S * sP = 6400 counts per period
// per m/s; current scale = 65472 / (2 * 10 A) = 3273.6 counts/A.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Limits.h"
#include "axcore/Diagnostics.h"
#include "support/TestSetup.h"

namespace {

using testing_support::Entry;
using testing_support::MakeSetup;

constexpr double kNone = NAN;  // the parameter must not have that bound

void Add(CMC_Setup& setup, const Entry& e) {
  ParameterSpec spec;
  spec.name = e.name;
  spec.unit = e.unit;
  spec.value = e.value;
  setup.AddParameter(spec);
}

std::unique_ptr<CMC_Setup> MakeDrive(std::initializer_list<Entry> extra) {
  auto setup = testing_support::MakeDrive();
  for (const Entry& e : extra) Add(*setup, e);
  axcore::TakeMissingNames();
  return setup;
}

void ExpectRange(const CMC_Setup& setup, const char* name, double min, double max, const std::string& context = {}) {
  const CMC_Parameter* p = setup.FindParameter(name);
  ASSERT_NE(p, nullptr) << name;
  EXPECT_EQ(p->HasMin(), !std::isnan(min)) << name << context;
  EXPECT_EQ(p->HasMax(), !std::isnan(max)) << name << context;
  if (p->HasMin() && !std::isnan(min)) {
    EXPECT_NEAR(p->GetMinInBaseUnit(), min, std::fabs(min) * 1e-12) << name << context;
  }
  if (p->HasMax() && !std::isnan(max)) {
    EXPECT_NEAR(p->GetMaxInBaseUnit(), max, std::fabs(max) * 1e-12) << name << context;
  }
}

std::unique_ptr<CMC_Setup> MakeLimitsDrive() {
  return MakeDrive({{"PolePitch", 0.032, "m"},   {"ERR_speed", 0.5, "m/s"},   {"ERR_position", 0.001, "m"},
                    {"time_ERR_spd", 0.01, "s"}, {"time_ERR_pos", 0.01, "s"}, {"PB_C", 1000},
                    {"PB_C_minim", 100},         {"PB_C_maxim", 20000},       {"PB_S", 100},
                    {"PB_S_minim", 10},          {"PB_S_maxim", 3000},        {"PB_P", 50},
                    {"PB_P_minim", 5},           {"PB_P_maxim", 600},         {"TPP", 0.3, "s"},
                    {"TNP", 0.3, "s"},           {"TaPP", 0.1, "s"},          {"TaNP", 0.05, "s"},
                    {"TPS", 0.2, "s"},           {"TNS", 0.2, "s"},           {"TaPS", 0.05, "s"},
                    {"TaNS", 0.05, "s"},         {"TestPosition", 0.02, "m"}, {"TestSpeed", 0.5, "m/s"},
                    {"Limit_Speed", 2, "m/s"},   {"MAX_CURRENT", 1.5, "A"},   {"In", 3, "A"},
                    {"InPS", 4, "A"},            {"BQFilterF11", 200, "Hz"},  {"BQFilterF21", 200, "Hz"},
                    {"BQFilterF12", 200, "Hz"},  {"BQFilterF22", 200, "Hz"},  {"BQFilterF13", 200, "Hz"},
                    {"BQFilterF23", 200, "Hz"}});
}

TEST(ParameterLimits, FollowTheRegistersOfTheDrive) {
  auto setup = MakeLimitsDrive();
  setup->FindParameter("EncRes")->SetMinInBaseUnit(1e-7);
  for (const char* feature : {"KPTHT", "IQREF_BQ_INI"}) Add(*setup, {feature, 1});
  EXPECT_EQ(SetParameterLimits(*setup), 1);
  const struct {
    std::vector<const char*> names;
    double min, max;
  } cases[] = {
      {{"EncRes"}, 1e-7, 0.032},                        // maximum PolePitch, minimum kept
      {{"ERR_speed"}, kNone, 5.11984375},               // 32767 / 6400
      {{"ERR_position"}, kNone, 0.002559921875},        // 32767 / 12.8e6
      {{"time_ERR_spd", "time_ERR_pos"}, kNone, 16.3835},  // 32767 * 5e-4
      {{"PB_C"}, 100, 20000},
      {{"PB_S"}, 10, 3000},
      {{"PB_P"}, 5, 600},
      {{"TPP", "TNP", "TPS", "TNS", "TaPS", "TaNS"}, 5e-4, 32.7675},  // 1 to 65535 periods
      {{"TaPP", "TaNP"}, 1e-3, 32.7675},                               // 2 to 65535 periods
      // min(0.1, 0.05) s / 5e-4 s = 100 periods of 32767 counts, / 12.8e6
      {{"TestPosition"}, -0.2559921875, 0.2559921875},
      {{"TestSpeed"}, -2, 2},                          // Limit_Speed below 32767 / 6400
      {{"MAX_CURRENT"}, 0, 3},                         // min(In 3, InPS 4)
      // 0.5 / 5e-4
      {{"BQFilterF11", "BQFilterF21", "BQFilterF12", "BQFilterF22", "BQFilterF13", "BQFilterF23"}, kNone, 1000},
  };
  for (const auto& c : cases)
    for (const char* name : c.names) ExpectRange(*setup, name, c.min, c.max);
  EXPECT_TRUE(axcore::TakeMissingNames().empty());
}

TEST(ParameterLimits, BoundTheTestSpeedByLimitSpeedWhenThatIsSmaller) {
  // {Limit_Speed, bound}: the speed register allows 32767 / 6400 = 5.11984375 m/s.
  for (auto [limitSpeed, bound] : {std::pair{2.0, 2.0}, {10.0, 5.11984375}, {5.11984375, 5.11984375}}) {
    auto setup = MakeLimitsDrive();
    setup->SetParameterValueInBaseUnit("Limit_Speed", limitSpeed);
    SetParameterLimits(*setup);
    ExpectRange(*setup, "TestSpeed", -bound, bound, " with Limit_Speed " + std::to_string(limitSpeed));
  }
}

TEST(ParameterLimits, LeaveARowAloneWhenItsInputsAreMissingOrUnusable) {
  // A missing companion read as 0, a period or a scale of 0 or infinity,
  // would give bounds of 0 and pin the parameter there.
  const struct {
    const char* change;
    double value;  // NaN: the parameter is removed
    const char* row;
  } cases[] = {
      {"TaNP", NAN, "TestPosition"},          {"Limit_Speed", NAN, "TestSpeed"},
      {"In", NAN, "MAX_CURRENT"},             {"SLPER", 0, "TPP"},  // Ts_S = 0
      {"DSP_freq", 0, "time_ERR_pos"},        // Ts_S infinite
      {"SLPER", -10, "TaPS"},                 // a negative period
      {"EncRes", 0, "ERR_position"},          // sP infinite: 32767 / sP = 0
      {"Motor_transmission", 0, "ERR_speed"},  // vS = 0
  };
  for (const auto& c : cases) {
    auto setup = MakeLimitsDrive();
    Add(*setup, {"KPTHT", 1});
    setup->FindParameter(c.row)->SetMinInBaseUnit(-7);
    setup->FindParameter(c.row)->SetMaxInBaseUnit(7);
    if (std::isnan(c.value)) {
      setup->RemoveParameter(c.change);
    } else {
      setup->SetParameterValueInBaseUnit(c.change, c.value);
    }
    EXPECT_EQ(SetParameterLimits(*setup), 0) << c.change;
    ExpectRange(*setup, c.row, -7, 7, std::string(" after a change of ") + c.change);
    ExpectRange(*setup, "PB_C", 100, 20000, " is computed all the same");
  }
}

TEST(ParameterLimits, OptionalRowsWaitQuietlyForTheirFeature) {
  // No KPTHT, no IQREF_BQ_INI, and a parameter "CADIN" without its variable.
  auto setup = MakeLimitsDrive();
  Add(*setup, {"CADIN", 1});
  Add(*setup, {"filter", 50, "1/s"});
  SetParameterLimits(*setup);
  for (const char* name : {"MAX_CURRENT", "BQFilterF11", "filter"}) ExpectRange(*setup, name, kNone, kNone);
  EXPECT_TRUE(axcore::TakeMissingNames().empty()) << "probes are quiet";
}

std::unique_ptr<CMC_Setup> MakeAnalogueDrive() {
  return MakeDrive({{"filter", 50, "1/s"}, {"DeadBand_Point", 2, "V"}, {"DeadBand_Range", 0.1, "V"},
                    {"POS_min", -0.001, "m"}, {"POS_max", 0.002, "m"}, {"SPD_min", -1, "m/s"},
                    {"SPD_max", 1.5, "m/s"}, {"Limit_Speed", 10, "m/s"}, {"CRT_min", -3, "A"},
                    {"CRT_max", 4, "A"}, {"ImaxM", 9, "A"}});
}

TEST(AnalogueReferenceLimits, EachRowAlone) {
  const struct {
    int (*row)(CMC_Setup&);
    const char* name;
    double inputsRange;  // AnalogueInputsRange, V
    double min, max;
  } cases[] = {
      {SetFilterLimits, "filter", 20, kNone, 1000},  // 1 / (2 * 5e-4)
      {SetDeadBandPointLimits, "DeadBand_Point", 20, -10, 10},
      {SetDeadBandPointLimits, "DeadBand_Point", 5, 0, 5},
      {SetDeadBandPointLimits, "DeadBand_Point", 10, 0, 3.3},
      {SetPosMaxLimits, "POS_max", 20, -0.001, 0.002559921875},   // 32767 / 12.8e6
      {SetPosMinLimits, "POS_min", 20, -0.002559921875, 0.002},
      {SetSpdMaxLimits, "SPD_max", 20, -1, 5.11984375},  // 32767 / 6400 below Limit_Speed 10
      {SetSpdMinLimits, "SPD_min", 20, -5.11984375, 1.5},
      // 32767 / 3273.6 = 10.0095 A lies above ImaxM 9 and ImaxPS 10
      {SetCrtMaxLimits, "CRT_max", 20, -3, 9},
      {SetCrtMinLimits, "CRT_min", 20, -9, 4},
  };
  for (const auto& c : cases) {
    auto setup = MakeAnalogueDrive();
    setup->SetParameterValueInBaseUnit("AnalogueInputsRange", c.inputsRange);
    EXPECT_EQ(c.row(*setup), 1) << c.name;
    ExpectRange(*setup, c.name, c.min, c.max, " on a " + std::to_string(c.inputsRange) + " V input");
  }
}

TEST(AnalogueReferenceLimits, DeadBandReachesTheNearerEndOrTheWholeInput) {
  // Point 2 V in -10 to 10 V: the nearer end is 8 V away; the input is 20 V wide.
  for (const bool newDeadBand : {false, true}) {
    auto setup = MakeAnalogueDrive();
    if (newDeadBand) setup->SetOption("NewDeadBand", "1");
    EXPECT_EQ(SetAnalogueReferenceLimits(*setup), 1);
    ExpectRange(*setup, "DeadBand_Range", 0, newDeadBand ? 20 : 8, newDeadBand ? " with NewDeadBand" : "");
  }
}

TEST(ControlStructureOptions, TellTheHostWhichLoopsAreClosed) {
  const struct {
    double mode, type;
    int result;
    const char *position, *speed, *current;  // "x": left as it was
  } cases[] = {
      {0, 0, 1, "1", "0", "1"}, {0, 1, 1, "1", "1", "1"},  {1, 0, 1, "0", "1", "1"},     {1, 7, 1, "0", "1", "1"},
      {2, 1, 1, "0", "0", "1"}, {3, 0, 0, "x", "x", "x"},  {0, 2, 0, "x", "x", "x"},     {-1, 0, 0, "x", "x", "x"},
      {1e300, 0, 0, "x", "x", "x"},  // no int: nothing cast, nothing written
  };
  for (const auto& c : cases) {
    auto setup = MakeSetup({{"ControlMode", c.mode}, {"PositionControlType", c.type}});
    for (const char* name : {"IsClosedPosition", "IsClosedSpeed", "IsClosedCurrent"}) setup->SetOption(name, "x");
    const std::string context = " for ControlMode " + std::to_string(c.mode) + ", type " + std::to_string(c.type);
    EXPECT_EQ(SetControlStructureOptions(*setup), c.result) << context;
    EXPECT_EQ(setup->GetOptionNoError("IsClosedPosition") + setup->GetOptionNoError("IsClosedSpeed") +
                  setup->GetOptionNoError("IsClosedCurrent"),
              std::string(c.position) + c.speed + c.current)
        << context;
    // The feedback options are written whatever the mode.
    for (auto [name, text] : std::initializer_list<std::pair<const char*, const char*>>{
             {"IsStepMotor", "0"}, {"IsStepperOpenLoop", "0"}, {"isPositionFeedbackOnLoad", "0"},
             {"isPositionFeedbackOnMotor", "1"}, {"isSpeedFeedback", "0"}, {"isIndex", "1"}})
      EXPECT_EQ(setup->GetOptionNoError(name), text) << name << context;
  }
}

TEST(UnitTypes, FollowTheLoadButKeepTheMotorLinear) {
  auto setup = MakeSetup({{"TransmissionType", 1}, {"Load_transmission", 1, "m"}, {"TestSpeed", 0.5, "m/s"},
                          {"Limit_Speed", 2, "m/s"}, {"TestPosition", 0.02, "m"}, {"ERR_position", 0.001, "m"},
                          {"ERR_speed", 0.5, "m/s"}, {"ErefMaxSpeed", 1, "m/s"}, {"ErefMaxAcceleration", 10, "m/s^2"},
                          {"Negative_SWLS", -0.1, "m"}, {"Positive_SWLS", 0.1, "m"}, {"isSWLS", 1},
                          {"FreezeControl_errband", 1e-5, "m"}, {"POS_max", 0.002, "m"}});  // no POSOKLIM_FC, no CADIN
  for (auto [name, unit] : std::initializer_list<std::pair<const char*, const char*>>{
           {"APOS", "m"}, {"CSPD", "m/s"}, {"CACC", "m/s^2"}, {"JERK", "m/s^3"}, {"APOS_MT", "m"}, {"ASPD", "m/s"},
           {"ASPD_MT", "m/s"}})
    setup->AddVariable(name, unit);
  // {name, shown unit for a rotary load, for a linear one}
  const std::vector<std::vector<const char*>> cases = {
      {"Load_transmission", "rot", "mm"}, {"TestSpeed", "rpm", "m/s"}, {"Limit_Speed", "rad/s", "m/s"},
      {"TestPosition", "rot", "mm"}, {"ERR_position", "rot", "mm"}, {"ERR_speed", "rad/s", "m/s"},
      {"ErefMaxSpeed", "rpm", "m/s"}, {"ErefMaxAcceleration", "rad/s^2", "m/s^2"}, {"Negative_SWLS", "rot", "mm"},
      {"FreezeControl_errband", "m", "m"}, {"POS_max", "m", "m"},  // their features are absent
      {"APOS", "rot", "mm"}, {"CSPD", "rpm", "m/s"}, {"CACC", "rad/s^2", "m/s^2"}, {"JERK", "rad/s^3", "m/s^3"},
      // The motor's own: already of the linear types, so they stay as they are.
      {"APOS_MT", "m", "m"}, {"ASPD", "m/s", "m/s"}, {"ASPD_MT", "m/s", "m/s"}};
  for (const bool rotary : {true, false}) {
    setup->SetParameterValueInBaseUnit("TransmissionType", rotary ? 1 : 0);
    EXPECT_EQ(SwitchUnitTypes(*setup), 1);
    axcore::QuietLookup quiet;
    for (const auto& c : cases) {
      const CMC_Quantity* q = setup->FindParameter(c[0]);
      if (q == nullptr) q = setup->FindVariable(c[0]);
      EXPECT_STREQ(q->GetShownUnit().GetName(), rotary ? c[1] : c[2]) << c[0] << (rotary ? " rotary" : " linear");
    }
  }
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("TestSpeed"), 0.5) << "the base value is kept";
  EXPECT_TRUE(axcore::TakeMissingNames().empty()) << "absent variables and probes are not reported";
}

TEST(SpeedFeedforwardRule, FeedsTheSpeedForwardUnlessThePositionLoopHasASpeedLoop) {
  const struct {
    double mode, type, acr;
    int result;
    double speedForward, acrAfter;
  } cases[] = {
      {0, 1, 0x0700, 1, 0, 0x0700},      // position loop with its speed loop: nothing to do
      {0, 0, 0x0500, 1, 1, 0x4500},      // bit 14 set, the others kept
      {1, 0, 0x4300, 1, 1, 0x4300},      // bit 14 already set
      {2, 1, 0x0100, 1, 1, 0x4100},
      {0, 1e300, 0x0500, 0, 0, 0x0500},  // no int type: nothing written
      {1, 0, 1e300, 0, 0, 1e300},        // no register bits: nothing written
  };
  for (const auto& c : cases) {
    auto setup = MakeSetup({{"SpeedForward", 0}, {"ControlMode", c.mode}, {"PositionControlType", c.type},
                            {"ACR", c.acr}});
    const std::string context = " for ControlMode " + std::to_string(c.mode) + ", type " + std::to_string(c.type) +
                                ", ACR " + std::to_string(c.acr);
    EXPECT_EQ(ApplySpeedFeedforwardRule(*setup), c.result) << context;
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("SpeedForward"), c.speedForward) << context;
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("ACR"), c.acrAfter) << context;
  }
}

}  // namespace
