// Which controls of the Drive Setup dialog are enabled and shown: the
// control loops the drive runs decide which gains mean anything, the
// protections' check boxes decide whether their limits do, and optional
// drive features decide what exists at all.
#pragma once

class CMC_EditSetupDlg;
class CMC_Setup;

// The control structure the drive runs.
struct DriveControlModes {
  int controlMode = 0;          // "ControlMode": 0 position, 1 speed, 2 torque
  int positionControlType = 0;  // "PositionControlType": 1 when the position loop drives a speed loop
  int fastLoop = 0;             // "PosSpd_in_FastLoop": 1 when position and speed run in the current loop's period

  bool PositionMode() const { return controlMode == 0; }
  bool SpeedMode() const { return controlMode == 1; }
  bool TorqueMode() const { return controlMode == 2; }
  // A speed controller runs: in speed mode, or under the position controller.
  bool SpeedLoop() const { return SpeedMode() || (PositionMode() && positionControlType == 1); }
};

// "PosSpd_in_FastLoop" is optional and read quietly; absent it reads 0.
DriveControlModes ReadDriveControlModes(const CMC_Setup& setup);

// Enables and shows the controls from the setup's values, the rules in
// order, a later rule overriding an earlier one for the same control; then
// the digital reference type's label.
void ApplyDriveSetupControlStates(CMC_EditSetupDlg& dialog, const CMC_Setup& setup);

// The text of label 3318 beside the digital reference radio: which kind of
// digital reference the External Reference Setup chose.
const char* DigitalReferenceTypeText(const CMC_Setup& setup);
