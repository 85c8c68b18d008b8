#include "MeasuredLoop.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>

#include "BiquadDesign.h"
#include "FeatureProbes.h"
#include "Scales.h"
#include "axcore/Names.h"
#include "axcore/Setup.h"

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Lines of the model's grid over the band up to the Nyquist frequency
// for the excursion's variance.
constexpr int kVarianceLines = 1000;
// A pseudo-random excitation's response is near-normal: four standard
// deviations are passed once in some 16000 samples.
constexpr double kPeakOverSigma = 4.0;
// The share of the test current the injected signal with the loop's
// answer may reach by default. Smaller, the dry friction of a real axis
// takes over the response at the low end (it damps a mover that barely
// moves); larger, a stiff speed loop's answer to each bit asks the current
// loop for steps its voltage cannot make, and the phase sags at the top.
// Some three fifths (0.58, set on the virtual drive) keeps the margins
// measured on its example and resonant plants, as commissioned, within 3
// degrees and 0.4 dB of the model's.
constexpr double kInjectedShareOfTestCurrent = 0.58;
// The share of the travel the test allows that a default amplitude may use
// by the model (four standard deviations): the rest is the model's error.
constexpr double kTravelShare = 0.8;

double Quiet(const CMC_Setup& setup, const char* name, double absent) {
  const CMC_Parameter* p = FindParameterQuiet(setup, name);
  return p != nullptr ? p->GetValueInBaseUnit() : absent;
}

bool PositionOverSpeedLoop(const CMC_Setup& setup) { return Quiet(setup, "PositionControlType", 1.0) == 1.0; }

// The tick of the speed and position loops: Ts_C when they run in the fast
// loop, else Ts_S.
double OuterTick(const CMC_Setup& setup) {
  return Quiet(setup, "PosSpd_in_FastLoop", 0.0) != 0.0 ? CurrentLoopPeriod(setup) : SpeedLoopPeriod(setup);
}

std::string Text(double value) {
  std::ostringstream text;
  text.precision(3);
  text << std::fixed << value;
  std::string s = text.str();
  while (s.find('.') != std::string::npos && (s.back() == '0' || s.back() == '.')) {
    const bool dot = s.back() == '.';
    s.pop_back();
    if (dot) break;
  }
  return s;
}

double WrappedDeg(double deg) {
  double d = std::fmod(deg, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d <= -180.0) d += 360.0;
  return d;
}

}  // namespace

LoopExcitation ExcitationOf(const CMC_Setup& setup, TunedLoop loop) {
  LoopExcitation e;
  const double kI = CurrentScale(setup), kS = MotorSpeedScale(setup), kP = MotorPositionScale(setup);
  const double kf = Quiet(setup, "Kf", 0.0);
  switch (loop) {
    case TunedLoop::Current:
      e.tick_s = CurrentLoopPeriod(setup);
      e.amplitudeScale = VoltageCommandScale(setup);
      e.amplitudeUnit = "V";
      // A fifth of the supply: the current's answer stands well above the
      // dead time's distortion, which small currents meet.
      e.defaultAmplitude = 0.2 * Quiet(setup, "Vdc", 48.0);
      e.defaultFrom_Hz = 50.0;
      e.plantScale = VoltageCommandScale(setup) / kI;
      e.plantUnit = "A/V";
      break;
    case TunedLoop::Speed:
      e.tick_s = OuterTick(setup);
      e.amplitudeScale = kI;
      e.amplitudeUnit = "A";
      e.defaultAmplitude = Quiet(setup, "TestLimitCurrent", 2.0) / 4.0;
      e.defaultFrom_Hz = 10.0;
      e.plantScale = kI / (kS * kf);
      e.plantUnit = "(m/s)/N";
      break;
    case TunedLoop::Position:
      e.tick_s = OuterTick(setup);
      e.defaultFrom_Hz = 5.0;
      if (PositionOverSpeedLoop(setup)) {
        e.amplitudeScale = kS;
        e.amplitudeUnit = "m/s";
        // Enough speed that dry friction does not hold the mover.
        e.defaultAmplitude = 0.1;
        e.plantScale = kS / kP;
        e.plantUnit = "m/(m/s)";
      } else {
        e.amplitudeScale = kI;
        e.amplitudeUnit = "A";
        e.defaultAmplitude = Quiet(setup, "TestLimitCurrent", 2.0) / 4.0;
        e.plantScale = kI / (kP * kf);
        e.plantUnit = "m/N";
      }
      break;
  }
  e.defaultTo_Hz = 0.45 / e.tick_s;
  for (double x : {e.tick_s, e.amplitudeScale, e.plantScale})
    if (!(x > 0.0) || !std::isfinite(x)) e.error = "the setup gives the loop no period or no scale (Kf, ImaxPS, EncRes)";
  return e;
}

