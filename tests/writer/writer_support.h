// Helpers of the writer tests: loading the plug-in against a metadata folder, FIX framing of
// expected messages, corpus files, and the in-process plug-in whose write callback is watched.
#ifndef CORVALE_TESTS_WRITER_WRITER_SUPPORT_H
#define CORVALE_TESTS_WRITER_WRITER_SUPPORT_H

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "broker/broker.h"

namespace writer_test {

// The two builds of the plug-in, loaded as the broker loads them.
struct Build {
  const char* name;
  const char* path;
};
const std::vector<Build>& builds();
inline void PrintTo(const Build& build, std::ostream* out) {
  *out << build.name;
}
struct BuildName {
  std::string operator()(const testing::TestParamInfo<Build>& info) const {
    return info.param.name;
  }
};

// The shipped metadata of the build, and the small level of the hand-built trees (FIX42 there).
std::string shippedMetadata();
std::string fixtureMetadata();

// Points FIXMETADIR at metadataDir and FIXTRACEFILE at traceFile (by default a file that cannot
// be created, so that the diagnostic build writes no trace), then loads the plug-in. Each test
// runs in a process of its own, so the environment is read fresh by every load.
std::unique_ptr<broker::Plugin> loadPlugin(const std::string& path, const std::string& metadataDir,
                                           const std::string& traceFile = "");

// Switches the diagnostic build's tracing off (a TRACEOFF management message), so that a long
// run does not walk every tree for trace lines that go nowhere; nothing in the production build.
void traceOff(const broker::Plugin& plugin);

// '|' stands for SOH in the texts of the tests.
std::string soh(std::string_view text);
// "8=<beginString>|9=<length>|<body>10=<sum>|" with length and sum computed over the bytes.
std::string fixMessage(std::string_view beginString, std::string_view body);

// The messages of a corpus file: one per line.
std::vector<std::string> readMessages(const std::string& path);
// The *.fix files of a corpus folder and of its ext/ folder, sorted.
std::vector<std::string> corpusFiles(const std::string& folder);
// The corpus part kept in the project.
std::string projectCorpus();

// The BeginString value of a message ("FIX.4.2"), or "" when it does not begin with 8=.
std::string beginStringOf(std::string_view message);

// Parses every message of the files on parser and writes it back on parser and on other: each
// must come back byte for byte, except that a level without metadata (FIX.3.9) must fail with
// 0xCFFF0016. Reports the first mismatches in full and returns the number of messages checked.
int checkCorpusRoundTrip(broker::Parser& parser, broker::Parser& other,
                         const std::vector<std::string>& files);

}  // namespace writer_test

#endif  // CORVALE_TESTS_WRITER_WRITER_SUPPORT_H
