// Plot documents: the ranges and ticks an axis takes from its data, the
// CSV a plot is saved as, and saving by the file's extension.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "axcore/PlotDocument.h"
#include "support/HostRunner.h"

namespace {

using axcore::AxisScale;
using axcore::PlotAxisId;
using axcore::PlotDocument;

PlotDocument WithCurve(AxisScale scale, std::vector<double> x, std::vector<double> y) {
  PlotDocument plot;
  plot.Axis(PlotAxisId::Horizontal).scale = scale;
  plot.Axis(PlotAxisId::Left).scale = scale;
  axcore::PlotCurve& curve = plot.AddCurve("c");
  curve.x = std::move(x);
  curve.y = std::move(y);
  return plot;
}

TEST(PlotAxes, RangesWidenToRoundNumbersAndTicksFallOnThem) {
  const double nan = std::nan("");
  const struct {
    const char* name;
    PlotDocument plot;
    PlotAxisId axis;
    double min, max;
    std::vector<double> ticks;
  } cases[] = {
      {"linear: steps of 2 for a span of 9.4",
       WithCurve(AxisScale::Linear, {0, 1, 2}, {0.3, nan, 9.7}), PlotAxisId::Left, 0, 10, {0, 2, 4, 6, 8, 10}},
      {"linear: one value gets a tenth of itself each side",
       WithCurve(AxisScale::Linear, {0, 1}, {5, 5}), PlotAxisId::Left, 4.4, 5.6, {4.4, 4.6, 4.8, 5, 5.2, 5.4, 5.6}},
      {"linear: negative values", WithCurve(AxisScale::Linear, {0, 1}, {-42, -3}), PlotAxisId::Left, -50, 0,
       {-50, -40, -30, -20, -10, 0}},
      {"logarithmic: whole decades, with 2 and 5 over three of them",
       WithCurve(AxisScale::Logarithmic, {1.5, 999}, {1, 1}), PlotAxisId::Horizontal, 1, 1000,
       {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000}},
      {"logarithmic: only decades over seven", WithCurve(AxisScale::Logarithmic, {0.5, 2e5}, {1, 1}),
       PlotAxisId::Horizontal, 0.1, 1e6, {0.1, 1, 10, 100, 1e3, 1e4, 1e5, 1e6}},
      {"logarithmic: zero and negative values are not on it",
       WithCurve(AxisScale::Logarithmic, {-1, 0, 10, 100}, {1, 1, 1, 1}), PlotAxisId::Horizontal, 10, 100,
       {10, 20, 50, 100}},
      {"no data", PlotDocument(), PlotAxisId::Left, 0, 1, {0, 0.2, 0.4, 0.6, 0.8, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const axcore::PlotRange range = c.plot.Range(c.axis);
    EXPECT_NEAR(range.min, c.min, 1e-12 * std::max(1.0, std::fabs(c.min)));
    EXPECT_NEAR(range.max, c.max, 1e-12 * std::max(1.0, std::fabs(c.max)));
    const std::vector<double> ticks = c.plot.Ticks(c.axis);
    ASSERT_EQ(ticks.size(), c.ticks.size());
    for (std::size_t i = 0; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i], c.ticks[i], 1e-9 * std::max(1.0, c.ticks[i]));
  }
}

TEST(PlotAxes, AFixedRangeAndMarkersAreKept) {
  PlotDocument plot = WithCurve(AxisScale::Linear, {1, 2}, {-30, 170});
  plot.Axis(PlotAxisId::Left).fixedMin = -180;
  plot.Axis(PlotAxisId::Left).fixedMax = 180;
  plot.Axis(PlotAxisId::Left).tickStep = 90;
  plot.AddMarker(7, "end");
  EXPECT_EQ(plot.Range(PlotAxisId::Left).min, -180);
  EXPECT_EQ(plot.Range(PlotAxisId::Left).max, 180);
  EXPECT_EQ(plot.Ticks(PlotAxisId::Left), (std::vector<double>{-180, -90, 0, 90, 180}));
  // The marker beyond the data still lies inside the horizontal range.
  EXPECT_EQ(plot.Range(PlotAxisId::Horizontal).min, 1);
  EXPECT_EQ(plot.Range(PlotAxisId::Horizontal).max, 7);
}

TEST(PlotCsv, OneRowPerAbscissaWithEveryCurveByName) {
  const double nan = std::nan("");
  const struct {
    const char* name;
    std::vector<std::vector<double>> xs, ys;
    const char* expected;
  } cases[] = {
      {"a shared grid keeps its order; a break is an empty cell",
       {{10, 1, 100}, {10, 1, 100}},
       {{0.5, -1e-12, nan}, {1, 2, 1.0 / 3}},
       "Frequency (Hz),Gain, \"ideal\" (dB),Phase (deg)\n10,0.5,1\n1,-1e-12,2\n100,,0.3333333333\n"},
      {"separate grids are merged in ascending order",
       {{3, 1}, {2, 3}},
       {{30, 10}, {-2, -3}},
       "Frequency (Hz),Gain, \"ideal\" (dB),Phase (deg)\n1,10,\n2,,-2\n3,30,-3\n"},
      {"no points", {{}, {}}, {{}, {}}, "Frequency (Hz),Gain, \"ideal\" (dB),Phase (deg)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PlotDocument plot;
    plot.Axis(PlotAxisId::Horizontal) = {"Frequency", "Hz", AxisScale::Logarithmic};
    plot.Axis(PlotAxisId::Left) = {"Magnitude", "dB"};
    plot.Axis(PlotAxisId::Right) = {"Phase", "deg"};
    // A name with a comma and quotes is quoted, its quotes doubled.
    axcore::PlotCurve& gain = plot.AddCurve("Gain, \"ideal\"");
    gain.x = c.xs[0];
    gain.y = c.ys[0];
    axcore::PlotCurve& phase = plot.AddCurve("Phase", PlotAxisId::Right);
    phase.x = c.xs[1];
    phase.y = c.ys[1];
    std::string expected = c.expected;
    // The quoted header cell.
    expected.replace(expected.find("Gain, \"ideal\" (dB)"), 18, "\"Gain, \"\"ideal\"\" (dB)\"");
    EXPECT_EQ(plot.ToCsv(), expected);
  }
}

TEST(PlotSave, ByTheFilesExtension) {
  testing_support::TempDir dir("plot-save");
  PlotDocument plot = WithCurve(AxisScale::Linear, {1, 2}, {3, 4});
  const struct {
    const char* file;
    const char* error;  // in the refusal, or null
    const char* starts;
  } cases[] = {
      {"a.csv", nullptr, "x,c\n1,3\n"},
      {"b.SVG", nullptr, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg "},
      {"c.pdf", "a plot is saved as .csv, .svg or .png, not as \"", nullptr},
      {"e.png", "cannot write \"", nullptr},  // no PNG renderer in the kernel alone
      {"missing/d.csv", "d.csv: cannot write: ", nullptr},  // as every file the host writes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = (dir.path() / c.file).string();
    const std::string error = plot.Save(path);
    if (c.error != nullptr) {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      EXPECT_FALSE(std::filesystem::exists(path));
    } else {
      EXPECT_EQ(error, "");
      EXPECT_EQ(testing_support::ReadFile(path).rfind(c.starts, 0), 0u);
    }
  }
  // Through the one writer: a plot made read-only stays as it was (written
  // in place, it was truncated first, and a full disk left half a file).
  const std::filesystem::path kept = dir.path() / "kept.svg";
  std::ofstream(kept) << "old";
  std::filesystem::permissions(kept, std::filesystem::perms::owner_read);
  EXPECT_NE(plot.Save(kept.string()).find("kept.svg: cannot write: the file is read-only"), std::string::npos);
  EXPECT_EQ(testing_support::ReadFile(kept), "old");
}

}  // namespace
