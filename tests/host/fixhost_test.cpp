// End-to-end tests of fixhost: each runs the built program with a command line, as a user would,
// and checks its standard output, standard error and exit code. The program finds the build's
// plug-in and metadata by itself (FIXMETADIR is removed from its environment).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/fix_messages.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

using corvale_test::readFile;
using corvale_test::soh;
using corvale_test::splitLines;

const fs::path kExamples = fs::path(CORVALE_SOURCE_DIR) / "examples";

// A grouped FIX.4.2 message: two Allocs instances, raw data holding an SOH, and a text that XML
// and JSON must escape.
const std::string kGrouped =
    soh("8=FIX.4.2|9=74|35=D|49=BUY|56=SELL|78=2|79=X1|80=10|79=X2|80=20|95=3|96=a|b|"
        "58=a<b & \"c\"|10=195|");
const std::string kLogon =
    soh("8=FIX.4.4|9=63|35=A|34=1|49=TW44|52=20261211-10:00:00.000|56=ISLD|98=0|108=30|10=030|");
const std::string kHeartbeat =
    soh("8=FIX.4.4|9=51|35=5|34=3|49=TW44|52=20261211-10:00:00.000|56=ISLD|10=248|");
// The heartbeat with a CheckSum that does not match its bytes.
const std::string kBadChecksum =
    soh("8=FIX.4.4|9=51|35=5|34=3|49=TW44|52=20261211-10:00:00.000|56=ISLD|10=249|");
// The heartbeat with a BodyLength one too large but a CheckSum that matches it: it parses, and
// is written back with the right BodyLength.
const std::string kWrongBodyLength =
    soh("8=FIX.4.4|9=52|35=5|34=3|49=TW44|52=20261211-10:00:00.000|56=ISLD|10=249|");

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

class FixhostTest : public ::testing::Test {
 protected:
  fs::path file(const std::string& name, const std::string& content) const {
    fs::path path = dir_ / name;
    corvale_test::writeFile(path, content);
    return path;
  }

  // Runs "fixhost ARGS" with env (e.g. "FIXMETADIR=/x") in a shell; input, if given, is its
  // standard input.
  Result fixhost(const std::string& args, const std::string& input = "",
                 const std::string& env = "") const {
    fs::path out = dir_ / "stdout";
    fs::path err = dir_ / "stderr";
    std::string command = "env -u FIXMETADIR FIXTRACEFILE='" + (dir_ / "trace").string() + "' " +
                          env + " '" FIXHOST_PATH "' " + args + " >'" + out.string() + "' 2>'" +
                          err.string() + "'";
    if (!input.empty()) command += " <'" + file("stdin", input).string() + "'";
    int status = std::system(command.c_str());
    Result run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(out);
    run.err = readFile(err);
    return run;
  }

  corvale_test::TempDir scratch_;
  const fs::path dir_ = scratch_.path();
};

std::string quoted(const fs::path& path) {
  return "'" + path.string() + "'";
}

// The numbers that the first group of pattern matches in the reports of err.
std::set<size_t> reported(const std::string& err, const std::string& pattern) {
  std::set<size_t> result;
  std::regex re(pattern);
  for (std::sregex_iterator it(err.begin(), err.end(), re), end; it != end; ++it) {
    result.insert(std::stoul((*it)[1]));
  }
  return result;
}

