#include "axcore/PlotDocument.h"

#include "axcore/FileOutput.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numbers>

#include "axcore/MessageText.h"

namespace axcore {
namespace {

// Tolerance of the snapping of data ends to tick multiples and decades: an
// end a rounding error off a round number stays on it.
constexpr double kSnap = 1e-9;

// About this many intervals between the ticks of a linear axis.
constexpr int kLinearTickParts = 6;
// A logarithmic axis over at most this many decades gets ticks at 2 and 5.
constexpr double kDenseLogDecades = 3.0;

bool IsLog(const PlotAxis& axis) { return axis.scale == AxisScale::Logarithmic; }

// The finite data of an axis (positive only on a logarithmic one).
bool DataExtent(const PlotDocument& plot, PlotAxisId id, double& lo, double& hi) {
  const bool log = IsLog(plot.Axis(id));
  lo = INFINITY;
  hi = -INFINITY;
  auto take = [&](double v) {
    if (!std::isfinite(v) || (log && v <= 0.0)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  };
  for (const PlotCurve& curve : plot.Curves()) {
    if (id == PlotAxisId::Horizontal) {
      for (double v : curve.x) take(v);
    } else if (curve.axis == id) {
      // Only points that are drawn count: both coordinates usable.
      const bool logX = IsLog(plot.Axis(PlotAxisId::Horizontal));
      for (std::size_t i = 0; i < curve.y.size() && i < curve.x.size(); ++i)
        if (std::isfinite(curve.x[i]) && (!logX || curve.x[i] > 0.0)) take(curve.y[i]);
    }
  }
  if (id == PlotAxisId::Horizontal)
    for (const PlotMarker& marker : plot.Markers()) take(marker.x);
  return lo <= hi;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string CsvNumber(double value) {
  if (!std::isfinite(value)) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

const char* PlotColour(int index) {
  static constexpr const char* kPalette[] = {"#1f5fbf", "#c8362b", "#2f8f3a", "#d9822b", "#7b4fb0", "#1c8c8c",
                                             "#8c5a2b", "#555555", "#c9a000", "#1b2f7a", "#b0306a", "#6b7f1f",
                                             "#2aa0d8", "#a0522d", "#4d5a8c", "#9a9a9a"};
  constexpr int count = static_cast<int>(std::size(kPalette));
  return kPalette[index < 0 ? 0 : index % count];
}

double NiceStep(double span, int parts) {
  if (!(span > 0.0) || !std::isfinite(span) || parts < 1) return 1.0;
  const double raw = span / parts;
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  const double fraction = raw / decade;
  // A fraction a rounding error above 1, 2 or 5 still takes that step.
  constexpr double slack = 1.0 + 1e-9;
  const double nice = fraction <= slack ? 1.0 : fraction <= 2.0 * slack ? 2.0 : fraction <= 5.0 * slack ? 5.0 : 10.0;
  return nice * decade;
}

std::string PlotAxis::Label() const { return unit.empty() ? title : title + " (" + unit + ")"; }

PlotAxis& PlotDocument::Axis(PlotAxisId id) { return m_axes[static_cast<int>(id)]; }
const PlotAxis& PlotDocument::Axis(PlotAxisId id) const { return m_axes[static_cast<int>(id)]; }

void PlotDocument::ClearData() {
  m_curves.clear();
  m_markers.clear();
}

PlotCurve& PlotDocument::AddCurve(std::string name, PlotAxisId axis, int colour, LineStyle style) {
  PlotCurve curve;
  curve.name = std::move(name);
  curve.axis = axis == PlotAxisId::Right ? PlotAxisId::Right : PlotAxisId::Left;
  curve.colour = colour;
  curve.style = style;
  m_curves.push_back(std::move(curve));
  return m_curves.back();
}

void PlotDocument::AddMarker(double x, std::string label) { m_markers.push_back({x, std::move(label)}); }

bool PlotDocument::HasRightAxis() const {
  return std::any_of(m_curves.begin(), m_curves.end(), [](const PlotCurve& c) { return c.axis == PlotAxisId::Right; });
}

namespace {

// The ends of an axis before they are widened to round numbers: fixed ends
// as given, the others from the data; a single value opened to a span.
struct Ends {
  double lo, hi;
  bool fixedLo, fixedHi;
};

Ends EndsOf(const PlotDocument& plot, PlotAxisId id) {
  const PlotAxis& axis = plot.Axis(id);
  const bool log = IsLog(axis);
  auto usable = [&](double v) { return std::isfinite(v) && (!log || v > 0.0); };
  Ends ends{0.0, 0.0, usable(axis.fixedMin), usable(axis.fixedMax)};
  if (!DataExtent(plot, id, ends.lo, ends.hi)) {
    ends.lo = log ? 1.0 : 0.0;
    ends.hi = log ? 10.0 : 1.0;
  }
  if (ends.fixedLo) ends.lo = axis.fixedMin;
  if (ends.fixedHi) ends.hi = axis.fixedMax;
  if (ends.hi > ends.lo) return ends;
  if (log) {
    // One decade up from a single value (or down from a fixed top).
    if (ends.fixedHi) ends.lo = ends.hi / 10.0;
    else ends.hi = ends.lo * 10.0;
    return ends;
  }
  // One value: a span around it of a tenth of its size, or 1 about zero.
  const double half = ends.lo != 0.0 ? 0.1 * std::fabs(ends.lo) : 1.0;
  if (ends.fixedHi) ends.lo = ends.hi - 2.0 * half;
  else if (ends.fixedLo) ends.hi = ends.lo + 2.0 * half;
  else ends.lo -= half, ends.hi += half;
  return ends;
}

double LinearStep(const PlotAxis& axis, const Ends& ends) {
  const double own = axis.tickStep;
  return std::isfinite(own) && own > 0.0 ? own : NiceStep(ends.hi - ends.lo, kLinearTickParts);
}

}  // namespace

PlotRange PlotDocument::Range(PlotAxisId id) const {
  const Ends ends = EndsOf(*this, id);
  double lo = ends.lo, hi = ends.hi;
  if (IsLog(Axis(id))) {
    if (!ends.fixedLo) lo = std::pow(10.0, std::floor(std::log10(lo) + kSnap));
    if (!ends.fixedHi) hi = std::pow(10.0, std::ceil(std::log10(hi) - kSnap));
    return {lo, hi};
  }
  const double step = LinearStep(Axis(id), ends);
  if (!ends.fixedLo) lo = std::floor(lo / step + kSnap) * step;
  if (!ends.fixedHi) hi = std::ceil(hi / step - kSnap) * step;
  return {lo, hi};
}

double PlotDocument::TickStep(PlotAxisId id) const { return LinearStep(Axis(id), EndsOf(*this, id)); }

std::vector<double> PlotDocument::Ticks(PlotAxisId id) const {
  const PlotRange range = Range(id);
  std::vector<double> ticks;
  if (IsLog(Axis(id))) {
    const double a = std::log10(range.min), b = std::log10(range.max);
    const bool dense = b - a <= kDenseLogDecades + kSnap;
    for (double k = std::floor(a); k <= std::ceil(b); k += 1.0) {
      const double decade = std::pow(10.0, k);
      for (double m : {1.0, 2.0, 5.0}) {
        if (m != 1.0 && !dense) continue;
        const double v = m * decade;
        if (v >= range.min * (1 - kSnap) && v <= range.max * (1 + kSnap)) ticks.push_back(v);
      }
    }
    return ticks;
  }
  const double step = TickStep(id);
  // A step so small against the range that the ticks could not be drawn
  // apart gives none.
  if (!((range.max - range.min) / step <= 1000.0)) return ticks;
  for (double k = std::ceil(range.min / step - kSnap); k * step <= range.max + step * kSnap; k += 1.0) {
    const double v = k * step;
    ticks.push_back(std::fabs(v) < step * kSnap ? 0.0 : v);
  }
  return ticks;
}

bool PlotGauge::HasScale() const { return std::isfinite(lo) && std::isfinite(hi) && std::isfinite(hi - lo) && lo < hi; }

namespace {

// Where `v` falls on the scale lo..hi, held to it; NaN stays NaN.
double Fraction(const PlotGauge& gauge, double v) {
  if (std::isnan(v)) return NAN;
  return std::clamp((v - gauge.lo) / (gauge.hi - gauge.lo), 0.0, 1.0);
}

}  // namespace

GaugeSpan PlotGauge::Bar() const {
  if (!HasScale()) return {};
  const double start = Fraction(*this, reference), end = Fraction(*this, value);
  if (std::isnan(start) || std::isnan(end)) return {};
  return {std::min(start, end), std::max(start, end)};
}

double PlotGauge::Cursor() const { return HasScale() ? Fraction(*this, position) : NAN; }

int PlotGauge::Beyond() const {
  if (!HasScale()) return 0;
  return position < lo ? -1 : position > hi ? 1 : 0;
}

std::vector<double> PlotGauge::Ticks(int parts) const {
  std::vector<double> ticks;
  if (!HasScale()) return ticks;
  const double step = NiceStep(hi - lo, parts);
  // A step lost against the size of the limits (1e20 to 1e20 + 1) gives
  // ticks that could not be told apart.
  if (!((hi - lo) / step <= 1000.0) || lo + step == lo) return ticks;
  for (double k = std::ceil(lo / step - kSnap); k * step <= hi + step * kSnap; k += 1.0) {
    const double v = k * step;
    ticks.push_back(std::fabs(v) < step * kSnap ? 0.0 : v);
  }
  return ticks;
}

std::string PlotDocument::GaugeText() const {
  const PlotGauge& gauge = m_gauge;
  if (!gauge.text.empty()) return gauge.text;
  char text[64];
  switch (m_kind) {
    case PlotKind::Curves: return {};
    case PlotKind::Bar: std::snprintf(text, sizeof text, "%g", gauge.value); break;
    case PlotKind::Phase: {
      if (!std::isfinite(gauge.angle)) return "-";
      double degrees = std::fmod(gauge.angle * 180.0 / std::numbers::pi, 360.0);
      if (degrees < 0.0) degrees += 360.0;
      std::snprintf(text, sizeof text, "%.1f\xC2\xB0", degrees >= 359.95 ? 0.0 : degrees);
      break;
    }
    case PlotKind::LinearEncoder:
      if (!std::isfinite(gauge.position)) return "-";
      std::snprintf(text, sizeof text, "%.0f", gauge.position);
      break;
  }
  return text;
}

std::string PlotDocument::ToCsv() const {
  // A gauge: its numbers, with every digit of a count up to 2^53.
  auto number = [](double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", v);
    return std::string(std::isfinite(v) ? text : "");
  };
  const PlotGauge& g = m_gauge;
  switch (m_kind) {
    case PlotKind::Bar:
      return "lo,hi,reference,value\n" + number(g.lo) + ',' + number(g.hi) + ',' + number(g.reference) + ',' +
             number(g.value) + '\n';
    case PlotKind::Phase: return "angle_rad\n" + number(g.angle) + '\n';
    case PlotKind::LinearEncoder:
      return "lo,hi,position\n" + number(g.lo) + ',' + number(g.hi) + ',' + number(g.position) + '\n';
    case PlotKind::Curves: break;
  }
  const std::string horizontal = Axis(PlotAxisId::Horizontal).Label();
  std::string csv = CsvField(horizontal.empty() ? "x" : horizontal);
  for (const PlotCurve& curve : m_curves) {
    const std::string& unit = Axis(curve.axis).unit;
    csv += ',' + CsvField(unit.empty() ? curve.name : curve.name + " (" + unit + ")");
  }
  csv += '\n';
  if (m_curves.empty()) return csv;

  const bool shared = std::all_of(m_curves.begin(), m_curves.end(),
                                  [&](const PlotCurve& c) { return c.x == m_curves.front().x; });
  std::vector<double> grid;
  if (shared) {
    grid = m_curves.front().x;
  } else {
    for (const PlotCurve& curve : m_curves)
      for (double x : curve.x)
        if (!std::isnan(x)) grid.push_back(x);
    std::sort(grid.begin(), grid.end());
    grid.erase(std::unique(grid.begin(), grid.end()), grid.end());
  }
  for (std::size_t row = 0; row < grid.size(); ++row) {
    csv += CsvNumber(grid[row]);
    for (std::size_t c = 0; c < m_curves.size(); ++c) {
      const PlotCurve& curve = m_curves[c];
      double y = NAN;
      if (shared) {
        if (row < curve.y.size()) y = curve.y[row];
      } else {
        for (std::size_t i = 0; i < curve.x.size(); ++i)
          if (curve.x[i] == grid[row] && i < curve.y.size()) {
            y = curve.y[i];
            break;
          }
      }
      csv += ',' + CsvNumber(y);
    }
    csv += '\n';
  }
  return csv;
}

namespace {
PngRenderer& InstalledPngRenderer() {
  static PngRenderer renderer;
  return renderer;
}
}  // namespace

void InstallPngRenderer(PngRenderer renderer) { InstalledPngRenderer() = std::move(renderer); }

std::string PlotDocument::Save(const std::string& path) const {
  const std::string lower = Lower(path);
  std::string text;
  if (EndsWith(lower, ".csv")) {
    text = ToCsv();
  } else if (EndsWith(lower, ".svg")) {
    text = ToSvg();
  } else if (EndsWith(lower, ".png")) {
    const PngRenderer& renderer = InstalledPngRenderer();
    if (!renderer) return "cannot write " + QuoteForMessage(path) + ": this host has no PNG renderer (save as .svg)";
    // Twice the SVG's own size: sharp on a report page and when zoomed.
    return renderer(ToSvg(), 2.0, path);
  } else {
    return "a plot is saved as .csv, .svg or .png, not as " + QuoteForMessage(path);
  }
  // Whole or not at all: a full disk leaves the old plot, not half a new one.
  return ReplaceFile(path, text);
}

}  // namespace axcore
