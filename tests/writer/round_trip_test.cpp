// Parsed messages written back by the loaded plug-in (both builds): the bytes that were read come
// back, on the parser that read them and on another one.
#include <gtest/gtest.h>

#include <set>

#include "broker/broker.h"
#include "writer_support.h"

namespace writer_test {
namespace {

// The names of the folders below element, as the tree stands.
void collectFolders(const broker::Element& element, std::set<std::string>& names) {
  for (broker::Element e = element.rawFirstChild(); e; e = e.rawNextSibling()) {
    if (e.type() == CCI_ELEMENT_TYPE_NAME) names.insert(e.nameUtf8());
    collectFolders(e, names);
  }
}

class RoundTripTest : public testing::TestWithParam<PluginBuild> {
 protected:
  void load(const std::string& metadataDir) {
    plugin_ = loadPlugin(GetParam().path, metadataDir);
    parser_ = std::make_unique<broker::Parser>(*plugin_, "FIX");
    other_ = std::make_unique<broker::Parser>(*plugin_, "FIX");
  }

  std::unique_ptr<broker::Plugin> plugin_;
  std::unique_ptr<broker::Parser> parser_;
  std::unique_ptr<broker::Parser> other_;
};

TEST_P(RoundTripTest, ProjectCorpusComesBackByteForByte) {
  load(shippedMetadataDir());
  traceOff(*plugin_);
  const std::vector<std::string> files = corpusFiles(projectCorpusDir());
  ASSERT_FALSE(files.empty()) << projectCorpusDir();
  EXPECT_GT(checkCorpusRoundTrip(*parser_, *other_, files), 0);
}

struct Shape {
  const char* what;
  const char* beginString;
  std::string body;               // '|' stands for SOH, also inside raw data
  std::set<std::string> folders;  // folders the parse must have made
};

const Shape kShipped[] = {
    {"nested repeating groups, three levels",
     "FIX.4.4",
     "35=AE|49=A|56=B|34=2|52=20260101-10:00:00|571=1|487=0|17=1|150=F|570=N|55=X|32=1|31=1|"
     "75=20260101|60=20260101-10:00:00|552=2|54=1|37=O|11=C|453=2|448=P1|447=D|452=1|802=2|523=S|"
     "803=1|523=T|803=2|448=P2|447=D|452=3|54=2|37=P|11=D|",
     {"Sides", "PartyIDs", "PartySubIDs"}},
    {"raw data holding SOH",
     "FIX.4.4",
     "35=A|49=A|56=B|34=1|52=20260101-10:00:00|98=0|108=30|"
     "95=5|96=a|b|c|",
     {}},
    {"XmlData holding SOH",
     "FIX.4.2",
     "35=n|49=A|56=B|34=1|52=20260101-10:00:00|212=9|213=<x>|y</x>|",
     {}},
    {"multiple-value string", "FIX.4.2", "35=D|49=A|56=B|34=1|18=1 2 A|55=X|", {"ExecInst"}},
    {"undefined tags, one with a leading zero", "FIX.4.2", "35=0|9999=Z|055=X|58=x|", {}},
};

TEST_P(RoundTripTest, ShapesOfTheShippedLevelsComeBack) {
  load(shippedMetadataDir());
  for (const Shape& shape : kShipped) {
    const std::string message = fixMessage(shape.beginString, shape.body);
    broker::Message parsed = parser_->parse(message);
    EXPECT_EQ(parser_->write(parsed), message) << shape.what;
    std::set<std::string> folders;
    collectFolders(parsed.body(), folders);
    for (const std::string& folder : shape.folders)
      EXPECT_TRUE(folders.count(folder)) << shape.what << ": no folder " << folder;
    broker::Message again = parser_->parse(message);
    EXPECT_EQ(other_->write(again), message) << shape.what << " on another parser";
  }
}

// The parser puts the items of an embedded message in place of its DATA field; written by the
// class FIX, they become that field again.
TEST_P(RoundTripTest, EmbeddedMessagesComeBackForTheClassFix) {
  load(fixtureMetadata());
  const std::string bodies[] = {
      "35=B|95=12|96=35=D|55=XYZ||58=hi|",
      "35=B|95=32|96=35=D|95=12|96=35=D|55=XYZ||58=x||58=hi|",  // one inside another
      "35=B|95=12|96=35=D|55=XYZ||95=6|96=58=hi||",             // two after each other
  };
  for (const std::string& body : bodies) {
    const std::string message = fixMessage("FIX.4.2", body);
    broker::Message parsed = parser_->parse(message);
    EXPECT_EQ(parser_->write(parsed), message);
  }
}

TEST_P(RoundTripTest, ClassFixOnlyWritesEmbeddedItemsInPlace) {
  load(fixtureMetadata());
  broker::Parser fixOnly(*plugin_, "FIXONLY");
  broker::Message parsed =
      fixOnly.parse(fixMessage("FIX.4.2", "35=B|95=12|96=35=D|55=XYZ||58=hi|"));
  EXPECT_EQ(fixOnly.write(parsed), fixMessage("FIX.4.2", "35=B|95=12|35=D|55=XYZ|58=hi|"));
}

// White space between values is not kept by the parse: the values come back joined by one blank.
TEST_P(RoundTripTest, MultipleValuesComeBackJoinedByOneBlank) {
  load(shippedMetadataDir());
  const struct {
    const char* read;
    const char* written;
  } cases[] = {
      {"18=1  2\t3|", "18=1 2 3|"},
      {"18=1 2 |", "18=1 2|"},
      {"18= 1|", "18= 1|"},  // a leading blank gives an empty first value
      {"18=|", "18=|"},
  };
  for (const auto& c : cases) {
    broker::Message parsed = parser_->parse(fixMessage("FIX.4.2", std::string("35=D|") + c.read));
    EXPECT_EQ(parser_->write(parsed), fixMessage("FIX.4.2", std::string("35=D|") + c.written))
        << c.read;
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, RoundTripTest, testing::ValuesIn(pluginBuilds()),
                         PluginBuildName());

}  // namespace
}  // namespace writer_test
