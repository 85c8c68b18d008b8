#include "CodecDrivers.h"

void DecodeRegisters(CMC_Setup&) {}
void EncodeRegisters(CMC_Setup&) {}
