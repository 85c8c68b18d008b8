#include "axcore/Logger.h"

#include <algorithm>

#include "axcore/CoffFormat.h"
#include "axcore/Comm.h"
#include "axcore/Diagnostics.h"
#include "axcore/MessageText.h"
#include "axcore/Setup.h"
#include "axcore/SetupFile.h"

int CMC_Logger::ChangeSettings(int points, int logType, int step) {
  if (points <= 0 || (logType != 1 && logType != 2) || step <= 0) return 0;
  m_settings.points = points;
  m_settings.logType = logType;
  m_settings.step = step;
  return 1;
}

int CMC_Logger::AddVariable(const char* name, int /*flag*/) {
  if (name == nullptr || *name == '\0') return 0;
  m_settings.variables.emplace_back(name);
  std::vector<GraphColumn> columns = m_graph.Columns();
  std::string unit;
  if (m_setup != nullptr) {
    axcore::QuietLookup quiet;
    if (const CMC_Variable* variable = m_setup->FindVariable(name)) unit = variable->GetUnit();
  }
  columns.push_back({name, unit});
  m_graph.SetColumns(std::move(columns));
  return 1;
}

int CMC_Logger::CorrectPointsNo() {
  const int perPoint = std::max<int>(1, static_cast<int>(m_settings.variables.size()));
  m_settings.points = std::clamp(m_settings.points, 1, kMemoryValues / perPoint);
  return m_settings.points;
}

void CMC_Logger::Reset() {
  m_settings = LoggerSettings();
  m_points.clear();
  m_next = 0;
  m_graph = CGraphDocument();
}

int CMC_Logger::BeginUploadData() {
  m_points.clear();
  m_next = 0;
  m_graph.ClearRows();
  DriveLink* link = CMC_Comm::GetLink();
  if (link == nullptr) {
    CMC_Comm::SetLastErrorText(kNoDriveConnected);
    return 0;
  }
  std::string error;
  if (!link->UploadLog(m_points, error)) {
    m_points.clear();
    CMC_Comm::SetLastErrorText(error);
    return 0;
  }
  return 1;
}

int CMC_Logger::ReadPoint(std::vector<double>& point) {
  if (m_next >= m_points.size()) return 0;
  point = m_points[m_next++];
  return 1;
}

int CMC_Logger::ReadPoint() {
  std::vector<double> point;
  if (ReadPoint(point) == 0) return 0;
  axcore::QuietLookup quiet;
  for (std::size_t k = 1; k < point.size() && k - 1 < m_settings.variables.size(); ++k) {
    const CMC_Variable* variable = m_setup != nullptr ? m_setup->FindVariable(m_settings.variables[k - 1]) : nullptr;
    if (variable != nullptr) point[k] = variable->InternalToBase(point[k]);
  }
  m_graph.AddRow(std::move(point));
  return 1;
}

namespace {

std::string& GraphFolder() {
  static std::string folder;
  return folder;
}

}  // namespace

void CMC_Logger::SetGraphFolder(std::string folder) { GraphFolder() = std::move(folder); }
const std::string& CMC_Logger::GetGraphFolder() { return GraphFolder(); }

std::string CMC_Logger::SaveGraphAs(const std::string& path, const std::string& title) const {
  const bool csv = path.size() >= 4 && (path.compare(path.size() - 4, 4, ".csv") == 0 ||
                                        path.compare(path.size() - 4, 4, ".CSV") == 0);
  return csv ? axcore::ReplaceFile(path, m_graph.ToCsv()) : m_graph.ToPlot(title).Save(path);
}

int CMC_Logger::SaveGraph(const char* name) {
  m_saved.clear();
  m_saveError.clear();
  std::string base = name != nullptr && *name != '\0' ? std::string(name) : DefaultGraphName();
  const std::string& folder = GraphFolder();
  if (!folder.empty()) base = folder + (folder.back() == '/' ? "" : "/") + base;
  for (const char* extension : {".csv", ".svg", ".png"}) {
    const std::string path = base + extension;
    const std::string error = SaveGraphAs(path, base.substr(base.rfind('/') + 1));
    if (!error.empty()) {
      m_saveError = error;
      return 0;
    }
    m_saved.push_back(path);
  }
  return 1;
}

std::string CMC_SingleAxisLogger::DefaultGraphName() const {
  if (m_program != nullptr && !m_program->GetProgramName().empty()) return m_program->GetProgramName();
  return CMC_Logger::DefaultGraphName();
}
