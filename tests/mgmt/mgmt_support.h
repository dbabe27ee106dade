// Helpers of the management message tests: a wrong CheckSum, metadata staged in a scratch
// folder, the plug-in loaded with that folder and its trace file, a text rendering of reply
// trees, and sending management messages. The shared helpers (tests/support) are used here by
// their plain names.
#ifndef CORVALE_TESTS_MGMT_SUPPORT_H
#define CORVALE_TESTS_MGMT_SUPPORT_H

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "broker/broker.h"
#include "tests/support/files.h"
#include "tests/support/fix_messages.h"
#include "tests/support/plugin_builds.h"
#include "tests/support/temp_dir.h"

namespace mgmt_test {

using corvale_test::fixMessage;
using corvale_test::PluginBuild;
using corvale_test::readLines;
using corvale_test::TempDir;

// A FIX message (as fixMessage makes it) with a CheckSum that does not match its bytes.
std::string withWrongChecksum(std::string message);

// Copies the build's FIX42 metadata into dir once per name, as "<name>.mtx", so that a test
// controls which levels exist and how many distinct files there are.
void stageMetadata(const std::string& dir, const std::vector<std::string>& names);

// Sets an environment variable for the rest of the test process.
void setEnv(const char* name, const std::string& value);

// A plug-in loaded as a broker loads it, after its environment is set: the metadata directory (a
// scratch folder holding the given levels), the trace file in that folder, and any further
// variables (set after those two, so they may replace them).
class LoadedPlugin {
 public:
  LoadedPlugin(const std::string& path, const std::vector<std::string>& levels,
               const std::vector<std::pair<std::string, std::string>>& environment = {});
  const broker::Plugin& plugin() const { return *plugin_; }
  const std::string& traceFile() const { return traceFile_; }

 private:
  TempDir scratch_;
  std::string traceFile_;
  std::unique_ptr<broker::Plugin> plugin_;
};

// The children of element, one line each, indented by one blank per level: "name" for a folder,
// "name=value" for a name-value element with a character value. Any other element, and any
// element whose complete bits are not both set, is shown with a marker ("?type", "!").
// Walking drives the parse.
std::string renderChildren(const broker::Element& element, int depth = 0);

// A management message: the text's bytes in ccsid (converted from code page 437).
broker::Message sendManagement(broker::Parser& parser, std::string_view text, int ccsid = 437);

// The reply of a management message: its rendered tree, after checking that the parser's root
// ends up complete in both directions.
std::string reply(broker::Parser& parser, std::string_view text, int ccsid = 437);

}  // namespace mgmt_test

#endif  // CORVALE_TESTS_MGMT_SUPPORT_H
