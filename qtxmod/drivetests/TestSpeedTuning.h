// The speed controller tuning test: the user sets the test's current limits
// and a speed profile, checks or identifies the total moving mass, chooses a
// passband and lets the design compute the PI gains of the speed loop
// ("Tune"), then watches the drive's own speed loop follow the profile:
// speed reference and load speed, current reference and motor current.
// Gains changed while the test runs go to the drive at once.
#pragma once

#include "TuningTestRun.h"

class CTestSpeedTuning : public CTuningTestRun {
 public:
  static constexpr int kResourceId = 102;
  static constexpr int kHelpContext = 0x40102;

  explicit CTestSpeedTuning(CMC_Setup* setup, CMC_EditSetupDlg* parent = nullptr);

  void OnHelp() override { OpenHelpAt(kHelpContext); }

 protected:
  bool SetLimitInputs() override;
  void Tune() override;
  bool PredictLoop(int samples, SampledLoopResponse& loop, LoopTerms terms) const override;
  void ScopeTrigger(double amplitude, int referenceType, double& level, int& slope) const override;
  std::vector<int> GainControls() const override;
  void ExchangeTestControls() override;
  std::vector<const char*> RegistersOf(const char* name) const override;
  bool EncodesOnChange(const char* name) const override;
};
