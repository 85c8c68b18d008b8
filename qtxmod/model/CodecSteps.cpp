#include "CodecSteps.h"

#include <cmath>
#include <utility>
#include <vector>

#include "axcore/Names.h"
#include "axcore/Setup.h"

bool FlagEqualsOne(double value) { return std::trunc(value) == 1.0; }

bool IsUsableScale(double scale) { return std::isfinite(scale) && scale != 0.0; }

bool FindStepInputs(const CMC_Setup& setup, std::initializer_list<std::string_view> names, unsigned scales) {
  bool complete = true;
  const auto find = [&](std::string_view name) { complete = setup.FindParameter(name) != nullptr && complete; };
  for (std::string_view name : names) find(name);
  if ((scales & kCurrentScale) != 0) find("ImaxPS");
  if ((scales & kMeasuredVoltageScale) != 0) find("VdcMaxMeasurable");
  if ((scales & kSpeedLoopPeriod) != 0)
    for (std::string_view name : {"SLPER", "PWMPER", "DSP_freq"}) find(name);
  if ((scales & kLoadPositionScale) != 0)
    for (std::string_view name : {"Motor_transmission", "Load_transmission", "EncRes", "SINCOS_fract"}) find(name);
  return complete;
}

int SetParameterRange(CMC_Parameter& parameter, double minimum, double maximum) {
  if (minimum > maximum) return 0;
  // A pair of limits set one at a time may have crossed: straighten it first.
  if (parameter.GetMaxInBaseUnit() < parameter.GetMinInBaseUnit())
    parameter.SetMaxInBaseUnit(parameter.GetMinInBaseUnit());
  if (minimum > parameter.GetMaxInBaseUnit()) {
    parameter.SetMaxInBaseUnit(maximum);
    parameter.SetMinInBaseUnit(minimum);
  } else {
    parameter.SetMinInBaseUnit(minimum);
    parameter.SetMaxInBaseUnit(maximum);
  }
  return 1;
}

namespace {

using StepIndex = axcore::CaseInsensitiveMap<const CodecStep*>;

struct Registry {
  StepIndex decode;
  StepIndex encode;
};

const Registry& registry() {
  static const Registry instance = [] {
    Registry r;
    for (std::span<const CodecStep> steps : {SamplingCodecSteps(), LoopCodecSteps(), ProtectionCodecSteps(), ConfigCodecSteps()})
      for (const CodecStep& step : steps)
        (step.direction == CodecDirection::Decode ? r.decode : r.encode).emplace(std::string(step.writes), &step);
    return r;
  }();
  return instance;
}

}  // namespace

const CodecStep* FindCodecStep(CodecDirection direction, std::string_view writes) {
  const StepIndex& index = direction == CodecDirection::Decode ? registry().decode : registry().encode;
  auto it = index.find(writes);
  return it == index.end() ? nullptr : it->second;
}

int RunDecodeStep(CMC_Setup& setup, std::string_view writes) {
  const CodecStep* step = FindCodecStep(CodecDirection::Decode, writes);
  return step != nullptr ? step->run(setup) : 0;
}

int RunEncodeStep(CMC_Setup& setup, std::string_view writes) {
  const CodecStep* step = FindCodecStep(CodecDirection::Encode, writes);
  return step != nullptr ? step->run(setup) : 0;
}
