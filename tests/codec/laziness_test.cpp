// Elements are built only as the broker walks to them, one item at a time, and the item count
// grows with what is built.
#include <gtest/gtest.h>

#include <algorithm>

#include "codec_support.h"
#include "corvale.h"
#include "metadata.h"

namespace codec_test {
namespace {

const std::string kWorked = "8=FIX.4.2|9=60|35=D|49=ABC|78=2|79=X1|80=10|79=X2|80=20|9999=Z|58=hi|";

using LazinessTest = FixtureTest;

TEST_P(LazinessTest, WalkingBuildsOneItemAtATime) {
  broker::Parser parser(*plugin_, "FIX");
  const int32_t before = inTagCount.load();
  broker::Message parsed = parser.parse(withCheckSum(soh(kWorked)));
  broker::Element body = parsed.body();
  EXPECT_EQ(rawCount(body), 0) << "no element may exist after the buffer is taken over";
  EXPECT_FALSE(body.completePrevious());
  EXPECT_FALSE(body.completeNext());
  if (countersVisible()) {
    EXPECT_EQ(inTagCount.load() - before, 1);
  }

  broker::Element first = body.firstChild();
  EXPECT_EQ(first.nameUtf8(), "BeginString");
  EXPECT_EQ(dumpRaw(body), "BeginString=FIX.4.2\n");
  EXPECT_TRUE(body.completePrevious());
  EXPECT_FALSE(body.completeNext());
  if (countersVisible()) {
    EXPECT_EQ(inTagCount.load() - before, 2);
  }

  EXPECT_EQ(first.nextSibling().nameUtf8(), "BodyLength");
  EXPECT_EQ(rawCount(body), 2);

  dumpTree(body);
  EXPECT_EQ(rawCount(body), 13);  // eleven items and two group folders
  EXPECT_TRUE(body.completeNext());
  // One for the message, one per item; folders are not items.
  if (countersVisible()) {
    EXPECT_EQ(inTagCount.load() - before, 12);
  }
}

TEST_P(LazinessTest, AskingForTheLastChildParsesEverything) {
  broker::Parser parser(*plugin_, "FIX");
  broker::Message parsed = parser.parse(withCheckSum(soh(kWorked)));
  EXPECT_EQ(parsed.body().lastChild().nameUtf8(), "Text");
  EXPECT_EQ(rawCount(parsed.body()), 13);
  EXPECT_TRUE(parsed.body().completeNext());
}

TEST_P(LazinessTest, GroupFolderIsCompletedWhenTheGroupCloses) {
  broker::Parser parser(*plugin_, "FIX");
  broker::Message parsed = parser.parse(withCheckSum(soh(kWorked)));
  broker::Element e = parsed.body().firstChild();
  while (e.nameUtf8() != "Allocs") e = e.nextSibling();
  // The first instance folder exists, is open at its end until the next 79 arrives.
  EXPECT_TRUE(e.completePrevious());
  EXPECT_EQ(e.firstChild().nameUtf8(), "AllocAccount");
  EXPECT_EQ(e.firstChild().nextSibling().nameUtf8(), "AllocShares");
  EXPECT_FALSE(e.completeNext());
  EXPECT_FALSE(e.firstChild().nextSibling().nextSibling());
  EXPECT_TRUE(e.completeNext());
  EXPECT_EQ(e.nextSibling().nameUtf8(), "Allocs");
}

INSTANTIATE_TEST_SUITE_P(Kinds, LazinessTest, testing::ValuesIn(kEveryKind), KindName());

// The counter and the cache are read in the plug-in linked into the test: the loaded ones keep
// theirs hidden.
class InProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    compileFixture("worked", dir_.path(), "FIX42");
    compileFixture("edge", dir_.path(), "FIXTEST");
    plugin_ = loadPlugin(PluginKind::InProcess, dir_.path());
  }

  TempDir dir_;
  std::unique_ptr<broker::Plugin> plugin_;
};

TEST_F(InProcessTest, ItemCountFollowsTheKindOfItem) {
  broker::Parser parser(*plugin_, "FIX");
  const int32_t before = inTagCount.load();
  // BeginString, MsgType, the multiple-value field once, no count for the field without an
  // element, the length and the raw data, the embedded message's length and its one item.
  broker::Message parsed =
      parser.parse(withCheckSum(soh("8=FIX.TEST|35=D|18=a b|5000=s|95=1|96=x|90=5|91=55=Y||")));
  dumpTree(parsed.body());
  EXPECT_EQ(inTagCount.load() - before, 8);
}

TEST_F(InProcessTest, EveryParseStepGivesItsMetadataSlotBack) {
  broker::Parser parser(*plugin_, "FIX");
  broker::Message parsed = parser.parse(withCheckSum(soh(kWorked)));
  auto expectNoneHeld = [] {
    for (int slot = 0; slot < kCacheSlots; ++slot) {
      EXPECT_EQ(cacheSlotState(slot).inUseCount, 0) << "slot " << slot;
    }
  };
  for (broker::Element e = parsed.body().firstChild(); e; e = e.nextSibling()) expectNoneHeld();
  // Also when a step ends by an error.
  broker::Message failing = parser.parse(withCheckSum(soh("8=FIX.4.2|35=D|12A=x|")));
  EXPECT_THROW(failing.complete(), broker::Error);
  expectNoneHeld();
}

}  // namespace
}  // namespace codec_test
