// The whole external corpus, parsed and written back; runs when CORVALE_CORPUS_DIR names it.
#include <gtest/gtest.h>

#include "broker/broker.h"
#include "writer_support.h"

namespace writer_test {
namespace {

class FullCorpusTest : public testing::TestWithParam<PluginBuild> {};

TEST_P(FullCorpusTest, EveryMessageComesBackByteForByte) {
  const std::string folder = corvale_test::fullCorpusDir();
  if (folder.empty()) GTEST_SKIP() << "CORVALE_CORPUS_DIR is not set";
  const std::vector<std::string> files = corpusFiles(folder);
  ASSERT_FALSE(files.empty()) << "no *.fix files in " << folder;
  auto plugin = loadPlugin(GetParam().path, shippedMetadataDir());
  traceOff(*plugin);
  broker::Parser parser(*plugin, "FIX");
  broker::Parser other(*plugin, "FIX");
  EXPECT_GT(checkCorpusRoundTrip(parser, other, files), 0);
}

INSTANTIATE_TEST_SUITE_P(Builds, FullCorpusTest, testing::ValuesIn(pluginBuilds()),
                         PluginBuildName());

}  // namespace
}  // namespace writer_test
