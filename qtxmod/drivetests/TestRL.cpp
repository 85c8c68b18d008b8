#include "TestRL.h"

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "Scales.h"
#include "axcore/HostFunctions.h"
#include "axcore/Setup.h"

namespace {

constexpr const char* kResistance = "Ident_R_or_Rs";
constexpr const char* kInductance = "Ident_L_or_Tau_el";

// The status texts by step.
const char* const kTexts[] = {
    "Launching code for preliminary test (1)",
    "Waiting preliminary test to be finished (1)",
    "Launching code for R test (1)",
    "Waiting R test to be finished (1)",
    "Launching code for preliminary test (2)",
    "Waiting preliminary test to be finished (2)",
    "Launching code for R test (2)",
    "Waiting R test to be finished (2)",
    "Launching code for L test",
    "Waiting L test to be finished",
};
constexpr int kStatusTexts = 10;

constexpr int kREdit = 1002;
constexpr int kLEdit = 1003;
constexpr int kTestCurrentEdit = 1005;
constexpr int kTestCurrentUnit = 1017;
constexpr int kRUnit = 3128;
constexpr int kLUnit = 3129;

constexpr unsigned kDriveErrors = 0x8002;
// Each run logs this many points, one every period of its log type.
constexpr int kLogPoints = 400;
// The logger's own kinds of period: speed-loop periods (the first
// resistance run) and current-loop periods (the others).
constexpr int kSpeedLoopPeriods = 1;
constexpr int kCurrentLoopPeriods = 2;
// The turning voltage's angle counts 65535 steps a turn.
constexpr double kAngleStepsPerTurn = 65535.0;

}  // namespace

CTestRL::CTestRL(CMC_Setup* setup, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, kResourceId, 1, parent), m_logger(std::make_unique<CMC_SingleAxisLogger>(setup)) {
  m_wLastStep = kStatusTexts;
  AddParameterControls("R", kREdit, kRUnit);
  AddParameterControls("L", kLEdit, kLUnit);
  AddParameterControls("TestCurrent", kTestCurrentEdit, kTestCurrentUnit);
}

CTestRL::~CTestRL() { RestoreVdc(); }

void CTestRL::RestoreVdc() {
  if (m_opened) Setup().SetParameterValueInBaseUnit("Vdc", m_oldVdc);
}

bool CTestRL::OnInitDialog() {
  const CMC_Setup& setup = Setup();
  m_oldVdc = setup.GetParameterValueInBaseUnit("Vdc");
  m_oldR = setup.GetParameterValueInBaseUnit("R");
  m_oldL = setup.GetParameterValueInBaseUnit("L");
  m_opened = true;
  LoadProgram(m_positioning, kPositioningProgram);
  LoadProgram(m_resistance, kResistance);
  LoadProgram(m_inductance, kInductance);
  CMyTestDlg::OnInitDialog();
  // The fields of the results stay empty until a run has found them.
  EmptyResults();
  return true;
}

void CTestRL::EmptyResults() {
  SetChildText(kREdit, "");
  SetChildText(kLEdit, "");
  for (int unit : {kRUnit, kLUnit}) {
    if (ControlState* combo = MutableControl(unit); combo != nullptr && combo->selection != -1) {
      combo->selection = -1;
      Changed(unit);
    }
  }
}

void CTestRL::BeginTest() {
  EmptyResults();
  StartRun();
  m_testCurrent = static_cast<long>(std::trunc(Setup().GetParameterValueInInternalUnit("TestCurrent")));
  SetInfoText(kTexts[0]);
  LaunchPositioning(m_positioning, static_cast<double>(m_testCurrent), kTexts[1]);
}

void CTestRL::LaunchResistanceRun(long current, int logType) {
  if (!WriteProgramInput(m_resistance, "RefTest", m_refTest) ||
      !WriteProgramInput(m_resistance, "RIncTest", m_rIncTest) ||
      !WriteProgramInput(m_resistance, "In1", static_cast<double>(current)))
    return;
  // The logger is kept from Start to Start: each run sets it afresh.
  m_logger->Reset();
  m_logger->ChangeSettings(kLogPoints, logType, 1);
  m_logger->AddVariable("IQ", 0);
  if (!Launch(kResistance, &m_resistance, m_logger.get())) return;
  SetInfoText(kTexts[m_wStep]);
  ArmTimer();
}

void CTestRL::LaunchInductanceRun() {
  if (!WriteProgramInput(m_inductance, "In1", static_cast<double>(m_testCurrent))) return;
  m_logger->Reset();
  m_logger->ChangeSettings(kLogPoints, kCurrentLoopPeriods, 1);
  m_logger->AddVariable("IQ", 0);
  m_logger->AddVariable("ID", 0);
  if (!Launch(kInductance, &m_inductance, m_logger.get())) return;
  SetInfoText(kTexts[m_wStep]);
  ArmTimer();
}

