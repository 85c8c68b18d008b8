// The current controller tuning test: the user chooses a passband, lets the
// design compute the PI gains of the current loop ("Tune"), adjusts them by
// hand and checks the loop's step response on the drive.
//
// After the preliminary positioning, the drive program
// "Current_Controller_Tuning_Test" applies a step of the test current along
// the flux axis (no force), under an over-current protection level of its
// own, and logs the current reference, the measured current and the voltage
// reference. The dialog draws them, and over them the response the loop
// should give on this drive (the held gains on an R-L winding with the
// setup's R and L, sampled at the current-loop period with one period of
// computation delay), with the step-response figures of both. Gains changed
// while a test runs go to the drive at once, so the next Start shows their
// response. Nothing is stored from the measurement: the result is the gains
// the user settles on.
#pragma once

#include "StepResponse.h"
#include "TuningTestDlg.h"
#include "axcore/CoffFormat.h"

class CTestCurrent : public CTuningTestDlg {
 public:
  static constexpr int kResourceId = 101;
  static constexpr int kHelpContext = 0x40108;

  explicit CTestCurrent(CMC_Setup* setup, CMC_EditSetupDlg* parent = nullptr);

  bool OnInitDialog() override;
  void OnOK() override;
  void DoDataExchange(bool save) override;
  void OnChangedParameterValue(const char* name) override;
  bool OnCommand(int id) override;
  void BeginTest() override;
  void OnRunTimer() override;
  void OnHelp() override { OpenHelpAt(kHelpContext); }

  // The figures of the last drawn run, measured and predicted (not valid
  // before a run has been drawn).
  const StepFigures& MeasuredFigures() const { return m_measured; }
  const StepFigures& PredictedFigures() const { return m_predicted; }
  // Logged samples after the step at which the voltage was held at its
  // limit (the loop was not linear there).
  int VoltageAtLimit() const { return m_voltageAtLimit; }

 protected:
  bool MayEnterTestPage() override;

 private:
  void Tune();
  void LaunchTuningProgram();
  void EvaluateRun();
  void DrawAndFinish();
  // The predicted response over the logged one, and the figures of both.
  void ShowStepResponse();

  CMC_CoffFormat m_positioning;
  CMC_CoffFormat m_program;
  double m_testCurrent = 0.0;  // "TestCurrent" in internal units, truncated at Start
  double m_refTest = 0.0;      // the positioning's answer, passed to the tuning program
  double m_rIncTest = 0.0;
  StepFigures m_measured;
  StepFigures m_predicted;
  int m_voltageAtLimit = 0;
};
