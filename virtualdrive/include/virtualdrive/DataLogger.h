// The drive's data logger. The host arms it with a test program (points,
// log type, step, variables); the program starts the recording when its
// measurement begins (a program that never does records from its start).
//
// Log type 2 takes one point every `step` current-loop periods, for the
// fast electrical transients (a current step, a turning current); log type
// 1 one point every `step` speed-loop periods ("SLPER" / "CLPER"
// current-loop periods), for motion that lasts seconds. Element 0 of a point is its time in seconds from the start of
// the program; elements 1, 2, ... are the logged variables in the order
// they were given, in the drive's internal units.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "axcore/DriveLink.h"

namespace virtualdrive {

class DriveFirmware;

class DataLogger {
 public:
  // Checks the settings and finds every variable; false with the reason
  // (nothing armed) when a setting is out of range or a variable unknown.
  bool Arm(const LoggerSettings& settings, DriveFirmware& drive, std::string& error);
  void Disarm();
  bool Armed() const { return m_armed; }
  // Starts the recording at program period `period` (once; later calls do
  // nothing).
  void Start(std::int64_t period);
  // Called every current-loop period of a program run, `period` one more
  // each time.
  void Sample(std::int64_t period, double time_s) {
    if (m_recording && m_count < m_wanted && period == m_nextPeriod) {
      m_nextPeriod += m_interval;
      Record(time_s);
    }
  }
  bool Full() const { return m_armed && m_count >= m_wanted; }
  // Current-loop periods from the start of the recording to its last point.
  std::int64_t SpanPeriods() const { return m_armed ? static_cast<std::int64_t>(m_wanted) * m_interval : 0; }
  std::vector<std::vector<double>> Points() const;

 private:
  void Record(double time_s);

  bool m_armed = false;
  bool m_recording = false;
  std::size_t m_wanted = 0;
  std::int64_t m_interval = 1;
  std::int64_t m_nextPeriod = 0;
  std::vector<const double*> m_sources;
  std::size_t m_count = 0;
  // The points one after the other, room for all of them taken when armed.
  std::unique_ptr<double[]> m_flat;
  std::size_t m_width = 1;
};

}  // namespace virtualdrive
