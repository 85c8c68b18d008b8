#include "FeatureProbes.h"

#include <initializer_list>

#include "axcore/Diagnostics.h"
#include "axcore/Setup.h"

CMC_Parameter* FindParameterQuiet(const CMC_Setup& setup, std::string_view name) {
  axcore::QuietLookup quiet;
  return setup.FindParameter(name);
}

CMC_Variable* FindVariableQuiet(const CMC_Setup& setup, std::string_view name) {
  axcore::QuietLookup quiet;
  return setup.FindVariable(name, 1);
}

double GetOptionalValue(const CMC_Setup& setup, std::string_view name, double fallback) {
  const CMC_Parameter* p = FindParameterQuiet(setup, name);
  return p != nullptr ? p->GetValueInBaseUnit() : fallback;
}

namespace {

bool HasAll(const CMC_Setup& setup, std::initializer_list<std::string_view> names) {
  for (std::string_view name : names)
    if (FindParameterQuiet(setup, name) == nullptr) return false;
  return true;
}

}  // namespace

bool HasAnalogueReference(const CMC_Setup& setup) {
  return FindVariableQuiet(setup, "CADIN") != nullptr && HasAll(setup, {"CADIN"});
}
bool HasAngleController(const CMC_Setup& setup) { return HasAll(setup, {"KPTHT"}); }
bool HasStartPosition(const CMC_Setup& setup) { return HasAll(setup, {"START_POS"}); }
bool HasAcquisitionsNo(const CMC_Setup& setup) { return HasAll(setup, {"AquisitionsNo"}); }
bool HasSamplingRate(const CMC_Setup& setup) { return HasAll(setup, {"SamplingRate"}); }
bool HasSoftwareLimitSwitches(const CMC_Setup& setup) { return HasAll(setup, {"isSWLS"}); }
bool HasSpeedEstimator(const CMC_Setup& setup) { return HasAll(setup, {"isSpeedEstimator"}); }
bool HasCanSettings(const CMC_Setup& setup) { return HasAll(setup, {"save_CAN_baudrate", "save_axis_id"}); }
bool HasMotorBrake(const CMC_Setup& setup) { return HasAll(setup, {"BRAKECFG", "isMotorBrake"}); }
bool HasI2tWarningLimits(const CMC_Setup& setup) { return HasAll(setup, {"II2TWARLIM_D", "I2TWARLIM_M"}); }
bool HasFreezeControl(const CMC_Setup& setup) { return HasAll(setup, {"POSOKLIM_FC", "TONPOSOK_FC"}); }
bool HasInputsPolarityType(const CMC_Setup& setup) { return HasAll(setup, {"InputsPolarityType"}); }
bool HasTransmissionRegister(const CMC_Setup& setup) { return HasAll(setup, {"TRANSMISSION"}); }
bool HasCurrentReferenceFilter(const CMC_Setup& setup) { return HasAll(setup, {"IQREF_BQ_INI"}); }
bool HasSpeedTestReferenceType(const CMC_Setup& setup) { return HasAll(setup, {"SpeedTestReferenceType"}); }
bool HasReverseCounting(const CMC_Setup& setup) { return HasAll(setup, {"ReverseCounting"}); }
bool HasAbsoluteStartMinMove(const CMC_Setup& setup) { return HasAll(setup, {"ABSTART_MINMOVE"}); }
bool HasElresFract(const CMC_Setup& setup) { return HasAll(setup, {"ELRES_FRACT"}); }
bool HasSpeedForward(const CMC_Setup& setup) { return HasAll(setup, {"SpeedForward"}); }
bool HasEncoderFilter(const CMC_Setup& setup) { return HasAll(setup, {"isFilterEnc", "FilterEncValue"}); }

bool HasNegativeTransmission(const CMC_Setup& setup) { return setup.GetIntOption("hasNegTransmission") == 1; }
bool IsEnablePolarityHidden(const CMC_Setup& setup) { return setup.GetIntOption("hideEnablePolarity") == 1; }
bool IsNewDeadBand(const CMC_Setup& setup) { return setup.GetIntOption("NewDeadBand") == 1; }

int GetInputsTypeProgrammable(const CMC_Setup& setup) {
  if (setup.GetOptionNoError("IsInputsTypeProgrammable").empty()) return -1;
  return setup.GetIntOption("IsInputsTypeProgrammable");
}

double GetAbsoluteStartMinMovePercent(const CMC_Setup& setup) {
  return GetOptionalValue(setup, "ABSTART_MINMOVE_PERCENT", 60.0);
}
