#include "TuningTestRun.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "CodecDrivers.h"
#include "CodecSteps.h"
#include "FeatureProbes.h"
#include "FiltersDialog.h"
#include "TestFrequencyResponse.h"
#include "LoopMargins.h"
#include "MassQuestion.h"
#include "ProfileFigures.h"
#include "Scales.h"
#include "StepResponse.h"
#include "TotalMassTest.h"
#include "axcore/HostFunctions.h"
#include "axcore/Setup.h"

namespace {

// "MER" bits each wait looks at: the positioning (short circuit and
// ENABLE), a single logged cycle (all), anything else (all but the
// drive's own stop of a finished program, bit 5).
constexpr unsigned kPositioningMask = 0x8002;
constexpr unsigned kSingleCycleMask = 0xFFFF;
constexpr unsigned kRunningMask = 0xFFDF;

constexpr const char* kProtectionBelowLimit =
    "Over current protection must be greater than Drive current limit. Recommended value for Drive current limit "
    "is maximum 90% of Over current protection.";
constexpr const char* kMassBelowMotor =
    "You have chosen a value for the total mass that is lower than the value of the motor mass.\nThe application "
    "will assume the motor mass is unknown.";

// Value fields of the four profile times, then their unit boxes.
constexpr int kTimeEdits[4] = {1314, 1317, 1327, 1330};
constexpr int kTimeUnits[4] = {1315, 1318, 1328, 1331};
constexpr int kReferenceTypeControls[] = {1323, 3528, 3529, 3530};
constexpr int kStartCurrentControls[] = {3285, 3287, 3286};
constexpr int kMassRatioControls[] = {1384, 1385, 1386, 1387, 1388};
// The profile pictures of the reference types Positive, Negative and
// Bidirectional.
constexpr const char* kProfileImages[3] = {"314", "3063", "3062"};
// Palette colours of the reference and the response.
constexpr int kTraceColours[2] = {2, 5};

bool Is(const char* name, const char* other) {
  return name != nullptr && axcore::EqualsIgnoreCase(name, other);
}

// The open tuning dialog of each kind (speed, position) with a scope: the
// frame callback finds it here.
CTuningTestRun* g_open[2] = {nullptr, nullptr};

// The mover stands still for the profile's start when the encoder moves
// less than this speed's worth between two polls of kRestPoll_ms: a
// thousandth of the speeds the profiles run at, and many interpolated
// counts, well above the count's noise. The wait gives up after kRestWait_s: a
// mover that coasts longer (one of hardly any friction, or one that gravity
// pulls) starts the profile as it is, as it did without the wait.
constexpr double kRestSpeed_m_s = 1e-3;
constexpr int kRestPoll_ms = 20;
constexpr double kRestWait_s = 1.0;

int KindOf(ProfileTest test) { return test == ProfileTest::Speed ? 0 : 1; }

// An angle the drive holds in 16 bits: rounded through single precision,
// then taken modulo 65536 into the signed range.
double Angle16(double value) {
  if (!std::isfinite(value)) return 0.0;
  const long long rounded = TG_Round(static_cast<float>(value));
  const long long wrapped = ((rounded % 65536) + 65536) % 65536;
  return static_cast<double>(wrapped >= 32768 ? wrapped - 65536 : wrapped);
}

}  // namespace

std::vector<int> ControlIds(std::initializer_list<std::pair<int, int>> ranges) {
  std::vector<int> ids;
  for (const auto& [first, last] : ranges)
    for (int id = first; id <= last; ++id) ids.push_back(id);
  return ids;
}

double ScopeScalePerDivision(double span) {
  const double k = span > 0.0 ? std::ceil(std::log10(span)) : 0.0;
  const double b = std::pow(10.0, k);
  for (double s : {b / 5.0, b / 2.0}) {
    if (s >= span) return s;
  }
  return b;
}

CTuningTestRun::CTuningTestRun(CMC_Setup* setup, int resourceId, const TuningRunNames& names,
                               CMC_EditSetupDlg* parent)
    : CTuningTestDlg(setup, resourceId, parent), m_names(names) {
  m_wLastStep = Value(m_names.displaySwitch) != 0.0 ? 4 : 5;
  if (setup->GetIntOption("hasOscilloscope") != 0) {
    m_scope = std::make_unique<CMC_ScopeLogger>(setup);
    const int kind = KindOf(m_names.test);
    g_open[kind] = this;
    m_previousHandler = CMC_Comm::RegisterReceiveUnsolicitedMsgHandler([kind](const UnsolicitedMessage& message) {
      if (g_open[kind] != nullptr) g_open[kind]->OnScopeFrame(message);
    });
    m_handlerRegistered = true;
  }
  SnapAmplitude();
  AddParameterControls("TestLimitCurrent", 3284, 3283);
  AddParameterControls("TestStartCurrent", 3287, 3286);
  AddParameterControls("TestProtectionCurrent", 3281, 3279);
  AddParameterControls("Mt", 3270, 3288);
  AddParameterControls(m_names.amplitude, m_names.amplitudeControls[0], m_names.amplitudeControls[1]);
  for (int i = 0; i < 4; ++i) AddParameterControls(m_names.times[i], kTimeEdits[i], kTimeUnits[i]);
  AddSwitchParameterControls(m_names.displaySwitch, kLogger, kOnline);
  AddCheckParameterControls(m_names.multiCycle, 1332);
  if (HasSpeedTestReferenceType(*setup)) AddSwitchParameterControls(m_names.referenceType, 3528, 3530);
}

CTuningTestRun::~CTuningTestRun() {
  // No handler of this dialog outlives it, whether or not there was one
  // before it.
  if (m_handlerRegistered) CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(m_previousHandler);
  for (CTuningTestRun*& dialog : g_open)
    if (dialog == this) dialog = nullptr;
}

void CTuningTestRun::SetProgram(const char* name, std::vector<const char*> channels) {
  m_programName = name;
  m_channels = std::move(channels);
}

