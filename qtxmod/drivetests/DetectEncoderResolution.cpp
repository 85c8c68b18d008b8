#include "DetectEncoderResolution.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "CodecSteps.h"
#include "FeatureProbes.h"
#include "axcore/Comm.h"
#include "axcore/HostFunctions.h"

namespace {

constexpr const char* kProgram = "Encoder_Resolution_And_Direction_Test";
// Status texts by step, then the test's failure messages.
const char* const kTexts[] = {
    "Launching code for the preliminary test",
    "Running preliminary test",
    "Launching code for the encoder resolution and direction test",
    "Waiting for the test to complete",
    "Processing test results",
    "Test finished",
    "Check if during test the motor shaft is turning. If YES, check the encoder connections and power supply, "
    "otherwise, check the motor phases connection, if these are OK, try also to increase the test current.",
};
constexpr std::uint16_t kStatusTexts = 6;
constexpr int kNoCount = 6;

constexpr const char* kResolution = "EncRes";
constexpr const char* kReverseCounting = "ReverseCounting";
constexpr int kEncoderDiagram = 1024;
constexpr int kPhaseDiagram = 1025;
constexpr int kTestCurrentEdit = 1005;
constexpr int kTestCurrentUnit = 1017;
constexpr int kResolutionEdit = 3352;
constexpr int kResolutionUnit = 3351;
constexpr int kPositionCounter = 3131;
constexpr int kReverseCountingCheck = 3357;
// Both programs drive current: a short circuit or a disabled drive ends them.
constexpr unsigned kDriveErrorMask = 0x8002;
// The display follows the moving motor more often than the usual poll.
constexpr int kMotionPoll_ms = 10;

}  // namespace

CDetectEncoderResolution::CDetectEncoderResolution(CMC_Setup* setup, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, kResourceId, 0, parent) {
  // The candidate takes the setup's period with its units and range, so the
  // period found obeys the same bounds and is shown the way the user reads
  // the setup's.
  ParameterSpec spec;
  spec.name = kResolution;
  spec.unit = "m";
  spec.shown = "µm";
  if (const CMC_Parameter* period = FindParameterQuiet(*setup, kResolution); period != nullptr) {
    spec.unit = period->GetUnit();
    spec.shown = period->GetShownUnit().GetName();
    spec.value = period->GetValueInBaseUnit();
    if (period->HasMin()) spec.min = period->GetMinInBaseUnit();
    if (period->HasMax()) spec.max = period->GetMaxInBaseUnit();
  }
  m_candidate = m_ownParameters.AddParameter(spec);
  m_wLastStep = kStatusTexts;
  AddParameterControls("TestCurrent", kTestCurrentEdit, kTestCurrentUnit);
  AddUserParameterControls(m_candidate, kResolutionEdit, kResolutionUnit);
  if (HasReverseCounting(*setup)) AddCheckParameterControls(kReverseCounting, kReverseCountingCheck);
}

bool CDetectEncoderResolution::OnInitDialog() {
  m_encoder.SubclassDlgItem(kEncoderDiagram, this);
  m_encoder.EnableWindow(true);
  m_phase.SubclassDlgItem(kPhaseDiagram, this);
  m_phase.EnableWindow(true);
  LoadProgram(m_positioning, kPositioningProgram);
  LoadProgram(m_program, kProgram);
  CMyTestDlg::OnInitDialog();
  EnableChild(kReverseCountingCheck, HasReverseCounting(Setup()));
  return true;
}

bool CDetectEncoderResolution::OnCommand(int id) {
  // The bound check box has stored the choice in the setup already; it is
  // kept here too, for the caller to take over when the test is closed.
  if (id == kReverseCountingCheck && HasReverseCounting(Setup())) {
    m_nReverseCounting = Setup().GetParameterValueInBaseUnit(kReverseCounting) == 1.0 ? 1 : 0;
    return true;
  }
  return CMyTestDlg::OnCommand(id);
}

bool CDetectEncoderResolution::SendCountingDirection() {
  CMC_Setup& setup = Setup();
  if (!HasReverseCounting(setup)) return true;
  RunEncodeStep(setup, "COUNTINGDIR");
  CMC_Parameter* direction = FindParameterQuiet(setup, "COUNTINGDIR");
  if (direction == nullptr) return true;
  // The drive counts the way the user has just chosen, so that a run after
  // ticking the box measures with it.
  const int value = direction->GetValueInInternalUnit() == 1.0 ? 1 : 0;
  if (value == m_sentCountingDir) return true;
  if (direction->WriteToChip() == 0) {
    Fail(CMC_Comm::GetLastErrorText());
    return false;
  }
  m_sentCountingDir = value;
  return true;
}

void CDetectEncoderResolution::BeginTest() {
  SetChildText(kResolutionEdit, "");
  SetChildText(kPositionCounter, "");
  // The diagram spans one pole pitch of encoder lines either way.
  const CMC_Setup& setup = Setup();
  const long bound = std::max<long>(1, TruncateCount(setup.GetParameterValueInInternalUnit("PolePitch") /
                                                     setup.GetParameterValueInInternalUnit(kResolution)));
  m_encoder.SetLimits(-bound, bound);
  m_encoder.SetPosition(0);
  m_encoder.Repaint();

  StartRun();
  m_sentCountingDir = -1;
  SetInfoText(kTexts[0]);
  if (!SendCountingDirection()) return;
  const double current = std::trunc(Setup().GetParameterValueInInternalUnit("TestCurrent"));
  LaunchPositioning(m_positioning, current, kTexts[1]);
}

