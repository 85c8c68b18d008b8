// The two codec drivers: every conversion step from registers to user
// parameters, and back, in the drive's fixed order.
#pragma once

class CMC_Setup;

// Registers to user parameters; each step's result is ignored.
void DecodeRegisters(CMC_Setup& setup);
// User parameters to registers; each step's result is ignored.
void EncodeRegisters(CMC_Setup& setup);
