// Conversion steps between drive registers and user parameters.
//
// A step takes the setup and returns 1 when it wrote, 0 when it did not: it
// looks up every name it needs first (ordinary lookups, so the host reports
// a missing name) and writes nothing when one is missing. A decoding step
// sets the range of the user parameter it writes before computing, and writes
// nothing when that range would be empty. Steps are named by the parameter
// they write ("decode Kp_C_scl", "encode KPI"); callers that run single steps
// (the dialogs, the tests) find them by that name.
#pragma once

#include <span>
#include <string_view>

class CMC_Parameter;
class CMC_Setup;

enum class CodecDirection { Decode, Encode };

using CodecStepFn = int (*)(CMC_Setup& setup);

struct CodecStep {
  CodecDirection direction;
  std::string_view writes;  // the parameter the step writes
  CodecStepFn run;
};

// Sets a parameter's minimum and maximum (base units) without ever leaving
// the minimum above the maximum on the way. 0, changing nothing, when
// minimum > maximum or a bound is not finite; else 1.
int SetParameterRange(CMC_Parameter& parameter, double minimum, double maximum);

// The step that writes `writes` in that direction (ASCII case ignored), or null.
const CodecStep* FindCodecStep(CodecDirection direction, std::string_view writes);
// Runs it; 0 when there is no such step.
int RunDecodeStep(CMC_Setup& setup, std::string_view writes);
int RunEncodeStep(CMC_Setup& setup, std::string_view writes);

// The steps of each codec, for the registry and for tests.
std::span<const CodecStep> SamplingCodecSteps();    // SamplingCodec.cpp
std::span<const CodecStep> LoopCodecSteps();        // LoopCodec.cpp
std::span<const CodecStep> ProtectionCodecSteps();  // ProtectionCodec.cpp
std::span<const CodecStep> ConfigCodecSteps();      // ConfigCodec.cpp