TEST_F(FixhostTest, PrintsAGroupedMessageInEachFormat) {
  struct Case {
    const char* options;
    std::string expected;
  };
  const Case cases[] = {
      {"",
       "FIX\n"
       "  BeginString = FIX.4.2\n"
       "  BodyLength = 74\n"
       "  MsgType = D\n"
       "  SenderCompID = BUY\n"
       "  TargetCompID = SELL\n"
       "  NoAllocs = 2\n"
       "  Allocs/\n"
       "    AllocAccount = X1\n"
       "    AllocShares = 10\n"
       "  Allocs/\n"
       "    AllocAccount = X2\n"
       "    AllocShares = 20\n"
       "  RawDataLength = 3\n"
       "  RawData [base64] = YQFi\n"
       "  Text = a<b & \"c\"\n"},
      {"--format xml",
       "<FIX>\n"
       "  <BeginString>FIX.4.2</BeginString>\n"
       "  <BodyLength>74</BodyLength>\n"
       "  <MsgType>D</MsgType>\n"
       "  <SenderCompID>BUY</SenderCompID>\n"
       "  <TargetCompID>SELL</TargetCompID>\n"
       "  <NoAllocs>2</NoAllocs>\n"
       "  <Allocs>\n"
       "    <AllocAccount>X1</AllocAccount>\n"
       "    <AllocShares>10</AllocShares>\n"
       "  </Allocs>\n"
       "  <Allocs>\n"
       "    <AllocAccount>X2</AllocAccount>\n"
       "    <AllocShares>20</AllocShares>\n"
       "  </Allocs>\n"
       "  <RawDataLength>3</RawDataLength>\n"
       "  <RawData encoding=\"base64\">YQFi</RawData>\n"
       "  <Text>a&lt;b &amp; &quot;c&quot;</Text>\n"
       "</FIX>\n"},
      {"--format json", R"({"FIX":[{"BeginString":"FIX.4.2"},{"BodyLength":"74"},{"MsgType":"D"},)"
                        R"({"SenderCompID":"BUY"},{"TargetCompID":"SELL"},{"NoAllocs":"2"},)"
                        R"({"Allocs":[[{"AllocAccount":"X1"},{"AllocShares":"10"}],)"
                        R"([{"AllocAccount":"X2"},{"AllocShares":"20"}]]},{"RawDataLength":"3"},)"
                        R"({"RawData":{"base64":"YQFi"}},{"Text":"a<b & \"c\""}]})"
                        "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    Result run = fixhost(std::string("parse ") + c.options, kGrouped + "\n");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, c.expected);
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(FixhostTest, XmlAndJsonTreesAreWrittenBackAsTheSameFix) {
  std::vector<fs::path> inputs;
  for (const char* name :
       {"FIX40.fix", "FIX41.fix", "FIX42.fix", "FIX43.fix", "FIX44.fix", "FIX50SP2.fix"}) {
    inputs.push_back(kExamples / name);
  }
  // The corpus copy kept with the codec's tests, when it is there.
  fs::path corpus = fs::path(CORVALE_SOURCE_DIR) / "tests/codec/data/corpus";
  if (fs::is_directory(corpus)) {
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
      if (entry.path().extension() == ".fix") inputs.push_back(entry.path());
    }
  }
  fs::path grouped = file("grouped.fix", kGrouped + "\n");
  inputs.push_back(grouped);
  for (const fs::path& input : inputs) {
    for (const char* format : {"xml", "json"}) {
      SCOPED_TRACE(input.string() + " " + format);
      Result parsed = fixhost(std::string("parse --format ") + format + " " + quoted(input));
      EXPECT_EQ(parsed.code, 0) << parsed.err;
      Result written = fixhost("write " + quoted(file("trees", parsed.out)));
      // A message of a level without metadata (the corpus has a few of FIX.3.9) parses, its
      // elements named after their tags, but cannot be written (0xCFFF0016). Every other tree
      // must come back as exactly its message.
      std::set<size_t> unwritten = reported(written.err, R"(tree (\d+) \(line \d+\): 0xCFFF0016 )");
      EXPECT_EQ(reported(written.err, R"(tree (\d+) \(line \d+\): )"), unwritten) << written.err;
      std::vector<std::string> messages = corvale_test::readLines(input);
      ASSERT_LT(unwritten.size(), messages.size());
      std::string expected;
      for (size_t i = 0; i < messages.size(); ++i) {
        if (!unwritten.count(i + 1)) expected += messages[i] + "\n";
      }
      EXPECT_TRUE(written.out == expected) << "written back:\n" << written.out;
    }
  }
}

