// `compute` and `encode`: what the host does with a setup before it shows it
// (ComputeAllOptions through the loaded module) and what the dialogs do after
// an edit (EncodeRegisters, then DecodeRegisters).
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "CodecDrivers.h"
#include "Commands.h"
#include "TextTable.h"
#include "axcore/Diagnostics.h"
#include "axcore/Names.h"
#include "axcore/SetupFile.h"

namespace axhost {
namespace {

// The user parameters as the dialogs show them: value and range in the shown
// unit; "-" for a bound the setup does not have.
void PrintUserParameters(const CMC_Setup& setup, Io io) {
  std::vector<std::vector<std::string>> rows{{"name", "value", "unit", "minimum", "maximum"}};
  std::vector<std::string> warnings;
  for (const auto& p : setup.Parameters()) {
    if (p->GetKind() != ParameterKind::User) continue;
    auto bound = [&](bool has, double value, const char* what) {
      return has ? ShownValue(*p, value, what, warnings) : std::string("-");
    };
    rows.push_back({p->GetName(), ShownValue(*p, p->GetValueInBaseUnit(), "value", warnings),
                    p->GetShownUnit().GetName(), bound(p->HasMin(), p->GetMinInBaseUnit(), "minimum"),
                    bound(p->HasMax(), p->GetMaxInBaseUnit(), "maximum")});
  }
  PrintTable(io.out, rows, {false, true, false, true, true});
  for (const std::string& warning : warnings) PrintWarning(io.err, warning);
}

// The options whose text the computation changed or that it added, in the
// setup's order.
void PrintWrittenOptions(const std::vector<std::pair<std::string, std::string>>& before, const CMC_Setup& setup,
                         std::ostream& out) {
  std::vector<const std::pair<std::string, std::string>*> written;
  for (const auto& option : setup.Options()) {
    const auto old = std::find_if(before.begin(), before.end(), [&](const auto& b) {
      return axcore::EqualsIgnoreCase(b.first, option.first);
    });
    if (old == before.end() || old->second != option.second) written.push_back(&option);
  }
  out << '\n' << "options written:" << (written.empty() ? " none" : "") << '\n';
  for (const auto* option : written) out << option->first << " = " << option->second << '\n';
}

}  // namespace

int RunCompute(const PluginModule& module, const std::optional<std::string>& file,
               const std::optional<std::string>& output, Io io) {
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;
  if (module.computeAllOptions == nullptr) {
    PrintError(io.err, InputName(file) + ": cannot compute: the plug-in does not export ComputeAllOptions");
    return kExitFailed;
  }
  // Names reported before this run belong to someone else.
  axcore::TakeMissingNames();
  const auto optionsBefore = setup->Options();
  // The export lets no exception out; the host calls it as it is.
  module.computeAllOptions(setup.get());

  PrintUserParameters(*setup, io);
  PrintWrittenOptions(optionsBefore, *setup, io.out);
  PrintMissingNames(io.err);
  if (output) {
    if (std::string error = axcore::SaveSetupFile(*setup, *output); !error.empty()) {
      PrintError(io.err, error);
      return kExitFailed;
    }
  }
  return kExitOk;
}

int RunEncode(const PluginModule& module, const std::optional<std::string>& file, const std::string& output, Io io) {
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;
  axcore::TakeMissingNames();
  try {
    // The dialogs' normalisation: registers from the user values, then the
    // user values as the registers hold them, with their ranges refreshed.
    EncodeRegisters(*setup);
    DecodeRegisters(*setup);
  } catch (const std::exception& e) {
    PrintMissingNames(io.err);
    PrintError(io.err, InputName(file) + ": cannot encode: " + e.what());
    return kExitFailed;
  }
  PrintMissingNames(io.err);
  if (std::string error = axcore::SaveSetupFile(*setup, output); !error.empty()) {
    PrintError(io.err, error);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace axhost
