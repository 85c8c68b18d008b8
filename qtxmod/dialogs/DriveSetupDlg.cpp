#include "DriveSetupDlg.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "AdvancedDialog.h"
#include "AnalogReferenceDlg.h"
#include "CodecDrivers.h"
#include "CodecSteps.h"
#include "DialogValues.h"
#include "DriveInfoDlg.h"
#include "DriveSetupAxisId.h"
#include "DriveSetupControlStates.h"
#include "DriveSetupGuidelines.h"
#include "DriveSetupInputs.h"
#include "FeatureProbes.h"
#include "Limits.h"
#include "MotorSetupDlg.h"
#include "TestAngle.h"
#include "TestCurrent.h"
#include "TestPositionTuning.h"
#include "TestSpeedTuning.h"
#include "TestVdcDetection.h"
#include "axcore/Names.h"
#include "axcore/Setup.h"

using dialogs::Is;
using dialogs::IsOneOf;

namespace {

constexpr int kResourceId = 106;
constexpr int kAxisIdList = 3136;
// Opens the Motor Setup dialog once, right after the window is shown.
constexpr int kMotorSetupTimer = 2;
constexpr int kMotorSetupDelay_ms = 100;
constexpr int kHelpContext = 0x40106;

}  // namespace

CDriveSetupDlg::CDriveSetupDlg(CMC_Setup* setup) : CMySetupDlg(setup, kResourceId, 1, kDriveSetupGuidelines) {
  CMC_Setup& document = Setup();
  DecodeRegisters(document);
  SetParameterLimits(document);
  if (HasSpeedForward(document)) ApplySpeedFeedforwardRule(document);
  BindControls();
  EnableCANSettings();
}

void CDriveSetupDlg::BindControls() {
  const CMC_Setup& setup = Setup();
  AddParameterControls("Vdc", 3163, 3166);
  AddParameterControls("IlimPS", 3169, 3170);
  AddParameterControls("Kp_C_scl", 3173);
  AddParameterControls("Ki_C_scl", 3176);
  AddParameterControls("Kp_S_scl", 3179);
  AddParameterControls("Ki_S_scl", 3180);
  AddParameterControls("IPSatS", 3181, 3182);
  // Both feedforward gains appear in the speed and in the position group;
  // the enable rules show the pair of the loop that takes the reference.
  AddParameterControls("KFFA_scl", 3183);
  AddParameterControls("KFFS_scl", 3393);
  AddParameterControls("Kp_P_scl", 3190);
  AddParameterControls("Ki_P_scl", 3191);
  AddParameterControls("Kd_P_scl", 3192);
  AddParameterControls("filter_D", 3193);
  AddParameterControls("IPSatP", 3194, 3195);
  AddParameterControls("KFFS_scl", 3196);
  AddParameterControls("KFFA_scl", 3197);
  AddParameterControls("Limit_Speed", 1043, 1044);
  AddSwitchParameterControls("ControlMode", 1059, 1061);
  AddSwitchParameterControls("ExternalReference", 1063, 1064);
  AddCheckParameterControls("isAutoActivatedAfterPowerOn", 3116);
  AddSwitchParameterControls("isAnalogueReference", 3290, 3291);
  AddCheckParameterControls("isOverCurrent", 3213);
  AddParameterControls("Imax_Prot", 3214, 3215);
  AddParameterControls("time_Imax_Prot", 3216, 3217);
  AddCheckParameterControls("isPositionControlError", 3230);
  AddParameterControls("ERR_position", 3218, 3219);
  AddParameterControls("time_ERR_pos", 3220, 3221);
  AddCheckParameterControls("isSpeedControlError", 3231);
  AddParameterControls("ERR_speed", 3222, 3223);
  AddParameterControls("time_ERR_spd", 3224, 3225);
  AddCheckParameterControls("isMotorOverTemp", 3232);
  AddCheckParameterControls("isMotori2t", 3233);
  AddParameterControls("I_I2t_M", 3226, 3227);
  AddParameterControls("t_I2t_M", 3228, 3229);
  AddCheckParameterControls("isBrakeResistor", 3243);
  AddParameterControls("Vbrake", 3244, 3245);
  // 1046 (value 0) is the lower row of the table, 1047 the upper.
  if (!IsEnablePolarityHidden(setup)) AddSwitchParameterControls("EnablePolarity", 1046, 1047);
  AddSwitchParameterControls("LSPPolarity", 3251, 3252);
  AddSwitchParameterControls("LSNPolarity", 3253, 3254);
  if (HasInputsPolarityType(setup)) AddSwitchParameterControls("InputsPolarityType", 3405, 3406);
  if (HasSoftwareLimitSwitches(setup)) {
    AddCheckParameterControls("isSWLS", 3350);
    AddParameterControls("Negative_SWLS", 3274, 3275);
    AddParameterControls("Positive_SWLS", 3271, 3272);
  }
  AddSwitchParameterControls("StartMode", 1096, 1097);
  AddParameterControls("StartCurrent", 3257, 3258);
  AddParameterControls("time_AB", 3260, 3261);
  if (HasCanSettings(setup)) {
    AddCheckParameterControls("save_CAN_baudrate", 3377);
    AddCheckParameterControls("save_axis_id", 3378);
  }
}

