// The plug-in axhost loads without --plugin: the build tree's, beside the
// executable, before an installed tree's, in PREFIX/lib/axsetup.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "PluginPath.h"
#include "support/HostRunner.h"

namespace {

namespace fs = std::filesystem;

TEST(PluginPath, BesideTheExecutableFirstThenTheInstalledFolder) {
  const fs::path beside = fs::path("bin") / "Qtxmod_lin.so";
  const fs::path installed = fs::path(axhost::kInstalledPluginFolder) / "Qtxmod_lin.so";
  struct Case {
    const char* what;
    std::vector<fs::path> present;
    fs::path expected;
  };
  const Case cases[] = {
      {"build tree", {beside}, beside},
      {"installed tree", {installed}, installed},
      {"both: the one beside wins", {beside, installed}, beside},
      {"neither: the error names the one beside", {}, beside},
  };
  for (const Case& c : cases) {
    testing_support::TempDir root{"axhost-prefix"};
    fs::create_directories(root.path() / "bin");
    for (const fs::path& file : c.present) {
      fs::create_directories((root.path() / file).parent_path());
      std::ofstream(root.path() / file) << "";
    }
    EXPECT_EQ(axhost::DefaultPluginPath(root.path() / "bin" / "axhost"), (root.path() / c.expected).string()) << c.what;
  }
}

}  // namespace