double CTuningTestRun::Value(const char* name) const {
  const CMC_Parameter* parameter = FindParameterQuiet(Setup(), name);
  return parameter != nullptr ? parameter->GetValueInBaseUnit() : 0.0;
}

bool CTuningTestRun::Has(const char* name) const { return FindParameterQuiet(Setup(), name) != nullptr; }

bool CTuningTestRun::WriteCurrentInput(const char* input, const char* name) {
  const double internal = Setup().GetParameterValueInInternalUnit(name);
  const double count = std::isnan(internal) ? 0.0 : std::fmax(-32768.0, std::fmin(32767.0, std::trunc(internal)));
  return WriteProgramInput(m_program, input, count);
}

void CTuningTestRun::Encode(const std::vector<const char*>& registers) {
  for (const char* name : registers) RunEncodeStep(Setup(), name);
}

// --- building the dialog

bool CTuningTestRun::OnInitDialog() {
  CTuningTestDlg::OnInitDialog();
  SetChildImage(kCurrentLimitsPicture, m_names.currentLimitsImage);
  ShowProfilePicture();
  LoadProgram(m_positioning, kPositioningProgram);
  LoadProgram(m_program, m_programName);
  SetChildText(tuning::kProcedure, m_names.procedure);
  SetChildText(m_names.readouts[1], "");
  SetChildText(m_names.readouts[3], "");
  InitPages();
  CreateLogger(&m_program);
  SetGraphName(m_names.plotName);
  SetUpLogger();
  SetUpScope();
  CheckMotorMass();
  RefreshAllParameters();
  UpdateData(false);
  return true;
}

void CTuningTestRun::SetUpLogger() {
  CMC_SingleAxisLogger& logger = *Logger();
  logger.ChangeSettings(2000, 1, 1);
  for (const char* channel : m_channels) logger.AddVariable(channel, 1);
  logger.CorrectPointsNo();
  // Reference and response on the first axis, the second pair on the other.
  CCurveSet& curves = logger.GetPlotDocument().GetCurveSet(0);
  curves.AddCurve(CXYCurve(0, 1, 1, RGB16(2), 2));
  curves.AddCurve(CXYCurve(0, 3, 2, RGB16(8), 2));
  curves.AddCurve(CXYCurve(0, 2, 1, RGB16(5), 2));
  curves.AddCurve(CXYCurve(0, 4, 2, RGB16(9), 2));
  BindGraph();
}

void CTuningTestRun::SetUpScope() {
  if (m_scope == nullptr) {
    m_plot.SubclassDlgItem(kScopeGraph, this);
    return;
  }
  SetChildText(kOnline, "Scope");
  if (m_scope->LoadSettingsFromSetupOption(m_names.scopeOption) != 0) {
    m_customScope = true;
  } else {
    ApplyDefaultScopeSettings();
  }
  RebindScopeGraph();
}

void CTuningTestRun::ApplyDefaultScopeSettings() {
  for (const char* channel : m_channels) m_scope->AddVariable(channel, 1);
  CCurveSet& curves = m_scope->GetPlotDocument().GetCurveSet(0);
  const int colours[4] = {2, 5, 8, 9};
  for (int channel = 1; channel <= 4; ++channel)
    curves.AddCurve(CXYCurve(0, channel, 1, RGB16(colours[channel - 1]), 2));
  RescaleAmplitudePair();
  RescaleSecondPair();
  RedoScopeWindow();
}

void CTuningTestRun::RebindScopeGraph() {
  if (m_scope == nullptr) return;
  m_scope->GetPlotDocument().LocateItems();
  m_scopeGraph.SubclassDlgItem(kScopeGraph, this, &m_scope->GetPlotDocument());
  m_scopeGraph.RefreshGraph();
}

void CTuningTestRun::RedrawScope() {
  if (m_scope == nullptr) return;
  m_scope->GetPlotDocument().LocateItems();
  m_scopeGraph.RefreshGraph();
}

// The reference and the response: a quarter of the amplitude per division,
// the amplitude's own unit; a negative profile hangs from the top line.
void CTuningTestRun::RescaleAmplitudePair() {
  if (m_scope == nullptr || m_customScope || m_channels.size() < 4) return;
  const CMC_Parameter* amplitude = FindParameterQuiet(Setup(), m_names.amplitude);
  if (amplitude == nullptr) return;
  const double shown = amplitude->GetValueInShownUnit();
  const double s = ScopeScalePerDivision(std::fabs(0.25 * shown));
  const double offset = amplitude->GetValueInBaseUnit() < 0.0 ? -4.0 * s : 0.0;
  const char* unit = amplitude->GetShownUnit().GetName();
  m_scope->RescaleVariable(m_channels[0], unit, s, offset);
  m_scope->RescaleVariable(m_channels[1], unit, s, offset);
}

// The second pair in the lower half of the screen: the currents at a third
// of the test's current limit per division, or the profile's speeds at half
// its peak speed per division.
void CTuningTestRun::RescaleSecondPair() {
  if (m_scope == nullptr || m_customScope || m_channels.size() < 4) return;
  double span = 0.0;
  const CMC_Parameter* shownBy = nullptr;
  if (SecondPairIsSpeed()) {
    shownBy = FindParameterQuiet(Setup(), "TestSpeed");
    const double ramp = std::fmin(Value(m_names.times[0]), Value(m_names.times[2]));
    if (shownBy == nullptr || !(ramp > 0.0)) return;
    const double peak = Value(m_names.amplitude) / ramp;
    span = std::fabs(0.5 * peak / shownBy->GetShownUnit().GetFactorToBase());
  } else {
    shownBy = FindParameterQuiet(Setup(), "TestLimitCurrent");
    if (shownBy == nullptr) return;
    span = shownBy->GetValueInShownUnit() / 3.0;
  }
  if (!std::isfinite(span)) return;
  const double s = ScopeScalePerDivision(span);
  const char* unit = shownBy->GetShownUnit().GetName();
  m_scope->RescaleVariable(m_channels[2], unit, s, 2.0 * s);
  m_scope->RescaleVariable(m_channels[3], unit, s, 2.0 * s);
}

