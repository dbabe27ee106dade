#include "tests/support/plugin_builds.h"

#include <stdlib.h>

#include <filesystem>

namespace corvale_test {

const std::vector<PluginBuild>& pluginBuilds() {
  static const std::vector<PluginBuild> all = {
      {"diagnostic", CORVALE_PLUGIN_DIAGNOSTIC, true},
      {"production", CORVALE_PLUGIN_PRODUCTION, false},
  };
  return all;
}

std::string shippedMetadataDir() {
  return CORVALE_BUILD_MTX_DIR;
}

void setPluginEnvironment(const std::string& metadataDir, const std::string& traceFile) {
  setenv("FIXMETADIR", metadataDir.c_str(), 1);
  const std::string trace =
      traceFile.empty()
          ? (std::filesystem::path(testing::TempDir()) / "corvale-no-such-folder" / "Parser.trc")
                .string()
          : traceFile;
  setenv("FIXTRACEFILE", trace.c_str(), 1);
  broker::setLogToStderr(false);
}

std::unique_ptr<broker::Plugin> loadPlugin(const std::string& path, const std::string& metadataDir,
                                           const std::string& traceFile) {
  setPluginEnvironment(metadataDir, traceFile);
  return std::make_unique<broker::Plugin>(path);
}

}  // namespace corvale_test
