// Step figures of records whose answers are worked by hand. Sampled every
// microsecond, a time is off by less than one sample:
// - first order, tau 1 ms: 10 % at ln(10/9) tau, 90 % at ln 10 tau, so the
//   rise is ln 9 tau = 2.1972 ms; inside 2 % from ln 50 tau = 3.9120 ms;
// - second order, zeta 0.5, wn 1000 rad/s: overshoot exp(-pi zeta /
//   sqrt(1 - zeta^2)) = 0.16303; the extremes are +/- exp(-1.8138 k) at
//   k pi / wd, the last beyond 2 % is k = 2 (0.0266 at 7.255 ms), and
//   exp(-0.5 wn t) / 0.866 sin(wd (t - 7.255 ms) + 60 deg) = 0.02 at
//   8.076 ms; 10 % to 90 % takes 1.638 ms (tabulated 1.64 / wn);
// - first order to 95 % of a step 2 -> -1: 10 % and 90 % at ln(1 / (1 -
//   0.1 / 0.95)) and ln(1 / (1 - 0.9 / 0.95)) tau, 2.8332 ms apart; never
//   within 2 %; reference - response at the end -1 - (2 - 0.95 * 3) = -0.15.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "LoopResponse.h"
#include "StepResponse.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kUs = 1e-6;

struct Record {
  std::vector<double> t, r, y;
};
// `from` until 1 ms, then `to`; the response from + (to - from) g(time since the step).
Record Stepped(double from, double to, double end, const std::function<double(double)>& g) {
  Record rec;
  for (int k = 0; k * kUs <= end + kUs / 2; ++k) {
    const double s = (k - 1000) * kUs;
    rec.t.push_back(k * kUs);
    rec.r.push_back(s < 0 ? from : to);
    rec.y.push_back(s < 0 ? from : from + (to - from) * g(s));
  }
  return rec;
}
double FirstOrder(double s) { return 1.0 - std::exp(-s / 1e-3); }
double SecondOrder(double s) {
  const double root = std::sqrt(0.75);
  return 1.0 - std::exp(-500.0 * s) / root * std::sin(1000.0 * root * s + std::acos(0.5));
}
StepFigures Measure(const Record& rec) { return MeasureStep(rec.t, rec.r, rec.y); }
// Ten samples 1 s apart, the reference 0 -> 1 at sample `at`, the response
// 0.5 one sample later and 1 after that; then `edit`.
StepFigures Coarse(int at, const std::function<void(Record&)>& edit = {}) {
  Record rec;
  for (int k = 0; k < 10; ++k) {
    rec.t.push_back(k);
    rec.r.push_back(k < at ? 0.0 : 1.0);
    rec.y.push_back(k <= at ? 0.0 : k == at + 1 ? 0.5 : 1.0);
  }
  if (edit) edit(rec);
  return Measure(rec);
}

struct Range {
  double lo, hi;  // NaN: the figure must be NaN
};
constexpr Range kAny{-kInf, kInf}, kNone{kNaN, kNaN}, kZero{0, 0};
Range Near(double x, double tolerance) { return {x - tolerance, x + tolerance}; }

