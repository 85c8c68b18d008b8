// Drive info: the identity and the ratings of the drive (name, product and
// firmware IDs, E2ROM size, supply ranges, currents, measurable voltage,
// analogue input range, temperature sensor) and the drive-side protections.
//
// The ratings and the identity describe the drive, not the application:
// they stay read-only until a service engineer unlocks them with
// Ctrl+Alt+Shift+E, and a second press locks them again. The application
// ID is always editable.
#pragma once

#include <string_view>

#include "MySetupDlg.h"

class CMC_Setup;

class CDriveInfo : public CMySetupDlg {
 public:
  explicit CDriveInfo(CMC_Setup* setup);

  void DoDataExchange(bool save) override;
  bool OnInitDialog() override;
  void OnOK() override;
  void OnKeyChord(std::string_view chord) override;

  bool OnCommand(int id) override;
  void OnHelp() override;

  // The service chord, as the dialogs receive it.
  static constexpr std::string_view kServiceChord = "ctrl+alt+shift+e";

 private:
  void BindControls();

  // Non-zero while the drive data can be edited.
  int m_editing = 0;
};