// One sweep of the profile: the first ramp before the trigger, the rest of
// the profile after it; with repeated cycles every cycle triggers again.
void CTuningTestRun::RedoScopeWindow() {
  if (m_scope == nullptr || m_customScope) return;
  const CMC_Setup& setup = Setup();
  const int type = HasSpeedTestReferenceType(setup) ? static_cast<int>(Value(m_names.referenceType)) : 0;
  const double r1 = Value(m_names.times[0]), p1 = Value(m_names.times[1]);
  const double r2 = Value(m_names.times[2]), p2 = Value(m_names.times[3]);
  // The bidirectional profile's whole cycle: up, hold, down over twice the
  // second ramp, hold, back to 0.
  const double cycle = r1 + p1 + 3.0 * r2 + p2;
  double window = 0.0;
  int mode = CMC_ScopeLogger::kFreeRunning, slope = 1;
  double level = 0.0, pre = 0.0;
  const char* channel = nullptr;
  if (Has(m_names.amplitude)) {
    window = type == 2 ? cycle : r1 + p1 + r2 + std::fmin(r1, r2);
    mode = Value(m_names.multiCycle) != 0.0 ? CMC_ScopeLogger::kNormal : CMC_ScopeLogger::kSingle;
    ScopeTrigger(Value(m_names.amplitude), type, level, slope);
    channel = m_channels.empty() ? nullptr : m_channels[0];
    pre = window > 0.0 ? std::ceil(100.0 * r1 / window) : 0.0;
  } else {
    window = type == 2 ? cycle : r1 + p1 + r2 + std::fmin(r1, r2) + p2;
  }
  const double period = SpeedLoopPeriod(setup) * m_scope->GetDivider();
  double points = period > 0.0 ? std::ceil(window / period - 1e-9) : 1.0;
  if (!std::isfinite(points)) points = CMC_ScopeLogger::kMaxWindowPoints;
  points = std::clamp(points, 1.0, static_cast<double>(CMC_ScopeLogger::kMaxWindowPoints));
  m_scope->ChangeSettings(static_cast<int>(points), mode, slope, channel, level, std::clamp(pre, 0.0, 100.0));
  m_scope->GetPlotDocument().LocateItems();
}

void CTuningTestRun::ScopeSettingsChanged(const char* name) {
  if (m_scope == nullptr) return;
  const bool ramp = Is(name, m_names.times[0]) || Is(name, m_names.times[2]);
  if (Is(name, m_names.amplitude)) {
    RescaleAmplitudePair();
    if (SecondPairIsSpeed()) RescaleSecondPair();
    RedoScopeWindow();
  } else if (Is(name, "TestLimitCurrent")) {
    if (!SecondPairIsSpeed()) RescaleSecondPair();
  } else if (ramp) {
    if (SecondPairIsSpeed()) RescaleSecondPair();
    RedoScopeWindow();
  } else if (Is(name, m_names.multiCycle) || Is(name, m_names.times[1]) || Is(name, m_names.times[3])) {
    RedoScopeWindow();
  } else {
    return;
  }
  RedrawScope();
}

// The amplitude as a whole, non-zero number of internal units.
void CTuningTestRun::SnapAmplitude() {
  CMC_Parameter* amplitude = FindParameterQuiet(Setup(), m_names.amplitude);
  const double scale = m_names.amplitudeScale(Setup());
  if (amplitude == nullptr || scale == 0.0 || !std::isfinite(scale)) return;
  const double product = amplitude->GetValueInBaseUnit() * scale;
  double internal = TG_FRound(product);
  if (internal == 0.0) internal = product >= 0.0 ? 1.0 : -1.0;
  amplitude->SetValueInBaseUnit(internal / scale);
}

void CTuningTestRun::ShowProfilePicture() {
  const int type = HasSpeedTestReferenceType(Setup()) ? static_cast<int>(Value(m_names.referenceType)) : 0;
  SetChildImage(kProfilePicture, kProfileImages[type == 1 || type == 2 ? type : 0]);
}

// A total mass below the motor's own cannot be: the user says which of the
// two is wrong.
void CTuningTestRun::CheckMotorMass() {
  if (Value("Mt") < Value("M") && Value("isMotorMassUnknown") == 0.0) {
    CMassQuestion question(GetSetup());
    question.DoModal();
  }
  SetMassRatioFromTotal();
}

// "Mload / M" from the total mass; only a motor mass above 0 gives a ratio.
void CTuningTestRun::SetMassRatioFromTotal() {
  const double motor = Value("M");
  CMC_Parameter* ratio = FindParameterQuiet(Setup(), "Mload_over_M");
  if (ratio == nullptr || !(motor > 0.0)) return;
  ratio->SetValueInBaseUnit(RoundDecimalValue((Value("Mt") - motor) / motor, 3));
}

// --- control states

void CTuningTestRun::DoDataExchange(bool save) {
  CTuningTestDlg::DoDataExchange(save);
  if (save) return;
  const CMC_Setup& setup = Setup();
  const bool running = m_bTestRunning != 0;
  const bool online = Value(m_names.displaySwitch) != 0.0;
  const bool multi = Value(m_names.multiCycle) != 0.0;
  const bool scope = m_scope != nullptr;
  const bool testPage = Page() == 1;
  EnableChild(tuning::kOk, !running);
  EnableChild(kLogger, !running);
  EnableChild(m_names.identify, !running);
  EnableChild(kOnline, !running && (multi || scope));
  for (int id : {kPause, kContinue}) ShowChild(id, testPage && !scope);
  EnableChild(kPause, !scope && running && m_pollingStarted && !m_paused);
  EnableChild(kContinue, !scope && running && m_pollingStarted && m_paused);
  for (int id : GainControls()) EnableChild(id, !running || online);
  EnableChild(tuning::kSavePlot, testPage && !(online && !scope));
  ShowChild(tuning::kGraph, testPage && !online);
  ShowChild(kScopeGraph, testPage && online);
  const bool readouts = testPage && running && online && !scope;
  for (int id : m_names.readouts) ShowChild(id, readouts);
  for (int id : kSwatches) ShowChild(id, readouts);
  const bool startCurrent = !testPage && Value("StartMode") == 0.0;
  for (int id : kStartCurrentControls) ShowChild(id, startCurrent);
  for (int id : kMassRatioControls) EnableChild(id, Value("isMotorMassUnknown") == 0.0);
  EnableChild(kFilters, HasCurrentReferenceFilter(setup));
  EnableChild(kFrequencyResponse, !running);
  const bool referenceType = !testPage && HasSpeedTestReferenceType(setup);
  for (int id : kReferenceTypeControls) ShowChild(id, referenceType);
  ShowChild(kDetails, testPage && m_nTestResult != -1 && !m_strErrorText.empty());
  ExchangeTestControls();
}

