// tabwright: usage, console errors and exit codes, the report, and the metadata file it writes.
#include <string>
#include <vector>

#include "mtx/mtx.h"
#include "tabwright.h"
#include "tooltest.h"

namespace {

using corvale_test::readFile;
using corvale_test::writeFile;
using tooltest::ToolRun;
namespace fs = std::filesystem;

ToolRun tabwright(const std::vector<std::string>& args) {
  return tooltest::runTool(tabwright::run, "tabwright", args);
}

const char kUsage[] =
    "\nTabwright V1.00\n"
    "\nCommand usage is:\n\n"
    "  tabwright Fix-definitions-file Repeating-definitions-file Fix-metadata-file\n\n"
    "A report file is printed with with the name of\n"
    "the fix definitions file and an extension of msg\n"
    "The file extension should be omitted from the metadata file name.  An extension of \"mtx\" "
    "will be appended.\n"
    "Exit code 103: a definition does not fit the metadata file format; the report file names it "
    "and no metadata file is written.\n";

using Tabwright = tooltest::ScratchDir;

TEST_F(Tabwright, UsageForQuestionMarksAndTooFewArguments) {
  const std::vector<std::vector<std::string>> calls = {
      {}, {"a.def"}, {"a.def", "a.rep"}, {"?", "b", "c"}, {"/?", "b", "c"}, {"-?", "b", "c"},
  };
  for (const auto& args : calls) {
    const ToolRun run = tabwright(args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.console, kUsage);
  }
  EXPECT_TRUE(fs::is_empty("."));
}

TEST_F(Tabwright, FilesThatCannotBeOpened) {
  writeFile("good.def", "35,MsgType,STRING,16\n");
  writeFile("good.rep", "");
  writeFile("blocked.def", "35,MsgType,STRING,16\n");
  fs::create_directory("blocked.msg");  // the report's name is taken by a folder
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    const char* console;
  } rows[] = {
      {{"none.def", "good.rep", "out"}, 100, "Unable to open input file - none.def\n"},
      {{"good.def", "none.rep", "out"},
       101,
       "Unable to open repeating definitions file - none.rep\n"},
      {{"blocked.def", "good.rep", "out"}, 102, "Unable to open message file - blocked.msg\n"},
  };
  for (const Row& row : rows) {
    const ToolRun run = tabwright(row.args);
    EXPECT_EQ(run.exitCode, row.exitCode);
    EXPECT_EQ(run.console, row.console);
  }
  EXPECT_FALSE(fs::exists("none.msg"));
  EXPECT_FALSE(fs::exists("good.msg"));
  EXPECT_FALSE(fs::exists("out.mtx"));
}

