// Plant files: the true motor behind a virtual drive, as JSON with the units
// in the key names ("vdc_V", "phase_resistance_ohm", ...). Keys left out keep
// the defaults of PlantParameters; a key this reader does not know is an
// error, so that a misspelt quantity never goes unnoticed. The file is read
// as setup files are (axcore/JsonInput.h): a regular file of at most 64 MiB,
// no repeated key, no nesting deeper than 64 levels, no number beyond a
// double.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "virtualdrive/Plant.h"

namespace virtualdrive {

struct PlantLoad {
  std::optional<PlantParameters> plant;
  // One line naming the file, the key and the reason when `plant` is empty.
  std::string error;
};

// `source` names the text in error lines (a path, or "embedded example plant").
PlantLoad ParsePlant(std::string_view text, std::string_view source);
PlantLoad LoadPlantFile(const std::string& path);

// The example plant (examples/plant-linear.json) as compiled in.
std::string_view ExamplePlantText();
PlantParameters ExamplePlant();

}  // namespace virtualdrive
