// Measures the drive's DC supply voltage and offers it as "Vdc". The drive
// program samples the supply with its converter; the dialog scales the
// reading to volts.
#pragma once

#include "MyTestDlg.h"

class CTestVdcDetection : public CMyTestDlg {
 public:
  static constexpr int kResourceId = 105;
  static constexpr int kHelpContext = 0x40105;

  explicit CTestVdcDetection(CMC_Setup* setup, CMC_EditSetupDlg* parent = nullptr);

  bool OnInitDialog() override;
  void OnCancel() override;
  void BeginTest() override;
  void OnRunTimer() override;
  void OnHelp() override { OpenHelpAt(kHelpContext); }

 private:
  CMC_CoffFormat m_program;
  double m_oldVdc = 0.0;
};
