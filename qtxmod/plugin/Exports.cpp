// The plug-in's face to the host: functions exported by their plain names.
// Nothing else is visible from the module (see exports.map). No exception
// may cross this boundary: the host is not ours to unwind.
#include "../model/CodecDrivers.h"
#include "../model/Limits.h"
#include "../model/ScaleFactor.h"
#include "axcore/Setup.h"

#define QTX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Runs one stage; whatever it reports or throws, the next stage still runs.
template <typename Stage>
void RunStage(Stage stage, CMC_Setup& setup) noexcept {
  try {
    stage(setup);
  } catch (...) {
    // The stage left what it had written; the host gets no word of it, as of
    // any other stage that could not finish.
  }
}

}  // namespace

// Derives the whole setup from the drive's registers: the user parameters,
// the ranges of the dependent ones, the options naming the closed loops and
// the load's units. The stages run in this order because each reads what the
// one before wrote: the limits and options read the decoded "ControlMode",
// "Limit_Speed" and the analogue reference values.
QTX_EXPORT void ComputeAllOptions(CMC_Setup* setup) {
  if (setup == nullptr) return;
  RunStage(DecodeRegisters, *setup);
  RunStage(SetParameterLimits, *setup);
  RunStage(SetControlStructureOptions, *setup);
  RunStage(SwitchUnitTypes, *setup);
}

QTX_EXPORT double GetScaleFactor(CMC_Setup* setup, const char* unit, const char* name) {
  if (setup == nullptr) return 1.0;
  try {
    return ComputeScaleFactor(*setup, unit, name);
  } catch (...) {
    return 1.0;
  }
}

QTX_EXPORT double GetScaleOffset(CMC_Setup* setup, const char* unit) {
  if (setup == nullptr) return 0.0;
  try {
    return ComputeScaleOffset(*setup, unit);
  } catch (...) {
    return 0.0;
  }
}