TEST(StepResponse, FiguresOfKnownResponses) {
  const struct {
    const char* name;
    std::function<StepFigures()> measure;
    bool valid = false;
    Range step = kAny, rise = kAny, overshoot = kAny, settling = kAny, error = kAny;
  } cases[] = {
      {"first order", [] { return Measure(Stepped(0, 2, 21e-3, FirstOrder)); }, true, Near(1e-3, 1e-12),
       Near(2.1972e-3, kUs), kZero, Near(3.9120e-3, kUs), Near(0, 1e-7)},
      {"underdamped down", [] { return Measure(Stepped(1, -1, 30e-3, SecondOrder)); }, true, Near(1e-3, 1e-12),
       Near(1.638e-3, 2 * kUs), Near(0.16303, 1e-5), Near(8.076e-3, 2 * kUs), Near(0, 1e-5)},
      {"short of a step down",
       [] { return Measure(Stepped(2, -1, 21e-3, [](double s) { return 0.95 * FirstOrder(s); })); }, true,
       Near(1e-3, 1e-12), Near(2.8332e-3, kUs), kZero, kNone, Near(-0.15, 1e-6)},
      // 2 A in counts of 2 mA, +/- 2 counts of noise: at most 0.25 % of the
      // step off, so 10 % and 90 % move by 0.003 and 0.025 tau, and the last
      // exit from 2 % lies where the clean response is 2 % +/- 0.25 % away.
      {"noisy, quantised",
       [] {
         Record rec = Stepped(0, 2, 21e-3, FirstOrder);
         std::mt19937 random(13);
         std::uniform_real_distribution<double> noise(-0.004, 0.004);
         for (double& y : rec.y) y = 0.002 * std::round((y + noise(random)) / 0.002);
         return Measure(rec);
       },
       true, Near(1e-3, 1e-12), Near(2.1972e-3, 0.03e-3), {0, 0.0025}, {3.794e-3, 4.046e-3}, Near(0, 0.005)},
      {"predicted, 2 down at 1 ms",
       [] {
         SampledLoopResponse loop;
         loop.period_s = kUs;
         for (int k = 0; k < 20000; ++k) loop.step.push_back(FirstOrder(k * kUs));
         return MeasurePredictedStep(loop, -2.0, 1e-3);
       },
       true, Near(1e-3, 1e-12), Near(2.1972e-3, kUs), kZero, Near(3.9120e-3, kUs), Near(0, 1e-7)},
      // 10 % at 2.2 s, 90 % at 3.8 s, back within 2 % at 3 + 0.48 / 0.5 s.
      {"coarse samples", [] { return Coarse(2); }, true, {2, 2}, Near(1.6, 1e-12), kZero, Near(1.96, 1e-12),
       kZero},
      {"step just before the last tenth", [] { return Coarse(8); }, true, {8, 8}, kNone, kZero, kNone, Near(0.5, 0)},
      {"step in the last tenth", [] { return Coarse(9); }},
      {"sizes differ", [] { return Coarse(3, [](Record& r) { r.y.pop_back(); }); }},
      {"three samples", [] { return Coarse(1, [](Record& r) { r.t.resize(3), r.r.resize(3), r.y.resize(3); }); }},
      {"time stands still", [] { return Coarse(3, [](Record& r) { r.t[5] = r.t[4]; }); }},
      {"NaN response", [] { return Coarse(3, [](Record& r) { r.y[6] = kNaN; }); }},
      {"infinite reference", [] { return Coarse(3, [](Record& r) { r.r[0] = kInf; }); }},
      {"reference holds", [] { return Coarse(3, [](Record& r) { r.r.assign(10, 1.0); }); }},
      {"reference moves by 1e-7",
       [] { return Coarse(3, [](Record& r) { for (double& x : r.r) x = 1e3 + 1e-4 * x; }); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const StepFigures f = c.measure();
    ASSERT_EQ(f.valid, c.valid);
    if (!c.valid) continue;
    for (const auto& [value, range] : {std::pair{f.stepTime_s, c.step}, {f.rise_s, c.rise}, {f.overshoot, c.overshoot},
                                       {f.settling_s, c.settling}, {f.steadyStateError, c.error}})
      if (std::isnan(range.lo)) EXPECT_TRUE(std::isnan(value)) << value;
      else EXPECT_TRUE(value >= range.lo && value <= range.hi) << value << " outside " << range.lo << ", " << range.hi;
  }
}

TEST(StepResponse, FormatsTheFiguresForPeople) {
  StepFigures f{true, 0.0, 0.0, 2.0, 0.214e-3, 0.043, 0.61e-3, 0.002};
  EXPECT_EQ(FormatStepFigures(f, "A"), "Rise time (10-90 %): 0.214 ms\nOvershoot: 4.3 %\n"
                                       "Settling time (2 %): 0.61 ms\nSteady-state error: 0.002 A");
  f = {true, 0.0, 0.0, 2.0, kNaN, 0.0, 1.23456, -1e-20};
  EXPECT_EQ(FormatStepFigures(f, nullptr), "Rise time (10-90 %): not reached\nOvershoot: 0.0 %\n"
                                           "Settling time (2 %): 1235 ms\nSteady-state error: 0");
  f.settling_s = kNaN;
  EXPECT_NE(FormatStepFigures(f, "A").find("Settling time (2 %): not settled\n"), std::string::npos);
  EXPECT_EQ(FormatStepFigures(StepFigures{}, "A"), "No step found in the record");
}

}  // namespace
