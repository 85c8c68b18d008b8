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

#include <initializer_list>
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
// minimum > maximum; else 1. A bound that is not finite is refused by the
// document itself, so that limit stays as it was.
int SetParameterRange(CMC_Parameter& parameter, double minimum, double maximum);

// A flag "equals 1" when its value truncated to an integer is 1: 1.7 is on,
// 2 is not.
bool FlagEqualsOne(double value);

// A drive scale or period a step can convert through. Zero or infinite comes
// from a zero rating, period, transmission or resolution; converting through
// it would store 0 or nothing as if it were a value, so the step stops and
// says it wrote nothing.
bool IsUsableScale(double scale);

// The inputs of the drive scales a step converts with. The scales read them
// without checking, so a step looks them up with its own names: a missing one
// is reported and stops the step instead of reading as 0.
enum ScaleInputs : unsigned {
  kNoScale = 0,
  kCurrentScale = 1u << 0,          // kI: "ImaxPS" (and the optional "ADCbits")
  kMeasuredVoltageScale = 1u << 1,  // "VdcMaxMeasurable"
  kSpeedLoopPeriod = 1u << 2,       // Ts_S(c): "SLPER", "PWMPER", "DSP_freq"
  kLoadPositionScale = 1u << 3,     // sP: transmission, encoder period, interpolation bits
  kLoadSpeedScale = kLoadPositionScale | kSpeedLoopPeriod,  // vS, and aL as well
};

// Ordinary lookups of every name and of the inputs of `scales`, none skipped
// after a first miss, so the host reports each name the setup lacks; true
// when all exist.
bool FindStepInputs(const CMC_Setup& setup, std::initializer_list<std::string_view> names,
                    unsigned scales = kNoScale);

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
