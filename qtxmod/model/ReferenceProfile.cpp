#include "ReferenceProfile.h"

#include "axcore/HostFunctions.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kOne = 65536.0;  // 1.0 with 16 fractional bits
constexpr std::int64_t kOneQ = 65536;
constexpr std::int64_t kMaxCount = 32767;
constexpr std::int32_t kMaxStep = 32767;

// N(x): periods in a time, as the drive's unsigned 32-bit count.
std::int64_t Periods(double time_s, double ts_s) {
  return static_cast<std::uint32_t>(TG_FRound(time_s / ts_s));
}

// Q(x).
double Fixed(double x) { return std::floor(x * kOne + 0.5); }

// x spread over `count` periods; a ramp of no period is infinitely steep.
double Slope(double x, std::int64_t count) {
  if (count == 0) return std::numeric_limits<double>::infinity();
  return x / static_cast<double>(count);
}

bool CountInRange(std::int64_t count) { return count >= 0 && count <= kMaxCount; }

bool IncrementInRange(double q) {
  if (!std::isfinite(q)) return false;
  const std::int32_t step = TG_FRound(q / kOne);
  return step >= -kMaxStep && step <= kMaxStep;
}

// Checks and stores the segments one by one, in order; after the first
// failure nothing more is stored.
class SegmentWriter {
 public:
  explicit SegmentWriter(ReferenceProfile& profile) : profile_(profile) {}

  // Count first; the increment (Q units, as a double) is worked out only
  // once the count has passed, so that it may divide by it.
  template <class Increment>
  bool Put(int index, std::int64_t count, Increment increment) {
    if (!profile_.ok()) return false;
    if (!CountInRange(count)) return Fail(index, kProfileCountError);
    const double q = increment();
    if (!IncrementInRange(q)) return Fail(index, kProfileSlopeError);
    ProfileSegment& segment = profile_.segments[static_cast<std::size_t>(index)];
    segment.count = static_cast<std::int32_t>(count);
    segment.increment = static_cast<std::int64_t>(q);
    segment.value = static_cast<double>(segment.increment) / kOne;
    return true;
  }

  std::int64_t Count(int index) const { return profile_.segments[static_cast<std::size_t>(index)].count; }
  std::int64_t Increment(int index) const { return profile_.segments[static_cast<std::size_t>(index)].increment; }

 private:
  bool Fail(int index, std::string_view text) {
    profile_.failedSegment = index;
    profile_.error = text;
    return false;
  }
  ReferenceProfile& profile_;
};

void BuildOneWay(const ProfileInput& in, SegmentWriter& w, std::int64_t v) {
  const std::int64_t sv = in.referenceType == 1 ? -v : v;
  const auto lessOne = [&](std::int64_t n) {
    if (in.test == ProfileTest::Speed) return n > 1 ? n - 1 : n;
    return n - 1;
  };
  const std::int64_t p = Periods(in.firstRamp_s, in.ts_s);
  const std::int64_t r = Periods(in.secondRamp_s, in.ts_s);
  // The rests are integers already: s*V - B*a/65536 has 16 fractional bits,
  // so Q of it is s*V*65536 - B*a exactly.
  if (!w.Put(0, lessOne(p), [&] { return Fixed(Slope(static_cast<double>(sv), p)); })) return;
  if (!w.Put(1, 1, [&] { return static_cast<double>(sv * kOneQ - w.Increment(0) * w.Count(0)); })) return;
  if (!w.Put(2, Periods(in.firstPlateau_s, in.ts_s), [] { return 0.0; })) return;
  if (!w.Put(3, lessOne(r), [&] { return Fixed(Slope(static_cast<double>(-sv), r)); })) return;
  if (!w.Put(4, 1, [&] { return static_cast<double>(-sv * kOneQ - w.Increment(3) * w.Count(3)); })) return;
  w.Put(5, Periods(in.secondPlateau_s, in.ts_s), [] { return 0.0; });
}

void BuildBidirectional(const ProfileInput& in, SegmentWriter& w, std::int64_t v) {
  const std::int64_t p = Periods(in.firstRamp_s, in.ts_s);
  const std::int64_t r = Periods(in.secondRamp_s, in.ts_s);
  const std::int64_t d = Periods(2.0 * in.secondRamp_s, in.ts_s);
  const double vd = static_cast<double>(v);
  if (!w.Put(0, p, [&] { return Fixed(Slope(vd, p)); })) return;
  if (!w.Put(1, Periods(in.firstPlateau_s, in.ts_s), [] { return 0.0; })) return;
  // B0*P < 2^47 and a division by 65536 are exact in a double.
  if (!w.Put(2, d, [&] {
        const double top = static_cast<double>(w.Increment(0) * p) / kOne;
        return Fixed(Slope(-(top + vd), d));
      }))
    return;
  if (!w.Put(3, Periods(in.secondPlateau_s, in.ts_s), [] { return 0.0; })) return;
  if (!w.Put(4, r == 1 ? 1 : r - 1, [&] { return r == 1 ? 0.0 : Fixed(Slope(vd, r - 1)); })) return;
  w.Put(5, 1, [&] {
    const std::int64_t sum = w.Increment(2) * d + w.Increment(0) * p + w.Increment(4) * w.Count(4);
    return static_cast<double>(-sum);
  });
}

}  // namespace

ReferenceProfile BuildReferenceProfile(const ProfileInput& input) {
  ReferenceProfile profile;
  profile.amplitude = TG_FRound(input.amplitude * input.amplitudeScale);
  SegmentWriter writer(profile);
  if (input.referenceType == 2)
    BuildBidirectional(input, writer, profile.amplitude);
  else
    BuildOneWay(input, writer, profile.amplitude);
  return profile;
}

std::vector<double> ExpandReferenceProfile(const std::array<ProfileSegment, 6>& segments) {
  std::size_t total = 0;
  for (const ProfileSegment& s : segments) total += static_cast<std::size_t>(s.count > 0 ? s.count : 0);
  std::vector<double> reference;
  reference.reserve(total);
  // At most 6 * 32767 periods of less than 2^31 units: far inside a double's
  // 53 bits with the 16 fractional ones.
  std::int64_t sum = 0;
  for (const ProfileSegment& s : segments) {
    for (std::int32_t k = 0; k < s.count; ++k) {
      sum += s.increment;
      reference.push_back(static_cast<double>(sum) / kOne);
    }
  }
  return reference;
}
