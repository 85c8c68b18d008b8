// `axhost edit`: the plug-in's EditSetup on a setup, as the host runs it,
// on the desktop or headless with a scripted user.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Commands.h"
#include "axcore/HeadlessPlatform.h"
#include "axcore/Platform.h"

namespace axhost {

struct EditOptions {
  std::optional<std::string> output;      // -o; none: back to FILE, or standard output
  std::optional<std::string> script;      // --script FILE, "-" for standard input
  bool headless = false;                  // --headless: no Qt at all
  std::string screenshotDir;              // --screenshot DIR (Qt view)
  std::string driveSpec = "virtual";      // --drive
};

// Makes the desktop platform; null (with the reason in `error`) where the
// host was built without one. Set by the Qt view when it is linked in.
using DesktopPlatformFactory = std::unique_ptr<axcore::Platform> (*)(axcore::ScriptedUser* user,
                                                                      const std::string& screenshotDir,
                                                                      std::string& error);
void SetDesktopPlatformFactory(DesktopPlatformFactory factory);

int RunEdit(const PluginModule& module, const std::optional<std::string>& file, const EditOptions& options, Io io);

}  // namespace axhost
