// A plot document drawn as one self-contained SVG picture.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "axcore/GaugePicture.h"
#include "axcore/PlotDocument.h"

namespace axcore {
namespace {

// Sizes in pixels at the 12 px font the picture uses. Text widths are
// estimated (the picture is drawn where the font is not known): 7 px a
// character is a little wider than DejaVu Sans and Arial, so that the
// legend's entries do not run into each other.
constexpr double kFontSize = 12.0;
constexpr double kCharWidth = 7.0;
constexpr double kTitleHeight = 30.0;
constexpr double kTopWithoutTitle = 14.0;
constexpr double kAxisMargin = 74.0;  // tick labels and the axis title beside a vertical axis
constexpr double kNoAxisMargin = 24.0;
constexpr double kBottomMargin = 50.0;  // tick labels and the horizontal axis title
constexpr double kLegendRow = 18.0;
constexpr double kLegendSample = 26.0;  // the length of a line sample
constexpr double kLegendGap = 18.0;

const char* kGridColour = "#dcdcdc";
const char* kMinorGridColour = "#efefef";
const char* kFrameColour = "#404040";
const char* kTextColour = "#202020";
const char* kMarkerColour = "#606060";

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        // Control characters are not allowed in XML 1.0 text.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n') out += c;
        break;
    }
  }
  return out;
}

std::string Px(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// A tick label: as short as the value allows, without the rounding noise
// of a computed multiple (0.30000000000000004 shows as 0.3).
std::string TickText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.12g", value);
  return text;
}

const char* DashArray(LineStyle style) {
  switch (style) {
    case LineStyle::Dashed: return "7 4";
    case LineStyle::Dotted: return "2 3";
    case LineStyle::Solid: break;
  }
  return nullptr;
}

// Maps one axis's values onto pixels; NaN for a value the axis cannot show.
class Scale {
 public:
  Scale(const PlotDocument& plot, PlotAxisId id, double from, double to)
      : m_log(plot.Axis(id).scale == AxisScale::Logarithmic), m_from(from), m_to(to) {
    const PlotRange range = plot.Range(id);
    m_lo = Value(range.min);
    m_hi = Value(range.max);
  }
  double operator()(double v) const {
    if (!std::isfinite(v) || (m_log && v <= 0.0)) return NAN;
    return m_from + (Value(v) - m_lo) / (m_hi - m_lo) * (m_to - m_from);
  }

 private:
  double Value(double v) const { return m_log ? std::log10(v) : v; }
  bool m_log;
  double m_from, m_to, m_lo = 0.0, m_hi = 1.0;
};

struct Point {
  double x, y;
};

// The part of the segment a-b inside the rectangle (Liang-Barsky); false
// when none of it is. The picture clips its curves itself: not every viewer
// honours a clip path (SVG Tiny has none).
bool ClipSegment(Point& a, Point& b, double left, double top, double right, double bottom) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  double t0 = 0.0, t1 = 1.0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x - left, right - a.x, a.y - top, bottom - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0) {
      if (q[i] < 0.0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0.0) t0 = std::max(t0, t);
    else t1 = std::min(t1, t);
  }
  if (t0 > t1) return false;
  const Point start{a.x + t0 * dx, a.y + t0 * dy}, end{a.x + t1 * dx, a.y + t1 * dy};
  a = start;
  b = end;
  return true;
}

struct LegendEntry {
  const PlotCurve* curve;
  double width;
};

// The legend's entries in rows that fit `width`.
std::vector<std::vector<LegendEntry>> LegendRows(const PlotDocument& plot, double width) {
  std::vector<std::vector<LegendEntry>> rows;
  if (!plot.LegendShown()) return rows;
  double used = 0.0;
  for (const PlotCurve& curve : plot.Curves()) {
    if (!curve.inLegend) continue;
    const double entry = kLegendSample + 6.0 + kCharWidth * static_cast<double>(curve.name.size()) + kLegendGap;
    if (rows.empty() || (used + entry > width && !rows.back().empty())) {
      rows.emplace_back();
      used = 0.0;
    }
    rows.back().push_back({&curve, entry});
    used += entry;
  }
  return rows;
}

