// The run the speed and position tuning tests share: the preliminary
// positioning, then the tuning program following a reference profile of six
// segments (ReferenceProfile.h) on the drive's own loops, shown in one of
// three ways:
//
// - the data logger: the drive records, the host uploads at the end (of the
//   single cycle, or when the user stops repeated cycles) and draws it;
// - the scope: the drive streams its channels in frames while the program
//   runs (unsolicited messages), the host draws each sweep as it comes;
// - the polling plot (no scope on this host, repeated cycles only): the
//   host reads the reference and the response as fast as it can and rolls
//   them through a plot, with their values beside it.
//
// Steps of a run: 0 and 1 positioning started and running, 2 waiting for
// it, 3 starting the tuning program, 4 running, 5 uploading the data logger.
// With "StartMode" non-zero the positioning is skipped and a run starts at
// step 2. Timer 1 is one-shot: 20 ms while waiting, 1 ms per pass of the
// scope or polling display; each pass also lets the user act (Stop, Pause,
// gain changes that go to the drive at once), and a failure in a pass ends
// the run for good.
//
// Around the run, the dialog of each test: the test current limits and the
// profile on the "Test Parameters" page; the gains, "Tune", the total mass
// with "Identify" and "Mload / M", the passband, "Filters" and the plots on
// the "Test" page; the scope's menu and settings, kept in a setup option.
#pragma once

#include <cstdint>
#include <memory>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "LoopResponse.h"
#include "ReferenceProfile.h"
#include "TuningTestDlg.h"
#include "axcore/Comm.h"
#include "axcore/CoffFormat.h"
#include "axcore/GraphWindow.h"
#include "axcore/Oscilloscope.h"
#include "axcore/ScopeLogger.h"

// The scope's scale per division for a value `span` that should fit in one
// division: 10^k with k = ceil(log10(span)) (k = 0 when span <= 0), then the
// first of 10^k/5, 10^k/2, 10^k that is not below the span.
double ScopeScalePerDivision(double span);

// The preliminary positioning's current of the speed and position tests
// (and the frequency response): "TestStartCurrent" per cent of the smaller
// of the motor's and the drive's nominal current, in converter counts, at
// most the drive's peak current (half the converter's full scale);
// `limited` when the peak held it.
double TuningPositioningCurrent(const CMC_Setup& setup, bool& limited);

// Control ids from ranges, both ends included: {{1335, 1338}, {1345, 1345}}.
std::vector<int> ControlIds(std::initializer_list<std::pair<int, int>> ranges);

// The names and controls that make a run a speed or a position test.
struct TuningRunNames {
  ProfileTest test;
  const char* displaySwitch;  // "OnlinePlotS": 0 data logger, 1 on-line
  const char* multiCycle;     // "MultiCycleS"
  const char* referenceType;  // "SpeedTestReferenceType"
  const char* amplitude;      // "TestSpeed"
  int amplitudeControls[2];   // its value field and unit box
  double (*amplitudeScale)(const CMC_Setup& setup);  // internal units per base unit
  // First ramp, first plateau, second ramp, second plateau.
  const char* times[4];
  const char* polled[2];  // reference and response read by the polling plot
  int readouts[4];        // label and value of each polled variable
  const char* plotName;   // "SpeedTuning": saved plots and scope files
  const char* scopeOption;
  const char* currentLimitsImage;
  int identify;  // the "Identify" button
  const char* procedure;
};

class CTuningTestRun : public CTuningTestDlg {
 public:
  static constexpr int kLogger = 1368;
  static constexpr int kOnline = 1369;
  static constexpr int kTune = 1390;
  static constexpr int kFilters = 3510;
  static constexpr int kFrequencyResponse = 3515;
  static constexpr int kScopeGraph = 1362;
  static constexpr int kPause = 10016;
  static constexpr int kContinue = 10017;
  static constexpr int kSwatches[2] = {3331, 3332};
  static constexpr int kCurrentLimitsPicture = 1305;
  static constexpr int kProfilePicture = 1322;
  static constexpr int kFigures = 1391;
  // The scope menu's commands (submenu 0 of the host's menu 101).
  enum ScopeCommand {
    kScopeEdit = 10062,
    kScopeDefaults = 10063,
    kScopeAutoscale = 10064,
    kScopeLoad = 10065,
    kScopeSave = 10066,
    kScopeSavePlots = 10067,
    kScopePicture = 10068,
    kScopeData = 10069,
  };

  ~CTuningTestRun() override;

