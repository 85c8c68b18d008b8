#include "TestEncoderConnections.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "FeatureProbes.h"
#include "axcore/Comm.h"
#include "axcore/Setup.h"

namespace {

constexpr const char* kProgram = "Encoder_Connection_Test";
// Status texts by step, then the test's failure message.
const char* const kTexts[] = {
    "Launching code for test",
    "Running test",
    "Test finished",
    "No encoder pulses have been detected.\r\nCheck the encoder connection and power supply.",
};
constexpr std::uint16_t kStatusTexts = 3;
constexpr int kNoPulses = 3;

constexpr int kEncoderDiagram = 1024;
constexpr int kPhaseDiagram = 1025;
constexpr int kPositionCounter = 3131;
// The mover is free: only a short circuit stops the test, a drive without
// ENABLE still counts.
constexpr unsigned kDriveErrorMask = 0x0002;
// Noise on a resting encoder moves its counter by a count or two.
constexpr std::int32_t kPulseThreshold = 2;

}  // namespace

CTestEncoderConnections::CTestEncoderConnections(CMC_Setup* setup, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, kResourceId, 0, parent) {
  // The test runs until the user stops it.
  m_bMultiCycle = 1;
  m_wLastStep = kStatusTexts;
}

bool CTestEncoderConnections::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  m_encoder.SubclassDlgItem(kEncoderDiagram, this);
  m_encoder.EnableWindow(true);
  // Nothing drives the electrical angle while the power stage is off.
  m_phase.SubclassDlgItem(kPhaseDiagram, this);
  m_phase.EnableWindow(false);
  SetChildText(kPositionCounter, "");
  return true;
}

bool CTestEncoderConnections::OnCommand(int id) {
  if (id != kStartStop) return CMyTestDlg::OnCommand(id);
  if (m_bTestRunning == 0) {
    OnBtnStartStop();
  } else {
    StopTest();
  }
  return true;
}

void CTestEncoderConnections::BeginTest() {
  StartRun();
  m_bPulsesDetected = 0;
  m_lastPosition = 0;

  // The diagram spans one pole pitch of counts either way. A drive without
  // position fraction bits has none ("ELRES_FRACT" absent: 2^0).
  const CMC_Setup& setup = Setup();
  const CMC_Parameter* fraction = FindParameterQuiet(setup, "ELRES_FRACT");
  const double bits = fraction != nullptr ? fraction->GetValueInInternalUnit() : 0.0;
  const double span = std::ldexp(setup.GetParameterValueInInternalUnit("PolePitch"), TruncateCount(bits)) /
                      setup.GetParameterValueInInternalUnit("EncRes");
  // A setup without a usable period still shows the counter, on a span of
  // one count.
  const long bound = std::max<long>(1, TruncateCount(span));
  m_encoder.SetLimits(-bound, bound);
  m_encoder.SetPosition(0);
  m_encoder.Repaint();
  SetChildText(kPositionCounter, "");

  SetInfoText(kTexts[0]);
  if (!Launch(kProgram, nullptr, nullptr)) return;
  SetInfoText(kTexts[1]);
  ArmTimer();
}

void CTestEncoderConnections::OnRunTimer() {
  if (m_wStep != 2) {
    TestFailed(1);
    return;
  }
  const std::int32_t previous = m_lastPosition;
  if (CheckDriveError(1, kDriveErrorMask) == 0) return;
  double counter = 0.0;
  if (!ReadDriveVariable("APOS", true, counter)) return;
  const std::int32_t position = TruncateCount(counter);
  char text[16];
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(position));
  SetChildText(kPositionCounter, text);
  if (position != previous) {
    if (position > kPulseThreshold || position < -kPulseThreshold) m_bPulsesDetected = 1;
    m_encoder.SetPosition(position);
    m_encoder.Repaint();
  }
  m_lastPosition = position;
  ArmTimer();
}

void CTestEncoderConnections::StopTest() {
  KillTimer(1);
  // The drive program runs until it reads 1 in "var_i2": it is ended first,
  // whatever the verdict, so that no program is left running on the drive.
  CMC_Variable* stop = Setup().FindVariable("var_i2", 1);
  if (stop == nullptr) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  if (stop->SetValueInBaseUnit(1.0) == 0 || stop->WriteToChip() == 0) {
    Fail(CMC_Comm::GetLastErrorText());
    return;
  }
  if (m_bPulsesDetected == 0) {
    Fail(kTexts[kNoPulses]);
    return;
  }
  SetInfoText(kTexts[std::min<std::uint16_t>(m_wStep, kStatusTexts - 1)]);
  TestSucceeded(1);
}
