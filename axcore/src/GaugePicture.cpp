#include "axcore/GaugePicture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace axcore {
namespace {

constexpr double kLabelFont = 11.0;  // tick and limit labels, phase names
constexpr double kValueFont = 13.0;  // the value's text, bold
// An estimate of the advance of one character: a little wider than DejaVu
// Sans, so that labels placed by it keep apart in any sans-serif font.
constexpr double kCharAdvance = 0.62;

// The colours of an enabled gauge and of a disabled (grey) one.
struct Colours {
  const char* text;
  const char* label;
  const char* frame;
  const char* face;
  const char* light;  // dial ticks and spokes
  std::string fill;   // bar, pointer, cursor
};

Colours ColoursOf(const PlotGauge& gauge) {
  if (gauge.enabled) return {"#202020", "#4a4a4a", "#8a8a8a", "#ffffff", "#c4c4c4", gauge.colour};
  return {"#a0a0a0", "#aaaaaa", "#bcbcbc", "#f6f6f6", "#dedede", "#c8c8c8"};
}

double TextWidth(const std::string& text, double fontSize) {
  // Characters, not bytes: continuation bytes of UTF-8 do not count.
  const auto chars = std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
  return static_cast<double>(chars) * fontSize * kCharAdvance;
}

std::string Label(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

class Picture {
 public:
  void Rect(double x, double y, double w, double h, const std::string& fill, const std::string& stroke) {
    Add(GaugeShape::Type::Rect, {x, y, w, h}, fill, stroke);
  }
  void Line(double x1, double y1, double x2, double y2, const std::string& stroke, double width = 1.0) {
    Add(GaugeShape::Type::Line, {x1, y1, x2, y2}, {}, stroke).strokeWidth = width;
  }
  void Circle(double cx, double cy, double r, const std::string& fill, const std::string& stroke) {
    Add(GaugeShape::Type::Circle, {cx, cy, r}, fill, stroke);
  }
  void Polygon(std::vector<double> corners, const std::string& fill) {
    Add(GaugeShape::Type::Polygon, std::move(corners), fill, {});
  }
  void Text(double x, double y, std::string text, TextAnchor anchor, double size, const std::string& colour,
            bool bold = false) {
    GaugeShape& shape = Add(GaugeShape::Type::Text, {x, y}, colour, {});
    shape.text = std::move(text);
    shape.anchor = anchor;
    shape.fontSize = size;
    shape.bold = bold;
  }
  std::vector<GaugeShape> Take() { return std::move(m_shapes); }

 private:
  GaugeShape& Add(GaugeShape::Type type, std::vector<double> at, const std::string& fill, const std::string& stroke) {
    GaugeShape& shape = m_shapes.emplace_back();
    shape.type = type;
    shape.at = std::move(at);
    shape.fill = fill;
    shape.stroke = stroke;
    return shape;
  }
  std::vector<GaugeShape> m_shapes;
};

// A horizontal scale whose frame's sides are the pixel columns just outside
// `left` and `left + width` (whole pixels): lines drawn on it stay sharp.
struct Track {
  double inner, width;
  double X(double fraction) const { return inner - 0.5 + fraction * (width + 1.0); }
  // A one-pixel line at `fraction`, on the middle of a pixel column.
  double Sharp(double fraction) const { return std::round(X(fraction) - 0.5) + 0.5; }
  // The frame around rows top..top+height.
  void Frame(Picture& out, double top, double height, const std::string& fill, const std::string& stroke) const {
    out.Rect(inner - 0.5, top - 0.5, width + 1.0, height + 1.0, fill, stroke);
  }
};

// Heights of the rows under a scale: ticks, their labels, the value's text.
constexpr double kTickLength = 4.0;
constexpr double kLabelRow = 14.0;
constexpr double kValueRow = 19.0;
constexpr double kPad = 5.0;

void DrawBar(const PlotDocument& plot, double w, double h, Picture& out) {
  const PlotGauge& gauge = plot.Gauge();
  const Colours c = ColoursOf(gauge);
  const bool scale = gauge.HasScale();
  // The most ticks, up to five intervals, whose labels keep apart; room at
  // each side for half a label.
  std::vector<double> ticks;
  double widest = 0.0;
  for (int parts = 5; scale && parts >= 1; --parts) {
    ticks = gauge.Ticks(parts);
    widest = 0.0;
    for (double v : ticks) widest = std::max(widest, TextWidth(Label(v), kLabelFont));
    const double apart = ticks.size() > 1 ? (ticks[1] - ticks[0]) / (gauge.hi - gauge.lo) * (w - 20.0) : w;
    if (apart >= widest + 10.0) break;
  }
  const double margin = std::max(10.0, widest / 2.0 + 4.0);
  const Track t{std::round(margin), std::round(std::max(20.0, w - 2.0 * margin))};
  // The trough takes the height left over, within bounds; a low control
  // gives up the tick labels first.
  double labels = scale ? kLabelRow : 0.0;
  double trough = h - 2.0 * kPad - kTickLength - labels - kValueRow;
  if (trough < 10.0 && labels > 0.0) {
    labels = 0.0;
    trough += kLabelRow;
  }
  trough = std::round(std::clamp(trough, 8.0, 26.0));
  const double total = trough + kTickLength + labels + kValueRow;
  const double top = std::round(std::max(kPad, (h - total) / 2.0));
  const double bottom = top + trough;

  t.Frame(out, top, trough, c.face, c.frame);
  if (scale) {
    const GaugeSpan bar = gauge.Bar();
    const double from = std::max(t.X(bar.from), t.inner), to = std::min(t.X(bar.to), t.inner + t.width);
    if (to > from) out.Rect(from, top, to - from, trough, c.fill, {});
    // The reference, where the bar grows from, when it is not an end.
    const double reference = (gauge.reference - gauge.lo) / (gauge.hi - gauge.lo);
    if (reference > 0.0 && reference < 1.0)
      out.Line(t.Sharp(reference), top - 3, t.Sharp(reference), bottom + 3, c.label, 1.0);
    for (double v : ticks) {
      const double fraction = (v - gauge.lo) / (gauge.hi - gauge.lo);
      out.Line(t.Sharp(fraction), bottom + 0.5, t.Sharp(fraction), bottom + 0.5 + kTickLength, c.frame);
      if (labels > 0.0)
        out.Text(t.X(fraction), bottom + kTickLength + 12, Label(v), TextAnchor::Middle, kLabelFont, c.label);
    }
  }
  out.Text(w / 2.0, bottom + kTickLength + labels + 15, plot.GaugeText(), TextAnchor::Middle, kValueFont, c.text, true);
}

void DrawPhase(const PlotDocument& plot, double w, double h, Picture& out) {
  const PlotGauge& gauge = plot.Gauge();
  const Colours c = ColoursOf(gauge);
  constexpr double kLabelRoom = 16.0;  // around the dial for the phase names
  const double r = std::max(12.0, std::min(w - 2.0 * kLabelRoom, h - 2.0 * kLabelRoom - kValueRow) / 2.0);
  const double total = 2.0 * (r + kLabelRoom) + kValueRow;
  const double cx = w / 2.0, cy = std::max(0.0, (h - total) / 2.0) + kLabelRoom + r;
  // Counter-clockwise from the right; the picture's y grows downwards.
  auto px = [&](double angle, double radius) { return cx + radius * std::cos(angle); };
  auto py = [&](double angle, double radius) { return cy - radius * std::sin(angle); };
  constexpr double kDegree = std::numbers::pi / 180.0;

  out.Circle(cx, cy, r, c.face, c.frame);
  for (int d = 0; d < 360; d += 30)
    if (d % 120 != 0)
      out.Line(px(d * kDegree, 0.9 * r), py(d * kDegree, 0.9 * r), px(d * kDegree, r), py(d * kDegree, r), c.light);
  const char* names[] = {"A", "B", "C"};
  for (int k = 0; k < 3; ++k) {
    const double a = k * 120.0 * kDegree;
    out.Line(cx, cy, px(a, r), py(a, r), c.light);
    // The name's middle on the spoke's line, a little outside the dial;
    // +4 takes the baseline down to the middle of a capital.
    out.Text(px(a, r + 9), py(a, r + 9) + 4, names[k], TextAnchor::Middle, kLabelFont + 1, c.label, true);
  }
  if (std::isfinite(gauge.angle)) {
    const double a = gauge.angle;
    const double head = std::max(6.0, 0.16 * r), half = std::max(3.5, 0.06 * r);
    const double tip = 0.94 * r, base = tip - head;
    out.Line(cx, cy, px(a, base + 1), py(a, base + 1), c.fill, std::max(2.0, r / 30.0));
    const double ox = half * std::sin(a), oy = half * std::cos(a);  // across the pointer
    out.Polygon({px(a, tip), py(a, tip), px(a, base) + ox, py(a, base) + oy, px(a, base) - ox, py(a, base) - oy},
                c.fill);
  }
  out.Circle(cx, cy, std::max(2.5, r / 20.0), c.fill, {});
  out.Text(cx, cy + r + kLabelRoom + 14, plot.GaugeText(), TextAnchor::Middle, kValueFont, c.text, true);
}

void DrawEncoder(const PlotDocument& plot, double w, double h, Picture& out) {
  const PlotGauge& gauge = plot.Gauge();
  const Colours c = ColoursOf(gauge);
  const bool scale = gauge.HasScale();
  const std::string loText = scale ? Label(gauge.lo) : std::string(), hiText = scale ? Label(gauge.hi) : std::string();
  constexpr double kArrow = 12.0;  // beyond each end: the arrow of a pinned cursor
  const double margin =
      std::max(kArrow + 4.0, std::max(TextWidth(loText, kLabelFont), TextWidth(hiText, kLabelFont)) / 2.0 + 4.0);
  const Track t{std::round(margin), std::round(std::max(20.0, w - 2.0 * margin))};
  constexpr double kCursor = 10.0, kBand = 13.0;
  const double labels = scale ? kLabelRow : 0.0;
  const double total = kCursor + kBand + labels + kValueRow;
  const double top = std::round(std::max(kPad, (h - total) / 2.0));
  const double band = top + kCursor, bottom = band + kBand;

  t.Frame(out, band, kBand, c.face, c.frame);
  if (scale) {
    // Ticks up from the lower edge, about every 25 pixels, taller at zero;
    // the ends are the frame's own sides.
    for (double v : gauge.Ticks(std::clamp(static_cast<int>(t.width / 25.0), 2, 20))) {
      const double fraction = (v - gauge.lo) / (gauge.hi - gauge.lo);
      if (fraction <= 0.0 || fraction >= 1.0) continue;
      out.Line(t.Sharp(fraction), bottom, t.Sharp(fraction), bottom - (v == 0.0 ? 9.0 : 5.0), c.frame);
    }
    out.Text(t.X(0), bottom + 13, loText, TextAnchor::Middle, kLabelFont, c.label);
    out.Text(t.X(1), bottom + 13, hiText, TextAnchor::Middle, kLabelFont, c.label);

    const double at = t.X(gauge.Cursor());
    out.Line(at, band - 0.5, at, bottom + 0.5, c.fill, 2.0);
    out.Polygon({at - 6, top, at + 6, top, at, band - 0.5}, c.fill);
    if (const int beyond = gauge.Beyond(); beyond != 0) {
      // The position lies past this end: an arrow pointing on, outside it.
      const double from = t.X(beyond > 0 ? 1.0 : 0.0) + beyond * 3.0, to = from + beyond * (kArrow - 3.0);
      const double mid = band + kBand / 2.0;
      out.Polygon({from, mid - 6, to, mid, from, mid + 6}, c.fill);
    }
  }
  out.Text(w / 2.0, bottom + labels + 15, plot.GaugeText(), TextAnchor::Middle, kValueFont, c.text, true);
}

}  // namespace

GaugeSize GaugeNaturalSize(PlotKind kind) {
  switch (kind) {
    case PlotKind::Bar: return {320, 78};
    case PlotKind::Phase: return {200, 216};
    case PlotKind::LinearEncoder: return {320, 72};
    case PlotKind::Curves: break;
  }
  return {800, 500};
}

std::vector<GaugeShape> DrawGauge(const PlotDocument& plot, double width, double height) {
  Picture picture;
  const double w = std::max(width, 40.0), h = std::max(height, 30.0);
  switch (plot.Kind()) {
    case PlotKind::Bar: DrawBar(plot, w, h, picture); break;
    case PlotKind::Phase: DrawPhase(plot, w, h, picture); break;
    case PlotKind::LinearEncoder: DrawEncoder(plot, w, h, picture); break;
    case PlotKind::Curves: break;
  }
  return picture.Take();
}

}  // namespace axcore
