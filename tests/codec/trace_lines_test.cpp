// The diagnostic build writes the codec's and the cache's lines to its trace file.
#include <gtest/gtest.h>

#include "codec_support.h"
#include "tests/support/files.h"

namespace codec_test {
namespace {

TEST(TraceLinesTest, DiagnosticBuildTracesLookupsAndItems) {
  TempDir dir;
  compileFixture("worked", dir.path(), "FIX42");
  const std::string traceFile = dir.path() + "/Parser.trc";
  std::unique_ptr<broker::Plugin> plugin =
      loadPlugin(PluginKind::Diagnostic, dir.path(), traceFile);
  broker::Parser parser(*plugin, "FIX");
  dumpTree(parser.parse(withCheckSum(soh("8=FIX.4.2|35=D|78=2|79=X1|80=10|79=X2|58=hi|"))).body());

  const std::string trace = corvale_test::readFile(traceFile);
  for (const std::string& line : std::vector<std::string>{
           "Getting meta data for message type FIX42\n",
           "PLUGIN: -> findEntry() msgType=FIX42\n",
           "Opening meta data file - " + dir.path() + "/FIX42.mtx\n",
           "Returning data index entry 1\n",
           "PLUGIN: -> decrementUseCount() fileIdx(1)\n",
           "PLUGIN: <- checkMessageFormat() iFixLevel=FIX42\n",
           "Tag 79 starts another instance of group Allocs\n",
           "Tag 58 closes group Allocs\n",
       }) {
    EXPECT_NE(trace.find(line), std::string::npos) << "missing: " << line;
  }
}

}  // namespace
}  // namespace codec_test
