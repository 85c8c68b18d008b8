// Finds the encoder period and checks the counting direction. After the
// preliminary positioning the drive turns the field through one pole pair,
// so the motor travels one pole pitch, and counts the encoder lines on the
// way; the period is the pole pitch over that count. A count that is not
// positive means the encoder counts against the field or the motor did not
// move.
//
// The period found is a candidate of the dialog's own; the setup's
// "EncRes" changes only when the user accepts it on closing. The counting
// direction ("ReverseCounting", check 3357) is the setup's own and goes to
// the drive for the run.
#pragma once

#include "MyTestDlg.h"
#include "axcore/Setup.h"
#include "axcore/TestPlots.h"

class CDetectEncoderResolution : public CMyTestDlg {
 public:
  static constexpr int kResourceId = 292;
  static constexpr int kHelpContext = 0x4010E;

  explicit CDetectEncoderResolution(CMC_Setup* setup, CMC_EditSetupDlg* parent = nullptr);

  bool OnInitDialog() override;
  bool OnCommand(int id) override;
  void OnCancel() override;
  void BeginTest() override;
  void OnRunTimer() override;
  void OnHelp() override { OpenHelpAt(kHelpContext); }

  // The counting direction the user chose in this dialog ("ReverseCounting"
  // 0 or 1), -1 when the user did not touch it.
  int GetReverseCountingChoice() const { return m_nReverseCounting; }
  // The encoder period the last run found ("EncRes" of the dialog's own).
  const CMC_Parameter& Candidate() const { return *m_candidate; }
  const CLinearEncoderDiagram& EncoderDiagram() const { return m_encoder; }
  const CPhaseDiagram& PhaseDiagram() const { return m_phase; }

 private:
  // The setup's counting direction into "COUNTINGDIR" and the drive; false
  // (the test failed) when the drive refuses it.
  bool SendCountingDirection();
  void TakePositioning();
  void FollowMotion();
  void Evaluate();
  // Encoder lines counted since the turn began, whole lines; false when
  // the test failed.
  bool ReadLineCount(double& lines);

  CMC_Setup m_ownParameters;
  CMC_Parameter* m_candidate = nullptr;
  CLinearEncoderDiagram m_encoder;
  CPhaseDiagram m_phase;
  CMC_CoffFormat m_positioning;
  CMC_CoffFormat m_program;
  int m_nReverseCounting = -1;
  int m_sentCountingDir = -1;  // what the drive was last given this run
};
