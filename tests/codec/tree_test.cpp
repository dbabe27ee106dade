// The trees the codec builds: the worked example exactly, then one row per shape (groups, nested
// groups, raw data, embedded messages, multiple-value strings, fields without elements, undefined
// tags), each walked forwards and backwards with cni* navigation.
#include <gtest/gtest.h>

#include <algorithm>

#include "codec_support.h"

namespace codec_test {
namespace {

using TreeTest = FixtureTest;

TEST_P(TreeTest, WorkedExampleGivesExactlyItsTree) {
  broker::Parser parser(*plugin_, "FIX");
  const std::string message =
      withCheckSum(soh("8=FIX.4.2|9=60|35=D|49=ABC|78=2|79=X1|80=10|79=X2|80=20|9999=Z|58=hi|"));
  broker::Message parsed = parser.parse(message);
  EXPECT_EQ(parsed.parsedLength(), static_cast<int>(message.size()));
  EXPECT_EQ(dumpTree(parsed.body()),
            "BeginString=FIX.4.2\n"
            "BodyLength=60\n"
            "MsgType=D\n"
            "SenderCompID=ABC\n"
            "NoAllocs=2\n"
            "Allocs/\n"
            "  AllocAccount=X1\n"
            "  AllocShares=10\n"
            "Allocs/\n"
            "  AllocAccount=X2\n"
            "  AllocShares=20\n"
            "FX9999=Z\n"
            "Text=hi\n");
  // Folders are name elements, items name-value elements with character values.
  broker::Element allocs = parsed.body().rawFirstChild();
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(allocs.type(), CCI_ELEMENT_TYPE_NAME_VALUE);
    EXPECT_EQ(allocs.valueType(), CCI_ELEMENT_TYPE_UTF16);
    allocs = allocs.rawNextSibling();
  }
  EXPECT_EQ(allocs.type(), CCI_ELEMENT_TYPE_NAME);
  EXPECT_TRUE(parsed.body().completePrevious() && parsed.body().completeNext());
  expectComplete(parsed.body());
}

TEST_P(TreeTest, ClassFixOnlyBuildsTheSameTree) {
  broker::Parser fix(*plugin_, "FIX");
  broker::Parser fixOnly(*plugin_, "FIXONLY");
  const std::string message = withCheckSum(soh("8=FIX.4.2|35=D|78=1|79=X1|80=10|58=hi|"));
  broker::Message a = fix.parse(message);
  broker::Message b = fixOnly.parse(message);
  EXPECT_EQ(a.body().nameUtf8(), "FIX");
  EXPECT_EQ(b.body().nameUtf8(), "FIXONLY");
  EXPECT_EQ(dumpTree(a.body()), dumpTree(b.body()));
}

struct ShapeCase {
  const char* what;
  const char* items;  // after "8=FIX.TEST|"; "|" stands for SOH; the trailer is added
  const char* tree;   // the dump below BeginString
};

const ShapeCase kShapes[] = {
    {"nested groups: an order's allocations close when the next order starts",
     "35=E|73=2|11=A|78=2|79=X|80=1|79=Y|80=2|55=ACME|11=B|55=MSFT|58=done|",
     "MsgType=E\nNoOrders=2\n"
     "Orders/\n  ClOrdID=A\n  NoAllocs=2\n"
     "  Allocs/\n    AllocAccount=X\n    AllocShares=1\n"
     "  Allocs/\n    AllocAccount=Y\n    AllocShares=2\n"
     "  Symbol=ACME\n"
     "Orders/\n  ClOrdID=B\n  Symbol=MSFT\n"
     "Text=done\n"},
    {"groups still open at the end are closed innermost first", "35=E|73=1|11=A|78=1|79=X|80=1|",
     "MsgType=E\nNoOrders=1\nOrders/\n  ClOrdID=A\n  NoAllocs=1\n"
     "  Allocs/\n    AllocAccount=X\n    AllocShares=1\n"},
    {"a group start without its count field just before is an ordinary item",
     "35=D|58=x|79=X1|80=10|", "MsgType=D\nText=x\nAllocAccount=X1\nAllocShares=10\n"},
    {"no group matches before the message type is known", "78=1|79=A|35=D|",
     "NoAllocs=1\nAllocAccount=A\nMsgType=D\n"},
    {"raw data keeps its bytes, SOH included, and parsing goes on after it",
     "35=D|95=5|96=a|b|c|58=x|", "MsgType=D\nRawDataLength=5\nRawData=bytes:a^Ab^Ac\nText=x\n"},
    {"raw data flagged as text becomes characters", "35=D|212=8|213=<x>|</x>|58=x|",
     "MsgType=D\nXmlDataLen=8\nXmlData=<x>^A</x>\nText=x\n"},
    {"an embedded message's items take the place of the data field",
     "35=D|90=12|91=35=D|55=XYZ||58=after|",
     "MsgType=D\nSecureDataLen=12\nMsgType=D\nSymbol=XYZ\nText=after\n"},
    {"a group opened inside an embedded message goes on after it",
     "35=D|90=10|91=78=1|79=Q||80=5|58=x|",
     "MsgType=D\nSecureDataLen=10\nNoAllocs=1\nAllocs/\n  AllocAccount=Q\n  AllocShares=5\n"
     "Text=x\n"},
    {"multiple-value string: blanks and tabs separate, runs give no empty values",
     "35=D|18=a  b\tc |58=x|", "MsgType=D\nExecInst/\n  Val=a\n  Val=b\n  Val=c\nText=x\n"},
    {"multiple-value string with a leading blank has an empty first value", "18= a|",
     "ExecInst/\n  Val=\n  Val=a\n"},
    {"empty multiple-value string is an empty folder", "18=|58=x|", "ExecInst/\nText=x\n"},
    {"fields without elements are consumed, and still give a raw-data length",
     "5000=secret|5001=3|5002=a|b|58=x|", "HiddenData=bytes:a^Ab\nText=x\n"},
    {"undefined tags are named FX and their digits; a leading zero is kept", "9999=Z|035=D|",
     "FX9999=Z\nFX035=D\n"},
    {"a value may hold = and may be empty", "58=a=b|49=|", "Text=a=b\nSenderCompID=\n"},
    {"the last value may run into the trailer", "35=D|58=hi", "MsgType=D\nText=hi\n"},
    {"a tag alone before the trailer has an empty value", "35=D|58", "MsgType=D\nText=\n"},
};

TEST_P(TreeTest, ShapesForwardAndBackward) {
  broker::Parser parser(*plugin_, "FIX");
  for (const ShapeCase& c : kShapes) {
    SCOPED_TRACE(c.what);
    const std::string message = withCheckSum(soh(std::string("8=FIX.TEST|") + c.items));
    const std::string expected = std::string("BeginString=FIX.TEST\n") + c.tree;
    broker::Message forward = parser.parse(message);
    EXPECT_EQ(dumpTree(forward.body()), expected);
    expectComplete(forward.body());
    broker::Message backward = parser.parse(message);
    EXPECT_EQ(dumpTreeBackward(backward.body()), expected);
  }
}

TEST_P(TreeTest, LevelWithoutMetadataGivesFxNames) {
  broker::Parser parser(*plugin_, "FIX");
  broker::Message parsed = parser.parse(withCheckSum(soh("8=FIX.3.9|9=12|35=D|78=1|79=X|")));
  EXPECT_EQ(dumpTree(parsed.body()), "FX8=FIX.3.9\nFX9=12\nFX35=D\nFX78=1\nFX79=X\n");
}

INSTANTIATE_TEST_SUITE_P(Kinds, TreeTest, testing::ValuesIn(kEveryKind), KindName());

}  // namespace
}  // namespace codec_test
