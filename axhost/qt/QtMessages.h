// Qt's own diagnostics and the command's output.
#pragma once

namespace axhost {

// Keeps Qt's own diagnostics (a platform plug-in that "does not support
// propagateSizeHints()", a missing XDG_RUNTIME_DIR) out of the command's
// output, where they would read like the command's own errors. With
// `verbose` they go to standard error as "qt: TEXT" lines; a critical or
// fatal message always does.
void InstallQtMessageFilter(bool verbose);

}  // namespace axhost
