#include "axcore/Logger.h"

#include "axcore/Comm.h"

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
  return 1;
}

void CMC_Logger::Reset() {
  m_settings = LoggerSettings();
  m_points.clear();
  m_next = 0;
}

int CMC_Logger::BeginUploadData() {
  m_points.clear();
  m_next = 0;
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
