// Small setups built in code for tests whose expected values are worked out
// by hand from the drive's formulas.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include <string_view>
#include <vector>

#include "EmbeddedExamples.h"
#include "axcore/Setup.h"
#include "axcore/SetupFile.h"

namespace testing_support {

struct Entry {
  const char* name;
  double value;
  const char* unit = "";
};

// A setup holding `entries` as plain user parameters (no range, not int).
inline std::unique_ptr<CMC_Setup> MakeSetup(std::initializer_list<Entry> entries) {
  auto setup = std::make_unique<CMC_Setup>();
  for (const Entry& e : entries) {
    ParameterSpec spec;
    spec.name = e.name;
    spec.unit = e.unit;
    spec.value = e.value;
    setup->AddParameter(spec);
  }
  return setup;
}

// The drive most tests start from: 40 MHz clock, 20 kHz PWM, CLPER 1,
// SLPER 10, 10-bit converter, 48 V, 10 A peak, 20 µm encoder with 8
// interpolation bits, transmission 1:1.
inline std::unique_ptr<CMC_Setup> MakeDrive() {
  return MakeSetup({{"DSP_freq", 40e6},
                    {"PWMPER", 1000},
                    {"CLPER", 1},
                    {"SLPER", 10},
                    {"ADCbits", 10},
                    {"Vdc", 48, "V"},
                    {"VdcMaxMeasurable", 102.3, "V"},
                    {"ImaxPS", 10, "A"},
                    {"EncRes", 20e-6, "m"},
                    {"SINCOS_fract", 8},
                    {"Motor_transmission", 1},
                    {"Load_transmission", 1},
                    {"AnalogueInputsRange", 20, "V"},
                    {"ADCrange", 3.3, "V"},
                    {"DriveTempSensorGain", 0.01},
                    {"DriveTempOutputAt0oC", 0.5, "V"}});
}

// An embedded example setup (the full one by default), parsed; null only if
// the example itself is broken.
inline std::unique_ptr<CMC_Setup> LoadExample(std::string_view text = LinearDriveExample()) {
  return std::move(axcore::ParseSetup(text, "example").setup);
}

// A parameter value a test case sets before it runs.
struct Change {
  const char* name;
  double value;
};

inline void Apply(CMC_Setup& setup, const std::vector<Change>& changes) {
  for (const Change& change : changes) setup.SetParameterValueInBaseUnit(change.name, change.value);
}

}  // namespace testing_support
