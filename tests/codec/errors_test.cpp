// Every error of the scanner, the tree builder and the raw-data handler: its number, text and
// inserts in order, one more invalid message counted, and a parser that goes on with the next
// message. The malformed messages of data/bad are run too.
#include <gtest/gtest.h>

#include <algorithm>

#include "codec_support.h"
#include "corvale.h"

namespace codec_test {
namespace {

enum class Framing { Add, AsIs };  // append the computed trailer, or take the bytes as they are
enum class Stage { Parse, Walk };  // raised by taking the buffer over, or by walking the tree

struct ErrorCase {
  const char* what;
  const char* message;  // "|" stands for SOH
  Framing framing;
  Stage stage;
  uint32_t number;
  const char* function;
  const char* text;
  std::vector<std::string> inserts;
};

// "8=FIX.TEST|9=5|35=D|" is 20 characters: items after it start at offset 20.
// clang-format off
const ErrorCase kErrors[] = {
    {"message does not begin with 8=", "9=5|35=0|10=000|", Framing::AsIs, Stage::Parse,
     0xCFFF000A, "checkMessageFormat", "No begin string element found at front of message", {}},
    {"a blank before 8=", " 8=FIX.TEST|35=0|", Framing::Add, Stage::Parse,
     0xCFFF000A, "checkMessageFormat", "No begin string element found at front of message", {}},
    {"BeginString without SOH", "8=FIX.4.2", Framing::AsIs, Stage::Parse,
     0xCFFF000B, "checkMessageFormat", "No delimiter (0x01) found for BeginString data", {}},
    {"BeginString of 64 characters other than dots",
     "8=1234567890123456789012345678901234567890123456789012345678901234|35=0|",
     Framing::Add, Stage::Parse,
     0xCFFF000B, "checkMessageFormat", "No delimiter (0x01) found for BeginString data", {}},
    {"a line feed after the final SOH", "8=FIX.TEST|35=0|10=161|\n", Framing::AsIs, Stage::Parse,
     0xCFFF000C, "checkMessageFormat",
     "No ending delimiter character (0x01) found at end of message", {}},
    {"a trailer with two digits", "8=FIX.TEST|35=0|10=12|", Framing::AsIs, Stage::Parse,
     0xCFFF000D, "validateCheckSum", "No CheckSum item at end of message", {}},
    {"a message shorter than the trailer", "8=|", Framing::AsIs, Stage::Parse,
     0xCFFF000D, "validateCheckSum", "No CheckSum item at end of message", {}},
    {"checksum mismatch: the computed sum is the first insert", "8=FIX.TEST|35=0|10=000|",
     Framing::AsIs, Stage::Parse,
     0xCFFF000E, "validateCheckSum",
     "Checksum tag value (0) does not match calculated sum (161)", {"161", "0"}},
    {"a seven-digit tag", "8=FIX.TEST|9=5|35=D|1234567=x|", Framing::Add, Stage::Walk,
     0xCFFF0017, "isolateTag", "tag too long at offset 26\n", {}},
    {"seven digits and a letter are too long, not a bad character",
     "8=FIX.TEST|9=5|35=D|1234567A=x|", Framing::Add, Stage::Walk,
     0xCFFF0017, "isolateTag", "tag too long at offset 26\n", {}},
    {"a letter in a tag", "8=FIX.TEST|9=5|35=D|12A=x|", Framing::Add, Stage::Walk,
     0xCFFF0018, "isolateTag", "Invalid character in tag at offset 22\n", {}},
    {"an empty tag", "8=FIX.TEST|9=5|35=D|=x|", Framing::Add, Stage::Walk,
     0xCFFF0014, "parseElement", "No identifier found preceding equal sign at offset (21)\n",
     {"21"}},
    {"raw data after a price", "8=FIX.TEST|9=5|35=D|44=1.5|96=abc|", Framing::Add, Stage::Walk,
     0xCFFF001E, "processRawData", "Invalid data type (3) in length field for raw data item",
     {"3"}},
    {"raw data right after raw data", "8=FIX.TEST|9=5|35=D|95=1|96=a|96=b|", Framing::Add,
     Stage::Walk,
     0xCFFF001E, "processRawData", "Invalid data type (16) in length field for raw data item",
     {"16"}},
    {"raw data length 0", "8=FIX.TEST|9=5|35=D|95=0|96=x|", Framing::Add, Stage::Walk,
     0xCFFF001F, "processRawData",
     "length field for raw data at offset (28) field evaluates to zero or negative number",
     {"28"}},
    {"raw data length that is not a number", "8=FIX.TEST|9=5|35=D|95=abc|96=x|", Framing::Add,
     Stage::Walk,
     0xCFFF001F, "processRawData",
     "length field for raw data at offset (30) field evaluates to zero or negative number",
     {"30"}},
    {"raw data length past the message", "8=FIX.TEST|9=5|35=D|95=50|96=abc|", Framing::Add,
     Stage::Walk,
     0xCFFF0020, "processRawData",
     "length field (50) for raw data at offset (29) field exceeds remaining buffer\n",
     {"50", "29", "4"}},
    {"raw data length one larger than the data", "8=FIX.TEST|9=5|35=D|95=4|96=abc|58=x|",
     Framing::Add, Stage::Walk,
     0xCFFF0021, "processRawData", "No delimiter at end of raw data at offset(28) - length (4)",
     {"28", "4"}},
    {"raw data that ends the message has no delimiter", "8=FIX.TEST|9=5|35=D|95=4|96=abc|",
     Framing::Add, Stage::Walk,
     0xCFFF0021, "processRawData", "No delimiter at end of raw data at offset(28) - length (4)",
     {"28", "4"}},
    {"an error inside an embedded message (offsets count from the data)",
     "8=FIX.TEST|9=5|35=D|90=3|91==x||58=z|", Framing::Add, Stage::Walk,
     0xCFFF0014, "parseElement", "No identifier found preceding equal sign at offset (1)\n",
     {"1"}},
};
// clang-format on

class ErrorsTest : public FixtureTest {
 protected:
  // Runs a message that must fail and returns what was raised.
  broker::Error failure(broker::Parser& parser, const std::string& bytes, Stage stage,
                        const broker::Properties& properties = {}) {
    try {
      broker::Message parsed = parser.parse(bytes, properties);
      EXPECT_EQ(stage, Stage::Walk) << "the framing check passed";
      parsed.complete();
    } catch (const broker::Error& e) {
      return e;
    }
    ADD_FAILURE() << "no error was raised";
    return broker::Error{};
  }

