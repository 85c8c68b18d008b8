#include "MotorSetupDlg.h"

#include <initializer_list>
#include <string_view>

#include "CodecDrivers.h"
#include "DetectEncoderResolution.h"
#include "DialogValues.h"
#include "FeatureProbes.h"
#include "Limits.h"
#include "MotorSetupControlStates.h"
#include "MotorSetupGuidelines.h"
#include "TestEncoderConnections.h"
#include "TestPhaseConnections.h"
#include "TestRL.h"
#include "axcore/Names.h"

using dialogs::IntegerValue;

using dialogs::Is;
using dialogs::IsOneOf;

namespace {

constexpr int kResourceId = 108;
constexpr int kHelpContext = 0x40107;
constexpr int kInterpolationList = 1197;
constexpr int kEncoderFilterList = 3359;
constexpr int kBrakeOutputList = 3381;
constexpr const char* kInterpolatedResolution = "ResolutionWithInterpolation";

// What a motor of the database sets, in this order: the pole pitch bounds
// the encoder period, so it comes first.
constexpr const char* kMotorParameters[] = {
    "In", "ImaxM", "PolePitch", "Kf", "R", "L", "M", "isMotorMassUnknown", "MotorPhaseConnectionType",
    "EncRes", "isMotorTemperatureSensor", "Motor_TempSensor_Type", nullptr,
};

}  // namespace

CMotorSetupDialog::CMotorSetupDialog(CMC_Setup* setup) : CMySetupDlg(setup, kResourceId, 1, kMotorSetupGuidelines) {
  BindControls();
}

void CMotorSetupDialog::BindControls() {
  const CMC_Setup& setup = Setup();
  AddParameterControls("In", 1159, 1160);
  AddParameterControls("ImaxM", 1161, 1162);
  AddParameterControls("PolePitch", 1165, 1176);
  AddParameterControls("Kf", 1166, 1167);
  AddParameterControls("R", 1168, 1169);
  AddParameterControls("L", 1170, 1171);
  AddParameterControls("M", 1172, 1173);
  AddCheckParameterControls("isMotorMassUnknown", 1178);
  AddSwitchParameterControls("MotorPhaseConnectionType", 1195, 1196);
  AddParameterControls("EncRes", 3352, 3351);
  AddComboParameterControls("SINCOS_fract", kInterpolationList);
  const CMC_Parameter* period = FindParameterQuiet(setup, "EncRes");
  if (period != nullptr && FindParameterQuiet(setup, "SINCOS_fract") != nullptr) {
    // In the encoder period's units; without its range, which bounds the
    // period and not the step a fine interpolation gives.
    ParameterSpec spec;
    spec.name = kInterpolatedResolution;
    spec.unit = period->GetUnit();
    spec.shown = period->GetShownUnit().GetName();
    m_interpolatedResolution = m_ownParameters.AddParameter(spec);
    UpdateInterpolatedResolution();
    AddUserParameterControls(m_interpolatedResolution, 3353, 3354);
  }
  AddCheckParameterControls("isMotorTemperatureSensor", 1183);
  AddSwitchParameterControls("Motor_TempSensor_Type", 1185, 1186);
  AddSwitchParameterControls("TransmissionType", 1193, 1194);
  AddParameterControls("Motor_transmission", 1163, 1164);
  AddParameterControls("Load_transmission", 1174, 1192);
  if (HasMotorBrake(setup)) {
    AddCheckParameterControls("isMotorBrake", 3380);
    AddComboParameterControls("MotorBrake_output", kBrakeOutputList);
    AddParameterControls("MotorBrake_releasetime", 3389, 3390);
    AddParameterControls("MotorBrake_applytime", 3391, 3392);
  }
  if (HasEncoderFilter(setup)) {
    AddComboParameterControls("FilterEncValue", kEncoderFilterList);
    AddCheckParameterControls("isFilterEnc", 3360);
  }
  if (HasReverseCounting(setup)) AddCheckParameterControls("ReverseCounting", 3358);
  InitializeMotorEditor(kMotorParameters);
}

bool CMotorSetupDialog::OnInitDialog() {
  const bool result = CMySetupDlg::OnInitDialog();
  CMC_Setup& setup = Setup();
  SetChildImage(1, "TO_DRIVESETUP");
  SetChildImage(3408, "WARN_SWITCH_HW_LS");
  ShowChild(3408, false);
  EnableChild(3358, HasReverseCounting(setup));

  const bool filter = HasEncoderFilter(setup);
  EnableChild(3360, filter);
  EnableChild(3272, filter);
  EnableChild(kEncoderFilterList, filter && IntegerValue(setup, "isFilterEnc") == 1);
  if (filter) {
    CComboBox filters;
    filters.Attach(this, kEncoderFilterList);
    FillEncoderFilterList(filters);
    RefreshParameterControls("FilterEncValue");
  }

  RebuildInterpolationList();

  const bool brake = HasBrakeOutputs(setup);
  EnableChild(3379, brake);
  EnableChild(3380, brake);
  for (int id : kBrakeControls) EnableChild(id, brake);
  CComboBox outputs;
  outputs.Attach(this, kBrakeOutputList);
  setup.FillIOBrakeCombo(outputs, brake ? IntegerValue(setup, "MotorBrake_output") : 0);
  RefreshParameterControls("MotorBrake_output");
  SetChildImage(3386, "3059");

  UpdateData(false);
  return result;
}

