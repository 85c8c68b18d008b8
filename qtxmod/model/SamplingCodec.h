// The PWM and sampling registers: PWM frequency and period, and the periods
// of the current loop and of the speed and position loops.
#pragma once

class CMC_Setup;

int DecodePWM_freq(CMC_Setup& setup);   // DSP_freq * 0.5 / PWMPER
int DecodePWMperiod(CMC_Setup& setup);  // PWMPER * 2 / DSP_freq
int DecodeTs_C(CMC_Setup& setup);       // CLPER * 2 * PWMPER / DSP_freq
int DecodeTs_S(CMC_Setup& setup);       // SLPER * 2 * PWMPER / DSP_freq
// DSP_freq * 0.5 / PWM_freq, not rounded here: the register's own rounding
// is the document's. "CLPER" and "SLPER" have no encoding of their own; the
// dialog that sets them decodes the periods again.
int EncodePWMPER(CMC_Setup& setup);
