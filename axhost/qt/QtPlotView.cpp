#include "QtPlotView.h"

#include <QChart>
#include <QGraphicsSimpleTextItem>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMouseEvent>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>

namespace axhost {
namespace {

using axcore::AxisScale;
using axcore::PlotAxisId;

// About as many intervals between the ticks of a linear axis as the
// document's SVG has.
constexpr int kTickParts = 6;
const QColor kGridColour(0xdc, 0xdc, 0xdc);
const QColor kMinorGridColour(0xee, 0xee, 0xee);
const QColor kMarkerColour(0x60, 0x60, 0x60);

Qt::PenStyle PenStyle(axcore::LineStyle style) {
  switch (style) {
    case axcore::LineStyle::Dashed: return Qt::DashLine;
    case axcore::LineStyle::Dotted: return Qt::DotLine;
    case axcore::LineStyle::Solid: break;
  }
  return Qt::SolidLine;
}

bool Drawable(double x, double y, bool logX, bool logY) {
  return std::isfinite(x) && std::isfinite(y) && (!logX || x > 0.0) && (!logY || y > 0.0);
}

QChart* MakeChart() {
  auto* chart = new QChart;
  chart->setMargins(QMargins(4, 4, 4, 4));
  chart->setBackgroundRoundness(0);
  chart->legend()->setAlignment(Qt::AlignBottom);
  // A short line in the curve's pen: a dashed curve shows dashed.
  chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
  QFont title = chart->titleFont();
  title.setBold(true);
  chart->setTitleFont(title);
  return chart;
}

}  // namespace

// The view owns the chart it is built with; a chart given later by setChart
// would leave the default one to nobody.
QtPlotView::QtPlotView(QWidget* parent) : QChartView(MakeChart(), parent) {
  setRenderHint(QPainter::Antialiasing);
  setRubberBand(QChartView::RectangleRubberBand);
  setToolTip(QStringLiteral("Drag to zoom in, double-click to see the whole plot"));
  connect(chart(), &QChart::plotAreaChanged, this, [this] { PlaceMarkerLabels(); });
}

QtPlotView::Axis QtPlotView::MakeAxis(const axcore::PlotDocument& document, PlotAxisId id, Qt::Alignment side) {
  const axcore::PlotAxis& source = document.Axis(id);
  Axis made;
  made.whole = document.Range(id);
  made.log = source.scale == AxisScale::Logarithmic;
  made.step = document.TickStep(id);
  if (made.log) {
    auto* axis = new QLogValueAxis;
    axis->setBase(10.0);
    axis->setLabelFormat(QStringLiteral("%g"));
    axis->setMinorTickCount(-1);  // 2 to 9 times each decade
    axis->setMinorGridLineColor(kMinorGridColour);
    made.axis = axis;
  } else {
    auto* axis = new QValueAxis;
    axis->setLabelFormat(QStringLiteral("%g"));
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0.0);
    made.axis = axis;
  }
  made.axis->setTitleText(QString::fromStdString(source.Label()));
  made.axis->setGridLineColor(kGridColour);
  chart()->addAxis(made.axis, side);
  return made;
}

void QtPlotView::SetRange(Axis& axis, double min, double max) {
  if (axis.axis == nullptr || !(max > min)) return;
  if (axis.log) {
    axis.axis->setRange(min, max);
    return;
  }
  // Never the small step of one range over the wide span of another (a
  // thousand times the ticks to lay out): a coarser step goes first, a finer
  // one after the range.
  auto* value = static_cast<QValueAxis*>(axis.axis);
  const double step = TickInterval(axis, min, max);
  const bool coarser = step > value->tickInterval();
  if (coarser) value->setTickInterval(step);
  value->setRange(min, max);
  if (!coarser) value->setTickInterval(step);
}

double QtPlotView::TickInterval(const Axis& axis, double min, double max) const {
  // The document's own step while the axis shows its whole range; a round
  // step for the span shown once it is zoomed.
  if (axis.whole.min == min && axis.whole.max == max) return axis.step;
  return axcore::NiceStep(max - min, kTickParts);
}

// Everything of a plot but its data: a plot that keeps it is redrawn in
// place (new points, new ranges) instead of built anew, which a dialog that
// adds its points one by one would otherwise do for every point.
std::string QtPlotView::Shape(const axcore::PlotDocument& document) {
  std::string shape = document.Title() + '\x1f' + (document.LegendShown() ? "L" : "-");
  for (PlotAxisId id : {PlotAxisId::Horizontal, PlotAxisId::Left, PlotAxisId::Right}) {
    const axcore::PlotAxis& axis = document.Axis(id);
    shape += '\x1f' + axis.Label() + (axis.scale == AxisScale::Logarithmic ? "log" : "lin");
  }
  shape += document.HasRightAxis() ? "R" : "-";
  for (const axcore::PlotCurve& curve : document.Curves()) {
    // A curve broken by a gap is drawn as several series: built anew.
    const bool whole = std::none_of(curve.y.begin(), curve.y.end(), [](double y) { return !std::isfinite(y); });
    if (!whole) return {};
    shape += '\x1f' + curve.name + std::to_string(static_cast<int>(curve.axis)) + std::to_string(curve.colour) +
             std::to_string(static_cast<int>(curve.style)) + (curve.inLegend ? "L" : "-");
  }
  return document.Markers().empty() ? shape : std::string();
}

