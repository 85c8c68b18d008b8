// External Reference Setup: where the drive's reference comes from when it
// follows an external one, and how it is scaled. An analogue input is
// scaled between a minimum and a maximum of position, speed or current (by
// the control mode), with a dead band and an optional input filter; in
// position mode a digital reference (pulse and direction, or an incremental
// encoder) may be followed instead, through a gear ratio. The speed or
// acceleration of the followed reference can be limited.
#pragma once

#include "MySetupDlg.h"

class CMC_Setup;

class CAnalogReferenceDlg : public CMySetupDlg {
 public:
  // Binds the controls the control mode and the drive's analogue input
  // call for, as the setup stands when the dialog is built.
  explicit CAnalogReferenceDlg(CMC_Setup* setup);

  void DoDataExchange(bool save) override;
  bool OnInitDialog() override;
  void OnChangedParameterValue(const char* name) override;
  void OnChangedParameterUnit(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;

  bool OnCommand(int id) override;
  void OnHelp() override;

 private:
  void BindControls();
  // Check 3116's text: the digital reference of a position axis limits its
  // acceleration, everything else its speed or acceleration by the mode.
  void SetLimitCheckText();
};
