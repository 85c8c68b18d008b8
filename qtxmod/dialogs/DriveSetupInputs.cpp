#include "DriveSetupInputs.h"

#include <cstdint>
#include <string>

#include "DialogValues.h"
#include "FeatureProbes.h"
#include "axcore/EditSetupDlg.h"
#include "axcore/Setup.h"

namespace {

constexpr int kSourceNpnRadio = 3405;
constexpr int kSinkPnpRadio = 3406;

void CheckInputsType(CMC_EditSetupDlg& dialog, bool pnp) {
  dialog.CheckDlgButton(kSinkPnpRadio, pnp);
  dialog.CheckDlgButton(kSourceNpnRadio, !pnp);
}

}  // namespace

void SetInputRowLabels(CMC_EditSetupDlg& dialog, bool pnp) {
  if (pnp) {
    dialog.SetChildText(3403, "Active high (Connected to +Vlog)");
    dialog.SetChildText(3404, "Active low (Open/No connection)");
  } else {
    dialog.SetChildText(3403, "Active high (Open/No connection)");
    dialog.SetChildText(3404, "Active low (Connected to GND)");
  }
}

void InitInputsType(CMC_EditSetupDlg& dialog, const CMC_Setup& setup) {
  const int programmable = GetInputsTypeProgrammable(setup);
  const bool hasType = HasInputsPolarityType(setup);
  dialog.EnableChild(kSourceNpnRadio, hasType && programmable == 1);
  dialog.EnableChild(kSinkPnpRadio, hasType && programmable == 1);

  if (programmable == -1) {
    // Drives that predate the option: the BX family has sinking inputs.
    const bool pnp = setup.GetDescription().find("BX") != std::string::npos;
    CheckInputsType(dialog, pnp);
    SetInputRowLabels(dialog, pnp);
  } else if (hasType) {
    // The radios show the bound value themselves.
    SetInputRowLabels(dialog, setup.GetParameterValueInBaseUnit("InputsPolarityType") == 1.0);
  } else {
    // ASR bit 2 clear: the drive's inputs are sinking.
    const double asr = setup.GetParameterValueInBaseUnit("ASR");
    const int bits = dialogs::Truncated(asr);
    const bool pnp = bits != dialogs::kNoInteger && (static_cast<std::uint32_t>(bits) & 0x4u) == 0;
    CheckInputsType(dialog, pnp);
    SetInputRowLabels(dialog, pnp);
  }
}

void FollowInputsTypeChange(CMC_EditSetupDlg& dialog, CMC_Setup& setup) {
  for (const char* name : {"EnablePolarity", "LSNPolarity", "LSPPolarity"}) {
    CMC_Parameter* polarity = FindParameterQuiet(setup, name);
    if (polarity == nullptr) continue;
    polarity->SetValueInBaseUnit(polarity->GetValueInBaseUnit() == 0.0 ? 1.0 : 0.0);
  }
  SetInputRowLabels(dialog, setup.GetParameterValueInBaseUnit("InputsPolarityType") == 1.0);
  dialog.RefreshAllParameters(0);
}
