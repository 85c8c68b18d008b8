// `axhost tune current|angle`: a controller tuning test on a setup, with
// the drive connected, as a user runs it: the "Test" page, the passband and
// "Tune" (current), one Start, the result, OK or Cancel.
#pragma once

#include <optional>
#include <string>

#include "Commands.h"
#include "TestCommand.h"

namespace axhost {

struct TuneOptions {
  TestOptions test;                   // -o, --script, --gui, --screenshot, --drive
  std::optional<std::string> passband;  // --passband W[UNIT]
  bool tune = true;                   // false: --no-tune, the gains as the setup holds them
  std::optional<std::string> plot;    // --plot FILE.svg|.png|.csv
};

// The loops the command tunes, for --help.
std::string TuneNamesHelp();

// A passband as given to --passband: a number in rad/s, or a number with
// one of the units rad/s, Hz, kHz or rpm ("250Hz", "250 Hz"); the value in
// rad/s, or none with the reason.
std::optional<double> ParsePassband(const std::string& text, std::string& error);

int RunTune(const PluginModule& module, const std::string& loop, const std::optional<std::string>& file,
            const TuneOptions& options, Io io);

}  // namespace axhost
