// The factor and offset with which the host converts a parameter or variable
// between its internal (drive) unit and its base unit:
// physical = (internal + offset) * factor.
#pragma once

#include "axcore/Setup.h"

// Physical value of one internal unit of the parameter or variable `name`
// whose base unit is `unit`; 1 for a unit the drive does not scale. Unit and
// name are compared with ASCII case ignored.
double ComputeScaleFactor(const CMC_Setup& setup, const char* unit, const char* name);
// Offset in internal units: non-zero only for the temperature unit "°C".
double ComputeScaleOffset(const CMC_Setup& setup, const char* unit);

// Radians per second of one internal unit of "TINCTST", the angle increment
// per current-loop period that a test applies.
double TinctstFactor(const CMC_Setup& setup);

// The two functions above in the form the setup document attaches, as the
// host does with the plug-in's exports; for callers that link the model.
ScaleFunctions ModelScaleFunctions();
