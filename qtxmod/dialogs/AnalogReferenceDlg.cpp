#include "AnalogReferenceDlg.h"

#include <initializer_list>
#include <string_view>

#include "DialogValues.h"
#include "FeatureProbes.h"
#include "Limits.h"
#include "TestAnalogueRef.h"
#include "axcore/Names.h"
#include "axcore/Setup.h"

using dialogs::IntegerValue;

using dialogs::Is;

namespace {

constexpr int kResourceId = 111;
constexpr int kHelpContext = 0x40101;

constexpr int kTestButton = 1000;
constexpr int kPicture = 1014;
constexpr int kLimitCheck = 3116;
constexpr int kDigitalRadio = 3289;
constexpr int kAnalogueRadio = 3290;
constexpr int kRangeStart = 3328;  // the left end of the analogue scale
constexpr int kRangeEnd = 3327;
// The frame of the limit row in the layout.
constexpr int kLimitFrame = 3602;

// The two limit rows share one place: the speed limit (or, in speed mode,
// the acceleration limit) of an analogue reference, and the acceleration
// limit of a digital one.
constexpr std::initializer_list<int> kAnalogueLimitRow = {3302, 3136};
constexpr std::initializer_list<int> kDigitalLimitRow = {3304, 3137};
constexpr std::initializer_list<int> kFilterRow = {1002, 1003, 1004};
constexpr std::initializer_list<int> kAnalogueControls = {1007, 1009, 1006, 1008, 1015, 1016, 1011, 1010, 1013,
                                                          1012, 1004, 1001, 1002, 1003, 1000, 3328, 3327};
constexpr std::initializer_list<int> kDigitalControls = {3291, 3292, 3294, 3297, 3295, 3298, 3299, 3296, 3300};

constexpr const char* kLimitSpeedText = "Limit maximum speed at";
constexpr const char* kLimitAccelerationText = "Limit maximum acceleration at";

// What the analogue input scales to in each control mode: its labels, its
// picture and its pair of parameters.
struct ModeScale {
  const char* maximumLabel;
  const char* minimumLabel;
  const char* picture;
  const char* maximum;
  const char* minimum;
};
constexpr ModeScale kModeScales[] = {
    {"Maximum Position", "Minimum Position", "3003", "POS_max", "POS_min"},
    {"Maximum Speed", "Minimum Speed", "3044", "SPD_max", "SPD_min"},
    {"Maximum Current", "Minimum Current", "3002", "CRT_max", "CRT_min"},
};
const ModeScale* ScaleOfMode(int mode) { return mode >= 0 && mode <= 2 ? &kModeScales[mode] : nullptr; }

// The parameters shown without a unit box of their own take the unit of the
// field beside them.
constexpr std::pair<const char*, const char*> kUnitPartners[] = {
    {"POS_max", "POS_min"}, {"SPD_max", "SPD_min"}, {"CRT_max", "CRT_min"}, {"DeadBand_Point", "DeadBand_Range"}};

int ControlMode(const CMC_Setup& setup) { return IntegerValue(setup, "ControlMode"); }
bool IsAnalogue(const CMC_Setup& setup) { return IntegerValue(setup, "isAnalogueReference") == 1; }

void Enable(CMC_EditSetupDlg& dialog, std::initializer_list<int> ids, bool enable) {
  for (int id : ids) dialog.EnableChild(id, enable);
}

void Show(CMC_EditSetupDlg& dialog, std::initializer_list<int> ids, bool show) {
  for (int id : ids) dialog.ShowChild(id, show);
}

// A value that a new limit has left outside its range is written again, so
// that the document's write rules bring it to the nearer end.
void KeepInRange(CMC_Setup& setup, const char* name) {
  CMC_Parameter* p = FindParameterQuiet(setup, name);
  if (p == nullptr || !p->HasMin() || !p->HasMax()) return;
  const double value = p->GetValueInBaseUnit();
  if (value < p->GetMinInBaseUnit() || value > p->GetMaxInBaseUnit()) p->SetValueInBaseUnit(value);
}

}  // namespace

CAnalogReferenceDlg::CAnalogReferenceDlg(CMC_Setup* setup) : CMySetupDlg(setup, kResourceId, 1) { BindControls(); }

void CAnalogReferenceDlg::BindControls() {
  CMC_Setup& setup = Setup();
  const int mode = ControlMode(setup);
  const bool analogueInput = HasAnalogueReference(setup);
  auto bindScale = [&](const char* maximum, const char* minimum) {
    AddParameterControls(maximum, 1006, 1015);
    AddParameterControls(minimum, 1008);
    setup.ChangeParameterUnit(minimum, setup.GetParameterUnit(maximum));
  };
  if (mode == 0 && analogueInput) bindScale("POS_max", "POS_min");
  if (mode == 0) {
    AddCheckParameterControls("isLimitMaximum", kLimitCheck);
    AddParameterControls("ErefMaxSpeed", 3302, 3136);
    AddParameterControls("ErefMaxAcceleration", 3304, 3137);
  }
  if (mode == 1 && analogueInput) bindScale("SPD_max", "SPD_min");
  if (mode == 1) {
    AddCheckParameterControls("isLimitMaximum", kLimitCheck);
    AddParameterControls("ErefMaxAcceleration", 3302, 3136);
  }
  if (mode == 2 && analogueInput) bindScale("CRT_max", "CRT_min");
  if (analogueInput) {
    AddParameterControls("DeadBand_Point", 1010, 1016);
    AddParameterControls("DeadBand_Range", 1012);
    setup.ChangeParameterUnit("DeadBand_Range", setup.GetParameterUnit("DeadBand_Point"));
  }
  AddSwitchParameterControls("isAnalogueReference", kDigitalRadio, kAnalogueRadio);
  AddSwitchParameterControls("DigitalReferenceType", 3291, 3292);
  AddParameterControls("GEARMASTER", 3296);
  AddParameterControls("GEARSLAVE", 3295);
  if (analogueInput) {
    AddCheckParameterControls("UseFilter", 1001);
    AddParameterControls("filter", 1003, 1004);
  }
}

