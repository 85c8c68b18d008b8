#include "PluginPath.h"

namespace axhost {

std::string DefaultPluginPath(const std::filesystem::path& executable) {
  const std::filesystem::path folder = executable.parent_path();
  const std::filesystem::path beside = folder / "Qtxmod_lin.so";
  const std::filesystem::path installed = folder.parent_path() / kInstalledPluginFolder / "Qtxmod_lin.so";
  std::error_code error;
  if (!std::filesystem::exists(beside, error) && std::filesystem::exists(installed, error)) return installed.string();
  return beside.string();
}

}  // namespace axhost
