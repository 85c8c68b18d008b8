// Which controls of the Motor Setup dialog are enabled and shown, and the
// lists it builds: the interpolation levels the drive can run with this
// encoder and the encoder input filters.
#pragma once

#include <string>

class CComboBox;
class CMC_EditSetupDlg;
class CMC_Setup;

// The brake's output line, wiring text and delays; apart from its box and
// check box.
inline constexpr int kBrakeControls[] = {3381, 3385, 3387, 3389, 3390, 3388, 3391, 3392};

// The drive drives a motor brake: it has the brake register and at least
// one output that can drive it.
bool HasBrakeOutputs(const CMC_Setup& setup);

// Enables and shows the controls from the setup's values: the mass field
// without an unknown mass, the sensor type with a temperature sensor, the
// brake controls with a brake, the hardware limit switch warning with a
// transmission that reverses the direction.
void ApplyMotorSetupControlStates(CMC_EditSetupDlg& dialog, const CMC_Setup& setup);

// "Motor brake is applied when ..." for the output chosen in
// "MotorBrake_output": the output's stage (source or sink) and whether the
// drive inverts it decide which level applies the brake.
std::string BrakeWiringText(const CMC_Setup& setup);

// "EncRes" / 2^("SINCOS_fract" truncated, modulo 32): the position step the
// drive counts with.
double InterpolatedResolution(double encoderPeriod, double interpolationBits);

// Items 2^i with item data i for every interpolation level i the drive
// accepts ("SINCOS_fract" from its minimum to its maximum); with
// "ELRES_FRACT" the electrical angle's fraction bits are encoded first,
// which sets that minimum. Nothing without "SINCOS_fract".
void FillInterpolationList(CComboBox& combo, CMC_Setup& setup);

// The encoder input filters, item data 0 to 12: 1/3 of the maximum
// bandwidth, then 1/(6k) for k from 1 to 12.
void FillEncoderFilterList(CComboBox& combo);