void CTuningTestRun::OnTabChange(int id) {
  CTuningTestDlg::OnTabChange(id);
  if (id == tuning::kTabs) UpdateData(false);
}

bool CTuningTestRun::MayEnterTestPage() {
  if (Value("TestLimitCurrent") <= Value("TestProtectionCurrent")) return true;
  MessageBox(kProtectionBelowLimit);
  return false;
}

// --- parameter changes

void CTuningTestRun::OnChangedParameterValue(const char* name) {
  CMC_Setup& setup = Setup();
  const bool massKnown = Value("isMotorMassUnknown") == 0.0;
  const double motor = Value("M");
  if (Is(name, m_names.multiCycle)) {
    // Without a scope only repeated cycles can be watched on line.
    if (Value(m_names.multiCycle) == 0.0 && m_scope == nullptr) {
      setup.SetParameterValueInBaseUnit(m_names.displaySwitch, 0.0);
      RefreshAllParameters();
    }
  } else if (Is(name, "Mt")) {
    if (massKnown && motor > 0.0 && Has("Mload_over_M")) {
      setup.SetParameterValueInBaseUnit("Mload_over_M", RoundDecimalValue((Value("Mt") - motor) / motor, 3));
      RefreshParameterControls("Mload_over_M");
    }
  } else if (Is(name, "Mload_over_M")) {
    if (massKnown && motor > 0.0) {
      setup.SetParameterValueInBaseUnit("Mt", RoundDecimalValue((Value("Mload_over_M") + 1.0) * motor, 3));
      RefreshParameterControls("Mt");
    }
  } else if (Is(name, m_names.amplitude)) {
    SnapAmplitude();
    RefreshParameterControls(m_names.amplitude);
  }
  if (EncodesOnChange(name)) Encode(RegistersOf(name));
  ScopeSettingsChanged(name);
  CTuningTestDlg::OnChangedParameterValue(name);
}

void CTuningTestRun::OnChangedParameterUnit(const char* name) {
  if (m_scope != nullptr) {
    if (Is(name, m_names.amplitude)) {
      RescaleAmplitudePair();
      RedrawScope();
    } else if (Is(name, "TestLimitCurrent") && !SecondPairIsSpeed()) {
      RescaleSecondPair();
      RedrawScope();
    }
  }
  CTuningTestDlg::OnChangedParameterUnit(name);
}

void CTuningTestRun::OnRefreshParameterValue(const char* name) {
  CMC_Setup& setup = Setup();
  if (Is(name, "Mt")) {
    if (Value("M") > Value("Mt") && Value("isMotorMassUnknown") == 0.0) {
      MessageBox(kMassBelowMotor, MB_OK | MB_ICONWARNING);
      setup.SetParameterValueInBaseUnit("isMotorMassUnknown", 1.0);
      UpdateData(false);
    }
  } else if (Is(name, "TestStartCurrent")) {
    if (Value("TestStartCurrent") > 100.0) WarnAboutStartCurrent();
  } else if (Is(name, m_names.referenceType)) {
    ShowProfilePicture();
    RescaleAmplitudePair();
    RedoScopeWindow();
    RedrawScope();
  }
  WriteToDriveWhileRunning(RegistersOf(name));
  CTuningTestDlg::OnRefreshParameterValue(name);
}

void CTuningTestRun::WarnAboutStartCurrent() {
  char text[256];
  std::snprintf(text, sizeof text,
                "You have set a start current bigger than the nominal current! The start current will be applied "
                "for %.2f s.\n\nThe motor must withstand this over current condition or it may be damaged.",
                2.0 * Value("time_AB"));
  MessageBox(text, MB_OK | MB_ICONWARNING);
}

// --- commands

bool CTuningTestRun::OnCommand(int id) {
  switch (id) {
    case kLogger:
    case kOnline:
      if (UpdateData(true)) UpdateData(false);
      return true;
    case kTune:
      Tune();
      return true;
    case kFilters:
      OpenFilters();
      return true;
    case kFrequencyResponse:
      OpenFrequencyResponse();
      return true;
    case kStartStop:
      StartOrStop();
      return true;
    case kPause:
    case kContinue:
      m_paused = id == kPause;
      UpdateData(false);
      return true;
    case tuning::kSavePlot:
      SavePlots();
      return true;
    default:
      break;
  }
  if (id == m_names.identify) {
    Identify();
    return true;
  }
  if (id >= kScopeEdit && id <= kScopeData) {
    RunScopeCommand(id);
    return true;
  }
  return CTuningTestDlg::OnCommand(id);
}

void CTuningTestRun::Identify() {
  CTotalMassTest test(GetSetup());
  if (test.DoModal() != IDOK) return;
  const double motor = Value("M");
  if (Value("isMotorMassUnknown") == 0.0 && motor > 0.0 && Has("Mload_over_M"))
    Setup().SetParameterValueInBaseUnit("Mload_over_M", RoundDecimalValue((Value("Mt") - motor) / motor, 3));
  RefreshAllParameters();
  UpdateData(false);
}

