// The picture of a gauge plot as a list of shapes, in pixels from the top
// left corner, painted in order. The SVG of a gauge plot writes them out and
// the desktop view paints them with its own font, so both show one picture:
//   - Bar: a framed trough between the limits, filled from the drawing
//     reference to the value, a mark at the reference, ticks at round values
//     with their labels below, and the value's text under them;
//   - Phase: a dial with a tick every 30 degrees, spokes to phases A, B and C
//     at 0, 120 and 240 degrees (counter-clockwise from the right), the
//     pointer at the angle and the angle in degrees below;
//   - LinearEncoder: a ruler with ticks and its limits labelled, a cursor
//     above it at the position (pinned at an end, with an arrow pointing
//     outwards, when the position lies beyond it) and the count below.
// A disabled gauge is drawn in greys. The widths of texts are estimated,
// as the font of the viewer is not known here.
#pragma once

#include <string>
#include <vector>

#include "axcore/PlotDocument.h"

namespace axcore {

enum class TextAnchor { Start, Middle, End };

struct GaugeShape {
  enum class Type { Rect, Line, Circle, Polygon, Text };
  Type type = Type::Line;
  // Rect: x, y, width, height; Line: x1, y1, x2, y2; Circle: cx, cy, r;
  // Polygon: x, y of each corner; Text: x, y of the anchor on the baseline.
  std::vector<double> at;
  std::string fill;    // "#rrggbb"; empty: not filled
  std::string stroke;  // "#rrggbb"; empty: no outline
  double strokeWidth = 1.0;
  // Text only.
  std::string text;
  TextAnchor anchor = TextAnchor::Start;
  double fontSize = 12.0;  // pixels
  bool bold = false;
};

struct GaugeSize {
  int width = 0;
  int height = 0;
};

// The size a gauge of `kind` is drawn at when nothing else is asked for.
GaugeSize GaugeNaturalSize(PlotKind kind);

// The shapes of gauge plot `plot` in a `width` x `height` box, centred in
// it; none for a plot of curves.
std::vector<GaugeShape> DrawGauge(const PlotDocument& plot, double width, double height);

}  // namespace axcore
