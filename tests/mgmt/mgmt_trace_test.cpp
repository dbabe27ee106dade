// Trace control through TRACEON and TRACEOFF management messages, checked on the lines of the
// trace file; and tracing threads while another thread switches tracing off and on.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mgmt_support.h"

namespace {

using mgmt_test::fixMessage;
using mgmt_test::readLines;
using mgmt_test::reply;

constexpr char kOff[] = "00000000TRACEOFF";
constexpr char kOn[] = "00000000TRACEON ";

// An expected line; one ending in "..." matches any line that begins with the text before it.
bool lineMatches(const std::string& expected, const std::string& actual) {
  const std::string dots = "...";
  if (expected.size() >= dots.size() &&
      expected.compare(expected.size() - dots.size(), dots.size(), dots) == 0) {
    return actual.rfind(expected.substr(0, expected.size() - dots.size()), 0) == 0;
  }
  return expected == actual;
}

// What one management message adds to the trace file.
struct Step {
  std::string text;
  // Where the expected lines start among the added ones: at the first added line, or at the
  // first added line that matches the first expected line.
  bool fromFirstLine;
  // Whether the expected lines are the last ones added.
  bool toLastLine;
  std::vector<std::string> lines;
};

struct TraceCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> environment;
  std::vector<Step> steps;
};

const std::string kStartLine = "Starting trace!!! - Corvale level 1.00 ...";

const std::vector<std::string> kOffLines = {
    "PLUGIN: -> parseMgmtMsg() length 16",
    "parsing management message type(TRACEOFF) version(0000) modification level(0000)",
    "PLUGIN: -> processTraceOffMsg()",
    "Closing trace file",
    "PLUGIN: -> processTraceMessage(): count=1, setting=0",
    "Trace off request processed!!!",
    "Tracing stopped!!!",
};
const Step kOffStep = {kOff, false, true, kOffLines};

const TraceCase kTraceCases[] = {
    {"TraceoffWithStartValues", {}, {kOffStep}},
    {"TraceonParserAfterTraceoff",
     {},
     {kOffStep,
      {std::string(kOn) + "TRPARSE ",
       true,
       true,
       {kStartLine,
        "Trace settings are debug=1, Parser=1, Writes=0, Modules=0, Mgmt=0 debugfile=...",
        "Trace on request processed!!!"}}}},
    {"TraceonIgnoresCharactersLeftOver",
     {},
     {kOffStep,
      {std::string(kOn) + "TRWRITE TRPA",
       true,
       true,
       {kStartLine,
        "Trace settings are debug=1, Parser=0, Writes=1, Modules=0, Mgmt=0 debugfile=...",
        "Trace on request processed!!!"}}}},
    {"TraceonWordTraceoffTurnsAllOn",
     {},
     {kOffStep,
      {std::string(kOn) + "TRACEOFF",
       true,
       false,
       {kStartLine,
        "Trace settings are debug=1, Parser=1, Writes=1, Modules=1, Mgmt=1 debugfile=...",
        "Trace on request processed!!!",
        "PLUGIN: <- processTraceMessage(): debug=1, traceModule=1 traceParser=1 traceWrite=1 "
        "traceMgmt=1",
        "PLUGIN: <- processTraceOnMsg()", "PLUGIN: <- parseMgmtMsg()"}}}},
    {"TraceonWithoutWordsLeavesTracingOff",
     {},
     {kOffStep, {kOn, true, true, {}}, {"00000000FLUSHALL", true, true, {}}}},
    {"TraceonWithoutWordsClosesWhenNoSwitchIsExactlyOne",
     {{"FIXTRACEALL", "2"},
      {"FIXTRACEPARSER", "2"},
      {"FIXTRACEWRITE", "2"},
      {"FIXTRACEMODULE", "2"},
      {"FIXTRACEMGMT", "2"}},
     {{kOn,
       false,
       true,
       {"PLUGIN: -> parseMgmtMsg() length 16",
        "parsing management message type(TRACEON ) version(0000) modification level(0000)",
        "PLUGIN: -> processTraceOnMsg() ver 0 mod 0",
        "PLUGIN: -> processTraceMessage(): count=0, setting=1", "Trace off request processed!!!",
        "Tracing stopped!!!"}}}},
    {"TraceallWhileOpenWritesNoStartLine",
     {},
     {{std::string(kOn) + "TRACEALL",
       false,
       false,
       {"PLUGIN: -> parseMgmtMsg() length 24",
        "parsing management message type(TRACEON ) version(0000) modification level(0000)",
        "PLUGIN: -> processTraceOnMsg() ver 0 mod 0",
        "PLUGIN: -> processTraceMessage(): count=1, setting=1",
        "PLUGIN: <- processTraceMessage(): debug=1, traceModule=1 traceParser=1 traceWrite=1 "
        "traceMgmt=1",
        "PLUGIN: <- processTraceOnMsg()", "PLUGIN: <- parseMgmtMsg()"}}}},
};

void PrintTo(const TraceCase& c, std::ostream* os) {
  *os << c.name;
}

class MgmtTraceControlTest : public ::testing::TestWithParam<TraceCase> {};