void CTuningTestRun::OpenFilters() {
  CMC_Setup& setup = Setup();
  if (!HasCurrentReferenceFilter(setup)) return;
  EncodeRegisters(setup);
  DecodeRegisters(setup);
  CFiltersDialog filters(GetSetup(), m_bTestRunning);
  if (filters.DoModal() == IDOK) {
    EncodeRegisters(setup);
    DecodeRegisters(setup);
    // The running test follows the new filters at once.
    if (m_bTestRunning != 0) filters.GetDesign().WriteFiltersToDrive(setup);
  }
  RefreshAllParameters();
  UpdateData(false);
}

// The frequency response of the loop this test tunes, with the gains and
// filters the setup holds now; a notch placed there stays in the setup.
void CTuningTestRun::OpenFrequencyResponse() {
  if (m_bTestRunning != 0) return;
  CMC_Setup& setup = Setup();
  EncodeRegisters(setup);
  DecodeRegisters(setup);
  CTestFrequencyResponse response(GetSetup(), m_names.test == ProfileTest::Speed ? TunedLoop::Speed : TunedLoop::Position,
                                  this);
  response.DoModal();
  RefreshAllParameters();
  UpdateData(false);
}

void CTuningTestRun::StartOrStop() {
  if (m_bTestRunning != 0 && Value(m_names.displaySwitch) != 0.0 && m_scope != nullptr && m_scope->IsUploading()) {
    m_scope->EndUploadData();
    if (m_scope->IsUploading()) return;
    // Repeated cycles run until the user stops them: that is their end,
    // as for the polling plot and the data logger.
    if (m_bMultiCycle != 0) {
      FinishScopeRun();
      return;
    }
    m_bStopRequest = 1;
  }
  OnBtnStartStop();
}

void CTuningTestRun::SavePlots() {
  if (Value(m_names.displaySwitch) != 0.0 && m_scope != nullptr)
    SavePlotOf(m_scope.get());
  else
    SavePlotOf(Logger());
}

// The scope's menu, while no test runs.
bool CTuningTestRun::OnContextMenu(int id) {
  if (id != kScopeGraph || m_scope == nullptr || m_bTestRunning != 0) return false;
  if (const int command = TrackHostMenu(101, 0); command != 0) OnCommand(command);
  return true;
}

void CTuningTestRun::RunScopeCommand(int command) {
  if (m_scope == nullptr || m_bTestRunning != 0) return;
  const bool online = Value(m_names.displaySwitch) != 0.0;
  switch (command) {
    case kScopeEdit:
      if (m_scope->EditSettings(this) == 0) return;
      m_customScope = true;
      RebindScopeGraph();
      return;
    case kScopeDefaults:
      if (!m_customScope) return;
      m_customScope = false;
      m_scope->SetDefaultValues();
      ApplyDefaultScopeSettings();
      RebindScopeGraph();
      return;
    case kScopeAutoscale:
      m_scope->Autoscale();
      m_customScope = true;
      RedrawScope();
      return;
    case kScopeLoad: {
      const std::string path = DoPromptScopeLoggerFileName(1, m_names.plotName);
      if (path.empty()) return;
      if (m_scope->Load(path.c_str()) == 0) {
        MessageBox("The scope settings could not be loaded: " + m_scope->GetSettingsError(), MB_OK | MB_ICONERROR);
        return;
      }
      m_customScope = true;
      RebindScopeGraph();
      return;
    }
    case kScopeSave: {
      const std::string path = DoPromptScopeLoggerFileName(0, m_names.plotName);
      if (!path.empty() && m_scope->Save(path.c_str()) == 0)
        MessageBox("The scope settings could not be saved: " + m_scope->GetSettingsError(), MB_OK | MB_ICONERROR);
      return;
    }
    case kScopeSavePlots:
      SavePlots();
      return;
    case kScopePicture:
      (online ? m_scopeGraph : Graph()).CreateWMF(m_names.plotName);
      return;
    case kScopeData:
      CGraphFilter::ExportToASCII(online ? m_scopeGraph : Graph(), m_names.plotName);
      return;
    default:
      return;
  }
}

// The wheel over the scope screen: the channel picked, a step coarser or
// finer.
void CTuningTestRun::OnControlMessage(int id, unsigned message, std::uintptr_t, std::intptr_t lParam) {
  if (id != kScopeGraph || message != axcore::kPlotWheelMessage || m_scope == nullptr) return;
  const int channel = static_cast<int>(lParam & 0xFFFF);
  const int steps = static_cast<int>((lParam >> 16) & 0xFFFF);
  if (m_scope->ChangeChannelScale(channel, steps) == 0) return;
  m_customScope = true;
  RedrawScope();
}

void CTuningTestRun::OnOK() {
  CTuningTestDlg::OnOK();
  if (!HasEnded() || GetResult() != IDOK) return;
  if (m_scope != nullptr && m_customScope)
    m_scope->SaveSettingsToSetupOption(m_names.scopeOption);
  else
    Setup().ClearOption(m_names.scopeOption);
  KeepTestValues(
      {{"TestProtectionCurrent", "Imax_Prot"}, {"TestLimitCurrent", "IlimPS"}, {"TestStartCurrent", "StartCurrent"}});
}

// --- the run

void CTuningTestRun::BeginTest() {
  m_bStopRequest = 0;
  m_bMultiCycle = 0;
  StartRun();
  m_driveAngle = false;
  m_paused = false;
  m_pollingStarted = false;
  m_wLastStep = Value(m_names.displaySwitch) != 0.0 ? 4 : 5;
  if (Value("StartMode") != 0.0) {
    // The drive knows its angle: no positioning.
    m_wStep = 2;
    SetInfoText(tuning::kStatusTexts[2]);
    ArmTimer();
    return;
  }
  m_driveAngle = true;
  m_restPolls = 0;
  SetInfoText(tuning::kStatusTexts[0]);
  LaunchPositioningRun();
}

