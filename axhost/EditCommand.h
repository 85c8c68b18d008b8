// `axhost edit`: the plug-in's EditSetup on a setup, as the host runs it,
// on the desktop or headless with a scripted user.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "drivewire/WireLink.h"
#include "axcore/HeadlessPlatform.h"
#include "axcore/Platform.h"

namespace axhost {

struct EditOptions {
  std::optional<std::string> output;      // -o; none: back to FILE, or standard output
  std::optional<std::string> script;      // --script FILE, "-" for standard input
  bool headless = false;                  // --headless: no Qt at all
  std::string screenshotDir;              // --screenshot DIR (Qt view)
  std::string driveSpec = "virtual";      // --drive
  drivewire::LinkOptions link;            // --link-timeout, --link-tries
};

// Makes the desktop platform; null (with the reason in `error`) where the
// host was built without one. Set by the Qt view when it is linked in.
using DesktopPlatformFactory = std::unique_ptr<axcore::Platform> (*)(axcore::ScriptedUser* user,
                                                                      const std::string& screenshotDir,
                                                                      std::string& error);
void SetDesktopPlatformFactory(DesktopPlatformFactory factory);

// The platform a dialog command runs on: headless on a virtual clock, or the
// desktop's; null, with the error printed and `status` set, when there is
// none; `headlessHint` tells how to do without one.
std::unique_ptr<axcore::Platform> MakeDialogPlatform(const char* command, const char* headlessHint, bool headless, axcore::ScriptedUser* user,
                                                     const std::string& screenshotDir, Io io, int& status);
// The actions of a script file ("-": standard input); none, with the error
// printed, when it cannot be read or has a line no action can be made of.
std::optional<std::vector<axcore::ScriptLine>> LoadScript(const std::string& path, Io io);
// "standard input" for "-", else the path.
std::string ScriptName(const std::string& path);

int RunEdit(const PluginModule& module, const std::optional<std::string>& file, const EditOptions& options, Io io);

}  // namespace axhost