TEST_F(FixhostTest, ReadsAPipeDelimitedLogWithPrefixes) {
  Result fromSoh = fixhost("parse " + quoted(kExamples / "FIX44.fix"));
  ASSERT_EQ(fromSoh.code, 0) << fromSoh.err;
  Result fromLog =
      fixhost("parse --find-begin --delimiter '|' " + quoted(kExamples / "FIX44-log.txt"));
  EXPECT_EQ(fromLog.code, 0) << fromLog.err;
  EXPECT_EQ(fromLog.out, fromSoh.out);

  // Without --find-begin the log's lines that hold no message are messages that fail.
  Result prefixed = fixhost("parse --delimiter '|' " + quoted(kExamples / "FIX44-log.txt"));
  EXPECT_EQ(prefixed.code, 1);
  EXPECT_NE(prefixed.err.find("message 1 (line 1): 0xCFFF000A"), std::string::npos) << prefixed.err;

  // Written messages use the delimiter too.
  Result json = fixhost("parse --format json", kHeartbeat + "\n");
  Result written = fixhost("write --delimiter '|'", json.out);
  EXPECT_EQ(written.out,
            "8=FIX.4.4|9=51|35=5|34=3|49=TW44|52=20261211-10:00:00.000|56=ISLD|10=248|\n");
}

TEST_F(FixhostTest, FindsMessagesInARawStreamWithoutNewlines) {
  Result lines = fixhost("parse " + quoted(kExamples / "FIX42.fix"));
  Result stream = fixhost("parse " + quoted(kExamples / "FIX42-stream.fix"));
  EXPECT_EQ(stream.code, 0) << stream.err;
  EXPECT_EQ(stream.out, lines.out);
  // A stream whose middle message has a wrong BodyLength is still cut at its CheckSum.
  Result mixed = fixhost("parse", kLogon + kWrongBodyLength + kHeartbeat);
  Result separate = fixhost("parse", kLogon + "\n" + kWrongBodyLength + "\n" + kHeartbeat + "\n");
  EXPECT_EQ(mixed.code, 0) << mixed.err;
  EXPECT_EQ(mixed.out, separate.out);
  EXPECT_NE(mixed.out.find("  BodyLength = 52\n"), std::string::npos) << mixed.out;
}

TEST_F(FixhostTest, ReportsABadMessageAndGoesOn) {
  Result good = fixhost("parse", kLogon + "\n" + kHeartbeat + "\n");
  Result run = fixhost("parse", kLogon + "\n" + kBadChecksum + "\n" + kHeartbeat + "\n");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, good.out);
  EXPECT_EQ(run.err,
            "message 2 (line 2): 0xCFFF000E Checksum tag value (249) does not match calculated "
            "sum (248) [248, 249]\n"
            "fixhost: 1 of 3 messages failed\n");
}

TEST_F(FixhostTest, ParallelRunGivesTheSameOutputInInputOrder) {
  std::string input;
  for (int i = 0; i < 40; ++i) {
    input += readFile(kExamples / "FIX44.fix") + readFile(kExamples / "FIX42.fix");
    if (i % 10 == 3) input += kBadChecksum + "\n#! FLUSH FIX42\n";
  }
  fs::path path = file("many.fix", input);
  for (const char* format : {"text", "json"}) {
    SCOPED_TRACE(format);
    Result serial = fixhost(std::string("parse -j 1 -f ") + format + " " + quoted(path));
    Result parallel = fixhost(std::string("parse -j 2 -f ") + format + " " + quoted(path));
    EXPECT_EQ(serial.code, 1);
    EXPECT_EQ(parallel.code, 1);
    EXPECT_TRUE(parallel.out == serial.out);
    EXPECT_EQ(parallel.err, serial.err);
  }
}

