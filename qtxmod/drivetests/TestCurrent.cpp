#include "TestCurrent.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "CodecSteps.h"
#include "ControllerDesign.h"
#include "FeatureProbes.h"
#include "LoopMargins.h"
#include "LoopResponse.h"
#include "Scales.h"
#include "axcore/Setup.h"

namespace {

constexpr const char* kProgram = "Current_Controller_Tuning_Test";

// Both waits: short circuit / over current and the ENABLE input.
constexpr unsigned kDriveErrorMask = 0x8002;

constexpr const char* kProcedureText =
    "1. Check/setup the test parameters below\r\n2. Go to the \"Test\" tab and press the \"Tune\" button\r\n3. Set "
    "the desired passband and tune the controller\r\n4. Press the \"Start\" button\r\n5. Wait until the test ends "
    "and displays the results\r\n6. If needed, change the controller parameters during the test, until you get "
    "satisfactory results";
constexpr unsigned short kLastStep = 5;

constexpr const char* kProtectionBelowTest = "Over current protection must be greater or equal to Test current.";

// Controls.
constexpr int kTune = 3149;
constexpr int kFilterCheck = 3142;
constexpr int kOffsetCheck = 3147;
constexpr int kStepFigures = 3156;

// Logged columns: 0 time, then the variables in the order they are added.
constexpr int kReferenceColumn = 1;
constexpr int kCurrentColumn = 2;
constexpr int kVoltageColumn = 3;

// The program takes the currents as signed 16-bit integers: truncated
// toward zero and held to that range.
double Int16(double internal) {
  if (std::isnan(internal)) return 0.0;
  return std::fmax(-32768.0, std::fmin(32767.0, std::trunc(internal)));
}

bool Is(const char* name, const char* other) { return axcore::EqualsIgnoreCase(name, other); }

// The samples from `from` on where the voltage reference holds its largest
// magnitude exactly, as a clamp holds it, in a run of two or more: the
// drive asked for more voltage than the supply gives.
int SamplesAtLimit(const std::vector<double>& voltage, std::size_t from) {
  double peak = 0.0;
  for (std::size_t k = from; k < voltage.size(); ++k)
    if (std::isfinite(voltage[k])) peak = std::fmax(peak, std::fabs(voltage[k]));
  if (peak == 0.0) return 0;
  int held = 0, run = 0;
  for (std::size_t k = from; k < voltage.size(); ++k) {
    run = std::fabs(voltage[k]) == peak ? run + 1 : 0;
    if (run == 2) held += 2;
    if (run > 2) ++held;
  }
  return held;
}

}  // namespace

CTestCurrent::CTestCurrent(CMC_Setup* setup, CMC_EditSetupDlg* parent)
    : CTuningTestDlg(setup, kResourceId, parent) {
  m_wLastStep = kLastStep;
  AddParameterControls("TestProtectionCurrent", 1303, 1304);
  AddParameterControls("TestCurrent", 1120, 1121);
  AddParameterControls("OffsetCurrent", 3145, 3144);
  AddParameterControls("FilterOnCurrentControllerOutput", 3140, 3141);
  AddCheckParameterControls("isUseFilterOnCrtCtrlOutput", kFilterCheck);
  AddCheckParameterControls("isCompensateGravitationalLoads", kOffsetCheck);
  SetTunedGains({{"Kp_C_scl", "SFTKPI", "KPI"}, {"Ki_C_scl", "SFTKII", "KII"}});
  AddGainSlider("Kp_C_scl", 1337, 1335, 1338, 1336);
  AddGainSlider("Ki_C_scl", 1342, 1340, 1343, 1341);
  AddGainSlider("PB_C", 3152, 3155, 3154, 3153, 3151);
  SetPageControls({1120, 1121, 1303, 1304, 1301, 1123, 1376, 1377, 10014, 10015, 1119, 1122},
                  {10000, 1339, 1340, 1342, 1343, 1341, 1334, 1335, 1337, 1338, 1336, 1361, 1372, 1375, 10002,
                   10004, 1374, 10001, 1333, 3138, 3142, 3139, 3140, 3141, 3143, 3147, 3146, 3145, 3144, 3148, 3149,
                   3150, 3155, 3151, 3152, 3153, 3154, kStepFigures});
}

