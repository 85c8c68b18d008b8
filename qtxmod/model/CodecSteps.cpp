#include "CodecSteps.h"

#include <cmath>
#include <utility>
#include <vector>

#include "axcore/Names.h"
#include "axcore/Setup.h"

int SetParameterRange(CMC_Parameter& parameter, double minimum, double maximum) {
  if (!(minimum <= maximum) || !std::isfinite(minimum) || !std::isfinite(maximum)) return 0;
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
