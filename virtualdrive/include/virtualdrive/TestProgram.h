// The compiled test programs the drive knows, by name. Each is a state
// machine stepped once per current-loop period while it runs; it drives the
// firmware through its controls, reads and writes its own user variables
// and the drive variables it delivers, and starts the data logger when its
// measurement begins. A program finishes by returning false: the drive then
// turns the power stage off, which is how the host sees the end of a run
// ("STARTED" not 0 and the axis off).
//
// Conventions shared by the programs:
// - "STARTED" is 0 from the download until the program runs; a program
//   that powers the motor sets it when it turns the axis on, one that never
//   does (the supply voltage test) sets it when its result is there. The
//   programs that keep a drive variable current for the host to poll (the
//   encoder connection and analogue reference tests) leave the axis off and
//   "STARTED" 0 while they run, so that nothing takes them for finished.
// - Every output is 1.2345e100 from the download until the program delivers
//   it.
// - The test frame: the q axis points along the test angle "THTST" (0 is
//   the axis of phase A), the d axis 90 degrees behind it. "IQ" and "ID" are
//   the measured currents in that frame.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "axcore/Names.h"
#include "virtualdrive/DataLogger.h"
#include "virtualdrive/DriveFirmware.h"

namespace virtualdrive {

enum class VariableType {
  Int,    // 16-bit signed
  Long,   // 32-bit signed
  Fixed,  // 16.16 fixed point
};

struct UserVariableSpec {
  const char* name;
  VariableType type;
  // An output only: reset at each download (to 1.2345e100; "STARTED" to 0).
  // Inputs keep what the host wrote; a program that answers in an input
  // ("In1" of the positioning) overwrites it itself.
  bool output = false;
};

class ProgramContext {
 public:
  ProgramContext(DriveFirmware& drive, axcore::CaseInsensitiveMap<double>& variables, DataLogger& logger,
                 std::int64_t period)
      : drive(drive), m_variables(variables), m_logger(logger), m_period(period) {}

  DriveFirmware& drive;

  // The program's own user variables (the program table guarantees that the
  // names exist).
  double Get(std::string_view name) const;
  void Set(std::string_view name, double value);
  // Starts the data logger (if the host armed one) now.
  void StartLogging() { m_logger.Start(m_period); }
  bool LoggerFull() const { return m_logger.Full(); }
  bool LoggerArmed() const { return m_logger.Armed(); }
  std::int64_t LoggerSpanPeriods() const { return m_logger.SpanPeriods(); }
  // Whole current-loop periods in `seconds`, at least 1.
  std::int64_t Periods(double seconds) const;

 private:
  axcore::CaseInsensitiveMap<double>& m_variables;
  DataLogger& m_logger;
  std::int64_t m_period;
};

class TestProgram {
 public:
  virtual ~TestProgram() = default;
  // One current-loop period, between the firmware's measurement and its
  // control; false when the program has finished.
  virtual bool Step(ProgramContext& context) = 0;
  // True for a program that never powers the motor and only follows the
  // drive's inputs: while the plant rests, periods may pass without it and
  // one step brings it up to date.
  virtual bool Passive() const { return false; }
};

struct ProgramSpec {
  const char* name;
  // Inputs and outputs, "STARTED" included.
  std::vector<UserVariableSpec> variables;
  std::unique_ptr<TestProgram> (*create)();
};

// Every program the drive knows, by name.
const std::vector<ProgramSpec>& ProgramTable();
// Null when the drive has no such program (ASCII case ignored).
const ProgramSpec* FindProgram(std::string_view name);

// The programs, one factory each.
std::unique_ptr<TestProgram> MakeInitialPositioning();
std::unique_ptr<TestProgram> MakePhaseConnectionTest();
std::unique_ptr<TestProgram> MakeVdcDetection();
std::unique_ptr<TestProgram> MakeResistanceTest();
std::unique_ptr<TestProgram> MakeInductanceTest();
std::unique_ptr<TestProgram> MakeEncoderResolutionTest();
std::unique_ptr<TestProgram> MakeCurrentTuningTest();
std::unique_ptr<TestProgram> MakeAngleTuningTest();
std::unique_ptr<TestProgram> MakeTotalMassTest();
std::unique_ptr<TestProgram> MakeEncoderConnectionTest();
std::unique_ptr<TestProgram> MakeAnalogueReferenceTest();
std::unique_ptr<TestProgram> MakeSpeedTuningTest();
std::unique_ptr<TestProgram> MakePositionTuningTestWithSpeedLoop();
std::unique_ptr<TestProgram> MakePositionTuningTestWithoutSpeedLoop();
std::unique_ptr<TestProgram> MakeFrequencyResponseTest();

}  // namespace virtualdrive
