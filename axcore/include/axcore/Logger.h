// The drive's data logger as the host offers it to a test: settings and
// variables before the program runs, the recorded points after it ran, and
// the graph of those points (GraphWindow.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "axcore/DriveLink.h"
#include "axcore/GraphWindow.h"

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
  // Adds a drive variable to record, and a column of the graph for it;
  // `flag` is kept for callers that mark variables, and has no effect here.
  // Non-zero on success.
  int AddVariable(const char* name, int flag);
  // The drive's logger memory holds kMemoryValues values (each point: its
  // variables): lowers the number of points to what fits and gives it.
  static constexpr int kMemoryValues = 65536;
  int CorrectPointsNo();
  const LoggerSettings& GetSettings() const { return m_settings; }
  // The points of the graph: those to record (a scope: the points of its
  // window, the ring its rows fill).
  virtual int GetPointsNo() const { return m_settings.points; }
  // Forgets the settings, the variables, the graph's columns and curves and
  // the uploaded points, as a new logger has them: a test that logs other
  // variables in its next run starts from here.
  void Reset();

  // Uploads the points of the last run through the connected drive; non-zero
  // on success, else the reason is in CMC_Comm::GetLastErrorText.
  virtual int BeginUploadData();
  // The next uploaded point (element 0 the time, then the variables in the
  // order they were added, in the drive's units); non-zero while a point was
  // delivered.
  int ReadPoint(std::vector<double>& point);
  // The next uploaded point into the graph: a new row of the plot document,
  // in base units (the setup's variable of each name converts it; a name
  // the setup lacks keeps the drive's value). Non-zero while a point was
  // delivered. BeginUploadData empties the rows.
  int ReadPoint();

  CGraphDocument& GetPlotDocument() { return m_graph; }
  const CGraphDocument& GetPlotDocument() const { return m_graph; }

  // Saves the graph as NAME.csv (the rows, GraphWindow.h), NAME.svg and
  // NAME.png in the graph folder; `name` null or empty: the name of the
  // logger's program, else "Graph". Non-zero when all three were written;
  // otherwise GetSaveError says which could not be and why.
  int SaveGraph(const char* name = nullptr);
  // Saves the graph to `path` by its extension: ".csv" the rows, ".svg" or
  // ".png" the picture (titled `title`); "" when written, else why not.
  std::string SaveGraphAs(const std::string& path, const std::string& title = {}) const;
  // The files the last SaveGraph wrote, and why it failed ("" when not).
  const std::vector<std::string>& GetSavedFiles() const { return m_saved; }
  const std::string& GetSaveError() const { return m_saveError; }
  // Where SaveGraph writes ("" : the working folder), for every logger.
  static void SetGraphFolder(std::string folder);
  static const std::string& GetGraphFolder();

 protected:
  // The name a graph is saved under when none is given.
  virtual std::string DefaultGraphName() const { return "Graph"; }
  CMC_Setup* GetSetup() const { return m_setup; }

 private:
  CMC_Setup* m_setup;
  LoggerSettings m_settings;
  std::vector<std::vector<double>> m_points;
  std::size_t m_next = 0;
  CGraphDocument m_graph;
  std::vector<std::string> m_saved;
  std::string m_saveError;
};

// The logger of one axis, optionally tied to the program it records.
class CMC_SingleAxisLogger : public CMC_Logger {
 public:
  explicit CMC_SingleAxisLogger(CMC_Setup* setup, CMC_CoffFormat* program = nullptr)
      : CMC_Logger(setup), m_program(program) {}
  CMC_CoffFormat* GetProgram() const { return m_program; }

 protected:
  std::string DefaultGraphName() const override;

 private:
  CMC_CoffFormat* m_program;
};
