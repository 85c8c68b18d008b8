#include "axcore/Diagnostics.h"


#include "axcore/MessageText.h"
#include "axcore/Names.h"

int g_bShowErrors = 1;

namespace axcore {
namespace {

struct Collected {
  std::vector<MissingName> names;
  CaseInsensitiveMap<int> seenParameters;
  CaseInsensitiveMap<int> seenVariables;
};

Collected& collected() {
  static Collected instance;
  return instance;
}

}  // namespace

void ReportMissingName(MissingName::Kind kind, std::string_view name) {
  if (g_bShowErrors == 0) return;
  Collected& c = collected();
  auto& seen = kind == MissingName::Kind::Parameter ? c.seenParameters : c.seenVariables;
  if (!seen.emplace(std::string(name), 0).second) return;
  c.names.push_back({kind, std::string(name)});
}

std::vector<MissingName> TakeMissingNames() {
  Collected& c = collected();
  std::vector<MissingName> out = std::move(c.names);
  c = Collected{};
  return out;
}

std::string FormatMissingName(const MissingName& missing) {
  const char* what = missing.kind == MissingName::Kind::Parameter ? "parameter" : "variable";
  return std::string("warning: no ") + what + " " + QuoteForMessage(missing.name) + " in this setup";
}

}  // namespace axcore