void CDetectEncoderResolution::OnRunTimer() {
  if (!SendCountingDirection()) return;
  switch (m_wStep) {
    case 2:
      TakePositioning();
      return;
    case 4:
      FollowMotion();
      return;
    case 5:
      Evaluate();
      return;
    default:
      TestFailed(1);
      return;
  }
}

void CDetectEncoderResolution::TakePositioning() {
  // Only a current of exactly 0 fails here.
  double refTest = 0.0, rIncTest = 0.0;
  if (!PositioningEnded(m_positioning, kDriveErrorMask, refTest, rIncTest, kTexts[2], true)) return;
  if (!WriteProgramInput(m_program, "RefTest", refTest)) return;
  // One pole pair: the motor travels one pole pitch.
  if (!WriteProgramInput(m_program, "PolesPairs", 1)) return;
  if (!Launch(kProgram, &m_program, nullptr)) return;
  SetInfoText(kTexts[3]);
  ArmTimer();
}

void CDetectEncoderResolution::FollowMotion() {
  double started = 0.0;
  if (!ReadProgramOutput(m_program, "STARTED", started)) return;
  if (started == 0.0) {
    if (CheckDriveError(1, kDriveErrorMask) != 0) ArmTimer();
    return;
  }
  int on = 0;
  if (GetAxisOn(on) == 0) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  if (on == 0) {
    if (CheckDriveError(1, kDriveErrorMask) == 0) return;
    SetInfoText(kTexts[4]);
    ArmTimer();
    return;
  }
  // The motor is moving: the lines counted so far and the field's angle.
  double lines = 0.0;
  if (!ReadLineCount(lines)) return;
  const std::int32_t count = TruncateCount(lines);
  m_encoder.SetPosition(count);
  m_encoder.Repaint();
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(count));
  SetChildText(kPositionCounter, text);
  double angle = 0.0;
  if (!ReadDriveVariable("THTST", true, angle)) return;
  // The test angle counts 65536 steps a turn from the q axis.
  m_phase.SetAngle((angle + 16384.0) * 2.0 * std::numbers::pi / 65536.0);
  m_phase.Repaint();
  ArmTimer(kMotionPoll_ms);
}

void CDetectEncoderResolution::Evaluate() {
  SetInfoText(kTexts[5]);
  double lines = 0.0;
  if (!ReadLineCount(lines)) return;
  if (lines <= 0.0) {
    Fail(kTexts[kNoCount]);
    return;
  }
  const double period = Setup().GetParameterValueInBaseUnit("PolePitch") / lines;
  if (!IsPositiveFinite(period) || m_candidate->SetValueInBaseUnit(period) == 0) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  RefreshParameterControls(kResolution);
  TestSucceeded(1);
}

bool CDetectEncoderResolution::ReadLineCount(double& lines) {
  if (!ReadDriveVariable("var_lf_long", true, lines)) return false;
  if (!HasElresFract(Setup())) return true;
  // The drive counts each line with "ELRES_FRACT" fraction bits.
  double fraction = 0.0;
  if (!ReadDriveVariable("ELRES_FRACT", false, fraction)) return false;
  lines = TG_FRound(std::ldexp(lines, -std::clamp<std::int32_t>(TruncateCount(fraction), 0, 31)));
  return true;
}

void CDetectEncoderResolution::OnCancel() {
  CMC_Parameter* setupPeriod = FindParameterQuiet(Setup(), kResolution);
  if (m_nTestResult != 1 || setupPeriod == nullptr) {
    CMyTestDlg::OnCancel();
    return;
  }
  // Both in the unit the user reads the result in; a difference the print
  // does not show is no difference.
  const char* unit = m_candidate->GetShownUnit().GetName();
  setupPeriod->SetShownUnit(unit);
  const std::string oldText = Format("%.6g", setupPeriod->GetValueInShownUnit());
  const std::string newText = Format("%.6g", m_candidate->GetValueInShownUnit());
  if (oldText == newText) {
    CMyTestDlg::OnCancel();
    return;
  }
  const std::string question =
      "A different value than specified has been detected for the following parameter:\r\n\r\nEncoder "
      "resolution:\tOld = " +
      oldText + " [" + setupPeriod->GetShownUnit().GetName() + "]\tNew = " + newText + " [" + unit +
      "]\r\n\r\nDo you want to save the new value(s)? (Recommended)";
  switch (MessageBox(question, MB_YESNOCANCEL | MB_ICONQUESTION)) {
    case IDYES:
      setupPeriod->SetValueInBaseUnit(m_candidate->GetValueInBaseUnit());
      EndDialog(1);
      return;
    case IDCANCEL:
      return;
    default:
      CMyTestDlg::OnCancel();
      return;
  }
}
