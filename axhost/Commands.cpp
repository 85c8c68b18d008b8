#include "Commands.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <iomanip>

#include "EmbeddedExamples.h"
#include "TextTable.h"
#include "axcore/Diagnostics.h"
#include "axcore/FileOutput.h"
#include "axcore/MessageText.h"
#include "axcore/SetupFile.h"

namespace axhost {
namespace {

std::string Number(double value, int digits = 10) { return FormatNumber(value, digits); }

}  // namespace

std::string InputName(const std::optional<std::string>& file) {
  return file ? *file : "embedded linear-drive example";
}

bool LooksLikeSetupFile(const std::string& argument) {
  if (argument.find('/') != std::string::npos) return true;
  if (argument.size() > 5 && argument.compare(argument.size() - 5, 5, ".json") == 0) return true;
  struct stat info {};
  return ::stat(argument.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::unique_ptr<CMC_Setup> LoadInput(const std::optional<std::string>& file, const PluginModule& module, Io io) {
  axcore::SetupLoad load =
      file ? axcore::LoadSetupFile(*file) : axcore::ParseSetup(LinearDriveExample(), InputName(file));
  if (!load.setup) {
    PrintError(io.err, load.error);
    return nullptr;
  }
  module.Attach(*load.setup);
  return std::move(load.setup);
}

void PrintMissingNames(std::ostream& err) {
  for (const axcore::MissingName& missing : axcore::TakeMissingNames()) err << axcore::FormatMissingName(missing) << '\n';
}

void PrintError(std::ostream& err, std::string_view text) { err << "error: " << axcore::JoinLines(text) << '\n'; }

bool OutputRefused(const std::optional<std::string>& output, std::string_view command, Io io) {
  if (!output) return false;
  const std::string why = axcore::CannotReplace(*output);
  if (!why.empty()) PrintError(io.err, std::string(command) + ": -o " + why);
  return !why.empty();
}

void PrintWarning(std::ostream& err, std::string_view text) { err << "warning: " << axcore::JoinLines(text) << '\n'; }

std::string ShownValue(const CMC_Parameter& p, double baseValue, const char* what,
                       std::vector<std::string>& warnings) {
  const double shown = baseValue / p.GetShownUnit().GetFactorToBase();
  if (std::isfinite(shown) || !std::isfinite(baseValue)) return Number(shown);
  const std::string inBase = Number(baseValue) + (*p.GetUnit() != '\0' ? std::string(" ") + p.GetUnit() : "");
  warnings.push_back(axcore::QuoteForMessage(p.GetName()) + ": its " + what + " cannot be shown in " +
                     axcore::QuoteForMessage(p.GetShownUnit().GetName()) +
                     " (too large for a double): shown as stored, " + inBase);
  return inBase;
}

bool IsPlainName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

int RunNew(bool basic, Io io) {
  io.out << (basic ? LinearDriveBasicExample() : LinearDriveExample());
  return kExitOk;
}

int RunShow(const PluginModule& module, const std::optional<std::string>& file, const std::vector<std::string>& names,
            Io io) {
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;
  std::vector<const CMC_Parameter*> chosen;
  std::string missing;
  std::size_t missingCount = 0;
  if (names.empty()) {
    for (const auto& p : setup->Parameters()) chosen.push_back(p.get());
  } else {
    // The user's names are looked up quietly: one error line lists those
    // the setup lacks.
    axcore::QuietLookup quiet;
    for (const std::string& name : names) {
      if (const CMC_Parameter* p = setup->FindParameter(name)) {
        chosen.push_back(p);
      } else {
        missing += (missing.empty() ? "" : ", ") + axcore::QuoteForMessage(name);
        ++missingCount;
      }
    }
  }
  std::vector<std::vector<std::string>> rows{{"name", "value", "unit", "internal", "minimum", "maximum"}};
  std::vector<std::string> warnings;
  for (const CMC_Parameter* p : chosen) {
    auto bound = [&](bool has, double v, const char* what) {
      return has ? ShownValue(*p, v, what, warnings) : std::string("-");
    };
    const double internal = p->GetValueInInternalUnit();
    if (!std::isfinite(internal))
      warnings.push_back(axcore::QuoteForMessage(p->GetName()) +
                         ": the internal value cannot be shown (the conversion to drive units overflows)");
    rows.push_back({p->GetName(), ShownValue(*p, p->GetValueInBaseUnit(), "value", warnings),
                    p->GetShownUnit().GetName(), std::isfinite(internal) ? Number(internal) : std::string("-"),
                    bound(p->HasMin(), p->GetMinInBaseUnit(), "minimum"),
                    bound(p->HasMax(), p->GetMaxInBaseUnit(), "maximum")});
  }
  PrintTable(io.out, rows, {false, true, false, true, true, true});
  PrintMissingNames(io.err);
  for (const std::string& warning : warnings) PrintWarning(io.err, warning);
  if (!missing.empty()) {
    PrintError(io.err, InputName(file) + (missingCount == 1 ? ": no parameter " : ": no parameters ") + missing +
                           " in this setup");
    return kExitFailed;
  }
  return kExitOk;
}

int RunScale(const PluginModule& module, const std::optional<std::string>& file, const std::string& unit,
             const std::string& name, Io io) {
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;
  const double factor = module.getScaleFactor(setup.get(), unit.c_str(), name.c_str());
  const double offset = module.getScaleOffset(setup.get(), unit.c_str());
  io.out << Number(factor, 17) << ' ' << Number(offset, 17) << '\n';
  PrintMissingNames(io.err);
  return kExitOk;
}

}  // namespace axhost
