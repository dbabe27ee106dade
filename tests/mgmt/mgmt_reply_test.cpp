// Management messages sent through the stand-in broker to the loaded plug-in, in both builds:
// the GETLEVEL and STATS reply trees, the cache commands FLUSH and FLUSHALL, and headers that
// must run nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <ostream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "mgmt_support.h"

namespace {

using mgmt_test::fixMessage;
using mgmt_test::reply;

using mgmt_test::PluginBuild;

// A plug-in of one build, loaded with its metadata directory and trace file in a scratch folder.
class Session {
 public:
  Session(const PluginBuild& build, const std::vector<std::string>& levels)
      : loaded_(build.path, levels),
        fix_(std::make_unique<broker::Parser>(loaded_.plugin(), "FIX")),
        mgmt_(std::make_unique<broker::Parser>(loaded_.plugin(), "FIX")) {}

  // Parser for FIX messages; management messages go through their own parser, so that they
  // never hand a FIX message's parse time to the statistics.
  broker::Parser& fix() { return *fix_; }
  std::string send(const std::string& text, int ccsid = 437) { return reply(*mgmt_, text, ccsid); }

  // Parses a FIX message and walks all of it.
  void parse(const std::string& message) { fix_->parse(message).complete(); }

  // One value of the STATS reply.
  std::string stat(const std::string& name) {
    const std::string tree = send("00000000STATS   ");
    const std::string key = "  " + name + "=";
    const size_t at = tree.find(key);
    if (at == std::string::npos) return "<missing " + name + ">";
    return tree.substr(at + key.size(), tree.find('\n', at) - at - key.size());
  }
  int statNumber(const std::string& name) { return std::stoi(stat(name)); }

