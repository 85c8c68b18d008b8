#include "TestAngle.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "FeatureProbes.h"

namespace {

constexpr const char* kProgram = "Angle_Controller_Tuning_Test";

// Short circuit / over current and the ENABLE input.
constexpr unsigned kDriveErrorMask = 0x8002;

// The status texts of the steps, then the failure messages, in one table.
// The texts are UTF-8: the apostrophe of "doesn’t" is U+2019.
constexpr const char* kTexts[] = {
    "Launching the application for test",
    "Running test",
    "Uploading results",
    "",
    "Test failed!\nCurrent protection triggered during test!",
    "Test failed!\nAngle not stabilized.\nIf the Electric_Angle graph is a flat line, please increase Kp and/or Ki "
    "parameters.\n\nIf the Electric_Angle graph oscillates too much, please decrease Kp and/or Ki parameters.\n\nIf "
    "the Electric_Angle graph does not oscillate, but it does not stabilize to a value between\n-18204 and -14564 "
    "(that means -16384 with a tolerance of +/- 1820, equivalent to\n+/- 10 electrical degrees), you have to fine "
    "tune the Kp and/or Ki parameters until it does.",
    "Test failed!\n\nIf the Test current doesn\u2019t decreases to zero, increase/decrease Kp and/or Ki "
    "parameters.\nIf the Test current decreases to zero but the Electric_Angle graph does not stabilize to a value "
    "close to %s with a tolerance of +/- 1820 (equivalent to +/- 10 electrical degrees), you have to fine tune the "
    "Kp and/or Ki parameters until it does.\nSee Electric Angle Controller Tuning Help for details",
    "Test failed!\nTest current may not be enough. Please increase test current.",
};
constexpr unsigned short kLastStep = 3;
constexpr int kProtectionTripped = 4;
constexpr int kNotStabilized = 5;
constexpr int kNotStabilizedNear = 6;
constexpr int kCurrentTooLow = 7;

constexpr const char* kProcedureWithStartPosition =
    "1. Check/setup the test parameters below\r\n2. Go to the \"Test\" tab and tune the angle controller\r\n3. Press "
    "the \"Start\" button\r\n4. Wait until the test ends and displays the results\r\n5. The test is successful it at "
    "the end of the Stabilize time, the Electric_Angle graph is smooth and reaches final values with a tolerance of "
    "+/- 1820 (10 electrical degrees)\r\n6. If needed, change the controller parameters until you get results that "
    "satisfy point 5 above";
constexpr const char* kProcedure =
    "1. Check/setup the test parameters below\r\n2. Go to the \"Test\" tab and tune the angle controller\r\n3. Press "
    "the \"Start\" button\r\n4. Wait until the test ends and displays the results\r\n5. If needed, change the "
    "controller parameters until you get satisfactory results.";

constexpr int kAcquisitionsEdit = 3357;
constexpr int kSamplingEdit = 3359;

// A logger setting of the dialog's own: a motion parameter without a unit.
CMC_Parameter* AddOwnSetting(CMC_Setup& own, const char* name, double value, double minimum, double maximum) {
  ParameterSpec spec;
  spec.name = name;
  spec.kind = ParameterKind::Motion;
  spec.isInt = true;
  spec.value = value;
  spec.min = minimum;
  spec.max = maximum;
  return own.AddParameter(spec);
}

}  // namespace

CTestAngle::CTestAngle(CMC_Setup* setup, CMC_EditSetupDlg* parent) : CTuningTestDlg(setup, kResourceId, parent) {
  m_wLastStep = kLastStep;
  m_ownAcquisitions = AddOwnSetting(m_ownParameters, "AquisitionsNo", 2000, 10, 5000);
  m_ownSampling = AddOwnSetting(m_ownParameters, "SamplingRate", 2, 1, 200);
  AddParameterControls("MAX_CURRENT", 3362, 3363);
  AddParameterControls("REF_INC", 3365, 3366);
  AddParameterControls("TIME_LIMIT", 3368, 3369);
  if (HasAcquisitionsNo(*setup))
    AddParameterControls("AquisitionsNo", kAcquisitionsEdit);
  else
    AddUserParameterControls(m_ownAcquisitions, kAcquisitionsEdit);
  if (HasSamplingRate(*setup))
    AddParameterControls("SamplingRate", kSamplingEdit);
  else
    AddUserParameterControls(m_ownSampling, kSamplingEdit);
  SetTunedGains({{"Kp_T_scl", "SFTKPTHT", "KPTHT"}, {"Ki_T_scl", "SFTKITHT", "KITHT"}});
  AddGainSlider("Kp_T_scl", 1337, 1335, 1338, 1336);
  AddGainSlider("Ki_T_scl", 1342, 1340, 1343, 1341);
  SetPageControls({10014, 10015, 1376, 1377, 1301, 1123, 3361, 3362, 3363, 3364, 3365, 3366, 3367, 3368, 3369},
                  {10000, 1339, 1340, 1342, 1343, 1341, 1334, 1335, 1337, 1338, 1336, 1361, 1372, 1375, 10002,
                   10004, 1374, 10001, 1333, 3355, 3356, 3357, 3358, 3359, 3360});
}

