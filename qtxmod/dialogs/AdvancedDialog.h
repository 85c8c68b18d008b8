// Advanced: the control structure and the timing of the drive. Whether the
// position loop closes a speed loop, where position and speed control run,
// the speed estimator, where the speed feedforward acts, the freeze control,
// and the PWM frequency with the two loop dividers that give the current-
// loop period Ts_C and the speed- and position-loop period Ts_S.
//
// A change of the PWM frequency keeps both periods as near as the new PWM
// period allows; a change of the slow period keeps every time, speed and
// acceleration of the setup physically where it was. OK is refused while a
// period is below the drive's minimum.
#pragma once

#include "MySetupDlg.h"

class CMC_Setup;

class CAdvancedDialog : public CMySetupDlg {
 public:
  explicit CAdvancedDialog(CMC_Setup* setup);

  void DoDataExchange(bool save) override;
  bool OnInitDialog() override;
  void OnOK() override;
  void OnChangedParameterValue(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;

  bool OnCommand(int id) override;
  void OnHelp() override;

 private:
  void BindControls();
  void ApplyFeedforwardRule();
  // Red labels and "OUTSIDE LIMITS ->" beside a period below its minimum.
  void ShowPeriodWarnings();

  // The periods the user set, which a change of the PWM frequency keeps.
  double m_fastPeriod_s = 0.0;
  double m_slowPeriod_s = 0.0;
  // The slow period the setup's time-based values were last kept for.
  double m_referenceSlowPeriod_s = 0.0;
};
