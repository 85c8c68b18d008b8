// The plug-in's face to the host: functions exported by their plain names.
// Nothing else is visible from the module (see exports.map). No exception
// may cross this boundary: the host is not ours to unwind.
#include "../model/ScaleFactor.h"
#include "axcore/Setup.h"

#define QTX_EXPORT extern "C" __attribute__((visibility("default")))

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