bool CDriveSetupDlg::OnInitDialog() {
  const bool result = CMySetupDlg::OnInitDialog();
  const CMC_Setup& setup = Setup();
  SetChildImage(10019, "TO_MOTORSETUP");
  // The analogue reference exists only on drives with an analogue input.
  EnableChild(3262, HasAnalogueReference(setup));
  m_axisIdCombo.Attach(this, kAxisIdList);
  FillAxisIdList(m_axisIdCombo, setup);
  SetChildText(3318, DigitalReferenceTypeText(setup));
  InitInputsType(*this, setup);
  return result;
}

void CDriveSetupDlg::DoDataExchange(bool save) {
  CMySetupDlg::DoDataExchange(save);
  m_axisIdCombo.Attach(this, kAxisIdList);
  if (save) return;
  ApplyDriveSetupControlStates(*this, Setup());
  RefreshAllParameters(0);
}

void CDriveSetupDlg::OnChangedParameterValue(const char* name) {
  CMC_Setup& setup = Setup();
  if (Is(name, "ControlMode")) {
    if (HasSpeedForward(setup)) ApplySpeedFeedforwardRule(setup);
    if (dialogs::IntegerValue(setup, "ControlMode") != 0) {
      // Speed and torque modes take an analogue reference only, and no gear
      // between a master's pulses and this axis.
      setup.SetParameterValueInBaseUnit("GEARMASTER", 1.0);
      setup.SetParameterValueInBaseUnit("GEARSLAVE", 1.0);
      setup.SetParameterValueInBaseUnit("isAnalogueReference", 1.0);
      RefreshAllParameters(0);
    }
    UpdateData(false);
  } else if (Is(name, "ExternalReference")) {
    if (setup.GetParameterValueInBaseUnit("ExternalReference") == 0.0) {
      // Without an external reference there is nothing to activate at power-on.
      setup.SetParameterValueInBaseUnit("isAutoActivatedAfterPowerOn", 0.0);
      RefreshParameterControls("isAutoActivatedAfterPowerOn");
    }
    UpdateData(false);
  } else if (IsOneOf(name, {"isOverCurrent", "isMotori2t", "isPositionControlError", "isSpeedControlError",
                            "StartMode", "isBrakeResistor"})) {
    UpdateData(false);
  } else if (Is(name, "Negative_SWLS") || Is(name, "Positive_SWLS")) {
    // The limit just entered gives way to the other one: the drive needs
    // negative <= positive.
    const double negative = setup.GetParameterValueInBaseUnit("Negative_SWLS");
    const double positive = setup.GetParameterValueInBaseUnit("Positive_SWLS");
    if (negative > positive) {
      if (Is(name, "Negative_SWLS"))
        setup.SetParameterValueInBaseUnit("Negative_SWLS", positive);
      else
        setup.SetParameterValueInBaseUnit("Positive_SWLS", negative);
    }
  }
  CMySetupDlg::OnChangedParameterValue(name);
}

void CDriveSetupDlg::OnRefreshParameterValue(const char* name) {
  CMC_Setup& setup = Setup();
  if (Is(name, "InputsPolarityType")) {
    FollowInputsTypeChange(*this, setup);
  } else if (Is(name, "Limit_Speed")) {
    // The test speed and the analogue speed range are bounded by it.
    SetParameterLimits(setup);
  } else if (Is(name, "StartCurrent")) {
    // The drive applies the start current as a voltage-command reference and
    // increment; show the current that gives. The warning judges the current
    // as entered: the command's one-count steps may put exactly the nominal
    // current a few thousandths of a percent above it.
    const double entered = setup.GetParameterValueInBaseUnit("StartCurrent");
    RunEncodeStep(setup, "REFTST");
    RunEncodeStep(setup, "RINCTST");
    RunDecodeStep(setup, "StartCurrent");
    RefreshParameterControls("StartCurrent");
    if (entered > 100.0) WarnAboutStartCurrent();
  }
  CMySetupDlg::OnRefreshParameterValue(name);
}

void CDriveSetupDlg::WarnAboutStartCurrent() {
  // The alignment runs first on phase B, then on phase A, each for time_AB.
  const double seconds = 2.0 * Setup().GetParameterValueInBaseUnit("time_AB");
  char text[256];
  std::snprintf(text, sizeof text,
                "You have set a start current bigger than the nominal current! The start current will be applied "
                "for %.2f s.\n\nThe motor must withstand this over current condition or it may be damaged.",
                seconds);
  MessageBox(text, MB_OK | MB_ICONWARNING);
}

