// Trace control by TRACEON and TRACEOFF requests: the switches they set, and the trace file's
// exact lines as it is closed and opened again.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/trace.h"
#include "tests/support/trace_file.h"

namespace {

using corvale_test::TraceFile;

struct Switches {
  int32_t debugValue, parser, write, module, mgmt;
  bool operator==(const Switches&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Switches& s) {
  return out << "debug=" << s.debugValue << " parser=" << s.parser << " write=" << s.write
             << " module=" << s.module << " mgmt=" << s.mgmt;
}

Switches current() {
  return {debug.load(), traceParser.load(), traceWrite.load(), traceModule.load(),
          traceMgmt.load()};
}

void traceOn(const std::string& words) {
  processTraceOnMsg(0, 0, static_cast<int>(words.size()), words.data());
}

class TraceRequestTest : public ::testing::Test {
 protected:
  void SetUp() override { corvale_test::clearTraceSwitchVariables(); }
  // Starts tracing as the plug-in does at load.
  void start() {
    initializeTrace();
    ASSERT_TRUE(traceFileOpen());
    mark();
  }
  void mark() { mark_ = file_.lines().size(); }
  // The lines written since the last mark.
  std::vector<std::string> newLines() {
    std::vector<std::string> lines = file_.lines();
    std::vector<std::string> tail(lines.begin() + static_cast<ptrdiff_t>(mark_), lines.end());
    mark();
    return tail;
  }
  // Checks that lines are a start line and a settings line with these values.
  static void expectStartLines(const std::vector<std::string>& lines, size_t at,
                               const Switches& s) {
    ASSERT_GT(lines.size(), at + 1);
    EXPECT_EQ(lines[at].rfind("Starting trace!!! - Corvale level 1.00 ", 0), 0u) << lines[at];
    char settings[200];
    std::snprintf(settings, sizeof settings,
                  "Trace settings are debug=%d, Parser=%d, Writes=%d, Modules=%d, Mgmt=%d "
                  "debugfile=0x[0-9a-f]+",
                  s.debugValue, s.parser, s.write, s.module, s.mgmt);
    EXPECT_TRUE(std::regex_match(lines[at + 1], std::regex(settings))) << lines[at + 1];
  }

