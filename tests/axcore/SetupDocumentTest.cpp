#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "axcore/Diagnostics.h"
#include "axcore/HostFunctions.h"
#include "axcore/Setup.h"
#include "support/TestSetup.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

CMC_Parameter* Add(CMC_Setup& setup, const char* name, bool isInt, std::optional<double> min = {},
                   std::optional<double> max = {}, const char* unit = "") {
  ParameterSpec spec;
  spec.name = name;
  spec.unit = unit;
  spec.isInt = isInt;
  spec.min = min;
  spec.max = max;
  return setup.AddParameter(spec);
}

TEST(ParameterWrite, RoundsIntParametersAndClampsToTheRange) {
  const struct {
    bool isInt;
    std::optional<double> min, max;
    double written, stored;
  } cases[] = {
      {true, {}, {}, 2.5, 3.0},           {true, {}, {}, -2.5, -3.0},       {true, {}, {}, 16383.4999, 16383.0},
      {false, {}, {}, 2.5, 2.5},          {false, 0.0, 10.0, 12.0, 10.0},   {false, 0.0, 10.0, -1.0, 0.0},
      {true, 0.0, 32767.0, 40000.6, 32767.0}, {false, 0.0, {}, -5.0, 0.0}, {false, {}, 1.0, 5.0, 1.0},
      // A crossed range (limits set one at a time) does not clamp.
      {false, 5.0, 1.0, 3.0, 3.0},        {false, 5.0, 1.0, 9.0, 9.0},
  };
  for (const auto& c : cases) {
    CMC_Setup setup;
    CMC_Parameter* p = Add(setup, "P", c.isInt, c.min, c.max);
    EXPECT_EQ(p->SetValueInBaseUnit(c.written), 1);
    EXPECT_EQ(p->GetValueInBaseUnit(), c.stored) << "wrote " << c.written;
  }
}

TEST(ParameterWrite, RefusesNonFiniteValuesThroughEverySetter) {
  for (double bad : {std::nan(""), kInf, -kInf}) {
    CMC_Setup setup;
    CMC_Parameter* p = Add(setup, "Kp_C_scl", false);
    p->SetValueInBaseUnit(2.0);
    CMC_Variable* v = setup.AddVariable("MER", "");
    v->SetValueInBaseUnit(7.0);
    EXPECT_EQ(p->SetValueInBaseUnit(bad), 0);
    EXPECT_EQ(p->SetValueInInternalUnit(bad), 0);
    EXPECT_EQ(setup.SetParameterValueInBaseUnit("Kp_C_scl", bad), 0);
    EXPECT_EQ(setup.SetParameterValueInInternalUnit("Kp_C_scl", bad), 0);
    EXPECT_EQ(v->SetValueInBaseUnit(bad), 0);
    EXPECT_EQ(v->SetValueInInternalUnit(bad), 0);
    EXPECT_EQ(p->GetValueInBaseUnit(), 2.0);
    EXPECT_EQ(v->GetValueInBaseUnit(), 7.0);
    EXPECT_EQ(p->SetMinInBaseUnit(bad), 0);
    EXPECT_EQ(p->SetMaxInBaseUnit(bad), 0);
    EXPECT_FALSE(p->HasMin());
    EXPECT_FALSE(p->HasMax());
  }
}

TEST(ParameterWrite, SettingALimitNeverMovesTheValue) {
  CMC_Setup setup;
  CMC_Parameter* p = Add(setup, "IlimPS", false);
  p->SetValueInBaseUnit(8.0);
  p->SetMaxInBaseUnit(4.0);
  EXPECT_EQ(p->GetValueInBaseUnit(), 8.0);
  EXPECT_EQ(p->GetMinInBaseUnit(), -kInf);
  EXPECT_EQ(p->GetMaxInBaseUnit(), 4.0);
  p->SetValueInBaseUnit(8.0);
  EXPECT_EQ(p->GetValueInBaseUnit(), 4.0);
}

