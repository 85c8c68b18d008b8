// A loop's measured frequency response beside the loop model's, for one
// setup: what the frequency-response program is asked for (in the drive's
// units), the model's open loop and plant at the measured lines, the
// travel the excitation will use, and the notch a resonance calls for.
#pragma once

#include <complex>
#include <string>
#include <vector>

#include "FrequencyResponse.h"
#include "LoopMargins.h"

class CMC_Setup;

// The furthest the mover may get from its start while measured: the
// request is refused when the model expects more, the drive stops the run
// when it gets there.
inline constexpr double kFrequencyResponseTravel_m = 0.005;

// What the measurement of one loop takes from the setup.
struct LoopExcitation {
  double tick_s = 0.0;           // the loop's tick (Ts_C, or the outer loops' T)
  double amplitudeScale = 0.0;   // drive counts at the injection point per unit of the amplitude
  const char* amplitudeUnit = "";  // "V", "A" or "m/s"
  double defaultAmplitude = 0.0;
  double defaultFrom_Hz = 0.0, defaultTo_Hz = 0.0;
  // The plant in physical units per drive unit: (m/s)/N of force, m per
  // m/s of speed reference, A per V.
  double plantScale = 0.0;
  const char* plantUnit = "";
  std::string error;  // the setup lacks what the loop needs
};
LoopExcitation ExcitationOf(const CMC_Setup& setup, TunedLoop loop);

// The amplitude a measurement takes unless told: the loop's default
// (ExcitationOf), lowered where the current reference it asks for, with
// the loops' answers (by ExpectedExcursion), would go beyond some three
// fifths of the test current
// ("TestLimitCurrent"; 0.58 exactly): between dry friction at small amplitudes and the
// current loop's voltage limit at large ones; and lowered where the model
// expects it to use more than 0.8 of the travel the test allows (a loop of
// low gains holds the mover loosely). In the loop's unit.
double DefaultAmplitude(const CMC_Setup& setup, TunedLoop loop);

// The model's open loop and plant (the loop with its controller a unit
// gain and its own filter slots passing through) at `frequency_Hz`, in the
// drive's units as the measurement gives them. False when the model cannot
// be built.
bool ModelResponses(const CMC_Setup& setup, TunedLoop loop, const std::vector<double>& frequency_Hz,
                    std::vector<std::complex<double>>& openLoop, std::vector<std::complex<double>>& plant);

// What a pseudo-random excitation of `amplitude_counts` at the injection
// point does to the loop by the model: four standard deviations of the
// position it moves the mover (metres; 0 for the current loop, whose
// current makes no force), the sequence's own peak plus four of the
// controller's answer for the signal at the injection point (drive
// counts), and the current reference it asks for (converter counts): the
// signal itself where it is injected at the current reference, four
// standard deviations of the speed loop's answer where it is injected at
// the speed reference, 0 at the current loop's voltage. False when the
// model cannot be built.
bool ExpectedExcursion(const CMC_Setup& setup, TunedLoop loop, double amplitude_counts, double& travel_m,
                       double& injected_counts, double& current_counts);

// The frequency-response figures of a measured loop: the margins read from
// it beside the model's, and the largest differences of magnitude and
// phase between the measured and the model's open loop and plant where
// the coherence is at least 0.9, up to `upTo_Hz`.
struct LoopComparison {
  LoopMargins measured, model;
  double openLoopMagnitude_dB = 0.0, openLoopPhase_deg = 0.0;
  double plantMagnitude_dB = 0.0, plantPhase_deg = 0.0;
  int linesCompared = 0;
};
LoopComparison CompareWithModel(const MeasuredResponse& measured, const std::vector<std::complex<double>>& modelOpen,
                                const std::vector<std::complex<double>>& modelPlant, const LoopMargins& model,
                                double upTo_Hz);

// "Measured: phase margin ...", "Model: ..." lines and, when `resonances`
// were looked for, their table, for the dialog and the command line.
std::string FormatComparison(const LoopComparison& comparison, const std::vector<Resonance>* resonances);

// The least of two sets of margins of one loop (the model's and the
// measured plant's): each margin the smaller, the sensitivity peak the
// larger, the crossover the second's when it has one. Valid and stable
// when both are.
LoopMargins WorstOf(const LoopMargins& a, const LoopMargins& b);

// One line per filter that is on: "filter 1: Low Pass 2nd order at the Speed
// Controller Output, 200 Hz, Q 0.707"; "no filter is on" when none is.
std::vector<std::string> DescribeFilters(const CMC_Setup& setup);

// The notch a resonance calls for, in the first filter that is off: on,
// at the "Speed Controller Output" (it filters the current reference),
// type Notch, centred on the resonance, its Q from NotchQuality within the
// Q's range; then every slot encoded from the filters (CBiquadDesign). A
// notch filter that is on at that place within a tenth of the frequency is
// moved instead of a second one placed. `filter` 0 with the reason when no
// filter is free or the design fails (the setup is then as it was).
struct NotchPlacement {
  int filter = 0;  // 1 to 3
  double frequency_Hz = 0.0, q = 0.0;
  bool moved = false;  // an existing notch was moved onto the resonance
  std::string error;
};
NotchPlacement PlaceNotch(CMC_Setup& setup, const Resonance& resonance);

// The margins of `loop` as the setup's controller and filters now are, on
// the plant that was measured: the measured plant times the model's
// controller (the model's open loop over its plant at each line).
LoopMargins MarginsOnMeasuredPlant(const CMC_Setup& setup, TunedLoop loop, const MeasuredResponse& measured,
                                   const std::vector<std::complex<double>>& modelPlant,
                                   MeasuredResponse* withController = nullptr);
