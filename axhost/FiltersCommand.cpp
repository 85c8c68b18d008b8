#include "Commands.h"

namespace axhost {

int RunFilters(const PluginModule&, const std::optional<std::string>&, bool, Io io) {
  io.err << "error: filters: not available yet\n";
  return kExitFailed;
}

}  // namespace axhost
