#include "TotalMassTest.h"

#include <cmath>
#include <string>

#include "FeatureProbes.h"
#include "Scales.h"
#include "axcore/Setup.h"

namespace {

constexpr int kMassEdit = 3263;

constexpr const char* kMassProgram = "Total_Mass_Identification_Test";

// The positioning may legitimately end with the axis disabled by nothing
// but a short circuit or the ENABLE input; during the mass run every error
// the drive reports on ends the test.
constexpr unsigned kPositioningMask = 0x8002;
constexpr unsigned kMassMask = 0xFFFF;

// The status text of each step, then the failure messages, in one table.
constexpr const char* kTexts[] = {
    "Launching code for preliminary test",
    "Waiting preliminary test to be finished",
    "Launching code for M test",
    "Waiting M test to be finished",
    "",  // 4 to 6: no text
    "",
    "",
    "When a POSITIVE force level is applied to the motor, the measured speed is NEGATIVE.\n"
    "Possible causes of failure:\n"
    "\t\tThe current controller is not tuned;\n"
    "\t\tThe encoder signals are reversed;\n"
    "\t\tCheck the current controller tuning;\n"
    "\t\tUse the test <<Detect number of lines>> to verify the encoder counting direction;\n"
    "\t\tCheck if the motor nominal current was correctly set",
    "When a POSITIVE force level is applied to the motor, the measured speed is NEGATIVE.\n"
    "Possible causes of failure:\n"
    "\t\tThe current controller is not tuned;\n"
    "\t\tThe encoder signals are reversed;\n"
    "\t\tCheck the current controller tuning;\n"
    "\t\tUse the test <<Detect number of lines>> to verify the encoder counting direction;\n"
    "\t\tCheck if the motor nominal current was correctly set.",
    "When trying to apply POSITIVE force to the motor, the measured speed is ZERO, or the reference force cannot be "
    "reached!\n"
    "Possible causes of failure:\n"
    "\t\tThe current controller is not tuned;\n"
    "\t\tThe encoder signals are missing;\n"
    "\t\tThe DC voltage level is not high enough;\n"
    "\t\tCheck the current controller tuning;\n"
    "\t\tUse the encoder <<Test connections>> to verify presence of the encoder signals\n"
    "\t\tCheck if the motor nominal current was correctly set.\n"
    "\t\tTry to decrease the test current.",
    "The motor does not reach the programmed speed level!\n"
    "You may have a problem with the encoder or the initial positioning is not performed correctly. Check the encoder "
    "and motor connections. If these are OK, try to increase the test current.",
};
constexpr unsigned short kStatusTexts = 4;
constexpr int kReversed = 7;       // the motor moved against the force
constexpr int kReversedTimed = 8;  // the same, seen by the timing
constexpr int kNoSpeed = 9;        // no speed, or the force was not reached
constexpr int kSpeedNotReached = 10;

constexpr const char* kProtectionBelowTest = "I protection must be greater or equal to Test current.";

}  // namespace

CTotalMassTest::CTotalMassTest(CMC_Setup* setup, CMC_EditSetupDlg* parent) : CMyTestDlg(setup, kResourceId, 1, parent) {
  m_wLastStep = kStatusTexts;
  AddParameterControls("TestMaxSpeed", 3267, 3268);
  AddParameterControls("Mt", kMassEdit, 3264);
  AddParameterControls("TestCurrent", 1005, 1017);
  AddParameterControls("TestProtectionCurrent", 3265, 3266);
}

bool CTotalMassTest::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  // No mass is shown until this dialog has measured one.
  SetChildText(kMassEdit, "");
  LoadProgram(m_massProgram, kMassProgram);
  LoadProgram(m_positioning, kPositioningProgram);
  m_oldMass = Setup().GetParameterValueInBaseUnit("Mt");
  m_newMass = m_oldMass;
  return true;
}

bool CTotalMassTest::OnCommand(int id) {
  if (id != kStartStop) return CMyTestDlg::OnCommand(id);
  // The program's own over-current protection would trip on the test
  // current itself.
  const CMC_Setup& setup = Setup();
  if (m_bTestRunning == 0 &&
      setup.GetParameterValueInBaseUnit("TestCurrent") > setup.GetParameterValueInBaseUnit("TestProtectionCurrent")) {
    MessageBox(kProtectionBelowTest);
    return true;
  }
  OnBtnStartStop();
  return true;
}

