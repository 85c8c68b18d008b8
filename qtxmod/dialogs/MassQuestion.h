// The motor mass question: the speed and position tuning tests ask it at
// their start when the total mass set is below the motor's own mass, which
// cannot be (the load only adds to the moving mass).
#pragma once

#include "MySetupDlg.h"

class CMassQuestion : public CMySetupDlg {
 public:
  // 1: raise the total mass to the motor mass (the default); 2: leave the
  // total mass and mark the motor mass as unknown.
  enum Choice { kIncreaseTotalMass = 1, kDisregardMotorMass = 2 };

  explicit CMassQuestion(CMC_Setup* setup);

  void DoDataExchange(bool save) override;
  bool OnInitDialog() override;
  void OnOK() override;
  bool OnCommand(int id) override;

  int GetSelection() const { return m_selection; }

 private:
  int m_selection = kIncreaseTotalMass;
};
