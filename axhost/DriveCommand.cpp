#include "Commands.h"

namespace axhost {

int RunDrive(const PluginModule&, const std::string&, const std::optional<std::string>&, const std::string&,
             const std::vector<std::string>&, Io io) {
  io.err << "error: drive run: not available yet\n";
  return kExitFailed;
}

}  // namespace axhost
