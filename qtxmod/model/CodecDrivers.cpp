#include "CodecDrivers.h"

#include <span>
#include <string_view>

#include "BiquadDesign.h"
#include "CodecSteps.h"
#include "FeatureProbes.h"
#include "axcore/Setup.h"

namespace {

using Probe = bool (*)(const CMC_Setup&);
using enum CodecDirection;

// One step of a driver: the step that writes `name` in `direction`, run only
// while `probe` (when given) answers true and only when the optional names
// `needs` exist (quiet lookups: their absence is no fault of the setup).
// Consecutive rows with the same probe form one bracket, probed once.
struct DriverStep {
  Probe probe;
  CodecDirection direction;
  std::string_view name;
  std::string_view needs[2] = {};
};

// The order carries the dependencies between steps: "Ts_S" is decoded before
// every step that multiplies by it; "ControlMode" before "Limit_Speed" and
// "isFreezeControl", which read it; "Limit_Speed" before the ranges of
// "SPD_min" and "SPD_max", which it bounds; each minimum of the analogue
// span before its maximum, whose range starts at it; "DeadBand_Point" before
// "DeadBand_Range", whose range follows from it.
constexpr DriverStep kDecodeSteps[] = {
    {nullptr, Decode, "isMotorTemperatureSensor"},
    {nullptr, Decode, "Motor_TempSensor_Type"},
    // Sampling periods.
    {nullptr, Decode, "PWM_freq"},
    {nullptr, Decode, "PWMperiod"},
    {nullptr, Decode, "Ts_C"},
    {nullptr, Decode, "Ts_S"},
    {nullptr, Decode, "PosSpd_in_FastLoop"},
    {nullptr, Decode, "isDriveTemperatureSensor"},
    // Drive protections.
    {nullptr, Decode, "isOverVoltage"},
    {nullptr, Decode, "isUnderVoltage"},
    {nullptr, Decode, "isDriveOverTemp"},
    {nullptr, Decode, "isDriveI2t"},
    {nullptr, Decode, "UMAX_PROT"},
    {nullptr, Decode, "UMIN_PROT"},
    {nullptr, Decode, "Temp_2"},
    {nullptr, Decode, "I_I2t_D"},
    {nullptr, Decode, "t_I2t_D"},
    // Control structure and identity.
    {nullptr, Decode, "ControlMode"},
    {nullptr, Decode, "ExternalReference"},
    {nullptr, Decode, "IsAutoActivatedAfterPowerOn"},
    {nullptr, Decode, "Axis_ID_list"},
    // Current, speed and position loops.
    {nullptr, Decode, "IlimPS"},
    {nullptr, Decode, "Kp_C_scl"},
    {nullptr, Decode, "Ki_C_scl"},
    {nullptr, Decode, "TestCurrent"},
    {nullptr, Decode, "TestProtectionCurrent"},
    {nullptr, Decode, "isUseFilterOnCrtCtrlOutput"},
    {nullptr, Decode, "FilterOnCurrentControllerOutput"},
    {nullptr, Decode, "isCompensateGravitationalLoads"},
    {nullptr, Decode, "OffsetCurrent"},
    {nullptr, Decode, "Kp_S_scl"},
    {nullptr, Decode, "Ki_S_scl"},
    {nullptr, Decode, "IPSatS"},
    {nullptr, Decode, "KFFA_scl"},
    {nullptr, Decode, "TestLimitCurrent"},
    {nullptr, Decode, "TestStartCurrent"},
    {nullptr, Decode, "Mload_over_M"},
    {nullptr, Decode, "Kp_P_scl"},
    {nullptr, Decode, "Ki_P_scl"},
    {nullptr, Decode, "Kd_P_scl"},
    {HasAngleController, Decode, "Kp_T_scl"},
    {HasAngleController, Decode, "Ki_T_scl"},
    {nullptr, Decode, "filter_D"},
    {nullptr, Decode, "IPSatP"},
    {nullptr, Decode, "Limit_Speed"},
    {nullptr, Decode, "TestMaxSpeed"},
    {nullptr, Decode, "KFFS_scl"},
    // Motor and control error protections.
    {nullptr, Decode, "isOverCurrent"},
    {nullptr, Decode, "Imax_Prot"},
    {nullptr, Decode, "time_Imax_Prot"},
    {nullptr, Decode, "isPositionControlError"},
    {nullptr, Decode, "ERR_position"},
    {nullptr, Decode, "time_ERR_pos"},
    {nullptr, Decode, "isSpeedControlError"},
    {nullptr, Decode, "ERR_speed"},
    {nullptr, Decode, "time_ERR_spd"},
    {nullptr, Decode, "isMotorOverTemp"},
    {nullptr, Decode, "isMotori2t"},
    {nullptr, Decode, "I_I2t_M"},
    {nullptr, Decode, "t_I2t_M"},
    {nullptr, Decode, "isBrakeResistor"},
    {nullptr, Decode, "Vbrake"},
    {nullptr, Decode, "EnablePolarity"},
    {nullptr, Decode, "LSPPolarity"},
    {nullptr, Decode, "LSNPolarity"},
    {HasSoftwareLimitSwitches, Decode, "isSWLS"},
    {HasSoftwareLimitSwitches, Decode, "Negative_SWLS"},
    {HasSoftwareLimitSwitches, Decode, "Positive_SWLS"},
    {HasSpeedEstimator, Decode, "isSpeedEstimator"},
    // Start and external reference.
    {nullptr, Decode, "StartMode"},
    {nullptr, Decode, "StartCurrent"},
    {nullptr, Decode, "time_AB"},
    {nullptr, Decode, "isAnalogueReference"},
    {nullptr, Decode, "DigitalReferenceType"},
    {nullptr, Decode, "isLimitMaximum"},
    {nullptr, Decode, "ErefMaxSpeed"},
    {nullptr, Decode, "ErefMaxAcceleration"},
    {HasAnalogueReference, Decode, "DeadBand_Point"},
    {HasAnalogueReference, Decode, "DeadBand_Range"},
    {HasAnalogueReference, Decode, "UseFilter"},
    {HasAnalogueReference, Decode, "filter"},
    {HasAnalogueReference, Decode, "POS_min"},
    {HasAnalogueReference, Decode, "POS_max"},
    {HasAnalogueReference, Decode, "SPD_min"},
    {HasAnalogueReference, Decode, "SPD_max"},
    {HasAnalogueReference, Decode, "CRT_min"},
    {HasAnalogueReference, Decode, "CRT_max"},
    // Registers only some drives have.
    {HasCanSettings, Decode, "save_CAN_baudrate"},
    {HasCanSettings, Decode, "save_axis_id"},
    {HasMotorBrake, Decode, "isMotorBrake"},
    {HasMotorBrake, Decode, "MotorBrake_output"},
    {HasMotorBrake, Decode, "MotorBrake_releasetime"},
    {HasMotorBrake, Decode, "MotorBrake_applytime"},
    {HasSpeedForward, Decode, "SpeedForward"},
    {HasEncoderFilter, Decode, "isFilterEnc"},
    {HasFreezeControl, Decode, "isFreezeControl"},
    {HasFreezeControl, Decode, "FreezeControl_errband"},
    {HasFreezeControl, Decode, "FreezeControl_time"},
    {HasInputsPolarityType, Decode, "InputsPolarityType"},
    {HasReverseCounting, Decode, "ReverseCounting"},
};

// "ENC2THL" reads the "ELRES_FRACT" held before the pass, which is recomputed
// near the end: after a change of the pole pitch or the encoder period a
// second pass brings "ENC2THL" up to date.
constexpr DriverStep kEncodeSteps[] = {
    {nullptr, Encode, "PWMPER"},
    // Drive protections.
    {nullptr, Encode, "T2MAXPROT"},
    {nullptr, Encode, "UMAXPROT"},
    {nullptr, Encode, "UMINPROT"},
    {nullptr, Encode, "II2TPROT_D"},
    {nullptr, Encode, "SFI2T_D"},
    {nullptr, Encode, "I2TINTLIM_D"},
    {HasI2tWarningLimits, Encode, "II2TWARLIM_D"},
    // PWM saturation, encoder and configuration words.
    {nullptr, Encode, "SATPWM"},
    {nullptr, Encode, "MECRESL"},
    {nullptr, Encode, "ENC2THL"},
    {nullptr, Encode, "MTSTYPE"},
    {nullptr, Encode, "AAR_table"},
    {nullptr, Encode, "SCR"},
    {nullptr, Encode, "OSR"},
    {nullptr, Encode, "ASR"},
    {nullptr, Encode, "PCR"},
    {nullptr, Encode, "ACR"},
    // Current, speed and position loops.
    {nullptr, Encode, "SFTKPI"},
    {nullptr, Encode, "KPI"},
    {nullptr, Encode, "SFTKII"},
    {nullptr, Encode, "KII"},
    {nullptr, Encode, "SATID", {"SATID", "SATPWM"}},
    {nullptr, Encode, "SATIQ", {"SATIQ", "SATPWM"}},
    {nullptr, Encode, "FILTERQ"},
    {nullptr, Encode, "FFL"},
    {nullptr, Encode, "KFFL", {"KFFL"}},
    {nullptr, Encode, "SFTKPS"},
    {nullptr, Encode, "KPS"},
    {nullptr, Encode, "SFTKIS"},
    {nullptr, Encode, "KIS"},
    {nullptr, Encode, "IMAXS"},
    {nullptr, Encode, "SATS"},
    {nullptr, Encode, "SFTKPP"},
    {nullptr, Encode, "KPP"},
    {nullptr, Encode, "SFTKIP"},
    {nullptr, Encode, "KIP"},
    {nullptr, Encode, "SFTKDP"},
    {nullptr, Encode, "KDP"},
    {nullptr, Encode, "KDFP", {"KDFP", "filter_D"}},
    {HasAngleController, Encode, "SFTKPTHT"},
    {HasAngleController, Encode, "KPTHT"},
    {HasAngleController, Encode, "SFTKITHT"},
    {HasAngleController, Encode, "KITHT"},
    {nullptr, Encode, "IMAXP"},
    {nullptr, Encode, "SATP"},
    {nullptr, Encode, "SFTSFFW"},
    {nullptr, Encode, "KFFS"},
    {nullptr, Encode, "SFTAFFW", {"SFTAFFW"}},
    {nullptr, Encode, "SFTKFF", {"SFTKFF"}},
    {nullptr, Encode, "KFFA"},
    // Motor and control error protections.
    {nullptr, Encode, "IMAXPROT"},
    {nullptr, Encode, "TIMAXPROT"},
    {nullptr, Encode, "ERRMAX"},
    {nullptr, Encode, "TERRMAX"},
    {nullptr, Encode, "SERRMAX"},
    {nullptr, Encode, "TSERRMAX"},
    {nullptr, Encode, "T1MAXPROT", {"T1MAXPROT"}},
    {nullptr, Encode, "II2TPROT_M"},
    {nullptr, Encode, "SFI2T_M"},
    {nullptr, Encode, "I2TINTLIM_M"},
    {HasI2tWarningLimits, Encode, "I2TWARLIM_M"},
    // Software limit switches: the negative one, then the positive one.
    {HasSoftwareLimitSwitches, Encode, "SWNEGLS"},
    {HasSoftwareLimitSwitches, Encode, "SWPOSLS"},
    // External reference.
    {nullptr, Encode, "CACC"},
    {nullptr, Encode, "CSPD"},
    {HasAnalogueReference, Encode, "CADIN"},
    {HasAnalogueReference, Encode, "SFTADIN"},
    {HasAnalogueReference, Encode, "AD5OFF"},
    {HasAnalogueReference, Encode, "FILTER1"},
    {HasAnalogueReference, Encode, "LEVEL_AD5"},
    {HasAnalogueReference, Encode, "E_LEVEL_AD5"},
    {nullptr, Encode, "GEAR"},
    // Start, test timing and the remaining configuration words.
    {nullptr, Encode, "T1ONA"},
    {nullptr, Encode, "T1ONB"},
    {nullptr, Encode, "REFTST"},
    {nullptr, Encode, "RINCTST"},
    {nullptr, Encode, "ELRESL"},
    {nullptr, Encode, "BRAKELIM"},
    {nullptr, Encode, "DIGIN_ACTIVE_LEVEL"},
    {nullptr, Encode, "UPGRADE"},
    // Registers only some drives have.
    {HasCanSettings, Encode, "LSS_Active"},
    {HasMotorBrake, Encode, "BRAKECFG"},
    {HasMotorBrake, Encode, "BRAKEAPPLYDELAY"},
    {HasMotorBrake, Encode, "BRAKERELEASEDELAY"},
    // Also sets the least "SINCOS_fract".
    {HasElresFract, Encode, "ELRES_FRACT"},
    // One step writes "QUAL", "QUAL_ACT" and "QUAL_AQ2".
    {HasEncoderFilter, Encode, "QUAL"},
    {HasFreezeControl, Encode, "POSOKLIM_FC"},
    {HasFreezeControl, Encode, "TONPOSOK_FC"},
    {HasTransmissionRegister, Encode, "TRANSMISSION"},
    {HasReverseCounting, Encode, "COUNTINGDIR"},
    {HasAbsoluteStartMinMove, Encode, "ABSTART_MINMOVE"},
};

bool OptionalNamesPresent(const CMC_Setup& setup, const DriverStep& step) {
  for (std::string_view name : step.needs)
    if (!name.empty() && FindParameterQuiet(setup, name) == nullptr) return false;
  return true;
}

// Runs every step in order; a step's result is not looked at, so one step
// that could not convert never keeps the others from running.
void RunSteps(CMC_Setup& setup, std::span<const DriverStep> steps) {
  Probe bracket = nullptr;
  bool open = true;
  for (const DriverStep& step : steps) {
    if (step.probe != bracket) {
      bracket = step.probe;
      open = bracket == nullptr || bracket(setup);
    }
    if (!open || !OptionalNamesPresent(setup, step)) continue;
    if (step.direction == Decode)
      RunDecodeStep(setup, step.name);
    else
      RunEncodeStep(setup, step.name);
  }
}

}  // namespace

void DecodeRegisters(CMC_Setup& setup) { RunSteps(setup, kDecodeSteps); }

void EncodeRegisters(CMC_Setup& setup) {
  RunSteps(setup, kEncodeSteps);
  // Last: the biquad filters of the current reference, designed from the
  // user's filter description into their slot registers.
  if (HasCurrentReferenceFilter(setup)) {
    CBiquadDesign design;
    design.EncodeFilters(setup);
  }
}
