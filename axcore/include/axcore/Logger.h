// The drive's data logger as the host offers it to a test: settings and
// variables before the program runs, the recorded points after it ran.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "axcore/DriveLink.h"

class CMC_CoffFormat;
class CMC_Setup;

class CMC_Logger {
 public:
  explicit CMC_Logger(CMC_Setup* setup) : m_setup(setup) {}
  virtual ~CMC_Logger() = default;
  CMC_Logger(const CMC_Logger&) = delete;
  CMC_Logger& operator=(const CMC_Logger&) = delete;

  // Points to record, log type (1: every `step` speed-loop periods, 2: every
  // `step` current-loop periods) and step; non-zero when the settings are sound.
  int ChangeSettings(int points, int logType, int step);
  // Adds a drive variable to record; `flag` is kept for callers that mark
  // variables, and has no effect here. Non-zero on success.
  int AddVariable(const char* name, int flag);
  const LoggerSettings& GetSettings() const { return m_settings; }
  // Forgets the settings, the variables and the uploaded points, as a new
  // logger has them: a test that logs other variables in its next run
  // starts from here.
  void Reset();

  // Uploads the points of the last run through the connected drive; non-zero
  // on success, else the reason is in CMC_Comm::GetLastErrorText.
  int BeginUploadData();
  // The next uploaded point (element 0 the time, then the variables in the
  // order they were added); non-zero while a point was delivered.
  int ReadPoint(std::vector<double>& point);

 private:
  CMC_Setup* m_setup;
  LoggerSettings m_settings;
  std::vector<std::vector<double>> m_points;
  std::size_t m_next = 0;
};

// The logger of one axis, optionally tied to the program it records.
class CMC_SingleAxisLogger : public CMC_Logger {
 public:
  explicit CMC_SingleAxisLogger(CMC_Setup* setup, CMC_CoffFormat* program = nullptr)
      : CMC_Logger(setup), m_program(program) {}
  CMC_CoffFormat* GetProgram() const { return m_program; }

 private:
  CMC_CoffFormat* m_program;
};
