// The plug-in's External Reference Setup and Filters dialogs on the desktop
// view: a script acted out through the widgets leaves what it leaves
// headless, plots included; and a plot saved as SVG is a picture Qt's own
// SVG renderer takes.
//
// With AX_SCREENSHOT_DIR set, the dialogs' pictures are saved there as
// <resource id>.png, for the documentation.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QChart>
#include <QLogValueAxis>
#include <QValueAxis>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "AnalogReferenceDlg.h"
#include "FiltersDialog.h"
#include "QtPlatform.h"
#include "QtPlotView.h"
#include "ScaleFactor.h"
#include "axcore/HeadlessPlatform.h"
#include "axcore/PlotDocument.h"
#include "axcore/Resources.h"
#include "axcore/SetupFile.h"
#include "support/HostRunner.h"
#include "support/TestSetup.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int result = 0;
  std::string output;
  std::string failure;
  std::string setup;  // the whole setup after the run
};

using MakeDialog = std::function<std::unique_ptr<CMC_EditSetupDlg>(CMC_Setup&)>;
using Prepare = std::function<void(CMC_Setup&)>;

class QtSetupDialogs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    axcore::RegisterResourceFolder(AX_RESOURCES_DIR);
  }
  static void TearDownTestSuite() { axcore::WithdrawResourceFolder(AX_RESOURCES_DIR); }

  static Outcome Run(const Prepare& prepare, const MakeDialog& make, const std::string& script, bool qt) {
    std::string error;
    auto lines = axcore::ParseScript(script, error);
    EXPECT_TRUE(lines) << error;
    std::ostringstream out;
    axcore::ScriptedUser user(std::move(*lines), out);
    const char* shots = std::getenv("AX_SCREENSHOT_DIR");
    std::unique_ptr<axcore::Platform> platform =
        qt ? axhost::MakeQtPlatform(&user, shots != nullptr ? shots : "")
           : std::make_unique<axcore::HeadlessPlatform>(&user);
    axcore::InstallPlatform(platform.get());
    auto setup = testing_support::LoadExample();
    setup->SetScaleFunctions(ModelScaleFunctions());
    prepare(*setup);
    Outcome outcome;
    {
      std::unique_ptr<CMC_EditSetupDlg> dialog = make(*setup);
      outcome.result = dialog->DoModal();
    }
    axcore::InstallPlatform(nullptr);
    outcome.output = out.str();
    outcome.failure = user.Failure();
    outcome.setup = axcore::SerializeSetup(*setup);
    return outcome;
  }
};

