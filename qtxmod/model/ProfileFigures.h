// The figures an engineer tunes the speed and position loops by, from a
// record of a tuning run: how far the response lags the reference profile
// (the following error), how far it passes the plateau it is sent to, and
// how soon it settles there after each ramp.
//
// The record is the logged columns of the run: time, reference and response
// in one unit (drive units, or converted alike), one point per speed-loop
// period from the profile's first period on, as the tuning programs log
// them. The profile's segments give its shape: the reference of period p is
// the sum of the increments of periods 0 to p - 1, so a segment of a_i
// periods that ends at period P (the sum of the counts up to it) has moved
// the reference for the last time at period P. Consecutive segments that
// move the reference (increment not 0) form one ramp; a segment that holds
// it is a plateau, and the ramp before it ends at the plateau's first
// period. Times are counted from the record's first time, which is the
// profile's period 0.
//
// Like the step figures, the samples are used as they are, unfiltered.
#pragma once

#include <array>
#include <limits>
#include <string>
#include <vector>

struct ProfileSegment;

struct RampFigures {
  // When the ramp ended (s from the profile's start) and the reference it
  // left, read from the record.
  double end_s = 0.0;
  double target = 0.0;
  // A plateau follows the ramp (the reference holds for a period or more).
  bool held = false;
  // The farthest the response goes beyond `target` in the ramp's direction
  // while the reference holds it, over the profile's amplitude; 0 when it
  // never passes it. NaN when no plateau follows the ramp.
  double overshoot = std::numeric_limits<double>::quiet_NaN();
  // From the ramp's end to the last time the response is outside target
  // +/- 2 % of the amplitude while the reference holds it (interpolated
  // back into the band; 0 when it never leaves it). NaN when it is outside
  // at the plateau's last recorded sample, or no plateau follows the ramp.
  double settling_s = std::numeric_limits<double>::quiet_NaN();
};

struct ProfileFigures {
  // The record and the profile fit: at least 2 samples of equal count,
  // increasing times, finite values, a reference that moves.
  bool valid = false;
  // The largest |reference| of the record: the profile's amplitude.
  double amplitude = 0.0;
  // |reference - response|: largest and root mean square over the record.
  double peakError = 0.0;
  double rmsError = 0.0;
  // One per ramp whose end lies within the record, in order.
  std::vector<RampFigures> ramps;
  // The largest overshoot of the ramps that end on a plateau away from 0
  // (beyond half the amplitude): "the" overshoot at the plateau. NaN when
  // there is none.
  double plateauOvershoot = std::numeric_limits<double>::quiet_NaN();
};

// |reference - response| over the samples both records hold: its largest
// value and its root mean square; NaN for both when either record is empty.
struct FollowingError {
  double peak = 0.0;
  double rms = 0.0;
};
FollowingError MeasureFollowingError(const std::vector<double>& reference, const std::vector<double>& response);

// The figures of a record against the profile that made it; `period_s` is
// the speed-loop period Ts_S the segments count in.
ProfileFigures MeasureProfile(const std::vector<double>& time_s, const std::vector<double>& reference,
                              const std::vector<double>& response, const std::array<ProfileSegment, 6>& segments,
                              double period_s);

// The figures for people, one per line: values with 3 significant digits
// followed by `unit` (none when null or empty), the overshoot in % with one
// decimal ("none" when no ramp ends on a plateau away from 0), each ramp's
// settling time in ms with 3 significant digits, "not settled", or "no
// plateau" when the reference moves on at once. Invalid
// figures give "No profile found in the record".
std::string FormatProfileFigures(const ProfileFigures& figures, const char* unit);