bool CTestCurrent::OnInitDialog() {
  CTuningTestDlg::OnInitDialog();
  RefreshAllParameters();
  SetChildImage(tuning::kPicture, "3015");
  SetChildText(tuning::kProcedure, kProcedureText);
  InitPages();
  LoadProgram(m_positioning, kPositioningProgram);
  LoadProgram(m_program, kProgram);
  CreateLogger(&m_program);
  CMC_SingleAxisLogger& logger = *Logger();
  logger.ChangeSettings(100, 2, 1);
  logger.AddVariable("Current_Reference", 1);
  logger.AddVariable("Motor_Current", 1);
  logger.AddVariable("Voltage_Reference", 1);
  logger.CorrectPointsNo();
  CCurveSet& curves = logger.GetPlotDocument().GetCurveSet(0);
  curves.AddCurve(CXYCurve(0, kReferenceColumn, 1, RGB16(2), 2));
  curves.AddCurve(CXYCurve(0, kVoltageColumn, 2, RGB16(8), 2));
  curves.AddCurve(CXYCurve(0, kCurrentColumn, 1, RGB16(5), 2));
  BindGraph();
  SetGraphName("CurrentTuning");
  SetChildText(kStepFigures, "");
  return true;
}

void CTestCurrent::DoDataExchange(bool save) {
  CTuningTestDlg::DoDataExchange(save);
  if (save) return;
  const CMC_Setup& setup = Setup();
  const bool testPage = Page() == 1;
  ExchangeRunState();
  const bool filter = testPage && setup.GetParameterValueInBaseUnit("isUseFilterOnCrtCtrlOutput") != 0.0;
  for (int id : {3139, 3140, 3141}) ShowChild(id, filter);
  const bool offset = testPage && setup.GetParameterValueInBaseUnit("isCompensateGravitationalLoads") != 0.0;
  for (int id : {3144, 3145, 3146}) ShowChild(id, offset);
}

bool CTestCurrent::MayEnterTestPage() {
  const CMC_Setup& setup = Setup();
  if (setup.GetParameterValueInBaseUnit("TestCurrent") <= setup.GetParameterValueInBaseUnit("TestProtectionCurrent"))
    return true;
  MessageBox(kProtectionBelowTest);
  return false;
}

void CTestCurrent::OnChangedParameterValue(const char* name) {
  CMC_Setup& setup = Setup();
  if (Is(name, "OffsetCurrent")) {
    RunEncodeStep(setup, "FFL");
  } else if (Is(name, "FilterOnCurrentControllerOutput")) {
    RunEncodeStep(setup, "FILTERQ");
  }
  CTuningTestDlg::OnChangedParameterValue(name);
}

bool CTestCurrent::OnCommand(int id) {
  CMC_Setup& setup = Setup();
  switch (id) {
    case kTune:
      Tune();
      return true;
    case kFilterCheck:
    case kOffsetCheck:
      RunEncodeStep(setup, "FILTERQ");
      RunEncodeStep(setup, "FFL");
      RunDecodeStep(setup, "OffsetCurrent");
      UpdateData(false);
      RefreshAllParameters();
      return true;
    case 1368:
    case 1369:
      if (UpdateData(true)) UpdateData(false);
      return true;
    default:
      return CTuningTestDlg::OnCommand(id);
  }
}

void CTestCurrent::Tune() {
  CMC_Setup& setup = Setup();
  DesignCurrentController(setup);
  for (const char* name : {"KPI", "KII", "SFTKPI", "SFTKII"}) RunEncodeStep(setup, name);
  // The gains shown are the ones the registers hold.
  RunDecodeStep(setup, "Ki_C_scl");
  RunDecodeStep(setup, "Kp_C_scl");
  WriteTunedGainsWhileRunning();
  RefreshAllParameters();
  // The tuned loop's margins as the drive runs it, until a run's figures.
  if (const LoopMargins margins = ComputeLoopMargins(setup, TunedLoop::Current); margins.valid)
    SetChildText(kStepFigures, "Tuned (model): " + FormatMargins(margins));
}

void CTestCurrent::BeginTest() {
  CMC_Setup& setup = Setup();
  RefreshAllParameters();
  RunEncodeStep(setup, "FILTERQ");
  RunEncodeStep(setup, "FFL");
  RunDecodeStep(setup, "OffsetCurrent");
  m_testCurrent = std::trunc(setup.GetParameterValueInInternalUnit("TestCurrent"));
  StartRun();
  SetInfoText(tuning::kStatusTexts[0]);
  LaunchPositioning(m_positioning, m_testCurrent, tuning::kStatusTexts[1]);
}

