// The total mass test: identifies the total moving mass "Mt" (motor plus
// load).
//
// After the preliminary positioning, the drive program
// "Total_Mass_Identification_Test" pushes the motor with the test current as
// a constant force, under a speed limit and an over-current protection level
// of its own, and measures how many speed-loop periods the motor takes to
// gain a speed step. Newton's law gives the mass: force constant x current
// = mass x speed step / time. The mass is stored in "Mt" at once; on closing
// the user keeps it or gets the old value back.
#pragma once

#include "MyTestDlg.h"
#include "axcore/CoffFormat.h"

class CTotalMassTest : public CMyTestDlg {
 public:
  static constexpr int kResourceId = 3041;
  static constexpr int kHelpContext = 0x40111;

  explicit CTotalMassTest(CMC_Setup* setup, CMC_EditSetupDlg* parent = nullptr);

  bool OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void BeginTest() override;
  bool OnCommand(int id) override;
  void OnRunTimer() override;
  void OnHelp() override { OpenHelpAt(kHelpContext); }

 private:
  void LaunchMassProgram();
  void EvaluateMassRun();

  CMC_CoffFormat m_positioning;
  CMC_CoffFormat m_massProgram;
  double m_testCurrent = 0.0;  // "TestCurrent" in internal units, truncated at Start
  double m_refTest = 0.0;      // the positioning's answer, passed to the mass program
  double m_rIncTest = 0.0;
  double m_oldMass = 0.0;  // "Mt" as the dialog opened
  double m_newMass = 0.0;  // "Mt" as the setup holds it after a run
};
