#include "SamplingCodec.h"

#include "CodecSteps.h"
#include "axcore/Setup.h"

namespace {

// Looks every name up (so each missing one is reported), then writes
// `target` = formula(values) when all exist; 1 when it was written.
template <std::size_t N, typename Formula>
int Convert(CMC_Setup& setup, const char* target, const char* const (&inputs)[N], Formula formula) {
  CMC_Parameter* out = setup.FindParameter(target);
  const CMC_Parameter* in[N];
  bool complete = out != nullptr;
  for (std::size_t i = 0; i < N; ++i) {
    in[i] = setup.FindParameter(inputs[i]);
    complete = complete && in[i] != nullptr;
  }
  if (!complete) return 0;
  double values[N];
  for (std::size_t i = 0; i < N; ++i) values[i] = in[i]->GetValueInBaseUnit();
  // A zero divisor gives a non-finite value, which the document refuses:
  // then nothing was written and the step says so.
  return out->SetValueInBaseUnit(formula(values));
}

}  // namespace

int DecodePWM_freq(CMC_Setup& setup) {
  return Convert(setup, "PWM_freq", {"DSP_freq", "PWMPER"}, [](const double* v) { return v[0] * 0.5 / v[1]; });
}

int DecodePWMperiod(CMC_Setup& setup) {
  return Convert(setup, "PWMperiod", {"DSP_freq", "PWMPER"}, [](const double* v) { return v[1] * 2.0 / v[0]; });
}

int DecodeTs_C(CMC_Setup& setup) {
  return Convert(setup, "Ts_C", {"CLPER", "PWMPER", "DSP_freq"},
                 [](const double* v) { return v[0] * 2.0 * v[1] / v[2]; });
}

int DecodeTs_S(CMC_Setup& setup) {
  return Convert(setup, "Ts_S", {"SLPER", "PWMPER", "DSP_freq"},
                 [](const double* v) { return v[0] * 2.0 * v[1] / v[2]; });
}

int EncodePWMPER(CMC_Setup& setup) {
  return Convert(setup, "PWMPER", {"DSP_freq", "PWM_freq"}, [](const double* v) { return v[0] * 0.5 / v[1]; });
}

std::span<const CodecStep> SamplingCodecSteps() {
  static const CodecStep steps[] = {
      {CodecDirection::Decode, "PWM_freq", DecodePWM_freq},
      {CodecDirection::Decode, "PWMperiod", DecodePWMperiod},
      {CodecDirection::Decode, "Ts_C", DecodeTs_C},
      {CodecDirection::Decode, "Ts_S", DecodeTs_S},
      {CodecDirection::Encode, "PWMPER", EncodePWMPER},
  };
  return steps;
}
