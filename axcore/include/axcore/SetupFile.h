// Setup files: JSON, UTF-8, values in base units (format "axsetup-1").
//
// Reading refuses, with one line naming the file, the entry and the reason,
// a text that is not JSON, duplicate names (ASCII case ignored), an unknown
// unit or kind, and a non-number where a number belongs, besides what every
// input file is refused for (axcore/JsonInput.h: not a regular file, larger
// than 64 MiB, nested deeper than 64 levels, a repeated key, a number beyond
// a double). Keys this host does not know are kept and written back.
//
// Writing goes to a temporary file in the same folder that is then renamed
// over the target, so a failed write never leaves a half file behind. The
// new file keeps the old one's permissions (and, written by root, its
// owner); a symbolic link is followed and the file it names replaced. A
// target the user may not write (for root: one without any write
// permission), a folder or a special file is refused.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "axcore/FileOutput.h"
#include "axcore/Setup.h"

namespace axcore {

struct SetupLoad {
  std::unique_ptr<CMC_Setup> setup;  // null on failure
  std::string error;                 // one line, no newline, on failure
};

// `source` names the text in error messages (the file name).
SetupLoad ParseSetup(std::string_view text, std::string_view source);
SetupLoad LoadSetupFile(const std::string& path);

std::string SerializeSetup(const CMC_Setup& setup);
// Empty on success, else one line naming the file and the reason.
std::string SaveSetupFile(const CMC_Setup& setup, const std::string& path);

}  // namespace axcore
