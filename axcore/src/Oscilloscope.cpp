#include "axcore/Oscilloscope.h"

#include <algorithm>
#include <cmath>

#include "axcore/EditSetupDlg.h"
#include "axcore/GraphWindow.h"
#include "axcore/PlotDocument.h"

int CMC_Oscilloscope::Initialize(const char* name, int channels, int /*flags*/) {
  if (channels < 1 || channels > kMaxChannels) return 0;
  m_name = name != nullptr ? name : "";
  m_channels.assign(static_cast<std::size_t>(channels), Channel{});
  for (int k = 0; k < channels; ++k) m_channels[static_cast<std::size_t>(k)].colour = k;
  m_samples.clear();
  m_count = 0;
  Redraw();
  return 1;
}

int CMC_Oscilloscope::SetChannelSpan(int channel, double from, double to) {
  if (channel < 0 || channel >= static_cast<int>(m_channels.size()) || !std::isfinite(from) || !std::isfinite(to) ||
      from == to)
    return 0;
  m_channels[static_cast<std::size_t>(channel)].from = from;
  m_channels[static_cast<std::size_t>(channel)].to = to;
  return 1;
}

int CMC_Oscilloscope::SetTraceColour(int channel, int colour) {
  if (channel < 0 || channel >= static_cast<int>(m_channels.size())) return 0;
  m_channels[static_cast<std::size_t>(channel)].colour = RGB16(colour);
  return 1;
}

std::string CMC_Oscilloscope::GetTraceColour(int channel) const {
  if (channel < 0 || channel >= static_cast<int>(m_channels.size())) return {};
  return axcore::PlotColour(m_channels[static_cast<std::size_t>(channel)].colour);
}

int CMC_Oscilloscope::SetWindowPoints(int points) {
  if (points < 2 || points > 100000) return 0;
  m_window = points;
  while (static_cast<int>(m_samples.size()) > m_window) m_samples.pop_front();
  return 1;
}

bool CMC_Oscilloscope::SubclassDlgItem(int id, CMC_EditSetupDlg* dialog) {
  if (dialog == nullptr || dialog->GetPlot(id) == nullptr) return false;
  m_dialog = dialog;
  m_id = id;
  Redraw();
  return true;
}

int CMC_Oscilloscope::AddPoints(std::span<const double> values) {
  if (m_channels.empty() || values.size() != m_channels.size()) return 0;
  m_samples.emplace_back(values.begin(), values.end());
  if (static_cast<int>(m_samples.size()) > m_window) m_samples.pop_front();
  ++m_count;
  Redraw();
  return 1;
}

void CMC_Oscilloscope::Redraw() {
  axcore::PlotDocument* plot = m_dialog != nullptr ? m_dialog->GetPlot(m_id) : nullptr;
  if (plot == nullptr) return;
  plot->ClearData();
  plot->SetKind(axcore::PlotKind::Curves);
  plot->SetTitle(m_name);
  plot->SetLegendShown(false);
  plot->Axis(axcore::PlotAxisId::Horizontal).title = "Samples";
  plot->Axis(axcore::PlotAxisId::Horizontal).unit.clear();
  if (!m_channels.empty()) {
    const Channel& first = m_channels.front();
    axcore::PlotAxis& left = plot->Axis(axcore::PlotAxisId::Left);
    left.fixedMin = std::min(first.from, first.to);
    left.fixedMax = std::max(first.from, first.to);
    left.title.clear();
    left.unit.clear();
  }
  const long long firstSample = m_count - static_cast<long long>(m_samples.size());
  for (std::size_t c = 0; c < m_channels.size(); ++c) {
    const Channel& channel = m_channels[c];
    axcore::PlotCurve& curve = plot->AddCurve("Channel " + std::to_string(c + 1), axcore::PlotAxisId::Left, channel.colour);
    // This channel's span mapped onto channel 0's height.
    const double gain = (m_channels[0].from - m_channels[0].to) / (channel.from - channel.to);
    for (std::size_t k = 0; k < m_samples.size(); ++k) {
      curve.x.push_back(static_cast<double>(firstSample + static_cast<long long>(k)));
      curve.y.push_back(m_channels[0].to + (m_samples[k][c] - channel.to) * gain);
    }
  }
  m_dialog->RefreshPlot(m_id);
}
