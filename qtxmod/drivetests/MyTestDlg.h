// The base of every drive test of the plug-in, between the host's test
// dialog and the tests: the drive test protocol they all follow.
//
// A test loads its programs' descriptors when it opens; Start launches a
// chain of programs; a one-shot timer of 20 ms (timer 1) polls the drive
// until each program has finished ("STARTED" set and the power stage off);
// between programs values pass from one to the next; at the end the test
// reads drive variables or uploads the logger, computes, stores and reports.
// Every failure fills the error text and calls TestFailed(1); the setup
// then keeps the values it had before the run.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <string>
#include <vector>

#include "axcore/CoffFormat.h"
#include "axcore/Logger.h"
#include "axcore/TestDlg.h"

class CMyTestDlg : public CMC_TestDlg {
 public:
  // Every test but speed and position tuning (resources 102 and 103) frees
  // the drive's start-up motion check: "ABSTART_MINMOVE", when the setup has
  // it, is set to 0.
  CMyTestDlg(CMC_Setup* setup, int resourceId, int flag, CMC_EditSetupDlg* parent = nullptr);

  // Reads "MER" and gives 1 when none of the error bits in `mask` that the
  // drive reports on (short circuit 1, control error 3, limit switches 6 and
  // 7, ENABLE 15) is set. Otherwise fills the error text, fails the test
  // when `fail` is non-zero, and gives 0. An absent or unreadable "MER"
  // gives the internal error.
  int CheckDriveError(int fail, unsigned mask);

  // The value a program leaves in an output it did not deliver.
  static constexpr double kNotDelivered = 1.2345e100;
  // The preliminary positioning that aligns the electrical angle.
  static constexpr const char* kPositioningProgram = "Initial_Positioning_Test";

  // Every timer message first kills timer 1; timer 1 of a running test then
  // takes the run's next polling step (OnRunTimer). Other timers and a test
  // that no longer runs do nothing more.
  void OnTimer(int id) override;

 protected:
  // A polling step of the running test, dispatched on the step counter.
  virtual void OnRunTimer() {}
  // A new run: running, no result yet, step counter 0.
  void StartRun();

  enum class Wait { Running, Finished, Failed };
  // One poll of a program launched last: the timer is set again while it
  // runs; Failed when the test has failed (already reported).
  Wait WaitForProgram(const CMC_CoffFormat& program, unsigned mask);

  // The positioning program's answer: "In1" read back (1.2345e100: the
  // internal error; 0, or below 0 unless `onlyZeroFails`: the no-current
  // error), then the angle reference "REFTST_V" and its increment
  // "RINCTST_V" in internal units. False when the test has failed.
  bool TakePositioningResults(const CMC_CoffFormat& positioning, double& refTest, double& rIncTest,
                              bool onlyZeroFails = false);
  // One poll of the preliminary positioning (WaitForProgram with `mask`):
  // true once it has ended and its results are taken, `next` then shown;
  // false while it runs or when the test has failed.
  bool PositioningEnded(const CMC_CoffFormat& positioning, unsigned mask, double& refTest, double& rIncTest,
                        const char* next, bool onlyZeroFails = false);

  // Launches the preliminary positioning at `current` (internal units,
  // written to "In1"), shows `next` and arms the timer; false when the test
  // failed.
  bool LaunchPositioning(CMC_CoffFormat& positioning, double current, const char* next);

  // A drive variable after a run, in internal or base units; false (the
  // test failed) when it is absent or cannot be read.
  bool ReadDriveVariable(const char* name, bool internalUnit, double& value);
  // Writes a program input; false (the test failed) on refusal.
  bool WriteProgramInput(const CMC_CoffFormat& program, const char* name, double value);
  // Reads a program output; false (the test failed) when it cannot be read.
  bool ReadProgramOutput(const CMC_CoffFormat& program, const char* name, double& value);
  // Launches a program (the caller shows the next status text); false (the test
  // failed with the internal error) when the drive did not start it.
  bool Launch(const char* programName, CMC_CoffFormat* program, CMC_Logger* logger);
  // Sets timer 1 to `ms`; false (the test failed with the system's text)
  // when it cannot be set.
  bool ArmTimer(int ms = 20);
  // The test fails with `text` as its error text.
  void Fail(const std::string& text);

  // The logged points of the last run: each point's logged variables
  // (elements 1, 2, ... of the logger's points). False (the internal error)
  // when the upload fails.
  bool UploadPoints(CMC_Logger& logger, std::vector<std::vector<double>>& points);

  // The test's own result into the setup: stored through the document's
  // write rules and read back (the value the setup really holds). False (the
  // internal error) when the setup has no such parameter or refuses it.
  bool StoreResult(const char* name, double value, double& stored);

  // The question on closing after new values were found. `changes` holds
  // one line per changed value ("Phase resistance:\tOld = 4.2\tNew = 4.45");
  // the answer of the box (IDYES, IDNO or IDCANCEL).
  int AskToKeep(const std::vector<std::string>& changes);
  // One line of that question: label, old and new as printf gives them
  // with `format` ("%g").
  static std::string ChangeLine(const char* label, const char* format, double oldValue, double newValue);
  static std::string Format(const char* format, double value);

  // After the base OK of a test that ran with a protection current of its
  // own: when the dialog has really closed with OK, the drive's protection
  // level "Imax_Prot" follows "TestProtectionCurrent" (when both exist).
  void KeepTestProtectionCurrent();
  // The same for any pairs {test value, setup value}: when the dialog has
  // really closed with OK, each setup value the setup has follows its test
  // value (base units).
  void KeepTestValues(std::initializer_list<std::pair<const char*, const char*>> copies);

  // Opening a program's descriptor (its path by GetOutPathName, then read).
  void LoadProgram(CMC_CoffFormat& program, const char* programName);

  CMC_Setup& Setup() const { return *GetSetup(); }
};

// The running mean the tests form over logged points: the first point only
// initialises it; the k-th further point (k = 1, 2, ...) makes it
// ((k - 1) mean + x) / k. With two or more points it is the mean of all
// points but the first.
struct RunningMean {
  double mean = 0.0;
  long count = -1;  // further points taken; -1 before the first
  void Add(double x) {
    if (count < 0) {
      mean = x;
      count = 0;
      return;
    }
    ++count;
    mean = (static_cast<double>(count - 1) * mean + x) / static_cast<double>(count);
  }
  bool Empty() const { return count < 0; }
};

// A result a test may store: finite and above zero.
bool IsPositiveFinite(double value);

// Why the supply a test measures cannot be computed from the setup: the
// drive reports its supply as a fraction of "VdcMaxMeasurable", so that
// range must be above 0. Empty when it is; otherwise the message that names
// the value (a test that failed for it would otherwise blame the drive).
std::string SupplyRangeFault(const CMC_Setup& setup);

// A count the drive gave, as the 32-bit integer the drive holds: truncated
// toward zero and held to the int32 range (NaN: 0).
std::int32_t TruncateCount(double value);
