// A dialog's gauge on the desktop: a bar graph, phase diagram or encoder
// diagram painted from its plot document, the same picture as the
// document's SVG (GaugePicture.h) in the dialog's own font, on the
// dialog's background like a native control. A disabled widget is drawn
// grey, as a disabled gauge is.
#pragma once

#include <QWidget>

#include "axcore/PlotDocument.h"

namespace axhost {

class QtGaugeView : public QWidget {
 public:
  explicit QtGaugeView(QWidget* parent = nullptr);

  // Keeps the document's gauge and repaints.
  void Draw(const axcore::PlotDocument& document);
  axcore::PlotKind Kind() const { return m_plot.Kind(); }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  axcore::PlotDocument m_plot;
};

}  // namespace axhost
