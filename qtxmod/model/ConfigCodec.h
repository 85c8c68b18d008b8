// The configuration registers: the system, application, option and input
// words, CAN and axis identity, the motor brake, the software limit switches,
// freeze control, the encoder and transmission registers, the encoder input
// filter and the external reference.
//
// Each function is one conversion step, named after the parameter it writes:
// Decode<user parameter> (register to user parameter) or Encode<register>.
// A step looks up every name it needs, including the inputs of the drive
// scales it uses, with ordinary lookups so that the host reports each missing
// one; it then returns 0 and writes nothing. A decoding step sets the range of
// its user parameter first and writes nothing when that range is empty. A
// step whose scale or period is zero or not finite writes nothing and returns
// 0. A register value that has to become an integer (a bit field, a
// truncation, a table index) and cannot (not finite, wider than 32 bits)
// stops the step, which returns 0. 1 means the value was written.
//
// A flag is on when its value truncated to an integer is 1. Bits of a
// register that no row names keep their values on encoding, unless the row
// says the register is rebuilt.
//
// Symbols: sP = load position scale, vS = load speed scale, aL = load
// acceleration scale, ADCMAX = full-scale converter count, n = interpolation
// bits ("SINCOS_fract" truncated), AIR = "AnalogueInputsRange". Ts_S(c) is
// the speed-loop period computed from the registers, Ts_S(p) the parameter
// "Ts_S".
#pragma once

class CMC_Setup;

// --- "SCR", system configuration. Bits 12 to 14 are always written 0x2000.
int DecodeisMotorTemperatureSensor(CMC_Setup& setup);  // bit 7
int DecodeisDriveTemperatureSensor(CMC_Setup& setup);  // bit 8
int DecodeisSpeedEstimator(CMC_Setup& setup);          // bits 3 to 5 equal 0x0030
int EncodeSCR(CMC_Setup& setup);

// --- "ACR", application control.
int DecodeControlMode(CMC_Setup& setup);                  // bit 10: 0, else bit 9: 1, else 2
int DecodeExternalReference(CMC_Setup& setup);            // bit 6 or bit 7
int DecodeIsAutoActivatedAfterPowerOn(CMC_Setup& setup);  // bit 1
int DecodeisAnalogueReference(CMC_Setup& setup);          // bit 6; range [0, 0] without analogue input
int DecodeDigitalReferenceType(CMC_Setup& setup);         // 1 when bit 2 is clear
int DecodeSpeedForward(CMC_Setup& setup);                 // bit 14, internal units, no range
int DecodeisFreezeControl(CMC_Setup& setup);              // bit 4, position mode only, internal units
int EncodeACR(CMC_Setup& setup);

// --- "OSR", options. Bit 2 is always written 1, bit 3 always 0.
int DecodeStartMode(CMC_Setup& setup);        // bit 4
int DecodeisBrakeResistor(CMC_Setup& setup);  // bit 9
int EncodeOSR(CMC_Setup& setup);

// --- "ASR".
int DecodeisSWLS(CMC_Setup& setup);              // bit 12
int DecodeInputsPolarityType(CMC_Setup& setup);  // 1 when bit 2 is clear
// Bit 7 is set when the setup offers a negative transmission (option
// "hasNegTransmission") and the transmission ratio is below 0.
int EncodeASR(CMC_Setup& setup);

// --- "DIGIN_ACTIVE_LEVEL", active levels of the digital inputs.
int DecodeEnablePolarity(CMC_Setup& setup);  // bit 15
int DecodeLSNPolarity(CMC_Setup& setup);     // bit 14
int DecodeLSPPolarity(CMC_Setup& setup);     // bit 13
int EncodeDIGIN_ACTIVE_LEVEL(CMC_Setup& setup);

// --- "UPGRADE". Bit 15 is always written 0; bit 9 (time base of "T1ONA")
// is read only.
int DecodeisLimitMaximum(CMC_Setup& setup);  // bit 2
// Bit 6; returns 1 and does nothing when the setup has no "PosSpd_in_FastLoop".
int DecodePosSpd_in_FastLoop(CMC_Setup& setup);
int EncodeUPGRADE(CMC_Setup& setup);

// --- "MTSTYPE", motor temperature sensor type.
int DecodeMotor_TempSensor_Type(CMC_Setup& setup);  // MTSTYPE truncated
int EncodeMTSTYPE(CMC_Setup& setup);

// --- CAN and axis identity.
int DecodeAxis_ID_list(CMC_Setup& setup);       // AAR_table - 256, 0 for 0
int EncodeAAR_table(CMC_Setup& setup);          // Axis_ID_list + 256, 0 for 0
int Decodesave_CAN_baudrate(CMC_Setup& setup);  // 1 when LSS_Active bit 1 is clear
int Decodesave_axis_id(CMC_Setup& setup);       // 1 when LSS_Active bit 0 is clear
int EncodeLSS_Active(CMC_Setup& setup);         // rebuilt from the two flags

