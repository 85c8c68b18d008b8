#include "axcore/GraphWindow.h"

#include <cmath>
#include <functional>
#include <string>
#include <utility>

#include "axcore/EditSetupDlg.h"
#include "axcore/Logger.h"
#include "axcore/Platform.h"
#include "axcore/SetupFile.h"

namespace {

constexpr int kPaletteSize = 16;

axcore::LineStyle StyleOf(int style) {
  switch (style) {
    case 1: return axcore::LineStyle::Dashed;
    case 3: return axcore::LineStyle::Dotted;
    default: return axcore::LineStyle::Solid;
  }
}

axcore::PlotAxisId VerticalAxis(int axis) { return axis == 2 ? axcore::PlotAxisId::Right : axcore::PlotAxisId::Left; }

double Cell(const std::vector<double>& row, int column) {
  return column >= 0 && static_cast<std::size_t>(column) < row.size() ? row[static_cast<std::size_t>(column)] : NAN;
}

// The quantity a unit measures, for an axis title; "" when not known.
std::string QuantityOf(const std::string& unit) {
  static const std::pair<const char*, const char*> kQuantities[] = {
      {"A", "Current"}, {"V", "Voltage"}, {"m/s", "Speed"}, {"rad/s", "Speed"}, {"m", "Position"},
      {"rad", "Angle"}, {"N", "Force"},   {"m/s^2", "Acceleration"}};
  for (const auto& [name, quantity] : kQuantities)
    if (unit == name) return quantity;
  return {};
}

// Asks the user for a file to export a graph to, offering NAME plus
// `extension` in the graph folder, and writes `text` to it. Non-zero when
// written; a failed write is told to the user.
int ExportToChosenFile(CMC_EditSetupDlg* owner, const char* name, const char* extension, const char* kind,
                       const std::function<std::string()>& text) {
  axcore::FilePrompt prompt;
  prompt.title = std::string("Export ") + kind;
  prompt.defaultName = std::string(name != nullptr && *name != '\0' ? name : "Graph") + extension;
  prompt.filter = std::string(kind) + " (*" + extension + ")";
  prompt.folder = CMC_Logger::GetGraphFolder();
  axcore::Platform& platform = axcore::CurrentPlatform();
  const std::string path = platform.PromptFileName(prompt, owner);
  if (path.empty()) return 0;
  if (const std::string error = axcore::ReplaceFile(path, text()); !error.empty()) {
    platform.MessageBox("The graph was not exported: " + error, MB_OK | MB_ICONERROR, owner);
    return 0;
  }
  return 1;
}

}  // namespace

int RGB16(int index) { return ((index % kPaletteSize) + kPaletteSize) % kPaletteSize; }

CGraphDocument::CGraphDocument() : m_columns{{"time_s", "s"}}, m_sets(1) {}

void CGraphDocument::SetColumns(std::vector<GraphColumn> columns) {
  m_columns = std::move(columns);
  m_rows.clear();
  m_display.clear();
  m_notes.clear();
}

void CGraphDocument::SetColumnNote(int column, std::string note) {
  if (column < 0) return;
  const auto k = static_cast<std::size_t>(column);
  if (k >= m_notes.size()) m_notes.resize(k + 1);
  m_notes[k] = std::move(note);
}

bool CGraphDocument::SetRow(std::size_t index, std::vector<double> row) {
  if (index > m_rows.size()) return false;
  row.resize(m_columns.size(), NAN);
  if (index == m_rows.size()) {
    m_rows.push_back(std::move(row));
  } else {
    m_rows[index] = std::move(row);
  }
  return true;
}

void CGraphDocument::SetColumnDisplay(int column, double gain, double bias) {
  if (column < 0 || !std::isfinite(gain) || !std::isfinite(bias)) return;
  const auto k = static_cast<std::size_t>(column);
  if (k >= m_display.size()) m_display.resize(k + 1, {1.0, 0.0});
  m_display[k] = {gain, bias};
}

double CGraphDocument::DrawnCell(const std::vector<double>& row, int column) const {
  const double value = Cell(row, column);
  const auto k = static_cast<std::size_t>(column);
  if (column < 0 || k >= m_display.size()) return value;
  return value * m_display[k].first + m_display[k].second;
}

void CGraphDocument::AddRow(std::vector<double> row) {
  row.resize(m_columns.size(), NAN);
  m_rows.push_back(std::move(row));
}

