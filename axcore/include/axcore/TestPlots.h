// The gauges of the drive test dialogs: a bar graph, a phase diagram and a
// linear encoder diagram. Each is bound to a plot control of its dialog
// (SubclassDlgItem) and keeps its numbers itself; Repaint mirrors them into
// the control's plot document (PlotDocument::Gauge) and redraws it, so a
// script's save-plot gets exactly what the window shows. Until bound, a
// gauge only keeps what it is given, and Repaint does nothing.
#pragma once

#include <string>

#include "axcore/PlotDocument.h"

class CMC_EditSetupDlg;

namespace axcore {

// `format` when it prints one double safely, else "%g": text with "%%"
// escapes and exactly one conversion e, f, g, E or G, with flags (-+ #0),
// a width and a precision of at most two digits each and an optional l.
// Anything else (%s, %n, %d, '*', two conversions, a lone %) could read
// what was never passed, so it is not handed to printf.
std::string SafeValueFormat(const char* format);
// `value` printed with SafeValueFormat(format).
std::string FormatGaugeValue(const char* format, double value);

// What the three gauges share: the plot control they draw on.
class GaugeControl {
 public:
  // Binds to plot control `id` of `dialog`; false when the dialog has no
  // such plot control (or is not created yet). A control disabled in the
  // template leaves the gauge disabled.
  bool SubclassDlgItem(int id, CMC_EditSetupDlg* dialog);
  // Enables or greys the gauge, and its control, at once.
  void EnableWindow(bool enable);
  // Mirrors the gauge into the plot document and redraws it.
  void Repaint();
  bool IsBound() const { return m_dialog != nullptr; }

 protected:
  explicit GaugeControl(PlotKind kind) : m_kind(kind) {}
  PlotGauge m_gauge;

 private:
  PlotKind m_kind;
  CMC_EditSetupDlg* m_dialog = nullptr;
  int m_id = 0;
};

}  // namespace axcore

// A horizontal bar between two limits, growing from a drawing reference to
// the current value (held to the limits; the text shows the true value),
// with the value printed in a printf format under it.
class CBarGraph : public axcore::GaugeControl {
 public:
  CBarGraph();
  void SetLimits(double lo, double hi);
  void SetLeftLimit(double lo);
  void SetRightLimit(double hi);
  void SetCurrentValue(double value);
  void SetDrawingReference(double reference);
  double GetDrawingReference() const { return m_gauge.reference; }
  double GetCurrentValue() const { return m_gauge.value; }
  // 0x00BBGGRR, as the host's colour values are given (0x0000FF is red).
  void SetColor(unsigned long colorref);
  // "%.2f", "%.2G", ...: the value's text; an unsafe format prints "%g"
  // (SafeValueFormat).
  void SetFormat(const char* format);

 private:
  std::string m_format = "%g";
};

// The electrical angle as a pointer on a circle, phases A, B and C marked
// at 0, 120 and 240 degrees; a disabled diagram is drawn grey.
class CPhaseDiagram : public axcore::GaugeControl {
 public:
  CPhaseDiagram();
  void SetAngle(double radians) { m_gauge.angle = radians; }
  double GetAngle() const { return m_gauge.angle; }
};

// A linear scale between two limits (counts) with a cursor at the encoder
// position; a position beyond the limits pins the cursor at that end with
// an arrow pointing on.
class CLinearEncoderDiagram : public axcore::GaugeControl {
 public:
  CLinearEncoderDiagram();
  void SetLimits(long lo, long hi);
  void SetPosition(long position);
  long GetPosition() const { return m_position; }

 private:
  long m_position = 0;
};
