#include "axcore/TestPlots.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "axcore/EditSetupDlg.h"

namespace axcore {
namespace {

constexpr const char* kFallbackFormat = "%g";
// Longer formats are no value format; with this the text stays bounded.
constexpr std::size_t kMaxFormat = 64;

// At most `most` digits from `i`.
bool Digits(std::string_view f, std::size_t& i, int most) {
  int count = 0;
  while (i < f.size() && f[i] >= '0' && f[i] <= '9') ++i, ++count;
  return count <= most;
}

}  // namespace

std::string SafeValueFormat(const char* format) {
  if (format == nullptr) return kFallbackFormat;
  const std::string_view f(format);
  if (f.size() > kMaxFormat) return kFallbackFormat;
  int conversions = 0;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '%') continue;
    if (++i == f.size()) return kFallbackFormat;
    if (f[i] == '%') continue;
    while (i < f.size() && std::string_view("-+ #0").find(f[i]) != std::string_view::npos) ++i;
    if (!Digits(f, i, 2)) return kFallbackFormat;
    if (i < f.size() && f[i] == '.' && !Digits(f, ++i, 2)) return kFallbackFormat;
    if (i < f.size() && f[i] == 'l') ++i;
    if (i == f.size() || std::string_view("eEfgG").find(f[i]) == std::string_view::npos) return kFallbackFormat;
    ++conversions;
  }
  return conversions == 1 ? std::string(f) : kFallbackFormat;
}

std::string FormatGaugeValue(const char* format, double value) {
  const std::string safe = SafeValueFormat(format);
  // Room for "%99.99f" of the largest double and the format's own text.
  char text[512];
  std::snprintf(text, sizeof text, safe.c_str(), value);
  return text;
}

bool GaugeControl::SubclassDlgItem(int id, CMC_EditSetupDlg* dialog) {
  if (dialog == nullptr || dialog->GetPlot(id) == nullptr) return false;
  m_dialog = dialog;
  m_id = id;
  if (const ControlState* control = dialog->GetControl(id); control != nullptr && !control->enabled)
    m_gauge.enabled = false;
  dialog->EnableChild(id, m_gauge.enabled);
  Repaint();
  return true;
}

void GaugeControl::EnableWindow(bool enable) {
  m_gauge.enabled = enable;
  if (m_dialog == nullptr) return;
  m_dialog->EnableChild(m_id, enable);
  Repaint();
}

void GaugeControl::Repaint() {
  PlotDocument* plot = m_dialog != nullptr ? m_dialog->GetPlot(m_id) : nullptr;
  if (plot == nullptr) return;
  plot->SetKind(m_kind);
  plot->Gauge() = m_gauge;
  m_dialog->RefreshPlot(m_id);
}

}  // namespace axcore

CBarGraph::CBarGraph() : GaugeControl(axcore::PlotKind::Bar) {
  m_gauge.colour = axcore::PlotColour(0);
  m_gauge.text = axcore::FormatGaugeValue(m_format.c_str(), m_gauge.value);
}

void CBarGraph::SetLimits(double lo, double hi) {
  m_gauge.lo = lo;
  m_gauge.hi = hi;
}

void CBarGraph::SetLeftLimit(double lo) { m_gauge.lo = lo; }
void CBarGraph::SetRightLimit(double hi) { m_gauge.hi = hi; }

void CBarGraph::SetCurrentValue(double value) {
  m_gauge.value = value;
  m_gauge.text = axcore::FormatGaugeValue(m_format.c_str(), value);
}

void CBarGraph::SetDrawingReference(double reference) { m_gauge.reference = reference; }

void CBarGraph::SetColor(unsigned long colorref) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02lx%02lx%02lx", colorref & 0xFF, (colorref >> 8) & 0xFF,
                (colorref >> 16) & 0xFF);
  m_gauge.colour = text;
}

void CBarGraph::SetFormat(const char* format) {
  m_format = axcore::SafeValueFormat(format);
  m_gauge.text = axcore::FormatGaugeValue(m_format.c_str(), m_gauge.value);
}

CPhaseDiagram::CPhaseDiagram() : GaugeControl(axcore::PlotKind::Phase) { m_gauge.colour = axcore::PlotColour(1); }

CLinearEncoderDiagram::CLinearEncoderDiagram() : GaugeControl(axcore::PlotKind::LinearEncoder) {
  m_gauge.colour = axcore::PlotColour(1);
  m_gauge.lo = m_gauge.hi = 0.0;  // an empty scale until the limits are set
}

void CLinearEncoderDiagram::SetLimits(long lo, long hi) {
  m_gauge.lo = static_cast<double>(lo);
  m_gauge.hi = static_cast<double>(hi);
}

void CLinearEncoderDiagram::SetPosition(long position) {
  m_position = position;
  m_gauge.position = static_cast<double>(position);
}
