// The drive's biquad filters checked against filter theory. Each design is
// the bilinear transform of an analog prototype pre-warped at F1, so at
// f = F1 the digital response is the prototype's at s = j (s normalised to
// F1). The prototypes are the textbook transfer functions, not the digital
// coefficients.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "BiquadDesign.h"
#include "EmbeddedExamples.h"
#include "FilterResponse.h"
#include "support/TestSetup.h"
#include "axcore/Comm.h"
#include "axcore/Diagnostics.h"
#include "axcore/SetupFile.h"

namespace {

using cd = std::complex<double>;
constexpr double kTwoPow30 = 1073741824.0;
constexpr double kTwoPow31 = 2147483648.0;

std::unique_ptr<CMC_Setup> Example() { return testing_support::LoadExample(); }

// The example drive at speed-loop period ts, every filter off and its
// parameters freed of their ranges, so a case can store what the dialog
// would refuse.
std::unique_ptr<CMC_Setup> FilterDrive(double ts) {
  auto setup = Example();
  for (const char* format : {"BQFilter", "BQFilterType", "BQFilterLocation", "BQFilterF1", "BQFilterF2", "BQFilterQ"})
    for (int n = 1; n <= 3; ++n) {
      CMC_Parameter* p = setup->FindParameter(format + std::to_string(n));
      p->ClearMin();
      p->ClearMax();
      if (std::string(format) == "BQFilter") p->SetValueInBaseUnit(0);
    }
  setup->SetParameterValueInBaseUnit("Ts_S", ts);
  return setup;
}

// type, location, F1 in Hz, then Q, or F2 in Hz for the lead-lag types.
void Put(CMC_Setup& setup, int n, double type, double location, double f1, double second, double on = 1) {
  const std::string s = std::to_string(n);
  for (const auto& [name, value] : {std::pair{"BQFilter", on},
                                    {"BQFilterType", type},
                                    {"BQFilterLocation", location},
                                    {"BQFilterF1", f1},
                                    {"BQFilterF2", second},
                                    {"BQFilterQ", second}})
    setup.SetParameterValueInBaseUnit(name + s, value);
}

BiquadRegisters Slot(const CMC_Setup& setup, int slot) {
  const std::string p = "BQ" + std::to_string(slot);
  auto get = [&](const char* r) { return setup.GetParameterValueInBaseUnit(p + r); };
  return {get("B0"), get("B1"), get("B2"), get("A1"), get("A2"), get("SF")};
}

// The three counts, then the 18 slot registers.
std::vector<double> FilterRegisters(const CMC_Setup& setup) {
  std::vector<double> values;
  for (const char* count : {"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"})
    values.push_back(setup.GetParameterValueInBaseUnit(count));
  for (int s = 1; s <= 3; ++s) {
    const BiquadRegisters r = Slot(setup, s);
    values.insert(values.end(), {r.b0, r.b1, r.b2, r.a1, r.a2, r.sf});
  }
  return values;
}

void FillFilterRegisters(CMC_Setup& setup, double value) {
  for (const char* count : {"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"})
    setup.SetParameterValueInBaseUnit(count, value);
  for (int s = 1; s <= 3; ++s)
    for (const char* r : {"B0", "B1", "B2", "A1", "A2", "SF"})
      setup.SetParameterValueInBaseUnit("BQ" + std::to_string(s) + r, value);
}

// What the integers must satisfy for gain 1 at zero frequency:
// (B0 + B1 + B2 - A1 - A2) * SF = 2^31.
double ZeroFrequencySum(const BiquadRegisters& r) { return (r.b0 + r.b1 + r.b2 - r.a1 - r.a2) * r.sf; }

TEST(BiquadTypes, NamesAndTheOfferedList) {
  const char* names[] = {
      "Low Pass 1st order", "Low Pass 2nd order", "Notch", "High Pass", "Band Pass", "Peak", "Low Shelf", "High Shelf",
      "Lead-lag 1st order", "Lead-lag 2nd order"};
  CBiquadDesign design;
  for (int t = 0; t < 10; ++t) EXPECT_STREQ(design.GetTypeName(t), names[t]);
  std::vector<std::string> offered{"stale"};
  std::vector<int> indices{42};
  design.GetAvailableTypes(offered, indices);
  EXPECT_EQ(indices, (std::vector<int>{0, 1, 2, 3, 4, 8, 9}));
  ASSERT_EQ(offered.size(), 7u);
  for (std::size_t k = 0; k < 7; ++k) EXPECT_EQ(offered[k], names[indices[k]]);
}

TEST(BiquadDesign, AtF1TheResponseIsThePrototypesAtSEqualsJ) {
  const double ts = 1e-3;
  const double v = std::pow(10.0, 6.0 / 20.0), r2 = std::sqrt(2.0), r2v = std::sqrt(2.0 * v);
  const cd j(0.0, 1.0);
  // Lead-lag (1 + s/w1) / (1 + s/w2), each corner warped: w1/w2 on the warped axis.
  const double r = std::tan(std::numbers::pi * 0.05) / std::tan(std::numbers::pi * 0.2);
  const struct {
    const char* what;
    int type;
    double f1, second, gain_dB;
    cd atF1;
    double atZero;  // the prototype at s = 0
  } cases[] = {
      {"low pass 1st: 1/(1+j), -3 dB, -45 deg", 0, 100, 0, 0, 1.0 / (1.0 + j), 1},
      {"low pass 2nd, Q 0.707: -jQ, -3 dB", 1, 100, 0.707, 0, -0.707 * j, 1},
      {"notch: a null at F1", 2, 100, 2, 0, 0.0, 1},
      {"high pass, Q 0.707: +jQ", 3, 100, 0.707, 0, 0.707 * j, 0},
      {"band pass: 0 dB, 0 deg at F1", 4, 100, 2, 0, 1.0, 0},
      {"peak +6 dB", 5, 100, 1, 6, v, 1},
      {"peak -6 dB", 5, 100, 1, -6, 1.0 / v, 1},
      {"low shelf +6 dB", 6, 100, 0, 6, (v - 1.0 + r2v * j) / (r2 * j), v},
      {"low shelf -6 dB", 6, 100, 0, -6, (r2 * j) / (v - 1.0 + r2v * j), 1.0 / v},
      {"high shelf +6 dB", 7, 100, 0, 6, (1.0 - v + r2v * j) / (r2 * j), 1},
      {"high shelf -6 dB", 7, 100, 0, -6, (r2 * j) / (1.0 - v + r2v * j), 1},
      {"peak 0 dB: H = 1", 5, 100, 2, 0, 1.0, 1},
      {"low shelf 0 dB: H = 1", 6, 100, 0, 0, 1.0, 1},
      {"high shelf 0 dB: H = 1", 7, 100, 0, 0, 1.0, 1},
      {"lead-lag 1st, 50 to 200 Hz", 8, 50, 200, 0, (1.0 + j) / (1.0 + r * j), 1},
      {"lead-lag 1st, F1 = F2: H = 1", 8, 50, 50, 0, 1.0, 1},
      {"lead-lag 2nd, 50 to 200 Hz", 9, 50, 200, 0, (1.0 + j) * (1.0 + j) / ((1.0 + r * j) * (1.0 + r * j)), 1},
  };
  CBiquadDesign design;
  for (const auto& c : cases) {
    const double y = c.type >= 8 ? c.second * ts : c.second;
    design.ComputeCoefficients(c.type, c.f1 * ts, y, c.gain_dB);
    const cd h = BiquadResponse(design.GetCoefficients(), c.f1, ts);
    EXPECT_LT(std::abs(h - c.atF1), 1e-9) << c.what << ": " << h << " instead of " << c.atF1;
    EXPECT_LT(std::abs(BiquadResponse(design.GetCoefficients(), 0.0, ts) - c.atZero), 1e-9) << c.what << " at 0 Hz";
  }
}

TEST(BiquadQuantize, ScaleFactorIsTheSmallestPowerOfTwoEveryRegisterHolds) {
  const struct {
    const char* what;
    BiquadCoefficients c;
    double sf, b0, b1, a1;  // registers worked by hand: c / SF * 2^31
  } cases[] = {
      {"all below 1: plain Q31", {0.75, 0.5, 0, -0.25, 0}, 1, 1610612736, kTwoPow30, -536870912},
      {"largest exactly 1", {1, 0.5, 0, -0.5, 0}, 2, kTwoPow30, 536870912, -536870912},
      // With SF 2, 2.0 would be 2^31, which a signed 32-bit register wraps to -2^31.
      {"largest exactly 2", {0.5, 2, 0.5, -2, 1}, 4, 268435456, kTwoPow30, -kTwoPow30},
      {"largest exactly 4", {4, -1, 0, 0, 0}, 8, kTwoPow30, -268435456, 0},
      {"a hair below 1 still rounds to 2^31", {1 - std::ldexp(1.0, -40), 0, 0, 0, 0}, 2, kTwoPow30, 0, 0},
  };
  CBiquadDesign design;
  for (const auto& c : cases) {
    design.SetCoefficients(c.c);
    ASSERT_EQ(design.Quantize(), 1) << c.what;
    EXPECT_EQ(design.GetScaleFactor(), c.sf) << c.what;
    EXPECT_EQ(design.GetCoefficients().b0, c.b0) << c.what;
    EXPECT_EQ(design.GetCoefficients().b1, c.b1) << c.what;
    EXPECT_EQ(design.GetCoefficients().a1, c.a1) << c.what;
  }
  design.SetCoefficients({0.5, NAN, 0, 0, 0}, 8);
  EXPECT_EQ(design.Quantize(), 0);
  EXPECT_EQ(design.GetScaleFactor(), 8.0) << "a refused set changes nothing";
}

TEST(BiquadDesignFilter, LowPass50HzQ0707At1ms) {
  auto drive = FilterDrive(1e-3);
  Put(*drive, 1, 1, 1, 50, 0.707);
  CBiquadDesign design;
  ASSERT_EQ(design.DesignFilter(*drive, 1, 2), 1) << design.GetLastError();
  const BiquadRegisters r = Slot(*drive, 2);
  EXPECT_EQ(r.sf, 2.0);
  EXPECT_EQ(ZeroFrequencySum(r), kTwoPow31) << "gain 1 at zero frequency, exactly";
  EXPECT_NEAR(std::abs(BiquadResponse(r, 50.0, 1e-3)), 0.707, 1e-6) << "the prototype's Q at its corner";
}

TEST(BiquadDesignFilter, ScaleFactorAndZeroFrequencyGainByType) {
  const struct {
    const char* what;
    double type, f1, second, sf;
  } cases[] = {
      {"low pass 1st: a plain Q31 fraction", 0, 100, 0, 1},
      // b1 = 2 R^2 (K^2 - 1) / D^2 with K = tan(0.05 pi), K2 = tan(0.2 pi): about -13.8.
      {"lead-lag 2nd, 50 to 200 Hz", 9, 50, 200, 16},
      // At the Nyquist frequency b0 of the first order is a hair below 1 and
      // b1 of the second order a hair below 2: both round to 2^31 at SF 1 or 2.
      {"low pass 1st at the Nyquist frequency", 0, 500, 0, 2},
      {"low pass 2nd at the Nyquist frequency", 1, 500, 0.707, 4},
      {"high pass", 3, 100, 0.707, 2},
      {"band pass", 4, 100, 2, 2},
  };
  for (const auto& c : cases) {
    auto drive = FilterDrive(1e-3);
    Put(*drive, 3, c.type, 0, c.f1, c.second);
    CBiquadDesign design;
    ASSERT_EQ(design.DesignFilter(*drive, 3, 1), 1) << c.what << ": " << design.GetLastError();
    const BiquadRegisters r = Slot(*drive, 1);
    EXPECT_EQ(r.sf, c.sf) << c.what;
    if (c.type == 3 || c.type == 4) {
      // Designed for gain 0 at zero frequency, and kept at 0 exactly: a
      // correction to gain 1 would make them a different filter.
      EXPECT_EQ(r.b0 + r.b1 + r.b2, 0.0) << c.what;
      EXPECT_GT(r.b0, 0.0) << c.what;
    } else {
      EXPECT_EQ(ZeroFrequencySum(r), kTwoPow31) << c.what;
    }
  }
  // A lead-lag with F1 = F2 is H = 1: b0 = 1 is 2^30 at SF 2.
  auto drive = FilterDrive(1e-3);
  Put(*drive, 1, 8, 0, 120, 120);
  CBiquadDesign design;
  ASSERT_EQ(design.DesignFilter(*drive, 1, 3), 1);
  const BiquadRegisters r = Slot(*drive, 3);
  EXPECT_EQ(std::vector<double>({r.b0, r.b1 - r.a1, r.b2, r.a2, r.sf}), std::vector<double>({kTwoPow30, 0, 0, 0, 2}));
}

TEST(EncodeFilters, SlotsAreFilledLocationByLocation) {
  // Types whose SF tells them apart: low pass 1st SF 1, low pass 2nd SF 2,
  // lead-lag 2nd 50/200 Hz SF 16. Location 3 is none of the drive's.
  const struct {
    const char* what;
    double location[3];
    double on[3];
    std::vector<double> countsAndSf;  // three counts, then the SF of slots 1 to 3
  } cases[] = {
      {"all off: every register 0", {0, 1, 2}, {0, 0, 0}, {0, 0, 0, 0, 0, 0}},
      {"filter 3 at the position controller output, 1 and 2 on the speed feedback",
       {2, 2, 0},
       {1, 1, 1},
       {1, 0, 2, 1, 16, 2}},
      {"one filter per location, in reverse filter order", {2, 1, 0}, {1, 1, 1}, {1, 1, 1, 1, 2, 16}},
      {"off or at location 3: no slot", {1, 3, 1}, {1, 1, 0}, {0, 1, 0, 16, 0, 0}},
  };
  for (const auto& c : cases) {
    auto drive = FilterDrive(1e-3);
    FillFilterRegisters(*drive, 3);
    Put(*drive, 1, 9, c.location[0], 50, 200, c.on[0]);
    Put(*drive, 2, 1, c.location[1], 100, 0.707, c.on[1]);
    Put(*drive, 3, 0, c.location[2], 100, 0, c.on[2]);
    CBiquadDesign design;
    ASSERT_EQ(design.EncodeFilters(*drive), 1) << c.what << ": " << design.GetLastError();
    const std::vector<double> all = FilterRegisters(*drive);
    EXPECT_EQ(std::vector<double>({all[0], all[1], all[2], all[8], all[14], all[20]}), c.countsAndSf) << c.what;
    for (int s = 0; s < 3; ++s) {
      if (all[8 + 6 * s] == 0) {
        EXPECT_EQ(std::vector<double>(all.begin() + 3 + 6 * s, all.begin() + 9 + 6 * s), std::vector<double>(6, 0))
            << c.what << ": unused slot " << s + 1;
      }
    }
  }
}

TEST(EncodeFilters, AFilterTheDriveCannotHoldChangesNothing) {
  const struct {
    const char* what;
    double ts, type, f1, second;
  } cases[] = {
      {"Q 0 makes the coefficients infinite", 1e-3, 1, 100, 0},
      {"type 12 is none of the drive's", 1e-3, 12, 100, 0.707},
      {"type 1e300 is no integer", 1e-3, 1e300, 100, 0.707},
      // b0 = ((1 + K) / K * K2 / (1 + K2))^2 is about 1.0e5: SF 2^17, beyond the 16-bit "BQ2SF".
      {"lead-lag 2nd from 1 Hz to 500 Hz", 5e-4, 9, 1, 500},
  };
  for (const auto& c : cases) {
    auto drive = FilterDrive(c.ts);
    Put(*drive, 1, 0, 0, 100, 0);  // designs fine, into slot 1
    Put(*drive, 2, c.type, 1, c.f1, c.second);
    FillFilterRegisters(*drive, 3);
    CBiquadDesign design;
    EXPECT_EQ(design.EncodeFilters(*drive), 0) << c.what;
    EXPECT_EQ(FilterRegisters(*drive), std::vector<double>(21, 3.0)) << c.what << ": nothing written";
    EXPECT_NE(design.GetLastError().find("filter 2"), std::string::npos) << c.what << ": " << design.GetLastError();
  }
}

TEST(EncodeFilters, TheExampleRegistersAreWhatItsFiltersGive) {
  // Filter 1 of the example: a 200 Hz low pass, Q 0.707, on the current reference, Ts_S 500 µs.
  auto drive = Example();
  axcore::TakeMissingNames();
  const std::vector<double> stored = FilterRegisters(*drive);
  CBiquadDesign design;
  ASSERT_EQ(design.EncodeFilters(*drive), 1) << design.GetLastError();
  EXPECT_EQ(FilterRegisters(*drive), stored);
  EXPECT_TRUE(axcore::TakeMissingNames().empty());
}

// Over 1 Hz to 0.45 of the sampling rate, wherever the design passes more than
// -40 dB, the registers give its magnitude within 0.01 dB, for F1 from 5 Hz to
// 0.4 of the sampling rate.
TEST(EncodeFilters, QuantisedResponseFollowsTheDesign) {
  // Q, or F2 / F1 for the lead-lag types.
  const std::pair<int, double> shapes[] = {{0, 0}, {1, 0.5},   {1, 0.707}, {1, 4}, {2, 0.707}, {2, 5}, {3, 0.5},
                                           {3, 4}, {4, 0.707}, {4, 5},     {8, 4}, {8, 0.25},  {9, 4}, {9, 0.25}};
  double worst = 0.0;
  std::string where;
  auto drive = FilterDrive(1e-3);
  for (double ts : {1e-3, 5e-4, 1e-4}) {
    drive->SetParameterValueInBaseUnit("Ts_S", ts);
    const double fs = 1.0 / ts;
    for (const auto& [type, second] : shapes) {
      for (int i = 0; i < 12; ++i) {
        const double f1 = 5.0 * std::pow(0.4 * fs / 5.0, i / 11.0);
        const double y = type >= 8 ? std::clamp(f1 * second, 1.0, 0.45 * fs) : second;
        Put(*drive, 1, type, 0, f1, y);
        CBiquadDesign design;
        ASSERT_EQ(design.ComputeFilter(*drive, 1), 1);
        const BiquadCoefficients ideal = design.GetCoefficients();
        ASSERT_EQ(design.DesignFilter(*drive, 1, 1), 1) << design.GetLastError();
        const BiquadRegisters r = Slot(*drive, 1);
        for (int k = 0; k < 60; ++k) {
          const double f = std::pow(0.45 * fs, k / 59.0);
          const double want = MagnitudeDb(BiquadResponse(ideal, f, ts));
          const double error = std::fabs(MagnitudeDb(BiquadResponse(r, f, ts)) - want);
          if (want > -40.0 && error > worst) {
            worst = error;
            where = "type " + std::to_string(type) + ", F1 " + std::to_string(f1) + " Hz, at " + std::to_string(f) +
                    " Hz, Ts " + std::to_string(ts);
          }
        }
      }
    }
  }
  EXPECT_LT(worst, 0.01) << where;
}

// A drive that takes register writes and records their order; a write of
// `refuse` fails as a lost link would.
struct RecordingLink : DriveLink {
  std::vector<std::string> written;
  std::string refuse;
  bool WriteRegister(std::string_view name, double, std::string& error) override {
    if (name == refuse) return error = "link lost", false;
    written.emplace_back(name);
    return true;
  }
  bool ReadVariable(std::string_view, double&, std::string&) override { return false; }
  bool WriteVariable(std::string_view, double, std::string&) override { return false; }
  bool SetProgramVariable(std::string_view, std::string_view, double, std::string&) override { return false; }
  bool GetProgramVariable(std::string_view, std::string_view, double&, std::string&) override { return false; }
  bool StartProgram(std::string_view, const LoggerSettings*, std::string&) override { return false; }
  bool StopProgram(std::string&) override { return false; }
  bool GetAxisOn(bool&, std::string&) override { return false; }
  bool UploadLog(std::vector<std::vector<double>>&, std::string&) override { return false; }
  bool TakeUnsolicitedMessages(std::vector<UnsolicitedMessage>&, std::string&) override { return false; }
};

TEST(WriteFiltersToDrive, CountsFirstThenEachSlotSkippingAbsentRegisters) {
  CBiquadDesign design;
  auto drive = Example();
  drive->RemoveParameter("BQ2A2");
  EXPECT_EQ(design.WriteFiltersToDrive(*drive), 0);
  EXPECT_EQ(drive->GetLastDriveError(), "no drive connected");

  RecordingLink link;
  ScopedDriveLink connected(&link);
  axcore::TakeMissingNames();
  EXPECT_EQ(design.WriteFiltersToDrive(*drive), 1);
  std::vector<std::string> expected{"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"};
  for (const char* s : {"1", "2", "3"})
    for (const char* r : {"B0", "B1", "B2", "A1", "A2", "SF"})
      if (std::string("BQ") + s + r != "BQ2A2") expected.push_back(std::string("BQ") + s + r);
  EXPECT_EQ(link.written, expected);
  EXPECT_TRUE(axcore::TakeMissingNames().empty()) << "an absent register is skipped quietly";

  link.written.clear();
  link.refuse = "BQ1B1";
  EXPECT_EQ(design.WriteFiltersToDrive(*drive), 0);
  EXPECT_EQ(link.written.size(), 4u) << "stops at the first failed write";
  EXPECT_EQ(drive->GetLastDriveError(), "link lost");
}

TEST(BiquadDesign, AFilterReadsOnlyWhatItsTypeNeeds) {
  // A low pass has no second frequency: a setup without "BQFilterF21" (or
  // without the Q of a lead-lag) designs it without a missing-name report.
  const struct {
    double type;
    const char* absent;
  } cases[] = {{1, "BQFilterF21"}, {8, "BQFilterQ1"}};
  for (const auto& c : cases) {
    auto drive = Example();
    drive->SetParameterValueInBaseUnit("BQFilterType1", c.type);
    drive->RemoveParameter(c.absent);
    axcore::TakeMissingNames();
    CBiquadDesign design;
    EXPECT_EQ(design.ComputeFilter(*drive, 1), 1) << c.absent;
    for (const axcore::MissingName& missing : axcore::TakeMissingNames())
      ADD_FAILURE() << c.absent << ": " << axcore::FormatMissingName(missing);
  }
}

}  // namespace
