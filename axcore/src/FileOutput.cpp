#include "axcore/FileOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "axcore/JsonInput.h"
#include "axcore/MessageText.h"

namespace axcore {
namespace {

// The file a write at a path lands in, and what the new file takes over.
struct Target {
  std::string path;  // after following links, when they are followed
  mode_t mode = 0;
  std::optional<std::pair<uid_t, gid_t>> owner;
};

std::string Shown(const std::string& path) { return path.empty() ? QuoteForMessage(path) : OneLine(path); }

std::string Failure(const std::string& path, int error) {
  return Shown(path) + ": cannot write: " + std::strerror(error);
}

// Where a write at `path` lands and with which permissions; empty, or why it
// cannot.
std::string Inspect(const std::string& path, LinkAtTarget links, Target& target) {
  if (path.empty()) return QuoteForMessage(path) + ": cannot write: no file name";
  target.path = path;
  for (int hops = 0; links == LinkAtTarget::Follow; ++hops) {
    struct stat info {};
    if (::lstat(target.path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    if (hops == 40) return Failure(path, ELOOP);
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(target.path.c_str(), link.data(), link.size());
    if (n < 0) return Failure(path, errno);
    if (static_cast<std::size_t>(n) == link.size()) return Failure(path, ENAMETOOLONG);
    link.resize(static_cast<std::size_t>(n));
    target.path = link.front() == '/' ? link : target.path.substr(0, target.path.rfind('/') + 1) + link;
  }

  // The new file takes the place of the old one with its permissions and
  // owner; a new file (or one that replaces a link) gets the permissions the
  // umask allows.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  target.mode = 0666 & ~mask;
  struct stat old {};
  if (::lstat(target.path.c_str(), &old) == 0) {
    if (S_ISLNK(old.st_mode)) return {};  // a link replaced, not followed
    if (std::string kind = NotARegularFile(old.st_mode); !kind.empty()) return Shown(path) + ": cannot write: " + kind;
    // Replacing goes by the folder's permissions, not the file's: the file's
    // own are asked so that a file its owner made read-only stays as it is.
    // Root may write any file, so for root only a file nobody may write is
    // read-only.
    const bool writable = ::geteuid() == 0 ? (old.st_mode & 0222) != 0
                                          : ::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) == 0;
    if (!writable) {
      char octal[8];
      std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(old.st_mode & 07777));
      return Shown(path) + ": cannot write: the file is read-only (mode " + octal + ")";
    }
    target.mode = old.st_mode & 0777;
    target.owner.emplace(old.st_uid, old.st_gid);
  } else if (errno != ENOENT) {
    return Failure(path, errno);
  }
  return {};
}

}  // namespace

std::string CannotReplace(const std::string& path, LinkAtTarget links) {
  Target target;
  if (std::string why = Inspect(path, links, target); !why.empty()) return why;
  const std::size_t slash = target.path.rfind('/');
  const std::string name = slash == std::string::npos ? target.path : target.path.substr(slash + 1);
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.path.substr(0, slash);
  if (name.empty()) return Shown(path) + ": cannot write: it names a folder";
  // The temporary file beside it needs room for its suffix too.
  if (name.size() > NAME_MAX || target.path.size() >= PATH_MAX) return Failure(path, ENAMETOOLONG);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0)
    return Shown(path) + (errno == ENOENT ? ": cannot write: its folder does not exist"
                                          : ": cannot write: its folder: " + std::string(std::strerror(errno)));
  if (!S_ISDIR(info.st_mode)) return Shown(path) + ": cannot write: " + OneLine(folder) + " is not a folder";
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return Shown(path) + ": cannot write: its folder cannot be written to";
  return {};
}

std::string ReplaceFile(const std::string& path, const std::string& text, LinkAtTarget links) {
  Target target;
  if (std::string why = Inspect(path, links, target); !why.empty()) return why;
  auto fail = [&](int error) { return Failure(path, error); };

  // The temporary name is the target's with six random characters added,
  // shortened so that it stays a valid file name.
  const std::size_t slash = target.path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  constexpr std::size_t kSuffix = 7;  // ".XXXXXX"
  std::string temp =
      target.path.substr(0, nameStart) + target.path.substr(nameStart, NAME_MAX - kSuffix) + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return fail(errno);
  int error = 0;
  // Only root can give the file away, and a file system may refuse even
  // root (the file then stays root's, as any new file root makes).
  if (target.owner && ::geteuid() == 0) {
    [[maybe_unused]] const int given = ::fchown(fd, target.owner->first, target.owner->second);
  }
  if (::fchmod(fd, target.mode) != 0) error = errno;
  std::size_t done = 0;
  while (done < text.size() && error == 0) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno != EINTR) error = errno;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  // rename() replaces the name: a link found there (LinkAtTarget::Replace)
  // is replaced itself, never written through.
  if (error == 0 && ::rename(temp.c_str(), target.path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    return fail(error);
  }
  return {};
}

}  // namespace axcore