TEST_F(Tabwright, ReportCountsLinesAndNamesEachEntry) {
  writeFile("fix42.def",
            "* FIX 4.2 fields\n"
            "35,MsgType,STRING,16\n"
            "\n"
            "12345,FiveDigitTag,INT,0\n"
            "49,SenderCompID,STRING\n"  // two commas: invalid
            "96,RawData,DATA,0,0,95\n");
  writeFile("fix42.rep", "D,78,79,Allocs,80\n* comment\nAE,552,54,Sides,37\n");
  const ToolRun run = tabwright({"fix42.def", "fix42.rep", "FIX42"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.console, "");
  EXPECT_EQ(readFile("fix42.msg"),
            "Processing file fix42.def\n"
            "Processing file fix42.rep\n"
            "Writing meta data file FIX42.mtx\n"
            "  35 MsgType\n"
            "1234 FiveDigitTag\n"
            "  96 RawData\n"
            "Input lines read     3  file fix42.def\n"
            "\nTotal lines processed in metadata definitions file 6\n"
            "Total comment lines skipped 2\n"
            "Total invalid lines skipped 1\n"
            "Total repeating item lines processed 2\n");
  std::string reason;
  auto image = mtx::MetadataImage::fromFile("FIX42.mtx", &reason);
  ASSERT_NE(image, nullptr) << reason;
  EXPECT_EQ(image->maxVars(), 3);
  EXPECT_EQ(image->repeatCount(), 2);
  EXPECT_EQ(mtx::findTagByNumber(*image, u"12345"), 1);
  EXPECT_EQ(mtx::findRepeatDefinition(*image, "AE", u"552", u"54"), 1);
}

TEST_F(Tabwright, OnlyCommentsWritesNoMetadataFile) {
  writeFile("c.def", "* one\n\n   \t\n*35,MsgType,STRING,16\n");
  writeFile("c.rep", "D,78,79,Allocs,80\n");
  const ToolRun run = tabwright({"c.def", "c.rep", "c"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(readFile("c.msg"),
            "Processing file c.def\n"
            "Processing file c.rep\n"
            "\nTotal lines processed in metadata definitions file 4\n"
            "Total comment lines skipped 4\n"
            "Total invalid lines skipped 0\n"
            "Total repeating item lines processed 1\n");
  EXPECT_FALSE(fs::exists("c.mtx"));
}

TEST_F(Tabwright, LongLinesAreReadWhole) {
  // A group with 1,000 items: one line of about 6,000 characters, one entry.
  std::string items;
  for (int i = 0; i < 1000; ++i) items += "," + std::to_string(10000 + i);
  writeFile("long.def", "*" + std::string(3000, 'x') + "\n35,MsgType,STRING,16\n");
  writeFile("long.rep", "D,78,79,Allocs" + items + "\n");
  EXPECT_EQ(tabwright({"long.def", "long.rep", "long"}).exitCode, 0);
  const std::string report = readFile("long.msg");
  EXPECT_NE(report.find("Total lines processed in metadata definitions file 2\n"
                        "Total comment lines skipped 1\n"
                        "Total invalid lines skipped 0\n"
                        "Total repeating item lines processed 1\n"),
            std::string::npos)
      << report;
  std::string reason;
  auto image = mtx::MetadataImage::fromFile("long.mtx", &reason);
  ASSERT_NE(image, nullptr) << reason;
  ASSERT_EQ(image->repeatCount(), 1);
  const char16_t* item = image->allowedItems(0);
  int count = 0;
  for (; *item != 0; item += std::char_traits<char16_t>::length(item) + 1) ++count;
  EXPECT_EQ(count, 1000);
}

TEST_F(Tabwright, MetadataFileThatCannotBeCreatedIsReportedOnly) {
  writeFile("m.def", "35,MsgType,STRING,16\n");
  writeFile("m.rep", "");
  const ToolRun run = tabwright({"m.def", "m.rep", "missing/out"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.console, "");
  EXPECT_EQ(readFile("m.msg"),
            "Processing file m.def\n"
            "Processing file m.rep\n"
            "Unable to open meta data file - missing/out.mtx\n"
            "Input lines read     1  file m.def\n"
            "\nTotal lines processed in metadata definitions file 1\n"
            "Total comment lines skipped 0\n"
            "Total invalid lines skipped 0\n"
            "Total repeating item lines processed 0\n");
}

TEST_F(Tabwright, MetadataNameGetsMtxOnlyWithoutADot) {
  writeFile("n.def", "35,MsgType,STRING,16\n");
  writeFile("n.rep", "");
  fs::create_directories("out");
  fs::create_directories("my.dir");
  const std::pair<const char*, const char*> rows[] = {
      {"out/FIX42", "out/FIX42.mtx"}, {"FIX42.dat", "FIX42.dat"}, {"my.dir/FIX42", "my.dir/FIX42"}};
  for (const auto& [argument, written] : rows) {
    EXPECT_EQ(tabwright({"n.def", "n.rep", argument}).exitCode, 0);
    EXPECT_TRUE(fs::exists(written)) << argument;
  }
  EXPECT_EQ(fs::file_size("out/FIX42.mtx"), fs::file_size("FIX42.dat"));
}

TEST_F(Tabwright, ReportIsNamedAfterTheDefinitionsPathUpToItsFirstDot) {
  fs::create_directories("defs");
  fs::create_directories("v1.0/defs");
  writeFile("defs/fix42.txt", "35,MsgType,STRING,16\n");
  writeFile("v1.0/defs/fix42.txt", "35,MsgType,STRING,16\n");
  writeFile("r.rep", "");
  EXPECT_EQ(tabwright({"defs/fix42.txt", "r.rep", "a.mtx"}).exitCode, 0);
  EXPECT_TRUE(fs::exists("defs/fix42.msg"));
  EXPECT_EQ(tabwright({"v1.0/defs/fix42.txt", "r.rep", "b.mtx"}).exitCode, 0);
  EXPECT_TRUE(fs::exists("v1.msg"));
}

TEST_F(Tabwright, MessageTypeOverSevenCharactersStopsTheMetadataFile) {
  writeFile("t.def", "35,MsgType,STRING,16\n");
  writeFile("t.rep", "D,78,79,Allocs,80\nABCDEFGH,78,79,Allocs,80\n");
  const ToolRun run = tabwright({"t.def", "t.rep", "t"});
  EXPECT_EQ(run.exitCode, 103);
  EXPECT_EQ(readFile("t.msg"),
            "Processing file t.def\n"
            "Processing file t.rep\n"
            "Repeating definitions line 2 rejected: message type ABCDEFGH is longer than 7 "
            "characters\n"
            "Meta data file not written - t.mtx\n"
            "Input lines read     1  file t.def\n"
            "\nTotal lines processed in metadata definitions file 1\n"
            "Total comment lines skipped 0\n"
            "Total invalid lines skipped 0\n"
            "Total repeating item lines processed 1\n");
  EXPECT_FALSE(fs::exists("t.mtx"));
}

}  // namespace
