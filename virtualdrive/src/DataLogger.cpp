#include "virtualdrive/DataLogger.h"

#include "virtualdrive/DriveFirmware.h"

namespace virtualdrive {

// The logger's memory holds this many points; more are refused.
constexpr int kMaxPoints = 100000;

bool DataLogger::Arm(const LoggerSettings& settings, DriveFirmware& drive, std::string& error) {
  Disarm();
  m_count = 0;
  if (settings.points < 1 || settings.points > kMaxPoints) {
    error = "the data logger takes 1 to " + std::to_string(kMaxPoints) + " points, not " +
            std::to_string(settings.points);
    return false;
  }
  if (settings.logType != 1 && settings.logType != 2) {
    error = "the data logger knows log types 1 and 2, not " + std::to_string(settings.logType);
    return false;
  }
  if (settings.step < 1 || settings.step > 1000000) {
    error = "the data logger's step must be 1 to 1000000 periods, not " + std::to_string(settings.step);
    return false;
  }
  std::vector<const double*> sources;
  for (const std::string& name : settings.variables) {
    const double* source = drive.VariableAddress(name);
    if (source == nullptr) {
      error = "the data logger cannot record \"" + name + "\": the drive has no such variable";
      return false;
    }
    sources.push_back(source);
  }
  m_sources = std::move(sources);
  m_wanted = static_cast<std::size_t>(settings.points);
  m_interval = static_cast<std::int64_t>(settings.step) * (settings.logType == 1 ? drive.SlowLoopDivider() : 1);
  m_width = m_sources.size() + 1;
  m_flat = std::make_unique_for_overwrite<double[]>(m_wanted * m_width);
  m_armed = true;
  return true;
}

void DataLogger::Disarm() {
  m_armed = false;
  m_recording = false;
}

void DataLogger::Start(std::int64_t period) {
  if (!m_armed || m_recording) return;
  m_recording = true;
  m_nextPeriod = period;
}

void DataLogger::Record(double time_s) {
  double* point = m_flat.get() + m_count * m_width;
  *point++ = time_s;
  for (const double* source : m_sources) *point++ = *source;
  ++m_count;
}

std::vector<std::vector<double>> DataLogger::Points() const {
  std::vector<std::vector<double>> points;
  points.reserve(m_count);
  for (std::size_t k = 0; k < m_count; ++k)
    points.emplace_back(m_flat.get() + k * m_width, m_flat.get() + (k + 1) * m_width);
  return points;
}

}  // namespace virtualdrive
