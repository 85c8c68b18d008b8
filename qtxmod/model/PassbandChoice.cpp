#include "PassbandChoice.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "CodecSteps.h"
#include "ControllerDesign.h"
#include "FeatureProbes.h"
#include "axcore/Setup.h"

namespace {

// What the Tune button of each loop's test runs after the design: the
// registers it encodes, then the gains it decodes back from them, in its
// order.
struct LoopTune {
  const char* passband;
  int (*design)(CMC_Setup&, ControllerDesignResult*);
  std::vector<const char*> encode;
  std::vector<const char*> decode;
};

const LoopTune& TuneOf(TunedLoop loop) {
  static const LoopTune current{
      "PB_C", DesignCurrentController, {"KPI", "KII", "SFTKPI", "SFTKII"}, {"Ki_C_scl", "Kp_C_scl"}};
  static const LoopTune speed{
      "PB_S", DesignSpeedController, {"KPS", "KIS", "SFTKPS", "SFTKIS"}, {"Ki_S_scl", "Kp_S_scl"}};
  static const LoopTune position{"PB_P",
                                 DesignPositionController,
                                 {"SFTKPP", "KPP", "SFTKIP", "KIP", "SFTKDP", "KDP"},
                                 {"Ki_P_scl", "Kp_P_scl", "Kd_P_scl"}};
  switch (loop) {
    case TunedLoop::Current:
      return current;
    case TunedLoop::Speed:
      return speed;
    case TunedLoop::Position:
      break;
  }
  return position;
}

bool Predict(const CMC_Setup& setup, TunedLoop loop, int samples, SampledLoopResponse& response) {
  switch (loop) {
    case TunedLoop::Current:
      return PredictCurrentLoop(setup, 1, samples, response);
    case TunedLoop::Speed:
      return PredictSpeedLoop(setup, samples, response, LoopTerms::FeedbackOnly);
    case TunedLoop::Position:
      break;
  }
  return PredictPositionLoop(setup, samples, response, LoopTerms::FeedbackOnly);
}

// Thirty times the designed loop's time constant 1 / w: the designs' steps
// peak within a few of them and have settled long before; a loop near
// instability rings at a frequency near the sampling rate, many periods
// within it.
constexpr double kWindowTimeConstants = 30.0;
constexpr double kMinimumSamples = 50.0;
constexpr double kMaximumSamples = 200000.0;

int WindowSamples(double passband_rad_s, double period_s) {
  const double samples = std::ceil(kWindowTimeConstants / (passband_rad_s * period_s));
  return static_cast<int>(std::isfinite(samples) ? std::clamp(samples, kMinimumSamples, kMaximumSamples)
                                                 : kMaximumSamples);
}

// How far a register may round a designed gain, as a share of it: ten per
// cent is a gain of ten least steps or more, and the rounding of a gain in
// the body of its register's range is some 1e-4.
constexpr double kHeldShare = 0.1;

bool Tune(CMC_Setup& setup, TunedLoop loop, double passband_rad_s, bool& held) {
  const LoopTune& tune = TuneOf(loop);
  if (setup.SetParameterValueInBaseUnit(tune.passband, passband_rad_s) == 0) return false;
  if (tune.design(setup, nullptr) == 0) return false;
  std::vector<double> designed;
  for (const char* name : tune.decode) designed.push_back(setup.GetParameterValueInBaseUnit(name));
  bool written = true;
  for (const char* name : tune.encode) written = RunEncodeStep(setup, name) != 0 && written;
  for (const char* name : tune.decode) written = RunDecodeStep(setup, name) != 0 && written;
  // A gain at the bottom of its register's range is held only to a few of
  // its least steps, or rounds to nothing: the drive would run another
  // controller (a PI without its integral, or with twice it) than the one
  // designed at this passband, and the search would find pockets of such
  // rounding that meet the bound by chance.
  held = true;
  for (std::size_t k = 0; k < designed.size(); ++k) {
    const double gain = setup.GetParameterValueInBaseUnit(tune.decode[k]);
    if (std::abs(gain - designed[k]) > kHeldShare * std::abs(designed[k])) held = false;
  }
  return written;
}

struct Trial {
  bool predicted = false;
  bool good = false;
  SampledLoopResponse response;
  LoopMargins margins;
};

}  // namespace

double DefaultOvershootBound(TunedLoop loop) { return loop == TunedLoop::Current ? 0.05 : 0.10; }

double CascadeCeiling_rad_s(double innerBandwidth_rad_s) {
  if (!(innerBandwidth_rad_s > 0.0)) return std::numeric_limits<double>::infinity();
  return innerBandwidth_rad_s / kCascadeRatio;
}

