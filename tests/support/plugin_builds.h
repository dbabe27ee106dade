// The two builds of Corvale.lil in the build tree, as a table for parameterised tests, and their
// loading as a broker loads them. A loaded library reads its environment (FIXMETADIR,
// FIXTRACEFILE, FIXTRACE*) once, when it is loaded; each test case runs in a process of its own
// (ctest runs them so), so every load sees the environment its test set.
#ifndef CORVALE_TESTS_SUPPORT_PLUGIN_BUILDS_H
#define CORVALE_TESTS_SUPPORT_PLUGIN_BUILDS_H

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "broker/broker.h"

namespace corvale_test {

struct PluginBuild {
  const char* name;  // "diagnostic" or "production": the test-name suffix of its cases
  const char* path;  // its Corvale.lil
  bool diagnostic;   // whether it has the trace facility
};

// Diagnostic first, then production.
const std::vector<PluginBuild>& pluginBuilds();
inline void PrintTo(const PluginBuild& build, std::ostream* out) {
  *out << build.name;
}
// For INSTANTIATE_TEST_SUITE_P: names the cases after the build.
struct PluginBuildName {
  std::string operator()(const testing::TestParamInfo<PluginBuild>& info) const {
    return info.param.name;
  }
};

// The metadata compiled from defs/ during the build (one <level>.mtx per FIX level).
std::string shippedMetadataDir();

// Points FIXMETADIR at metadataDir and FIXTRACEFILE at traceFile, and keeps the broker's log off
// standard error. An empty traceFile names a file in a folder that does not exist, so that a
// diagnostic build keeps its trace closed.
void setPluginEnvironment(const std::string& metadataDir, const std::string& traceFile = "");

// setPluginEnvironment, then the library at path loaded as the broker loads it.
std::unique_ptr<broker::Plugin> loadPlugin(const std::string& path, const std::string& metadataDir,
                                           const std::string& traceFile = "");

}  // namespace corvale_test

#endif  // CORVALE_TESTS_SUPPORT_PLUGIN_BUILDS_H
