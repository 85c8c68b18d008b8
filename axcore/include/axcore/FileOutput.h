// Writing the files the host produces (setups, motor files, scope settings,
// plots, pictures, reports): one writer, so that every kind of output is
// replaced whole or not at all and refuses the same targets with the same
// one-line messages. Its counterpart for input is JsonInput.h.
#pragma once

#include <string>

namespace axcore {

// What a symbolic link found at the target's name means.
enum class LinkAtTarget {
  // The file the link names is the one replaced (a user's own link to a
  // setup kept elsewhere).
  Follow,
  // The link itself is replaced by the new file and what it pointed to is
  // left alone: for names inside a folder the host fills (a report), where a
  // link planted by someone else must not send a write outside it.
  Replace,
};

// Replaces the file at `path` with `text` whole or not at all: written to a
// temporary file beside it, flushed to disk, then renamed over it. The file
// keeps its permissions and owner (a new one gets the umask's); a read-only
// file, a folder or a special file is refused. Empty on success, else one
// line naming the file and the reason.
std::string ReplaceFile(const std::string& path, const std::string& text, LinkAtTarget links = LinkAtTarget::Follow);

// Why ReplaceFile would refuse `path` now, found without writing anything:
// a target that is a folder, a special file or read-only, a folder that does
// not exist or does not take files, a name too long for the file system.
// Empty when it would go ahead (a full disk is found only by writing). A
// command that works for minutes before it writes asks this first.
std::string CannotReplace(const std::string& path, LinkAtTarget links = LinkAtTarget::Follow);

}  // namespace axcore