 private:
  mgmt_test::LoadedPlugin loaded_;
  std::unique_ptr<broker::Parser> fix_;
  std::unique_ptr<broker::Parser> mgmt_;
};

// A heartbeat of the given level: BeginString, BodyLength and MsgType.
std::string heartbeat(const std::string& beginString) {
  return fixMessage(beginString, "35=0|");
}

// ---- GETLEVEL --------------------------------------------------------------------------------

class MgmtGetlevelTest : public ::testing::TestWithParam<PluginBuild> {};

TEST_P(MgmtGetlevelTest, ReportsSixModuleLevelsInOrderForAnyCodedCharacterSet) {
  const PluginBuild& build = GetParam();
  Session session(build, {});
  const std::string stamp =
      R"(\((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3][0-9] [0-9]{4} )"
      R"([0-2][0-9]:[0-5][0-9]:[0-5][0-9]\))";
  const std::string pattern = build.diagnostic ? "ModuleLevels\n"
                                                 " Corvale=Corvale V1\\.0 Debug version " +
                                                     stamp +
                                                     "\n"
                                                     " Fixsub=Fixsub V1\\.0 Debug Version " +
                                                     stamp +
                                                     "\n"
                                                     " Metadata=metadata V1\\.0 Debug version " +
                                                     stamp +
                                                     "\n"
                                                     " MgmtMsg=mgmtmsg V1\\.0 Debug version " +
                                                     stamp +
                                                     "\n"
                                                     " Parsubs=parsubs V1\\.0 Debug version " +
                                                     stamp +
                                                     "\n"
                                                     " Trace=trace V1\\.0 debug build " +
                                                     stamp + "\n"
                                               : "ModuleLevels\n"
                                                 " Corvale=Corvale V1\\.0 Release version " +
                                                     stamp +
                                                     "\n"
                                                     " Fixsub=Fixsub V1\\.0 Release Version" +
                                                     stamp +
                                                     "\n"
                                                     " Metadata=metadata V1\\.0 Release version " +
                                                     stamp +
                                                     "\n"
                                                     " MgmtMsg=mgmtmsg V1\\.0 Release version " +
                                                     stamp +
                                                     "\n"
                                                     " Parsubs=parsubs V1\\.0 Release version " +
                                                     stamp +
                                                     "\n"
                                                     " Trace=trace V1\\.0 release build " +
                                                     stamp + "\n";
  // The header is read in code page 437 whatever the message's own coded character set.
  for (int ccsid : {437, 819, 1252, 500, 1208}) {
    const std::string tree = session.send("00000000GETLEVEL", ccsid);
    EXPECT_TRUE(std::regex_match(tree, std::regex(pattern))) << "ccsid " << ccsid << ":\n" << tree;
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, MgmtGetlevelTest,
                         ::testing::ValuesIn(corvale_test::pluginBuilds()),
                         corvale_test::PluginBuildName());

// ---- STATS -----------------------------------------------------------------------------------

const std::array<const char*, 4> kCacheValues = {"filesOpened", "filesRemoved", "filesMax",
                                                 "useCounter"};
const std::array<const char*, 18> kMessageValues = {
    "inMessageCount",    "inTagCount",     "invalidMsgCount",  "averageMessageSize",
    "maxMessageSize",    "minMessageSize", "averageParseTime", "maxParseTime",
    "minParseTime",      "writeCount",     "outTagCount",      "invalidOutputCount",
    "averageOutputSize", "maxOutputSize",  "minOutputSize",    "averageWriteTime",
    "maxWriteTime",      "minWriteTime"};

// The STATS tree with the given values (texts, or patterns), cache values first.
std::string statsTree(const std::array<std::string, 22>& values) {
  std::string tree = "statistics\n cache\n";
  for (size_t i = 0; i < kCacheValues.size(); ++i) {
    tree += std::string("  ") + kCacheValues[i] + "=" + values[i] + "\n";
  }
  tree += " messages\n";
  for (size_t i = 0; i < kMessageValues.size(); ++i) {
    tree += std::string("  ") + kMessageValues[i] + "=" + values[kCacheValues.size() + i] + "\n";
  }
  return tree;
}

class MgmtStatsTest : public ::testing::TestWithParam<PluginBuild> {};

TEST_P(MgmtStatsTest, BeforeAnyMessageEveryValueIsZero) {
  Session session(GetParam(), {});
  const std::string t = "0.00";
  EXPECT_EQ(session.send("00000000STATS   "),
            statsTree({"0", "0", "0", "0",                        // cache
                       "0", "0", "0", "0", "0", "0", t, t, t,     // parsing
                       "0", "0", "0", "0", "0", "0", t, t, t}));  // writing
}

TEST_P(MgmtStatsTest, ReportsCountsSizesAndAveragesOfGoodAndBadParsesAndWrites) {
  Session session(GetParam(), {"FIX42"});
  broker::Parser& parser = session.fix();
  const std::string small = heartbeat("FIX.4.2");
  const std::string large = fixMessage("FIX.4.2", "35=0|49=SENDER|56=TARGET|34=2|112=PING|");
  const std::string badItem = fixMessage("FIX.4.2", "35=0|12A=x|");
  const int smallItems = 3;
  const int largeItems = 7;

  // Good parse, then a good parse that is written back.
  parser.parse(small).complete();
  broker::Message written = parser.parse(large);
  written.complete();
  const std::string largeOut = parser.write(written);
  // The framing check fails: counted as an error, not as a message.
  EXPECT_THROW(parser.parse(mgmt_test::withWrongChecksum(small)), broker::Error);
  // The framing passes, the fourth item fails: a message and an error; three items were parsed.
  EXPECT_THROW(parser.parse(badItem).complete(), broker::Error);
  // Another good parse, written back.
  broker::Message again = parser.parse(small);
  again.complete();
  const std::string smallOut = parser.write(again);
  // A write that fails on an element the metadata does not know.
  broker::Message unknown = parser.createMessage();
  unknown.body().addText("NoSuchField", "x");
  EXPECT_THROW(parser.write(unknown), broker::Error);

  const int sizes = static_cast<int>(small.size() + large.size() + badItem.size() + small.size());
  const int outSizes = static_cast<int>(largeOut.size() + smallOut.size());
  const std::string anyTime = "[0-9]+\\.[0-9]{2}";
  const std::string positive = "[1-9][0-9]*";
  // Averages divide by messages minus errors: 4 - 2 parsed, 2 - 1 written.
  const std::string pattern = statsTree({
      // cache: FIX42 loaded once
      "1",
      "0",
      "1",
      positive,
      // parsing
      "4",
      std::to_string((1 + smallItems) + (1 + largeItems) + (1 + 3) + (1 + smallItems)),
      "2",
      std::to_string(sizes / 2),
      std::to_string(std::max({small.size(), large.size(), badItem.size()})),
      std::to_string(std::min({small.size(), large.size(), badItem.size()})),
      anyTime,
      anyTime,
      anyTime,
      // writing
      "2",
      std::to_string((largeItems - 2) + (smallItems - 2)),  // BeginString, BodyLength: header
      "1",
      std::to_string(outSizes / 1),
      std::to_string(std::max(largeOut.size(), smallOut.size())),
      std::to_string(std::min(largeOut.size(), smallOut.size())),
      anyTime,
      anyTime,
      anyTime,
  });
  const std::string before = session.send("00000000STATS   ");
  EXPECT_TRUE(std::regex_match(before, std::regex(pattern))) << before << "\nexpected\n" << pattern;
  for (const char* kind : {"Parse", "Write"}) {
    EXPECT_LE(std::stod(session.stat(std::string("min") + kind + "Time")),
              std::stod(session.stat(std::string("max") + kind + "Time")))
        << kind;
  }

  // Management messages change no counter and add no time, not even to the parse times.
  for (const char* text : {"00000000GETLEVEL", "00000000FLUSH   NOSUCH  ", "00000000NOSUCH  ",
                           "00010000STATS   ", "0000000"}) {
    session.send(text);
  }
  EXPECT_EQ(session.send("00000000STATS   "), before);

  // A FIX message after them counts as usual.
  const int inTags = session.statNumber("inTagCount");
  parser.parse(small).complete();
  EXPECT_EQ(session.statNumber("inMessageCount"), 5);
  EXPECT_EQ(session.statNumber("inTagCount"), inTags + 1 + smallItems);
  EXPECT_EQ(session.statNumber("averageMessageSize"), (sizes + static_cast<int>(small.size())) / 3);
}

INSTANTIATE_TEST_SUITE_P(Builds, MgmtStatsTest, ::testing::ValuesIn(corvale_test::pluginBuilds()),
                         corvale_test::PluginBuildName());

// ---- Headers that run nothing, and commands without a reply ----------------------------------

struct EmptyReplyCase {
  const char* name;
  std::string text;
  const char* why;
};

void PrintTo(const EmptyReplyCase& c, std::ostream* os) {
  *os << c.why;
}

const EmptyReplyCase kEmptyReplies[] = {
    {"WrongVersion", "00010000GETLEVEL", "version other than 0000"},
    {"WrongModificationLevel", "00000100STATS   ", "modification level other than 0000"},
    {"ShiftedHeader", " 00000000GETLEVEL", "header shifted by one character"},
    {"LowerCase", "00000000getlevel", "commands are upper case"},
    {"MixedCase", "00000000Stats   ", "commands are compared case-sensitively"},
    {"Zeros", std::string("00000000STATS\0\0\0", 16), "zeros are not blanks"},
    {"CutShort", "00000000STATS", "command cut short by the end of the text"},
    {"FifteenCharacters", "00000000GETLEVE", "15 characters: no whole header"},
    {"OnlyVersion", "0000", "only a version"},
    {"Empty", "", "empty text"},
    {"Unknown", "00000000NOSUCHCM", "unknown command"},
    {"Flushall", "00000000FLUSHALL", "FLUSHALL replies nothing"},
    {"Flush", "00000000FLUSH   FIX42   ", "FLUSH replies nothing"},
    {"FlushNoEntries", "00000000FLUSH   ", "FLUSH without entries"},
    {"Traceon", "00000000TRACEON TRACEALL", "TRACEON replies nothing"},
    {"Traceoff", "00000000TRACEOFF", "TRACEOFF replies nothing"},
};

class MgmtEmptyReplyTest
    : public ::testing::TestWithParam<std::tuple<PluginBuild, EmptyReplyCase>> {};

TEST_P(MgmtEmptyReplyTest, LeavesAnEmptyTreeWithTheRootComplete) {
  const auto& [build, c] = GetParam();
  Session session(build, {"FIX42"});
  session.parse(heartbeat("FIX.4.2"));
  // reply() also checks that the root element is complete in both directions.
  EXPECT_EQ(session.send(c.text), "") << c.why;
  // The plug-in goes on answering.
  EXPECT_EQ(session.stat("inMessageCount"), "1") << c.why;
}

INSTANTIATE_TEST_SUITE_P(Cases, MgmtEmptyReplyTest,
                         ::testing::Combine(::testing::ValuesIn(corvale_test::pluginBuilds()),
                                            ::testing::ValuesIn(kEmptyReplies)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::get<1>(info.param).name;
                         });

// ---- FLUSH and FLUSHALL ----------------------------------------------------------------------

struct FlushCase {
  const char* name;
  std::string text;
  std::set<std::string> reloaded;  // levels whose next use loads their file again
  const char* why;
};

void PrintTo(const FlushCase& c, std::ostream* os) {
  *os << c.why;
}

const FlushCase kFlushes[] = {
    {"TwentyCharacters",
     "00000000FLUSH   FIX42   FIX44   FIX4",
     {"FIX42", "FIX44"},
     "20 data characters: two names, the last 4 characters ignored"},
    {"UncachedName",
     "00000000FLUSH   FIX42   NOSUCH  ",
     {"FIX42"},
     "a name that is not cached changes nothing"},
    {"Prefix",
     "00000000FLUSH   FIX4    ",
     {"FIX42", "FIX43", "FIX44"},
     "a prefix flushes every match"},
    {"EmptyName",
     "00000000FLUSH           ",
     {"FIX42", "FIX43", "FIX44"},
     "the empty name matches all"},
    {"ControlCharacter",
     "00000000FLUSH   FIX43\tXY",
     {"FIX43"},
     "a control character ends the name"},
    {"HighByte", "00000000FLUSH   FIX4\x80   ", {}, "a byte above 127 belongs to the name"},
    {"ShortData", "00000000FLUSH   FIX42", {}, "fewer than 8 data characters: no entry"},
    {"LowerCase", "00000000flush   FIX42   ", {}, "lower-case command"},
    {"WrongVersion", "00010000FLUSH   FIX42   ", {}, "wrong version"},
    {"Zeros", std::string("00000000FLUSH\0\0\0FIX42   ", 24), {}, "zeros instead of blanks"},
    {"Flushall", "00000000FLUSHALL", {"FIX42", "FIX43", "FIX44"}, "FLUSHALL"},
};

class MgmtFlushTest : public ::testing::TestWithParam<std::tuple<PluginBuild, FlushCase>> {};

TEST_P(MgmtFlushTest, FlushedLevelsAreLoadedAgainOnTheirNextUse) {
  const auto& [build, c] = GetParam();
  const std::vector<std::string> levels = {"FIX42", "FIX43", "FIX44"};
  Session session(build, levels);
  for (const std::string& level : levels) {
    session.parse(heartbeat(level.substr(0, 3) + "." + level.substr(3, 1) + "." + level.substr(4)));
  }
  ASSERT_EQ(session.statNumber("filesOpened"), 3);

  EXPECT_EQ(session.send(c.text), "") << c.why;

  std::set<std::string> reloaded;
  for (const std::string& level : levels) {
    const int opened = session.statNumber("filesOpened");
    session.parse(heartbeat(level.substr(0, 3) + "." + level.substr(3, 1) + "." + level.substr(4)));
    if (session.statNumber("filesOpened") != opened) reloaded.insert(level);
  }
  EXPECT_EQ(reloaded, c.reloaded) << c.why;
}

INSTANTIATE_TEST_SUITE_P(Cases, MgmtFlushTest,
                         ::testing::Combine(::testing::ValuesIn(corvale_test::pluginBuilds()),
                                            ::testing::ValuesIn(kFlushes)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::get<1>(info.param).name;
                         });

// Ten levels fill the nine free slots and then replace the default slot 0. FLUSHALL leaves slot 0
// alone, a FLUSH of the empty name does not.
struct DefaultSlotCase {
  std::string text;
  bool slotZeroReloaded;
};

void PrintTo(const DefaultSlotCase& c, std::ostream* os) {
  *os << c.text;
}

class MgmtDefaultSlotTest
    : public ::testing::TestWithParam<std::tuple<PluginBuild, DefaultSlotCase>> {};

TEST_P(MgmtDefaultSlotTest, OnlyTheEmptyNameFlushesSlotZero) {
  const auto& [build, c] = GetParam();
  std::vector<std::string> levels;
  for (int i = 1; i <= 10; ++i) levels.push_back("L" + std::to_string(i));
  Session session(build, levels);
  for (const std::string& level : levels) session.parse(heartbeat(level));
  ASSERT_EQ(session.statNumber("filesOpened"), 10);
  ASSERT_EQ(session.statNumber("filesRemoved"), 1);  // L10 took slot 0

  EXPECT_EQ(session.send(c.text), "");
  session.parse(heartbeat("L10"));
  EXPECT_EQ(session.statNumber("filesOpened"), c.slotZeroReloaded ? 11 : 10) << c.text;
  // Slots 1 to 9 are flushed either way: L1 is loaded again.
  const int opened = session.statNumber("filesOpened");
  session.parse(heartbeat("L1"));
  EXPECT_EQ(session.statNumber("filesOpened"), opened + 1) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MgmtDefaultSlotTest,
    ::testing::Combine(::testing::ValuesIn(corvale_test::pluginBuilds()),
                       ::testing::Values(DefaultSlotCase{"00000000FLUSHALL", false},
                                         DefaultSlotCase{"00000000FLUSH           ", true})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param).slotZeroReloaded ? "_FlushEmptyName" : "_Flushall");
    });

}  // namespace