  // The parser is still good for a well-formed message.
  void expectReusable(broker::Parser& parser) {
    broker::Message next = parser.parse(withCheckSum(soh("8=FIX.TEST|35=D|95=3|96=a|b|58=ok|")));
    EXPECT_EQ(dumpTree(next.body()),
              "BeginString=FIX.TEST\nMsgType=D\nRawDataLength=3\nRawData=bytes:a^Ab\nText=ok\n");
  }
};

TEST_P(ErrorsTest, EachErrorWithItsNumberTextAndInserts) {
  broker::Parser parser(*plugin_, "FIX");
  for (const ErrorCase& c : kErrors) {
    SCOPED_TRACE(c.what);
    const std::string raw = soh(c.message);
    const std::string bytes = c.framing == Framing::Add ? withCheckSum(raw) : raw;
    const int32_t invalidBefore = invalidMsgCount.load();
    const int32_t messagesBefore = inMessageCount.load();
    const broker::Error e = failure(parser, bytes, c.stage);
    EXPECT_EQ(e.number, c.number) << e.describe();
    EXPECT_EQ(e.type, CCI_EXCEPTION_TYPE_PARSER);
    EXPECT_EQ(e.sourceFile, "fixsub");
    EXPECT_EQ(e.function, c.function);
    EXPECT_EQ(e.messageSource, u"fixerr");
    EXPECT_EQ(e.traceText, c.text);
    EXPECT_EQ(e.inserts, c.inserts);
    if (countersVisible()) {
      EXPECT_EQ(invalidMsgCount.load() - invalidBefore, 1);
      // Only a message whose framing passed is counted as a message.
      EXPECT_EQ(inMessageCount.load() - messagesBefore, c.stage == Stage::Walk ? 1 : 0);
    }
    expectReusable(parser);
  }
}

TEST_P(ErrorsTest, LongestBeginStringAndDotsPass) {
  broker::Parser parser(*plugin_, "FIX");
  // 63 characters other than dots, and dots that do not count.
  const std::string level(63, 'L');
  broker::Message parsed = parser.parse(withCheckSum(soh("8=" + level + "...|35=0|")));
  EXPECT_EQ(dumpTree(parsed.body()), "FX8=" + level + "...\nFX35=0\n");
}

TEST_P(ErrorsTest, SumThatIsAMultipleOf256PassesWithZeros) {
  broker::Parser parser(*plugin_, "FIX");
  // A Text value padded with printable characters until the bytes before the trailer (its SOH
  // included) sum to a multiple of 256.
  const std::string head = soh("8=FIX.TEST|58=");
  unsigned sum = 1;
  for (unsigned char c : head) sum += c;
  std::string pad;
  for (unsigned missing = (256 - sum % 256) % 256; missing != 0;) {
    const unsigned c = missing >= 32 && missing <= 126 ? missing : 'A';
    pad += static_cast<char>(c);
    missing = (missing + 256 - c) % 256;
  }
  broker::Message parsed = parser.parse(head + pad + "\x01" + "10=000\x01");
  EXPECT_EQ(dumpTree(parsed.body()), "BeginString=FIX.TEST\nText=" + pad + "\n");
}

TEST_P(ErrorsTest, MultiByteCodePageIsRejectedNotMisparsed) {
  broker::Parser parser(*plugin_, "FIX");
  const std::string bytes = withCheckSumIn(
      u"8=FIX.TEST\x01"
      u"35=D\x01"
      u"58=\u00e9t\u00e9\x01",
      1208);
  const broker::Error e = failure(parser, bytes, Stage::Parse, {.messageSet = "", .ccsid = 1208});
  EXPECT_EQ(e.number, 0xCFFF0022u) << e.describe();
  EXPECT_EQ(e.function, "convertMessageText");
  EXPECT_NE(e.traceText.find("1208"), std::string::npos) << e.traceText;
  EXPECT_EQ(e.inserts, (std::vector<std::string>{"1208", "19"}));
  expectReusable(parser);
}

// The malformed messages copied from the acceptance scripts.
struct BadFile {
  const char* file;
  uint32_t number;        // 0: the message parses (its fault is not one the codec looks at)
  uint32_t numberAfter8;  // for files that mix kinds: the number when a line does begin with 8=
};

const BadFile kBadFiles[] = {
    {"garbled.fix", 0xCFFF000D, 0xCFFF000D},
    {"checksum_wrong.fix", 0xCFFF000E, 0xCFFF000E},
    {"bodylength_wrong.fix", 0xCFFF000D, 0xCFFF000D},
    {"bodylength_wrong_cksum_ok.fix", 0, 0},
    {"embedded_soh.fix", 0xCFFF000D, 0xCFFF000D},
    {"embedded_soh_framed.fix", 0xCFFF0018, 0xCFFF0018},
    {"first_fields_out_of_order.fix", 0xCFFF000A, 0xCFFF000D},
};

TEST_P(ErrorsTest, MalformedCorpusMessages) {
  broker::Parser parser(*plugin_, "FIX");
  for (const BadFile& bad : kBadFiles) {
    const std::vector<std::string> messages = readMessages(dataDir() + "/bad/" + bad.file);
    ASSERT_FALSE(messages.empty()) << bad.file;
    for (size_t i = 0; i < messages.size(); ++i) {
      SCOPED_TRACE(std::string(bad.file) + ":" + std::to_string(i + 1));
      const std::string& message = messages[i];
      const uint32_t expected = message.rfind("8=", 0) == 0 ? bad.numberAfter8 : bad.number;
      try {
        broker::Message parsed = parser.parse(message);
        parsed.complete();
        EXPECT_EQ(expected, 0u) << "parsed without error";
      } catch (const broker::Error& e) {
        EXPECT_EQ(e.number, expected) << e.describe();
        if (e.number == 0xCFFF000E) {
          // The trailer says 256, which no sum modulo 256 can be.
          ASSERT_EQ(e.inserts.size(), 2u);
          EXPECT_EQ(e.inserts[1], "256");
        }
      }
    }
  }
  expectReusable(parser);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ErrorsTest, testing::ValuesIn(kEveryKind), KindName());

}  // namespace
}  // namespace codec_test
