#include "Commands.h"

namespace axhost {

int RunCompute(const PluginModule&, const std::optional<std::string>&, const std::optional<std::string>&, Io io) {
  io.err << "error: compute: not available yet\n";
  return kExitFailed;
}

int RunEncode(const PluginModule&, const std::optional<std::string>&, const std::string&, Io io) {
  io.err << "error: encode: not available yet\n";
  return kExitFailed;
}

}  // namespace axhost
