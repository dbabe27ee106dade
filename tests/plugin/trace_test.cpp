// The trace facility of the diagnostic build: start lines, environment rules, the formatter,
// memory dumps and the dump of elements and trees.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "broker/broker.h"
#include "plugin/corvale.h"
#include "plugin/trace.h"
#include "tests/support/trace_file.h"

namespace {

using corvale_test::clearTraceSwitchVariables;
using corvale_test::TraceFile;

std::string settingsLine(int debugValue, int parser, int write, int module, int mgmt) {
  char line[200];
  std::snprintf(line, sizeof line,
                "Trace settings are debug=%d, Parser=%d, Writes=%d, Modules=%d, Mgmt=%d "
                "debugfile=0x",
                debugValue, parser, write, module, mgmt);
  return line;
}

TEST(TraceStart, AppendsStartAndSettingsLinesWithTheStartValues) {
  clearTraceSwitchVariables();
  TraceFile file;
  {
    std::FILE* earlier = std::fopen(file.path().c_str(), "w");
    std::fputs("an earlier line\n", earlier);
    std::fclose(earlier);
  }
  initializeTrace();

  EXPECT_STREQ(traceFileName(), file.path().c_str());
  EXPECT_TRUE(traceFileOpen());
  std::vector<std::string> lines = file.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "an earlier line");
  // The date and time are trace's own compile time, as its version string shows them.
  std::string version = traceVersion();
  std::string stamp = version.substr(version.find('(') + 1);
  stamp.pop_back();
  EXPECT_TRUE(std::regex_match(stamp, std::regex(R"([A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} )"
                                                 R"([0-9]{2}:[0-9]{2}:[0-9]{2})")))
      << stamp;
  EXPECT_EQ(lines[1], "Starting trace!!! - Corvale level 1.00 " + stamp);
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(settingsLine(1, 1, 1, 1, 1) + "[0-9a-f]+")))
      << lines[2];
}

TEST(TraceStart, EnvironmentCanRaiseASwitchButNeverLowerIt) {
  struct Case {
    const char* variable;
    const char* value;
    std::atomic<int32_t>* traceSwitch;
    int32_t expected;
  };
  const Case cases[] = {
      {"FIXTRACEMODULE", "0", &traceModule, 1},    // not positive: unchanged
      {"FIXTRACEMODULE", "abc", &traceModule, 1},  // not a number
      {"FIXTRACEMODULE", "-4", &traceModule, 1},
      {"FIXTRACEMODULE", "3", &traceModule, 3},
      {"FIXTRACEMODULE", "7x", &traceModule, 7},  // leading digits, as atoi reads them
      {"FIXTRACEALL", "2", &debug, 2},
      {"FIXTRACEPARSER", "4", &traceParser, 4},
      {"FIXTRACEWRITE", "5", &traceWrite, 5},
      {"FIXTRACEMGMT", "6", &traceMgmt, 6},
  };
  TraceFile file;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.variable) + "=" + c.value);
    for (std::atomic<int32_t>* s : {&debug, &traceParser, &traceWrite, &traceModule, &traceMgmt}) {
      s->store(1);
    }
    clearTraceSwitchVariables();
    setenv(c.variable, c.value, 1);
    initializeTrace();
    EXPECT_EQ(c.traceSwitch->load(), c.expected);
    for (std::atomic<int32_t>* s : {&debug, &traceParser, &traceWrite, &traceModule, &traceMgmt}) {
      if (s != c.traceSwitch) {
        EXPECT_EQ(s->load(), 1);
      }
    }
  }
  // The settings line shows the values the environment gave.
  EXPECT_EQ(file.lines().back().rfind(settingsLine(1, 1, 1, 1, 6), 0), 0u) << file.lines().back();
}

TEST(TraceStart, FileNameIsCutTo255Characters) {
  clearTraceSwitchVariables();
  std::string longName = "/nonexistent-corvale-dir/" + std::string(300, 'n');
  setenv("FIXTRACEFILE", longName.c_str(), 1);
  initializeTrace();
  EXPECT_EQ(std::string(traceFileName()), longName.substr(0, 255));
  // A file that cannot be opened leaves tracing silently off.
  EXPECT_FALSE(traceFileOpen());
  traceLog("nothing happens\n");
}

TEST(TraceStart, DefaultFileNameWithoutFixTraceFile) {
  clearTraceSwitchVariables();
  unsetenv("FIXTRACEFILE");
  std::string fallback = CORVALE_DEFAULT_TRACE_FILE;
  struct stat info;
  std::string directory = fallback.substr(0, fallback.rfind('/'));
  if (stat(directory.c_str(), &info) == 0) GTEST_SKIP() << "an installed trace folder exists";
  initializeTrace();
  EXPECT_EQ(std::string(traceFileName()), fallback);
  EXPECT_FALSE(traceFileOpen());
}

