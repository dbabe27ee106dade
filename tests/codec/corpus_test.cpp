// Real FIX messages of several levels, walked completely: no error, and the elements read back
// in order are the message's own items (names from the shipped metadata).
#include <gtest/gtest.h>

#include "codec_support.h"

namespace codec_test {
namespace {

class CorpusTest : public testing::TestWithParam<PluginKind> {
 protected:
  void SetUp() override { plugin_ = loadPlugin(GetParam(), CORVALE_BUILD_MTX_DIR); }

  std::unique_ptr<broker::Plugin> plugin_;
};

TEST_P(CorpusTest, ProjectCorpusParsesToItsItems) {
  broker::Parser parser(*plugin_, "FIX");
  const std::vector<std::string> files = corpusFiles(projectCorpusDir());
  ASSERT_FALSE(files.empty());
  int expected = 0;
  for (const std::string& file : files) expected += static_cast<int>(readMessages(file).size());
  const CorpusSummary summary = checkCorpus(parser, files, CORVALE_BUILD_MTX_DIR);
  EXPECT_EQ(summary.messages, expected);
  // The copy holds raw data with SOH inside, which only a DATA field with its length survives.
  EXPECT_GE(summary.rawDataWithSoh, 1);
}

// The allocation report of log4fix-FIX44 holds Sides (552) > PartyIDs (453) > PartySubIDs (802).
// A nested group opens inside its enclosing one only when the enclosing group's allowed items
// name the nested group's first field; otherwise the enclosing group closes first.
TEST_P(CorpusTest, NestedGroupsOfTheShippedMetadataNest) {
  broker::Parser parser(*plugin_, "FIX");
  const CorpusSummary summary =
      checkCorpus(parser, {dataDir() + "/corpus/ext/log4fix-FIX44.fix"}, CORVALE_BUILD_MTX_DIR);
  EXPECT_EQ(summary.messages, 1);
  EXPECT_EQ(summary.deepestGroup, 3);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CorpusTest, testing::ValuesIn(kLoadedKinds), KindName());

}  // namespace
}  // namespace codec_test
