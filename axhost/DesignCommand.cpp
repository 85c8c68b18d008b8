#include "Commands.h"

namespace axhost {

int RunDesign(const PluginModule&, const std::optional<std::string>&, const std::string&,
              const std::optional<std::string>&, Io io) {
  io.err << "error: design: not available yet\n";
  return kExitFailed;
}

}  // namespace axhost