double DefaultAmplitude(const CMC_Setup& setup, TunedLoop loop) {
  const LoopExcitation e = ExcitationOf(setup, loop);
  double travel_m = 0.0, injected = 0.0, current = 0.0;
  const double counts = e.defaultAmplitude * e.amplitudeScale;
  if (!e.error.empty() || !ExpectedExcursion(setup, loop, counts, travel_m, injected, current))
    return e.defaultAmplitude;
  // All grow in proportion to the amplitude.
  double scale = 1.0;
  if (travel_m > kTravelShare * kFrequencyResponseTravel_m) scale = kTravelShare * kFrequencyResponseTravel_m / travel_m;
  const CMC_Parameter* limit = FindParameterQuiet(setup, "TestLimitCurrent");
  if (limit != nullptr && current > 0.0) {
    const double allowed_counts = kInjectedShareOfTestCurrent * limit->GetValueInBaseUnit() * CurrentScale(setup);
    scale = std::min(scale, allowed_counts / current);
  }
  return e.defaultAmplitude * std::min(1.0, scale);
}

bool ModelResponses(const CMC_Setup& setup, TunedLoop loop, const std::vector<double>& frequency_Hz,
                    std::vector<std::complex<double>>& openLoop, std::vector<std::complex<double>>& plant) {
  openLoop.clear();
  plant.clear();
  OpenLoop open;
  if (!BreakLoop(setup, loop, open)) return false;
  // The plant: the same loop with its controller a pure gain k and the
  // filter slots of its own output and feedback passing through, L = k P.
  CMC_Setup unit(setup);
  const char* proportional = "Kp_C_scl";
  std::vector<const char*> zeroed = {"Ki_C_scl"};
  std::vector<const char*> ownSlots;
  if (loop == TunedLoop::Speed) {
    proportional = "Kp_S_scl";
    zeroed = {"Ki_S_scl"};
    ownSlots = {"IQREF_BQ_INI", "ASPD_BQ_INI"};
  } else if (loop == TunedLoop::Position) {
    proportional = "Kp_P_scl";
    zeroed = {"Ki_P_scl", "Kd_P_scl"};
    ownSlots = {PositionOverSpeedLoop(setup) ? "SPDREF_BQ_INI" : "IQREF_BQ_INI"};
  }
  unit.SetParameterValueInBaseUnit(proportional, 1.0);
  for (const char* name : zeroed) unit.SetParameterValueInBaseUnit(name, 0.0);
  const double k = Quiet(unit, proportional, 0.0);
  for (const char* name : zeroed)
    if (Quiet(unit, name, 0.0) != 0.0) return false;
  if (!(k > 0.0)) return false;
  int slot = 1;
  for (const char* place : {"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"}) {
    const double count = std::clamp(std::trunc(Quiet(setup, place, 0.0)), 0.0, 3.0);
    for (int n = 0; n < count && slot <= kBiquadSlotCount; ++n, ++slot)
      if (std::find_if(ownSlots.begin(), ownSlots.end(),
                       [&](const char* own) { return axcore::EqualsIgnoreCase(own, place); }) != ownSlots.end())
        BypassFilterSlot(unit, slot);
  }
  OpenLoop bare;
  if (!BreakLoop(unit, loop, bare)) return false;
  for (double f : frequency_Hz) {
    openLoop.push_back(open.At(kTwoPi * f));
    plant.push_back(bare.At(kTwoPi * f) / k);
  }
  return true;
}

