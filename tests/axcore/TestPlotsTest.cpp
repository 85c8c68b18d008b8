// The test dialogs' gauges: where a bar is filled and an encoder's cursor
// sits, which value formats reach printf, what a bound gauge puts into its
// plot document (and that an unbound one touches nothing), and each kind
// saved as SVG and CSV.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "axcore/EditSetupDlg.h"
#include "axcore/Resources.h"
#include "axcore/Setup.h"
#include "axcore/TestPlots.h"

namespace {

using axcore::PlotDocument;
using axcore::PlotGauge;
using axcore::PlotKind;

TEST(GaugeNumbers, BarRunsFromTheReferenceToTheValueHeldToTheLimits) {
  const double nan = std::nan("");
  const struct {
    const char* name;
    double lo, hi, reference, value;
    double from, to;
  } cases[] = {
      {"from zero up", -10, 10, 0, 5, 0.5, 0.75},
      {"from zero down", -10, 10, 0, -5, 0.25, 0.5},
      {"beyond the right limit: full to it", -10, 10, 0, 25, 0.5, 1.0},
      {"beyond the left limit: full to it", 0, 5, 0, -3, 0.0, 0.0},
      {"a reference outside the limits starts at the nearer one", 2, 4, 0, 3, 0.0, 0.5},
      {"lo = hi: an empty scale", 5, 5, 5, 7, 0, 0},
      {"lo > hi: an empty scale", 10, -10, 0, 5, 0, 0},
      {"a value that is no number", 0, 1, 0, nan, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PlotGauge gauge;
    gauge.lo = c.lo, gauge.hi = c.hi, gauge.reference = c.reference, gauge.value = c.value;
    const axcore::GaugeSpan bar = gauge.Bar();
    EXPECT_DOUBLE_EQ(bar.from, c.from);
    EXPECT_DOUBLE_EQ(bar.to, c.to);
  }
  // The encoder's cursor is held to its ruler the same way and says which
  // end it is pinned at.
  const struct {
    double lo, hi, position, cursor;
    int beyond;
  } encoders[] = {{-5000, 5000, 2500, 0.75, 0}, {-5000, 5000, 9000, 1.0, 1}, {0, 100, -1, 0.0, -1}};
  for (const auto& e : encoders) {
    PlotGauge gauge;
    gauge.lo = e.lo, gauge.hi = e.hi, gauge.position = e.position;
    EXPECT_DOUBLE_EQ(gauge.Cursor(), e.cursor) << e.position;
    EXPECT_EQ(gauge.Beyond(), e.beyond) << e.position;
  }
}

TEST(GaugeNumbers, OnlyAFormatOfOneDoubleReachesPrintf) {
  const std::pair<const char*, const char*> cases[] = {
      {"%.2G", "%.2G"},
      {"%.2f", "%.2f"},
      {"I = %+8.3e A", "I = %+8.3e A"},
      {"100%% %5.1f", "100%% %5.1f"},
      {"%lf", "%lf"},
      {"%s", "%g"},
      {"%n", "%g"},
      {"%d", "%g"},
      {"%f and %f", "%g"},
      {"no conversion", "%g"},
      {"%*.2f", "%g"},
      {"%.123f", "%g"},
      {"%.2f %", "%g"},
      {"%Lf", "%g"},
      {nullptr, "%g"},
  };
  for (const auto& [format, safe] : cases)
    EXPECT_EQ(axcore::SafeValueFormat(format), safe) << (format != nullptr ? format : "null");
  EXPECT_EQ(axcore::FormatGaugeValue("%.2G", 1234.5), "1.2E+03");
  EXPECT_EQ(axcore::FormatGaugeValue("%s", 0.5), "0.5");
}

// A dialog with one plot control and one label, created on a view that
// counts the redraws of the plot.
constexpr const char* kTemplate = R"({"format": "axdialog-1", "id": 901, "caption": "Gauges",
  "controls": [{"id": 10, "kind": "plot", "at": [0, 0]}, {"id": 11, "kind": "label", "at": [1, 0]}]})";

class CountingView : public axcore::DialogView {
 public:
  void Create() override {}
  void Update(const ControlState&) override {}
  void ShowStatus(const std::string&) override {}
  void Show() override {}
  void Close() override {}
  void RefreshPlot(int) override { ++redraws; }
  int redraws = 0;
};

