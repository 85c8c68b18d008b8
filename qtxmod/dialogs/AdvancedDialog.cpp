#include "AdvancedDialog.h"

#include <cstdio>
#include <string_view>

#include "CodecDrivers.h"
#include "CodecSteps.h"
#include "DialogValues.h"
#include "FeatureProbes.h"
#include "Limits.h"
#include "SamplingPeriods.h"
#include "axcore/MessageText.h"
#include "axcore/Names.h"
#include "axcore/Setup.h"

using dialogs::IntegerValue;

using dialogs::Is;

namespace {

constexpr int kResourceId = 110;
constexpr int kHelpContext = 0x40113;

// Controls.
constexpr int kPositionOnly = 3344;       // "Close only position and current loop"
constexpr int kPositionWithSpeed = 3345;  // "Close position, speed and current loop"
constexpr int kSchemePicture = 3280;
constexpr int kFeedforwardBox = 3376;
constexpr int kFeedforwardToSpeedLoop = 3374;
constexpr int kFeedforwardToCurrentLoop = 3375;
constexpr int kFastLoopBox = 3347;
constexpr int kSlowLoop = 1146;
constexpr int kFastLoop = 1147;
constexpr int kFastDividerLabel = 1131;
constexpr int kSlowDividerLabel = 1134;
constexpr int kFastPeriodLabel = 1140;
constexpr int kSlowPeriodLabel = 1143;
constexpr int kFastOutsideLimits = 1148;
constexpr int kSlowOutsideLimits = 1149;

// The control schemes, by the loops the drive closes.
constexpr const char* kPositionWithSpeedPicture = "3016";
constexpr const char* kPositionOnlyPicture = "3017";
constexpr const char* kSpeedPicture = "3060";
constexpr const char* kTorquePicture = "3061";

void EnableRange(CMC_EditSetupDlg& dialog, int first, int last, bool enable) {
  for (int id = first; id <= last; ++id) dialog.EnableChild(id, enable);
}

}  // namespace

CAdvancedDialog::CAdvancedDialog(CMC_Setup* setup) : CMySetupDlg(setup, kResourceId, 1) { BindControls(); }

void CAdvancedDialog::BindControls() {
  const CMC_Setup& setup = Setup();
  AddSwitchParameterControls("PositionControlType", kPositionOnly, kPositionWithSpeed);
  // Older drives run position and speed control in the slow loop only.
  if (FindParameterQuiet(setup, "PosSpd_in_FastLoop") != nullptr)
    AddSwitchParameterControls("PosSpd_in_FastLoop", kSlowLoop, kFastLoop);
  if (HasSpeedEstimator(setup)) AddCheckParameterControls("isSpeedEstimator", 3356);
  AddParameterControls("CLPER", 1132);
  AddParameterControls("SLPER", 1135);
  AddParameterControls("PWM_freq", 1129, 1130);
  AddParameterControls("Ts_C", 1141, 1142);
  AddParameterControls("Ts_S", 1144, 1145);
  AddParameterControls("PWMperiod", 1138, 1139);
  if (HasSpeedForward(setup)) AddSwitchParameterControls("SpeedForward", kFeedforwardToSpeedLoop, kFeedforwardToCurrentLoop);
  if (HasFreezeControl(setup)) {
    AddCheckParameterControls("isFreezeControl", 3396);
    AddParameterControls("FreezeControl_errband", 3399, 3400);
    AddParameterControls("FreezeControl_time", 3401, 3402);
  }
}

