// The analogue reference test: shows, live, the voltage at the drive's
// analogue reference input and the command it stands for with the present
// reference settings (a position, a speed or a current, by control mode).
//
// The drive program "Analogue_Reference_Test" keeps the converter's reading
// of the input in "AD5"; the dialog reads it every 20 ms and draws two bars
// until the user presses Stop, which ends the test in success. Nothing in
// the setup changes.
#pragma once

#include <string>

#include "MyTestDlg.h"
#include "axcore/TestPlots.h"

class CTestAnalogueRef : public CMyTestDlg {
 public:
  static constexpr int kResourceId = 104;
  static constexpr int kHelpContext = 0x40104;

  explicit CTestAnalogueRef(CMC_Setup* setup, CMC_EditSetupDlg* parent = nullptr);

  bool OnInitDialog() override;
  void BeginTest() override;
  void OnRunTimer() override;
  void OnHelp() override { OpenHelpAt(kHelpContext); }

 private:
  void ShowReading(double reading);

  CBarGraph m_inputBar;
  CBarGraph m_commandBar;
  double m_inputLow = 0.0, m_inputHigh = 0.0;     // the input's span, V
  double m_commandMin = 0.0, m_commandMax = 0.0;  // the command at the ends of the span, in its shown unit
  std::string m_commandLabel;
  std::string m_commandUnit;
};