// --- Motor brake: "BRAKECFG" bit 0 says a brake is fitted, bits 8 to 15 name
// the drive pin that drives it; the delays count speed-loop periods Ts_S(p).
int DecodeisMotorBrake(CMC_Setup& setup);
int DecodeMotorBrake_output(CMC_Setup& setup);       // the output port of the brake pin
int DecodeMotorBrake_releasetime(CMC_Setup& setup);  // Ts_S(p) * BRAKERELEASEDELAY
int DecodeMotorBrake_applytime(CMC_Setup& setup);    // Ts_S(p) * BRAKEAPPLYDELAY
int EncodeBRAKECFG(CMC_Setup& setup);                // rebuilt
int EncodeBRAKEAPPLYDELAY(CMC_Setup& setup);
int EncodeBRAKERELEASEDELAY(CMC_Setup& setup);

// --- Software limit switches, in encoder counts. Under a reversing
// transmission (sP < 0) the load's negative limit is the drive's positive
// one: the registers swap.
int DecodeNegative_SWLS(CMC_Setup& setup);
int DecodePositive_SWLS(CMC_Setup& setup);
int EncodeSWNEGLS(CMC_Setup& setup);  // Negative_SWLS * sP into SWNEGLS, or into SWPOSLS when sP < 0
int EncodeSWPOSLS(CMC_Setup& setup);  // Positive_SWLS * sP into SWPOSLS, or into SWNEGLS when sP < 0

// --- Freeze control.
int DecodeFreezeControl_errband(CMC_Setup& setup);  // POSOKLIM_FC / |sP|
int DecodeFreezeControl_time(CMC_Setup& setup);     // Ts_S(p) * TONPOSOK_FC
int EncodePOSOKLIM_FC(CMC_Setup& setup);
int EncodeTONPOSOK_FC(CMC_Setup& setup);

// --- Encoder and transmission.
int EncodeMECRESL(CMC_Setup& setup);  // encoder periods per pole pitch
// 2^32 * EncRes / PolePitch, divided by 2^ELRES_FRACT when the setup has it
// (the value held before this pass).
int EncodeENC2THL(CMC_Setup& setup);
int EncodeELRESL(CMC_Setup& setup);  // counts per pole pitch
// Fractional bits of the electrical angle, and the least number of
// interpolation bits ("SINCOS_fract" minimum) that goes with it.
int EncodeELRES_FRACT(CMC_Setup& setup);
int DecodeReverseCounting(CMC_Setup& setup);  // 1 when COUNTINGDIR is exactly 1
int EncodeCOUNTINGDIR(CMC_Setup& setup);
int EncodeTRANSMISSION(CMC_Setup& setup);     // -1 for a reversing transmission, else 1
int EncodeABSTART_MINMOVE(CMC_Setup& setup);  // a share of a third of the counts per pole pitch

// --- Encoder input filter.
int DecodeisFilterEnc(CMC_Setup& setup);  // 1 when QUAL is exactly 1
// Writes "QUAL", then, when the filter is on, the filter setting of
// "FilterEncValue" into "QUAL_ACT" bits 16 to 23 and "QUAL_AQ2" mask 0xCF00.
int EncodeQUAL(CMC_Setup& setup);

// --- External reference.
int DecodeErefMaxSpeed(CMC_Setup& setup);  // CSPD / |vS|
int EncodeCSPD(CMC_Setup& setup);
int DecodeErefMaxAcceleration(CMC_Setup& setup);  // CACC / |aL|
int EncodeCACC(CMC_Setup& setup);
int EncodeGEAR(CMC_Setup& setup);  // GEARSLAVE / GEARMASTER
// Dead band of the analogue reference, in volts at the analogue input.
int DecodeDeadBand_Point(CMC_Setup& setup);
int DecodeDeadBand_Range(CMC_Setup& setup);
int EncodeLEVEL_AD5(CMC_Setup& setup);
int EncodeE_LEVEL_AD5(CMC_Setup& setup);
// First-order filter on the reference, coefficient FILTER1 / 32767 per Ts_S.
int DecodeUseFilter(CMC_Setup& setup);  // 1 when FILTER1 is not 32767
int Decodefilter(CMC_Setup& setup);     // filter rate, 1/s
int EncodeFILTER1(CMC_Setup& setup);
// The analogue input spans [min, max] of the quantity the control mode
// selects: position (ControlMode 0), speed (1) or current (any other). The
// minimum is the offset "AD5OFF"; the span is held as mantissa "CADIN" and
// shift "SFTADIN". All in internal units.
int DecodePOS_min(CMC_Setup& setup);
int DecodePOS_max(CMC_Setup& setup);
int DecodeSPD_min(CMC_Setup& setup);
int DecodeSPD_max(CMC_Setup& setup);
int DecodeCRT_min(CMC_Setup& setup);
int DecodeCRT_max(CMC_Setup& setup);
int EncodeCADIN(CMC_Setup& setup);
int EncodeSFTADIN(CMC_Setup& setup);
int EncodeAD5OFF(CMC_Setup& setup);