  bool OnInitDialog() override;
  void DoDataExchange(bool save) override;
  void OnChangedParameterValue(const char* name) override;
  void OnChangedParameterUnit(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;
  bool OnCommand(int id) override;
  void OnOK() override;
  void BeginTest() override;
  void OnRunTimer() override;
  void OnTabChange(int id) override;
  bool OnContextMenu(int id) override;
  void OnControlMessage(int id, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

  // For the views, scripts and tests.
  const CMC_ScopeLogger* GetScopeLogger() const { return m_scope.get(); }
  const CMC_Oscilloscope& GetPollingPlot() const { return m_plot; }
  const ReferenceProfile& GetProfile() const { return m_profile; }
  bool HasCustomScopeSettings() const { return m_customScope; }
  bool IsPaused() const { return m_paused; }
  const char* GetProgramName() const { return m_programName; }
  // The test-flag check: "test_flag" of the tuning program read and judged
  // (unreadable: the link's text; 1.2345e100: the internal error; 0 or
  // below: the current protection). True when it passed; a failing check
  // (fail non-zero) that did not pass fails the test.
  bool CheckTestFlag(int fail);

 protected:
  CTuningTestRun(CMC_Setup* setup, int resourceId, const TuningRunNames& names, CMC_EditSetupDlg* parent);

  // The program of the test and the four logged channels: reference and
  // response first, then the pair on the second axis.
  void SetProgram(const char* name, std::vector<const char*> channels);
  // Step 3, after "RefTest" and "RIncTest": the test's current limit
  // inputs (and whatever the program needs before the profile); after the
  // profile and "MultiC": what comes last. False when the test has failed.
  virtual bool SetLimitInputs() = 0;
  virtual bool SetInputsAfterProfile() { return true; }
  // "Tune": the design, its registers and their decoded gains; then
  // ShowTunedLoop.
  virtual void Tune() = 0;
  // The step of the test's loop as the drive runs it, over `samples` ticks.
  virtual bool PredictLoop(int samples, SampledLoopResponse& loop, LoopTerms terms) const = 0;
  // Tells in the status line how the tuned loop will answer a step on the
  // drive, or that it will not be stable.
  void ShowTunedLoop(TunedLoop loop);
  // The scope's trigger for the profile: level (base unit of the trigger
  // channel, the first one) and slope.
  virtual void ScopeTrigger(double amplitude, int referenceType, double& level, int& slope) const = 0;
  // The second pair of channels: the speeds of the profile (true) or the
  // currents (false).
  virtual bool SecondPairIsSpeed() const { return false; }
  // The gain controls that stay usable while an on-line test runs.
  virtual std::vector<int> GainControls() const = 0;
  // The control states the test adds to the shared ones (no test running:
  // !IsTestRunning()).
  virtual void ExchangeTestControls() {}
  // The registers a refreshed parameter sends to the drive while a test
  // runs; empty for none. The gains of SetTunedGains are sent already.
  virtual std::vector<const char*> RegistersOf(const char* /*name*/) const { return {}; }
  // Whether a change of `name` encodes RegistersOf(name) (all do unless
  // the test says otherwise).
  virtual bool EncodesOnChange(const char* name) const { return name != nullptr; }
  // Parameter value, quiet, base unit (0 when absent).
  double Value(const char* name) const;
  bool Has(const char* name) const;
  const TuningRunNames& Names() const { return m_names; }
  // Sets program input `input` to current parameter `name` in converter
  // counts, as the program takes it: truncated to a signed 16-bit count.
  bool WriteCurrentInput(const char* input, const char* name);
  CMC_CoffFormat& Program() { return m_program; }
  // Encodes the registers listed, in order.
  void Encode(const std::vector<const char*>& registers);
  bool MayEnterTestPage() override;

 private:
  // --- dialog
  void CheckMotorMass();
  void SetMassRatioFromTotal();
  void SnapAmplitude();
  void ShowProfilePicture();
  void SetUpLogger();
  void SetUpScope();
  void ApplyDefaultScopeSettings();
  void RescaleAmplitudePair();
  void RescaleSecondPair();
  void RedoScopeWindow();
  void ScopeSettingsChanged(const char* name);
  void RebindScopeGraph();
  void Identify();
  void OpenFilters();
  void OpenFrequencyResponse();
  void StartOrStop();
  void SavePlots();
  void RunScopeCommand(int command);
  void WarnAboutStartCurrent();

  // --- run
  bool LaunchPositioningRun();
  void WaitForRest();
  void LaunchTuningProgram();
  bool SendProfile();
  void RunStep4(int display);
  void ScopePass();
  void PollingPass();
  void StartPolling();
  void UploadDataLogger();
  void ShowProfileResponse();
  void FinishScopeRun();
  void EndScopeUpload();
  void OnScopeFrame(const UnsolicitedMessage& message);
  void StopDriveProgram();
  void RedrawScope();

  TuningRunNames m_names;
  const char* m_programName = "";
  std::vector<const char*> m_channels;
  CMC_CoffFormat m_positioning;
  CMC_CoffFormat m_program;
  std::unique_ptr<CMC_ScopeLogger> m_scope;
  CGraphWindow m_scopeGraph{2, 0};
  CMC_Oscilloscope m_plot;
  CMC_Comm::UnsolicitedMsgHandler m_previousHandler;
  bool m_handlerRegistered = false;
  bool m_customScope = false;
  bool m_driveAngle = false;
  double m_refTstV = 0.0, m_rIncTstV = 0.0;
  // The encoder count of the last poll while the mover comes to rest after
  // the positioning, and how many polls there have been.
  double m_restPosition = 0.0;
  int m_restPolls = 0;
  bool m_paused = false;
  bool m_frameReceived = false;
  bool m_pollingStarted = false;
  ReferenceProfile m_profile;
};
