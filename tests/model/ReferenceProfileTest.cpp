// The tuning tests' reference profile, worked by hand with Ts_S = 1 ms
// (times below in periods; increments in 1/65536 units):
// - 1 unit over 3 periods: Q(1/3) = floor(21845.33 + 0.5) = 21845 twice, the
//   rest 65536 - 2 * 21845 = 21846; back down Q(-1/3) = -21845, rest -21846;
// - 0.0123 * 10000 = 123 over 7 then 4 periods: 123 * 65536 / 7 = 1151561.14,
//   rest 8060928 - 6 * 1151561 = 1151562; -123 / 4 = -30.75 exactly, so
//   -2015232 on all four periods;
// - Negative, 250 over 6 then 9 periods: -16384000 / 6 = -2730666.67 ->
//   -2730667, rest -16384000 + 5 * 2730667 = -2730665; 16384000 / 9 =
//   1820444.44 -> 1820444, rest 16384000 - 8 * 1820444 = 1820448;
// - Bidirectional, -100 over 3 periods, second ramp 3 (D = 6): B0 =
//   -6553600 / 3 -> -2184533, so the plateau is -6553599 / 65536; B2 =
//   (6553599 + 6553600) / 6 = 2184533.17 -> 2184533; B4 = -100 / 2 =
//   -3276800; closing 6 * -2184533 ... : -(13107198 - 6553599 - 6553600) = 1;
// - 1000000001 over 32000 periods: 31250.00003125 * 65536 = 2048000002.05,
//   rest 1000000001 * 65536 - 31999 * 2048000002 = 2048001538 (products of
//   6.6e13);
// - Bidirectional 500000001 over 32000 periods, second ramp 16001 (D =
//   32002): B0 = 1024000002, B0 * P / 65536 = 500000000.9765625, B2 =
//   -(1000000001.9765625 * 65536 / 32002) -> -2047872012, B4 = 500000001 *
//   65536 / 16000 = 2048000004.1 -> 2048000004, closing -(-65536000128024 +
//   32768000064000 + 16000 * 2048000004) = 24;
// - Bidirectional, 1 over 3 periods, D = 2: B0 = 21845, B2 = Q(-(65535 /
//   65536 + 1) / 2) = floor(-65535.5 + 0.5) = -65535 (a half goes up, also
//   below 0), closing -(2 * -65535 + 3 * 21845) = 65535.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string_view>

#include "ReferenceProfile.h"

