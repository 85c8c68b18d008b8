// Derived limits, the control structure options, the load's unit types and
// the speed feedforward rule.
//
// Limits are set in base units and only on parameters that exist; a routine
// never creates a parameter. Each returns 1 when it did its work, 0 when it
// could not: a name it needs is missing (the host reports it), the speed-loop
// period or a scale it divides by is 0, negative or not finite, a bound
// would be empty or not finite, or a mode parameter is no int. Then the
// limits it would have set are left as they were.
#pragma once

class CMC_Setup;

// The whole parameter limits stage, its steps in the drive's order; each step
// runs whatever the others did. 1 when every step that applies to the setup
// set its limits (the feature-bound steps apply only with their feature).
int SetParameterLimits(CMC_Setup& setup);

// Single rows, as the dialogs and the register decoders call them.
int SetEncResLimits(CMC_Setup& setup);      // "EncRes": maximum "PolePitch"
int SetMaxCurrentLimits(CMC_Setup& setup);  // "MAX_CURRENT": [0, min(In, InPS)]

// The analogue reference limits, all rows in order, and each row alone. They
// do not probe for the analogue input themselves: the limits stage runs them
// only when the setup has the variable and the parameter "CADIN".
int SetAnalogueReferenceLimits(CMC_Setup& setup);
int SetFilterLimits(CMC_Setup& setup);          // "filter"
int SetDeadBandPointLimits(CMC_Setup& setup);   // "DeadBand_Point"
int SetDeadBandRangeLimits(CMC_Setup& setup);   // "DeadBand_Range"
int SetPosMaxLimits(CMC_Setup& setup);          // "POS_max"
int SetPosMinLimits(CMC_Setup& setup);          // "POS_min"
int SetSpdMaxLimits(CMC_Setup& setup);          // "SPD_max"
int SetSpdMinLimits(CMC_Setup& setup);          // "SPD_min"
int SetCrtMaxLimits(CMC_Setup& setup);          // "CRT_max"
int SetCrtMinLimits(CMC_Setup& setup);          // "CRT_min"

// The options that tell the host which loops are closed and where the
// feedback sits. The six feedback options are always written; the three
// "IsClosed" options only for a control mode the drive has (else 0).
int SetControlStructureOptions(CMC_Setup& setup);

// Rotary or linear units for the load-side parameters and variables, from
// "TransmissionType"; always 1.
int SwitchUnitTypes(CMC_Setup& setup);

// Speed feed-forward on (and ACR bit 14 set) unless the position loop runs
// with a speed loop of its own. 0, writing nothing, when a name is missing
// or "ACR" holds no register value.
int ApplySpeedFeedforwardRule(CMC_Setup& setup);