void CTestRL::OnRunTimer() {
  // Each launch step follows its wait in the same timer message; a timer
  // message that finds a launch step launches again.
  switch (m_wStep) {
    case 2:
      if (!PositioningEnded(m_positioning, kDriveErrors, m_refTest, m_rIncTest, kTexts[2])) return;
      [[fallthrough]];
    case 3:
      LaunchResistanceRun(m_testCurrent, kSpeedLoopPeriods);
      return;
    case 4:
      if (WaitForProgram(m_resistance, kDriveErrors) != Wait::Finished) return;
      if (!TakeFirstResistanceRun()) return;
      SetInfoText(kTexts[4]);
      [[fallthrough]];
    case 5:
      // Half the test current (truncated): the second point of the line.
      LaunchPositioning(m_positioning, static_cast<double>(m_testCurrent / 2), kTexts[m_wStep]);
      return;
    case 6:
      if (!PositioningEnded(m_positioning, kDriveErrors, m_refTest, m_rIncTest, kTexts[6])) return;
      [[fallthrough]];
    case 7:
      LaunchResistanceRun(m_testCurrent / 2, kCurrentLoopPeriods);
      return;
    case 8:
      if (WaitForProgram(m_resistance, kDriveErrors) != Wait::Finished) return;
      if (!TakeSecondResistanceRun()) return;
      SetInfoText(kTexts[8]);
      [[fallthrough]];
    case 9:
      LaunchInductanceRun();
      return;
    case 10:
      if (WaitForProgram(m_inductance, kDriveErrors) != Wait::Finished) return;
      TakeInductanceRun();
      return;
    default:
      TestFailed(1);
  }
}

bool CTestRL::LoggedMean(int column, double& mean) {
  std::vector<std::vector<double>> points;
  if (!UploadPoints(*m_logger, points)) return false;
  RunningMean running;
  for (const std::vector<double>& point : points)
    if (static_cast<std::size_t>(column) < point.size()) running.Add(point[static_cast<std::size_t>(column)]);
  if (running.Empty()) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return false;
  }
  mean = running.mean;
  return true;
}

bool CTestRL::Plausible(double value) {
  if (IsPositiveFinite(value)) return true;
  Fail(CMC_TestDlg::msc_pszErrInternal);
  return false;
}

bool CTestRL::TakeFirstResistanceRun() {
  return ReadDriveVariable("var_i1", false, m_v1) && LoggedMean(0, m_i1);
}

bool CTestRL::TakeSecondResistanceRun() {
  double reading = 0.0;
  if (!ReadDriveVariable("var_i1", false, m_v2) || !ReadDriveVariable("var_u2", false, reading) ||
      !LoggedMean(0, m_i2))
    return false;
  CMC_Setup& setup = Setup();
  // The supply the voltage commands are a fraction of, as the drive measured it.
  const double vdc =
      setup.GetParameterValueInBaseUnit("VdcMaxMeasurable") * reading / static_cast<double>(Compute_ADCMaxValue(&setup));
  if (const std::string fault = SupplyRangeFault(setup); !IsPositiveFinite(vdc) && !fault.empty()) {
    Fail(fault.c_str());
    return false;
  }
  if (!Plausible(vdc)) return false;
  setup.SetParameterValueInBaseUnit("Vdc", vdc);
  // Equal currents leave no line to take the slope of.
  if (m_i1 == m_i2) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return false;
  }
  m_r = (m_v1 - m_v2) / (m_i1 - m_i2) / VoltageCommandScale(setup) * CurrentScale(setup);
  return Plausible(m_r);
}

bool CTestRL::TakeInductanceRun() {
  double amplitude = 0.0, increment = 0.0;
  if (!ReadDriveVariable("var_i1", true, amplitude) || !ReadDriveVariable("TINCTST", true, increment)) return false;
  std::vector<std::vector<double>> points;
  if (!UploadPoints(*m_logger, points)) return false;
  RunningMean lagging, squared;
  for (const std::vector<double>& point : points) {
    if (point.size() < 2) continue;
    lagging.Add(point[1]);
    squared.Add(point[1] * point[1] + point[0] * point[0]);
  }
  if (lagging.Empty()) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return false;
  }
  CMC_Setup& setup = Setup();
  const double omega = increment * 2.0 * std::numbers::pi / (kAngleStepsPerTurn * CurrentLoopPeriod(setup));
  if (!Plausible(omega) || !Plausible(squared.mean)) return false;
  m_l = lagging.mean * amplitude / (omega * squared.mean) * CurrentScale(setup) / VoltageCommandScale(setup);
  if (!Plausible(m_l)) return false;
  // The drive sees a delta winding as its equivalent star, a third of each
  // winding's resistance and inductance.
  if (setup.GetParameterValueInBaseUnit("MotorPhaseConnectionType") == 1.0) {
    m_r *= 3.0;
    m_l *= 3.0;
  }
  if (setup.FindParameter("L") == nullptr || setup.FindParameter("R") == nullptr) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return false;
  }
  m_stored = true;
  if (!StoreResult("L", m_l, m_l) || !StoreResult("R", m_r, m_r)) return false;
  TestSucceeded(1);
  return true;
}

void CTestRL::OnCancel() {
  RestoreVdc();
  // Asked after a run that stored its results, also when a later run has
  // failed or was stopped: the setup holds the new values all the same.
  if (m_stored) {
    const double r = Setup().GetParameterValueInBaseUnit("R"), l = Setup().GetParameterValueInBaseUnit("L");
    std::vector<std::string> changes;
    if (r != m_oldR) changes.push_back(ChangeLine("Phase resistance", "%g", m_oldR, r));
    if (l != m_oldL) changes.push_back(ChangeLine("Phase inductance", "%g", m_oldL, l));
    if (!changes.empty()) {
      switch (AskToKeep(changes)) {
        case IDYES:
          EndDialog(1);
          return;
        case IDCANCEL:
          return;
        default:
          // Declined: the values the dialog opened with come back, so that
          // the caller's OK does not save what the user refused.
          Setup().SetParameterValueInBaseUnit("R", m_oldR);
          Setup().SetParameterValueInBaseUnit("L", m_oldL);
          EndDialog(2);
          return;
      }
    }
  }
  CMyTestDlg::OnCancel();
}