TEST_F(FixhostTest, ManagementLinesRunInOrderWithTheTraffic) {
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    Result run = fixhost(std::string("parse -j ") + jobs + " " + quoted(kExamples / "session.fix"));
    EXPECT_EQ(run.code, 0) << run.err;
    // FLUSHALL answers with an empty tree; the first STATS has seen two messages and one load
    // of FIX44; FLUSH FIX44 drops it, so the next message loads it again.
    EXPECT_EQ(run.out.rfind("FIX\nFIX\n  BeginString = FIX.4.4\n", 0), 0u) << run.out;
    size_t first = run.out.find("  statistics/\n");
    size_t second = run.out.find("  statistics/\n", first + 1);
    ASSERT_NE(second, std::string::npos) << run.out;
    std::string one = run.out.substr(first, second - first);
    std::string two = run.out.substr(second);
    EXPECT_NE(one.find("      filesOpened = 1\n"), std::string::npos) << one;
    EXPECT_NE(one.find("      inMessageCount = 2\n"), std::string::npos) << one;
    EXPECT_NE(two.find("      filesOpened = 2\n"), std::string::npos) << two;
    EXPECT_NE(two.find("      inMessageCount = 3\n"), std::string::npos) << two;
  }

  Result level = fixhost("mgmt GETLEVEL --format xml");
  EXPECT_EQ(level.code, 0) << level.err;
  EXPECT_EQ(level.out.rfind("<FIX>\n  <ModuleLevels>\n    <Corvale>Corvale V1.0 Release", 0), 0u)
      << level.out;

  Result stats = fixhost("parse --stats", kHeartbeat + "\n");
  EXPECT_NE(stats.out.find("      inMessageCount = 1\n"), std::string::npos) << stats.out;

  Result badWord = fixhost("parse", "#! FLUSH LONGERTHAN8\n" + kHeartbeat + "\n");
  EXPECT_EQ(badWord.code, 1);
  EXPECT_EQ(badWord.err.rfind("line 1: management word \"LONGERTHAN8\" is longer than 8", 0), 0u)
      << badWord.err;
}

TEST_F(FixhostTest, RoundtripReportsMessagesWrittenDifferently) {
  Result same = fixhost("roundtrip " + quoted(kExamples / "FIX44.fix"));
  EXPECT_EQ(same.code, 0) << same.err;
  EXPECT_EQ(same.out, "roundtrip: 6 messages, 6 identical, 0 different, 0 failed\n");

  Result differs = fixhost("roundtrip", kLogon + "\n" + kWrongBodyLength + "\n" + kBadChecksum);
  EXPECT_EQ(differs.code, 1);
  EXPECT_EQ(differs.out,
            "message 2 (line 2): written message differs from its input at offset 13\n"
            "  in:  8=FIX.4.4|9=52|35=5|34=3|49=TW44|52=20261211-10:00:00.000|56=ISLD|10=249|\n"
            "  out: 8=FIX.4.4|9=51|35=5|34=3|49=TW44|52=20261211-10:00:00.000|56=ISLD|10=248|\n"
            "roundtrip: 3 messages, 1 identical, 1 different, 1 failed\n");
  EXPECT_NE(differs.err.find("message 3 (line 3): 0xCFFF000E"), std::string::npos);
}

TEST_F(FixhostTest, WriteReportsABadTreeAndGoesOn) {
  Result written = fixhost("write " + quoted(kExamples / "order.xml"));
  EXPECT_EQ(written.code, 0) << written.err;
  ASSERT_EQ(splitLines(written.out).size(), 1u);
  // What was written parses back to the same tree.
  Result reparsed = fixhost("parse --format xml", written.out);
  Result again = fixhost("write", reparsed.out);
  EXPECT_EQ(again.out, written.out);

  Result bad = fixhost("write", R"({"FIX":[{"BeginString":"FIX.4.4"},{"MsgType":"0"}]})"
                                "\n"
                                R"({"FIX":[{"BeginString":"FIX.4.4"},{"NoSuchField":"1"}]})"
                                "\n"
                                R"({"FIX":[{"BeginString":"FIX.4.4"},{"MsgType":"1"}]})"
                                "\n");
  EXPECT_EQ(bad.code, 1);
  EXPECT_EQ(splitLines(bad.out).size(), 2u) << bad.out;
  EXPECT_EQ(bad.err.rfind("tree 2 (line 2): 0xCFFF0015 Unrecognized data name in parse tree", 0),
            0u)
      << bad.err;

  Result malformed = fixhost("write", "{\"FIX\": [\n{\"MsgType\": }]}\n");
  EXPECT_EQ(malformed.code, 1);
  EXPECT_EQ(malformed.err.rfind("JSON: line 2, column 13:", 0), 0u) << malformed.err;
}

