// The Filters dialog driven as a user drives it, and the response it plots
// against what `axhost filters --csv` prints for the same setup.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "FiltersDialog.h"
#include "ScriptedDialog.h"
#include "axcore/PlotDocument.h"
#include "axcore/SetupFile.h"
#include "support/HostRunner.h"

namespace {

using dialog_testing::Expect;
using dialog_testing::ExampleSetup;
using Outcome = dialog_testing::DialogScriptRun<CFiltersDialog>;

double Get(const CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

Outcome RunDialog(CMC_Setup& setup, const std::string& script, int lock = 0) {
  return dialog_testing::RunScript<CFiltersDialog>(script,
                                                   [&] { return std::make_unique<CFiltersDialog>(&setup, lock); });
}

// The example has filter 1 on (a second-order low pass at 200 Hz), filter 2
// off (a notch) and filter 3 off (a first-order lead-lag).
TEST(FiltersStates, StructureLockTypeAndSwitchDecideWhatIsUsable) {
  const struct {
    const char* name;
    int lock;
    std::function<void(CMC_Setup&)> prepare;
    const char* script;
    std::vector<Expect> expect;
  } cases[] = {
      {"as the example stands", 0, [](CMC_Setup&) {}, "",
       {{3485, 1, 1, "On", 1}, {3484, 1, 1}, {3502, 1, 1, "Speed Controller Output"},
        {3487, 1, 1, "Low Pass 2nd order"}, {3490, 1, 1, "Frequency"}, {3491, 1, 1, "200"}, {3488, 1, 1, "Q"},
        {3489, 1, 1, "0.707"}, {3504, 0}, {3510, 0}, {3493, 1, 1, "Off", 0}, {3492, 1, 0}, {3500, 1, 0},
        {3495, 1, 0, "Notch"}, {3499, 1, 0}, {3497, 1, 0}}},
      {"a running test locks the structure, not the tuning", 1, [](CMC_Setup&) {}, "",
       {{3485, 1, 0, "On"}, {3503, 1, 0}, {3502, 1, 0}, {3487, 1, 1}, {3491, 1, 1}, {3489, 1, 1}, {3493, 1, 0},
        {3500, 1, 0}, {3518, 1, 0}, {3526, 1, 0}}},
      {"a lead-lag reads a lag frequency in the place of Q", 0, [](CMC_Setup&) {},
       "select 3487 Lead-lag 2nd order\n",
       {{3490, 1, 1, "Lead Frequency"}, {3488, 1, 1, "Lag Frequency"}, {3489, 0}, {3504, 1, 1, "400"},
        {3510, 1, 1, "Hz"}}},
      {"a first-order low pass has no Q", 0, [](CMC_Setup&) {}, "select 3487 Low Pass 1st order\n",
       {{3488, 1, 0, "Q"}, {3489, 1, 0}, {3491, 1, 1}}},
      {"switched off, all but the switch greys", 0, [](CMC_Setup&) {}, "check 3485 0\n",
       {{3485, 1, 1, "Off", 0}, {3484, 1, 0}, {3503, 1, 0}, {3502, 1, 0}, {3486, 1, 0}, {3487, 1, 0},
        {3490, 1, 0}, {3491, 1, 0}, {3508, 1, 0}, {3488, 1, 0}, {3489, 1, 0}}},
      {"switched on", 0, [](CMC_Setup&) {}, "check 3518 1\n",
       {{3518, 1, 1, "On", 1}, {3517, 1, 1}, {3526, 1, 1, "Speed Feedback"}, {3519, 1, 1, "Lead-lag 1st order"},
        {3522, 1, 1, "Lead Frequency"}, {3521, 1, 1, "Lag Frequency"}, {3506, 1, 1, "200"}, {3523, 0}}},
      {"a type the dialog does not offer has no item", 0,
       [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("BQFilterType2", 5); }, "", {{3495, 1, 0, ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = ExampleSetup();
    c.prepare(*setup);
    const Outcome run = RunDialog(*setup, std::string(c.script) + "click 2\n", c.lock);
    ASSERT_EQ(run.failure, "");
    dialog_testing::CheckControls(run, c.expect);
  }
}

TEST(FiltersValues, TheCombosStoreTheirItemDataAndHelpOpensTheFiltersPage) {
  auto setup = ExampleSetup();
  const Outcome run = RunDialog(
      *setup, "select 3502 Speed Feedback\nselect 3487 Lead-lag 2nd order\ntype 3491 150\nclick 10024\nclick 1\n");
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(Get(*setup, "BQFilterLocation1"), 2);
  EXPECT_EQ(Get(*setup, "BQFilterType1"), 9);
  EXPECT_EQ(Get(*setup, "BQFilterF11"), 150);
  ASSERT_EQ(run.help.size(), 1u);
  EXPECT_NE(run.help[0].find("help/filters.html (context 0x4010F)"), std::string::npos) << run.help[0];
}

// ---------------------------------------------------------------- the plot

std::vector<std::string> Names(const axcore::PlotDocument& plot) {
  std::vector<std::string> names;
  for (const axcore::PlotCurve& curve : plot.Curves()) names.push_back(curve.name);
  return names;
}

const axcore::PlotCurve& Curve(const axcore::PlotDocument& plot, const std::string& name) {
  for (const axcore::PlotCurve& curve : plot.Curves())
    if (curve.name == name) return curve;
  ADD_FAILURE() << "no curve " << name;
  static const axcore::PlotCurve none;
  return none;
}

// The frequency at which a falling magnitude curve first crosses `level`,
// interpolated on the logarithmic frequency axis.
double Crossing(const axcore::PlotCurve& curve, double level) {
  for (std::size_t i = 1; i < curve.x.size(); ++i)
    if (curve.y[i - 1] >= level && curve.y[i] < level) {
      const double t = (level - curve.y[i - 1]) / (curve.y[i] - curve.y[i - 1]);
      return std::pow(10.0, std::log10(curve.x[i - 1]) + t * (std::log10(curve.x[i]) - std::log10(curve.x[i - 1])));
    }
  return NAN;
}

TEST(FiltersPlot, ShowsTheFiltersThatAreOnAndFollowsTheUsersEdits) {
  const struct {
    const char* name;
    const char* script;
    std::vector<std::string> curves;
    std::function<void(const axcore::PlotDocument& magnitude, const axcore::PlotDocument& phase)> check;
  } cases[] = {
      // The design is pre-warped at F1: a Butterworth low pass (Q = 1/sqrt 2)
      // is 3.01 dB down exactly at its frequency.
      {"the example's low pass, retuned to 100 Hz", "type 3491 100\ntype 3489 0.7071068\n",
       {"Filter 1", "Filter 1 (ideal)"},
       [](const axcore::PlotDocument& m, const axcore::PlotDocument&) {
         EXPECT_NEAR(Crossing(Curve(m, "Filter 1 (ideal)"), -3.0103), 100.0, 0.5);
         EXPECT_NEAR(Crossing(Curve(m, "Filter 1"), -3.0103), 100.0, 0.5);
       }},
      // A lead-lag whose lead and lag frequencies meet passes everything.
      {"a lead-lag with F1 = F2 is no filter at all", "check 3485 0\ncheck 3518 1\ntype 3524 200\n",
       {"Filter 3", "Filter 3 (ideal)"},
       [](const axcore::PlotDocument& m, const axcore::PlotDocument& p) {
         for (const char* name : {"Filter 3", "Filter 3 (ideal)"}) {
           for (double y : Curve(m, name).y) EXPECT_NEAR(y, 0.0, 1e-6) << name;
           for (double y : Curve(p, name).y) EXPECT_NEAR(y, 0.0, 1e-5) << name;
         }
       }},
      {"all three on: each and all in series", "check 3493 1\ncheck 3518 1\n",
       {"Filter 1", "Filter 1 (ideal)", "Filter 2", "Filter 2 (ideal)", "Filter 3", "Filter 3 (ideal)",
        "All filters", "All filters (ideal)"},
       [](const axcore::PlotDocument& m, const axcore::PlotDocument&) {
         // In series the gains in dB add up.
         const auto& all = Curve(m, "All filters").y;
         for (std::size_t i = 0; i < all.size(); ++i) {
           const double sum = Curve(m, "Filter 1").y[i] + Curve(m, "Filter 2").y[i] + Curve(m, "Filter 3").y[i];
           if (std::isfinite(sum)) {
             EXPECT_NEAR(all[i], sum, 1e-9);
           }
         }
       }},
      {"a filter at no place in the loop is not run", "check 3485 0\n", {}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = ExampleSetup();
    const Outcome run = RunDialog(*setup, std::string(c.script) + "click 2\n");
    ASSERT_EQ(run.failure, "");
    const axcore::PlotDocument& magnitude = *run.dialog->GetPlot(CFiltersDialog::kMagnitudePlot);
    const axcore::PlotDocument& phase = *run.dialog->GetPlot(CFiltersDialog::kPhasePlot);
    EXPECT_EQ(Names(magnitude), c.curves);
    EXPECT_EQ(Names(phase), c.curves);
    // Ts_S = 0.5 ms: the speed loop's Nyquist frequency is 1 kHz.
    ASSERT_EQ(magnitude.Markers().size(), 1u);
    EXPECT_DOUBLE_EQ(magnitude.Markers()[0].x, 1000.0);
    EXPECT_EQ(magnitude.Markers()[0].label, "Nyquist 1000 Hz");
    for (const axcore::PlotCurve& curve : magnitude.Curves()) {
      EXPECT_DOUBLE_EQ(curve.x.front(), 1.0);
      EXPECT_DOUBLE_EQ(curve.x.back(), 999.0);
    }
    if (c.check) c.check(magnitude, phase);
  }
}

// A CSV file as rows of cells, the header first.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    if (!line.empty() && line.back() == ',') cells.emplace_back();
    rows.push_back(cells);
  }
  return rows;
}

// The plot and the command compute the response in one place; what the user
// sees in the dialog is what `axhost filters --csv` prints, at every one of
// its frequencies.
TEST(FiltersPlot, EqualsWhatAxhostFiltersPrints) {
  const struct {
    const char* name;
    const char* script;
  } cases[] = {
      {"the example as it is", ""},
      {"all three on, one at each place", "check 3493 1\nselect 3500 Position Controller Output\ncheck 3518 1\n"},
      {"two lead-lags and a band pass", "select 3487 Band Pass\ncheck 3493 1\nselect 3495 Lead-lag 2nd order\n"
                                         "type 3505 900\ncheck 3518 1\ntype 3524 40\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir dir("filters-plot");
    const std::string magnitudeFile = (dir.path() / "magnitude.csv").string();
    const std::string phaseFile = (dir.path() / "phase.csv").string();
    auto setup = ExampleSetup();
    const Outcome run = RunDialog(*setup, std::string(c.script) + "save-plot 3540 " + magnitudeFile + "\nsave-plot 3541 " +
                                          phaseFile + "\nclick 1\n");
    ASSERT_EQ(run.failure, "");
    const std::string setupFile = (dir.path() / "setup.json").string();
    ASSERT_EQ(axcore::SaveSetupFile(*setup, setupFile), "");
    const auto host = testing_support::RunAxhost("filters --csv '" + setupFile + "'", dir.path());
    ASSERT_EQ(host.status, 0) << host.err;

    const auto magnitude = ReadCsv(testing_support::ReadFile(magnitudeFile));
    const auto phase = ReadCsv(testing_support::ReadFile(phaseFile));
    const auto printed = ReadCsv(host.out);
    ASSERT_GT(printed.size(), 1u);
    auto column = [](const std::vector<std::string>& header, const std::string& name) {
      for (std::size_t i = 0; i < header.size(); ++i)
        if (header[i] == name) return i;
      ADD_FAILURE() << "no column " << name;
      return std::size_t{0};
    };
    int compared = 0;
    for (std::size_t r = 1; r < printed.size(); ++r) {
      // slot, filter, frequency_hz, magnitude_db, phase_deg, ideal_magnitude_db, ideal_phase_deg
      const auto& row = printed[r];
      const std::string filter = "Filter " + row.at(1);
      const double f = std::stod(row.at(2));
      const std::vector<std::pair<std::size_t, std::size_t>> figures = {
          {3, column(magnitude[0], filter + " (dB)")},
          {4, column(phase[0], filter + " (\xC2\xB0)")},
          {5, column(magnitude[0], filter + " (ideal) (dB)")},
          {6, column(phase[0], filter + " (ideal) (\xC2\xB0)")}};
      bool found = false;
      for (std::size_t p = 1; p < magnitude.size() && !found; ++p) {
        if (std::fabs(std::stod(magnitude[p][0]) - f) > 1e-8 * f) continue;
        found = true;
        for (const auto& [printedColumn, plotColumn] : figures) {
          const auto& plotRow = printedColumn == 4 || printedColumn == 6 ? phase[p] : magnitude[p];
          const double expected = std::stod(row.at(printedColumn));
          // Both print the same computation, to nine and ten significant
          // digits: near 0 dB too, the drive's curve is told from the ideal.
          EXPECT_NEAR(std::stod(plotRow.at(plotColumn)), expected, 6e-9 * std::fabs(expected))
              << filter << " at " << f << " Hz, column " << printedColumn;
        }
        ++compared;
      }
      EXPECT_TRUE(found) << f << " Hz is not a point of the plot";
    }
    EXPECT_EQ(compared, static_cast<int>(printed.size()) - 1);
  }
}

}  // namespace