void CDriveSetupDlg::OnOK() {
  CMC_Setup& setup = Setup();
  if (FindParameterQuiet(setup, "Axis_ID_list") != nullptr) StoreChosenAxisId(m_axisIdCombo, setup);
  EncodeRegisters(setup);
  SetControlStructureOptions(setup);
  CMySetupDlg::OnOK();
}

// Whatever the user changed is already in the setup and stays there.
void CDriveSetupDlg::OnCancel() { EndDialog(2); }

bool CDriveSetupDlg::OnCommand(int id) {
  switch (id) {
    case 3171:
      RunChildDialog<CTestVdcDetection>(GetSetup());
      return true;
    case 3137:
      RunChildDialog<CTestCurrent>(GetSetup());
      return true;
    case 3178:
      // The test's limits follow the quantities this dialog has just set.
      PrepareChild();
      SetParameterLimits(Setup());
      if (CTestSpeedTuning(GetSetup()).DoModal() == 1) ReloadAfterChild();
      return true;
    case 3198:
      RunChildDialog<CTestPositionTuning>(GetSetup());
      return true;
    case 3263:
      RunChildDialog<CTestAngle>(GetSetup());
      return true;
    case 3208: {
      // The reference's scale is bounded by limits that follow the speed
      // limit and the scales of this dialog: brought up to date first.
      PrepareChild();
      SetParameterLimits(Setup());
      CAnalogReferenceDlg child(GetSetup());
      if (child.DoModal() == 1) ReloadAfterChild();
      return true;
    }
    case 3158:
      OpenAdvanced();
      return true;
    case 3159: {
      // Identity and ratings change no enable rule of this dialog: only the
      // values are brought up to date.
      PrepareChild();
      CDriveInfo child(GetSetup());
      if (child.DoModal() == 1) {
        EncodeRegisters(Setup());
        DecodeRegisters(Setup());
        RefreshAllParameters(0);
      }
      return true;
    }
    case 10019:
      OpenMotorSetup(false);
      return true;
    case 3350:  // software limit switches on or off
    case 3377:  // CAN baud rate saved or not
    case 3378:  // axis ID saved or not
      UpdateData(false);
      return true;
    default:
      return CMySetupDlg::OnCommand(id);
  }
}

void CDriveSetupDlg::OpenAdvanced() {
  PrepareChild();
  CAdvancedDialog child(GetSetup());
  if (child.DoModal() != 1) return;
  // A position loop without a speed loop has no speed reference to feed
  // forward; run in the fast loop it has no acceleration feedforward either.
  CMC_Setup& setup = Setup();
  const DriveControlModes modes = ReadDriveControlModes(setup);
  if (modes.PositionMode() && modes.positionControlType == 0) {
    setup.SetParameterValueInBaseUnit("KFFS_scl", 0.0);
    if (modes.fastLoop == 1) setup.SetParameterValueInBaseUnit("KFFA_scl", 0.0);
  }
  EncodeRegisters(setup);
  DecodeRegisters(setup);
  UpdateData(false);
}

void CDriveSetupDlg::OpenMotorSetup(bool automatic) {
  // The opening over a freshly shown dialog starts from the setup as the
  // dialog brought it up; the button brings the user's changes into step
  // first, as for every child.
  if (!automatic) PrepareChild();
  CMotorSetupDialog motor(&Setup());
  if (motor.DoModal() == 1) ReloadAfterChild();
}

void CDriveSetupDlg::OnSelChange(int id) {
  if (id == kAxisIdList) {
    if (IsBeyondCanOpenRange(m_axisIdCombo.GetCurSel()))
      MessageBox(
          "If your drive is set in CANopen mode, the axis ID values must be in the range 1-127. Any value over 127 "
          "will set the drive as non-configured and further CANopen communication will be disabled until a valid "
          "Axis ID will be set in the drive. Leave the drive with a non-configured axis ID only if you intend to set "
          "the Axis ID later via a CANopen master using CiA305 LSS protocol.",
          MB_OK | MB_ICONWARNING);
    return;
  }
  CMySetupDlg::OnSelChange(id);
}

void CDriveSetupDlg::OnShowWindow(bool show) {
  CMySetupDlg::OnShowWindow(show);
  if (show) SetTimer(kMotorSetupTimer, kMotorSetupDelay_ms);
}

void CDriveSetupDlg::OnTimer(int id) {
  KillTimer(kMotorSetupTimer);
  if (id == kMotorSetupTimer) {
    OpenMotorSetup(true);
    return;
  }
  CMySetupDlg::OnTimer(id);
}

void CDriveSetupDlg::OnHelp() { OpenHelpAt(kHelpContext); }
