#include "Commands.h"

#include <sys/stat.h>

#include <cstdio>
#include <iomanip>

#include "EmbeddedExamples.h"
#include "TextTable.h"
#include "axcore/Diagnostics.h"
#include "axcore/SetupFile.h"

namespace axhost {
namespace {

std::string Number(double value, int digits = 10) { return FormatNumber(value, digits); }

}  // namespace

bool LooksLikeSetupFile(const std::string& argument) {
  if (argument.find('/') != std::string::npos) return true;
  if (argument.size() > 5 && argument.compare(argument.size() - 5, 5, ".json") == 0) return true;
  struct stat info {};
  return ::stat(argument.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::unique_ptr<CMC_Setup> LoadInput(const std::optional<std::string>& file, const PluginModule& module, Io io) {
  axcore::SetupLoad load =
      file ? axcore::LoadSetupFile(*file) : axcore::ParseSetup(LinearDriveExample(), "embedded linear-drive example");
  if (!load.setup) {
    io.err << "error: " << load.error << '\n';
    return nullptr;
  }
  module.Attach(*load.setup);
  return std::move(load.setup);
}

void PrintMissingNames(std::ostream& err) {
  for (const axcore::MissingName& missing : axcore::TakeMissingNames()) err << axcore::FormatMissingName(missing) << '\n';
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
  int status = kExitOk;
  if (names.empty()) {
    for (const auto& p : setup->Parameters()) chosen.push_back(p.get());
  } else {
    for (const std::string& name : names) {
      if (const CMC_Parameter* p = setup->FindParameter(name)) {
        chosen.push_back(p);
      } else {
        status = kExitFailed;
      }
    }
  }
  std::vector<std::vector<std::string>> rows{{"name", "value", "unit", "internal", "minimum", "maximum"}};
  for (const CMC_Parameter* p : chosen) {
    const double shownFactor = p->GetShownUnit().GetFactorToBase();
    auto bound = [&](bool has, double v) { return has ? Number(v / shownFactor) : std::string("-"); };
    rows.push_back({p->GetName(), Number(p->GetValueInShownUnit()), p->GetShownUnit().GetName(),
                          Number(p->GetValueInInternalUnit()), bound(p->HasMin(), p->GetMinInBaseUnit()),
                          bound(p->HasMax(), p->GetMaxInBaseUnit())});
  }
  PrintTable(io.out, rows, {false, true, false, true, true, true});
  PrintMissingNames(io.err);
  return status;
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
