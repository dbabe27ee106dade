// The whole FIX corpus (top level and ext/ of the folder named by CORVALE_CORPUS_DIR), checked as
// the project's own copy is.
#include <gtest/gtest.h>

#include "codec_support.h"

namespace codec_test {
namespace {

class FullCorpusTest : public testing::TestWithParam<PluginKind> {};

TEST_P(FullCorpusTest, EveryMessageParsesToItsItems) {
  const std::string folder = corvale_test::fullCorpusDir();
  if (folder.empty()) {
    GTEST_SKIP() << "CORVALE_CORPUS_DIR is empty: configure with -DCORVALE_CORPUS_DIR=<folder of "
                    "the FIX corpus> to run this test";
  }
  const std::vector<std::string> files = corpusFiles(folder);
  ASSERT_FALSE(files.empty()) << "no .fix files in " << folder << " or its ext/ folder";
  std::unique_ptr<broker::Plugin> plugin = loadPlugin(GetParam(), CORVALE_BUILD_MTX_DIR);
  broker::Parser parser(*plugin, "FIX");
  int expected = 0;
  for (const std::string& file : files) expected += static_cast<int>(readMessages(file).size());
  EXPECT_EQ(checkCorpus(parser, files, CORVALE_BUILD_MTX_DIR).messages, expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FullCorpusTest, testing::ValuesIn(kLoadedKinds), KindName());

}  // namespace
}  // namespace codec_test