TEST_F(FixhostTest, UsesFixmetadirWhenSetAndItsOwnMetadataOtherwise) {
  // An empty metadata directory: no level is known, so every element is named after its tag.
  fs::create_directories(dir_ / "empty");
  Result run = fixhost("parse", kHeartbeat + "\n", "FIXMETADIR=" + quoted(dir_ / "empty"));
  EXPECT_EQ(run.out.rfind("FIX\n  FX8 = FIX.4.4\n  FX9 = 51\n  FX35 = 5\n", 0), 0u) << run.out;
  Result own = fixhost("parse", kHeartbeat + "\n");
  EXPECT_EQ(own.out.rfind("FIX\n  BeginString = FIX.4.4\n", 0), 0u) << own.out;
  // info names the directory in use and the levels in it.
  Result info = fixhost("info", "", "FIXMETADIR=" + quoted(dir_ / "empty"));
  EXPECT_NE(info.out.find("metadata  " + (dir_ / "empty").string() + "\nlevels    (none)\n"),
            std::string::npos)
      << info.out;
  Result ownInfo = fixhost("info");
  EXPECT_NE(ownInfo.out.find("classes   FIX, FIXONLY\n"), std::string::npos) << ownInfo.out;
  EXPECT_NE(ownInfo.out.find(" FIX44 "), std::string::npos) << ownInfo.out;
  // The diagnostic build gives the same tree.
  Result diagnostic = fixhost("parse --diagnostic", kHeartbeat + "\n");
  EXPECT_EQ(diagnostic.out, own.out);
}

TEST_F(FixhostTest, UsageAndSetupErrorsHaveTheirOwnExitCodes) {
  struct Case {
    std::string args;
    std::string env;
    int code;
    std::string err;  // the start of standard error
  };
  const Case cases[] = {
      {"--help", "", 0, ""},
      {"", "", 2, "fixhost: no command"},
      {"frobnicate", "", 2, "fixhost: unknown command \"frobnicate\""},
      {"parse --bogus", "", 2, "fixhost: unknown option --bogus"},
      {"parse --format yaml", "", 2, "fixhost: --format must be text, xml or json"},
      {"parse -j 0", "", 2, "fixhost: -j needs a number of at least 1"},
      {"parse --class NOPE -", "", 2, "fixhost: unknown parser class NOPE"},
      {"mgmt", "", 2, "fixhost: mgmt needs a command word"},
      {"bench", "", 2, "fixhost: bench needs exactly one FILE"},
      {"parse /nonexistent/x.fix", "", 3, "fixhost: cannot read /nonexistent/x.fix: "},
      {"parse --plugin /nonexistent/Corvale.lil -", "", 4,
       "fixhost: cannot load plug-in /nonexistent/Corvale.lil: "},
      {"parse --metadata /nonexistent -", "", 5,
       "fixhost: metadata directory /nonexistent does not exist"},
      {"parse -", "FIXMETADIR=/nonexistent", 5,
       "fixhost: metadata directory /nonexistent does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    Result run = fixhost(c.args, kHeartbeat + "\n", c.env);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
    if (c.code != 0) {
      EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    }
  }
  EXPECT_NE(fixhost("--help").out.find("Exit codes:"), std::string::npos);
}

}  // namespace