bool CAnalogReferenceDlg::OnInitDialog() {
  const bool result = CMySetupDlg::OnInitDialog();
  const CMC_Setup& setup = Setup();
  // The ends of the analogue input's span, as the limits of the dead band
  // point read it: ±10 V, 0 to 5 V, or 0 to 3.3 V.
  const int span = IntegerValue(setup, "AnalogueInputsRange");
  SetChildText(kRangeStart, span == 20 ? "-10" : "0");
  SetChildText(kRangeEnd, span == 20 ? "10" : span == 5 ? "5" : "3.3");

  const int mode = ControlMode(setup);
  if (const ModeScale* scale = ScaleOfMode(mode)) {
    SetChildText(1007, scale->maximumLabel);
    SetChildText(1009, scale->minimumLabel);
    SetChildImage(kPicture, scale->picture);
  }
  if (mode == 0 || mode == 1) SetLimitCheckText();
  // A current reference is followed as it comes: there is nothing to limit.
  if (mode == 2) Show(*this, {kLimitCheck, 3302, 3136, kLimitFrame}, false);

  Enable(*this, {kRangeStart, kRangeEnd}, false);
  EnableChild(kAnalogueRadio, HasAnalogueReference(setup));
  UpdateData(false);
  return result;
}

void CAnalogReferenceDlg::SetLimitCheckText() {
  const CMC_Setup& setup = Setup();
  SetChildText(kLimitCheck, IsAnalogue(setup) && ControlMode(setup) == 0 ? kLimitSpeedText : kLimitAccelerationText);
}

void CAnalogReferenceDlg::DoDataExchange(bool save) {
  CMySetupDlg::DoDataExchange(save);
  if (save) return;
  const CMC_Setup& setup = Setup();
  const int mode = ControlMode(setup);
  const bool analogue = IsAnalogue(setup);
  const bool filter = HasAnalogueReference(setup) && IntegerValue(setup, "UseFilter") != 0;
  const bool limit = IntegerValue(setup, "isLimitMaximum") == 1;

  Show(*this, kFilterRow, filter);
  Show(*this, kDigitalLimitRow, !analogue && limit && mode < 2);
  Show(*this, kAnalogueLimitRow, analogue && limit && mode < 2);
  Enable(*this, kAnalogueControls, analogue);
  // Only a position axis follows a digital reference.
  Enable(*this, kDigitalControls, !analogue && mode == 0);
  EnableChild(kDigitalRadio, mode == 0 && setup.GetIntOption("DisableExternalDigitalReference") == 0);
}

void CAnalogReferenceDlg::OnChangedParameterValue(const char* name) {
  CMC_Setup& setup = Setup();
  if (Is(name, "UseFilter")) {
    Show(*this, kFilterRow, IntegerValue(setup, "UseFilter") != 0);
  } else if (Is(name, "isAnalogueReference")) {
    SetLimitCheckText();
    UpdateData(false);
  } else if (Is(name, "DeadBand_Range")) {
    SetDeadBandRangeLimits(setup);
    RefreshParameterControls("DeadBand_Point");
  } else if (Is(name, "DeadBand_Point")) {
    // Without the new dead band, the band may reach no further than the
    // nearer end of the input's span from the point: moving the point may
    // narrow it.
    SetDeadBandRangeLimits(setup);
    KeepInRange(setup, "DeadBand_Range");
    RefreshParameterControls("DeadBand_Range");
  }
  CMySetupDlg::OnChangedParameterValue(name);
}

void CAnalogReferenceDlg::OnChangedParameterUnit(const char* name) {
  for (const auto& [leader, partner] : kUnitPartners) {
    if (!Is(name, leader)) continue;
    CMC_Setup& setup = Setup();
    setup.ChangeParameterUnit(partner, setup.GetParameterUnit(leader));
    RefreshParameterControls(partner);
    break;
  }
  CMySetupDlg::OnChangedParameterUnit(name);
}

void CAnalogReferenceDlg::OnRefreshParameterValue(const char* name) {
  CMC_Setup& setup = Setup();
  // Each end of the scale bounds the other, so that the maximum stays at or
  // above the minimum as the user types.
  if (Is(name, "POS_min") || Is(name, "POS_max")) {
    SetPosMinLimits(setup);
    SetPosMaxLimits(setup);
    RefreshAllParameters(0);
  } else if (Is(name, "SPD_min") || Is(name, "SPD_max")) {
    SetSpdMinLimits(setup);
    SetSpdMaxLimits(setup);
    RefreshAllParameters(0);
  } else if (Is(name, "CRT_min") || Is(name, "CRT_max")) {
    SetCrtMinLimits(setup);
    SetCrtMaxLimits(setup);
    RefreshAllParameters(0);
  }
  CMySetupDlg::OnRefreshParameterValue(name);
}

bool CAnalogReferenceDlg::OnCommand(int id) {
  switch (id) {
    case kTestButton:
      // The test changes nothing in the setup; whatever its end, the
      // registers are brought into step with what this dialog edited.
      PrepareChild();
      CTestAnalogueRef(&Setup()).DoModal();
      PrepareChild();
      return true;
    case kLimitCheck:
    case kDigitalRadio:
    case kAnalogueRadio:
      UpdateData(false);
      return true;
    default:
      return CMySetupDlg::OnCommand(id);
  }
}

void CAnalogReferenceDlg::OnHelp() { OpenHelpAt(kHelpContext); }
