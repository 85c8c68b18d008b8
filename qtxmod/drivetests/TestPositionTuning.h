// The position controller tuning test: the twin of the speed test on a
// position profile, with the position controller's gains (Kp, Ki, Kd and
// the derivative filter). The drive program closes the position loop
// around the drive's speed loop when "PositionControlType" is 1 as the
// dialog opens ("Position_Controller_Tuning_Test_with_SpdCtrl", the speeds
// logged beside the positions, the speed limited to "Limit_Speed"), and on
// the current loop directly otherwise ("..._without_SpdCtrl", the currents
// logged).
//
// A run limits the drive's current to the test's limit through "IlimPS";
// closing the dialog other than with OK gives "IlimPS" back the value it had
// when the dialog opened, and its registers with it.
#pragma once

#include "TuningTestRun.h"

class CTestPositionTuning : public CTuningTestRun {
 public:
  static constexpr int kResourceId = 103;
  static constexpr int kHelpContext = 0x40103;

  explicit CTestPositionTuning(CMC_Setup* setup, CMC_EditSetupDlg* parent = nullptr);

  void OnCancel() override;
  void OnHelp() override { OpenHelpAt(kHelpContext); }

  bool HasSpeedLoop() const { return m_withSpeedLoop; }

 protected:
  bool SetLimitInputs() override;
  bool SetInputsAfterProfile() override;
  void Tune() override;
  bool PredictLoop(int samples, SampledLoopResponse& loop, LoopTerms terms) const override;
  void ScopeTrigger(double amplitude, int referenceType, double& level, int& slope) const override;
  bool SecondPairIsSpeed() const override { return m_withSpeedLoop; }
  std::vector<int> GainControls() const override;
  void ExchangeTestControls() override;
  std::vector<const char*> RegistersOf(const char* name) const override;

 private:
  bool m_withSpeedLoop = false;
  double m_openingCurrentLimit = 0.0;  // "IlimPS" as the dialog opened, base units
  bool m_hadCurrentLimit = false;
};