void CTotalMassTest::BeginTest() {
  RefreshAllParameters();
  SetChildText(kMassEdit, "");
  m_testCurrent = std::trunc(Setup().GetParameterValueInInternalUnit("TestCurrent"));
  StartRun();
  SetInfoText(kTexts[0]);
  LaunchPositioning(m_positioning, m_testCurrent, kTexts[1]);
}

void CTotalMassTest::LaunchMassProgram() {
  const CMC_Setup& setup = Setup();
  const double speedLimit = std::trunc(setup.GetParameterValueInInternalUnit("TestMaxSpeed"));
  const double protection = std::trunc(setup.GetParameterValueInInternalUnit("TestProtectionCurrent"));
  if (!WriteProgramInput(m_massProgram, "RefTest", m_refTest) ||
      !WriteProgramInput(m_massProgram, "RIncTest", m_rIncTest) ||
      !WriteProgramInput(m_massProgram, "In1", m_testCurrent) ||
      !WriteProgramInput(m_massProgram, "LimitSpeedMax", speedLimit) ||
      !WriteProgramInput(m_massProgram, "Imax_Prot_Test", protection))
    return;
  if (!Launch(kMassProgram, &m_massProgram, nullptr)) return;
  SetInfoText(kTexts[3]);
  ArmTimer();
}

void CTotalMassTest::OnRunTimer() {
  switch (m_wStep) {
    case 2:
      if (PositioningEnded(m_positioning, kPositioningMask, m_refTest, m_rIncTest, kTexts[2])) LaunchMassProgram();
      return;
    case 3:
      LaunchMassProgram();
      return;
    case 4:
      if (WaitForProgram(m_massProgram, kMassMask) != Wait::Finished) return;
      EvaluateMassRun();
      return;
    default:
      return;
  }
}

void CTotalMassTest::EvaluateMassRun() {
  double testFlag = 0.0, deltaTime = 0.0, deltaSpeed = 0.0;
  if (!ReadProgramOutput(m_massProgram, "test_flag", testFlag) ||
      !ReadProgramOutput(m_massProgram, "delta_time", deltaTime) ||
      !ReadProgramOutput(m_massProgram, "delta_speed", deltaSpeed))
    return;
  // An output the program did not deliver (it stopped before measuring)
  // would pass for a number: 1.2345e100 over 1.2345e100 looks like a mass.
  if (testFlag == kNotDelivered) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  if (testFlag <= 0.0) {
    Fail(kTexts[kReversed]);
    return;
  }
  if (deltaTime == kNotDelivered) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  if (deltaTime <= 0.0) {
    Fail(kTexts[deltaTime == -1.0 ? kReversedTimed : deltaTime == -2.0 ? kNoSpeed : kSpeedNotReached]);
    return;
  }
  // Force constant x current = mass x speed step / time, each quantity
  // turned from drive units into base units by the drive's own scales.
  // Without a force constant or a speed step there is no mass to compute.
  const CMC_Parameter* forceConstant = FindParameterQuiet(Setup(), "Kf");
  const double kf = forceConstant != nullptr ? forceConstant->GetValueInBaseUnit() : 0.0;
  if (kf == 0.0 || deltaSpeed == 0.0 || deltaSpeed == kNotDelivered) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  const CMC_Setup& setup = Setup();
  const double mass = (MotorSpeedScale(setup) / CurrentScale(setup)) * deltaTime * SpeedLoopPeriod(setup) * kf /
                      deltaSpeed * m_testCurrent;
  // A speed step against the force (or a negative force constant) gives
  // no mass to keep.
  if (!IsPositiveFinite(mass)) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  if (!StoreResult("Mt", mass, m_newMass)) return;
  RefreshAllParameters();
  TestSucceeded(1);
}

void CTotalMassTest::OnCancel() {
  const std::string oldText = Format("%g", m_oldMass);
  const std::string newText = Format("%g", m_newMass);
  if (m_nTestResult != 1 || oldText == newText) {
    CMyTestDlg::OnCancel();
    return;
  }
  switch (AskToKeep({ChangeLine("Total mass", "%g", m_oldMass, m_newMass)})) {
    case IDYES:
      EndDialog(1);
      return;
    case IDNO:
      Setup().SetParameterValueInBaseUnit("Mt", m_oldMass);
      EndDialog(2);
      return;
    default:
      return;  // Cancel: the dialog stays open
  }
}

void CTotalMassTest::OnOK() {
  CMyTestDlg::OnOK();
  KeepTestProtectionCurrent();
}
