// A plot as data: what a dialog's Plot control shows, kept by the dialog
// base whatever draws it. The Qt view draws it with Qt Charts; a script
// saves it as CSV or SVG ("save-plot ID FILE").
//
// A plot has a title, a horizontal axis, a left and an optional right
// vertical axis, curves and vertical marker lines. Each curve is a list of
// points on the horizontal axis and one vertical axis; a NaN value breaks
// the line there (a pole, an exact null, a sample that was not delivered).
// An axis without a fixed range takes one from the data, widened to round
// numbers (whole decades on a logarithmic axis).
//
// CSV (SaveCsv): UTF-8, comma-separated, one header row, then one row per
// abscissa.
//   - header: the horizontal axis's title with its unit in parentheses, then
//     each curve's name with the unit of its vertical axis in parentheses
//     ("Frequency (Hz),Filter 1 (dB),...");
//   - rows: when all curves share one grid (the same abscissas in the same
//     order) one row per point in that order; otherwise one row per distinct
//     abscissa of any curve, ascending, and a curve without a point there
//     leaves its cell empty;
//   - numbers with ten significant digits ("%.10g"); a NaN value is an empty
//     cell; a field holding a comma, a quote or a line break is quoted with
//     its quotes doubled.
// The title, colours, line styles and markers are not part of the CSV.
//
// SVG (SaveSvg): one self-contained SVG 1.1 picture: title, frame, grid
// lines at the ticks, tick labels, axis titles with units, the curves
// clipped to the frame, the markers with their labels and a legend below.
//
// A plot may instead carry one gauge of a test dialog (PlotKind other than
// Curves): a bar between two limits, a phase pointer on a circle or a
// cursor on an encoder ruler. Its CSV is a header row and one row of its
// numbers ("lo,hi,reference,value", "angle_rad" or "lo,hi,position"); its
// SVG is the picture GaugePicture.h describes, which the desktop view draws
// too.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace axcore {

enum class AxisScale { Linear, Logarithmic };
enum class LineStyle { Solid, Dashed, Dotted };
enum class PlotAxisId { Horizontal, Left, Right };

struct PlotAxis {
  std::string title;  // "Frequency"
  std::string unit;   // "Hz"; empty: a quantity without a unit
  AxisScale scale = AxisScale::Linear;
  // A fixed range; NaN (the default) at either end: that end from the data.
  double fixedMin = std::numeric_limits<double>::quiet_NaN();
  double fixedMax = std::numeric_limits<double>::quiet_NaN();
  // The step between the ticks of a linear axis (45 for a phase in
  // degrees); NaN or not positive: a round step (NiceStep).
  double tickStep = std::numeric_limits<double>::quiet_NaN();

  // "Frequency (Hz)", or the title alone without a unit.
  std::string Label() const;
};

struct PlotCurve {
  std::string name;  // the legend's and the CSV header's text
  std::vector<double> x, y;  // the same length; a NaN y breaks the line
  PlotAxisId axis = PlotAxisId::Left;  // Left or Right
  int colour = 0;  // index into the plot palette (PlotColour)
  LineStyle style = LineStyle::Solid;
  // Named in the legend; a curve that only restates another (the same
  // quantity as designed beside as measured) may stay out of it.
  bool inLegend = true;
};

// A vertical line across the frame at `x`, labelled at its top.
struct PlotMarker {
  double x = 0.0;
  std::string label;
};

struct PlotRange {
  double min = 0.0;
  double max = 1.0;
};

// What a plot shows: curves on axes, or one gauge.
enum class PlotKind { Curves, Bar, Phase, LinearEncoder };

// Where a bar is filled, as fractions of its scale (0 at lo, 1 at hi);
// from == to when nothing is.
struct GaugeSpan {
  double from = 0.0;
  double to = 0.0;
};

// The numbers of a gauge; a kind ignores the fields it does not use.
struct PlotGauge {
  // The scale's ends (Bar, LinearEncoder; counts on an encoder). Ends that
  // are not finite or with lo >= hi make an empty scale: no ticks, no bar,
  // no cursor, only the value text.
  double lo = 0.0;
  double hi = 1.0;
  double value = 0.0;      // Bar: the value shown
  double reference = 0.0;  // Bar: where the bar grows from
  double angle = 0.0;      // Phase: radians, 0 at phase A, counter-clockwise
  double position = 0.0;   // LinearEncoder: counts (exact up to 2^53)
  std::string colour = "#1f5fbf";  // the bar, the pointer or the cursor
  // The value as printed under the gauge; empty: the gauge's own (the
  // value with "%g", the angle in degrees, the count).
  std::string text;
  bool enabled = true;  // false: drawn grey

  bool HasScale() const;
  // The bar runs from the reference to the value, each held to the limits:
  // a value beyond a limit fills the bar up to that limit.
  GaugeSpan Bar() const;
  // The encoder's cursor on the scale (0 at lo, 1 at hi), held to it.
  double Cursor() const;
  // -1 when the position is below lo, +1 above hi, else 0.
  int Beyond() const;
  // Round values (NiceStep of the span into about `parts`) within the
  // limits; none on an empty scale.
  std::vector<double> Ticks(int parts) const;
};

