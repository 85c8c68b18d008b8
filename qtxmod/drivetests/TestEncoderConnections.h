// Checks that the sine-cosine encoder's signals reach the drive. The drive
// program leaves the power stage off so that the user can push the motor by
// hand; the dialog shows the drive's position counter live until the user
// stops the test, which passes when the counter ever moved by more than 2
// counts either way since Start.
#pragma once

#include <cstdint>

#include "MyTestDlg.h"
#include "axcore/TestPlots.h"

class CTestEncoderConnections : public CMyTestDlg {
 public:
  static constexpr int kResourceId = 291;
  static constexpr int kHelpContext = 0x4010D;

  explicit CTestEncoderConnections(CMC_Setup* setup, CMC_EditSetupDlg* parent = nullptr);

  bool OnInitDialog() override;
  // Start/Stop: Stop ends the drive program and gives the verdict.
  bool OnCommand(int id) override;
  // Nothing is identified here: Enter does not close the dialog.
  void OnOK() override {}
  void BeginTest() override;
  void OnRunTimer() override;
  void OnHelp() override { OpenHelpAt(kHelpContext); }

  const CLinearEncoderDiagram& EncoderDiagram() const { return m_encoder; }
  const CPhaseDiagram& PhaseDiagram() const { return m_phase; }

 private:
  void StopTest();

  CLinearEncoderDiagram m_encoder;
  CPhaseDiagram m_phase;
  std::int32_t m_lastPosition = 0;
  int m_bPulsesDetected = 0;
};