// The positioning current: a percentage of the smaller of the motor's and
// the drive's nominal current, in converter counts, at most the drive's
// peak current (half the converter's full scale).
double TuningPositioningCurrent(const CMC_Setup& setup, bool& limited) {
  auto value = [&](const char* name) {
    const CMC_Parameter* p = FindParameterQuiet(setup, name);
    return p != nullptr ? p->GetValueInBaseUnit() : 0.0;
  };
  const double k = CurrentScale(setup);
  const double nominal = std::fmin(value("In") * k, value("InPS") * k);
  double current = std::trunc(value("TestStartCurrent") / 100.0 * nominal);
  const double peak = std::fmin(std::floor(AdcMax(setup) / 2.0), 32767.0);
  if (!std::isfinite(current)) current = 0.0;
  limited = current > peak;
  return std::fmin(current, peak);
}

bool CTuningTestRun::LaunchPositioningRun() {
  CMC_Setup& setup = Setup();
  bool limited = false;
  const double current = TuningPositioningCurrent(setup, limited);
  const double peak = std::fmin(std::floor(AdcMax(setup) / 2.0), 32767.0);
  if (limited) {
    ShowStatus("The start current is limited to the drive's peak current (" + std::to_string(static_cast<int>(peak)) +
               " counts).");
  }
  if (HasAbsoluteStartMinMove(setup)) setup.SetParameterValueInBaseUnit("ABSTART_MINMOVE", 0.0);
  return LaunchPositioning(m_positioning, current, tuning::kStatusTexts[1]);
}

void CTuningTestRun::OnRunTimer() {
  const int display = static_cast<int>(Value(m_names.displaySwitch));
  switch (m_wStep) {
    case 2:
      if (PositioningEnded(m_positioning, kPositioningMask, m_refTstV, m_rIncTstV, tuning::kStatusTexts[2]))
        WaitForRest();
      return;
    case 3:
      if (m_driveAngle)
        WaitForRest();
      else
        LaunchTuningProgram();
      return;
    case 4:
      RunStep4(display);
      return;
    case 5:
      UploadDataLogger();
      return;
    default:
      Fail(CMC_TestDlg::msc_pszErrInternal);
      return;
  }
}

// The positioning switches the axis off when it ends, and it may end with
// the mover still moving: on a winding of high resistance and force
// constant the voltage that holds the test current leaves little for the
// back-EMF, the ramp reaches the drive's voltage limit while the magnetic
// pull throws the mover towards alignment, and the program gives up there
// (delivering the current that flowed). A profile launched then starts its
// loops on a mover already sliding at some tenths of a metre per second:
// the loops, which begin at rest, see that as a following error of
// millimetres and the control error protection trips. The mover coasts to
// rest against its friction, and the drive keeps its electrical angle
// reference while the encoder counts: the profile waits till the encoder
// shows the mover standing (less than kRestSpeed_m_s over one poll) or
// kRestWait_s has passed, whichever comes first.
void CTuningTestRun::WaitForRest() {
  const CMC_Variable* counter = FindVariableQuiet(Setup(), "APOS");
  const double countsPerMetre = std::fabs(MotorPositionScale(Setup()));
  if (counter == nullptr || !(countsPerMetre > 0.0) || !std::isfinite(countsPerMetre)) {
    LaunchTuningProgram();
    return;
  }
  double position = 0.0;
  if (!ReadDriveVariable("APOS", true, position)) return;
  const bool first = m_restPolls == 0;
  const double moved_m = std::fabs(position - m_restPosition) / countsPerMetre;
  m_restPosition = position;
  ++m_restPolls;
  const double polled_s = kRestPoll_ms * 1e-3;
  if ((!first && moved_m <= kRestSpeed_m_s * polled_s) || static_cast<double>(m_restPolls) * polled_s > kRestWait_s) {
    m_restPolls = 0;
    LaunchTuningProgram();
    return;
  }
  ArmTimer(kRestPoll_ms);
}

void CTuningTestRun::LaunchTuningProgram() {
  CMC_Setup& setup = Setup();
  const double refTest = Angle16(m_driveAngle ? m_refTstV : setup.GetParameterValueInInternalUnit("REFTST"));
  const double rIncTest = Angle16(m_driveAngle ? m_rIncTstV : setup.GetParameterValueInInternalUnit("RINCTST"));
  if (!WriteProgramInput(m_program, "RefTest", refTest) || !WriteProgramInput(m_program, "RIncTest", rIncTest))
    return;
  if (!SetLimitInputs() || !SendProfile()) return;
  m_bMultiCycle = static_cast<int>(Value(m_names.multiCycle));
  if (!WriteProgramInput(m_program, "MultiC", m_bMultiCycle) || !SetInputsAfterProfile()) return;
  const bool online = Value(m_names.displaySwitch) != 0.0;
  CMC_Logger* logger = nullptr;
  if (!online) {
    logger = Logger();
  } else if (m_scope != nullptr) {
    logger = m_scope.get();
  } else {
    const double v = m_profile.amplitude;
    m_plot.Initialize("", 2, 0);
    for (int channel = 0; channel < 2; ++channel) {
      if (v >= 0)
        m_plot.SetChannelSpan(channel, 1.2 * v, -0.2 * v);
      else
        m_plot.SetChannelSpan(channel, -0.2 * v, 1.2 * v);
      m_plot.SetTraceColour(channel, kTraceColours[channel]);
    }
  }
  if (HasAbsoluteStartMinMove(setup)) RunEncodeStep(setup, "ABSTART_MINMOVE");
  if (!Launch(m_programName, &m_program, logger)) return;
  SetInfoText(m_bMultiCycle != 0 ? tuning::kStatusTexts[5] : tuning::kStatusTexts[3]);
  m_bStopRequest = 0;
  if (!ArmTimer(online && m_scope != nullptr ? 1 : 20)) return;
  if (online && m_scope != nullptr) m_scopeGraph.RefreshGraph();
  if (online && m_scope == nullptr) m_plot.Redraw();
  UpdateData(false);
}

