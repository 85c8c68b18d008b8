// Brushless Motor Setup: the linear motor's data (currents, pole pitch,
// force constant, resistance and inductance, moving mass, phase
// connection), its sine-cosine encoder and interpolation, the temperature
// sensor, the motor brake and the transmission to the load. It opens over
// the Drive Setup dialog, starts the motor and encoder tests, and carries
// the host's motor database.
#pragma once

#include "MySetupDlg.h"
#include "axcore/Setup.h"

class CMotorSetupDialog : public CMySetupDlg {
 public:
  explicit CMotorSetupDialog(CMC_Setup* setup);

  void DoDataExchange(bool save) override;
  bool OnInitDialog() override;
  void OnOK() override;
  void OnChangedParameterValue(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;

  bool OnCommand(int id) override;
  void OnHelp() override;

 private:
  void BindControls();
  void RebuildInterpolationList();
  void UpdateInterpolatedResolution();
  // What the encoder resolution test leaves behind: on OK the whole setup
  // is brought into step; on cancel only the counting direction the user
  // chose during the test (-1: none) is kept.
  void AfterResolutionTest(int result, int reverseCountingChoice);
  // A transmission term of 0 would make the ratio divide by zero.
  void KeepTransmissionNonZero(const char* name);

  // "ResolutionWithInterpolation": the position step the drive counts with,
  // shown beside the encoder period. It lives in a document of this
  // dialog's own, so it is never written into the setup.
  CMC_Setup m_ownParameters;
  CMC_Parameter* m_interpolatedResolution = nullptr;
};