bool CAdvancedDialog::OnInitDialog() {
  const bool result = CMySetupDlg::OnInitDialog();
  const CMC_Setup& setup = Setup();
  const int mode = IntegerValue(setup, "ControlMode");
  // Only position control chooses whether a speed loop runs under it.
  ShowChild(kPositionOnly, mode == 0);
  ShowChild(kPositionWithSpeed, mode == 0);
  ApplyFeedforwardRule();
  // The freeze control holds a position: position mode only.
  EnableRange(*this, 3395, 3402, HasFreezeControl(setup) && mode == 0);
  if (FindParameterQuiet(setup, "PosSpd_in_FastLoop") != nullptr) {
    EnableChild(kSlowLoop, mode < 2);
    EnableChild(kFastLoopBox, mode < 2);
    EnableChild(kFastLoop, false);
  } else {
    ShowChild(kSlowLoop, false);
    ShowChild(kFastLoop, false);
    ShowChild(kFastLoopBox, false);
  }
  EnableChild(3355, HasSpeedEstimator(setup));
  EnableChild(3356, HasSpeedEstimator(setup));
  m_fastPeriod_s = dialogs::Value(setup, "Ts_C");
  m_slowPeriod_s = dialogs::Value(setup, "Ts_S");
  m_referenceSlowPeriod_s = m_slowPeriod_s;
  // The arrows are always red; they show only beside a period out of limits,
  // which a setup may already have when the dialog opens.
  SetChildAlert(kFastOutsideLimits, true);
  SetChildAlert(kSlowOutsideLimits, true);
  ShowChild(kFastOutsideLimits, false);
  ShowChild(kSlowOutsideLimits, false);
  ShowPeriodWarnings();
  UpdateData(false);
  return result;
}

// The speed feedforward goes to the speed loop only when a position loop
// drives one; torque control has no speed reference to feed forward.
void CAdvancedDialog::ApplyFeedforwardRule() {
  const CMC_Setup& setup = Setup();
  const int mode = IntegerValue(setup, "ControlMode");
  const bool feedforward = HasSpeedForward(setup) && mode != 2;
  EnableChild(kFeedforwardBox, feedforward);
  EnableChild(kFeedforwardToCurrentLoop, feedforward);
  EnableChild(kFeedforwardToSpeedLoop,
              feedforward && mode == 0 && IntegerValue(setup, "PositionControlType") == 1);
}

void CAdvancedDialog::DoDataExchange(bool save) {
  CMySetupDlg::DoDataExchange(save);
  if (save) return;
  const CMC_Setup& setup = Setup();
  const int mode = IntegerValue(setup, "ControlMode");
  if (mode == 0)
    SetChildImage(kSchemePicture, IntegerValue(setup, "PositionControlType") == 1 ? kPositionWithSpeedPicture
                                                                                   : kPositionOnlyPicture);
  else
    SetChildImage(kSchemePicture, mode == 1 ? kSpeedPicture : kTorquePicture);
  ApplyFeedforwardRule();
  const bool freeze = HasFreezeControl(setup) && IntegerValue(setup, "isFreezeControl") == 1 && mode == 0;
  EnableRange(*this, 3397, 3402, freeze);
}

void CAdvancedDialog::OnChangedParameterValue(const char* name) {
  if (!Is(name, "PWM_freq")) return;
  CMC_Setup& setup = Setup();
  if (!sampling::IsUsablePwmFrequency(setup)) {
    // No PWMPER gives it: the frequency the drive runs with stays.
    RunDecodeStep(setup, "PWM_freq");
    const CMC_Parameter* frequency = setup.FindParameter("PWM_freq");
    if (frequency != nullptr)
      ShowStatus(axcore::QuoteForMessage("PWM_freq") + ": the drive has no PWM period for that frequency; it stays " +
                 frequency->PrintValue());
    return;
  }
  RunEncodeStep(setup, "PWMPER");
  RunEncodeStep(setup, "SATPWM");
  RunDecodeStep(setup, "PWMperiod");
  sampling::KeepPeriods(setup, m_fastPeriod_s, m_slowPeriod_s);
  for (const char* shown : {"CLPER", "SLPER", "Ts_S", "Ts_C", "PWMperiod"}) RefreshParameterControls(shown);
  UpdateData(false);
}