void Text(std::string& svg, double x, double y, const std::string& text, const char* anchor,
          const std::string& extra = {}) {
  svg += "<text x=\"" + Px(x) + "\" y=\"" + Px(y) + "\" text-anchor=\"" + anchor + "\"" + extra + ">" +
         Escape(text) + "</text>\n";
}

void Line(std::string& svg, double x1, double y1, double x2, double y2, const char* colour, double width,
          const char* dash = nullptr) {
  svg += "<line x1=\"" + Px(x1) + "\" y1=\"" + Px(y1) + "\" x2=\"" + Px(x2) + "\" y2=\"" + Px(y2) +
         "\" stroke=\"" + colour + "\" stroke-width=\"" + Px(width) + "\"";
  if (dash != nullptr) svg += std::string(" stroke-dasharray=\"") + dash + "\"";
  svg += "/>\n";
}

void Stroke(std::string& svg, const PlotCurve& curve) {
  // Appended piece by piece: GCC 12 sees a temporary string's chain of
  // concatenations as overflowing its small buffer (a false -Warray-bounds).
  svg += " fill=\"none\" stroke=\"";
  svg += PlotColour(curve.colour);
  svg += "\" stroke-width=\"1.6\" stroke-linejoin=\"round\"";
  if (const char* dash = DashArray(curve.style)) {
    svg += " stroke-dasharray=\"";
    svg += dash;
    svg += '"';
  }
}

const char* AnchorName(TextAnchor anchor) {
  switch (anchor) {
    case TextAnchor::Middle: return "middle";
    case TextAnchor::End: return "end";
    case TextAnchor::Start: break;
  }
  return "start";
}