TEST(TraceLog, FormatsWideStringsAnd64BitNumbers) {
  clearTraceSwitchVariables();
  TraceFile file;
  initializeTrace();
  size_t start = file.lines().size();
  traceLog("name %S value (%s) %d\n", u"BeginString", "FIX.4.2", -12);
  traceLog("big %I64d hex 0x%x pct 100%% [%5S] [%-4s] [%.2S]\n", int64_t{-9000000000}, 255u, u"ab",
           "c", u"xyz");
  traceLog("wide beyond Latin-1 %S and none %S\n", u"\u00e9\u4e2d",
           static_cast<char16_t*>(nullptr));
  traceLog("no newline");
  traceLog(" continues\n");
  std::vector<std::string> lines = file.lines();
  ASSERT_EQ(lines.size(), start + 4);
  EXPECT_EQ(lines[start], "name BeginString value (FIX.4.2) -12");
  EXPECT_EQ(lines[start + 1], "big -9000000000 hex 0xff pct 100% [   ab] [c   ] [xy]");
  EXPECT_EQ(lines[start + 2], "wide beyond Latin-1 \xe9? and none (null)");
  EXPECT_EQ(lines[start + 3], "no newline continues");
}

TEST(TraceLog, WritesNothingWhileDebugIsZero) {
  clearTraceSwitchVariables();
  TraceFile file;
  initializeTrace();
  std::string before = file.contents();
  debug.store(0);
  traceLog("hidden %d\n", 1);
  traceMemory("abcd", 4);
  EXPECT_EQ(file.contents(), before);
  debug.store(1);
  traceLog("shown\n");
  EXPECT_EQ(file.lines().back(), "shown");
}

TEST(TraceMemory, FortyBytesGiveHeaderAndTwoLines) {
  clearTraceSwitchVariables();
  TraceFile file;
  initializeTrace();
  size_t start = file.lines().size();
  // 32 printable bytes, then 127 (shown as itself), 128 and 31 (shown as "."), "wxyz" and 255.
  const char bytes[41] = "0123456789ABCDEFGHIJKLMNOPQRSTUV\x7f\x80\x1fwxyz\xff";
  traceMemory(bytes, 40);

  std::vector<std::string> lines = file.lines();
  ASSERT_EQ(lines.size(), start + 3);
  char header[80];
  std::snprintf(header, sizeof header, "dumping memory at 0x%x for 40 bytes",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(bytes)));
  EXPECT_EQ(lines[start], header);
  EXPECT_EQ(lines[start + 1],
            "0000 01234567 89ABCDEF GHIJKLMN OPQRSTUV "
            " 30313233 34353637 38394142 43444546 4748494A 4B4C4D4E 4F505152 53545556 ");
  EXPECT_EQ(lines[start + 2], "0032 \x7f..wxyz. " + std::string(27, ' ') + " 7F801F77 78797AFF ");
}

// Elements come from the stand-in broker; the plug-in's in-process entry gives a parser whose
// messages can be built by hand.
class TraceElementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clearTraceSwitchVariables();
    plugin_ = std::make_unique<broker::Plugin>(&bipGetParserFactory);
    parser_ = std::make_unique<broker::Parser>(*plugin_, "FIX");
    message_ = std::make_unique<broker::Message>(parser_->createMessage());
  }
  std::vector<std::string> linesFrom(size_t start) {
    std::vector<std::string> lines = file_.lines();
    return std::vector<std::string>(lines.begin() + static_cast<ptrdiff_t>(start), lines.end());
  }

  TraceFile file_;
  std::unique_ptr<broker::Plugin> plugin_;
  std::unique_ptr<broker::Parser> parser_;
  std::unique_ptr<broker::Message> message_;
};

TEST_F(TraceElementTest, IndentationIsCappedAt31Blanks) {
  broker::Element value = message_->body().addText("Symbol", "ACME");
  broker::Element folder = message_->body().addFolder("NoPartyIDs");
  struct Case {
    int level;
    size_t blanks;
  };
  const Case cases[] = {{0, 0}, {3, 3}, {31, 31}, {32, 31}, {40, 31}, {-2, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    size_t start = file_.lines().size();
    traceElement(value.handle(), c.level);
    traceElement(folder.handle(), c.level);
    std::string indent(c.blanks, ' ');
    EXPECT_EQ(linesFrom(start),
              (std::vector<std::string>{indent + " element Symbol bits(1 1) value ACME",
                                        indent + " name element NoPartyIDs bits(1 1)"}));
  }
}

TEST_F(TraceElementTest, LongNamesAndValuesAreCutTo511Characters) {
  std::string name(600, 'N');
  std::string value(70000, 'v');
  broker::Element element = message_->body().addText(name, value);
  size_t start = file_.lines().size();
  traceElement(element.handle(), 1);
  EXPECT_EQ(linesFrom(start),
            (std::vector<std::string>{"  element " + std::string(511, 'N') + " bits(1 1) value " +
                                      std::string(511, 'v')}));
}

TEST_F(TraceElementTest, TreeDumpWalksTheWholeSubtree) {
  broker::Element body = message_->body();
  body.addText("BeginString", "FIX.4.2");
  broker::Element group = body.addFolder("NoPartyIDs");
  group.addText("PartyID", "P1");
  body.addText("Symbol", "ACME");
  size_t start = file_.lines().size();
  traceTree(body.handle(), 0);
  EXPECT_EQ(linesFrom(start), (std::vector<std::string>{
                                  " name element FIX bits(1 1)",
                                  "  element BeginString bits(1 1) value FIX.4.2",
                                  "  name element NoPartyIDs bits(1 1)",
                                  "   element PartyID bits(1 1) value P1",
                                  "  element Symbol bits(1 1) value ACME",
                              }));
}

}  // namespace
