// Trees built through the broker API, without a parse, written by the loaded plug-in (both
// builds) against the small level of data/writer.def.
#include <gtest/gtest.h>

#include <functional>

#include "broker/broker.h"
#include "tests/support/trace_file.h"
#include "writer_support.h"

namespace writer_test {
namespace {

using broker::Element;

class BuiltTreeTest : public testing::TestWithParam<PluginBuild> {
 protected:
  void SetUp() override {
    plugin_ = loadPlugin(GetParam().path, fixtureMetadata());
    parser_ = std::make_unique<broker::Parser>(*plugin_, "FIX");
  }

  broker::Message newMessage(int ccsid = 437) {
    return parser_->createMessage({.messageSet = "", .ccsid = ccsid});
  }

  // The error that writing message raises; fails the test when it raises none.
  broker::Error writeError(const broker::Message& message) {
    try {
      const std::string written = parser_->write(message);
      ADD_FAILURE() << "written without error: " << written;
    } catch (const broker::Error& e) {
      return e;
    }
    return {};
  }

  std::unique_ptr<broker::Plugin> plugin_;
  std::unique_ptr<broker::Parser> parser_;
};

TEST_P(BuiltTreeTest, WorkedExampleGetsItsComputedBodyLengthAndChecksum) {
  for (const char* className : {"FIX", "FIXONLY"}) {
    broker::Parser parser(*plugin_, className);
    broker::Message message = parser.createMessage();
    const Element body = message.body();
    body.addText("BeginString", "FIX.4.2");
    body.addText("BodyLength", "60");  // wrong on purpose: the writer computes its own
    body.addText("MsgType", "D");
    body.addText("SenderCompID", "ABC");
    body.addText("NoAllocs", "2");
    for (const char* account : {"X1", "X2"}) {
      const Element allocs = body.addFolder("Allocs");
      allocs.addText("AllocAccount", account);
      allocs.addText("AllocShares", account[1] == '1' ? "10" : "20");
    }
    body.addText("FX9999", "Z");
    body.addText("Text", "hi");
    EXPECT_EQ(parser.write(message),
              soh("8=FIX.4.2|9=54|35=D|49=ABC|78=2|79=X1|80=10|79=X2|80=20|9999=Z|58=hi|10=175|"))
        << className;
  }
}

struct ItemCase {
  const char* what;
  std::function<void(const Element&)> build;  // adds the elements after MsgType
  std::string body;                           // what follows "35=D|", '|' for SOH
};

std::string bytesOf(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

const std::string kTenThousand(10000, 'x');
const std::string kSeventyThousand(70000, 'y');  // beyond any fixed rendering buffer

const ItemCase kItemCases[] = {
    {"integer", [](const Element& b) { b.addInteger("MsgSeqNum", 42); }, "34=42|"},
    {"negative integer", [](const Element& b) { b.addInteger("MsgSeqNum", -7); }, "34=-7|"},
    {"real with a fraction", [](const Element& b) { b.addReal("Price", 2.5); }, "44=2.5|"},
    {"whole real", [](const Element& b) { b.addReal("Price", 3.0); }, "44=3|"},
    {"negative real", [](const Element& b) { b.addReal("Price", -1.5); }, "44=-1.5|"},
    {"large real", [](const Element& b) { b.addReal("Price", 1e20); }, "44=100000000000000000000|"},
    {"boolean true", [](const Element& b) { b.addBoolean("PossDupFlag", true); }, "43=Y|"},
    {"boolean false", [](const Element& b) { b.addBoolean("PossDupFlag", false); }, "43=N|"},
    {"date",
     [](const Element& b) {
       b.addDate("TradeDate", {2001, 4, 17});
     },
     "75=20010417|"},
    {"time",
     [](const Element& b) {
       b.addTime("MDEntryTime", {9, 5, 7.9f});
     },
     "273=09:05:07|"},
    {"timestamp",
     [](const Element& b) {
       b.addTimestamp("SendingTime", {2001, 4, 17, 9, 5, 7.9f});
     },
     "52=20010417-09:05:07|"},
    {"10,000 characters", [](const Element& b) { b.addText("Text", kTenThousand); },
     "58=" + kTenThousand + "|"},
    {"70,000 characters", [](const Element& b) { b.addText("Text", kSeventyThousand); },
     "58=" + kSeventyThousand + "|"},
    {"character outside ASCII", [](const Element& b) { b.addText("Text", u"caf\u00e9"); },
     "58=caf\x82|"},  // code page 437
    {"FX and an undefined tag", [](const Element& b) { b.addText("FX9999", "Z"); }, "9999=Z|"},
    {"FX and a defined tag", [](const Element& b) { b.addText("FX55", "ACME"); }, "55=ACME|"},
    {"FX and a tag with a leading zero", [](const Element& b) { b.addText("FX055", "ACME"); },
     "055=ACME|"},
    {"group folder writes its items only",
     [](const Element& b) {
       b.addText("NoAllocs", "1");
       b.addFolder("Allocs").addText("AllocAccount", "A");
     },
     "78=1|79=A|"},
    {"byte array with SOH and zero bytes",
     [](const Element& b) {
       b.addInteger("SecureDataLen", 4);
       b.addBytes("SecureData", {'a', 0x01, 0x00, 'b'});
     },
     "90=4|91=a|" + bytesOf({0}) + "b|"},
    {"length field before a byte array carries its real length",
     [](const Element& b) {
       b.addText("SecureDataLen", "99");
       b.addBytes("SecureData", std::vector<uint8_t>(12, 'z'));
     },
     "90=12|91=zzzzzzzzzzzz|"},
    {"length field before characters carries their byte length",
     [](const Element& b) {
       b.addInteger("XmlDataLen", 1);
       b.addText("XmlData", std::u16string(u"<a>\u0001\u0000</a>", 9));
     },
     "212=9|213=<a>|" + bytesOf({0}) + "</a>|"},
    {"length field not followed by its data keeps its value",
     [](const Element& b) {
       b.addText("SecureDataLen", "99");
       b.addText("Text", "x");
     },
     "90=99|58=x|"},
    {"multiple values as Val children",
     [](const Element& b) {
       const Element exec = b.addFolder("ExecInst");
       for (const char* v : {"1", "2", "A"}) exec.addText("Val", v);
     },
     "18=1 2 A|"},
    {"multiple values without a Val", [](const Element& b) { b.addFolder("ExecInst"); }, "18=|"},
    {"multiple values as one text", [](const Element& b) { b.addText("ExecInst", "1 2"); },
     "18=1 2|"},
    {"BodyLength that does not follow BeginString is an item",
     [](const Element& b) { b.addText("BodyLength", "5"); }, "9=5|"},
};

// A tree without BeginString: the header says FIX.4.2 and MsgType, the first element, is written
// as the first item of the body.
TEST_P(BuiltTreeTest, EveryValueTypeIsWrittenWhole) {
  for (const ItemCase& c : kItemCases) {
    broker::Message message = newMessage();
    message.body().addText("MsgType", "D");
    c.build(message.body());
    EXPECT_EQ(parser_->write(message), fixMessage("FIX.4.2", "35=D|" + c.body)) << c.what;
  }
}

TEST_P(BuiltTreeTest, HeaderNamesAreRecognisedAsFxNamesToo) {
  broker::Message message = newMessage();
  message.body().addText("FX8", "FIX.4.2");
  message.body().addText("FX9", "1");
  message.body().addText("MsgType", "0");
  EXPECT_EQ(parser_->write(message), fixMessage("FIX.4.2", "35=0|"));
}

TEST_P(BuiltTreeTest, EmbeddedMessageFolderBecomesLengthAndDataFields) {
  struct Case {
    const char* className;
    bool lengthElementFirst;  // the tree also holds its own RawDataLength before the folder
    std::string body;
  };
  const Case cases[] = {
      {"FIX", false, "35=B|95=12|96=35=D|55=XYZ||58=hi|"},
      {"FIX", true, "35=B|95=12|96=35=D|55=XYZ||58=hi|"},
      {"FIXONLY", false, "35=B|35=D|55=XYZ|58=hi|"},
  };
  for (const Case& c : cases) {
    broker::Parser parser(*plugin_, c.className);
    broker::Message message = parser.createMessage();
    const Element body = message.body();
    body.addText("MsgType", "B");
    if (c.lengthElementFirst) body.addText("RawDataLength", "3");
    const Element raw = body.addFolder("RawData");
    raw.addText("MsgType", "D");
    raw.addText("Symbol", "XYZ");
    body.addText("Text", "hi");
    EXPECT_EQ(parser.write(message), fixMessage("FIX.4.2", c.body))
        << c.className << (c.lengthElementFirst ? " with a length element" : "");
  }
}

TEST_P(BuiltTreeTest, OutputIsInTheMessageCodePage) {
  for (int ccsid : {500, 1047, 819, 1208}) {
    broker::Message message = newMessage(ccsid);
    message.body().addText("BeginString", "FIX.4.2");
    message.body().addText("MsgType", "D");
    message.body().addText("Text", u"a=b \u00e9");
    // The same message built from its bytes in that code page: length and sum over those bytes.
    EXPECT_EQ(parser_->write(message), fixMessageIn("FIX.4.2", u"35=D|58=a=b \u00e9|", ccsid))
        << ccsid;
  }
}

TEST_P(BuiltTreeTest, UnknownNameFailsWithTheName) {
  struct Case {
    std::function<void(const Element&)> build;
    const char* name;
  };
  const Case cases[] = {
      {[](const Element& b) { b.addText("NotAField", "x"); }, "NotAField"},
      {[](const Element& b) { b.addText("FX", "x"); }, "FX"},
      {[](const Element& b) { b.addText("FX12a", "x"); }, "FX12a"},
      {[](const Element& b) { b.addText("FX1234567", "x"); }, "FX1234567"},  // no tag has 7 digits
      {[](const Element& b) { b.addFolder("Allocs").addText("Nope", "x"); }, "Nope"},
  };
  for (const Case& c : cases) {
    broker::Message message = newMessage();
    message.body().addText("MsgType", "D");
    c.build(message.body());
    const broker::Error e = writeError(message);
    EXPECT_EQ(e.number, 0xCFFF0015u) << c.name;
    EXPECT_EQ(e.type, 3);
    EXPECT_EQ(e.sourceFile, "fixsub");
    EXPECT_EQ(e.function, "createOutput");
    EXPECT_EQ(e.messageSource, u"fixerr");
    EXPECT_EQ(e.traceText, std::string("Unrecognized data name in parse tree - ") + c.name + "\n");
    EXPECT_EQ(e.inserts, std::vector<std::string>{c.name});
  }
}

TEST_P(BuiltTreeTest, LongUnknownNameIsCutInTheInsert) {
  broker::Message message = newMessage();
  message.body().addText(std::string(600, 'N'), "x");
  EXPECT_EQ(writeError(message).inserts, std::vector<std::string>{std::string(255, 'N')});
}

TEST_P(BuiltTreeTest, LevelWithoutMetadataFails) {
  broker::Message message = newMessage();
  message.body().addText("BeginString", "FIX.9.9");
  message.body().addText("MsgType", "D");
  const broker::Error e = writeError(message);
  EXPECT_EQ(e.number, 0xCFFF0016u);
  EXPECT_EQ(e.function, "createOutputMessage");
  EXPECT_EQ(e.traceText, "No metadata found for this fix level - FIX99\n");
  EXPECT_EQ(e.inserts, std::vector<std::string>{"FIX99"});
}

TEST_P(BuiltTreeTest, ParserWritesAgainAfterAFailedWrite) {
  broker::Message bad = newMessage();
  bad.body().addText("Nope", "x");
  writeError(bad);
  broker::Message good = newMessage();
  good.body().addText("MsgType", "0");
  EXPECT_EQ(parser_->write(good), fixMessage("FIX.4.2", "35=0|"));
}

INSTANTIATE_TEST_SUITE_P(Builds, BuiltTreeTest, testing::ValuesIn(pluginBuilds()),
                         PluginBuildName());

// The diagnostic build traces the writer's steps when its switches are on.
TEST(WriterTrace, DiagnosticBuildTracesTheWrite) {
  const corvale_test::TraceFile trace;
  auto plugin = loadPlugin(CORVALE_PLUGIN_DIAGNOSTIC, fixtureMetadata(), trace.path());
  {
    broker::Parser parser(*plugin, "FIX");
    broker::Message message = parser.createMessage();
    message.body().addText("MsgType", "D");
    message.body().addText("Text", "hi");
    parser.write(message);
  }
  const std::string text = trace.contents();
  for (const char* line : {"PLUGIN: -> createOutputMessage()", "PLUGIN: -> createHeader()",
                           "PLUGIN: -> calcOutputSize()", "PLUGIN: -> createOutput()",
                           "Data appended for element Text next offset 11 remaining",
                           "PLUGIN: <- createOutputMessage() length="})
    EXPECT_NE(text.find(line), std::string::npos) << line;
}

}  // namespace
}  // namespace writer_test