bool PredictTunedLoop(CMC_Setup& setup, TunedLoop loop, double passband_rad_s, SampledLoopResponse& response,
                      bool* held) {
  response = {};
  bool kept = true;
  if (!Tune(setup, loop, passband_rad_s, kept)) return false;
  if (held != nullptr) *held = kept;
  SampledLoopResponse probe;
  if (!Predict(setup, loop, 2, probe) || !(probe.period_s > 0.0)) return false;
  // The passband as the document holds it, after its range.
  const double passband = setup.GetParameterValueInBaseUnit(TuneOf(loop).passband);
  return Predict(setup, loop, WindowSamples(passband, probe.period_s), response);
}

PassbandChoice ChoosePassband(const CMC_Setup& setup, TunedLoop loop, double overshootBound,
                              double innerBandwidth_rad_s) {
  PassbandSearch search;
  search.overshootBound = overshootBound;
  search.innerBandwidth_rad_s = innerBandwidth_rad_s;
  return ChoosePassband(setup, loop, search);
}

PassbandChoice ChoosePassband(const CMC_Setup& setup, TunedLoop loop, const PassbandSearch& search) {
  PassbandChoice choice;
  if (!(search.overshootBound > 0.0) || search.gridPoints < 2 || !(search.tolerance > 0.0)) return choice;
  const CMC_Parameter* passband = FindParameterQuiet(setup, TuneOf(loop).passband);
  if (passband == nullptr || !passband->HasMin() || !passband->HasMax()) return choice;
  const double minimum = passband->GetMinInBaseUnit(), maximum = passband->GetMaxInBaseUnit();
  if (!(minimum > 0.0 && std::isfinite(maximum) && maximum >= minimum)) return choice;

  // The current loop has no measured inner loop: the winding is its plant.
  const double cap = loop == TunedLoop::Current ? std::numeric_limits<double>::infinity()
                                                : CascadeCeiling_rad_s(search.innerBandwidth_rad_s);
  const double ceiling = std::max(minimum, std::min(maximum, cap));

  CMC_Setup trialSetup(setup);
  auto run = [&](double w) {
    Trial trial;
    bool held = true;
    if (search.margins) {
      // The margins alone decide: the step is predicted once, for the
      // passband chosen.
      trial.predicted = Tune(trialSetup, loop, w, held);
      trial.margins = search.marginsOf ? search.marginsOf(trialSetup) : ComputeLoopMargins(trialSetup, loop);
      trial.predicted = trial.predicted && trial.margins.valid;
      trial.good = trial.predicted && held && MeetsBounds(trial.margins, *search.margins);
      const LoopMargins& m = trial.margins;
      choice.trials.push_back({trialSetup.GetParameterValueInBaseUnit(TuneOf(loop).passband), trial.good,
                               m.crossover_rad_s, m.phaseMargin_deg, m.gainMargin_dB, m.sensitivityPeak_dB});
      return trial;
    }
    trial.predicted = PredictTunedLoop(trialSetup, loop, w, trial.response, &held);
    trial.good =
        trial.predicted && held && trial.response.stable && trial.response.overshoot <= search.overshootBound;
    return trial;
  };

  // The minimum first: a setup the design or the prediction cannot take
  // fails here once, not at every grid point.
  Trial lowest = run(minimum);
  if (!lowest.predicted) return choice;
  choice.valid = true;
  choice.capped = cap < maximum;
  choice.ceiling_rad_s = ceiling;
  choice.passband_rad_s = minimum;
  choice.response = lowest.response;
  choice.margins = lowest.margins;
  if (search.margins) PredictTunedLoop(trialSetup, loop, minimum, choice.response);

  // The grid from the top down: the first good point met is the largest.
  // The minimum may fail where larger passbands do not (a gain the
  // registers round to 0 leaves an integrator the loop no longer drives).
  const int n = ceiling > minimum ? search.gridPoints : 1;
  const double ratio = n > 1 ? std::pow(ceiling / minimum, 1.0 / (n - 1)) : 1.0;
  auto gridPoint = [&](int i) { return i == n - 1 ? ceiling : minimum * std::pow(ratio, i); };
  int found = -1;
  Trial best;
  for (int i = n - 1; i > 0 && found < 0; --i) {
    Trial trial = run(gridPoint(i));
    if (trial.good) {
      found = i;
      best = std::move(trial);
    }
  }
  if (found < 0 && lowest.good) {
    found = 0;
    best = std::move(lowest);
  }
  if (found < 0) return choice;
  choice.met = true;
  double good = gridPoint(found);
  double bad = found < n - 1 ? gridPoint(found + 1) : 0.0;
  // Between the last good and the first bad point, geometric midpoints.
  while (bad > 0.0 && bad - good > search.tolerance * good) {
    const double middle = std::sqrt(good * bad);
    Trial trial = run(middle);
    if (trial.good) {
      good = middle;
      best = std::move(trial);
    } else {
      bad = middle;
    }
  }
  choice.passband_rad_s = good;
  choice.response = std::move(best.response);
  choice.margins = std::move(best.margins);
  if (search.margins) PredictTunedLoop(trialSetup, loop, good, choice.response);
  return choice;
}
