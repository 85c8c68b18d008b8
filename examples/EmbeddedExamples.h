// The example setups as compiled into the host: a full linear drive with
// every optional feature, and the same drive without any optional register.
#pragma once

#include <string_view>

std::string_view LinearDriveExample();       // linear-drive.json
std::string_view LinearDriveBasicExample();  // linear-drive-basic.json