bool QtPlotView::Update(const axcore::PlotDocument& document) {
  const std::string shape = Shape(document);
  if (shape.empty() || shape != m_shape || m_series.size() != document.Curves().size()) return false;
  m_drawing = true;
  for (const PlotAxisId id : {PlotAxisId::Horizontal, PlotAxisId::Left, PlotAxisId::Right}) {
    Axis& axis = m_axes[static_cast<int>(id)];
    if (axis.axis == nullptr) continue;
    axis.whole = document.Range(id);
    axis.step = document.TickStep(id);
    if (!m_zoomed) SetRange(axis, axis.whole.min, axis.whole.max);
  }
  for (std::size_t i = 0; i < m_series.size(); ++i) {
    const axcore::PlotCurve& curve = document.Curves()[i];
    const bool logX = m_axes[0].log, logY = m_axes[curve.axis == PlotAxisId::Right ? 2 : 1].log;
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(curve.x.size()));
    for (std::size_t k = 0; k < curve.x.size() && k < curve.y.size(); ++k)
      if (Drawable(curve.x[k], curve.y[k], logX, logY)) points.append(QPointF(curve.x[k], curve.y[k]));
    m_series[i]->replace(points);
  }
  m_drawing = false;
  return true;
}

void QtPlotView::Draw(const axcore::PlotDocument& document) {
  // A zoom the user made outlives new data, until the dialog asks for the
  // whole plot again.
  if (document.WholeViewRequests() != m_wholeViewRequests) {
    m_wholeViewRequests = document.WholeViewRequests();
    m_zoomed = false;
  }
  if (Update(document)) return;
  m_shape = Shape(document);
  m_series.clear();
  std::optional<std::pair<double, double>> kept[3];
  if (m_zoomed)
    for (int i = 0; i < 3; ++i)
      if (m_axes[i].axis != nullptr) {
        if (m_axes[i].log) {
          auto* axis = static_cast<QLogValueAxis*>(m_axes[i].axis);
          kept[i] = std::make_pair(axis->min(), axis->max());
        } else {
          auto* axis = static_cast<QValueAxis*>(m_axes[i].axis);
          kept[i] = std::make_pair(axis->min(), axis->max());
        }
      }

  m_drawing = true;
  QChart* plot = chart();
  plot->removeAllSeries();
  for (QAbstractAxis* axis : plot->axes()) {
    plot->removeAxis(axis);
    delete axis;
  }
  for (Marker& marker : m_markers) delete marker.label;
  m_markers.clear();
  for (Axis& axis : m_axes) axis = Axis{};

  plot->setTitle(QString::fromStdString(document.Title()));
  m_axes[0] = MakeAxis(document, PlotAxisId::Horizontal, Qt::AlignBottom);
  m_axes[1] = MakeAxis(document, PlotAxisId::Left, Qt::AlignLeft);
  if (document.HasRightAxis()) m_axes[2] = MakeAxis(document, PlotAxisId::Right, Qt::AlignRight);
  for (Axis& axis : m_axes) SetRange(axis, axis.whole.min, axis.whole.max);

  const bool logX = m_axes[0].log;
  for (const axcore::PlotCurve& curve : document.Curves()) {
    const Axis& vertical = m_axes[curve.axis == PlotAxisId::Right ? 2 : 1];
    QPen pen(QColor(axcore::PlotColour(curve.colour)), 1.6, PenStyle(curve.style));
    pen.setCosmetic(true);
    // One series per stretch of drawable points; the first names the curve
    // in the legend.
    bool first = true;
    QLineSeries* series = nullptr;
    // A stretch's points go in at once: appended one by one to a series on
    // the chart, each would lay the whole line out again.
    QList<QPointF> points;
    auto flush = [&] {
      if (series != nullptr && !points.isEmpty()) series->replace(points);
      points.clear();
    };
    auto start = [&] {
      flush();
      series = new QLineSeries;
      series->setName(QString::fromStdString(curve.name));
      series->setPen(pen);
      plot->addSeries(series);
      series->attachAxis(m_axes[0].axis);
      series->attachAxis(vertical.axis);
      if (first) m_series.push_back(series);
      if (!first || !curve.inLegend)
        for (QLegendMarker* marker : plot->legend()->markers(series)) marker->setVisible(false);
      first = false;
    };
    start();
    bool open = true;  // the current series has no point yet or takes the next
    for (std::size_t i = 0; i < curve.x.size() && i < curve.y.size(); ++i) {
      if (!Drawable(curve.x[i], curve.y[i], logX, vertical.log)) {
        open = false;
        continue;
      }
      if (!open) start();
      open = true;
      points.append(QPointF(curve.x[i], curve.y[i]));
    }
    flush();
  }

  // A marker is a line far beyond the left axis's range, clipped to the plot.
  const Axis& left = m_axes[1];
  const double span = left.whole.max - left.whole.min;
  const double bottom = left.log ? left.whole.min / 1e6 : left.whole.min - 1e3 * span;
  const double top = left.log ? left.whole.max * 1e6 : left.whole.max + 1e3 * span;
  for (const axcore::PlotMarker& source : document.Markers()) {
    auto* line = new QLineSeries;
    QPen pen(kMarkerColour, 1.2, Qt::DashLine);
    pen.setCosmetic(true);
    line->setPen(pen);
    line->append(source.x, bottom);
    line->append(source.x, top);
    plot->addSeries(line);
    line->attachAxis(m_axes[0].axis);
    line->attachAxis(left.axis);
    for (QLegendMarker* marker : plot->legend()->markers(line)) marker->setVisible(false);
    auto* label = new QGraphicsSimpleTextItem(QString::fromStdString(source.label), plot);
    label->setBrush(kMarkerColour);
    label->setZValue(10);
    m_markers.push_back({source.x, line, label});
  }
  plot->legend()->setVisible(document.LegendShown() &&
                             std::any_of(document.Curves().begin(), document.Curves().end(),
                                         [](const axcore::PlotCurve& c) { return c.inLegend; }));

  for (int i = 0; i < 3; ++i)
    if (kept[i]) SetRange(m_axes[i], kept[i]->first, kept[i]->second);
  for (Axis& axis : m_axes) {
    if (axis.axis == nullptr) continue;
    if (axis.log)
      connect(static_cast<QLogValueAxis*>(axis.axis), &QLogValueAxis::rangeChanged, this, [this] { RangeChanged(); });
    else
      connect(static_cast<QValueAxis*>(axis.axis), &QValueAxis::rangeChanged, this, [this] { RangeChanged(); });
  }
  // A legend entry clicked picks its curve for the wheel.
  for (std::size_t i = 0; i < m_series.size(); ++i)
    for (QLegendMarker* marker : plot->legend()->markers(m_series[i]))
      connect(marker, &QLegendMarker::clicked, this, [this, i] { PickWheelCurve(static_cast<int>(i) + 1); });
  PickWheelCurve(m_wheelCurve <= static_cast<int>(m_series.size()) ? m_wheelCurve : 1);
  m_drawing = false;
  PlaceMarkerLabels();
}