bool ExpectedExcursion(const CMC_Setup& setup, TunedLoop loop, double amplitude_counts, double& travel_m,
                       double& injected_counts, double& current_counts) {
  travel_m = injected_counts = current_counts = 0.0;
  const LoopExcitation e = ExcitationOf(setup, loop);
  if (!e.error.empty()) return false;
  std::vector<double> grid;
  const double nyquist_Hz = 0.5 / e.tick_s;
  for (int k = 0; k < kVarianceLines; ++k) grid.push_back((k + 0.5) / kVarianceLines * nyquist_Hz);
  std::vector<std::complex<double>> open, plant;
  if (!ModelResponses(setup, loop, grid, open, plant)) return false;
  // Speed counts are per Ts_S: n of them per tick in the fast loop.
  const double ticksPerSpeedPeriod = std::max(1.0, std::round(SpeedLoopPeriod(setup) / e.tick_s));
  double position = 0.0, injected = 0.0;
  for (std::size_t i = 0; i < grid.size(); ++i) {
    const std::complex<double> s = 1.0 / (1.0 + open[i]);
    std::complex<double> x = plant[i] * s;
    if (loop == TunedLoop::Speed)
      x /= ticksPerSpeedPeriod * (1.0 - std::polar(1.0, -kTwoPi * grid[i] * e.tick_s));
    position += std::norm(x);
    injected += std::norm(s - 1.0);
  }
  if (loop != TunedLoop::Current)
    travel_m = kPeakOverSigma * amplitude_counts * std::sqrt(position / kVarianceLines) / MotorPositionScale(setup);
  // u = d + (S - 1) d: the binary sequence's own peak and the loop's answer.
  injected_counts = amplitude_counts * (1.0 + kPeakOverSigma * std::sqrt(injected / kVarianceLines));
  if (std::string_view(e.amplitudeUnit) == "A") {
    current_counts = injected_counts;
  } else if (std::string_view(e.amplitudeUnit) == "m/s") {
    // At the speed reference u = S d; the speed loop answers it with the
    // current reference T_s / P_s u (its closed loop over its plant).
    std::vector<std::complex<double>> speedOpen, speedPlant;
    if (!ModelResponses(setup, TunedLoop::Speed, grid, speedOpen, speedPlant)) return false;
    double current = 0.0;
    for (std::size_t i = 0; i < grid.size(); ++i)
      current += std::norm(speedOpen[i] / (1.0 + speedOpen[i]) / speedPlant[i] / (1.0 + open[i]));
    current_counts = amplitude_counts * kPeakOverSigma * std::sqrt(current / kVarianceLines);
  }
  return std::isfinite(travel_m) && std::isfinite(injected_counts) && std::isfinite(current_counts);
}

LoopComparison CompareWithModel(const MeasuredResponse& measured, const std::vector<std::complex<double>>& modelOpen,
                                const std::vector<std::complex<double>>& modelPlant, const LoopMargins& model,
                                double upTo_Hz) {
  LoopComparison c;
  c.measured = MeasuredMargins(measured);
  c.model = model;
  for (std::size_t i = 0; i < measured.frequency_Hz.size() && i < modelOpen.size() && i < modelPlant.size(); ++i) {
    if (measured.coherence[i] < 0.9 || measured.frequency_Hz[i] > upTo_Hz) continue;
    const std::complex<double> open = measured.openLoop[i] / modelOpen[i];
    const std::complex<double> plant = measured.plant[i] / modelPlant[i];
    c.openLoopMagnitude_dB = std::max(c.openLoopMagnitude_dB, std::abs(20.0 * std::log10(std::abs(open))));
    c.openLoopPhase_deg = std::max(c.openLoopPhase_deg, std::abs(WrappedDeg(std::arg(open) * 180.0 / std::numbers::pi)));
    c.plantMagnitude_dB = std::max(c.plantMagnitude_dB, std::abs(20.0 * std::log10(std::abs(plant))));
    c.plantPhase_deg = std::max(c.plantPhase_deg, std::abs(WrappedDeg(std::arg(plant) * 180.0 / std::numbers::pi)));
    ++c.linesCompared;
  }
  return c;
}

