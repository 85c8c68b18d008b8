#include "FilterResponsePlot.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>

#include "BiquadDesign.h"
#include "FilterResponse.h"
#include "Scales.h"
#include "axcore/PlotDocument.h"

namespace {

using axcore::LineStyle;
using axcore::PlotAxisId;
using axcore::PlotDocument;

// Points added inside each interval of the shared response grid.
constexpr int kPointsBetween = 9;
// The magnitude axis reaches no lower: the nulls of a notch and the zeros a
// low pass has at the Nyquist frequency would otherwise squeeze the
// passband, where the tuning happens, into a few pixels.
constexpr double kMagnitudeFloor_dB = -80.0;
constexpr double kPastNyquist = 1.5;
// The colour of all filters in series; filters n = 1..3 take n - 1.
constexpr int kSeriesColour = 3;

struct FilterCurves {
  std::string name;
  int colour;
  std::vector<std::complex<double>> drive, ideal;
};

std::string Text(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A figure that is no number (the gain at an exact null, the phase there)
// breaks the line instead.
double Finite(double value) { return std::isfinite(value) ? value : NAN; }

void PrepareAxes(PlotDocument& plot, const char* title, const char* quantity, const char* unit) {
  plot.ClearData();
  plot.SetTitle(title);
  // Anew at each drawing: a floor set for the last data may not fit these.
  plot.Axis(PlotAxisId::Horizontal) = {"Frequency", "Hz", axcore::AxisScale::Logarithmic};
  plot.Axis(PlotAxisId::Left) = {quantity, unit};
}

void AddCurves(PlotDocument& plot, const std::vector<double>& grid, const FilterCurves& filter,
               double (*figure)(std::complex<double>)) {
  for (const bool ideal : {false, true}) {
    axcore::PlotCurve& curve = plot.AddCurve(ideal ? filter.name + " (ideal)" : filter.name, PlotAxisId::Left,
                                             filter.colour, ideal ? LineStyle::Dashed : LineStyle::Solid);
    // The title tells what dashed means; the legend names each filter once.
    curve.inLegend = !ideal;
    curve.x = grid;
    for (const std::complex<double>& h : ideal ? filter.ideal : filter.drive) curve.y.push_back(Finite(figure(h)));
  }
}

}  // namespace

std::string DrawFilterResponse(const CMC_Setup& setup, PlotDocument& magnitude, PlotDocument& phase) {
  PrepareAxes(magnitude, "Magnitude of the filters (dashed: as designed)", "Magnitude", "dB");
  PrepareAxes(phase, "Phase of the filters (dashed: as designed)", "Phase", "\xC2\xB0");
  // The phase in (-180°, 180°], as the filters command gives it.
  phase.Axis(PlotAxisId::Left).fixedMin = -180.0;
  phase.Axis(PlotAxisId::Left).fixedMax = 180.0;
  phase.Axis(PlotAxisId::Left).tickStep = 90.0;

  // The drive runs the slots at the period its registers give; the design
  // takes "Ts_S", which decoding keeps equal to it.
  const double period_s = SpeedLoopPeriod(setup);
  const double nyquist_Hz = 0.5 / period_s;
  const std::vector<double> grid = FilterResponseFrequencies(nyquist_Hz, kPointsBetween);
  if (!(period_s > 0.0) || grid.empty())
    return "SLPER, PWMPER and DSP_freq give no speed-loop period: the filters' response cannot be shown";

  std::string problem;
  std::vector<FilterCurves> filters;
  const BiquadSlotPlan plan = PlanBiquadSlots(setup);
  std::vector<int> shown(plan.filterOfSlot.begin(), plan.filterOfSlot.begin() + plan.usedSlots);
  std::sort(shown.begin(), shown.end());
  CBiquadDesign design;
  for (int n : shown) {
    BiquadRegisters registers;
    if (!design.DesignFilterRegisters(setup, n, registers)) {
      if (problem.empty()) problem = "Not shown: " + design.GetLastError();
      continue;
    }
    design.ComputeFilter(setup, n);
    const BiquadCoefficients ideal = design.GetCoefficients();
    FilterCurves curves{"Filter " + std::to_string(n), n - 1, {}, {}};
    for (double f : grid) {
      curves.drive.push_back(BiquadResponse(registers, f, period_s));
      curves.ideal.push_back(BiquadResponse(ideal, f, period_s));
    }
    filters.push_back(std::move(curves));
  }
  if (filters.size() > 1) {
    FilterCurves series{"All filters", kSeriesColour, {}, {}};
    for (std::size_t i = 0; i < grid.size(); ++i) {
      std::complex<double> drive = 1.0, ideal = 1.0;
      for (const FilterCurves& filter : filters) {
        drive *= filter.drive[i];
        ideal *= filter.ideal[i];
      }
      series.drive.push_back(drive);
      series.ideal.push_back(ideal);
    }
    filters.push_back(std::move(series));
  }
  for (const FilterCurves& filter : filters) {
    AddCurves(magnitude, grid, filter, MagnitudeDb);
    AddCurves(phase, grid, filter, PhaseDeg);
  }
  if (magnitude.Range(PlotAxisId::Left).min < kMagnitudeFloor_dB)
    magnitude.Axis(PlotAxisId::Left).fixedMin = kMagnitudeFloor_dB;
  // The frequency axis runs on a little past the Nyquist frequency, so that
  // its marker stands clear of the frame.
  magnitude.Axis(PlotAxisId::Horizontal).fixedMax = kPastNyquist * nyquist_Hz;
  phase.Axis(PlotAxisId::Horizontal).fixedMax = kPastNyquist * nyquist_Hz;
  const std::string nyquist = "Nyquist " + Text("%g", nyquist_Hz) + " Hz";
  magnitude.AddMarker(nyquist_Hz, nyquist);
  phase.AddMarker(nyquist_Hz, nyquist);
  return problem;
}