void QtPlotView::PickWheelCurve(int curve) {
  m_wheelCurve = curve;
  for (std::size_t i = 0; i < m_series.size(); ++i)
    for (QLegendMarker* marker : chart()->legend()->markers(m_series[i])) {
      QFont font = marker->font();
      font.setBold(static_cast<int>(i) + 1 == curve);
      marker->setFont(font);
    }
}

void QtPlotView::RangeChanged() {
  if (m_drawing) return;
  m_zoomed = true;
  // The tick step follows the zoom, so that a zoomed axis keeps round labels.
  for (Axis& axis : m_axes)
    if (axis.axis != nullptr && !axis.log) {
      auto* value = static_cast<QValueAxis*>(axis.axis);
      value->setTickInterval(TickInterval(axis, value->min(), value->max()));
    }
  PlaceMarkerLabels();
}

void QtPlotView::ShowWhole() {
  m_drawing = true;
  for (Axis& axis : m_axes) SetRange(axis, axis.whole.min, axis.whole.max);
  m_drawing = false;
  m_zoomed = false;
  PlaceMarkerLabels();
}

void QtPlotView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    ShowWhole();
    event->accept();
    return;
  }
  QChartView::mouseDoubleClickEvent(event);
}

void QtPlotView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && m_rightClick && m_rightClick()) {
    event->accept();
    return;
  }
  QChartView::mouseReleaseEvent(event);
}

void QtPlotView::wheelEvent(QWheelEvent* event) {
  if (!m_wheel) {
    QChartView::wheelEvent(event);
    return;
  }
  event->accept();
  // 120 eighths of a degree a notch; a fine wheel or touch pad sends less
  // at a time.
  m_wheelDelta += event->angleDelta().y();
  const int steps = m_wheelDelta / 120;
  m_wheelDelta -= steps * 120;
  if (steps != 0) m_wheel(steps, m_wheelCurve);
}

void QtPlotView::PlaceMarkerLabels() {
  const QRectF area = chart()->plotArea();
  double top = area.top() + 2;
  for (Marker& marker : m_markers) {
    const QPointF at = chart()->mapToPosition(QPointF(marker.x, m_axes[1].whole.max), marker.line);
    const bool inside = at.x() >= area.left() - 0.5 && at.x() <= area.right() + 0.5;
    marker.label->setVisible(inside);
    if (!inside) continue;
    // Inside the frame, on the side of the line with more room, each
    // marker's label below the one before: close markers would overlap.
    const double width = marker.label->boundingRect().width();
    const bool leftOfLine = at.x() > area.left() + 0.6 * area.width();
    marker.label->setPos(leftOfLine ? at.x() - width - 4 : at.x() + 4, top);
    top += marker.label->boundingRect().height();
  }
}

}  // namespace axhost
