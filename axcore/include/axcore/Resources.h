// The user-interface resources a module brings into the host: dialog
// templates, the string table, images and the HTML manual. A module
// registers its resource folder when it is loaded and withdraws it when it
// is unloaded; the host then finds a dialog's template by its resource id,
// an image by its name and a help page by its context id, searching the
// folders registered last first.
//
// A resource folder holds:
//   dialogs/<id>.json     one template per dialog (DialogTemplate.h)
//   strings.json          { "<id>": "text", ... }
//   images/<name>.svg     pictures, by the name controls use
//   help/index.html       the manual's first page (the help file)
//   help/contexts.json    { "0x40106": "drive-setup.html", ... }
#pragma once

#include <string>
#include <string_view>

#include "axcore/DialogTemplate.h"

namespace axcore {

void RegisterResourceFolder(const std::string& folder);
void WithdrawResourceFolder(const std::string& folder);

// The template of dialog `id`, parsed once; null with the reason in `error`
// when no registered folder has it or its file is refused.
const DialogTemplate* FindDialogTemplate(int id, std::string& error);
// The path of image `name`; empty when no folder has it.
std::string FindImage(std::string_view name);
// String `id` of the string tables; empty when none has it.
std::string LoadResourceString(int id);
// The folder registered last, with a trailing '/'; empty when none.
std::string ResourceDirectory();
// The page of the manual `manual` (a help/index.html) for a context id, from
// the contexts.json beside it; empty when the manual has no such context.
std::string HelpPageFor(const std::string& manual, int contextId);

}  // namespace axcore

// The host's folder of the user interface (the registered resource folder,
// with a trailing '/') and the manual of a setup's plug-in relative to it.
std::string GetGUIDirectory();
class CMC_Setup;
std::string GetHelpFileOfGUI(const CMC_Setup* setup);
