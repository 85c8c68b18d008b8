// `axhost fra current|speed|position`: the frequency response of one loop
// measured on the drive, through the plug-in's Frequency Response dialog
// run as a user runs it (loop, band and amplitude typed in, Start, Close).
#pragma once

#include <optional>
#include <string>

#include "Commands.h"
#include "TestCommand.h"

namespace axhost {

struct FraOptions {
  std::string driveSpec = "virtual";  // --drive
  drivewire::LinkOptions link;        // --link-timeout, --link-tries, --verbose
  std::optional<double> from_Hz, to_Hz, amplitude;
  std::optional<std::string> plot;  // --plot FILE.svg|.png|.csv
};

int RunFra(const PluginModule& module, const std::string& loop, const std::optional<std::string>& file,
           const FraOptions& options, Io io);

}  // namespace axhost