int CTestAngle::Acquisitions() const {
  // The setup's two settings only together; otherwise the dialog's own.
  const CMC_Setup& setup = Setup();
  const bool both = HasAcquisitionsNo(setup) && HasSamplingRate(setup);
  return static_cast<int>(both ? setup.GetParameterValueInBaseUnit("AquisitionsNo")
                               : m_ownAcquisitions->GetValueInBaseUnit());
}

int CTestAngle::Sampling() const {
  const CMC_Setup& setup = Setup();
  const bool both = HasAcquisitionsNo(setup) && HasSamplingRate(setup);
  return static_cast<int>(both ? setup.GetParameterValueInBaseUnit("SamplingRate")
                               : m_ownSampling->GetValueInBaseUnit());
}

bool CTestAngle::OnInitDialog() {
  CTuningTestDlg::OnInitDialog();
  RefreshAllParameters();
  SetChildImage(tuning::kPicture, "3354");
  SetChildText(tuning::kProcedure, HasStartPosition(Setup()) ? kProcedureWithStartPosition : kProcedure);
  InitPages();
  LoadProgram(m_program, kProgram);
  CreateLogger(&m_program);
  SetUpLogger();
  BindGraph();
  return true;
}

void CTestAngle::SetUpLogger() {
  CMC_SingleAxisLogger& logger = *Logger();
  // A new set-up, not one more set of variables on the last one.
  logger.Reset();
  logger.ChangeSettings(Acquisitions(), 2, Sampling());
  logger.AddVariable("Motor_Current", 1);
  logger.AddVariable("Electric_Angle", 1);
  logger.CorrectPointsNo();
  CCurveSet& curves = logger.GetPlotDocument().GetCurveSet(0);
  curves.AddCurve(CXYCurve(0, 1, 1, RGB16(1), 2));
  curves.AddCurve(CXYCurve(0, 2, 2, RGB16(4), 2));
  logger.GetPlotDocument().LocateItems();
}

void CTestAngle::DoDataExchange(bool save) {
  CTuningTestDlg::DoDataExchange(save);
  if (!save) ExchangeRunState();
}

bool CTestAngle::OnCommand(int id) {
  if (id == kDetails) {
    ShowDetails();
    return true;
  }
  return CTuningTestDlg::OnCommand(id);
}

void CTestAngle::ShowDetails() {
  const unsigned style = m_helpOnDetails == 1 ? (MB_HELP | MB_ICONERROR) : MB_ICONERROR;
  if (MessageBox(m_strErrorText, style) == IDHELP) OpenHelpAt(kHelpContext);
}

void CTestAngle::BeginTest() {
  CMC_Setup& setup = Setup();
  RefreshAllParameters();
  const double current = setup.GetParameterValueInInternalUnit("MAX_CURRENT");
  const double increment = setup.GetParameterValueInInternalUnit("REF_INC");
  const double time = setup.GetParameterValueInInternalUnit("TIME_LIMIT");
  StartRun();
  m_helpOnDetails = 0;
  SetInfoText(kTexts[0]);
  SetUpLogger();
  if (!WriteProgramInput(m_program, "In1", current) || !WriteProgramInput(m_program, "ReferenceIncrement", increment) ||
      !WriteProgramInput(m_program, "TimeLimit", time))
    return;
  if (!Launch(kProgram, &m_program, Logger())) return;
  SetInfoText(kTexts[1]);
  ArmTimer();
}

void CTestAngle::OnRunTimer() {
  switch (m_wStep) {
    case 2:
      if (WaitForProgram(m_program, kDriveErrorMask) != Wait::Finished) return;
      if (Logger() == nullptr || Logger()->BeginUploadData() == 0) {
        Fail(CMC_TestDlg::msc_pszErrInternal);
        return;
      }
      Graph().Invalidate();
      SetInfoText(kTexts[2]);
      DrawAndJudge();
      return;
    case 3:
      DrawAndJudge();
      return;
    default:
      Fail(CMC_TestDlg::msc_pszErrInternal);
      return;
  }
}

void CTestAngle::DrawAndJudge() {
  if (DrawLoggedPoints() == Drawing::Abandoned) return;
  double testFlag = 0.0;
  if (!ReadProgramOutput(m_program, "test_flag", testFlag)) return;
  if (testFlag == kNotDelivered) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
  } else if (testFlag == -1.0) {
    Fail(kTexts[kProtectionTripped]);
  } else if (testFlag == -2.0) {
    double theta = 0.0;
    std::string error;
    m_helpOnDetails = 1;
    if (GetUserVariableValue(m_program, "theta_1", theta, error) != 0 && std::isfinite(theta) &&
        std::fabs(theta) < 2147483648.0) {
      char near[16];
      std::snprintf(near, sizeof near, "%d", static_cast<int>(theta));
      std::string text = kTexts[kNotStabilizedNear];
      text.replace(text.find("%s"), 2, near);
      Fail(text);
    } else {
      Fail(kTexts[kNotStabilized]);
    }
  } else if (testFlag == -3.0) {
    Fail(kTexts[kCurrentTooLow]);
  } else {
    TestSucceeded(1);
  }
}