void CGraphDocument::ClearRows() { m_rows.clear(); }

std::vector<double> CGraphDocument::Column(int column) const {
  std::vector<double> values;
  values.reserve(m_rows.size());
  for (const std::vector<double>& row : m_rows) values.push_back(Cell(row, column));
  return values;
}

CCurveSet& CGraphDocument::GetCurveSet(int index) {
  if (index < 0) index = 0;
  if (static_cast<std::size_t>(index) >= m_sets.size()) m_sets.resize(static_cast<std::size_t>(index) + 1);
  return m_sets[static_cast<std::size_t>(index)];
}

const CCurveSet& CGraphDocument::GetCurveSet(int index) const {
  return m_sets[index > 0 && static_cast<std::size_t>(index) < m_sets.size() ? static_cast<std::size_t>(index) : 0];
}

void CGraphDocument::LocateItems() {
  auto columnName = [&](int column) {
    return column >= 0 && static_cast<std::size_t>(column) < m_columns.size()
               ? m_columns[static_cast<std::size_t>(column)]
               : GraphColumn{};
  };
  for (int axis = 0; axis < 3; ++axis) {
    m_axisTitle[axis].clear();
    m_axisUnit[axis].clear();
  }
  m_axisTitle[0] = "Time";
  m_axisUnit[0] = "s";
  int count[3] = {0, 0, 0};
  for (const CXYCurve& curve : m_sets[0].Curves()) {
    const int axis = curve.Axis() == 2 ? 2 : 1;
    const GraphColumn column = columnName(curve.YColumn());
    if (count[axis]++ == 0) {
      m_axisUnit[axis] = column.unit;
    } else {
      m_axisTitle[axis] += ", ";
    }
    m_axisTitle[axis] += column.name;
  }
  if (m_divisions > 0) {
    m_axisTitle[1] = "Divisions";
    m_axisUnit[1].clear();
  }
  // Several variables of one kind on an axis: the axis is titled by their
  // quantity ("Current (A)"), which fits beside a plot where the list of
  // their names would not.
  for (int axis = m_divisions > 0 ? 2 : 1; axis < 3; ++axis) {
    if (count[axis] < 2) continue;
    const std::string quantity = QuantityOf(m_axisUnit[axis]);
    if (!quantity.empty()) m_axisTitle[axis] = quantity;
  }
}

axcore::PlotDocument CGraphDocument::ToPlot(const std::string& title) const {
  axcore::PlotDocument plot;
  plot.SetTitle(title);
  const axcore::PlotAxisId ids[3] = {axcore::PlotAxisId::Horizontal, axcore::PlotAxisId::Left,
                                     axcore::PlotAxisId::Right};
  for (int axis = 0; axis < 3; ++axis) {
    plot.Axis(ids[axis]).title = m_axisTitle[axis];
    plot.Axis(ids[axis]).unit = m_axisUnit[axis];
  }
  for (const CXYCurve& curve : m_sets[0].Curves()) {
    const std::size_t y = static_cast<std::size_t>(curve.YColumn());
    std::string name = y < m_columns.size() ? m_columns[y].name : "column " + std::to_string(y);
    if (y < m_notes.size() && !m_notes[y].empty()) name += " (" + m_notes[y] + ")";
    axcore::PlotCurve& drawn =
        plot.AddCurve(name, VerticalAxis(curve.Axis()), RGB16(curve.Colour()), StyleOf(curve.Style()));
    for (const std::vector<double>& row : m_rows) {
      drawn.x.push_back(DrawnCell(row, curve.XColumn()));
      drawn.y.push_back(DrawnCell(row, curve.YColumn()));
    }
  }
  if (m_divisions > 0) {
    axcore::PlotAxis& left = plot.Axis(axcore::PlotAxisId::Left);
    left.fixedMin = -0.5 * m_divisions;
    left.fixedMax = 0.5 * m_divisions;
    left.tickStep = 1.0;
  }
  for (const axcore::PlotCurve& overlay : m_overlay) {
    axcore::PlotCurve& drawn = plot.AddCurve(overlay.name, overlay.axis, overlay.colour, overlay.style);
    drawn = overlay;
  }
  return plot;
}

std::string CGraphDocument::ToCsv() const {
  std::string csv;
  for (std::size_t c = 0; c < m_columns.size(); ++c) csv += (c ? "," : "") + axcore::CsvField(m_columns[c].name);
  csv += "\n";
  for (const std::vector<double>& row : m_rows) {
    for (std::size_t c = 0; c < m_columns.size(); ++c)
      csv += (c ? "," : "") + axcore::CsvNumber(Cell(row, static_cast<int>(c)));
    csv += "\n";
  }
  return csv;
}