void CTestCurrent::LaunchTuningProgram() {
  const CMC_Setup& setup = Setup();
  const double current = Int16(setup.GetParameterValueInInternalUnit("TestCurrent"));
  const double protection = Int16(setup.GetParameterValueInInternalUnit("TestProtectionCurrent"));
  if (!WriteProgramInput(m_program, "RefTest", m_refTest) || !WriteProgramInput(m_program, "RIncTest", m_rIncTest) ||
      !WriteProgramInput(m_program, "In1", current) || !WriteProgramInput(m_program, "Imax_Prot_Test", protection))
    return;
  if (!Launch(kProgram, &m_program, Logger())) return;
  SetInfoText(tuning::kStatusTexts[3]);
  ArmTimer();
}

void CTestCurrent::OnRunTimer() {
  switch (m_wStep) {
    case 2:
      if (PositioningEnded(m_positioning, kDriveErrorMask, m_refTest, m_rIncTest, tuning::kStatusTexts[2]))
        LaunchTuningProgram();
      return;
    case 3:
      LaunchTuningProgram();
      return;
    case 4:
      if (WaitForProgram(m_program, kDriveErrorMask) != Wait::Finished) return;
      EvaluateRun();
      return;
    case 5:
      DrawAndFinish();
      return;
    default:
      Fail(CMC_TestDlg::msc_pszErrInternal);
      return;
  }
}

void CTestCurrent::EvaluateRun() {
  double testFlag = 0.0;
  if (!ReadProgramOutput(m_program, "test_flag", testFlag)) return;
  if (testFlag == kNotDelivered) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  if (testFlag <= 0.0) {
    Fail(tuning::kProtectionTripped);
    return;
  }
  if (Logger() == nullptr || Logger()->BeginUploadData() == 0) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  Graph().Invalidate();
  SetInfoText(tuning::kStatusTexts[4]);
  DrawAndFinish();
}

void CTestCurrent::DrawAndFinish() {
  // The prediction of the last run does not belong to this one.
  Logger()->GetPlotDocument().SetOverlay({});
  if (DrawLoggedPoints() == Drawing::Abandoned) return;
  ShowStepResponse();
  TestSucceeded(1);
}

void CTestCurrent::ShowStepResponse() {
  const CGraphDocument& graph = Logger()->GetPlotDocument();
  const std::vector<double> time = graph.Column(0);
  m_measured = MeasureStep(time, graph.Column(kReferenceColumn), graph.Column(kCurrentColumn));
  m_predicted = StepFigures();
  m_voltageAtLimit = 0;
  if (m_measured.valid) {
    // The prediction runs on the logged samples from the step on.
    const auto first = std::lower_bound(time.begin(), time.end(), m_measured.stepTime_s);
    const std::vector<double> after(first, time.end());
    m_voltageAtLimit = SamplesAtLimit(graph.Column(kVoltageColumn), static_cast<std::size_t>(first - time.begin()));
    const double amplitude = m_measured.final - m_measured.initial;
    SampledLoopResponse loop;
    // The drive loads the voltage it computed at the next period's start.
    if (after.size() > 1 && PredictCurrentLoop(Setup(), 1, static_cast<int>(after.size()), loop)) {
      m_predicted = MeasurePredictedStep(loop, amplitude, m_measured.stepTime_s);
      axcore::PlotCurve predicted;
      predicted.name = "Model";
      predicted.axis = axcore::PlotAxisId::Left;
      predicted.colour = RGB16(5);
      predicted.style = axcore::LineStyle::Dashed;
      predicted.x = after;
      for (double y : loop.step) predicted.y.push_back(m_measured.initial + amplitude * y);
      Logger()->GetPlotDocument().SetOverlay({predicted});
      Graph().RefreshGraph();
    }
  }
  const CMC_Variable* current = FindVariableQuiet(Setup(), "Motor_Current");
  const char* unit = current ? current->GetUnit() : "";
  std::string text = FormatStepFigures(m_measured, unit);
  if (m_measured.valid && m_predicted.valid) text = CompareFigureLines(text, FormatStepFigures(m_predicted, unit));
  if (m_voltageAtLimit > 0)
    text += "\nVoltage at its limit for " + std::to_string(m_voltageAtLimit) +
            " samples: slower than the model; lower the test current or the passband";
  SetChildText(kStepFigures, text);
}

void CTestCurrent::OnOK() {
  CTuningTestDlg::OnOK();
  KeepTestProtectionCurrent();
}