TEST(TestPlots, ABoundGaugeShowsWhatItHadAtItsLastRepaintAndAnUnboundOneNothing) {
  const auto folder = std::filesystem::temp_directory_path() / ("axgauges-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder / "dialogs");
  std::ofstream(folder / "dialogs" / "901.json") << kTemplate;
  axcore::RegisterResourceFolder(folder.string());
  CMC_Setup setup;
  CMC_EditSetupDlg dialog(&setup, 901, 1);
  CountingView view;
  ASSERT_TRUE(dialog.CreateDialog(&view));

  CBarGraph bar;
  bar.SetLimits(-1.5, 1.5);
  bar.SetCurrentValue(2.5);
  bar.SetFormat("%.2f A");
  bar.Repaint();  // unbound: nothing to draw on
  bar.EnableWindow(false);
  EXPECT_EQ(view.redraws, 0);
  EXPECT_FALSE(bar.SubclassDlgItem(10, nullptr));
  EXPECT_FALSE(bar.SubclassDlgItem(11, &dialog));  // a label, no plot
  EXPECT_EQ(dialog.GetPlot(10)->Kind(), PlotKind::Curves);

  ASSERT_TRUE(bar.SubclassDlgItem(10, &dialog));
  const PlotDocument& plot = *dialog.GetPlot(10);
  EXPECT_EQ(plot.Kind(), PlotKind::Bar);
  EXPECT_EQ(plot.GaugeText(), "2.50 A");  // the true value, past the limit
  EXPECT_FALSE(plot.Gauge().enabled);
  EXPECT_FALSE(dialog.GetControl(10)->enabled);

  bar.EnableWindow(true);
  bar.SetColor(0x0000FF);
  bar.SetDrawingReference(-1.5);
  bar.SetCurrentValue(0);
  EXPECT_EQ(plot.Gauge().value, 2.5);  // kept by the gauge until it repaints
  const int redraws = view.redraws;
  bar.Repaint();
  EXPECT_EQ(view.redraws, redraws + 1);
  EXPECT_EQ(plot.Gauge().colour, "#ff0000");
  EXPECT_DOUBLE_EQ(plot.Gauge().Bar().to, 0.5);
  EXPECT_TRUE(dialog.GetControl(10)->enabled);

  dialog.DestroyDialog();
  axcore::WithdrawResourceFolder(folder.string());
  std::filesystem::remove_all(folder);
}

TEST(TestPlots, EachKindIsSavedWithItsNumbersAndText) {
  PlotDocument plots[4];
  plots[0].SetKind(PlotKind::Bar);
  plots[0].Gauge().lo = -10, plots[0].Gauge().hi = 10, plots[0].Gauge().value = -12.5;
  plots[0].Gauge().text = "-12.5 V";
  plots[1].SetKind(PlotKind::Phase);
  plots[1].Gauge().angle = -std::acos(-1.0) / 2;  // -90 degrees
  plots[1].Gauge().enabled = false;
  plots[2].SetKind(PlotKind::LinearEncoder);
  plots[2].Gauge().lo = -4000, plots[2].Gauge().hi = 4000, plots[2].Gauge().position = 123456789012;
  plots[3].SetKind(PlotKind::LinearEncoder);
  plots[3].Gauge().hi = 0;  // an empty scale
  const struct {
    const char* text;
    const char* csv;
    bool inColour;  // a disabled gauge is all grey
  } expected[] = {{"-12.5 V", "lo,hi,reference,value\n-10,10,0,-12.5\n", true},
                  {"270.0\xC2\xB0", "angle_rad\n-1.5707963267949\n", false},
                  {"123456789012", "lo,hi,position\n-4000,4000,123456789012\n", true},
                  {"0", "lo,hi,position\n0,0,0\n", false}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const std::string svg = plots[i].ToSvg();
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_TRUE(svg.ends_with("</svg>\n"));
    EXPECT_NE(svg.find(">" + std::string(expected[i].text) + "</text>"), std::string::npos) << svg;
    EXPECT_EQ(svg.find(plots[i].Gauge().colour) != std::string::npos, expected[i].inColour);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    EXPECT_EQ(svg.find("inf"), std::string::npos);
    EXPECT_EQ(plots[i].ToCsv(), expected[i].csv);
  }
}

}  // namespace
