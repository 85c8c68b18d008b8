// The registers of the control loops (current, electric angle, speed,
// position) and the user parameters they stand for.
//
// The drive holds a gain as a 15-bit mantissa K and a power-of-two shift S,
// gain = K * 2^S / 32767; a saturation as 32767 minus the limit in internal
// units; a first-order filter as its coefficient times 32767; the start
// currents in voltage-command counts. Each function below is one step named
// after the parameter it writes, with the conventions of CodecSteps.h: every
// name is looked up first (a missing one is reported and the step writes
// nothing), a decoding step sets the range of its user parameter first, and
// the result is 1 when the step wrote, else 0. A step whose drive scale is not
// a finite non-zero number (a zero "ImaxPS", "Vdc" or loop period) writes
// nothing: there is no physical value to convert from or to.
#pragma once

class CMC_Setup;

// --- gains held as mantissa and shift: decode the gain; encode the shift,
// S = 0 for a gain up to 1, else ceil(ln G / ln 2); encode the mantissa,
// K = G * 32767 / 2^S, not rounded here.
int DecodeKp_C_scl(CMC_Setup& setup);
int DecodeKi_C_scl(CMC_Setup& setup);
int DecodeKp_S_scl(CMC_Setup& setup);
int DecodeKi_S_scl(CMC_Setup& setup);
int DecodeKp_P_scl(CMC_Setup& setup);
int DecodeKi_P_scl(CMC_Setup& setup);
int DecodeKd_P_scl(CMC_Setup& setup);
int DecodeKp_T_scl(CMC_Setup& setup);  // only with the angle controller ("KPTHT")
int DecodeKi_T_scl(CMC_Setup& setup);  // only with the angle controller
int DecodeKFFS_scl(CMC_Setup& setup);
int EncodeKPI(CMC_Setup& setup);
int EncodeSFTKPI(CMC_Setup& setup);
int EncodeKII(CMC_Setup& setup);
int EncodeSFTKII(CMC_Setup& setup);
int EncodeKPS(CMC_Setup& setup);
int EncodeSFTKPS(CMC_Setup& setup);
int EncodeKIS(CMC_Setup& setup);
int EncodeSFTKIS(CMC_Setup& setup);
int EncodeKPP(CMC_Setup& setup);
int EncodeSFTKPP(CMC_Setup& setup);
int EncodeKIP(CMC_Setup& setup);
int EncodeSFTKIP(CMC_Setup& setup);
int EncodeKDP(CMC_Setup& setup);
int EncodeSFTKDP(CMC_Setup& setup);
int EncodeKPTHT(CMC_Setup& setup);     // only with the angle controller
int EncodeSFTKPTHT(CMC_Setup& setup);  // only with the angle controller
int EncodeKITHT(CMC_Setup& setup);     // only with the angle controller
int EncodeSFTKITHT(CMC_Setup& setup);  // only with the angle controller
int EncodeKFFS(CMC_Setup& setup);
int EncodeSFTSFFW(CMC_Setup& setup);

// --- acceleration feed-forward: mantissa "KFFA" and a total shift split
// into "SFTAFFW" (at most 11) and "SFTKFF" (the rest).
int DecodeKFFA_scl(CMC_Setup& setup);
int EncodeKFFA(CMC_Setup& setup);
int EncodeSFTAFFW(CMC_Setup& setup);
int EncodeSFTKFF(CMC_Setup& setup);

// --- derivative filter of the position controller: filter_D = KDFP / 32767.
int DecodeFilter_D(CMC_Setup& setup);
int EncodeKDFP(CMC_Setup& setup);

// --- current limit and saturations. ACR bit 9 tells which saturation
// carries the current limit: "SATS" when the speed loop runs, else "SATP".
int DecodeIlimPS(CMC_Setup& setup);
int DecodeTestLimitCurrent(CMC_Setup& setup);
int DecodeLimit_Speed(CMC_Setup& setup);  // position mode over the speed loop only; else 1, nothing written
int DecodeIPSatS(CMC_Setup& setup);
int DecodeIPSatP(CMC_Setup& setup);
int EncodeSATS(CMC_Setup& setup);
int EncodeSATP(CMC_Setup& setup);
int EncodeIMAXS(CMC_Setup& setup);
int EncodeIMAXP(CMC_Setup& setup);
int EncodeSATPWM(CMC_Setup& setup);
int EncodeSATID(CMC_Setup& setup);
int EncodeSATIQ(CMC_Setup& setup);

// --- gravity offset and load feed-forward.
int DecodeOffsetCurrent(CMC_Setup& setup);
int DecodeIsCompensateGravitationalLoads(CMC_Setup& setup);
int DecodeMload_over_M(CMC_Setup& setup);
int EncodeFFL(CMC_Setup& setup);
int EncodeKFFL(CMC_Setup& setup);

// --- first-order filter on the current controller output, y += q (x - y)
// every current-loop period, FILTERQ = q * 32767 (32767: no filtering).
int DecodeIsUseFilterOnCrtCtrlOutput(CMC_Setup& setup);
int DecodeFilterOnCurrentControllerOutput(CMC_Setup& setup);
int EncodeFILTERQ(CMC_Setup& setup);

// --- test and start quantities.
int DecodeTestCurrent(CMC_Setup& setup);  // always reset to half the smaller nominal current
int DecodeTestProtectionCurrent(CMC_Setup& setup);
int DecodeTestStartCurrent(CMC_Setup& setup);
int DecodeStartCurrent(CMC_Setup& setup);
int DecodeTestMaxSpeed(CMC_Setup& setup);
int DecodeTime_AB(CMC_Setup& setup);
int EncodeREFTST(CMC_Setup& setup);
int EncodeRINCTST(CMC_Setup& setup);
int EncodeT1ONA(CMC_Setup& setup);
int EncodeT1ONB(CMC_Setup& setup);
