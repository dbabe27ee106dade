// Helpers of the codec tests: the three ways of reaching the plug-in, fixture metadata compiled
// from the definitions in data/, tree dumps, and the reference reading of corpus messages. The
// shared helpers (tests/support) are used here by their plain names.
#ifndef CORVALE_TESTS_CODEC_CODEC_SUPPORT_H
#define CORVALE_TESTS_CODEC_CODEC_SUPPORT_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "broker/broker.h"
#include "mtx/mtx.h"
#include "tests/support/corpus.h"
#include "tests/support/fix_messages.h"
#include "tests/support/temp_dir.h"

namespace codec_test {

using corvale_test::corpusFiles;
using corvale_test::projectCorpusDir;
using corvale_test::readMessages;
using corvale_test::soh;
using corvale_test::TempDir;
using corvale_test::withCheckSum;
using corvale_test::withCheckSumIn;

// Which plug-in a test drives: one of the two loaded libraries, or the production modules linked
// into the test program (whose counters and cache the test can read).
enum class PluginKind { Diagnostic, Production, InProcess };
std::string kindName(PluginKind kind);
inline void PrintTo(PluginKind kind, std::ostream* os) {
  *os << kindName(kind);
}
// For INSTANTIATE_TEST_SUITE_P (testing::ValuesIn): every kind, and the two loaded libraries.
inline constexpr PluginKind kEveryKind[] = {PluginKind::Diagnostic, PluginKind::Production,
                                            PluginKind::InProcess};
inline constexpr PluginKind kLoadedKinds[] = {PluginKind::Diagnostic, PluginKind::Production};
// For INSTANTIATE_TEST_SUITE_P: names the cases after the kind.
struct KindName {
  std::string operator()(const testing::TestParamInfo<PluginKind>& info) const {
    return kindName(info.param);
  }
};

// The folder of the codec test data (definitions fixtures, malformed messages; the corpus copy
// is projectCorpusDir()).
std::string dataDir();
// Compiles data/<stem>.def and data/<stem>.rep into <folder>/<level>.mtx.
void compileFixture(const std::string& stem, const std::string& folder, const std::string& level);

// Points the cache at metadataDir, keeps the diagnostic trace closed (unless traceFile is given)
// and loads the plug-in. A loaded library reads its environment once per process, so each test
// runs in a process of its own (as ctest runs them).
std::unique_ptr<broker::Plugin> loadPlugin(PluginKind kind, const std::string& metadataDir,
                                           const std::string& traceFile = "");

// One line per element, two blanks of indentation per level: "Name=value" for a value (a byte
// array as "Name=bytes:" and its bytes, SOH shown as ^A), "Name/" for a folder. Walks with cni*
// navigation, so it completes what it walks.
std::string dumpTree(const broker::Element& parent);
// The same text, walked from the last child backwards (cniLastChild, cniPreviousSibling).
std::string dumpTreeBackward(const broker::Element& parent);
// The tree as it stands, with raw navigation (never parses).
std::string dumpRaw(const broker::Element& parent);
// Number of elements below parent as the tree stands (raw navigation).
int rawCount(const broker::Element& parent);

// Checks that every element below parent has both completion bits set.
void expectComplete(const broker::Element& parent);

// A test run once per kind of plug-in, with the two fixture levels in a folder of its own:
// FIX42 (the worked example's fields) and FIXTEST (one field of every kind the codec treats
// apart).
class FixtureTest : public testing::TestWithParam<PluginKind> {
 protected:
  void SetUp() override;
  // The counters and the cache of the plug-in linked into the test can be read; the loaded ones
  // keep theirs hidden.
  bool countersVisible() const { return GetParam() == PluginKind::InProcess; }

  TempDir dir_;
  std::unique_ptr<broker::Plugin> plugin_;
};

// What a walk of a parsed message must give back: the message's own items, found without the
// codec from the bytes and the level's metadata (names, DATA lengths, multiple-value and
// no-element fields). Returns one text per item in the form of flattenTree.
std::vector<std::string> referenceItems(std::string_view message, const mtx::MetadataImage& image,
                                        int ccsid = 437);
// The items of a parsed tree in order: group folders are looked into, a multiple-value folder is
// one item of its words; values are compared as bytes in the message's code page.
std::vector<std::string> flattenTree(const broker::Element& body, const mtx::MetadataImage& image,
                                     int ccsid = 437);

// The level a message names: its BeginString without dots.
std::string levelOf(std::string_view message);

// What a corpus run met, so that a test can tell that its messages hold the shapes it is about.
struct CorpusSummary {
  int messages = 0;        // parsed and checked
  int deepestGroup = 0;    // most group folders nested in one another
  int rawDataWithSoh = 0;  // byte-array items whose bytes hold an SOH
};

// Parses and walks every message of every file, checking each against referenceItems with the
// metadata of metadataDir. Levels without a file there must give FX names.
CorpusSummary checkCorpus(broker::Parser& parser, const std::vector<std::string>& files,
                          const std::string& metadataDir);

}  // namespace codec_test

#endif  // CORVALE_TESTS_CODEC_CODEC_SUPPORT_H
