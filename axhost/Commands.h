// The commands of the host application, each a function of its inputs that
// writes its report to `out` and its errors (one line each) to `err` and
// returns the exit status: 0 done, 1 the work failed, 2 bad arguments or input.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "axcore/PluginModule.h"
#include "axcore/Setup.h"
#include "drivewire/WireLink.h"
#include "virtualdrive/Plant.h"

namespace axhost {

class ChosenDrive;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadInput = 2;

struct Io {
  std::ostream& out;
  std::ostream& err;
};

// What errors call the input: the file's path, or the embedded example.
std::string InputName(const std::optional<std::string>& file);

// The setup file, or the embedded full example when there is none, with the
// module's scale functions attached. Null (after an error line) on failure.
std::unique_ptr<CMC_Setup> LoadInput(const std::optional<std::string>& file, const PluginModule& module, Io io);

// Prints the "warning: no parameter ..." lines collected since the last call.
void PrintMissingNames(std::ostream& err);

// "error: TEXT" and "warning: TEXT" as one line each: a control character
// in TEXT is escaped, whatever message it comes from.
void PrintError(std::ostream& err, std::string_view text);
void PrintWarning(std::ostream& err, std::string_view text);

// Whether the setup can be written to `output` after a run: when it cannot
// (a folder, a special or read-only file, a folder that takes no files), an
// error "COMMAND: -o ..." is printed and true returned, so that a run that
// moves the drive is refused before it starts rather than after.
bool OutputRefused(const std::optional<std::string>& output, std::string_view command, Io io);

// A stored value of `p` (its value or a bound, named by `what`) in the shown
// unit, as the tables print it. A value the shown unit cannot hold (the
// conversion overflows a double) is printed in the base unit, with the unit
// beside it, and a warning line naming the parameter goes to `warnings`.
std::string ShownValue(const CMC_Parameter& p, double baseValue, const char* what,
                       std::vector<std::string>& warnings);

// A test program's name or a user variable's name: letters, digits and
// underscores. Any other text is refused before a file is looked at.
bool IsPlainName(std::string_view name);


int RunNew(bool basic, Io io);
int RunShow(const PluginModule& module, const std::optional<std::string>& file, const std::vector<std::string>& names,
            Io io);
int RunScale(const PluginModule& module, const std::optional<std::string>& file, const std::string& unit,
             const std::string& name, Io io);

// `design current|speed|position`: what the Tune button of that loop does
// (the design from the passband, then the encodings and decodings of the
// loop's gains); with `output` the changed setup is written there.
int RunDesign(const PluginModule& module, const std::optional<std::string>& file, const std::string& loop,
              const std::optional<std::string>& output, Io io);
// `filters`: the drive's three biquad slots as EncodeFilters fills them, with
// the response of each used slot; `csv` prints the response only, as CSV.
int RunFilters(const PluginModule& module, const std::optional<std::string>& file, bool csv, Io io);

// `compute`: runs the module's ComputeAllOptions and prints the user
// parameters (name, value in the shown unit, unit, range) and the options it
// wrote; with `output` the resulting setup is written there.
int RunCompute(const PluginModule& module, const std::optional<std::string>& file,
               const std::optional<std::string>& output, Io io);
// `encode`: EncodeRegisters then DecodeRegisters (the normalisation the
// dialogs run), written to `output`: the registers for edited user values.
int RunEncode(const PluginModule& module, const std::optional<std::string>& file, const std::string& output, Io io);

// `drive run`: loads the setup's registers into a fresh virtual drive on the
// plant `plantFile` (the example plant when empty), sets the given user
// variables of the program ("NAME=VALUE"), runs it to its end, and prints each
// user variable of the program and each drive variable it wrote as
// NAME=VALUE lines, 17 significant digits.
int RunDrive(const PluginModule& module, const std::string& driveSpec, const std::optional<std::string>& file,
             const std::string& program, const std::vector<std::string>& assignments, Io io,
             const drivewire::LinkOptions& link = {});

// The drive's measurement of its supply voltage, V: the supply voltage
// test's program ("VDC_Detection_Test", which only reads the converter and
// moves nothing) run to its end on a drive of the plant `plant` loaded with
// `setup`, its reading scaled by the setup's "VdcMaxMeasurable" / ADCMAX.
// Nothing when the program cannot be run or reads no supply. Over a wire
// the drive is the one connected, restarted for it (as the run that
// follows restarts it again).
std::optional<double> MeasureSupply(const PluginModule& module, const CMC_Setup& setup, const ChosenDrive& drive);

// `show` and `scale` take an optional FILE before their other arguments: the
// first argument is the file when it ends in ".json", contains a '/' or names
// an existing file.
bool LooksLikeSetupFile(const std::string& argument);

}  // namespace axhost
