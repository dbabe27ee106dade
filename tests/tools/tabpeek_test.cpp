// tabpeek: usage, console errors and exit codes, and the exact report of small files.
#include <string>
#include <vector>

#include "mtx/mtxwriter.h"
#include "tabpeek.h"
#include "tabwright.h"
#include "tooltest.h"

namespace {

using corvale_test::readFile;
using corvale_test::writeFile;
using tooltest::ToolRun;
namespace fs = std::filesystem;

ToolRun tabpeek(const std::vector<std::string>& args) {
  return tooltest::runTool(tabpeek::run, "tabpeek", args);
}

// Compiles a definitions pair with tabwright into <base>.mtx.
void compile(const std::string& base, const std::string& fields, const std::string& repeats) {
  writeFile(base + "_def.txt", fields);
  writeFile(base + "_rep.txt", repeats);
  const ToolRun run =
      tooltest::runTool(tabwright::run, "tabwright", {base + "_def.txt", base + "_rep.txt", base});
  ASSERT_EQ(run.exitCode, 0) << run.console;
}

const char kUsage[] =
    "\nTabpeek V1.00\n"
    "\nCommand usage is:\n\n"
    "  tabpeek mtx-file-name\n\n"
    "A report file is printed with with the name of\n"
    "the metadata file and an extension of msg\n"
    "Exit code 102: the file is not a valid metadata file; the reason is printed.\n";

const char kRepeatHeading[] =
    "\n\n\nRepeating item definitions\n"
    "\nMsg Cnt 1st  name          Allowed items\n\n";

using Tabpeek = tooltest::ScratchDir;

TEST_F(Tabpeek, UsageForQuestionMarksAndNoArgument) {
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"?"}, {"/?"}, {"-?"}}) {
    const ToolRun run = tabpeek(args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.console, kUsage);
  }
}

TEST_F(Tabpeek, FilesThatCannotBeOpened) {
  writeFile("blocked.mtx", "");
  fs::create_directory("blocked.msg");
  const ToolRun missing = tabpeek({"none.mtx"});
  EXPECT_EQ(missing.exitCode, 100);
  EXPECT_EQ(missing.console, "Unable to open input file - none.mtx\n");
  EXPECT_FALSE(fs::exists("none.msg"));
  const ToolRun blocked = tabpeek({"blocked.mtx"});
  EXPECT_EQ(blocked.exitCode, 101);
  EXPECT_EQ(blocked.console, "Unable to open message file - blocked.msg\n");
}

TEST_F(Tabpeek, PrintsEntriesRepeatsAndHeader) {
  compile("FIX42", "35,MsgType,STRING,16\n96,RawData,DATA,0,0,95\n", "D,78,79,Allocs,80\n");
  const ToolRun run = tabpeek({"FIX42.mtx"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.console, "");
  EXPECT_EQ(readFile("FIX42.msg"), std::string("Processing file FIX42.mtx\n"
                                               " Type Format    RawLen   Flags   Name\n\n"
                                               "   35 String           0x10 0x00 MsgType\n"
                                               "   96 Raw           95 0x00 0x00 RawData\n") +
                                       kRepeatHeading +
                                       " D  78   79  Allocs               80 \n"
                                       "\nHeader Length 32\n"
                                       "Version       0\n"
                                       "Max vars      2\n"
                                       "Names offset  80\n"
                                       "Unicode ofs   107\n");
}

TEST_F(Tabpeek, ColumnsCutWidenAndStayEmpty) {
  compile("odd",
          "123456,Odd,bogus,255,1,1234567\n"
          "7,Seven,day-of-month,2\n",
          "AE,552,54,Sides\n"
          "ABCDEFG,1234,5678,AGroupNameLongerThanTwenty,1,,2\n");
  EXPECT_EQ(tabpeek({"odd.mtx"}).exitCode, 0);
  EXPECT_EQ(readFile("odd.msg"), std::string("Processing file odd.mtx\n"
                                             " Type Format    RawLen   Flags   Name\n\n"
                                             "12345            12345 0xff 0x01 Odd\n"
                                             "    7 Day of Mon       0x02 0x00 Seven\n") +
                                     kRepeatHeading +
                                     "AE 552   54  Sides                \n"
                                     "ABCDEFG 1234  5678  AGroupNameLongerThanTwenty 1 \n"
                                     "\nHeader Length 32\n"
                                     "Version       0\n"
                                     "Max vars      2\n"
                                     "Names offset  80\n"
                                     "Unicode ofs   109\n");
}

TEST_F(Tabpeek, EveryAllowedItemIsPrinted) {
  std::string items;
  std::string printed;
  for (int i = 0; i < 1000; ++i) {
    items += "," + std::to_string(10000 + i);
    printed += std::to_string(10000 + i) + " ";
  }
  compile("many", "1,A,INT,0\n", "D,1,2,G" + items + "\n");
  EXPECT_EQ(tabpeek({"many.mtx"}).exitCode, 0);
  const std::string report = readFile("many.msg");
  EXPECT_NE(report.find("\n D   1    2  G                    " + printed + "\n"),
            std::string::npos);
}

TEST_F(Tabpeek, EmptyFilePrintsHeadingsAndHeader) {
  mtx::MetadataWriter none;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(none.build(&bytes, nullptr));
  writeFile("empty.mtx", std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(tabpeek({"empty.mtx"}).exitCode, 0);
  EXPECT_EQ(readFile("empty.msg"), std::string("Processing file empty.mtx\n"
                                               " Type Format    RawLen   Flags   Name\n\n") +
                                       kRepeatHeading +
                                       "\nHeader Length 32\n"
                                       "Version       0\n"
                                       "Max vars      0\n"
                                       "Names offset  32\n"
                                       "Unicode ofs   34\n");
}

TEST_F(Tabpeek, MalformedFileIsRejectedWithItsReason) {
  writeFile("short.mtx", std::string(10, '\0'));
  std::string offsets(38, '\0');
  offsets[0] = 32;
  offsets[12] = 32;
  offsets[16] = 34;
  offsets[20] = 38;
  offsets[24] = 5;  // five repeat entries in a file that holds none
  writeFile("count.mtx", offsets);
  const std::pair<const char*, const char*> rows[] = {
      {"short.mtx", "file of 10 bytes is shorter than its 32-byte header"},
      {"count.mtx", "repeat entry count larger than the file holds: 5"},
  };
  for (const auto& [file, reason] : rows) {
    const ToolRun run = tabpeek({file});
    EXPECT_EQ(run.exitCode, 102);
    const std::string message =
        std::string("Not a valid metadata file - ") + file + ": " + reason + "\n";
    EXPECT_EQ(run.console, message);
    const std::string report = readFile(fs::path(file).replace_extension(".msg"));
    EXPECT_EQ(report, std::string("Processing file ") + file + "\n" + message);
  }
}

TEST_F(Tabpeek, ArgumentIsCutTo254Characters) {
  fs::create_directory("x.d");
  const std::string name = "x.d/" + std::string(250, 'a');
  compile("cut", "1,A,INT,0\n", "");
  fs::copy_file("cut.mtx", name);
  const ToolRun run = tabpeek({name + "IGNORED"});
  EXPECT_EQ(run.exitCode, 0) << run.console;
  EXPECT_EQ(readFile("x.msg").rfind("Processing file " + name + "\n", 0), 0u);
}

}  // namespace
