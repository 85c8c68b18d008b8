// The host's base of every drive test dialog: a setup dialog with a Start /
// Stop button that runs the test's programs on the drive.
//
// Standard controls of a test dialog template: Start/Stop 10000, status text
// 10001, result text 10002, Details 10003, result icon 10004, Help 10024,
// Close 2. The base drives them:
// - Start (10000) while no test runs calls OnBtnStartStop, which calls the
//   test's BeginTest. While a test runs the button reads "Stop": with the
//   multi-cycle flag set, Stop only sets the stop request and the test ends
//   itself at its next timer message; otherwise the run stops at once (timer
//   1 killed, the drive's program stopped and its power stage turned off)
//   and the result says so.
// - SetInfoText shows a status text in 10001 and advances the step counter.
// - TestSucceeded / TestFailed end a run: the running flag is cleared, timer
//   1 killed, the result text and icon set; after a failure Details shows the
//   error text.
// - Close while a test runs stops it first, as Stop does.
//
// The drive operations (ExecuteCode, the user variables, GetAxisOn) are the
// host's (TestPrograms.h) with their failure text left in the error text
// where the caller gives one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "axcore/EditSetupDlg.h"

class CMC_CoffFormat;
class CMC_Logger;

// The system's text of the last failure of a window operation (a timer that
// could not be set); "" when none failed.
std::string GetLastErrorText();

class CMC_TestDlg : public CMC_EditSetupDlg {
 public:
  // Control ids of the standard controls.
  static constexpr int kStartStop = 10000;
  static constexpr int kStatusText = 10001;
  static constexpr int kResultText = 10002;
  static constexpr int kDetails = 10003;
  static constexpr int kResultIcon = 10004;

  // What the host tells when a program cannot be run or does not deliver.
  static const char* const msc_pszErrInternal;
  // What the host tells when the preliminary positioning found no current.
  static const char* const msc_pszErrInZero;

  CMC_TestDlg(CMC_Setup* setup, int resourceId, int flag, CMC_EditSetupDlg* parent = nullptr);
  ~CMC_TestDlg() override;

  bool OnInitDialog() override;
  bool OnCommand(int id) override;
  void OnCancel() override;

  // Starts a run; called by OnBtnStartStop when no test runs. The base does
  // nothing.
  virtual void BeginTest();
  // The Start/Stop button: starts a test when none runs, else stops it (or,
  // with the multi-cycle flag, asks it to stop).
  void OnBtnStartStop();

  // The descriptor file of a compiled test program, by name.
  std::string GetOutPathName(const std::string& programName) const;

  // Downloads the setup's registers and starts `programName` (with its
  // descriptor `program`, or null), with `logger` recording when given. 0
  // when the drive refused a register or the program (the reason in
  // CMC_Comm::GetLastErrorText). The progress callback and its
  // context are accepted for the modules that pass them (always null here).
  int ExecuteCode(const char* programName, CMC_CoffFormat* program, CMC_Logger* logger, void* callback = nullptr,
                  void* context = nullptr);
  int SetUserVariableValue(const CMC_CoffFormat& program, const char* name, double value, std::string& error);
  int GetUserVariableValue(const CMC_CoffFormat& program, const char* name, double& value, std::string& error);
  // Non-zero on success; `on` non-zero while the power stage is on. On
  // failure the reason is in the error text.
  int GetAxisOn(int& on);

  void SetInfoText(const char* text);
  void TestSucceeded(int flag);
  void TestFailed(int flag);

  // --- state of a run (read by scripts, views and the command line)
  bool IsTestRunning() const { return m_bTestRunning != 0; }
  int GetTestResult() const { return m_nTestResult; }
  const std::string& GetErrorText() const { return m_strErrorText; }
  std::uint16_t GetStep() const { return m_wStep; }
  std::uint16_t GetLastStep() const { return m_wLastStep; }

  // Whether any test dialog runs a test now ("until-idle" of scripts).
  static bool AnyTestRunning();

  // What a command-line run shows of a test: each status text as it appears
  // and the end of each run. One observer at a time; none by default.
  struct Observer {
    std::function<void(const CMC_TestDlg&, const std::string& text)> infoText;
    std::function<void(const CMC_TestDlg&)> ended;
  };
  static void SetObserver(Observer observer);

 protected:
  bool SetTimer(int id, int ms);
  using CMC_EditSetupDlg::KillTimer;

  // The members a test reads and writes; the host clears the running flag
  // when a run ends or is stopped.
  int m_bTestRunning = 0;
  int m_nTestResult = -1;
  int m_bMultiCycle = 0;
  int m_bStopRequest = 0;
  std::uint16_t m_wLastStep = 0;
  std::uint16_t m_wStep = 0;
  std::string m_strErrorText;

 private:
  void ShowRunState();
  void EndRun();
  void StopByUser();
  bool m_stoppedByUser = false;
};
