// The figures of a step response: how fast a loop follows a step of its
// reference, how far it overshoots, when it settles and what error it keeps.
// The same rules serve a record logged on the drive (the reference and the
// measured signal, sample by sample) and the predicted response of a
// designed loop, so that the two can be set side by side.
//
// Everything is measured along the direction of the change: a step down is
// measured as the mirror image of a step up, except the steady-state error,
// which keeps the sign of reference - response in the signal's unit.
//
// Logged data is noisy and quantised in converter counts. The figures use the
// samples as they are, unfiltered: one noisy sample that leaves the 2 % band
// late makes the settling time late (or "not settled" at the record's end),
// and a noisy sample above the final value counts as overshoot. That is what
// the record shows; a noise of a few counts against a step of hundreds of
// counts moves the figures by a few percent at most.
#pragma once

#include <limits>
#include <string>
#include <vector>

struct SampledLoopResponse;

struct StepFigures {
  // A step was found and the record runs long enough after it.
  bool valid = false;
  // When the reference stepped: the time of the first sample at or past half
  // of its change.
  double stepTime_s = 0.0;
  // The reference before the step (mean over the samples before it) and after
  // it (mean over the last 10 % of the record's samples).
  double initial = 0.0;
  double final = 0.0;
  // The response from 10 % to 90 % of the reference's change, interpolated
  // linearly between samples; NaN when it never reaches 90 %.
  double rise_s = std::numeric_limits<double>::quiet_NaN();
  // The farthest the response goes beyond the final reference, over the
  // change, as a fraction; 0 when it never passes it.
  double overshoot = 0.0;
  // From the step to the last time the response is outside final +/- 2 % of
  // the change (interpolated back into the band); NaN when it is outside at
  // the record's last sample.
  double settling_s = std::numeric_limits<double>::quiet_NaN();
  // Mean of (reference - response) over the last 10 % of the record, in the
  // signal's unit.
  double steadyStateError = 0.0;
};

// The figures of one record. Not valid when the three vectors differ in size
// or hold fewer than 4 samples, a time does not increase, a value is not
// finite, the reference changes by no more than a millionth of its largest
// magnitude, or the step lies in the last 10 % of the samples.
StepFigures MeasureStep(const std::vector<double>& time_s, const std::vector<double>& reference,
                        const std::vector<double>& response);

// The figures of a predicted unit-step response scaled to a step of
// `amplitude` (either sign) that arrives at `stepTime_s`: one sample of the
// reference and response at 0 one period before the step, then the
// response's samples from the step on, measured by MeasureStep.
StepFigures MeasurePredictedStep(const SampledLoopResponse& response, double amplitude, double stepTime_s);

// x with 3 significant digits, trailing zeros dropped, never in exponent
// form; "0" for 0 and for a value that is not finite.
std::string ThreeSignificantDigits(double x);

// The figures for people, one per line: times in ms with 3 significant
// digits, the overshoot in % with one decimal, the steady-state error with 3
// significant digits followed by `unit` (none when null or empty); "not
// reached" for a rise that never ends, "not settled" for a settling time
// beyond the record. Invalid figures give "No step found in the record".
std::string FormatStepFigures(const StepFigures& figures, const char* unit);

// The measured figures' lines, each followed by the model's value of the
// same line in parentheses: "Overshoot: 4.3 %" and "Overshoot: 3.9 %" give
// "Overshoot: 4.3 % (model 3.9 %)". Lines are paired in order; a model line
// without ": " adds nothing.
std::string CompareFigureLines(const std::string& measured, const std::string& model);
