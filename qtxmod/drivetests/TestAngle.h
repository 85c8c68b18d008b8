// The electric angle controller tuning test: tunes the controller of the
// motionless start.
//
// The drive program "Angle_Controller_Tuning_Test" finds the electrical
// angle of the motor without moving it: it raises a current in steps of the
// current increment up to the test current and turns the current's angle,
// with the gains "Kp_T_scl" and "Ki_T_scl", so that the motor does not move.
// The dialog logs the motor current and the electrical angle, draws them and
// reports the program's verdict: the angle must settle within +/-1820 counts
// (10 electrical degrees) of its final value. Gains changed during a run go
// to the drive at once. There is no preliminary positioning.
#pragma once

#include "TuningTestDlg.h"
#include "axcore/CoffFormat.h"
#include "axcore/Setup.h"

class CTestAngle : public CTuningTestDlg {
 public:
  static constexpr int kResourceId = 3057;
  static constexpr int kHelpContext = 0x40112;

  explicit CTestAngle(CMC_Setup* setup, CMC_EditSetupDlg* parent = nullptr);

  bool OnInitDialog() override;
  void DoDataExchange(bool save) override;
  bool OnCommand(int id) override;
  void BeginTest() override;
  void OnRunTimer() override;
  void OnHelp() override { OpenHelpAt(kHelpContext); }

  // The logger's number of points and sampling, as the next run takes them.
  int Acquisitions() const;
  int Sampling() const;

 private:
  void SetUpLogger();
  void DrawAndJudge();
  void ShowDetails();

  CMC_CoffFormat m_program;
  // "AquisitionsNo" and "SamplingRate" when the setup lacks them.
  CMC_Setup m_ownParameters;
  CMC_Parameter* m_ownAcquisitions = nullptr;
  CMC_Parameter* m_ownSampling = nullptr;
  // The Details box offers the manual after the verdict that needs it.
  int m_helpOnDetails = 0;
};
