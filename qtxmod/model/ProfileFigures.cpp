#include "ProfileFigures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "ReferenceProfile.h"
#include "StepResponse.h"

namespace {

constexpr double kBand = 0.02;

// A ramp of the profile: the period its reference last moves, how many
// periods the reference then holds, and which way it went.
struct Ramp {
  std::int64_t end = 0;
  std::int64_t hold = 0;
  double direction = 1.0;
};

std::vector<Ramp> Ramps(const std::array<ProfileSegment, 6>& segments) {
  std::vector<Ramp> ramps;
  std::int64_t period = 0, moved = 0, lastIncrement = 0;
  bool open = false;
  auto close = [&] {
    const double way = moved != 0 ? static_cast<double>(moved) : static_cast<double>(lastIncrement);
    ramps.push_back({period, 0, way < 0.0 ? -1.0 : 1.0});
    open = false;
  };
  for (const ProfileSegment& s : segments) {
    if (s.count <= 0) continue;
    if (s.increment != 0) {
      if (!open) moved = 0;
      open = true;
      moved += s.increment * s.count;
      lastIncrement = s.increment;
    } else {
      // Holding segments in a row make one plateau (a one-period speed
      // ramp is followed by a rest of 0, then the plateau itself).
      if (open) close();
      if (!ramps.empty()) ramps.back().hold += s.count;
    }
    period += s.count;
  }
  if (open) close();
  return ramps;
}

// The response of the samples [from, to] against `target` over a ramp in
// `direction`, into `ramp`.
void Plateau(const std::vector<double>& time_s, const std::vector<double>& response, std::size_t from, std::size_t to,
             double amplitude, RampFigures& ramp, double direction) {
  double beyond = 0.0;
  for (std::size_t k = from; k <= to; ++k) beyond = std::max(beyond, direction * (response[k] - ramp.target));
  ramp.overshoot = beyond / amplitude;

  const double band = kBand * amplitude;
  std::size_t last = to + 1;  // none outside
  for (std::size_t k = to + 1; k-- > from;)
    if (std::fabs(response[k] - ramp.target) > band) {
      last = k;
      break;
    }
  if (last == to + 1) {
    ramp.settling_s = 0.0;
  } else if (last < to) {
    const double edge = response[last] > ramp.target ? ramp.target + band : ramp.target - band;
    const double t = time_s[last] + (time_s[last + 1] - time_s[last]) * (edge - response[last]) /
                                        (response[last + 1] - response[last]);
    ramp.settling_s = t - (time_s[0] + ramp.end_s);
  }  // else outside at the plateau's last sample: NaN
}

}  // namespace

FollowingError MeasureFollowingError(const std::vector<double>& reference, const std::vector<double>& response) {
  const std::size_t n = std::min(reference.size(), response.size());
  if (n == 0) return {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
  FollowingError error;
  double squares = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    const double e = std::fabs(reference[k] - response[k]);
    error.peak = std::max(error.peak, e);
    squares += e * e;
  }
  error.rms = std::sqrt(squares / static_cast<double>(n));
  return error;
}

ProfileFigures MeasureProfile(const std::vector<double>& time_s, const std::vector<double>& reference,
                              const std::vector<double>& response, const std::array<ProfileSegment, 6>& segments,
                              double period_s) {
  ProfileFigures f;
  const std::size_t n = time_s.size();
  if (n < 2 || reference.size() != n || response.size() != n || !std::isfinite(period_s) || !(period_s > 0.0)) return f;
  for (std::size_t k = 0; k < n; ++k) {
    if (!std::isfinite(time_s[k]) || !std::isfinite(reference[k]) || !std::isfinite(response[k])) return f;
    if (k > 0 && !(time_s[k] > time_s[k - 1])) return f;
    f.amplitude = std::max(f.amplitude, std::fabs(reference[k]));
  }
  const FollowingError error = MeasureFollowingError(reference, response);
  f.peakError = error.peak;
  if (!(f.amplitude > 0.0) || !std::isfinite(error.rms)) return f;
  f.valid = true;
  f.rmsError = error.rms;

  // Sample of a profile period: the first at or after its time, allowing a
  // millionth of a period for the rounding of logged times.
  auto sampleAt = [&](std::int64_t period) {
    const double t = time_s[0] + (static_cast<double>(period) - 1e-6) * period_s;
    return static_cast<std::size_t>(std::lower_bound(time_s.begin(), time_s.end(), t) - time_s.begin());
  };
  for (const Ramp& r : Ramps(segments)) {
    const std::size_t end = sampleAt(r.end);
    if (end >= n) break;
    RampFigures ramp;
    ramp.end_s = static_cast<double>(r.end) * period_s;
    ramp.target = reference[end];
    ramp.held = r.hold > 0;
    if (ramp.held) {
      // The last sample while the reference still holds: at or before the
      // plateau's last period, within the record.
      const std::size_t after = sampleAt(r.end + r.hold + 1);
      const std::size_t last = std::min(after, n) - 1;
      Plateau(time_s, response, end, std::max(last, end), f.amplitude, ramp, r.direction);
      if (std::fabs(ramp.target) > 0.5 * f.amplitude)
        f.plateauOvershoot =
            std::isnan(f.plateauOvershoot) ? ramp.overshoot : std::max(f.plateauOvershoot, ramp.overshoot);
    }
    f.ramps.push_back(ramp);
  }
  return f;
}

std::string FormatProfileFigures(const ProfileFigures& figures, const char* unit) {
  if (!figures.valid) return "No profile found in the record";
  const std::string suffix = unit != nullptr && *unit != '\0' ? std::string(" ") + unit : std::string();
  std::string text = "Following error: peak " + ThreeSignificantDigits(figures.peakError) + suffix + ", RMS " +
                     ThreeSignificantDigits(figures.rmsError) + suffix;
  text += "\nOvershoot at the plateau: ";
  if (std::isnan(figures.plateauOvershoot)) {
    text += "none";
  } else {
    char overshoot[64];
    std::snprintf(overshoot, sizeof overshoot, "%.1f %%", figures.plateauOvershoot * 100.0);
    text += overshoot;
  }
  for (std::size_t i = 0; i < figures.ramps.size(); ++i) {
    const RampFigures& ramp = figures.ramps[i];
    text += "\nSettling after ramp " + std::to_string(i + 1) + ": ";
    if (!ramp.held)
      text += "no plateau";
    else if (std::isnan(ramp.settling_s))
      text += "not settled";
    else
      text += ThreeSignificantDigits(ramp.settling_s * 1e3) + " ms";
  }
  return text;
}
