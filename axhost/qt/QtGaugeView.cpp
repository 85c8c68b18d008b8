#include "QtGaugeView.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>

#include "axcore/GaugePicture.h"

namespace axhost {

using axcore::GaugeShape;

QtGaugeView::QtGaugeView(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void QtGaugeView::Draw(const axcore::PlotDocument& document) {
  m_plot.SetTitle(document.Title());
  m_plot.SetKind(document.Kind());
  m_plot.Gauge() = document.Gauge();
  setToolTip(QString::fromStdString(document.Title()));
  updateGeometry();
  update();
}

QSize QtGaugeView::sizeHint() const {
  const axcore::GaugeSize size = axcore::GaugeNaturalSize(m_plot.Kind());
  return {size.width, size.height};
}

void QtGaugeView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) update();
  QWidget::changeEvent(event);
}

void QtGaugeView::paintEvent(QPaintEvent*) {
  axcore::PlotDocument plot = m_plot;
  plot.Gauge().enabled = plot.Gauge().enabled && isEnabled();
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  auto brush = [](const std::string& colour) {
    return colour.empty() ? QBrush(Qt::NoBrush) : QBrush(QColor(colour.c_str()));
  };
  for (const GaugeShape& shape : axcore::DrawGauge(plot, width(), height())) {
    const std::vector<double>& at = shape.at;
    QPen pen(Qt::NoPen);
    if (!shape.stroke.empty()) {
      pen = QPen(QColor(shape.stroke.c_str()), shape.strokeWidth);
      pen.setCapStyle(Qt::FlatCap);
    }
    painter.setPen(pen);
    painter.setBrush(brush(shape.fill));
    switch (shape.type) {
      case GaugeShape::Type::Rect: painter.drawRect(QRectF(at[0], at[1], at[2], at[3])); break;
      case GaugeShape::Type::Line: painter.drawLine(QPointF(at[0], at[1]), QPointF(at[2], at[3])); break;
      case GaugeShape::Type::Circle: painter.drawEllipse(QPointF(at[0], at[1]), at[2], at[2]); break;
      case GaugeShape::Type::Polygon: {
        QPolygonF polygon;
        for (std::size_t i = 0; i + 1 < at.size(); i += 2) polygon << QPointF(at[i], at[i + 1]);
        painter.drawPolygon(polygon);
        break;
      }
      case GaugeShape::Type::Text: {
        QFont font = this->font();
        font.setPixelSize(static_cast<int>(shape.fontSize + 0.5));
        font.setBold(shape.bold);
        painter.setFont(font);
        painter.setPen(QColor(shape.fill.c_str()));
        const QString text = QString::fromStdString(shape.text);
        const double width = QFontMetricsF(font).horizontalAdvance(text);
        double x = at[0];
        if (shape.anchor == axcore::TextAnchor::Middle) x -= width / 2.0;
        if (shape.anchor == axcore::TextAnchor::End) x -= width;
        painter.drawText(QPointF(x, at[1]), text);
        break;
      }
    }
  }
}

}  // namespace axhost