// A stand-in plug-in: one internal unit of every "A" quantity is 0.5 A, offset 10.
double HalfFactor(CMC_Setup*, const char* unit, const char*) { return std::string_view(unit) == "A" ? 0.5 : 1.0; }
double TenOffset(CMC_Setup*, const char* unit) { return std::string_view(unit) == "A" ? 10.0 : 0.0; }
double ZeroFactor(CMC_Setup*, const char*, const char*) { return 0.0; }
double InfiniteFactor(CMC_Setup*, const char*, const char*) { return kInf; }

TEST(InternalUnit, ConvertsThroughThePluginsFactorAndOffset) {
  CMC_Setup setup;
  CMC_Parameter* p = Add(setup, "IlimPS", false, {}, {}, "A");
  p->SetValueInBaseUnit(3.0);
  EXPECT_EQ(p->GetValueInInternalUnit(), 3.0);  // no plug-in: factor 1, offset 0
  setup.SetScaleFunctions({HalfFactor, TenOffset});
  EXPECT_EQ(p->GetValueInInternalUnit(), 3.0 / 0.5 - 10.0);
  EXPECT_EQ(setup.SetParameterValueInInternalUnit("IlimPS", 0.0), 1);
  EXPECT_EQ(p->GetValueInBaseUnit(), (0.0 + 10.0) * 0.5);
  for (auto broken : {ZeroFactor, InfiniteFactor}) {
    setup.SetScaleFunctions({broken, TenOffset});
    EXPECT_EQ(p->GetValueInInternalUnit(), p->GetValueInBaseUnit()) << "a refused factor refuses the offset too";
  }
}

TEST(Names, AreMatchedWithAsciiCaseIgnoredAndKeptInOrder) {
  CMC_Setup setup;
  ASSERT_NE(Add(setup, "isMotorI2t", true), nullptr);
  ASSERT_NE(Add(setup, "KPI", true), nullptr);
  EXPECT_EQ(Add(setup, "ismotori2t", true), nullptr) << "a name differing only in case is the same name";
  EXPECT_EQ(setup.FindParameter("ISMOTORi2T")->GetName(), "isMotorI2t");
  EXPECT_EQ(setup.Parameters()[0]->GetName(), "isMotorI2t");
  EXPECT_EQ(setup.Parameters()[1]->GetName(), "KPI");
  EXPECT_EQ(setup.RemoveParameter("kpi"), 1);
  EXPECT_EQ(setup.FindParameter("isMotorI2t")->GetName(), "isMotorI2t");
  axcore::TakeMissingNames();
}

TEST(MissingNames, AreReportedOncePerNameUnlessTheLookupIsQuiet) {
  axcore::TakeMissingNames();
  CMC_Setup setup;
  EXPECT_EQ(setup.GetParameterValueInBaseUnit("SATS"), 0.0);
  EXPECT_EQ(setup.SetParameterValueInBaseUnit("sats", 3.0), 0);
  EXPECT_EQ(setup.FindVariable("MER"), nullptr);
  {
    axcore::QuietLookup quiet;
    EXPECT_EQ(setup.FindParameter("DBTPC"), nullptr);
  }
  EXPECT_EQ(g_bShowErrors, 1);
  const auto missing = axcore::TakeMissingNames();
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_EQ(axcore::FormatMissingName(missing[0]), "warning: no parameter \"SATS\" in this setup");
  EXPECT_EQ(axcore::FormatMissingName(missing[1]), "warning: no variable \"MER\" in this setup");
  EXPECT_TRUE(axcore::TakeMissingNames().empty());
  Compute_ADCMaxValue(&setup);  // "ADCbits" is optional: looked up quietly
  EXPECT_TRUE(axcore::TakeMissingNames().empty());
}

