// The frequency response of a loop on the drive: the preliminary
// positioning, then the drive's frequency-response program runs the loop
// with the gains and filter slots the setup holds and adds a pseudo-random
// binary excitation at its controller's output (FrequencyResponse.h). The
// dialog shows the measured open loop and plant over the loop model's, the
// coherence, the margins read from the measurement beside the model's, and
// the plant's resonances above its rigid-body line. Opened from the speed
// and position tuning tests; the command line's `fra` runs it too.
//
// After a run of the speed loop that found a resonance, "Place notch" puts
// a notch on it in the setup (the next Start runs the loop with it).
//
// The band (from, to) and the amplitude are the user's, in the fields of
// the dialog; empty fields take the loop's defaults. Refused before the
// drive moves: a band the loop cannot measure, an amplitude that by the
// model would move the mover more than kTravel_m or ask more than the test
// current of the loops that drive the current.
#pragma once

#include <complex>
#include <vector>

#include "FrequencyResponse.h"
#include "LoopMargins.h"
#include "MeasuredLoop.h"
#include "MyTestDlg.h"
#include "axcore/Logger.h"

class CTestFrequencyResponse : public CMyTestDlg {
 public:
  static constexpr int kResourceId = 296;
  static constexpr int kHelpContext = 0x40114;
  // Controls.
  static constexpr int kLoopCombo = 3701;
  static constexpr int kFromEdit = 3703, kToEdit = 3705, kAmplitudeEdit = 3707, kAmplitudeUnit = 3708;
  static constexpr int kMagnitudePlot = 3720, kPhasePlot = 3721, kCoherencePlot = 3722;
  static constexpr int kFigures = 3725;
  static constexpr int kPlaceNotch = 3726;
  static constexpr double kTravel_m = kFrequencyResponseTravel_m;

  CTestFrequencyResponse(CMC_Setup* setup, TunedLoop loop = TunedLoop::Speed, CMC_EditSetupDlg* parent = nullptr);

  bool OnInitDialog() override;
  void OnSelChange(int id) override;
  bool OnCommand(int id) override;
  void BeginTest() override;
  void OnRunTimer() override;
  void OnHelp() override { OpenHelpAt(kHelpContext); }

  // Why a measurement of `loop` over the band with `amplitude` (the
  // loop's unit) cannot run on this setup; "" when it can, with the plan
  // and the amplitude in drive counts.
  static std::string CheckRequest(const CMC_Setup& setup, TunedLoop loop, double from_Hz, double to_Hz,
                                  double amplitude, ExcitationPlan& plan, double& amplitudeCounts);

  // What the last run measured, for the command line and the commissioning.
  TunedLoop GetLoop() const { return m_loop; }
  const MeasuredResponse& GetMeasured() const { return m_measured; }
  const LoopComparison& GetComparison() const { return m_comparison; }
  const std::vector<Resonance>& GetResonances() const { return m_resonances; }
  const std::vector<std::complex<double>>& GetModelOpenLoop() const { return m_modelOpen; }
  const std::vector<std::complex<double>>& GetModelPlant() const { return m_modelPlant; }
  const LoopExcitation& GetExcitation() const { return m_excitation; }

 private:
  void ShowDefaults();
  bool ReadInputs(double& from_Hz, double& to_Hz, double& amplitude);
  void LaunchMeasurement();
  void Evaluate();
  // "Place notch": a notch on the highest resonance in the setup's first
  // free filter (PlaceNotch), with the margins on the measured plant before
  // and after in the figures; Start measures the loop with it.
  void PlaceNotchOnResonance();

  TunedLoop m_loop;
  LoopExcitation m_excitation;
  ExcitationPlan m_plan;
  double m_amplitudeCounts = 0.0, m_from_Hz = 0.0, m_to_Hz = 0.0;
  double m_refTest = 0.0, m_rIncTest = 0.0;
  CMC_CoffFormat m_positioning, m_program;
  CMC_Logger m_logger;
  MeasuredResponse m_measured;
  LoopComparison m_comparison;
  std::vector<Resonance> m_resonances;
  std::vector<std::complex<double>> m_modelOpen, m_modelPlant;
};
