// A measured frequency response as the Frequency Response dialog and the
// command line draw it: the open loop, the plant and the closed loop
// (L / (1 + L), the reference to the measurement), measured (solid) and
// the loop model's (dashed), magnitude and phase over frequency, with the
// measured crossover and the frequency of the gain margin marked; the
// coherence of each line on its own plot.
#pragma once

#include <complex>
#include <string>
#include <vector>

#include "FrequencyResponse.h"
#include "LoopMargins.h"

namespace axcore {
class PlotDocument;
}

struct FrequencyResponseCurves {
  const MeasuredResponse* measured = nullptr;
  std::vector<std::complex<double>> modelOpenLoop, modelPlant;  // empty: no model
  double plantScale = 1.0;   // physical unit per drive unit of the plant
  std::string plantUnit;     // "(m/s)/N"
  LoopMargins margins;       // read from the measurement
  std::vector<Resonance> resonances;
};

void DrawFrequencyResponse(const FrequencyResponseCurves& curves, axcore::PlotDocument& magnitude,
                           axcore::PlotDocument& phase, axcore::PlotDocument& coherence);
// Magnitude (left axis) and phase (right axis) in one plot, for a file.
void DrawBodePlot(const FrequencyResponseCurves& curves, const std::string& title, axcore::PlotDocument& bode);