TEST(Options, ReadTheLeadingIntegerAndIgnoreCase) {
  CMC_Setup setup;
  const struct {
    const char* text;
    int value;
  } cases[] = {{"1", 1}, {"-1", -1}, {"12abc", 12}, {"", 0}, {"abc", 0}, {" 7", 7}, {"99999999999", 2147483647}};
  for (const auto& c : cases) {
    setup.SetOption("hasNegTransmission", c.text);
    EXPECT_EQ(setup.GetIntOption("HASNEGTRANSMISSION"), c.value) << '"' << c.text << '"';
  }
  EXPECT_EQ(setup.GetIntOption("absent"), 0);
  EXPECT_EQ(setup.GetOptionNoError("absent"), "");
  setup.SetOption("HasNegTransmission", "0");
  EXPECT_EQ(setup.Options().size(), 1u);
  setup.ClearOption("hasnegtransmission");
  EXPECT_FALSE(setup.HasOption("hasNegTransmission"));
  EXPECT_TRUE(axcore::TakeMissingNames().empty()) << "options are never reported";
}

TEST(Units, ChangeUnitTypeKeepsTheBaseValueAndSwitchesOnlyAcrossTypes) {
  CMC_Setup setup;
  CMC_Parameter* p = Add(setup, "Load_transmission", false, {}, {}, "m");
  p->SetShownUnit("mm");
  p->SetValueInBaseUnit(0.004);
  EXPECT_EQ(p->ChangeUnitType("mm"), 1);  // same type: nothing changes
  EXPECT_STREQ(p->GetUnit(), "m");
  EXPECT_STREQ(p->GetShownUnit().GetName(), "mm");
  EXPECT_EQ(p->ChangeUnitType("rot"), 1);
  EXPECT_STREQ(p->GetUnit(), "rad");
  EXPECT_STREQ(p->GetShownUnit().GetName(), "rot");
  EXPECT_EQ(p->GetValueInBaseUnit(), 0.004);
  EXPECT_DOUBLE_EQ(p->GetValueInShownUnit(), 0.004 / (2 * std::numbers::pi));
  EXPECT_EQ(p->ChangeUnitType("furlong"), 0);
  EXPECT_STREQ(p->GetUnit(), "rad");
  EXPECT_EQ(setup.ChangeParameterUnit("load_transmission", "deg"), 1);
  EXPECT_EQ(setup.GetParameterUnit("Load_transmission"), "deg");
  EXPECT_EQ(setup.ChangeParameterUnit("Load_transmission", "mm"), 0) << "the shown unit keeps the type";
}

TEST(Units, PrintValueUsesTheShownUnit) {
  CMC_Setup setup;
  CMC_Parameter* p = Add(setup, "L", false, {}, {}, "H");
  p->SetValueInBaseUnit(0.0035);
  EXPECT_EQ(p->PrintValue(), "0.0035 H");
  p->SetShownUnit("mH");
  EXPECT_EQ(p->PrintValue(), "3.5 mH");
  EXPECT_EQ(Add(setup, "KPI", true)->PrintValue(), "0");
}

TEST(Copy, IsDeepAndConvertsWithTheCopysOwnValues) {
  auto original = testing_support::MakeSetup({{"KPI", 1.0}, {"R", 4.0, "ohm"}});
  original->SetOption("NewDeadBand", "1");
  CMC_Setup copy = *original;
  copy.SetParameterValueInBaseUnit("KPI", 5.0);
  copy.FindParameter("R")->ChangeUnitType("A");
  EXPECT_EQ(original->GetParameterValueInBaseUnit("KPI"), 1.0);
  EXPECT_STREQ(original->FindParameter("R")->GetUnit(), "ohm");
  EXPECT_EQ(copy.FindParameter("KPI")->GetSetup(), &copy);
  EXPECT_EQ(copy.GetIntOption("NewDeadBand"), 1);
}

TEST(Drive, WithoutADriveEveryChipAccessFailsWithAReason) {
  CMC_Setup setup;
  CMC_Parameter* p = Add(setup, "KPI", true);
  CMC_Variable* v = setup.AddVariable("MER", "");
  EXPECT_EQ(p->WriteToChip(), 0);
  EXPECT_EQ(v->ReadFromChip(), 0);
  EXPECT_EQ(v->WriteToChip(), 0);
  EXPECT_EQ(setup.GetLastDriveError(), "no drive connected");
}

}  // namespace
