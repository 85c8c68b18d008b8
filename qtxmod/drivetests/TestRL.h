// Identifies the total resistance and inductance of the motor and its
// connection, per phase, into "R" and "L".
//
// The resistance comes from two steady runs at the test current and at half
// of it, each after its own preliminary positioning: the difference of the
// held voltages over the difference of the currents cancels the bridge's
// constant voltage drop. The second run also measures the supply, which the
// voltage scale needs; "Vdc" holds the measured value while the dialog is
// open. The inductance comes from a voltage vector turning at a known
// frequency: in the turning frame the current's part lagging the voltage by
// 90 degrees over its squared magnitude is omega L / |V|.
#pragma once

#include <memory>

#include "MyTestDlg.h"

class CTestRL : public CMyTestDlg {
 public:
  static constexpr int kResourceId = 290;
  static constexpr int kHelpContext = 0x4010C;

  explicit CTestRL(CMC_Setup* setup, CMC_EditSetupDlg* parent = nullptr);
  ~CTestRL() override;

  bool OnInitDialog() override;
  void OnCancel() override;
  void BeginTest() override;
  void OnRunTimer() override;
  void OnHelp() override { OpenHelpAt(kHelpContext); }

 private:
  void EmptyResults();
  // The launches of the chain; each shows its status text and sets the
  // timer, or fails the test.
  void LaunchResistanceRun(long current, int logType);
  void LaunchInductanceRun();
  // The running mean of logged column `column` of the last run; false (the
  // internal error) when the upload fails or the log is empty.
  bool LoggedMean(int column, double& mean);
  // The results of the runs, each false when the test has failed.
  bool TakeFirstResistanceRun();
  bool TakeSecondResistanceRun();
  bool TakeInductanceRun();
  // The internal error for a value that cannot be a result.
  bool Plausible(double value);
  void RestoreVdc();

  CMC_CoffFormat m_positioning;
  CMC_CoffFormat m_resistance;
  CMC_CoffFormat m_inductance;
  std::unique_ptr<CMC_SingleAxisLogger> m_logger;
  // The values the dialog opened with ("Vdc" comes back on closing).
  bool m_opened = false;
  double m_oldVdc = 0.0, m_oldR = 0.0, m_oldL = 0.0;
  // A run of this dialog stored "R" and "L".
  bool m_stored = false;
  double m_v1 = 0.0, m_i1 = 0.0, m_v2 = 0.0, m_i2 = 0.0;
  double m_r = 0.0, m_l = 0.0;
  long m_testCurrent = 0;  // "TestCurrent" in converter counts, truncated
  double m_refTest = 0.0, m_rIncTest = 0.0;
};
