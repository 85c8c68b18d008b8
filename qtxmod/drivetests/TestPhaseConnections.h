// Checks that the three motor phases are connected to the drive and
// balanced. After the preliminary positioning the drive holds the test
// current along phase A and measures the currents of phases A and B: a
// sound winding carries the test current in A and minus half of it in B.
// Changes no setup value.
#pragma once

#include "MyTestDlg.h"
#include "axcore/TestPlots.h"

class CTestPhaseConnections : public CMyTestDlg {
 public:
  static constexpr int kResourceId = 288;
  static constexpr int kHelpContext = 0x4010B;

  explicit CTestPhaseConnections(CMC_Setup* setup, CMC_EditSetupDlg* parent = nullptr);

  bool OnInitDialog() override;
  void DoDataExchange(bool save) override;
  void OnChangedParameterValue(const char* name) override;
  void BeginTest() override;
  void OnRunTimer() override;
  void OnHelp() override { OpenHelpAt(kHelpContext); }

  // Whether phase currents IA and IB (A) answer a sound connection driven
  // with the test current `itest` (A): A carries 0.6 to 1.4 times the test
  // current, B flows back with 1/2.5 to 1/1.5 of it (all bounds strict).
  static bool CurrentsSound(double ia, double ib, double itest);

 private:
  // The integer test current in amperes.
  double TestCurrentAmperes() const;
  void TakeTestCurrent();
  // Bars at +-1.5 times the test current, showing IA and IB.
  void ShowBars();
  void LaunchMainProgram();
  void Evaluate();

  CMC_CoffFormat m_positioning;
  CMC_CoffFormat m_program;
  CBarGraph m_barA;
  CBarGraph m_barB;
  double m_ia = 0.0;
  double m_ib = 0.0;
  long m_testCurrent = 0;  // "TestCurrent" in converter counts, truncated
  double m_refTest = 0.0;
  double m_rIncTest = 0.0;
};
