// Running axhost as a user does, and the scratch folders tests write into.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testing_support {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "axtest") {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

struct HostRun {
  int status;  // exit status, -1 when the process did not exit
  std::string out;
  std::string err;
};

// Runs the built axhost with `arguments` (shell words, quote them yourself),
// capturing standard output and error through files in `scratch`.
inline HostRun RunAxhost(const std::string& arguments, const std::filesystem::path& scratch) {
  const std::filesystem::path out = scratch / "axhost.stdout", err = scratch / "axhost.stderr";
  const std::string command =
      std::string("'") + AX_HOST_PATH + "' " + arguments + " >'" + out.string() + "' 2>'" + err.string() + "'";
  const int raw = std::system(command.c_str());
  HostRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return run;
}

}  // namespace testing_support
