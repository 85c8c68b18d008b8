// A dialog's plot on the desktop: a plot document drawn with Qt Charts.
//
// Axes as the document gives them (titles with units, linear or
// logarithmic, the same ranges and tick steps as its SVG), the curves in
// the plot palette's colours and line styles, a NaN breaking a line, the
// marker lines with their labels, and the legend below. The user zooms in
// by dragging a rectangle and sees the whole plot again with a double
// click; a zoom stays while the dialog redraws the plot with new data. The
// right button opens the dialog's menu for the plot when the dialog has
// one, else zooms out a step. The wheel asks the dialog to rescale a curve
// (a scope's channel): a notch away from the user +1 step, towards -1, for
// the curve picked by clicking its legend entry (the first curve until
// one is picked; the picked one is named in bold).
#pragma once

#include <QChartView>
#include <functional>
#include <string>
#include <vector>

#include "axcore/PlotDocument.h"

class QAbstractAxis;
class QGraphicsSimpleTextItem;
class QLineSeries;

namespace axhost {

class QtPlotView : public QChartView {
 public:
  explicit QtPlotView(QWidget* parent = nullptr);

  void Draw(const axcore::PlotDocument& document);

  // Whether the user has zoomed since the plot was last shown whole.
  bool IsZoomed() const { return m_zoomed; }
  // Shows the whole plot again.
  void ShowWhole();

  // The right click: true when the dialog took it (its menu was shown).
  void SetRightClickHandler(std::function<bool()> handler) { m_rightClick = std::move(handler); }
  // The wheel turned `steps` notches (positive away from the user) over
  // the plot, for curve `curve` (1, 2, ...).
  void SetWheelHandler(std::function<void(int steps, int curve)> handler) { m_wheel = std::move(handler); }
  // The curve the wheel rescales (1, 2, ...).
  int WheelCurve() const { return m_wheelCurve; }
  void PickWheelCurve(int curve);

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  struct Marker {
    double x;
    QLineSeries* line;
    QGraphicsSimpleTextItem* label;
  };
  struct Axis {
    QAbstractAxis* axis = nullptr;
    axcore::PlotRange whole;  // the document's range
    bool log = false;
    double step = 1.0;  // the document's tick step
  };

  Axis MakeAxis(const axcore::PlotDocument& document, axcore::PlotAxisId id, Qt::Alignment side);
  void SetRange(Axis& axis, double min, double max);
  double TickInterval(const Axis& axis, double min, double max) const;
  void RangeChanged();
  static std::string Shape(const axcore::PlotDocument& document);
  // Redraws a plot of the shape drawn last in place; false when it has
  // another shape.
  bool Update(const axcore::PlotDocument& document);
  void PlaceMarkerLabels();

  Axis m_axes[3];
  std::vector<Marker> m_markers;
  bool m_zoomed = false;
  unsigned m_wholeViewRequests = 0;  // the document's count last honoured
  std::string m_shape;                // of the plot drawn last; "" : none that can be updated
  std::vector<QLineSeries*> m_series;  // the first series of each curve drawn
  bool m_drawing = false;  // ranges set by Draw or ShowWhole are no zoom
  std::function<bool()> m_rightClick;
  std::function<void(int, int)> m_wheel;
  int m_wheelCurve = 1;
  int m_wheelDelta = 0;  // eighths of a degree not yet a whole notch
};

}  // namespace axhost