void CAdvancedDialog::OnRefreshParameterValue(const char* name) {
  CMC_Setup& setup = Setup();
  sampling::KeepDividerUsable(setup, "CLPER");
  bool slowChanged = sampling::KeepDividerUsable(setup, "SLPER");
  // The slow loop is never faster than the fast loop.
  const double fastDivider = dialogs::Value(setup, "CLPER");
  if (fastDivider > dialogs::Value(setup, "SLPER")) {
    setup.SetParameterValueInBaseUnit("SLPER", fastDivider);
    slowChanged = true;
  }
  RunDecodeStep(setup, "Ts_S");
  RunDecodeStep(setup, "Ts_C");
  RunEncodeStep(setup, "PWMPER");
  RunEncodeStep(setup, "SATPWM");
  RunDecodeStep(setup, "PWMperiod");
  if (HasSpeedForward(setup)) ApplySpeedFeedforwardRule(setup);
  // Every change of Ts_S, also one made by raising the slow divider above,
  // keeps the time-based values physically unchanged.
  if (slowChanged || Is(name, "SLPER") || Is(name, "PWM_freq")) {
    const double slowPeriod_s = dialogs::Value(setup, "Ts_S");
    if (m_referenceSlowPeriod_s > 0.0 && m_referenceSlowPeriod_s != slowPeriod_s) {
      m_referenceSlowPeriod_s = slowPeriod_s;
      sampling::RescaleTimeBase(setup);
    }
    EncodeRegisters(setup);
    DecodeRegisters(setup);
  }
  ShowPeriodWarnings();
  if (Is(name, "CLPER")) m_fastPeriod_s = dialogs::Value(setup, "Ts_C");
  if (slowChanged || Is(name, "SLPER")) m_slowPeriod_s = dialogs::Value(setup, "Ts_S");
  RefreshAllParameters(0);
  UpdateData(false);
}

void CAdvancedDialog::ShowPeriodWarnings() {
  const sampling::PeriodLimits limits = sampling::CheckPeriodLimits(Setup());
  SetChildAlert(kFastDividerLabel, limits.fastTooShort);
  SetChildAlert(kFastPeriodLabel, limits.fastTooShort);
  ShowChild(kFastOutsideLimits, limits.fastTooShort);
  SetChildAlert(kSlowDividerLabel, limits.slowTooShort);
  SetChildAlert(kSlowPeriodLabel, limits.slowTooShort);
  ShowChild(kSlowOutsideLimits, limits.slowTooShort);
}

void CAdvancedDialog::OnOK() {
  const sampling::PeriodLimits limits = sampling::CheckPeriodLimits(Setup());
  char text[320];
  if (limits.fastTooShort) {
    std::snprintf(text, sizeof text,
                  "The minimum value for Fast loop sampling period is %.3f ms!\nPlease adjust the PWM frequency "
                  "and/or the Fast loop sampling frequency divider until this condition is fulfilled!",
                  limits.fastMin_s * 1000.0);
    MessageBox(text, MB_OK | MB_ICONWARNING);
  }
  if (limits.slowTooShort) {
    std::snprintf(text, sizeof text,
                  "The minimum value for Slow loop sampling period is %.3f ms!\nPlease adjust the PWM frequency "
                  "and/or the Slow loop sampling frequency divider until this condition is fulfilled!",
                  limits.slowMin_s * 1000.0);
    MessageBox(text, MB_OK | MB_ICONWARNING);
  }
  if (limits.fastTooShort || limits.slowTooShort) return;
  CMySetupDlg::OnOK();
}

bool CAdvancedDialog::OnCommand(int id) {
  if (id == kPositionOnly || id == kPositionWithSpeed) {
    UpdateData(false);
    return true;
  }
  return CMySetupDlg::OnCommand(id);
}

void CAdvancedDialog::OnHelp() { OpenHelpAt(kHelpContext); }
