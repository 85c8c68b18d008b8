// Where axhost finds the plug-in when --plugin is not given.
#pragma once

#include <filesystem>
#include <string>

namespace axhost {

// The plug-in's folder relative to the installation prefix, where an
// installed axhost (PREFIX/bin/axhost) finds it.
inline constexpr const char* kInstalledPluginFolder = AX_INSTALLED_PLUGIN_FOLDER;

// Qtxmod_lin.so beside the executable (a build tree), else in
// ../<kInstalledPluginFolder>/ from the executable's folder (an installed
// tree); with neither present, the path beside the executable, so that the
// load error names where the plug-in was looked for first. The plug-in finds
// its resources beside itself in either tree.
std::string DefaultPluginPath(const std::filesystem::path& executable);

}  // namespace axhost
