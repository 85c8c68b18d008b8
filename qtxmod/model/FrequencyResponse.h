// A loop's frequency response measured on the drive, from what the drive's
// frequency-response program logs once per tick of the loop: the
// excitation d it added at the controller's output, the signal u there
// with it (u = d + the controller's output c), and the loop's measurement
// y. Pure computation: the drive test and the command line feed it.
//
// Spectra are Welch averages: the record is cut into segments of the
// excitation's period (the pseudo-random sequence repeats, so a segment of
// whole periods has no leakage and takes no window; any other length takes
// a Hann window with half-overlapping segments), each detrended to its
// mean, transformed (KISS FFT) and the cross- and auto-spectra averaged.
// With the excitation as the instrument, noise on u and y and the loop's
// own feedback drop out of the averages:
//
//   plant        P = S_dy / S_du          (u to y: the loop's plant as the
//                                          controller sees it)
//   sensitivity  S = S_du / S_dd          (u = d - L u)
//   open loop    L = 1 / S - 1            (the gain round the loop, as the
//                                          loop model's OpenLoop::At)
//   closed loop  T = L / (1 + L) = 1 - S
//
// and the coherence, the least of those of d with u and of d with y: 1
// where the response is linear and noise-free, towards 0 where friction,
// quantisation or noise take over.
#pragma once

#include <complex>
#include <string>
#include <vector>

#include "LoopMargins.h"

// The excitation the drive makes for a band, and how the record is cut.
//
// The sequence never repeats within a run (its register is long enough),
// so that it is random as far as the measurement can tell: the response to
// what friction, quantisation and noise add is then uncorrelated with the
// excitation and lowers the coherence where it matters. (A sequence
// repeated period after period would make friction's distortion periodic
// too, and coherent: a response bent by friction would look linear.) The
// record is averaged in half-overlapping Hann-windowed segments of a power
// of two ticks.
struct ExcitationPlan {
  int registerBits = 20;  // a sequence of 2^bits - 1 bits, longer than the run
  int bitTicks = 1;       // ticks a bit is held
  int segmentTicks = 0;   // ticks of one Welch segment
  int settleTicks = 0;    // one segment before the logger starts
  int measureTicks = 0;   // the segments averaged
  int averages = 0;
  double resolution_Hz = 0.0;
  std::string error;  // why the band cannot be measured; empty when it can
};

// A band from `from_Hz` up to `to_Hz` on a loop ticking every `tick_s`:
// bits of one tick while the band reaches above a fifth of the tick rate,
// else held so that the band's top lies below 0.4 / bit time (the
// sequence's spectrum is 1.7 dB down there); segments long enough for
// `linesBelowFrom` lines up to `from_Hz`; `averages` of them, fewer when
// the record would pass `mostTicks`. Refused: a band that is empty,
// reaches 0 Hz or beyond the Nyquist frequency, or whose lowest frequency
// needs segments beyond `mostTicks`.
ExcitationPlan PlanExcitation(double tick_s, double from_Hz, double to_Hz, int averages = 15, int linesBelowFrom = 4,
                              int mostTicks = 16384);

struct MeasuredResponse {
  std::vector<double> frequency_Hz;  // the lines of the segment, from the first above 0
  std::vector<std::complex<double>> plant, sensitivity, openLoop, closedLoop;
  std::vector<double> coherence;
  int averages = 0;
  std::string error;  // empty when measured
};

// `excitation`, `input` (u) and `output` (y), one sample a tick of
// `tick_s`, averaged in segments of `segmentTicks` (whole periods of the
// excitation when `periodic`). Lines from `from_Hz` to `to_Hz` are kept.
MeasuredResponse MeasureResponse(const std::vector<double>& excitation, const std::vector<double>& input,
                                 const std::vector<double>& output, double tick_s, int segmentTicks, bool periodic,
                                 double from_Hz, double to_Hz);

// The margins read from a measured open loop (LoopMargins.h for what each
// means), on the lines where the coherence reaches `minCoherence`:
// crossings found between neighbouring lines, the magnitude interpolated
// in dB and the phase linearly over the logarithm of frequency. `stable`
// is true: the drive ran the loop while it was measured. Not valid when
// fewer than two lines are coherent.
LoopMargins MeasuredMargins(const MeasuredResponse& measured, double minCoherence = 0.9);

// A peak of the measured plant above its rigid-body line.
struct Resonance {
  double frequency_Hz = 0.0;
  double height_dB = 0.0;    // above the rigid-body line at the peak
  double width_Hz = 0.0;     // where it stands 3 dB below its top, both sides
  double prominence_dB = 0.0;  // above the higher of its valleys on either side
};

// Peaks of |measured / rigid| (dB), `rigid` the plant of a rigid mover at
// the same lines (the loop model's), scaled to the measured one by the
// median ratio over the lowest quarter of the coherent lines (where the
// masses move as one), that stand at least
// `minProminence_dB` above the valleys either side and `minHeight_dB` above
// the rigid line. The height is the top's, placed between lines by a
// parabola; the frequency is that of the pole pair of the two-mass ratio
// (1 + n1 s + n2 s^2) / (1 + d1 s + d2 s^2) fitted to the lines from half to
// one and a half times the top's (the top of a well-damped peak stands above
// its pole where the antiresonance's zeros still raise it), or, where that
// fit finds no pole pair, where the ratio's phase falls fastest.
// Highest first.
std::vector<Resonance> FindResonances(const MeasuredResponse& measured, const std::vector<std::complex<double>>& rigid,
                                      double minCoherence = 0.5, double minProminence_dB = 4.0,
                                      double minHeight_dB = 3.0);

// The notch for a resonance: centred on its frequency, wide enough that it
// takes the peak down to the rigid line at the resonance's half-power
// points, as the drive's notch design (a null at the centre, -3 dB at
// centre / (2 Q) either side) is parametrised: its Q held to [qMin, qMax].
double NotchQuality(const Resonance& resonance, double qMin, double qMax);
