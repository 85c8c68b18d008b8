#include "Limits.h"

int SetParameterLimits(CMC_Setup&) { return 0; }
int SetEncResLimits(CMC_Setup&) { return 0; }
int SetMaxCurrentLimits(CMC_Setup&) { return 0; }
int SetAnalogueReferenceLimits(CMC_Setup&) { return 0; }
int SetFilterLimits(CMC_Setup&) { return 0; }
int SetDeadBandPointLimits(CMC_Setup&) { return 0; }
int SetDeadBandRangeLimits(CMC_Setup&) { return 0; }
int SetPosMaxLimits(CMC_Setup&) { return 0; }
int SetPosMinLimits(CMC_Setup&) { return 0; }
int SetSpdMaxLimits(CMC_Setup&) { return 0; }
int SetSpdMinLimits(CMC_Setup&) { return 0; }
int SetCrtMaxLimits(CMC_Setup&) { return 0; }
int SetCrtMinLimits(CMC_Setup&) { return 0; }
int SetControlStructureOptions(CMC_Setup&) { return 0; }
int SwitchUnitTypes(CMC_Setup&) { return 1; }
int ApplySpeedFeedforwardRule(CMC_Setup&) { return 0; }