namespace {

constexpr double kTs = 1e-3;
constexpr ProfileTest kSpd = ProfileTest::Speed, kPos = ProfileTest::Position;
constexpr std::string_view kOk{}, kCount = kProfileCountError, kSlope = kProfileSlopeError;

struct Seg {
  std::int32_t a;
  std::int64_t b;
};

TEST(ReferenceProfile, SegmentsChecksAndShape) {
  const struct {
    const char* name;
    ProfileTest test;
    int type;
    double amplitude, scale;
    double ramp1, plateau1, ramp2, plateau2;  // periods
    int failed;                               // -1: passes
    std::string_view error;
    std::array<Seg, 6> seg;  // all six, or those before the failure
    double plateau = 0.0;    // the first plateau's level
  } cases[] = {
      {"1 unit, 3-period ramps", kSpd, 0, 1, 1, 3, 5, 3, 4, -1, kOk,
       {{{2, 21845}, {1, 21846}, {5, 0}, {2, -21845}, {1, -21846}, {4, 0}}}, 1},
      {"typical positive", kSpd, 0, 0.0123, 10000, 7, 10, 4, 5, -1, kOk,
       {{{6, 1151561}, {1, 1151562}, {10, 0}, {3, -2015232}, {1, -2015232}, {5, 0}}}, 123},
      {"typical negative, longest plateau", kPos, 1, 0.25, 1000, 6, 3, 9, 32767, -1, kOk,
       {{{5, -2730667}, {1, -2730665}, {3, 0}, {8, 1820444}, {1, 1820448}, {32767, 0}}}, -250},
      {"typical bidirectional", kSpd, 2, -0.05, 2000, 3, 2, 3, 4, -1, kOk,
       {{{3, -2184533}, {2, 0}, {6, 2184533}, {4, 0}, {2, -3276800}, {1, 1}}}, -6553599.0 / 65536},
      {"speed ramp of one period", kSpd, 0, 100, 1, 1, 2, 1, 2, -1, kOk,
       {{{1, 6553600}, {1, 0}, {2, 0}, {1, -6553600}, {1, 0}, {2, 0}}}, 100},
      {"position ramp of one period", kPos, 0, 100, 1, 1, 2, 1, 2, -1, kOk,
       {{{0, 6553600}, {1, 6553600}, {2, 0}, {0, -6553600}, {1, -6553600}, {2, 0}}}, 100},
      {"bidirectional second ramp of one period", kPos, 2, 100, 1, 4, 2, 1, 3, -1, kOk,
       {{{4, 1638400}, {2, 0}, {2, -6553600}, {3, 0}, {1, 0}, {1, 6553600}}}, 100},
      {"bidirectional, a half rounds up", kSpd, 2, 1, 1, 3, 1, 1, 1, -1, kOk,
       {{{3, 21845}, {1, 0}, {2, -65535}, {1, 0}, {1, 0}, {1, 65535}}}, 65535.0 / 65536},
      {"steepest step, 32767 per period", kSpd, 0, 65534, 1, 2, 1, 2, 1, -1, kOk,
       {{{1, 2147418112}, {1, 2147418112}, {1, 0}, {1, -2147418112}, {1, -2147418112}, {1, 0}}}, 65534},
      {"large positive", kSpd, 0, 1000000001, 1, 32000, 1, 32000, 0, -1, kOk,
       {{{31999, 2048000002}, {1, 2048001538}, {1, 0}, {31999, -2048000002}, {1, -2048001538}, {0, 0}}},
       1000000001},
      {"large bidirectional", kPos, 2, 500000001, 1, 32000, 1, 16001, 0, -1, kOk,
       {{{32000, 1024000002}, {1, 0}, {32002, -2047872012}, {0, 0}, {16000, 2048000004}, {1, 24}}},
       500000000.9765625},
      // Failures: the segment, its text, and what was sent before it.
      {"speed ramp under half a period", kSpd, 0, 100, 1, 0.4, 2, 1, 2, 0, kSlope, {}},
      {"position ramp under half a period", kPos, 0, 100, 1, 0.4, 2, 1, 2, 0, kCount, {}},
      {"zero amplitude, no ramp", kSpd, 1, 0, 1, 0.4, 2, 1, 2, 0, kSlope, {}},
      {"bidirectional ramp under half a period", kPos, 2, 100, 1, 0.4, 2, 1, 2, 0, kSlope, {}},
      {"slope checked before a later count", kSpd, 0, 100, 1, 0.4, 40000, 1, 2, 0, kSlope, {}},
      {"position second ramp under half a period", kPos, 0, 1, 1, 3, 5, 0.4, 4, 3, kCount,
       {{{2, 21845}, {1, 21846}, {5, 0}}}},
      {"bidirectional second ramp under half a period", kSpd, 2, 100, 1, 4, 2, 0.4, 3, 4, kCount,
       {{{4, 1638400}, {2, 0}, {1, -13107200}, {3, 0}}}},
      {"plateau of 32768 periods", kSpd, 0, 1, 1, 3, 32768, 3, 4, 2, kCount, {{{2, 21845}, {1, 21846}}}},
      {"negative plateau time", kSpd, 0, 1, 1, 3, 5, 3, -1, 5, kCount,
       {{{2, 21845}, {1, 21846}, {5, 0}, {2, -21845}, {1, -21846}}}},
      {"step of 32767.5 per period", kSpd, 0, 65535, 1, 2, 1, 2, 1, 0, kSlope, {}},
      {"step of -32767.5 per period", kSpd, 1, 65535, 1, 2, 1, 2, 1, 0, kSlope, {}},
      {"bidirectional descent too steep", kSpd, 2, 30000, 1, 1, 1, 0.6, 1, 2, kSlope, {{{1, 1966080000}, {1, 0}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProfileInput in;
    in.referenceType = c.type;
    in.amplitude = c.amplitude;
    in.amplitudeScale = c.scale;
    in.firstRamp_s = c.ramp1 * kTs;
    in.firstPlateau_s = c.plateau1 * kTs;
    in.secondRamp_s = c.ramp2 * kTs;
    in.secondPlateau_s = c.plateau2 * kTs;
    in.ts_s = kTs;
    in.test = c.test;
    const ReferenceProfile p = BuildReferenceProfile(in);
    EXPECT_EQ(p.failedSegment, c.failed);
    EXPECT_EQ(p.error, c.error);
    const std::size_t sent = c.failed < 0 ? 6 : static_cast<std::size_t>(c.failed);
    for (std::size_t i = 0; i < 6; ++i) {
      const Seg want = i < sent ? c.seg[i] : Seg{0, 0};
      EXPECT_EQ(p.segments[i].count, want.a) << "a" << i;
      EXPECT_EQ(p.segments[i].increment, want.b) << "b" << i;
      EXPECT_EQ(p.segments[i].value, static_cast<double>(want.b) / 65536) << "b" << i;
    }
    if (!p.ok()) continue;
    // The drive's reference: it holds the plateau exactly and ends exactly at 0.
    const std::vector<double> ref = ExpandReferenceProfile(p.segments);
    std::size_t total = 0, plateauStart = 0;
    const std::size_t plateauSeg = c.type == 2 ? 1 : 2;
    for (std::size_t i = 0; i < 6; ++i) {
      if (i == plateauSeg) plateauStart = total;
      total += static_cast<std::size_t>(c.seg[i].a);
    }
    ASSERT_EQ(ref.size(), total);
    for (std::size_t k = 0; k < static_cast<std::size_t>(c.seg[plateauSeg].a); ++k)
      ASSERT_EQ(ref[plateauStart + k], c.plateau) << "period " << plateauStart + k;
    EXPECT_EQ(ref.back(), 0.0);
  }
}

}  // namespace
