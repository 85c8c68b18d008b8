#include "EditCommand.h"

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "DialogRefusals.h"
#include "DriveChoice.h"
#include "axcore/Comm.h"
#include "axcore/Diagnostics.h"
#include "axcore/JsonInput.h"
#include "axcore/MessageText.h"
#include "axcore/SetupFile.h"
#include "virtualdrive/Bench.h"
#include "virtualdrive/VirtualDrive.h"

namespace axhost {
namespace {

DesktopPlatformFactory g_desktop = nullptr;

// A display the Qt view can use: an X or Wayland session, or a Qt platform
// plugin named outright (offscreen counts).
bool HasDisplay() {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

bool ReadScript(const std::string& path, std::string& text, std::string& error) {
  if (path == "-") {
    std::ostringstream in;
    in << std::cin.rdbuf();
    text = in.str();
    if (text.size() > axcore::kMaxInputFileBytes) {
      error = "standard input: the script is larger than 64 MiB";
      return false;
    }
    return true;
  }
  if (std::string reason = axcore::ReadInputFile(path, text); !reason.empty()) {
    error = axcore::OneLine(path) + ": " + reason;
    return false;
  }
  return true;
}

}  // namespace

std::string ScriptName(const std::string& path) { return path == "-" ? "standard input" : path; }

std::optional<std::vector<axcore::ScriptLine>> LoadScript(const std::string& path, Io io) {
  std::string text, error;
  if (!ReadScript(path, text, error)) {
    PrintError(io.err, error);
    return std::nullopt;
  }
  auto lines = axcore::ParseScript(text, error);
  if (!lines) PrintError(io.err, axcore::OneLine(ScriptName(path)) + ": " + error);
  return lines;
}

std::unique_ptr<axcore::Platform> MakeDialogPlatform(const char* command, const char* headlessHint, bool headless, axcore::ScriptedUser* user,
                                                     const std::string& screenshotDir, Io io, int& status) {
  if (headless) return std::make_unique<axcore::HeadlessPlatform>(user);
  if (!HasDisplay()) {
    PrintError(io.err, std::string(command) +
                           ": no display for the dialogs: run it in a desktop session, set QT_QPA_PLATFORM=offscreen, "
                           "or " + headlessHint);
    status = kExitBadInput;
    return nullptr;
  }
  std::string error = "this axhost was built without the Qt view";
  std::unique_ptr<axcore::Platform> platform;
  if (g_desktop != nullptr) platform = g_desktop(user, screenshotDir, error);
  if (!platform) {
    PrintError(io.err, std::string(command) + ": " + error);
    status = kExitFailed;
  }
  return platform;
}

void SetDesktopPlatformFactory(DesktopPlatformFactory factory) { g_desktop = factory; }

int RunEdit(const PluginModule& module, const std::optional<std::string>& file, const EditOptions& options, Io io) {
  if (module.editSetup == nullptr) {
    PrintError(io.err, axcore::OneLine(module.GetPath()) + ": the plug-in has no EditSetup");
    return kExitFailed;
  }
  // --- arguments and inputs first: nothing opens on a bad one.
  if (options.headless && !options.script) {
    PrintError(io.err, "edit: --headless needs --script: without a screen the dialogs need a scripted user");
    return kExitBadInput;
  }
  if (options.headless && !options.screenshotDir.empty()) {
    PrintError(io.err, "edit: --screenshot needs the Qt view; it cannot be used with --headless");
    return kExitBadInput;
  }
  int chosenStatus = kExitOk;
  const auto chosen = ChooseDrive(options.driveSpec, options.link, io, chosenStatus);
  if (!chosen) return chosenStatus;
  std::optional<std::vector<axcore::ScriptLine>> lines;
  const std::string scriptName = options.script ? ScriptName(*options.script) : "";
  if (options.script && !(lines = LoadScript(*options.script, io))) return kExitBadInput;
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;
  const std::optional<std::string> target = options.output ? options.output : file;
  if (OutputRefused(options.output, "edit", io)) return kExitBadInput;

  // The transcript of a scripted run (message boxes, dumps) goes to standard
  // output, unless the setup itself goes there.
  std::ostream& transcript = target ? io.out : io.err;
  std::unique_ptr<axcore::ScriptedUser> user;
  if (lines) user = std::make_unique<axcore::ScriptedUser>(std::move(*lines), transcript);
  int status = kExitOk;
  std::unique_ptr<axcore::Platform> platform = MakeDialogPlatform("edit", "give --headless with --script", options.headless, user.get(), options.screenshotDir, io, status);
  if (!platform) return status;

  // --- the drive on the platform's clock, then the dialog.
  std::string error;
  const std::unique_ptr<OpenedDrive> drive = chosen->Open(platform.get(), error);
  if (!drive) {
    PrintError(io.err, error);
    return kExitFailed;
  }
  // The script acts on this drive when it sets the analogue input or moves the mover by hand.
  if (user) user->SetBenchHandler(drive->Bench());
  // The last message box, which may be why the script stops.
  std::optional<ShownMessage> shown;
  if (user)
    user->SetMessageObserver([&](const std::string& text, int, bool) { shown = ShownMessage{text, user->LastLine()}; });
  if (!drive->LoadSetup(*setup, error)) {
    PrintError(io.err, "loading the setup into the drive: " + error);
    return kExitFailed;
  }
  ScopedDriveLink connected(&drive->Link());
  axcore::InstallPlatform(platform.get());
  const int confirmed = module.editSetup(setup.get());
  axcore::InstallPlatform(nullptr);
  PrintMissingNames(io.err);
  if (chosen->ReportsLink()) io.err << chosen->LinkReport() << '\n';

  if (user && user->Failed()) {
    const auto cause = ExplainStop(user->Failure(), user->LastLine(), shown, *setup, true);
    PrintError(io.err, axcore::OneLine(scriptName) + ": " + cause.value_or(user->Failure()) + "; nothing was saved");
    return kExitBadInput;
  }
  if (confirmed != 1) {
    transcript << "cancelled: nothing was saved\n";
    return kExitOk;
  }
  if (!target) {
    io.out << axcore::SerializeSetup(*setup);
    return kExitOk;
  }
  if (std::string failure = axcore::SaveSetupFile(*setup, *target); !failure.empty()) {
    PrintError(io.err, failure);
    return kExitFailed;
  }
  io.out << "setup written to " << axcore::OneLine(*target) << '\n';
  return kExitOk;
}

}  // namespace axhost