// A gauge's picture: its shapes in order on a white ground.
std::string GaugeSvg(const PlotDocument& plot, int width, int height) {
  const GaugeSize natural = GaugeNaturalSize(plot.Kind());
  const double w = width > 0 ? width : natural.width, h = height > 0 ? height : natural.height;
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + Px(w) + "\" height=\"" + Px(h) +
         "\" viewBox=\"0 0 " + Px(w) + " " + Px(h) + "\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n";
  if (!plot.Title().empty()) svg += "<title>" + Escape(plot.Title()) + "</title>\n";
  svg += "<rect x=\"0\" y=\"0\" width=\"" + Px(w) + "\" height=\"" + Px(h) + "\" fill=\"#ffffff\"/>\n";
  for (const GaugeShape& shape : DrawGauge(plot, w, h)) {
    const std::vector<double>& at = shape.at;
    const std::string paint = " fill=\"" + (shape.fill.empty() ? std::string("none") : shape.fill) + "\"" +
                              (shape.stroke.empty() ? std::string()
                                                    : " stroke=\"" + shape.stroke + "\" stroke-width=\"" +
                                                          Px(shape.strokeWidth) + "\"");
    switch (shape.type) {
      case GaugeShape::Type::Rect:
        svg += "<rect x=\"" + Px(at[0]) + "\" y=\"" + Px(at[1]) + "\" width=\"" + Px(at[2]) + "\" height=\"" +
               Px(at[3]) + "\"" + paint + "/>\n";
        break;
      case GaugeShape::Type::Line:
        Line(svg, at[0], at[1], at[2], at[3], shape.stroke.c_str(), shape.strokeWidth);
        break;
      case GaugeShape::Type::Circle:
        svg += "<circle cx=\"" + Px(at[0]) + "\" cy=\"" + Px(at[1]) + "\" r=\"" + Px(at[2]) + "\"" + paint + "/>\n";
        break;
      case GaugeShape::Type::Polygon: {
        std::string points;
        for (std::size_t i = 0; i + 1 < at.size(); i += 2)
          points += (i > 0 ? " " : "") + Px(at[i]) + "," + Px(at[i + 1]);
        svg += "<polygon points=\"" + points + "\"" + paint + " stroke-linejoin=\"round\"/>\n";
        break;
      }
      case GaugeShape::Type::Text:
        Text(svg, at[0], at[1], shape.text, AnchorName(shape.anchor),
             " font-size=\"" + Px(shape.fontSize) + "\" fill=\"" + shape.fill + "\"" +
                 (shape.bold ? " font-weight=\"bold\"" : ""));
        break;
    }
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace

std::string PlotDocument::ToSvg(int width, int height) const {
  if (m_kind != PlotKind::Curves) return GaugeSvg(*this, width, height);
  const double w = width > 0 ? std::max(width, 200) : 800, h = height > 0 ? std::max(height, 150) : 500;
  const bool right = HasRightAxis();
  const double left = kAxisMargin;
  const double rightMargin = right ? kAxisMargin : kNoAxisMargin;
  const double plotWidth = w - left - rightMargin;
  const auto legend = LegendRows(*this, plotWidth);
  const double legendHeight = legend.empty() ? 0.0 : static_cast<double>(legend.size()) * kLegendRow + 6.0;
  const double top = m_title.empty() ? kTopWithoutTitle : kTitleHeight;
  const double bottom = kBottomMargin + legendHeight;
  const double plotHeight = std::max(20.0, h - top - bottom);
  const double x0 = left, x1 = left + plotWidth, y0 = top, y1 = top + plotHeight;

  const Scale sx(*this, PlotAxisId::Horizontal, x0, x1);
  const Scale sl(*this, PlotAxisId::Left, y1, y0);
  const Scale sr(*this, PlotAxisId::Right, y1, y0);

  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + Px(w) + "\" height=\"" + Px(h) +
         "\" viewBox=\"0 0 " + Px(w) + " " + Px(h) + "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"" +
         Px(kFontSize) + "\" fill=\"" + kTextColour + "\">\n";
  if (!m_title.empty()) svg += "<title>" + Escape(m_title) + "</title>\n";
  svg += "<defs><clipPath id=\"frame\"><rect x=\"" + Px(x0) + "\" y=\"" + Px(y0) + "\" width=\"" + Px(plotWidth) +
         "\" height=\"" + Px(plotHeight) + "\"/></clipPath></defs>\n";
  svg += "<rect x=\"0\" y=\"0\" width=\"" + Px(w) + "\" height=\"" + Px(h) + "\" fill=\"#ffffff\"/>\n";
  if (!m_title.empty()) Text(svg, (x0 + x1) / 2, 20, m_title, "middle", " font-size=\"14\" font-weight=\"bold\"");

  // Light lines at 2 to 9 times each decade of a logarithmic axis.
  const PlotAxis& horizontal = Axis(PlotAxisId::Horizontal);
  if (horizontal.scale == AxisScale::Logarithmic) {
    const PlotRange range = Range(PlotAxisId::Horizontal);
    for (double k = std::floor(std::log10(range.min)); k < std::log10(range.max); k += 1.0)
      for (int m = 2; m <= 9; ++m) {
        const double v = m * std::pow(10.0, k);
        if (v > range.min && v < range.max) Line(svg, sx(v), y0, sx(v), y1, kMinorGridColour, 1);
      }
  }
  // Grid and ticks: vertical lines at the horizontal ticks, horizontal lines
  // at the left axis's ticks; the right axis has its labels only.
  for (double t : Ticks(PlotAxisId::Horizontal)) {
    const double x = sx(t);
    Line(svg, x, y0, x, y1, kGridColour, 1);
    Text(svg, x, y1 + 16, TickText(t), "middle");
  }
  for (double t : Ticks(PlotAxisId::Left)) {
    const double y = sl(t);
    Line(svg, x0, y, x1, y, kGridColour, 1);
    Text(svg, x0 - 6, y + 4, TickText(t), "end");
  }
  if (right)
    for (double t : Ticks(PlotAxisId::Right)) {
      const double y = sr(t);
      Line(svg, x1, y, x1 + 4, y, kFrameColour, 1);
      Text(svg, x1 + 7, y + 4, TickText(t), "start");
    }
  svg += "<rect x=\"" + Px(x0) + "\" y=\"" + Px(y0) + "\" width=\"" + Px(plotWidth) + "\" height=\"" +
         Px(plotHeight) + "\" fill=\"none\" stroke=\"" + kFrameColour + "\" stroke-width=\"1\"/>\n";
  Text(svg, (x0 + x1) / 2, y1 + 36, Axis(PlotAxisId::Horizontal).Label(), "middle");
  const double midY = (y0 + y1) / 2;
  Text(svg, 16, midY, Axis(PlotAxisId::Left).Label(), "middle",
       " transform=\"rotate(-90 16 " + Px(midY) + ")\"");
  if (right)
    Text(svg, w - 12, midY, Axis(PlotAxisId::Right).Label(), "middle",
         " transform=\"rotate(90 " + Px(w - 12) + " " + Px(midY) + ")\"");

  // Curves, each a polyline per stretch of drawable points inside the frame.
  svg += "<g clip-path=\"url(#frame)\">\n";
  for (const PlotCurve& curve : m_curves) {
    const Scale& sy = curve.axis == PlotAxisId::Right ? sr : sl;
    std::string points;
    int count = 0;
    Point last{NAN, NAN};  // the end of the polyline being built
    auto flush = [&] {
      if (count >= 2) {
        svg += "<polyline points=\"" + points + "\"";
        Stroke(svg, curve);
        svg += "/>\n";
      }
      points.clear();
      count = 0;
      last = {NAN, NAN};
    };
    auto add = [&](const Point& p) {
      points += (count > 0 ? " " : "") + Px(p.x) + "," + Px(p.y);
      ++count;
      last = p;
    };
    Point previous{NAN, NAN};
    for (std::size_t i = 0; i < curve.x.size() && i < curve.y.size(); ++i) {
      const Point point{sx(curve.x[i]), sy(curve.y[i])};
      if (std::isnan(point.x) || std::isnan(point.y)) {
        flush();
        previous = {NAN, NAN};
        continue;
      }
      Point a = previous, b = point;
      previous = point;
      if (std::isnan(a.x) || !ClipSegment(a, b, x0, y0, x1, y1)) {
        if (!std::isnan(a.x)) flush();
        continue;
      }
      // A segment that enters the frame elsewhere than where the line left
      // it starts a new polyline.
      if (count > 0 && (a.x != last.x || a.y != last.y)) flush();
      if (count == 0) add(a);
      add(b);
    }
    flush();
  }
  svg += "</g>\n";

  int labelRow = 0;
  for (const PlotMarker& marker : m_markers) {
    const double x = sx(marker.x);
    if (std::isnan(x) || x < x0 - 0.5 || x > x1 + 0.5) continue;
    Line(svg, x, y0, x, y1, kMarkerColour, 1.2, "5 3");
    // The label inside the frame, on the side of the line with more room,
    // each marker's on a line of its own: markers close together (a
    // crossover and the gain margin's frequency) would overwrite each other.
    const bool leftOfLine = x > x0 + 0.6 * plotWidth;
    Text(svg, x + (leftOfLine ? -4 : 4), y0 + 14 + 14 * labelRow++, marker.label, leftOfLine ? "end" : "start",
         std::string(" fill=\"") + kMarkerColour + "\"");
  }

  double rowY = y1 + kBottomMargin + 6;
  for (const auto& row : legend) {
    double x = x0;
    for (const LegendEntry& entry : row) {
      svg += "<line x1=\"" + Px(x) + "\" y1=\"" + Px(rowY - 4) + "\" x2=\"" + Px(x + kLegendSample) + "\" y2=\"" +
             Px(rowY - 4) + "\"";
      Stroke(svg, *entry.curve);
      svg += "/>\n";
      Text(svg, x + kLegendSample + 6, rowY, entry.curve->name, "start");
      x += entry.width;
    }
    rowY += kLegendRow;
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace axcore