TEST_F(QtSetupDialogs, AScriptMeansTheSameOnTheWidgetsAsHeadless) {
  testing_support::TempDir dir("qt-dialogs");
  auto plotFile = [&](bool qt, const char* name) { return (dir.path() / ((qt ? "qt-" : "headless-") + std::string(name))).string(); };
  const struct {
    const char* name;
    Prepare prepare;
    MakeDialog make;
    std::function<std::string(bool qt)> script;
    const char* plot;  // a plot file both runs save, or null
  } cases[] = {
      {"External Reference Setup", [](CMC_Setup&) {},
       [](CMC_Setup& s) { return std::make_unique<CAnalogReferenceDlg>(&s); },
       [](bool) {
         return "radio 3290\ntype 1006 1.5\nunit 1015 \xC2\xB5m\ntype 1010 2\ncheck 1001 1\ntype 1003 120\n"
                "click 1000\ndump\nclick 2\ndump\nclick 1\n";
       },
       nullptr},
      // All three on, so that the picture shows each and all in series.
      {"Filters",
       [](CMC_Setup& s) {
         s.SetParameterValueInBaseUnit("BQFilter2", 1);
         s.SetParameterValueInBaseUnit("BQFilter3", 1);
       },
       [](CMC_Setup& s) { return std::make_unique<CFiltersDialog>(&s, 0); },
       [&](bool qt) {
         return "type 3499 250\ntype 3497 1.5\nselect 3519 Lead-lag 2nd order\nunit 3525 kHz\ntype 3524 0.06\n"
                "check 3485 0\nselect 3500 Position Controller Output\ndump\nsave-plot 3540 " +
                plotFile(qt, "magnitude.csv") + "\nsave-plot 3541 " + plotFile(qt, "phase.svg") + "\nclick 1\n";
       },
       "magnitude.csv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome headless = Run(c.prepare, c.make, c.script(false), false);
    const Outcome qt = Run(c.prepare, c.make, c.script(true), true);
    ASSERT_EQ(headless.failure, "");
    EXPECT_EQ(qt.failure, headless.failure);
    EXPECT_EQ(headless.result, IDOK);
    EXPECT_EQ(qt.result, headless.result);
    EXPECT_EQ(qt.output, headless.output);
    EXPECT_EQ(qt.setup, headless.setup);
    if (c.plot != nullptr) {
      const std::string plot = testing_support::ReadFile(plotFile(false, c.plot));
      EXPECT_NE(plot.find("Filter 2 (dB)"), std::string::npos);
      EXPECT_EQ(testing_support::ReadFile(plotFile(true, c.plot)), plot);
    }
  }
}

// An SVG the renderer refuses draws nothing; one that is no XML at all
// cannot be opened by any viewer.
TEST(PlotSvg, IsWellFormedAndDrawable) {
  axcore::PlotDocument plot;
  plot.SetTitle("Reference & <measured> current");
  plot.Axis(axcore::PlotAxisId::Horizontal) = {"Time", "s"};
  plot.Axis(axcore::PlotAxisId::Left) = {"Current", "A"};
  plot.Axis(axcore::PlotAxisId::Right) = {"Position", "\xC2\xB5m"};
  axcore::PlotCurve& reference = plot.AddCurve("I \"ref\" < 2 A", axcore::PlotAxisId::Left, 0);
  reference.x = {0, 0.001, 0.002, 0.003};
  reference.y = {0, 1.5, std::nan(""), 1.5};
  axcore::PlotCurve& position = plot.AddCurve("x's path", axcore::PlotAxisId::Right, 1, axcore::LineStyle::Dashed);
  position.x = {0, 0.003};
  position.y = {-3, 40};
  plot.AddMarker(0.002, "step & hold");
  for (const bool legend : {true, false}) {
    SCOPED_TRACE(legend ? "with a legend" : "without a legend");
    plot.SetLegendShown(legend);
    const QByteArray svg = QByteArray::fromStdString(plot.ToSvg());
    QXmlStreamReader xml(svg);
    int elements = 0;
    while (!xml.atEnd())
      if (xml.readNext() == QXmlStreamReader::StartElement) ++elements;
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GT(elements, 20);
    QSvgRenderer renderer(svg);
    EXPECT_TRUE(renderer.isValid());
    EXPECT_EQ(renderer.defaultSize(), QSize(800, 500));
  }
}

// The user zooms in on a notch and retunes it: the plot redraws with the
// new data and stays where the user looks, until a double click (or the
// view's ShowWhole) brings back the whole plot.
TEST(QtPlotViewZoom, AZoomOutlivesNewDataUntilTheWholePlotIsAskedFor) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  auto platform = axhost::MakeQtPlatform(nullptr, {});  // the application object
  auto plotOf = [](double notch_Hz) {
    axcore::PlotDocument plot;
    plot.Axis(axcore::PlotAxisId::Horizontal) = {"Frequency", "Hz", axcore::AxisScale::Logarithmic};
    plot.Axis(axcore::PlotAxisId::Left) = {"Magnitude", "dB"};
    axcore::PlotCurve& curve = plot.AddCurve("Filter 1");
    for (double f = 1; f < 1000; f *= 1.1) {
      curve.x.push_back(f);
      curve.y.push_back(f > 0.9 * notch_Hz && f < 1.1 * notch_Hz ? -30 : 0);
    }
    plot.AddMarker(1000, "Nyquist 1000 Hz");
    return plot;
  };
  axhost::QtPlotView view;
  view.resize(600, 400);
  view.Draw(plotOf(300));
  view.show();
  QCoreApplication::processEvents();  // laid out: the plot area has its size
  auto* frequency = static_cast<QLogValueAxis*>(view.chart()->axes(Qt::Horizontal).at(0));
  EXPECT_DOUBLE_EQ(frequency->min(), 1);
  EXPECT_DOUBLE_EQ(frequency->max(), 1000);
  EXPECT_FALSE(view.IsZoomed());

  const QRectF area = view.chart()->plotArea();
  view.chart()->zoomIn(QRectF(area.center().x(), area.top(), area.width() / 4, area.height() / 2));
  ASSERT_TRUE(view.IsZoomed());
  frequency = static_cast<QLogValueAxis*>(view.chart()->axes(Qt::Horizontal).at(0));
  const double zoomedMin = frequency->min(), zoomedMax = frequency->max();
  EXPECT_GT(zoomedMin, 1);
  EXPECT_LT(zoomedMax, 1000);

  view.Draw(plotOf(250));
  frequency = static_cast<QLogValueAxis*>(view.chart()->axes(Qt::Horizontal).at(0));
  EXPECT_DOUBLE_EQ(frequency->min(), zoomedMin);
  EXPECT_DOUBLE_EQ(frequency->max(), zoomedMax);
  EXPECT_TRUE(view.IsZoomed());

  view.ShowWhole();
  EXPECT_FALSE(view.IsZoomed());
  EXPECT_DOUBLE_EQ(frequency->min(), 1);
  EXPECT_DOUBLE_EQ(frequency->max(), 1000);
  auto* magnitude = static_cast<QValueAxis*>(view.chart()->axes(Qt::Vertical).at(0));
  EXPECT_DOUBLE_EQ(magnitude->min(), -30);
  EXPECT_DOUBLE_EQ(magnitude->max(), 0);
}

}  // namespace