TEST_P(MgmtTraceControlTest, WritesExactlyTheseLines) {
  const TraceCase& c = GetParam();
  const mgmt_test::LoadedPlugin loaded(CORVALE_PLUGIN_DIAGNOSTIC, {}, c.environment);
  const std::string& traceFile = loaded.traceFile();
  broker::Parser parser(loaded.plugin(), "FIX");
  ASSERT_FALSE(readLines(traceFile).empty()) << "the plug-in opens its trace file when loaded";

  for (const Step& step : c.steps) {
    SCOPED_TRACE(step.text);
    const size_t before = readLines(traceFile).size();
    EXPECT_EQ(reply(parser, step.text), "");
    const std::vector<std::string> all = readLines(traceFile);
    const std::vector<std::string> added(all.begin() + static_cast<long>(before), all.end());

    size_t start = 0;
    if (!step.fromFirstLine && !step.lines.empty()) {
      while (start < added.size() && !lineMatches(step.lines[0], added[start])) ++start;
    }
    const size_t available = added.size() - std::min(start, added.size());
    if (step.toLastLine) {
      ASSERT_EQ(available, step.lines.size()) << "lines added:\n" << testing::PrintToString(added);
    } else {
      ASSERT_GE(available, step.lines.size()) << "lines added:\n" << testing::PrintToString(added);
    }
    for (size_t i = 0; i < step.lines.size(); ++i) {
      EXPECT_TRUE(lineMatches(step.lines[i], added[start + i]))
          << "line " << i << ": expected " << step.lines[i] << "\n got " << added[start + i];
    }
    for (size_t i = 0; i < step.lines.size(); ++i) {
      if (step.lines[i] == kStartLine) {
        EXPECT_TRUE(std::regex_match(
            added[start + i],
            std::regex(R"(Starting trace!!! - Corvale level 1\.00 [A-Z][a-z]{2} [ 1-3][0-9] )"
                       R"([0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9])")))
            << added[start + i];
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MgmtTraceControlTest, ::testing::ValuesIn(kTraceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MgmtTraceFileTest, TracingOffStaysSilentForFixMessages) {
  const mgmt_test::LoadedPlugin loaded(CORVALE_PLUGIN_DIAGNOSTIC, {"FIX42"});
  const std::string& traceFile = loaded.traceFile();
  const broker::Plugin& plugin = loaded.plugin();
  broker::Parser fix(plugin, "FIX");
  broker::Parser mgmt(plugin, "FIX");
  const std::string message = fixMessage("FIX.4.2", "35=0|49=A|");

  fix.parse(message).complete();
  const size_t traced = readLines(traceFile).size();
  fix.parse(message).complete();
  ASSERT_GT(readLines(traceFile).size(), traced) << "a parse is traced with the start values";

  reply(mgmt, kOff);
  const std::vector<std::string> off = readLines(traceFile);
  broker::Message parsed = fix.parse(message);
  parsed.complete();
  fix.write(parsed);
  EXPECT_EQ(readLines(traceFile), off);
}

// The production build recognises both commands and does nothing: no trace file appears.
TEST(MgmtTraceFileTest, ProductionBuildTracesNothing) {
  const mgmt_test::LoadedPlugin loaded(CORVALE_PLUGIN_PRODUCTION, {}, {{"FIXTRACEALL", "1"}});
  const std::string& traceFile = loaded.traceFile();
  broker::Parser parser(loaded.plugin(), "FIX");
  for (const std::string& text : {std::string(kOff), std::string(kOn) + "TRACEALL",
                                  std::string(kOn) + "TRACEOFF", std::string(kOn)}) {
    EXPECT_EQ(reply(parser, text), "") << text;
  }
  EXPECT_FALSE(std::filesystem::exists(traceFile));
}

// Parser threads trace while another thread turns tracing off and on: every request is carried
// out whole, no line is torn, and the parses are unaffected.
TEST(MgmtTraceFileTest, ThreadsTraceWhileTracingIsSwitchedOffAndOn) {
  const mgmt_test::LoadedPlugin loaded(CORVALE_PLUGIN_DIAGNOSTIC, {"FIX42"});
  const std::string& traceFile = loaded.traceFile();
  const broker::Plugin& plugin = loaded.plugin();
  const std::string message = fixMessage("FIX.4.2", "35=0|49=SENDER|56=TARGET|34=7|");
  std::string expected;
  {
    broker::Parser parser(plugin, "FIX");
    expected = mgmt_test::renderChildren(parser.parse(message).body());
  }
  ASSERT_NE(expected, "");

  constexpr int kWorkers = 3;
  constexpr int kParses = 40;
  constexpr int kSwitches = 15;
  std::atomic<bool> started{false};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWorkers; ++w) {
    threads.emplace_back([&] {
      broker::Parser parser(plugin, "FIX");
      while (!started.load()) std::this_thread::yield();
      for (int i = 0; i < kParses; ++i) {
        EXPECT_EQ(mgmt_test::renderChildren(parser.parse(message).body()), expected);
      }
    });
  }
  threads.emplace_back([&] {
    broker::Parser parser(plugin, "FIX");
    started.store(true);
    for (int i = 0; i < kSwitches; ++i) {
      EXPECT_EQ(reply(parser, kOff), "");
      EXPECT_EQ(reply(parser, std::string(kOn) + "TRACEALL"), "");
    }
  });
  for (std::thread& t : threads) t.join();

  const std::vector<std::string> lines = readLines(traceFile);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Tracing stopped!!!"), kSwitches);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Trace on request processed!!!"), kSwitches);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("PLUGIN:", 1), std::string::npos) << "torn line: " << line;
  }
}

}  // namespace
