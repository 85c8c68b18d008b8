// The user `axhost commission` puts in front of the dialogs: it walks the
// steps of a new axis one after the other through Drive Setup and Motor
// Setup, opens each test from its button, runs it, answers Yes to keep what
// an identification found, and decides each loop's passband from what the
// steps before it identified and measured. It acts only as a user does:
// script lines on the topmost dialog, handed out whenever the ones before
// are done (axcore::ScriptFeed), and it reads the setup and the dialogs'
// results between them.
#pragma once

#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "CommissionRecord.h"
#include "MeasuredLoop.h"
#include "PassbandChoice.h"
#include "axcore/EditSetupDlg.h"
#include "axcore/HeadlessPlatform.h"
#include "axcore/Setup.h"

class CMC_TestDlg;

namespace axhost {

class CommissioningUser {
 public:
  // Reports each step's line as the step ends (after `index` of `count`).
  using StepReporter = std::function<void(const StepRecord& step, int index, int count)>;

  CommissioningUser(CMC_Setup& setup, CommissionRecord& record, StepReporter report);

  // The next actions for the topmost dialog (the feed of the scripted user).
  std::string Next(CMC_EditSetupDlg& top);
  // The end of a test run (the test dialogs' observer).
  void TestEnded(const CMC_TestDlg& test);
  // The run broke off in the middle of a step (a test that never ended, a
  // dialog the user could not work): that step fails with `why`. False when
  // no step was under way.
  bool BreakOff(const std::string& why);
  // A message box the run showed: kept as a warning of the step.
  void Message(const std::string& text);
  // The checks before each test that moves the motor (PreTestChecks) work
  // with the drive's measurement of its supply, when there is one; what
  // they find is kept as a warning of the step and told to `warn`.
  void SetMeasuredSupply(std::optional<double> volts) { m_measuredSupply_V = volts; }
  void SetWarningReporter(std::function<void(const std::string&)> warn) { m_warn = std::move(warn); }

  // The setup as it was before the step that failed; null when none failed.
  // Takes a picture of each test at the end of its run ("screenshot KEY"):
  // only a view that draws can.
  void SetPictures(bool pictures) { m_pictures = pictures; }
  // The margins each loop's passband is chosen to keep, and their name.
  void SetMarginBounds(const std::string& name, const MarginBounds& bounds) {
    m_marginSet = name;
    m_bounds = bounds;
  }
  // Where stale answers are dropped between steps.
  void SetUser(axcore::ScriptedUser* user) { m_user = user; }

  const CMC_Setup* SetupBeforeFailure() const { return m_failed ? m_before.get() : nullptr; }
  // Every step passed or was skipped.
  bool Finished() const;
  static int StepCount();

 private:
  std::string Decide(CMC_EditSetupDlg& top);
  enum class Phase { Open, OpenInner, Run, Page0, Page1, Judge, Restore, Closing };
  std::string OpenStep(CMC_EditSetupDlg& top);
  std::string Refusal() const;
  std::string RunScript(const CMC_EditSetupDlg& top);
  std::string ProfileScript(CMC_EditSetupDlg& test);
  std::string StartScript(CMC_EditSetupDlg& test);
  void CheckBeforeStart();
  double CurrentStep();
  double WithinCurrentLimit(double amplitude, bool speed);
  std::string Judge(CMC_EditSetupDlg& test);
  void EndStep();
  void Fail(const std::string& detail);
  void Skip(const std::string& why);
  // False, with the reason in the step's detail, when no passband will do.
  bool ChoosePassbandFor(TunedLoop loop);
  void NoteFilterCosts(TunedLoop loop, PassbandRecord& record);
  void MeasureResponse(CMC_EditSetupDlg& test);
  // The speed loop's measured frequency response: a notch on its highest
  // resonance, a low-pass filter on the current reference that guards
  // against nothing found dropped, the speed loop retuned by its margins on
  // the measured plant. False (the step failed) when no passband keeps them.
  bool ActOnFrequencyResponse();
  // The passband of the speed loop with the highest crossover whose margins
  // on the measured plant and in the model keep the bounds, designed into
  // `setup`'s gains; false when none does.
  bool RetuneOnMeasuredPlant(CMC_Setup& setup, std::string& line);
  void MeasureProfileRun(CMC_EditSetupDlg& test);
  void TakePlots(const CMC_EditSetupDlg& test);
  void TakeTestPlots(const CMC_EditSetupDlg& test);

  CMC_Setup& m_setup;
  axcore::ScriptedUser* m_user = nullptr;
  int m_inner = 0;
  const CMC_EditSetupDlg* m_lastTop = nullptr;  // the dialog the last actions were for
  std::string m_lastActions;
  bool m_tabbed = false;
  bool m_pictures = false;
  bool m_pictured = false;  // this step's test has had its picture  // the outer dialog shows the page of the inner test's button  // the dialog a step opens its test from, when not its parent
  CommissionRecord& m_record;
  StepReporter m_report;
  std::size_t m_step = 0;
  Phase m_phase = Phase::Open;
  bool m_started = false;
  bool m_failed = false;
  std::unique_ptr<CMC_Setup> m_before;  // the setup as the step found it
  StepRecord m_current;
  int m_runs = 0;                       // runs ended in this step
  int m_lastResult = -1;
  std::string m_lastError;
  std::string m_lastMessage;
  double m_stepStart_s = 0.0;
  std::optional<PlotRecord> m_bode;
  // What the frequency response dialog measured, until the step acts on it.
  struct MeasuredSpeedLoop {
    MeasuredResponse measured;
    std::vector<std::complex<double>> modelPlant;
    std::vector<Resonance> resonances;
    LoopComparison comparison;
    std::string figures;
  };
  std::optional<MeasuredSpeedLoop> m_response;
  bool m_remeasuring = false;  // the loop is measured again after the notch  // the chosen loop's open loop, for the report
  std::string m_marginSet = "standard";
  MarginBounds m_bounds;
  double m_currentSlope_per_s = 0.0;  // the chosen current loop's steepest unit-step slope
  // The friction the speed profile measured, dry and viscous, for the
  // position profile's model; NaN before it ran.
  double m_dryFriction_N = std::numeric_limits<double>::quiet_NaN();
  double m_viscousFriction_N_s_per_m = std::numeric_limits<double>::quiet_NaN();
  std::optional<double> m_measuredSupply_V;
  std::function<void(const std::string&)> m_warn;
};

}  // namespace axhost
