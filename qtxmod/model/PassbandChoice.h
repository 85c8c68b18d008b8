// The largest passband a loop can be tuned to on this drive: the largest
// one, within the passband parameter's range, at which the loop as the drive
// runs it is stable and overshoots a step by no more than a bound, with
// every gain the design sets held by its register within 10 % (not rounded
// to 0, nor to a few of its least steps).
//
// A trial passband goes through everything the Tune button does: the design
// ("PB_C", "PB_S" or "PB_P" with the setup's damping), the encoding of the
// gains into the loop's mantissa and shift registers and their decoding
// back, so the prediction runs with the gains the registers can hold, not
// with the design's exact ones. The prediction is the sampled loop of
// LoopResponse.h: the current loop with the drive's one period of
// computation delay, the speed and position loops without their
// feed-forward (a step's feed-forward is an impulse that says nothing of
// the gains). The other loops' gains are the setup's as they stand: tune
// from the inside out.
//
// Overshoot is not monotonic in the passband in general (the register
// rounding alone makes it step), so the search does not bisect the whole
// range: it scans a geometric grid from the minimum to the ceiling, takes
// the largest grid point that meets the bound, then bisects between it and
// the grid point above it.
//
// The caller's setup is never changed: the search runs on a copy.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "LoopMargins.h"
#include "LoopResponse.h"

class CMC_Setup;

// The overshoot commissioning allows: 5 % for the current loop (it feeds
// the force straight through, and an overshoot there shows in every outer
// step), 10 % for the speed and position loops.
double DefaultOvershootBound(TunedLoop loop);

// The cascade rule: an outer loop's passband at most a fifth of its inner
// loop's measured bandwidth (rad/s). The speed and position designs take the
// inner loop as ideal, unity gain with no lag; an inner loop of bandwidth
// w_i lags about atan(w / w_i) at the outer passband w, some 11 degrees at
// w_i / 5, which the outer loop's damping absorbs. Closer to it the lag adds
// to the outer loop's own sampling delays, its overshoot climbs, and the
// outer loop starts correcting errors the inner loop has not yet followed.
// Infinite (no ceiling) when the inner bandwidth is 0, negative or not a
// number.
constexpr double kCascadeRatio = 5.0;
double CascadeCeiling_rad_s(double innerBandwidth_rad_s);

struct PassbandSearch {
  // Largest overshoot allowed (0.05 = 5 %), above 0.
  double overshootBound = 0.1;
  // When set, a passband is good when the loop keeps these margins
  // (LoopMargins.h) instead of by its step's overshoot: the step of a
  // reference says little of how near a PI loop is to ringing (its zero
  // alone overshoots 13.5 % at damping 1), its margins do. The largest good
  // passband is then, at a given damping, the highest crossover.
  std::optional<MarginBounds> margins;
  // With `margins`: the margins of a trial setup, in place of the model's
  // (ComputeLoopMargins), e.g. the loop on a plant measured on the drive.
  std::function<LoopMargins(const CMC_Setup&)> marginsOf;
  // The inner loop's measured bandwidth (rad/s) for the cascade rule; 0:
  // none (the current loop's inner loop is the winding itself). Used for
  // the speed and position loops only.
  double innerBandwidth_rad_s = 0.0;
  // Points of the geometric grid over [minimum, ceiling], 2 or more.
  int gridPoints = 60;
  // The bisection stops when the two ends are this close (relative).
  double tolerance = 1e-4;
};

struct PassbandChoice {
  // The setup has every name and scale the design and the prediction read
  // and a passband parameter with a finite positive range; false leaves
  // everything below at its default.
  bool valid = false;
  // Some passband in the range met the bound. False: no point of the grid
  // did, the minimum included, and `passband_rad_s` is the minimum with its
  // figures, to show.
  bool met = false;
  // The cascade ceiling, not the parameter's maximum, ended the range.
  bool capped = false;
  double passband_rad_s = 0.0;
  // The upper end searched: the parameter's maximum, or the cascade ceiling
  // when that is lower (never below the minimum).
  double ceiling_rad_s = 0.0;
  // The predicted loop at `passband_rad_s` (step, overshoot, rise_s,
  // bandwidth_Hz, stable), over a window of 30 / passband.
  SampledLoopResponse response;
  // Its margins, when the search was by margins.
  LoopMargins margins;
  // Every passband tried with what it gave, in the order tried: the
  // search's curve (crossover and margins against passband).
  struct Trial {
    double passband_rad_s = 0.0;
    bool good = false;
    double crossover_rad_s = 0.0, phaseMargin_deg = 0.0, gainMargin_dB = 0.0, sensitivityPeak_dB = 0.0;
  };
  std::vector<Trial> trials;
};

// The choice for `loop` of `setup` (see above).
PassbandChoice ChoosePassband(const CMC_Setup& setup, TunedLoop loop, const PassbandSearch& search);
PassbandChoice ChoosePassband(const CMC_Setup& setup, TunedLoop loop, double overshootBound,
                              double innerBandwidth_rad_s = 0.0);

// One trial, as the search runs it, on `setup` itself: writes the passband
// (the document holds it to its range), designs, encodes and decodes the
// loop's gains as the Tune button does and predicts the loop over a window
// of 30 / passband (at least 50 of its periods, at most 200000). False when
// a step wrote nothing or the prediction failed. `held`, when given, is set
// false when a gain decoded from its register is more than 10 % off the
// design's (the search takes no such passband: the drive would run another
// controller than the one designed).
bool PredictTunedLoop(CMC_Setup& setup, TunedLoop loop, double passband_rad_s, SampledLoopResponse& response,
                      bool* held = nullptr);
