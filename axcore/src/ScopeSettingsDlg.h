// The host's dialog of a scope's settings (CMC_ScopeLogger::EditSettings):
// a dialog of the host's own, its template built here for the scope's
// channels, its fields bound to values of its own that are written to the
// scope only when the user presses OK.
#pragma once

#include "axcore/EditSetupDlg.h"
#include "axcore/ScopeLogger.h"
#include "axcore/Setup.h"

namespace axcore {

// The values the dialog edits, made before the dialog base that shows them.
struct ScopeSettingsValues {
  CMC_Setup values;
};

class ScopeSettingsDlg : private ScopeSettingsValues, public CMC_EditSetupDlg {
 public:
  ScopeSettingsDlg(CMC_ScopeLogger& scope, CMC_EditSetupDlg* parent);

  bool OnInitDialog() override;
  void DoDataExchange(bool save) override;
  void OnChangedParameterValue(const char* name) override;
  void OnChangedParameterUnit(const char* name) override;
  void OnOK() override;

 private:
  int Channels() const;
  // The unit of channel `channel`'s column (its base unit).
  std::string ColumnUnit(int channel) const;
  // The level takes the base unit of the trigger channel chosen.
  void FollowTriggerChannel();
  // Shows channel `channel`'s offset in the unit of its scale.
  void FollowScaleUnit(int channel);
  // Writes the values to the scope; false with the reason.
  bool Apply(std::string& why);

  CMC_ScopeLogger& m_scope;
};

}  // namespace axcore
