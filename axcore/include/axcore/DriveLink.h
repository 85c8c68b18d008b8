// The drive link: the one way the host reaches a drive.
//
// Parameters (registers), drive variables, test programs with their user
// variables, the power stage state, the data logger and the drive's
// unsolicited messages all go through this interface. Values cross it in the
// drive's internal units (the integers the drive holds, as doubles); the
// setup document converts them to base units. Every operation returns true
// on success and false on failure with the reason in `error`, one line, for
// the user. Implementations: the virtual drive (virtualdrive/); a real
// transport can be added behind the same interface.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// What the data logger records while a test program runs.
struct LoggerSettings {
  // Number of points to record.
  int points = 0;
  // 1: one point every `step` speed-loop periods (motion); 2: one point
  // every `step` current-loop periods (electrical transients). Element 0 of a point is its time in seconds
  // from the start of the program.
  int logType = 1;
  // Periods between two points, at least 1.
  int step = 1;
  // Drive variables, in the order of elements 1, 2, ... of each point.
  std::vector<std::string> variables;
};

// A message the drive sends on its own: a scope frame while a scope runs.
struct UnsolicitedMessage {
  int kind = 0;                // 1: scope frame
  std::vector<double> values;  // the frame's samples, variable after variable
};

class DriveLink {
 public:
  virtual ~DriveLink() = default;

  // Drive variables by name ("MER", "APOS_MT", "REFTST_V" ...).
  virtual bool ReadVariable(std::string_view name, double& value, std::string& error) = 0;
  virtual bool WriteVariable(std::string_view name, double value, std::string& error) = 0;
  // A register or drive constant by name ("KPI", "SATS" ...).
  virtual bool WriteRegister(std::string_view name, double value, std::string& error) = 0;

  // User variables of a test program, by program name and variable name. The
  // program need not run: inputs are written before it starts, outputs read
  // after it has finished. Unknown programs and variables fail.
  virtual bool SetProgramVariable(std::string_view program, std::string_view name, double value,
                                  std::string& error) = 0;
  virtual bool GetProgramVariable(std::string_view program, std::string_view name, double& value,
                                  std::string& error) = 0;
  // Downloads and starts a test program; with `logger` the data logger
  // records while it runs. Fails when the drive refuses the program.
  virtual bool StartProgram(std::string_view program, const LoggerSettings* logger, std::string& error) = 0;
  // Stops the running test program, if any, and turns the power stage off
  // (the user stopped the test or closed its dialog).
  virtual bool StopProgram(std::string& error) = 0;
  // Whether the power stage is on.
  virtual bool GetAxisOn(bool& on, std::string& error) = 0;
  // The points the logger recorded during the last program run.
  virtual bool UploadLog(std::vector<std::vector<double>>& points, std::string& error) = 0;
  // Unsolicited messages that arrived since the last call, oldest first.
  virtual bool TakeUnsolicitedMessages(std::vector<UnsolicitedMessage>& messages, std::string& error) = 0;
};
