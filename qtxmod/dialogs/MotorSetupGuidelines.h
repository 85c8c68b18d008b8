// The guideline assistant's step texts of the Motor Setup dialog, ended by
// a null entry.
#pragma once

extern const char* const kMotorSetupGuidelines[];