// The colour of a colour index as "#rrggbb"; indices wrap round the
// palette of sixteen, a negative index is the first colour. The first
// eight stay apart in print and for most colour-blind readers (blue, red,
// green, orange, purple, teal, brown, grey); the second eight are darker or
// lighter kin of them (amber, navy, magenta, olive, sky blue, sienna,
// slate, silver) for plots with more curves.
const char* PlotColour(int index);

// A CSV cell: the text as it is, or quoted with its quotes doubled when it
// holds a comma, a quote or a line break.
std::string CsvField(const std::string& text);
// A number as the CSV files write it: ten significant digits; "" for NaN
// or infinity (an empty cell).
std::string CsvNumber(double value);

// A round step (1, 2 or 5 times a power of ten) that cuts `span` into about
// `parts` intervals; 1 for a span that is not positive and finite.
double NiceStep(double span, int parts);

class PlotDocument {
 public:
  void SetTitle(std::string title) { m_title = std::move(title); }
  const std::string& Title() const { return m_title; }
  PlotAxis& Axis(PlotAxisId id);
  const PlotAxis& Axis(PlotAxisId id) const;
  // Whether the legend is drawn; the CSV always names every curve.
  void SetLegendShown(bool shown) { m_legend = shown; }
  bool LegendShown() const { return m_legend; }

  // Curves and markers go; title and axes stay.
  void ClearData();
  // A new empty curve; fill its x and y.
  PlotCurve& AddCurve(std::string name, PlotAxisId axis = PlotAxisId::Left, int colour = 0,
                      LineStyle style = LineStyle::Solid);
  void AddMarker(double x, std::string label);
  const std::vector<PlotCurve>& Curves() const { return m_curves; }
  // Curve `index` for adding points to it (index below Curves().size()).
  PlotCurve& CurveAt(std::size_t index) { return m_curves[index]; }
  const std::vector<PlotMarker>& Markers() const { return m_markers; }
  // A curve draws on the right axis.
  bool HasRightAxis() const;

  // The range an axis shows: its fixed ends, the others from the finite
  // data of the curves on it (and, for the horizontal axis, the markers),
  // widened to a multiple of its tick step (its own, or a round step for
  // the data's span) or to whole decades. A
  // logarithmic axis looks only at positive values. Without data: 0 to 1,
  // or 1 to 10 on a logarithmic axis.
  PlotRange Range(PlotAxisId id) const;
  // The step between the ticks of a linear axis: its own, or a round step
  // for the span of its data (or its fixed range); Range widens to it.
  double TickStep(PlotAxisId id) const;
  // The tick values inside Range(id): multiples of TickStep on a linear
  // axis; on a logarithmic one the decades, with 2 and 5 between them when
  // the range spans three decades or fewer.
  std::vector<double> Ticks(PlotAxisId id) const;

  // Curves (the default) or one gauge; a gauge plot draws Gauge() alone.
  void SetKind(PlotKind kind) { m_kind = kind; }
  PlotKind Kind() const { return m_kind; }
  PlotGauge& Gauge() { return m_gauge; }
  const PlotGauge& Gauge() const { return m_gauge; }
  // The text under the gauge: Gauge().text, or the gauge's own for its kind.
  std::string GaugeText() const;

  // Asks the views to show the whole plot again, dropping a zoom the user
  // made (a view compares the count with the one it last honoured).
  void RequestWholeView() { ++m_wholeViewRequests; }
  unsigned WholeViewRequests() const { return m_wholeViewRequests; }

  std::string ToCsv() const;
  // A size of 0 takes the kind's own: 800 x 500 for curves, a gauge's
  // natural size (GaugeNaturalSize) for a gauge.
  std::string ToSvg(int width = 0, int height = 0) const;
  // Writes ToCsv, ToSvg or the SVG rendered as PNG to `path` by its
  // extension (".csv", ".svg" or ".png", in any letter case); "" when
  // written, else why not.
  std::string Save(const std::string& path) const;

 private:
  std::string m_title;
  PlotAxis m_axes[3];
  bool m_legend = true;
  std::vector<PlotCurve> m_curves;
  std::vector<PlotMarker> m_markers;
  PlotKind m_kind = PlotKind::Curves;
  PlotGauge m_gauge;
  unsigned m_wholeViewRequests = 0;
};

// Renders an SVG picture into a PNG file at `path`, `scale` pixels per SVG
// unit; "" when written, else why not. axcore draws no pixels itself: the
// host installs a renderer (axhost: Qt's SVG renderer); without one a plot
// cannot be saved as PNG.
using PngRenderer = std::function<std::string(const std::string& svg, double scale, const std::string& path)>;
void InstallPngRenderer(PngRenderer renderer);

}  // namespace axcore