  TraceFile file_;
  size_t mark_ = 0;
};

TEST_F(TraceRequestTest, TraceOffWithStartValuesClosesTheFile) {
  start();
  processTraceOffMsg();
  EXPECT_EQ(newLines(), (std::vector<std::string>{
                            "PLUGIN: -> processTraceOffMsg()",
                            "Closing trace file",
                            "PLUGIN: -> processTraceMessage(): count=1, setting=0",
                            "Trace off request processed!!!",
                            "Tracing stopped!!!",
                        }));
  EXPECT_EQ(current(), (Switches{0, 0, 0, 0, 0}));
  EXPECT_FALSE(traceFileOpen());
  traceLog("after the close\n");
  EXPECT_TRUE(newLines().empty());
}

TEST_F(TraceRequestTest, TraceOnOneWordAfterTraceOffReopensWithoutEntryLines) {
  start();
  processTraceOffMsg();
  mark();
  traceOn("TRPARSE ");
  EXPECT_EQ(current(), (Switches{1, 1, 0, 0, 0}));
  EXPECT_TRUE(traceFileOpen());
  std::vector<std::string> lines = newLines();
  ASSERT_EQ(lines.size(), 3u);
  expectStartLines(lines, 0, {1, 1, 0, 0, 0});
  EXPECT_EQ(lines[2], "Trace on request processed!!!");
}

TEST_F(TraceRequestTest, TraceOnWithWordTraceOffTurnsEverySwitchOn) {
  start();
  processTraceOffMsg();
  mark();
  traceOn("TRACEOFF");
  EXPECT_EQ(current(), (Switches{1, 1, 1, 1, 1}));
  std::vector<std::string> lines = newLines();
  ASSERT_EQ(lines.size(), 5u);
  expectStartLines(lines, 0, {1, 1, 1, 1, 1});
  EXPECT_EQ(lines[2], "Trace on request processed!!!");
  EXPECT_EQ(lines[3],
            "PLUGIN: <- processTraceMessage(): debug=1, traceModule=1 traceParser=1 traceWrite=1 "
            "traceMgmt=1");
  EXPECT_EQ(lines[4], "PLUGIN: <- processTraceOnMsg()");
}

TEST_F(TraceRequestTest, TraceOnWithoutWordsAfterTraceOffLeavesTracingOff) {
  start();
  processTraceOffMsg();
  mark();
  for (int length : {0, -5, 7}) {  // no whole word in any of them
    processTraceOnMsg(1, 2, length, "TRACEALL");
    EXPECT_EQ(current(), (Switches{0, 0, 0, 0, 0}));
    EXPECT_FALSE(traceFileOpen());
  }
  EXPECT_TRUE(newLines().empty());
}

TEST_F(TraceRequestTest, SwitchesOfTwoFromTheEnvironmentTurnDebugOffOnTraceOn) {
  for (const char* name : {"FIXTRACEMGMT", "FIXTRACEMODULE", "FIXTRACEPARSER", "FIXTRACEWRITE"}) {
    setenv(name, "2", 1);
  }
  start();
  processTraceOnMsg(3, 4, 0, "");
  EXPECT_EQ(current(), (Switches{0, 2, 2, 2, 2}));
  EXPECT_FALSE(traceFileOpen());
  EXPECT_EQ(newLines(), (std::vector<std::string>{
                            "PLUGIN: -> processTraceOnMsg() ver 3 mod 4",
                            "PLUGIN: -> processTraceMessage(): count=0, setting=1",
                            "Trace off request processed!!!",
                            "Tracing stopped!!!",
                        }));
}

TEST_F(TraceRequestTest, TraceAllWhileOpenWritesNoNewStartLine) {
  start();
  traceOn("TRACEALL");
  EXPECT_EQ(current(), (Switches{1, 1, 1, 1, 1}));
  EXPECT_EQ(newLines(), (std::vector<std::string>{
                            "PLUGIN: -> processTraceOnMsg() ver 0 mod 0",
                            "PLUGIN: -> processTraceMessage(): count=1, setting=1",
                            "PLUGIN: <- processTraceMessage(): debug=1, traceModule=1 "
                            "traceParser=1 traceWrite=1 traceMgmt=1",
                            "PLUGIN: <- processTraceOnMsg()",
                        }));
}

TEST_F(TraceRequestTest, WordsSelectSwitchesExactly) {
  struct Case {
    std::string words;
    Switches expected;  // after a TRACEOFF, then TRACEON with these words
  };
  const Case cases[] = {
      {"TRPARSE ", {1, 1, 0, 0, 0}},
      {"TRWRITE ", {1, 0, 1, 0, 0}},
      {"TRMODULE", {1, 0, 0, 1, 0}},
      {"TRMGMT  ", {1, 0, 0, 0, 1}},
      {"TRACEALL", {1, 1, 1, 1, 1}},
      {"TRPARSE TRMGMT  ", {1, 1, 0, 0, 1}},
      {"TRPARSE TRWRI", {1, 1, 0, 0, 0}},  // characters after the last whole word are ignored
      {"trparse ", {0, 0, 0, 0, 0}},       // case-sensitive
      {"TRPARSE", {0, 0, 0, 0, 0}},        // blanks belong to the word
      {std::string("TRMGMT\0\0", 8), {0, 0, 0, 0, 0}},
      {"XXXXXXXXTRWRITE ", {1, 0, 1, 0, 0}},
  };
  start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    processTraceOffMsg();
    traceOn(c.words);
    EXPECT_EQ(current(), c.expected);
    EXPECT_EQ(traceFileOpen(), c.expected.debugValue == 1);
  }
}

TEST_F(TraceRequestTest, ARequestOfSettingZeroClearsOnlyItsSwitches) {
  start();
  processTraceMessage("TRPARSE TRMGMT  ", 2, 0);
  EXPECT_EQ(current(), (Switches{1, 0, 1, 1, 0}));
  EXPECT_TRUE(traceFileOpen());
  processTraceMessage("TRWRITE TRMODULE", 2, 0);
  EXPECT_EQ(current(), (Switches{0, 0, 0, 0, 0}));
  EXPECT_FALSE(traceFileOpen());
}

// Lines written while another thread closes and reopens the file are never mixed or torn.
TEST_F(TraceRequestTest, ConcurrentLinesAndToggling) {
  start();
  constexpr int kWriters = 3;
  constexpr int kLines = 400;
  std::atomic<bool> stop{false};
  int toggles = 0;
  std::thread toggler([&] {
    for (; toggles < 200 && (toggles < 20 || !stop.load()); ++toggles) {
      processTraceOffMsg();
      traceOn("TRACEALL");
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([w] {
      for (int i = 0; i < kLines; ++i) traceLog("writer %d line %d of the test\n", w, i);
    });
  }
  for (std::thread& t : writers) t.join();
  stop.store(true);
  toggler.join();

  std::regex known(
      R"(writer \d line \d+ of the test|PLUGIN: .*|Closing trace file|Trace (on|off) request )"
      R"(processed!!!|Tracing stopped!!!|Starting trace!!! .*|Trace settings are .*)");
  int stopped = 0;
  int restarted = 0;
  for (const std::string& line : newLines()) {
    EXPECT_TRUE(std::regex_match(line, known)) << line;
    stopped += line == "Tracing stopped!!!";
    restarted += line == "Trace on request processed!!!";
  }
  // Every close and every reopen took place and was written whole.
  EXPECT_EQ(stopped, toggles);
  EXPECT_EQ(restarted, toggles);
  EXPECT_TRUE(traceFileOpen());
}

}  // namespace
