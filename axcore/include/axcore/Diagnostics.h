// How the host tells the user about names a setup lacks.
//
// An ordinary lookup of a missing parameter or variable is reported while
// g_bShowErrors is non-zero; a quiet lookup sets it to zero for the lookup and
// restores it. Reports are collected, each name once, until the host takes
// them after a call of an export or a dialog and shows them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Non-zero: missing names are reported. The plug-in holds it at zero around
// lookups of optional names.
extern int g_bShowErrors;

namespace axcore {

struct MissingName {
  enum class Kind { Parameter, Variable };
  Kind kind;
  std::string name;
};

// Records a missing name unless g_bShowErrors is zero or the name (ASCII case
// ignored) was already recorded since the last TakeMissingNames.
void ReportMissingName(MissingName::Kind kind, std::string_view name);

// Returns the recorded names in the order they were met and starts afresh.
std::vector<MissingName> TakeMissingNames();

// The line the command line prints for a missing name, without a newline:
// warning: no parameter "X" in this setup
std::string FormatMissingName(const MissingName& missing);

// Holds g_bShowErrors at zero for its lifetime and restores the previous value.
class QuietLookup {
 public:
  QuietLookup() : m_saved(g_bShowErrors) { g_bShowErrors = 0; }
  ~QuietLookup() { g_bShowErrors = m_saved; }
  QuietLookup(const QuietLookup&) = delete;
  QuietLookup& operator=(const QuietLookup&) = delete;

 private:
  int m_saved;
};

}  // namespace axcore