void CMotorSetupDialog::DoDataExchange(bool save) {
  CMySetupDlg::DoDataExchange(save);
  if (save) return;
  ApplyMotorSetupControlStates(*this, Setup());
}

void CMotorSetupDialog::OnChangedParameterValue(const char* name) {
  CMySetupDlg::OnChangedParameterValue(name);
  CMC_Setup& setup = Setup();
  if (IsOneOf(name, {"isMotorMassUnknown", "isMotorTemperatureSensor", "isFilterEnc", "MotorBrake_output",
                     "Motor_transmission", "Load_transmission", "ReverseCounting"})) {
    UpdateData(false);
  } else if (Is(name, "TransmissionType")) {
    // A rotary load is measured in turns, a linear one in metres.
    SwitchUnitTypes(setup);
    RefreshParameterControls("Load_transmission");
  } else if (Is(name, "EncRes") || Is(name, "SINCOS_fract")) {
    if (m_interpolatedResolution != nullptr) {
      UpdateInterpolatedResolution();
      RefreshParameterControls(kInterpolatedResolution);
    }
  }
  if (HasEncoderFilter(setup)) EnableChild(kEncoderFilterList, IntegerValue(setup, "isFilterEnc") == 1);
}

void CMotorSetupDialog::OnRefreshParameterValue(const char* name) {
  CMySetupDlg::OnRefreshParameterValue(name);
  if (Is(name, "PolePitch") || Is(name, "EncRes")) {
    RebuildInterpolationList();
  } else if (Is(name, "Motor_transmission") || Is(name, "Load_transmission")) {
    KeepTransmissionNonZero(name);
  }
}

void CMotorSetupDialog::KeepTransmissionNonZero(const char* name) {
  if (Setup().GetParameterValueInBaseUnit(name) == 0.0) Setup().SetParameterValueInBaseUnit(name, 0.001);
  RefreshParameterControls(name);
  UpdateData(false);
}

void CMotorSetupDialog::RebuildInterpolationList() {
  if (FindParameterQuiet(Setup(), "SINCOS_fract") == nullptr || GetControl(kInterpolationList) == nullptr) return;
  CComboBox levels;
  levels.Attach(this, kInterpolationList);
  FillInterpolationList(levels, Setup());
  RefreshParameterControls("SINCOS_fract");
}

void CMotorSetupDialog::UpdateInterpolatedResolution() {
  const CMC_Setup& setup = Setup();
  m_interpolatedResolution->SetValueInBaseUnit(InterpolatedResolution(
      setup.GetParameterValueInBaseUnit("EncRes"), setup.GetParameterValueInBaseUnit("SINCOS_fract")));
}

void CMotorSetupDialog::OnOK() {
  // Without a sensor the drive has no temperature to protect the motor by.
  if (IntegerValue(Setup(), "isMotorTemperatureSensor") == 0) Setup().SetParameterValueInBaseUnit("isMotorOverTemp", 0);
  CMySetupDlg::OnOK();
}

bool CMotorSetupDialog::OnCommand(int id) {
  switch (id) {
    case 1175:
      RunChildDialog<CTestPhaseConnections>(&Setup());
      return true;
    case 1177: {
      // Only "R" and "L" change: the registers are brought into step and
      // the two values shown again.
      PrepareChild();
      CTestRL test(&Setup());
      if (test.DoModal() == 1) {
        EncodeRegisters(Setup());
        DecodeRegisters(Setup());
        for (const char* name : {"R", "L"}) {
          OnRefreshParameterValue(name);
          RefreshParameterControls(name);
        }
      }
      return true;
    }
    case 1187:
      RunChildDialog<CTestEncoderConnections>(&Setup());
      return true;
    case 1189: {
      PrepareChild();
      CDetectEncoderResolution test(&Setup());
      const int result = test.DoModal();
      AfterResolutionTest(result, test.GetReverseCountingChoice());
      return true;
    }
    case 3408:
      MessageBox(
          "When there is only a position sensor on the motor and the load moves in opposite direction (i.e. "
          "transmission is negative), the h/w limit switches connections need to be reversed. \n\nConnect positive "
          "limit switch sensor to drive's LSN input and negative limit switch sensor to drive's LSP input.",
          MB_OK | MB_ICONWARNING);
      return true;
    case 3380:  // motor brake on or off
      UpdateData(false);
      return true;
    default:
      return CMySetupDlg::OnCommand(id);
  }
}

void CMotorSetupDialog::AfterResolutionTest(int result, int reverseCountingChoice) {
  CMC_Setup& setup = Setup();
  const bool reverse = HasReverseCounting(setup);
  if (result == 1) {
    ReloadAfterChild();
    // The test may have set a new encoder period: the interpolation levels
    // and the resolution with interpolation follow it, as when it is typed.
    RebuildInterpolationList();
    if (m_interpolatedResolution != nullptr) {
      UpdateInterpolatedResolution();
      RefreshParameterControls(kInterpolatedResolution);
    }
  } else if (result == 2 && reverse && reverseCountingChoice != -1) {
    setup.SetParameterValueInBaseUnit("ReverseCounting", reverseCountingChoice);
  }
  if (reverse) {
    OnRefreshParameterValue("ReverseCounting");
    RefreshParameterControls("ReverseCounting");
  }
}

void CMotorSetupDialog::OnHelp() { OpenHelpAt(kHelpContext); }
