// Feature probes: which optional registers and parameters this setup holds.
//
// One plug-in serves drives with and without these registers. A probe looks
// the names up quietly (g_bShowErrors held at zero, then restored), so an
// absent optional register is never reported to the user, and answers true
// when every name exists.
#pragma once

#include <string_view>

class CMC_Parameter;
class CMC_Setup;
class CMC_Variable;

// Quiet lookups: null when absent, nothing reported.
CMC_Parameter* FindParameterQuiet(const CMC_Setup& setup, std::string_view name);
CMC_Variable* FindVariableQuiet(const CMC_Setup& setup, std::string_view name);
// Base value of an optional parameter, `fallback` when it is absent.
double GetOptionalValue(const CMC_Setup& setup, std::string_view name, double fallback);

bool HasAnalogueReference(const CMC_Setup& setup);  // variable and parameter "CADIN"
bool HasAngleController(const CMC_Setup& setup);
bool HasStartPosition(const CMC_Setup& setup);
bool HasAcquisitionsNo(const CMC_Setup& setup);
bool HasSamplingRate(const CMC_Setup& setup);
bool HasSoftwareLimitSwitches(const CMC_Setup& setup);
bool HasSpeedEstimator(const CMC_Setup& setup);
bool HasCanSettings(const CMC_Setup& setup);
bool HasMotorBrake(const CMC_Setup& setup);
bool HasI2tWarningLimits(const CMC_Setup& setup);
bool HasFreezeControl(const CMC_Setup& setup);
bool HasInputsPolarityType(const CMC_Setup& setup);
bool HasTransmissionRegister(const CMC_Setup& setup);
bool HasCurrentReferenceFilter(const CMC_Setup& setup);
bool HasSpeedTestReferenceType(const CMC_Setup& setup);
bool HasReverseCounting(const CMC_Setup& setup);
bool HasAbsoluteStartMinMove(const CMC_Setup& setup);
bool HasElresFract(const CMC_Setup& setup);
bool HasSpeedForward(const CMC_Setup& setup);
bool HasEncoderFilter(const CMC_Setup& setup);

// Tests of the setup's integer options.
bool HasNegativeTransmission(const CMC_Setup& setup);  // "hasNegTransmission" is 1
bool IsEnablePolarityHidden(const CMC_Setup& setup);   // "hideEnablePolarity" is 1
bool IsNewDeadBand(const CMC_Setup& setup);            // "NewDeadBand" is 1
// -1 when the option "IsInputsTypeProgrammable" is empty or absent, else its
// integer value.
int GetInputsTypeProgrammable(const CMC_Setup& setup);
// Base value of "ABSTART_MINMOVE_PERCENT", 60 when absent.
double GetAbsoluteStartMinMovePercent(const CMC_Setup& setup);
