#include "TestPhaseConnections.h"

#include <cmath>
#include <cstring>

#include "Scales.h"
#include "axcore/HostFunctions.h"
#include "axcore/Setup.h"

namespace {

constexpr const char* kProgram = "Motor_Phase_Connection_Test";

// The status texts by step, then the failure message.
const char* const kTexts[] = {
    "Launching the application for preliminary test",
    "Waiting preliminary test to be finished",
    "Launching the application for test",
    "Running test",
    "Finished test",
    "Possible causes of failure:\n\t- one of the motor phases is disconnected\n\t- the motor phases are unbalanced "
    "(they do not have the same resistance)\n\t- the test current isn't high enough.\nPlease check the motor phase "
    "connections to the drive and repeat the test. If the test fails and the connections are OK, increase the test "
    "current value.",
};
constexpr int kStatusTexts = 5;
constexpr int kFailureText = 5;

constexpr int kTestCurrentEdit = 1005;
constexpr int kTestCurrentUnit = 1017;
constexpr int kPhaseAEdit = 1020;
constexpr int kPhaseABar = 1021;
constexpr int kPhaseBEdit = 1022;
constexpr int kPhaseBBar = 1023;

// Both programs either run or have failed: a short circuit or a disabled
// drive stops them.
constexpr unsigned kDriveErrors = 0x8002;

}  // namespace

CTestPhaseConnections::CTestPhaseConnections(CMC_Setup* setup, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, kResourceId, 1, parent) {
  m_wLastStep = kStatusTexts;
  TakeTestCurrent();
  AddParameterControls("TestCurrent", kTestCurrentEdit, kTestCurrentUnit);
}

bool CTestPhaseConnections::CurrentsSound(double ia, double ib, double itest) {
  if (ib == 0.0) return false;
  const double ratio = std::fabs(ia / ib);
  return ratio > 1.5 && ratio < 2.5 && ia > 0.6 * itest && ia < 1.4 * itest && ia > 0.0 && ib < 0.0;
}

void CTestPhaseConnections::TakeTestCurrent() {
  m_testCurrent = static_cast<long>(std::trunc(Setup().GetParameterValueInInternalUnit("TestCurrent")));
}

double CTestPhaseConnections::TestCurrentAmperes() const {
  return static_cast<double>(m_testCurrent) / CurrentScale(Setup());
}

void CTestPhaseConnections::ShowBars() {
  const double itest = TestCurrentAmperes();
  for (CBarGraph* bar : {&m_barA, &m_barB}) {
    bar->SetLeftLimit(-1.5 * itest);
    bar->SetRightLimit(1.5 * itest);
  }
  m_barA.SetCurrentValue(m_ia);
  m_barB.SetCurrentValue(m_ib);
  m_barA.Repaint();
  m_barB.Repaint();
}

bool CTestPhaseConnections::OnInitDialog() {
  m_barA.SubclassDlgItem(kPhaseABar, this);
  m_barB.SubclassDlgItem(kPhaseBBar, this);
  for (CBarGraph* bar : {&m_barA, &m_barB}) bar->SetFormat("%.3G");
  ShowBars();
  LoadProgram(m_positioning, kPositioningProgram);
  LoadProgram(m_program, kProgram);
  return CMyTestDlg::OnInitDialog();
}

void CTestPhaseConnections::DoDataExchange(bool save) {
  CMyTestDlg::DoDataExchange(save);
  if (save) return;
  m_barA.SetCurrentValue(m_ia);
  m_barB.SetCurrentValue(m_ib);
  m_barA.Repaint();
  m_barB.Repaint();
}

void CTestPhaseConnections::OnChangedParameterValue(const char* name) {
  if (name != nullptr && std::strcmp(name, "TestCurrent") == 0) TakeTestCurrent();
  CMyTestDlg::OnChangedParameterValue(name);
}

void CTestPhaseConnections::BeginTest() {
  m_ia = m_ib = 0.0;
  SetChildText(kPhaseAEdit, "");
  SetChildText(kPhaseBEdit, "");
  ShowBars();
  StartRun();
  SetInfoText(kTexts[0]);
  LaunchPositioning(m_positioning, static_cast<double>(m_testCurrent), kTexts[1]);
}

void CTestPhaseConnections::OnRunTimer() {
  switch (m_wStep) {
    case 2:
      if (PositioningEnded(m_positioning, kDriveErrors, m_refTest, m_rIncTest, kTexts[2])) LaunchMainProgram();
      return;
    case 3:
      LaunchMainProgram();
      return;
    case 4:
      if (WaitForProgram(m_program, kDriveErrors) != Wait::Finished) return;
      Evaluate();
      return;
    default:
      TestFailed(1);
  }
}

void CTestPhaseConnections::LaunchMainProgram() {
  if (!WriteProgramInput(m_program, "RefTest", m_refTest) || !WriteProgramInput(m_program, "RIncTest", m_rIncTest))
    return;
  if (!Launch(kProgram, &m_program, nullptr)) return;
  SetInfoText(kTexts[3]);
  ArmTimer();
}

void CTestPhaseConnections::Evaluate() {
  double a = 0.0, b = 0.0;
  if (!ReadDriveVariable("var_i1", true, a) || !ReadDriveVariable("var_i2", true, b)) return;
  const double scale = CurrentScale(Setup());
  m_ia = RoundDecimalValue(a / scale, 2);
  m_ib = RoundDecimalValue(b / scale, 2);
  SetChildText(kPhaseAEdit, Format("%.3G", m_ia));
  SetChildText(kPhaseBEdit, Format("%.3G", m_ib));
  SetInfoText(kTexts[4]);
  m_barA.SetCurrentValue(m_ia);
  m_barB.SetCurrentValue(m_ib);
  m_barA.Repaint();
  m_barB.Repaint();
  if (!CurrentsSound(m_ia, m_ib, TestCurrentAmperes())) {
    Fail(kTexts[kFailureText]);
    return;
  }
  TestSucceeded(1);
}
