#include "FrequencyResponsePlot.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "FilterResponse.h"
#include "axcore/PlotDocument.h"

namespace {

using axcore::LineStyle;
using axcore::PlotAxisId;
using axcore::PlotDocument;

std::string Hz(double rad_s) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3g Hz", rad_s / (2.0 * std::numbers::pi));
  return text;
}

// A line whose coherence is below a half says nothing: it breaks the curve.
double Shown(const FrequencyResponseCurves& c, std::size_t i, double value) {
  return c.measured->coherence[i] >= 0.5 && std::isfinite(value) ? value : NAN;
}

void AddPair(PlotDocument& plot, PlotAxisId axis, const FrequencyResponseCurves& c, bool phase) {
  const MeasuredResponse& m = *c.measured;
  // The closed loop, from the reference to the measurement: L / (1 + L).
  std::vector<std::complex<double>> modelClosedLoop;
  for (const std::complex<double>& l : c.modelOpenLoop) modelClosedLoop.push_back(l / (1.0 + l));
  struct Source {
    const char* name;
    const std::vector<std::complex<double>>* values;
    double scale;
    int colour;
    LineStyle style;
    bool measured;
  };
  const Source sources[] = {
      {"Open loop", &m.openLoop, 1.0, 0, LineStyle::Solid, true},
      {"Open loop (model)", &c.modelOpenLoop, 1.0, 0, LineStyle::Dashed, false},
      {"Plant", &m.plant, c.plantScale, 1, LineStyle::Solid, true},
      {"Plant (model)", &c.modelPlant, c.plantScale, 1, LineStyle::Dashed, false},
      {"Closed loop", &m.closedLoop, 1.0, 4, LineStyle::Solid, true},
      {"Closed loop (model)", &modelClosedLoop, 1.0, 4, LineStyle::Dashed, false},
  };
  for (const Source& s : sources) {
    if (s.values->size() != m.frequency_Hz.size()) continue;
    std::string name = s.name;
    if (!phase && s.values == &m.plant) name += " [" + c.plantUnit + "]";
    axcore::PlotCurve& curve = plot.AddCurve(phase ? name + ", phase" : name, axis, s.colour, s.style);
    curve.x = m.frequency_Hz;
    for (std::size_t i = 0; i < s.values->size(); ++i) {
      const std::complex<double> h = (*s.values)[i] * s.scale;
      const double y = phase ? PhaseDeg(h) : MagnitudeDb(h);
      curve.y.push_back(s.measured ? Shown(c, i, y) : y);
    }
  }
}

void Mark(PlotDocument& plot, const FrequencyResponseCurves& c) {
  const LoopMargins& g = c.margins;
  if (!g.valid) return;
  if (g.crossover_rad_s > 0.0)
    plot.AddMarker(g.crossover_rad_s / (2.0 * std::numbers::pi),
                   "crossover " + Hz(g.crossover_rad_s) + ", phase margin " +
                       std::to_string(static_cast<int>(std::lround(std::fmin(g.phaseMargin_deg, 999.0)))) + " deg");
  if (g.gainMarginAt_rad_s > 0.0 && std::isfinite(g.gainMargin_dB)) {
    char text[96];
    std::snprintf(text, sizeof text, "gain margin %.1f dB at %s", g.gainMargin_dB, Hz(g.gainMarginAt_rad_s).c_str());
    plot.AddMarker(g.gainMarginAt_rad_s / (2.0 * std::numbers::pi), text);
  }
  for (const Resonance& r : c.resonances) {
    char text[96];
    std::snprintf(text, sizeof text, "resonance %.4g Hz, +%.1f dB", r.frequency_Hz, r.height_dB);
    plot.AddMarker(r.frequency_Hz, text);
  }
}

void FrequencyAxis(PlotDocument& plot, const char* title) {
  plot.ClearData();
  plot.SetTitle(title);
  plot.Axis(PlotAxisId::Horizontal) = {"Frequency", "Hz", axcore::AxisScale::Logarithmic};
}

}  // namespace

void DrawFrequencyResponse(const FrequencyResponseCurves& c, PlotDocument& magnitude, PlotDocument& phase,
                           PlotDocument& coherence) {
  FrequencyAxis(magnitude, "Magnitude, measured (dashed: the loop model)");
  FrequencyAxis(phase, "Phase, measured (dashed: the loop model)");
  FrequencyAxis(coherence, "Coherence of the measurement");
  magnitude.Axis(PlotAxisId::Left) = {"Magnitude", "dB"};
  phase.Axis(PlotAxisId::Left) = {"Phase", "\xC2\xB0"};
  phase.Axis(PlotAxisId::Left).fixedMin = -180.0;
  phase.Axis(PlotAxisId::Left).fixedMax = 180.0;
  phase.Axis(PlotAxisId::Left).tickStep = 90.0;
  coherence.Axis(PlotAxisId::Left) = {"Coherence", ""};
  coherence.Axis(PlotAxisId::Left).fixedMin = 0.0;
  coherence.Axis(PlotAxisId::Left).fixedMax = 1.0;
  if (c.measured == nullptr) {
    // Before a run: the decades a measurement of these loops spans.
    for (PlotDocument* plot : {&magnitude, &phase, &coherence}) {
      plot->Axis(PlotAxisId::Horizontal).fixedMin = 1.0;
      plot->Axis(PlotAxisId::Horizontal).fixedMax = 1000.0;
    }
    return;
  }
  AddPair(magnitude, PlotAxisId::Left, c, false);
  AddPair(phase, PlotAxisId::Left, c, true);
  axcore::PlotCurve& curve = coherence.AddCurve("Coherence", PlotAxisId::Left, 2);
  curve.x = c.measured->frequency_Hz;
  curve.y = c.measured->coherence;
  Mark(magnitude, c);
  Mark(phase, c);
}

void DrawBodePlot(const FrequencyResponseCurves& c, const std::string& title, PlotDocument& bode) {
  FrequencyAxis(bode, title.c_str());
  bode.Axis(PlotAxisId::Left) = {"Magnitude", "dB"};
  bode.Axis(PlotAxisId::Right) = {"Phase", "\xC2\xB0"};
  bode.Axis(PlotAxisId::Right).fixedMin = -180.0;
  bode.Axis(PlotAxisId::Right).fixedMax = 180.0;
  bode.Axis(PlotAxisId::Right).tickStep = 90.0;
  if (c.measured == nullptr) return;
  AddPair(bode, PlotAxisId::Left, c, false);
  AddPair(bode, PlotAxisId::Right, c, true);
  Mark(bode, c);
}
