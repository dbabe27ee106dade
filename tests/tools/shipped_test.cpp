// The metadata compiled by the build from the committed definitions: every level is there, loads,
// prints, and a sample of its entries and groups agrees with the source dictionaries.
#include <string>
#include <vector>

#include "mtx/mtx.h"
#include "tabpeek.h"
#include "tooltest.h"

namespace {

using corvale_test::readFile;
namespace fs = std::filesystem;

const fs::path kBuildMtx = CORVALE_BUILD_MTX_DIR;

struct ShippedLevel {
  const char* name;
  int fields;
  int repeats;
  std::vector<std::string> lines;  // lines the printed report must hold
};

// Each line checked by hand against the dictionary: tag, type, raw-length tag, flags, name;
// message type, count tag, first tag, group name, allowed items.
const ShippedLevel kLevels[] = {
    {"FIX40",
     138,
     6,
     {"   35 Char             0x10 0x00 MsgType", "   52 Timestamp        0x00 0x00 SendingTime"}},
    {"FIX41", 206, 10, {"   96 Raw           95 0x00 0x00 RawData"}},
    {"FIX42", 405, 38, {"   79 String           0x02 0x00 AllocAccount"}},
    {"FIX43", 635, 235, {"  448 String           0x02 0x00 PartyID"}},
    {"FIX44",
     912,
     823,
     {
         "   35 String           0x10 0x00 MsgType", "   96 Raw           95 0x00 0x00 RawData",
         "  213 Raw          212 0x40 0x00 XmlData", "   78 Integer          0x00 0x00 NoAllocs",
         "   79 String           0x02 0x00 AllocAccount", "   54 Char             0x02 0x00 Side",
         "  200 YYYYMM           0x00 0x00 MaturityMonthYear",
         " D 627  628  Hops                 629 630 ",
         " D  78   79  Allocs               661 736 467 539 524 80 ",
         " D 453  448  PartyIDs             447 452 802 523 ",
         " D 802  523  PartySubIDs          803 ",  // nested in PartyIDs
     }},
    {"FIXT11",
     6028,
     26091,
     {
         "   35 String           0x10 0x00 MsgType",
         "   89 Raw           93 0x00 0x00 Signature",
         "  213 Raw          212 0x40 0x00 XmlData",
         " 1402 Raw         1401 0x00 0x00 EncryptedPassword",
         " 1128 String           0x00 0x00 ApplVerID",
         "40209 Integer          0x02 0x00 NoPhysicalSettlDeliverableObligations",
         " A 627  628  Hops                 629 630 ",
         "AE 627  628  Hops                 629 630 ",
         // The instance begins with a nested group, whose count tag is then the first tag.
         "AE 40204  40209  PhysicalSettlTerms   40210 40205 40206 40207 40208 ",
         "AE 40209  40210  PhysicalSettlDeliverableObligations 40211 ",
     }},
};

using Shipped = tooltest::ScratchDir;

TEST_F(Shipped, EveryLevelLoadsAndPrintsWhatItsDictionarySays) {
  for (const ShippedLevel& level : kLevels) {
    SCOPED_TRACE(level.name);
    const fs::path mtx = kBuildMtx / (std::string(level.name) + ".mtx");
    std::string reason;
    auto image = mtx::MetadataImage::fromFile(mtx.string(), &reason);
    ASSERT_NE(image, nullptr) << reason;
    EXPECT_EQ(image->maxVars(), level.fields);
    EXPECT_EQ(image->repeatCount(), level.repeats);

    // Printed from a copy, so that the report lands in the scratch folder.
    fs::copy_file(mtx, mtx.filename());
    const tooltest::ToolRun run =
        tooltest::runTool(tabpeek::run, "tabpeek", {mtx.filename().string()});
    ASSERT_EQ(run.exitCode, 0) << run.console;
    const std::string report = readFile(std::string(level.name) + ".msg");
    for (const std::string& line : level.lines) {
      EXPECT_NE(report.find("\n" + line + "\n"), std::string::npos) << line;
    }
  }
}

}  // namespace