bool CTuningTestRun::SendProfile() {
  const CMC_Setup& setup = Setup();
  ProfileInput input;
  input.referenceType = HasSpeedTestReferenceType(setup) ? static_cast<int>(Value(m_names.referenceType)) : 0;
  input.amplitude = Value(m_names.amplitude);
  input.amplitudeScale = m_names.amplitudeScale(setup);
  input.firstRamp_s = Value(m_names.times[0]);
  input.firstPlateau_s = Value(m_names.times[1]);
  input.secondRamp_s = Value(m_names.times[2]);
  input.secondPlateau_s = Value(m_names.times[3]);
  input.ts_s = SpeedLoopPeriod(setup);
  input.test = m_names.test;
  m_profile = BuildReferenceProfile(input);
  // Segment by segment, as the drive takes them: those before a refused one
  // have been sent when the test stops.
  for (int i = 0; i < 6; ++i) {
    if (i == m_profile.failedSegment) {
      Fail(std::string(m_profile.error));
      return false;
    }
    const ProfileSegment& segment = m_profile.segments[static_cast<std::size_t>(i)];
    const std::string index = std::to_string(i);
    if (!WriteProgramInput(m_program, ("a" + index).c_str(), segment.count) ||
        !WriteProgramInput(m_program, ("b" + index).c_str(), segment.value))
      return false;
  }
  return true;
}

bool CTuningTestRun::CheckTestFlag(int fail) {
  double flag = 0.0;
  bool passed = GetUserVariableValue(m_program, "test_flag", flag, m_strErrorText) != 0;
  if (passed && flag == kNotDelivered) {
    m_strErrorText = CMC_TestDlg::msc_pszErrInternal;
    passed = false;
  } else if (passed && !(flag > 0.0)) {
    m_strErrorText = tuning::kProtectionTripped;
    passed = false;
  }
  if (!passed && fail != 0) TestFailed(1);
  return passed;
}

void CTuningTestRun::StopDriveProgram() {
  if (DriveLink* link = CMC_Comm::GetLink(); link != nullptr) {
    std::string error;
    if (!link->StopProgram(error)) CMC_Comm::SetLastErrorText(error);
  }
}

void CTuningTestRun::RunStep4(int display) {
  if (display == 0 && m_bMultiCycle == 0) {
    if (WaitForProgram(m_program, kSingleCycleMask) != Wait::Finished) return;
    SetInfoText(tuning::kStatusTexts[4]);
    ArmTimer();
    return;
  }
  if (display == 0) {
    if (m_bStopRequest != 0) {
      UpdateData(false);
      SetInfoText(tuning::kStatusTexts[4]);
      ArmTimer(1);
      return;
    }
    // A problem ends the cycles as a Stop would; the upload then tells.
    if (!CheckTestFlag(0) || CheckDriveError(0, kRunningMask) == 0) m_bStopRequest = 1;
    ArmTimer();
    return;
  }
  if (m_scope != nullptr)
    ScopePass();
  else
    PollingPass();
}

// One pass of the scope display: the frames that came are drawn by the
// frame callback; the run ends when the scope has its sweep or the drive
// ends the stream, when the user stops it, or at the first failure.
void CTuningTestRun::ScopePass() {
  if (m_bStopRequest != 0) {
    EndScopeUpload();
    m_bMultiCycle = 0;
    m_bStopRequest = 0;
    OnBtnStartStop();
    return;
  }
  m_frameReceived = false;
  if (m_scope->DoGracefulStop()) {
    FinishScopeRun();
    return;
  }
  if (CMC_Comm::CheckForUnrequestedMessages() == 0) {
    EndScopeUpload();
    Fail(CMC_Comm::GetLastErrorText());
    return;
  }
  if (m_scope->DoGracefulStop()) {
    FinishScopeRun();
    return;
  }
  if (!m_scope->IsUploading()) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  if (!m_frameReceived && (CheckDriveError(1, kRunningMask) == 0 || !CheckTestFlag(1))) {
    EndScopeUpload();
    return;
  }
  PumpMessages();
  if (m_bTestRunning != 0 && !HasEnded()) ArmTimer(1);
}

void CTuningTestRun::FinishScopeRun() {
  m_bMultiCycle = 0;
  m_bStopRequest = 0;
  KillTimer(1);
  StopDriveProgram();
  if (CheckDriveError(1, kRunningMask) == 0 || !CheckTestFlag(1)) {
    EndScopeUpload();
    return;
  }
  TestSucceeded(1);
  EndScopeUpload();
  UpdateData(false);
}

void CTuningTestRun::EndScopeUpload() {
  if (m_scope != nullptr && m_scope->IsUploading()) m_scope->EndUploadData();
}

void CTuningTestRun::OnScopeFrame(const UnsolicitedMessage& message) {
  std::span<const std::uint8_t> payload;
  if (m_scope == nullptr || !ScopeFramePayload(message, payload)) return;
  if (m_scope->OnFrameReceive(payload) <= 0) return;
  m_frameReceived = true;
  int first = 0, count = 0;
  if (!m_scope->GetPointsToBeDrawn(first, count)) return;
  const int points = std::max(1, m_scope->GetPointsNo());
  for (int k = 0; k < count; ++k) {
    const int index = (first + k) % points;
    m_scopeGraph.UpdatePoint(index);
    if (index == 0) m_scopeGraph.RefreshGraph();
  }
}

void CTuningTestRun::StartPolling() {
  m_paused = false;
  m_pollingStarted = true;
  CMC_Variable* reference = FindVariableQuiet(Setup(), m_names.polled[0]);
  CMC_Variable* response = FindVariableQuiet(Setup(), m_names.polled[1]);
  if (reference == nullptr || response == nullptr) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  response->SetShownUnit(reference->GetShownUnit().GetName());
  UpdateData(false);
}

