// `axhost commission`: every identification and tuning test of a new axis,
// in the order the Drive Setup and Motor Setup guideline steps teach, run
// through the plug-in's own dialogs by a user that decides as it goes: it
// answers Yes to every identification, chooses each loop's passband from the
// values identified before it, and stops at the first test that fails.
#pragma once

#include <optional>
#include <string>

#include "Commands.h"

namespace axhost {

struct CommissionOptions {
  std::string output;                 // -o: the commissioned setup
  std::optional<std::string> report;  // --report DIR
  std::string driveSpec = "virtual";  // --drive
  drivewire::LinkOptions link;       // --link-timeout, --link-tries
  bool gui = false;                   // --gui: the dialogs live in the Qt view (in real time)
  std::string screenshotDir;          // --screenshot DIR (Qt view)
  bool progress = false;              // standard output is a terminal: "[k/n]" before each step's line
  std::string margins = "standard";   // --margins: gentle, standard or firm (MarginBoundsNamed)
};

// The steps the command runs, with what each finds, for --help.
std::string CommissionStepsHelp();

int RunCommission(const PluginModule& module, const std::optional<std::string>& file, const CommissionOptions& options,
                  Io io);

}  // namespace axhost
