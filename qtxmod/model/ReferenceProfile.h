// The reference the speed and position tuning programs follow.
//
// The drive program builds its reference (a speed or a position, in internal
// units) from six segments: during segment i, for a_i speed-loop periods, it
// adds the increment b_i to the reference at every period, for i = 0 to 5 in
// order. An increment carries 16 fractional bits, so the program is given
// b_i as a multiple of 1/65536; a count is at most 32767 periods and an
// increment at most 32767 internal units per period in magnitude.
//
// From the reference type, the signed amplitude A (base units) and its scale,
// the four times and the speed-loop period Ts_S:
//   N(x) = TG_FRound(x / Ts_S), taken as an unsigned 32-bit count
//          (a negative time wraps to a count far beyond 32767);
//   V    = TG_FRound(A * scale), the amplitude in internal units;
//   Q(x) = floor(x * 65536 + 0.5), a value with 16 fractional bits;
//   P = N(first ramp), R = N(second ramp).
// "Less one" is n - 1 for the position test, and for the speed test n - 1
// only when n > 1 (a speed ramp of one period is one whole step).
//
// Positive (s = +1) and Negative (s = -1):
//   0: P less one,          B0 = Q(s*V / P)
//   1: 1,                   s*V*65536 - B0*a0   (lands exactly on s*V)
//   2: N(first plateau),    0
//   3: R less one,          B3 = Q(-s*V / R)
//   4: 1,                   -s*V*65536 - B3*a3  (lands exactly on 0)
//   5: N(second plateau),   0
// Bidirectional (to V, to about -V over twice the second ramp, back to 0):
//   0: P,                   B0 = Q(V / P)
//   1: N(first plateau),    0
//   2: D = N(2 * second ramp), B2 = Q(-(B0*P/65536 + V) / D)
//   3: N(second plateau),   0
//   4: R - 1 (1 when R = 1), B4 = Q(V / (R - 1)) (0 when R = 1)
//   5: 1,                   -(B2*D + B0*P + B4*a4)  (the sum returns to 0)
// The bidirectional plateaus are where the rounded ramps end, B0*P/65536 and
// (B0*P + B2*D)/65536, within a period's rounding of +/-V; only the last
// segment closes exactly.
//
// Order of checks. Segments are checked one at a time, 0 to 5, and the first
// failure ends the profile: within a segment its count is checked first
// (0 to 32767, else kProfileCountError), and only then is its increment
// computed and checked (|TG_FRound(b / 65536)| <= 32767, else
// kProfileSlopeError). So a count of -1 (a position ramp of no period, or a
// bidirectional second ramp of no period) is refused as a count before any
// division by it. A ramp increment divides by a count that may have passed
// its check as 0 (a speed ramp shorter than half a period, a bidirectional
// first ramp shorter than half a period or second ramp shorter than a
// quarter): a ramp with no period to spread over has an infinite slope, so
// it is refused as a slope overflow, whatever the amplitude (0 included).
// Counts, increments and the closing sums are worked in 64-bit integers and
// doubles, and an increment becomes an integer only once it is in range: the
// products of the closing segments reach about 7e13.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

// The texts the tuning tests stop with when the profile cannot be sent.
inline constexpr std::string_view kProfileCountError =
    "Distances between consecutive points on X axis must be greater than 0 and below 32768.";
inline constexpr std::string_view kProfileSlopeError =
    "Reference variation between two consecutive points is too big (slope overflow).";

enum class ProfileTest { Speed, Position };

struct ProfileInput {
  // 0 Positive, 1 Negative, 2 Bidirectional; any other value is Positive.
  int referenceType = 0;
  double amplitude = 0.0;       // A, signed, base units
  double amplitudeScale = 1.0;  // internal units per base unit
  double firstRamp_s = 0.0;
  double firstPlateau_s = 0.0;
  double secondRamp_s = 0.0;
  double secondPlateau_s = 0.0;
  double ts_s = 0.0;  // speed-loop period Ts_S
  ProfileTest test = ProfileTest::Speed;
};

struct ProfileSegment {
  std::int32_t count = 0;      // "a<i>": speed-loop periods, 0 to 32767
  std::int64_t increment = 0;  // b_i in 1/65536 internal unit per period
  double value = 0.0;          // "b<i>": increment / 65536, internal units
};

struct ReferenceProfile {
  std::int32_t amplitude = 0;  // V
  // The segments that passed their checks; those from the failed one on
  // are left at zero. The drive is sent segment by segment, so the ones
  // before a failure have been sent when the test stops.
  std::array<ProfileSegment, 6> segments{};
  int failedSegment = -1;   // -1 when all six passed
  std::string_view error;   // kProfileCountError, kProfileSlopeError or empty
  bool ok() const { return failedSegment < 0; }
};

ReferenceProfile BuildReferenceProfile(const ProfileInput& input);

// The reference after each speed-loop period as the drive builds it:
// a_i periods of b_i for the segments in order, added up exactly in
// 1/65536 units. Its size is the sum of the counts.
std::vector<double> ExpandReferenceProfile(const std::array<ProfileSegment, 6>& segments);
