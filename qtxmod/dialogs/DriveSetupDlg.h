// Drive Setup, the plug-in's main dialog: supply and current limit, the
// gains of the current, speed and position controllers, control mode,
// external reference, protections, brake resistor, input polarities,
// software limit switches, start mode, axis ID and CAN settings. Every other
// dialog and test of the plug-in is reached from here.
#pragma once

#include "MySetupDlg.h"

class CMC_Setup;

class CDriveSetupDlg : public CMySetupDlg {
 public:
  // Brings the user parameters and their limits up from the drive's
  // registers, then binds the controls.
  explicit CDriveSetupDlg(CMC_Setup* setup);

  void DoDataExchange(bool save) override;
  bool OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void OnChangedParameterValue(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;

  bool OnCommand(int id) override;
  void OnSelChange(int id) override;
  void OnTimer(int id) override;
  void OnShowWindow(bool show) override;
  void OnHelp() override;

 private:
  void BindControls();
  // The Motor Setup dialog, opened by its button or once after the window
  // is first shown.
  void OpenMotorSetup(bool automatic);
  // The Advanced dialog; on OK the feedforward the new structure cannot use
  // is cleared.
  void OpenAdvanced();
  void WarnAboutStartCurrent();

  // Axis IDs 1 to 255 and "H/W"; not bound, this dialog fills and reads it.
  CComboBox m_axisIdCombo;
};