// One pass of the polling plot: both variables read and drawn (unless
// paused), the drive checked; Stop ends the cycles and the run.
void CTuningTestRun::PollingPass() {
  if (!m_pollingStarted) {
    StartPolling();
    if (m_bTestRunning == 0) return;
  }
  if (m_bStopRequest != 0) {
    // The program repeats its cycles until it is stopped.
    StopDriveProgram();
    m_bStopRequest = 0;
    m_bMultiCycle = 0;
    TestSucceeded(1);
    UpdateData(false);
    return;
  }
  if (!m_paused) {
    CMC_Variable* variables[2] = {FindVariableQuiet(Setup(), m_names.polled[0]),
                                  FindVariableQuiet(Setup(), m_names.polled[1])};
    double values[2] = {0.0, 0.0};
    for (int i = 0; i < 2; ++i) {
      if (variables[i] == nullptr || variables[i]->ReadFromChip() == 0) {
        Fail(CMC_TestDlg::msc_pszErrInternal);
        return;
      }
      values[i] = variables[i]->GetValueInInternalUnit();
    }
    m_plot.AddPoints(values[0], values[1]);
    for (int i = 0; i < 2; ++i) {
      const CMC_Variable& variable = *variables[i];
      const std::string unit = variable.GetShownUnit().GetName();
      SetChildText(m_names.readouts[2 * i + 1],
                   unit.empty() ? FormatFieldValue(variable.GetValueInShownUnit()) + " IU" : variable.PrintValue());
    }
  }
  if (CheckDriveError(1, kRunningMask) == 0 || !CheckTestFlag(1)) return;
  PumpMessages();
  if (m_bTestRunning != 0 && !HasEnded()) ArmTimer(1);
}

void CTuningTestRun::UploadDataLogger() {
  const bool driveOk = CheckDriveError(0, kRunningMask) != 0;
  const bool flagOk = CheckTestFlag(0);
  // Repeated cycles run until the program is stopped.
  if (m_bMultiCycle != 0) StopDriveProgram();
  if (driveOk && flagOk) {
    m_bMultiCycle = 0;
  } else {
    m_bMultiCycle = 1;
    m_bStopRequest = 0;
  }
  if (Logger() == nullptr || Logger()->BeginUploadData() == 0) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  // The model of the last run does not belong to this one.
  Logger()->GetPlotDocument().SetOverlay({});
  SetChildText(kFigures, "");
  Graph().Invalidate();
  switch (DrawLoggedPoints()) {
    case Drawing::Abandoned:
      return;
    case Drawing::Stopped:
      // The run had failed and the user does not wait for the rest.
      TestFailed(1);
      return;
    case Drawing::Drawn:
      break;
  }
  ShowProfileResponse();
  if (CheckDriveError(1, kRunningMask) == 0 || !CheckTestFlag(1)) return;
  TestSucceeded(1);
  UpdateData(false);
}

// The figures of the logged response beside those of the loop's model, and
// the model's response drawn dashed over the measured one.
void CTuningTestRun::ShowProfileResponse() {
  CGraphDocument& graph = Logger()->GetPlotDocument();
  const std::vector<double> time = graph.Column(0), reference = graph.Column(1), response = graph.Column(2);
  const double period = SpeedLoopPeriod(Setup());
  const ProfileFigures measured = MeasureProfile(time, reference, response, m_profile.segments, period);
  const CMC_Variable* variable = FindVariableQuiet(Setup(), m_channels.size() > 1 ? m_channels[1] : "");
  const char* unit = variable != nullptr ? variable->GetUnit() : "";
  std::string text = FormatProfileFigures(measured, unit);
  SampledLoopResponse loop;
  if (measured.valid && time.size() > 1) {
    SampledLoopResponse probe;
    // Ticks enough to cover the record, at the loop's own tick.
    const bool known = PredictLoop(2, probe, LoopTerms::All) && probe.period_s > 0.0;
    const double ticks = known ? std::ceil((time.back() - time.front()) / probe.period_s) + 2.0 : 0.0;
    if (known && ticks < 1e6 && PredictLoop(static_cast<int>(ticks), loop, LoopTerms::All)) {
      std::vector<double> since(time.size());
      for (std::size_t i = 0; i < time.size(); ++i) since[i] = time[i] - time.front();
      const std::vector<double> model = ResponseToReference(loop, since, reference, reference.front());
      const ProfileFigures predicted = MeasureProfile(time, reference, model, m_profile.segments, period);
      if (loop.stable && predicted.valid) text = CompareFigureLines(text, FormatProfileFigures(predicted, unit));
      if (!loop.stable) text += "\nThe loop as the drive runs it is unstable at these gains: lower the passband";
      axcore::PlotCurve curve;
      curve.name = "Model";
      curve.axis = axcore::PlotAxisId::Left;
      curve.colour = RGB16(5);
      curve.style = axcore::LineStyle::Dashed;
      curve.x = time;
      curve.y = model;
      if (loop.stable) graph.SetOverlay({curve});
      Graph().RefreshGraph();
    }
  }
  SetChildText(kFigures, text);
}

void CTuningTestRun::ShowTunedLoop(TunedLoop tuned) {
  // The margins of the loop as the drive runs it, in the figures text until
  // a run replaces them with its own.
  if (const LoopMargins margins = ComputeLoopMargins(Setup(), tuned); margins.valid)
    SetChildText(kFigures, "Tuned (model): " + FormatMargins(margins));
  SampledLoopResponse loop;
  // A second of the loop's ticks at most: enough to see it settle.
  SampledLoopResponse probe;
  if (!PredictLoop(2, probe, LoopTerms::FeedbackOnly) || !(probe.period_s > 0.0)) return;
  const int ticks = static_cast<int>(std::clamp(std::ceil(1.0 / probe.period_s), 2.0, 200000.0));
  if (!PredictLoop(ticks, loop, LoopTerms::FeedbackOnly)) return;
  if (!loop.stable) {
    ShowStatus("Tuned: the loop as the drive runs it is not stable at this passband; lower it.");
    return;
  }
  ShowStatus("Tuned: the loop as the drive runs it (without feed-forward) rises (10 to 90 %) in " + ThreeSignificantDigits(loop.rise_s * 1e3) +
             " ms and overshoots by " + ThreeSignificantDigits(loop.overshoot * 100.0) + " %.");
}