bool CGraphWindow::SubclassDlgItem(int id, CMC_EditSetupDlg* dialog, CGraphDocument* document) {
  if (dialog == nullptr || document == nullptr || dialog->GetPlot(id) == nullptr) return false;
  m_dialog = dialog;
  m_id = id;
  m_document = document;
  return true;
}

axcore::PlotDocument* CGraphWindow::Plot() const {
  return m_dialog != nullptr && m_document != nullptr ? m_dialog->GetPlot(m_id) : nullptr;
}

void CGraphWindow::RefreshGraph() {
  axcore::PlotDocument* plot = Plot();
  if (plot == nullptr) return;
  const unsigned wholeViews = plot->WholeViewRequests();
  *plot = m_document->ToPlot(m_title);
  // Keep the count of whole-view requests: a redraw is not a zoom-out.
  while (plot->WholeViewRequests() < wholeViews) plot->RequestWholeView();
  m_dialog->RefreshPlot(m_id);
}

void CGraphWindow::UpdateLastPoint() {
  axcore::PlotDocument* plot = Plot();
  if (plot == nullptr || m_document->Rows().empty()) return;
  const std::vector<double>& row = m_document->Rows().back();
  const std::vector<CXYCurve>& curves = m_document->GetCurveSet(0).Curves();
  // The drawn curves are the set's curves in order; anything else (a
  // graph drawn from another document) is drawn whole instead.
  const std::vector<axcore::PlotCurve>& drawn = plot->Curves();
  if (drawn.size() != curves.size() + m_document->Overlay().size()) {
    RefreshGraph();
    return;
  }
  for (std::size_t i = 0; i < curves.size(); ++i) {
    axcore::PlotCurve& curve = plot->CurveAt(i);
    curve.x.push_back(m_document->DrawnCell(row, curves[i].XColumn()));
    curve.y.push_back(m_document->DrawnCell(row, curves[i].YColumn()));
  }
  m_dialog->RefreshPlot(m_id);
}

void CGraphWindow::UpdatePoint(int index) {
  axcore::PlotDocument* plot = Plot();
  if (plot == nullptr || index < 0) return;
  const auto k = static_cast<std::size_t>(index);
  const std::vector<std::vector<double>>& rows = m_document->Rows();
  const std::vector<CXYCurve>& curves = m_document->GetCurveSet(0).Curves();
  const std::vector<axcore::PlotCurve>& drawn = plot->Curves();
  // Only a point in place or the next one is drawn alone; anything else
  // (a graph drawn from other rows or curves) is drawn whole.
  if (k >= rows.size() || drawn.size() != curves.size() + m_document->Overlay().size() ||
      (!curves.empty() && k > drawn[0].x.size())) {
    RefreshGraph();
    return;
  }
  for (std::size_t i = 0; i < curves.size(); ++i) {
    axcore::PlotCurve& curve = plot->CurveAt(i);
    const double x = m_document->DrawnCell(rows[k], curves[i].XColumn());
    const double y = m_document->DrawnCell(rows[k], curves[i].YColumn());
    if (k == curve.x.size()) {
      curve.x.push_back(x);
      curve.y.push_back(y);
    } else {
      curve.x[k] = x;
      curve.y[k] = y;
    }
  }
  m_dialog->RefreshPlot(m_id);
}

void CGraphWindow::DoZoomOut() {
  axcore::PlotDocument* plot = Plot();
  if (plot == nullptr) return;
  plot->RequestWholeView();
  m_dialog->RefreshPlot(m_id);
}

int CGraphWindow::CreateWMF(const char* name) {
  if (m_document == nullptr) return 0;
  const std::string title = !m_title.empty() ? m_title : (name != nullptr ? name : "");
  return ExportToChosenFile(m_dialog, name, ".svg", "Picture (SVG)",
                            [&] { return m_document->ToPlot(title).ToSvg(); });
}

int CGraphFilter::ExportToASCII(CGraphWindow& graph, const char* name) {
  const CGraphDocument* document = graph.GetDocument();
  if (document == nullptr) return 0;
  return ExportToChosenFile(graph.GetDialog(), name, ".csv", "Data (CSV)", [&] { return document->ToCsv(); });
}
