#include "MotorSetupControlStates.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "CodecSteps.h"
#include "DialogValues.h"
#include "FeatureProbes.h"
#include "axcore/EditSetupDlg.h"
#include "axcore/Setup.h"

using dialogs::IntegerValue;

namespace {

// 2^i must stay an int for the "%d" of the list, and the drive's
// interpolation never needs more than 2^30.
constexpr int kMaxInterpolationBits = 30;

void Enable(CMC_EditSetupDlg& dialog, std::initializer_list<int> ids, bool enable) {
  for (int id : ids) dialog.EnableChild(id, enable);
}

}  // namespace

bool HasBrakeOutputs(const CMC_Setup& setup) { return HasMotorBrake(setup) && setup.GetNumberOfBrakeOutputs() > 0; }

void ApplyMotorSetupControlStates(CMC_EditSetupDlg& dialog, const CMC_Setup& setup) {
  // A mass the user does not know is identified by the total mass test.
  Enable(dialog, {1172, 1173, 3267}, IntegerValue(setup, "isMotorMassUnknown") == 0);
  Enable(dialog, {1184, 1185, 1186}, IntegerValue(setup, "isMotorTemperatureSensor") == 1);
  if (HasMotorBrake(setup)) {
    // Without an output that can drive it the brake stays off whatever the
    // check box holds.
    const bool brake = HasBrakeOutputs(setup) && IntegerValue(setup, "isMotorBrake") == 1;
    for (int id : kBrakeControls) dialog.EnableChild(id, brake);
    dialog.SetChildText(3385, BrakeWiringText(setup));
  }
  if (!HasNegativeTransmission(setup)) {
    // The drive cannot reverse the load's direction itself: the limit
    // switches must then be swapped on its inputs.
    const double ratio = setup.GetParameterValueInBaseUnit("Motor_transmission") /
                         setup.GetParameterValueInBaseUnit("Load_transmission");
    dialog.ShowChild(3408, ratio < 0);
  }
}

std::string BrakeWiringText(const CMC_Setup& setup) {
  const int output = dialogs::Truncated(setup.GetParameterValueInInternalUnit("MotorBrake_output"));
  const bool inverted = setup.IsIOMC3PortInverted(output);
  const bool source = (setup.IsBrakePortEnable(output) & 0x30) == 0x10;
  return std::string("Motor brake is applied when ") +
         (inverted == source ? "NPN (sink) output is connected to GND." : "PNP (source) output is connected to +Vlog.");
}

double InterpolatedResolution(double encoderPeriod, double interpolationBits) {
  if (!std::isfinite(interpolationBits)) return encoderPeriod;
  double bits = std::fmod(std::trunc(interpolationBits), 32.0);
  if (bits < 0) bits += 32.0;
  return encoderPeriod / std::exp2(bits);
}

void FillInterpolationList(CComboBox& combo, CMC_Setup& setup) {
  const CMC_Parameter* bits = FindParameterQuiet(setup, "SINCOS_fract");
  if (bits == nullptr) return;
  if (HasElresFract(setup)) RunEncodeStep(setup, "ELRES_FRACT");
  combo.ResetContent();
  // An open end of the range lists what an int can show.
  const double low = std::max(0.0, std::ceil(bits->GetMinInBaseUnit()));
  const double high = std::min(static_cast<double>(kMaxInterpolationBits), std::floor(bits->GetMaxInBaseUnit()));
  for (int i = static_cast<int>(std::min(low, 31.0)); i <= high; ++i) {
    const int index = combo.AddString(std::to_string(1 << i));
    combo.SetItemData(index, i);
  }
}

void FillEncoderFilterList(CComboBox& combo) {
  combo.ResetContent();
  constexpr const char* kFilters[] = {"1/3",  "1/6",  "1/12", "1/18", "1/24", "1/30", "1/36",
                                      "1/42", "1/48", "1/54", "1/60", "1/66", "1/72"};
  int data = 0;
  for (const char* filter : kFilters) combo.SetItemData(combo.AddString(filter), data++);
}
