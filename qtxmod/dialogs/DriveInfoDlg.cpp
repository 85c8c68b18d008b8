#include "DriveInfoDlg.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "CodecDrivers.h"
#include "DialogValues.h"
#include "axcore/Setup.h"

using dialogs::IntegerValue;

namespace {

constexpr int kResourceId = 3018;
// Not among the contexts of the other dialogs and tests of the manual.
constexpr int kHelpContext = 0x40110;

// The identity fields (not bound: the setup holds them as texts).
constexpr int kApplicationId = 3114;
constexpr int kDriveName = 3275;
constexpr int kE2romSize = 3276;
constexpr int kProductId = 3277;
constexpr int kFirmwareId = 3278;
constexpr int kApplicationIdLength = 40;

// The check boxes whose change alters what else can be edited.
constexpr int kTemperatureSensor = 3097;
constexpr int kOverVoltage = 3103;
constexpr int kUnderVoltage = 3105;
constexpr int kDriveI2t = 3107;
constexpr int kDriveOverTemperature = 3325;

// The E2ROM size in words is shown in kilowords: bits 10 to 15.
std::string KilowordsText(std::int64_t words) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>((words >> 10) & 0x3F));
  return text;
}

// The leading digits of a field, as kilowords; none: 0. Stops growing far
// beyond any E2ROM so that the shift to words cannot overflow.
std::int64_t LeadingKilowords(const std::string& text) {
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > (std::int64_t{1} << 32)) break;
  }
  return value;
}

bool IsOne(const CMC_Setup& setup, const char* name) { return IntegerValue(setup, name) == 1; }

}  // namespace

CDriveInfo::CDriveInfo(CMC_Setup* setup) : CMySetupDlg(setup, kResourceId, 1) { BindControls(); }

void CDriveInfo::BindControls() {
  AddParameterControls("VMOT_min", 3087, 3088);
  AddParameterControls("VMOT_max", 3089, 3090);
  AddParameterControls("VLOG_min", 3092, 3093);
  AddParameterControls("VLOG_max", 3094, 3095);
  AddParameterControls("InPS", 1159, 1160);
  AddParameterControls("ImaxPS", 1161, 1162);
  AddParameterControls("VdcMaxMeasurable", 1163, 1164);
  AddCheckParameterControls("isDriveTemperatureSensor", kTemperatureSensor);
  AddParameterControls("DriveTempSensorGain", 1165, 1166);
  AddParameterControls("DriveTempOutputAt0oC", 1167, 1168);
  AddParameterControls("Temp_2", 1177, 1178);
  AddCheckParameterControls("isDriveOverTemp", kDriveOverTemperature);
  AddCheckParameterControls("isOverVoltage", kOverVoltage);
  AddParameterControls("UMAX_PROT", 1169, 1170);
  AddCheckParameterControls("isUnderVoltage", kUnderVoltage);
  AddParameterControls("UMIN_PROT", 1171, 1172);
  AddCheckParameterControls("isDriveI2t", kDriveI2t);
  AddParameterControls("I_I2t_D", 1173, 1174);
  AddParameterControls("t_I2t_D", 1175, 1176);
  AddParameterControls("AnalogueInputsRange", 1179, 1180);
}

bool CDriveInfo::OnInitDialog() {
  const bool result = CMySetupDlg::OnInitDialog();
  const CMC_Setup& setup = Setup();
  SetChildText(kE2romSize, KilowordsText(setup.GetE2ROMSize()));
  SetChildText(kFirmwareId, setup.GetFirmwareID());
  SetChildText(kProductId, setup.GetProductID());
  SetChildText(kDriveName, setup.GetDescription());
  SetChildText(kApplicationId, setup.GetUserAppID());
  SetChildTextLimit(kApplicationId, kApplicationIdLength);
  UpdateData(false);
  return result;
}

void CDriveInfo::DoDataExchange(bool save) {
  CMySetupDlg::DoDataExchange(save);
  if (save) return;
  const CMC_Setup& setup = Setup();
  const bool editing = m_editing != 0;
  for (int id : {3087, 3089, 3092, 3094, 1159, 1161, kTemperatureSensor, 1179, 1163, kOverVoltage, kUnderVoltage,
                 kDriveI2t, kE2romSize, kDriveName, kProductId, kFirmwareId})
    EnableChild(id, editing);
  const bool sensor = IsOne(setup, "isDriveTemperatureSensor");
  const bool overVoltage = IsOne(setup, "isOverVoltage");
  const bool underVoltage = IsOne(setup, "isUnderVoltage");
  const bool i2t = IsOne(setup, "isDriveI2t");
  const bool overTemperature = IsOne(setup, "isDriveOverTemp");
  // The levels of a protection can be edited only while it is on; their
  // units and labels follow the protection whatever the editing mode.
  EnableChild(1165, editing && sensor);
  EnableChild(1167, editing && sensor);
  EnableChild(kDriveOverTemperature, editing && sensor);
  EnableChild(1169, editing && overVoltage);
  EnableChild(1171, editing && underVoltage);
  EnableChild(1173, editing && i2t);
  EnableChild(1175, editing && i2t);
  EnableChild(1177, editing && overTemperature);
  for (int id : {1166, 1168, 3098, 3101}) EnableChild(id, sensor);
  for (int id : {1170, 3104}) EnableChild(id, overVoltage);
  for (int id : {1172, 3106}) EnableChild(id, underVoltage);
  for (int id : {1174, 3108, 1176, 3109}) EnableChild(id, i2t);
  for (int id : {1178, 3326}) EnableChild(id, overTemperature);
}

void CDriveInfo::OnKeyChord(std::string_view chord) {
  if (chord == kServiceChord) {
    m_editing = m_editing != 0 ? 0 : 1;
    UpdateData(false);
  }
  CMySetupDlg::OnKeyChord(chord);
}

bool CDriveInfo::OnCommand(int id) {
  switch (id) {
    case kTemperatureSensor:
    case kOverVoltage:
    case kUnderVoltage:
    case kDriveI2t:
    case kDriveOverTemperature: {
      // Without its sensor the drive cannot watch its temperature.
      CMC_Setup& setup = Setup();
      if (IntegerValue(setup, "isDriveTemperatureSensor") == 0 && IsOne(setup, "isDriveOverTemp")) {
        setup.SetParameterValueInBaseUnit("isDriveOverTemp", 0.0);
        RefreshParameterControls("isDriveOverTemp");
      }
      UpdateData(false);
      return true;
    }
    default:
      return CMySetupDlg::OnCommand(id);
  }
}

void CDriveInfo::OnOK() {
  CMC_Setup& setup = Setup();
  setup.SetE2ROMSize(LeadingKilowords(GetChildText(kE2romSize)) << 10);
  setup.SetUserAppID(GetChildText(kApplicationId));
  setup.SetProductID(GetChildText(kProductId));
  setup.SetDescription(GetChildText(kDriveName));
  const std::string firmware = GetChildText(kFirmwareId);
  setup.SetFirmwareID(firmware);
  // The host keeps only a firmware ID it accepts.
  if (setup.GetFirmwareID() != firmware) MessageBox("Error setting the firmware ID!", MB_OK | MB_ICONERROR);
  EncodeRegisters(setup);
  CMySetupDlg::OnOK();
}

void CDriveInfo::OnHelp() { OpenHelpAt(kHelpContext); }
