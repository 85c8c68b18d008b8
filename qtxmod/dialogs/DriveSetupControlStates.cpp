#include "DriveSetupControlStates.h"

#include <initializer_list>

#include "DialogValues.h"
#include "FeatureProbes.h"
#include "axcore/EditSetupDlg.h"
#include "axcore/Setup.h"

using dialogs::IntegerValue;
using dialogs::Value;

namespace {

using Ids = std::initializer_list<int>;

void Enable(CMC_EditSetupDlg& dialog, Ids ids, bool enable) {
  for (int id : ids) dialog.EnableChild(id, enable);
}

void Show(CMC_EditSetupDlg& dialog, Ids ids, bool show) {
  for (int id : ids) dialog.ShowChild(id, show);
}

// The controls of the controller groups.
constexpr Ids kSpeedGroup = {3177, 3178, 3184, 3179, 3185, 3180, 3186, 3181, 3182};
constexpr Ids kSpeedAccelerationFeedforward = {3187, 3188, 3183};
constexpr Ids kPositionGroup = {3189, 3198, 3199, 3190, 3200, 3191, 3201, 3192, 3202, 3193, 3203, 3194, 3195};
constexpr Ids kPositionFeedforward = {3204, 3205, 3206, 3196, 3197};
constexpr Ids kPositionSpeedFeedforward = {3205, 3196};
constexpr Ids kPositionAccelerationFeedforward = {3204, 3206, 3197};
constexpr Ids kLoadSpeedLimit = {1101, 1043, 1044};
// Both feedforward fields of each group, where the drive can feed the speed
// reference forward.
constexpr Ids kSpeedGroupFeedforward = {3187, 3183, 3393, 3188, 3394};
constexpr Ids kPositionGroupFeedforward = {3204, 3197, 3196, 3206, 3205};

// Feedforward: the acceleration term acts where the speed controller takes
// its reference, the speed term where the position controller hands one on.
void ApplyControllerRules(CMC_EditSetupDlg& dialog, const CMC_Setup& setup, const DriveControlModes& modes) {
  const bool position = modes.PositionMode();
  const bool speedLoop = modes.SpeedLoop();
  Enable(dialog, kSpeedGroup, speedLoop);
  Show(dialog, kSpeedAccelerationFeedforward, modes.SpeedMode());
  Enable(dialog, kPositionGroup, position);
  Show(dialog, kPositionFeedforward, position);
  Enable(dialog, kPositionSpeedFeedforward, position && speedLoop);
  // With position and speed in the fast loop and no speed controller, the
  // drive has no acceleration term to feed.
  Enable(dialog, kPositionAccelerationFeedforward, !(position && !speedLoop && modes.fastLoop == 1));
  Show(dialog, kLoadSpeedLimit, position && speedLoop);

  if (HasSpeedForward(setup)) {
    if (modes.fastLoop == 0 && modes.SpeedMode()) {
      Show(dialog, kSpeedGroupFeedforward, true);
      Enable(dialog, kSpeedGroupFeedforward, true);
      Show(dialog, kPositionGroupFeedforward, false);
    } else if (modes.fastLoop == 0 && position &&
               (modes.positionControlType == 0 || modes.positionControlType == 1)) {
      Show(dialog, kSpeedGroupFeedforward, false);
      Show(dialog, kPositionGroupFeedforward, true);
      Enable(dialog, kPositionGroupFeedforward, true);
    } else {
      Show(dialog, kSpeedGroupFeedforward, false);
      Show(dialog, kPositionGroupFeedforward, false);
    }
  } else {
    // Without the drive's speed feedforward the speed group has no speed term.
    Show(dialog, {3393, 3394}, false);
  }
}

// A protection's limits mean something only while it is on; the control
// error of a loop only in the mode that closes that loop.
void ApplyProtectionRules(CMC_EditSetupDlg& dialog, const CMC_Setup& setup, const DriveControlModes& modes) {
  Enable(dialog, {3234, 3214, 3215, 3235, 3216, 3217}, Value(setup, "isOverCurrent") == 1.0);
  Enable(dialog, {3240, 3226, 3227, 3241, 3228, 3229}, Value(setup, "isMotori2t") == 1.0);
  dialog.EnableChild(3230, modes.PositionMode());
  Enable(dialog, {3236, 3218, 3219, 3237, 3220, 3221},
         modes.PositionMode() && Value(setup, "isPositionControlError") != 0.0);
  dialog.EnableChild(3231, modes.SpeedMode());
  Enable(dialog, {3238, 3222, 3223, 3239, 3224, 3225},
         modes.SpeedMode() && Value(setup, "isSpeedControlError") != 0.0);
}

void ApplyStartModeRules(CMC_EditSetupDlg& dialog, const CMC_Setup& setup) {
  // A motionless start needs the drive's electric angle controller.
  const bool angleController = HasAngleController(setup);
  const double startMode = Value(setup, "StartMode");
  dialog.EnableChild(1097, angleController);
  Enable(dialog, {3256, 3257, 3258, 3259, 3260, 3261}, startMode == 0.0);
  dialog.EnableChild(3263, startMode == 1.0 && angleController);
}

void ApplyOptionalFeatureRules(CMC_EditSetupDlg& dialog, const CMC_Setup& setup) {
  // Without a motor temperature sensor there is nothing to protect against.
  dialog.EnableChild(3232, setup.GetIntOption("DisableMotorTemperature") == 0 &&
                               Value(setup, "isMotorTemperatureSensor") == 1.0);
  Enable(dialog, {3246, 3244, 3245}, Value(setup, "isBrakeResistor") == 1.0);
  Show(dialog, {3248, 1047, 1046}, !IsEnablePolarityHidden(setup));

  const bool limitSwitches = HasSoftwareLimitSwitches(setup);
  Enable(dialog, {3276, 3350}, limitSwitches);
  Enable(dialog, {3273, 3270, 3274, 3271, 3275, 3272}, limitSwitches && Value(setup, "isSWLS") == 1.0);

  // Automatic activation applies to an external reference only.
  Enable(dialog, {3208, 3116}, Value(setup, "ExternalReference") == 1.0);

  if (HasCanSettings(setup)) {
    Enable(dialog, {10023, 10021}, Value(setup, "save_CAN_baudrate") == 1.0);
    Enable(dialog, {3349, 3136}, Value(setup, "save_axis_id") == 1.0);
  } else {
    Show(dialog, {3377, 3378}, false);
  }
}

}  // namespace

DriveControlModes ReadDriveControlModes(const CMC_Setup& setup) {
  DriveControlModes modes;
  modes.controlMode = IntegerValue(setup, "ControlMode");
  modes.positionControlType = IntegerValue(setup, "PositionControlType");
  modes.fastLoop = dialogs::Truncated(GetOptionalValue(setup, "PosSpd_in_FastLoop", 0.0));
  return modes;
}

void ApplyDriveSetupControlStates(CMC_EditSetupDlg& dialog, const CMC_Setup& setup) {
  const DriveControlModes modes = ReadDriveControlModes(setup);
  ApplyControllerRules(dialog, setup, modes);
  ApplyProtectionRules(dialog, setup, modes);
  ApplyStartModeRules(dialog, setup);
  ApplyOptionalFeatureRules(dialog, setup);
  dialog.SetChildText(3318, DigitalReferenceTypeText(setup));
}

const char* DigitalReferenceTypeText(const CMC_Setup& setup) {
  return Value(setup, "DigitalReferenceType") != 0.0 ? "Incremental Encoder" : "Pulse && Direction";
}
