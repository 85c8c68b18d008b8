// How far each loop, as the drive runs it, is from instability: the open
// loop broken at its controller's output (OpenLoop in LoopResponse.h: the
// sampling, the computation delay, the hold, the inner loops, the filter
// slots in use and the gains as the registers hold them), read on
// z = exp(j w T) over five decades up to the Nyquist frequency pi / T, 100
// points a decade, each crossing then found to 1e-9 of its frequency.
//
// - crossover: where the open-loop gain |L| falls through 1; the loop
//   corrects errors up to about there. The highest one when there are more.
// - phase margin: 180 degrees plus the phase of L at the crossover, the
//   smallest over the crossovers: the extra lag (a filter, a delay) the loop
//   takes before it rings without end.
// - gain margin: where the phase of L passes -180 degrees with |L| below 1,
//   by how much the gain may rise before the loop goes unstable;
//   where it passes with |L| above 1 (a PID on a mass at low frequency),
//   by how much it may fall. Infinite when L never passes -180 degrees so.
// - sensitivity peak: the largest |1 / (1 + L)|, how much the loop amplifies
//   a disturbance at its worst frequency; also 1 / the nearest distance of
//   L to -1.
//
// The margins read from L are those of the closed loop only when it is
// stable: `stable` says so (the closed loop's own poles, Schur-Cohn).
#pragma once

#include <complex>
#include <limits>
#include <string>
#include <vector>

#include "LoopResponse.h"

class CMC_Setup;

struct LoopMargins {
  // The loop could be modelled (see BreakLoop); nothing below holds otherwise.
  bool valid = false;
  bool stable = false;
  double period_s = 0.0;
  // 0 when |L| never falls through 1 on the range searched.
  double crossover_rad_s = 0.0;
  double phaseMargin_deg = std::numeric_limits<double>::infinity();
  // The gain may be raised this much (dB) before the loop goes unstable,
  // and lowered `gainReductionMargin_dB`; the frequencies where they are read.
  double gainMargin_dB = std::numeric_limits<double>::infinity();
  double gainMarginAt_rad_s = 0.0;
  double gainReductionMargin_dB = std::numeric_limits<double>::infinity();
  double gainReductionMarginAt_rad_s = 0.0;
  double sensitivityPeak_dB = 0.0;
  double sensitivityPeakAt_rad_s = 0.0;
  // The open loop on the grid the margins were searched on (rad/s, L), for
  // a Bode plot.
  std::vector<double> frequency_rad_s;
  std::vector<std::complex<double>> response;
};

// The margins of `loop` with the setup's held gains.
LoopMargins ComputeLoopMargins(const CMC_Setup& setup, TunedLoop loop);
// The margins of an open loop already broken.
LoopMargins ComputeLoopMargins(const OpenLoop& open);

// The least margins a loop must keep.
struct MarginBounds {
  double phaseMargin_deg = 55.0;
  double gainMargin_dB = 8.0;  // both ways
  double sensitivityPeak_dB = 6.0;
};

// Named sets of bounds: "gentle" (65 degrees, 12 dB, 4 dB), "standard"
// (55 degrees, 8 dB, 6 dB) and "firm" (45 degrees, 6 dB, 8 dB). False for
// another name.
bool MarginBoundsNamed(const std::string& name, MarginBounds& bounds);

// Valid, stable, a crossover found, and every margin at or beyond its bound.
bool MeetsBounds(const LoopMargins& margins, const MarginBounds& bounds);

// "phase margin 61.2 deg at 152.3 rad/s, gain margin 12.1 dB, sensitivity
// peak 4.3 dB": one line for the dialogs and the command line. "unstable"
// when the closed loop is.
std::string FormatMargins(const LoopMargins& margins);

// What one filter slot in use costs a loop: the phase it takes at the
// loop's crossover (degrees, positive for a lag), read as the loop with the
// slot against the same loop with the slot passing its input through. A
// slot the loop does not run (a speed-reference slot for the speed loop)
// costs nothing and is left out.
struct FilterPhaseCost {
  int slot = 0;             // 1 to 3: "BQ1*" to "BQ3*"
  const char* place = "";  // "speed reference", "current reference", "speed feedback"
  double phase_deg = 0.0;
};
std::vector<FilterPhaseCost> FilterPhaseCosts(const CMC_Setup& setup, TunedLoop loop, double crossover_rad_s);

// `setup` with slot 1 to 3 passing its input through (b0 1, the rest 0),
// the slots after it where they were.
void BypassFilterSlot(CMC_Setup& setup, int slot);
