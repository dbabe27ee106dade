// The message properties decide how the bytes are read: the code page (CodedCharSetId, 437 when
// missing), whether the message is a management command (MessageSet), and where the message
// starts in the bit stream (the offset).
#include <gtest/gtest.h>

#include "codec_support.h"

namespace codec_test {
namespace {

// Groups, text raw data with an SOH inside, a multiple-value string and a letter outside ASCII.
const std::u16string kMessage =
    u"8=FIX.TEST\x01"
    u"35=D\x01"
    u"78=1\x01"
    u"79=X1\x01"
    u"80=10\x01"
    u"212=5\x01"
    u"213=<\x01x/>\x01"
    u"18=a b\x01"
    u"58=caf\u00e9\x01";
const std::string kTree =
    "BeginString=FIX.TEST\nMsgType=D\nNoAllocs=1\nAllocs/\n  AllocAccount=X1\n"
    "  AllocShares=10\nXmlDataLen=5\nXmlData=<^Ax/>\nExecInst/\n  Val=a\n  Val=b\n"
    "Text=caf\xc3\xa9\n";

using CodePageTest = FixtureTest;

TEST_P(CodePageTest, SingleByteCodePagesGiveTheSameTree) {
  broker::Parser parser(*plugin_, "FIX");
  for (int ccsid : {437, 819, 500, 1047}) {
    SCOPED_TRACE(ccsid);
    const std::string bytes = withCheckSumIn(kMessage, ccsid);
    broker::Message parsed = parser.parse(bytes, {.messageSet = "", .ccsid = ccsid});
    EXPECT_EQ(parsed.parsedLength(), static_cast<int>(bytes.size()));
    EXPECT_EQ(dumpTree(parsed.body()), kTree);
  }
}

TEST_P(CodePageTest, Utf8WithAsciiOnlyParses) {
  broker::Parser parser(*plugin_, "FIX");
  const std::u16string ascii =
      u"8=FIX.TEST\x01"
      u"35=D\x01"
      u"58=plain\x01";
  broker::Message parsed =
      parser.parse(withCheckSumIn(ascii, 1208), {.messageSet = "", .ccsid = 1208});
  EXPECT_EQ(dumpTree(parsed.body()), "BeginString=FIX.TEST\nMsgType=D\nText=plain\n");
}

TEST_P(CodePageTest, MissingCodedCharSetIdMeans437) {
  broker::Parser parser(*plugin_, "FIX");
  broker::Message in437 = parser.parse(withCheckSumIn(kMessage, 437),
                                       {.messageSet = "", .ccsid = 437, .hasCcsid = false});
  EXPECT_EQ(dumpTree(in437.body()), kTree);
  // Bytes of code page 819 read as 437: the e with acute accent (0xE9) is 437's capital theta.
  broker::Message in819 = parser.parse(withCheckSumIn(kMessage, 819),
                                       {.messageSet = "", .ccsid = 437, .hasCcsid = false});
  const std::string tree = dumpTree(in819.body());
  EXPECT_NE(tree.find("Text=caf\xce\x98\n"), std::string::npos) << tree;
}

TEST_P(CodePageTest, OffsetBeforeTheMessage) {
  broker::Parser parser(*plugin_, "FIX");
  for (int ccsid : {437, 500}) {
    SCOPED_TRACE(ccsid);
    const std::string message = withCheckSumIn(kMessage, ccsid);
    // Bytes in front that would fail the framing check if they were read as the message.
    const std::string stream = broker::fromUnicode(
                                   u"9=junk\x01"
                                   u"10=000\x01",
                                   ccsid) +
                               message;
    const int offset = static_cast<int>(stream.size() - message.size());
    broker::Message parsed = parser.parse(stream, {.messageSet = "", .ccsid = ccsid}, offset);
    EXPECT_EQ(parsed.parsedLength(), static_cast<int>(message.size()));
    EXPECT_EQ(dumpTree(parsed.body()), kTree);
  }
}

TEST_P(CodePageTest, ManagementMessageSetSkipsTheFraming) {
  broker::Parser parser(*plugin_, "FIX");
  const std::string command = "00000000GETLEVEL";
  // Not a FIX message: as a FIX message it fails the framing check at once ...
  try {
    parser.parse(command);
    ADD_FAILURE() << "framing check passed";
  } catch (const broker::Error& e) {
    EXPECT_EQ(e.number, 0xCFFF000Au) << e.describe();
  }
  // ... and as a management message it is taken over without one.
  broker::Message parsed = parser.parse(command, {.messageSet = "SYSTMGMT", .ccsid = 437});
  EXPECT_EQ(parsed.parsedLength(), static_cast<int>(command.size()));
}

INSTANTIATE_TEST_SUITE_P(Kinds, CodePageTest, testing::ValuesIn(kEveryKind), KindName());

}  // namespace
}  // namespace codec_test