std::string FormatComparison(const LoopComparison& c, const std::vector<Resonance>* resonances) {
  std::string text = "Measured: " + (c.measured.valid ? FormatMargins(c.measured) : std::string("no coherent lines"));
  if (c.model.valid) text += "\nModel: " + FormatMargins(c.model);
  if (c.linesCompared > 0)
    text += "\nAgainst the model (" + std::to_string(c.linesCompared) + " lines, coherence 0.9 or more): open loop within " +
            Text(c.openLoopMagnitude_dB) + " dB and " + Text(c.openLoopPhase_deg) + " deg, plant within " +
            Text(c.plantMagnitude_dB) + " dB and " + Text(c.plantPhase_deg) + " deg";
  if (resonances == nullptr) return text;
  if (resonances->empty()) return text + "\nResonances: none above the rigid-body line";
  for (const Resonance& r : *resonances)
    text += "\nResonance at " + Text(r.frequency_Hz) + " Hz: " + Text(r.height_dB) + " dB above the rigid-body line, " +
            Text(r.width_Hz) + " Hz wide";
  return text;
}

NotchPlacement PlaceNotch(CMC_Setup& setup, const Resonance& resonance) {
  NotchPlacement placement;
  auto name = [](const char* prefix, int n) { return std::string(prefix) + std::to_string(n); };
  auto value = [&](const char* prefix, int n) { return Quiet(setup, name(prefix, n).c_str(), 0.0); };
  int chosen = 0;
  for (int n = 1; n <= kBiquadFilterCount && chosen == 0; ++n)
    if (value("BQFilter", n) != 0.0 && value("BQFilterLocation", n) == static_cast<double>(kBiquadAtSpeedControllerOutput) &&
        value("BQFilterType", n) == static_cast<double>(kBiquadNotch) &&
        std::abs(value("BQFilterF1", n) - resonance.frequency_Hz) <= 0.1 * resonance.frequency_Hz) {
      chosen = n;
      placement.moved = true;
    }
  for (int n = 1; n <= kBiquadFilterCount && chosen == 0; ++n)
    if (FindParameterQuiet(setup, name("BQFilter", n)) != nullptr && value("BQFilter", n) == 0.0) chosen = n;
  if (chosen == 0) {
    placement.error = "no filter is free (all three are on)";
    return placement;
  }
  const CMC_Parameter* q = FindParameterQuiet(setup, name("BQFilterQ", chosen));
  const CMC_Parameter* f1 = FindParameterQuiet(setup, name("BQFilterF1", chosen));
  if (q == nullptr || f1 == nullptr) {
    placement.error = "the setup has no " + name("BQFilterQ", chosen) + " or " + name("BQFilterF1", chosen);
    return placement;
  }
  const CMC_Setup before(setup);
  placement.filter = chosen;
  placement.frequency_Hz = resonance.frequency_Hz;
  placement.q = NotchQuality(resonance, std::max(0.5, q->GetMinInBaseUnit()), std::min(10.0, q->GetMaxInBaseUnit()));
  setup.SetParameterValueInBaseUnit(name("BQFilter", chosen), 1.0);
  setup.SetParameterValueInBaseUnit(name("BQFilterLocation", chosen), kBiquadAtSpeedControllerOutput);
  setup.SetParameterValueInBaseUnit(name("BQFilterType", chosen), kBiquadNotch);
  setup.SetParameterValueInBaseUnit(name("BQFilterF1", chosen), placement.frequency_Hz);
  setup.SetParameterValueInBaseUnit(name("BQFilterQ", chosen), placement.q);
  CBiquadDesign design;
  if (design.EncodeFilters(setup) == 0) {
    placement = {};
    placement.error = design.GetLastError();
    setup = before;
  }
  return placement;
}

