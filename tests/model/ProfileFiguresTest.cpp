// Figures of a tuning run worked by hand.
//
// The record: a speed profile of one-period ramps (0 -> 100 -> 0) with
// periods of 1 ms logged from 0.2 s on. Counts 1, 1, 5, 1, 1, 4: the
// reference is 100 at periods 1 to 7 and 0 from period 8 on; ramp 1 ends at
// period 1 (1 ms) and holds to period 7, ramp 2 ends at period 8 and holds
// to 13. The response 0 0 60 104 103 101 100 100 100 40 -3 -1 0 0:
// - errors 100, 40, -4, -3, -1, -100, -40, 3, 1: peak 100, RMS
//   sqrt(23236 / 14) = 40.7396;
// - ramp 1: 4 beyond 100, 4 %; last outside 100 +/- 2 at period 4 (103),
//   back to 102 halfway to period 5: 4.5 ms, 3.5 ms after the ramp's end;
// - ramp 2: 3 below 0, 3 %; last outside at period 10 (-3), back to -2
//   halfway to period 11: 2.5 ms after the ramp's end at 8 ms.
// Cut after period 10, ramp 2 is still outside at its last sample.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "ProfileFigures.h"
#include "ReferenceProfile.h"

namespace {

constexpr double kOne = 65536.0;

std::array<ProfileSegment, 6> UpAndDown() {
  const int counts[] = {1, 1, 5, 1, 1, 4};
  const double increments[] = {100, 0, 0, -100, 0, 0};
  std::array<ProfileSegment, 6> segments{};
  for (std::size_t i = 0; i < segments.size(); ++i)
    segments[i] = {counts[i], static_cast<std::int64_t>(increments[i] * kOne), increments[i]};
  return segments;
}

TEST(ProfileFigures, FollowingErrorOvershootAndSettlingOfARecord) {
  const std::vector<double> response = {0, 0, 60, 104, 103, 101, 100, 100, 100, 40, -3, -1, 0, 0};
  std::vector<double> t, reference;
  for (std::size_t k = 0; k < response.size(); ++k) {
    t.push_back(0.2 + 1e-3 * static_cast<double>(k));
    reference.push_back(k >= 1 && k <= 7 ? 100.0 : 0.0);
  }
  struct Case {
    std::size_t samples;
    const char* text;
  };
  const Case cases[] = {
      {14,
       "Following error: peak 100 m/s, RMS 40.7 m/s\nOvershoot at the plateau: 4.0 %\nSettling after ramp 1: 3.5 ms\n"
       "Settling after ramp 2: 2.5 ms"},
      {11, nullptr},  // cut while ramp 2 settles
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.samples);
    const auto cut = [&](const std::vector<double>& v) {
      return std::vector<double>(v.begin(), v.begin() + static_cast<long>(c.samples));
    };
    const ProfileFigures f = MeasureProfile(cut(t), cut(reference), cut(response), UpAndDown(), 1e-3);
    ASSERT_TRUE(f.valid);
    ASSERT_EQ(f.ramps.size(), 2u);
    EXPECT_EQ(f.peakError, 100.0);
    EXPECT_NEAR(f.ramps[0].end_s, 1e-3, 1e-12);
    EXPECT_NEAR(f.ramps[0].overshoot, 0.04, 1e-12);
    EXPECT_NEAR(f.ramps[0].settling_s, 3.5e-3, 1e-9);
    EXPECT_NEAR(f.plateauOvershoot, 0.04, 1e-12);
    EXPECT_NEAR(f.ramps[1].end_s, 8e-3, 1e-12);
    EXPECT_NEAR(f.ramps[1].overshoot, 0.03, 1e-12);
    if (c.text != nullptr) {
      EXPECT_NEAR(f.rmsError, std::sqrt(23236.0 / 14.0), 1e-9);
      EXPECT_NEAR(f.ramps[1].settling_s, 2.5e-3, 1e-9);
      EXPECT_EQ(FormatProfileFigures(f, "m/s"), c.text);
    } else {
      EXPECT_TRUE(std::isnan(f.ramps[1].settling_s));
      EXPECT_NE(FormatProfileFigures(f, nullptr).find("Settling after ramp 2: not settled"), std::string::npos);
    }
  }
  // Columns of different lengths are no record.
  EXPECT_EQ(FormatProfileFigures(MeasureProfile(t, reference, {0.0}, UpAndDown(), 1e-3), ""),
            "No profile found in the record");
}

}  // namespace
