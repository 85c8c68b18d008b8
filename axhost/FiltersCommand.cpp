// `axhost filters`: the drive's three biquad slots as register encoding fills
// them, and what each used slot does to the signal it filters: the response
// of the quantised registers beside the floating design, so that a user sees
// at once whether the drive's 32-bit coefficients hold the filter.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "BiquadDesign.h"
#include "Commands.h"
#include "FeatureProbes.h"
#include "FilterResponse.h"
#include "Scales.h"

namespace axhost {
namespace {

// A value as the table shows it with `decimals` decimals: one that rounds to
// zero shows as 0, not as -0.
double Shown(double value, int decimals) {
  return std::fabs(value) < 0.5 * std::pow(10.0, -decimals) ? 0.0 : value;
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// One point of a slot's response: the registers' and the ideal design's.
struct ResponsePoint {
  double frequency_Hz;
  double figures[4];  // magnitude_dB, phase_deg, ideal_magnitude_dB, ideal_phase_deg

  bool Finite() const {
    return std::all_of(std::begin(figures), std::end(figures), [](double x) { return std::isfinite(x); });
  }
};

struct SlotView {
  int slot;
  int filter;
  int location;
  int type;
  BiquadFilterParameters parameters;
  BiquadRegisters registers;
  BiquadCoefficients ideal;
};

std::string Describe(const SlotView& v, const CBiquadDesign& design) {
  std::string text = "Slot " + std::to_string(v.slot) + ": filter " + std::to_string(v.filter) + ", " +
                     BiquadLocationName(v.location) + ", " + design.GetTypeName(v.type);
  if (BiquadTypeUsesF2(v.type)) {
    text += Format(", lead F1 %g Hz", v.parameters.f1_Hz) + Format(", lag F2 %g Hz", v.parameters.f2_Hz);
  } else {
    text += Format(", F1 %g Hz", v.parameters.f1_Hz);
    if (BiquadTypeUsesQ(v.type)) text += Format(", Q %g", v.parameters.q);
  }
  return text;
}

// The response of a slot at `freqs`. A pole or an exact null on a grid
// point has no finite figures: that point is left out, with a warning.
std::vector<ResponsePoint> Response(const SlotView& v, const std::vector<double>& freqs, double period_s,
                                    std::vector<std::string>& warnings) {
  std::vector<ResponsePoint> points;
  for (double f : freqs) {
    const std::complex<double> h = BiquadResponse(v.registers, f, period_s);
    const std::complex<double> ideal = BiquadResponse(v.ideal, f, period_s);
    const ResponsePoint point{f, {MagnitudeDb(h), PhaseDeg(h), MagnitudeDb(ideal), PhaseDeg(ideal)}};
    if (point.Finite()) {
      points.push_back(point);
    } else {
      warnings.push_back("filters: slot " + std::to_string(v.slot) + " has a pole or a null at " +
                         Format("%.9g", f) + " Hz; that point of its response is left out");
    }
  }
  return points;
}

void PrintSlot(std::ostream& out, const SlotView& v, const CBiquadDesign& design,
               const std::vector<ResponsePoint>& points) {
  out << Describe(v, design) << '\n';
  const std::string prefix = "BQ" + std::to_string(v.slot);
  const double values[6] = {v.registers.b0, v.registers.b1, v.registers.b2,
                            v.registers.a1, v.registers.a2, v.registers.sf};
  const char* suffixes[6] = {"B0", "B1", "B2", "A1", "A2", "SF"};
  for (int i = 0; i < 6; ++i) out << "  " << prefix << suffixes[i] << Format(" %12.0f", values[i]) << '\n';
  out << "  frequency_Hz  magnitude_dB  phase_deg  ideal_magnitude_dB  ideal_phase_deg\n";
  for (const ResponsePoint& p : points)
    out << Format("  %12.3f", p.frequency_Hz) << Format("  %12.4f", Shown(p.figures[0], 4))
        << Format("  %9.2f", Shown(p.figures[1], 2)) << Format("  %18.4f", Shown(p.figures[2], 4))
        << Format("  %15.2f", Shown(p.figures[3], 2)) << '\n';
}

void PrintCsv(std::ostream& out, const SlotView& v, const std::vector<ResponsePoint>& points) {
  for (const ResponsePoint& p : points) {
    out << v.slot << ',' << v.filter << ',' << Format("%.9g", p.frequency_Hz);
    for (double figure : p.figures) out << ',' << Format("%.9g", figure);
    out << '\n';
  }
}

}  // namespace

int RunFilters(const PluginModule& module, const std::optional<std::string>& file, bool csv, Io io) {
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;
  auto fail = [&](const std::string& message) {
    PrintMissingNames(io.err);
    PrintError(io.err, "filters: " + message);
    return kExitFailed;
  };
  if (!HasCurrentReferenceFilter(*setup)) return fail("this drive has no biquad filters (no \"IQREF_BQ_INI\")");

  // The drive runs the slots at the period its registers give; the design
  // takes "Ts_S", which decoding keeps equal to it.
  const double period_s = SpeedLoopPeriod(*setup);
  if (!(std::isfinite(period_s) && period_s > 0.0)) return fail("SLPER, PWMPER and DSP_freq give no speed-loop period");
  const double nyquist_Hz = 0.5 / period_s;
  if (!(nyquist_Hz > 1.0)) return fail(Format("the speed-loop Nyquist frequency %g Hz is not above 1 Hz", nyquist_Hz));

  CBiquadDesign design;
  if (!design.EncodeFilters(*setup)) return fail(design.GetLastError());

  const BiquadSlotPlan plan = PlanBiquadSlots(*setup);
  std::vector<SlotView> slots;
  for (int s = 1; s <= plan.usedSlots; ++s) {
    SlotView v{};
    v.slot = s;
    v.filter = plan.filterOfSlot[static_cast<std::size_t>(s - 1)];
    v.location = plan.locationOfSlot[static_cast<std::size_t>(s - 1)];
    v.parameters = ReadBiquadFilterParameters(*setup, v.filter);
    // EncodeFilters has accepted the type, so it is one of 0..9.
    v.type = static_cast<int>(std::trunc(v.parameters.type));
    const std::string prefix = "BQ" + std::to_string(s);
    v.registers = {
        setup->GetParameterValueInBaseUnit(prefix + "B0"), setup->GetParameterValueInBaseUnit(prefix + "B1"),
        setup->GetParameterValueInBaseUnit(prefix + "B2"), setup->GetParameterValueInBaseUnit(prefix + "A1"),
        setup->GetParameterValueInBaseUnit(prefix + "A2"), setup->GetParameterValueInBaseUnit(prefix + "SF")};
    design.ComputeFilter(*setup, v.filter);
    v.ideal = design.GetCoefficients();
    slots.push_back(v);
  }

  const double designPeriod_s = setup->GetParameterValueInBaseUnit("Ts_S");
  if (std::fabs(designPeriod_s - period_s) > 1e-9 * period_s)
    io.err << "warning: \"Ts_S\" is " << Format("%g", designPeriod_s) << " s but SLPER, PWMPER and DSP_freq give "
           << Format("%g", period_s)
           << " s: the filters are designed for \"Ts_S\" and shown at the period the drive runs\n";

  const std::vector<double> freqs = FilterResponseFrequencies(nyquist_Hz);
  std::vector<std::string> warnings;
  std::vector<std::vector<ResponsePoint>> responses;
  for (const SlotView& v : slots) responses.push_back(Response(v, freqs, period_s, warnings));
  if (csv) {
    io.out << "slot,filter,frequency_hz,magnitude_db,phase_deg,ideal_magnitude_db,ideal_phase_deg\n";
    for (std::size_t i = 0; i < slots.size(); ++i) PrintCsv(io.out, slots[i], responses[i]);
  } else {
    io.out << "Speed-loop period " << Format("%g", period_s * 1e6) << " µs, Nyquist frequency "
           << Format("%g", nyquist_Hz) << " Hz\n";
    io.out << "SPDREF_BQ_INI " << plan.countOfLocation[0] << ", IQREF_BQ_INI " << plan.countOfLocation[1]
           << ", ASPD_BQ_INI " << plan.countOfLocation[2] << '\n';
    for (std::size_t i = 0; i < slots.size(); ++i) {
      io.out << '\n';
      PrintSlot(io.out, slots[i], design, responses[i]);
    }
    for (int s = plan.usedSlots + 1; s <= kBiquadSlotCount; ++s)
      io.out << "\nSlot " << s << ": unused (all six registers 0)\n";
  }
  PrintMissingNames(io.err);
  for (const std::string& warning : warnings) PrintWarning(io.err, warning);
  return kExitOk;
}

}  // namespace axhost