LoopMargins MarginsOnMeasuredPlant(const CMC_Setup& setup, TunedLoop loop, const MeasuredResponse& measured,
                                   const std::vector<std::complex<double>>& modelPlant,
                                   MeasuredResponse* withController) {
  std::vector<std::complex<double>> open, plant;
  if (!ModelResponses(setup, loop, measured.frequency_Hz, open, plant) || modelPlant.size() != open.size())
    return {};
  MeasuredResponse combined = measured;
  for (std::size_t i = 0; i < open.size(); ++i) {
    combined.openLoop[i] = measured.plant[i] * open[i] / plant[i];
    combined.sensitivity[i] = 1.0 / (1.0 + combined.openLoop[i]);
    combined.closedLoop[i] = 1.0 - combined.sensitivity[i];
  }
  LoopMargins margins = MeasuredMargins(combined);
  if (withController != nullptr) *withController = std::move(combined);
  return margins;
}

LoopMargins WorstOf(const LoopMargins& a, const LoopMargins& b) {
  LoopMargins w = b;
  w.valid = a.valid && b.valid;
  w.stable = a.stable && b.stable;
  if (!(w.crossover_rad_s > 0.0)) w.crossover_rad_s = a.crossover_rad_s;
  w.phaseMargin_deg = std::min(a.phaseMargin_deg, b.phaseMargin_deg);
  if (a.gainMargin_dB < b.gainMargin_dB) {
    w.gainMargin_dB = a.gainMargin_dB;
    w.gainMarginAt_rad_s = a.gainMarginAt_rad_s;
  }
  w.gainReductionMargin_dB = std::min(a.gainReductionMargin_dB, b.gainReductionMargin_dB);
  w.sensitivityPeak_dB = std::max(a.sensitivityPeak_dB, b.sensitivityPeak_dB);
  return w;
}

std::vector<std::string> DescribeFilters(const CMC_Setup& setup) {
  std::vector<std::string> lines;
  CBiquadDesign design;
  for (int n = 1; n <= kBiquadFilterCount; ++n) {
    const std::string number = std::to_string(n);
    if (Quiet(setup, ("BQFilter" + number).c_str(), 0.0) == 0.0) continue;
    const double type = std::trunc(Quiet(setup, ("BQFilterType" + number).c_str(), -1.0));
    const double location = std::trunc(Quiet(setup, ("BQFilterLocation" + number).c_str(), -1.0));
    const char* typeName = type >= 0.0 && type < kBiquadTypeCount ? design.GetTypeName(static_cast<int>(type)) : nullptr;
    const char* place = location >= 0.0 && location < kBiquadLocationCount ? BiquadLocationName(static_cast<int>(location))
                                                                          : nullptr;
    std::string line = "filter " + number + ": " + (typeName != nullptr ? typeName : "unknown type") + " at the " +
                       (place != nullptr ? place : "no place") + ", " +
                       Text(Quiet(setup, ("BQFilterF1" + number).c_str(), 0.0)) + " Hz";
    if (type >= 0.0 && type < kBiquadTypeCount && BiquadTypeUsesQ(static_cast<int>(type)))
      line += ", Q " + Text(Quiet(setup, ("BQFilterQ" + number).c_str(), 0.0));
    lines.push_back(line);
  }
  if (lines.empty()) lines.push_back("no filter is on");
  return lines;
}
