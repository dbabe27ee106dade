// The parse and write callbacks and the ParserContext lifecycle, driven through the stand-in
// broker with the plug-in's modules linked into the test, so that the context and the counters
// can be inspected.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "broker/broker.h"
#include "plugin/corvale.h"
#include "plugin/fixsub.h"
#include "plugin/parsubs.h"
#include "plugin_test_support.h"
#include "tests/support/fix_messages.h"
#include "tests/support/trace_file.h"

namespace {

using corvale_test::soh;
using corvale_test::TraceFile;
using corvale_test::withCheckSum;
using corvale_test::withCheckSumIn;

class BUILD_SUITE(CallbacksTest) : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("FIXMETADIR", CORVALE_BUILD_MTX_DIR, 1);
    plugin_ = std::make_unique<broker::Plugin>(&bipGetParserFactory);
    parser_ = std::make_unique<broker::Parser>(*plugin_, "FIX");
  }
  ParserContext* context() const { return static_cast<ParserContext*>(parser_->context()); }

  TraceFile trace_;
  std::unique_ptr<broker::Plugin> plugin_;
  std::unique_ptr<broker::Parser> parser_;
};

// A Heartbeat of FIX.4.2: the message up to its trailer, and the whole message.
const std::string kHeartbeatText = soh("8=FIX.4.2|9=5|35=0|");
const std::string kHeartbeat = withCheckSum(kHeartbeatText);

TEST_F(BUILD_SUITE(CallbacksTest), TableOfTheInProcessEntry) {
  const CpiFunctionTable* table = plugin_->functionTable("FIX");
  ASSERT_EQ(table, &parserFunctionTable);
  EXPECT_EQ(plugin_->functionTable("FIXONLY"), table);
  EXPECT_EQ(table->cpiCreateContext, &cpiCreateContext);
  EXPECT_EQ(table->cpiDeleteContext, &cpiDeleteContext);
  EXPECT_EQ(table->cpiParseBuffer, &cpiParseBuffer);
  EXPECT_EQ(table->cpiParseFirstChild, &cpiParseFirstChild);
  EXPECT_EQ(table->cpiParseLastChild, &cpiParseLastChild);
  EXPECT_EQ(table->cpiParseLeftSibling, &cpiParseLeftSibling);
  EXPECT_EQ(table->cpiParseRightSibling, &cpiParseRightSibling);
  EXPECT_EQ(table->cpiWriteBuffer, &cpiWriteBuffer);
  EXPECT_EQ(table->cpiAlwaysTrue, &alwaysTrue);
}

TEST_F(BUILD_SUITE(CallbacksTest), NewContextIsEmptyAndCounted) {
  EXPECT_EQ(contextCount.load(), 1);
  ParserContext* c = context();
  EXPECT_EQ(c->iMsgType, kMsgTypeNew);
  EXPECT_EQ(c->iText, nullptr);
  EXPECT_EQ(c->iSize, 0);
  EXPECT_EQ(c->iRepeat, nullptr);
  EXPECT_EQ(c->iRootElement, nullptr);
  EXPECT_STREQ(c->iMessageSet, "");
}

TEST_F(BUILD_SUITE(CallbacksTest), FixMessageIsFramedCountedAndTimed) {
  const int n = static_cast<int>(kHeartbeat.size());
  broker::Message message = parser_->parse(kHeartbeat);
  ParserContext* c = context();
  EXPECT_EQ(message.parsedLength(), n);
  EXPECT_EQ(c->iSize, n - kTrailerLength);
  EXPECT_EQ(c->iMsgType, kMsgTypeFix);
  EXPECT_EQ(c->iCodePage, 437);
  EXPECT_EQ(c->iNotFixOnly, 1);
  EXPECT_STREQ(c->iRootName, "FIX");
  EXPECT_STREQ(c->iFixLevel, "FIX42");
  EXPECT_EQ(c->iIndex, 0);
  EXPECT_EQ(c->iChar, '8');
  EXPECT_EQ(c->iRootElement, message.body().handle());
  EXPECT_EQ(c->currentElement, c->iRootElement);
  EXPECT_EQ(std::u16string(c->iText), broker::toUnicode(kHeartbeat, 437));
  EXPECT_EQ(inMessageCount.load(), 1);
  EXPECT_EQ(inTagCount.load(), 1);
  EXPECT_EQ(sumMessageSize.load(), n);
  EXPECT_EQ(maxMessageSize.load(), n);
  EXPECT_EQ(minMessageSize.load(), n);
  EXPECT_EQ(invalidMsgCount.load(), 0);
  // No parse time reaches the minimum and maximum before the next message.
  EXPECT_EQ(maxParseTime.load(), 0);
  EXPECT_EQ(minParseTime.load(), -1);
  EXPECT_EQ(sumParseTime.load(), c->totalParseTime);
}

TEST_F(BUILD_SUITE(CallbacksTest), CodePageAndClassComeFromPropertiesAndRoot) {
  struct Case {
    const char* className;
    broker::Properties properties;
    int codePage;
    int notFixOnly;
  };
  const Case cases[] = {
      {"FIX", {.messageSet = "", .ccsid = 437, .hasCcsid = false}, 437, 1},
      {"FIX", {.messageSet = "", .ccsid = 0, .hasCcsid = true}, 437, 1},
      {"FIX", {.messageSet = "", .ccsid = 819, .hasCcsid = true}, 819, 1},
      {"FIXONLY", {.messageSet = "", .ccsid = 500, .hasCcsid = true}, 500, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    broker::Parser parser(*plugin_, c.className);
    broker::Message message =
        parser.parse(withCheckSumIn(broker::utf16(kHeartbeatText), c.codePage), c.properties);
    ParserContext* context = static_cast<ParserContext*>(parser.context());
    EXPECT_EQ(context->iCodePage, c.codePage);
    EXPECT_EQ(context->iNotFixOnly, c.notFixOnly);
    EXPECT_STREQ(context->iRootName, c.className);
    EXPECT_EQ(context->iText[0], u'8');
    EXPECT_EQ(context->iSize, static_cast<int>(kHeartbeat.size()) - kTrailerLength);
  }
}

TEST_F(BUILD_SUITE(CallbacksTest), OffsetStartsTheMessage) {
  std::string bytes = "JUNKJUNK" + kHeartbeat;
  broker::Message message = parser_->parse(bytes, {}, 8);
  ParserContext* c = context();
  EXPECT_EQ(message.parsedLength(), static_cast<int>(kHeartbeat.size()));
  EXPECT_EQ(std::memcmp(c->iBuffer, kHeartbeat.data(), kHeartbeat.size()), 0);
  EXPECT_EQ(c->iText[0], u'8');
  EXPECT_EQ(sumMessageSize.load(), static_cast<int>(kHeartbeat.size()));
}

TEST_F(BUILD_SUITE(CallbacksTest), FramingErrorsAreRaisedAndCounted) {
  struct Case {
    const char* label;
    std::string bytes;
    int offset;
    uint32_t number;
  };
  const Case cases[] = {
      {"empty", "", 0, FIXERR_NO_BEGIN_STRING},
      {"offset at the end", kHeartbeat, static_cast<int>(kHeartbeat.size()),
       FIXERR_NO_BEGIN_STRING},
      {"no BeginString",
       "9=5\x01"
       "35=0\x01"
       "10=000\x01",
       0, FIXERR_NO_BEGIN_STRING},
      {"shorter than a trailer", "8=F\x01", 0, FIXERR_NO_CHECKSUM},
      {"bad CheckSum",
       "8=FIX.4.2\x01"
       "35=0\x01"
       "10=000\x01",
       0, FIXERR_CHECKSUM_MISMATCH},
  };
  int32_t raised = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    try {
      parser_->parse(c.bytes, {}, c.offset);
      ADD_FAILURE() << "parsed";
    } catch (const broker::Error& error) {
      EXPECT_EQ(error.number, c.number) << error.describe();
    }
    EXPECT_EQ(invalidMsgCount.load(), ++raised);
    EXPECT_EQ(context()->iError, 1);
  }
  EXPECT_EQ(inMessageCount.load(), 0);
  EXPECT_EQ(inTagCount.load(), 0);
  EXPECT_EQ(sumMessageSize.load(), 0);
  EXPECT_EQ(maxParseTime.load(), 0);  // failed messages never reach the minimum and maximum
  EXPECT_EQ(minParseTime.load(), -1);
}

// A broker that passes an offset outside its buffer gets an empty message, never a read outside.
TEST_F(BUILD_SUITE(CallbacksTest), OffsetOutsideTheBufferIsAnEmptyMessage) {
  broker::Message message = parser_->parse(kHeartbeat);
  CciContext* context = cpiCreateContext(parser_->handle());
  for (int offset : {static_cast<int>(kHeartbeat.size()) + 1, -3, 1 << 30}) {
    SCOPED_TRACE(offset);
    try {
      cpiParseBuffer(parser_->handle(), context, offset);
      ADD_FAILURE() << "parsed";
    } catch (const broker::Error& error) {
      EXPECT_EQ(error.number, FIXERR_NO_BEGIN_STRING) << error.describe();
    }
    EXPECT_EQ(static_cast<ParserContext*>(context)->iSize, 0);
  }
  cpiDeleteContext(parser_->handle(), context);
}

TEST_F(BUILD_SUITE(CallbacksTest), NextMessageRecordsThePreviousParseTime) {
  broker::Message first = parser_->parse(kHeartbeat);
  first.complete();
  int64_t firstTime = context()->totalParseTime;
  EXPECT_EQ(sumParseTime.load(), firstTime);
  EXPECT_EQ(context()->currentElement, nullptr);

  broker::Message second = parser_->parse(kHeartbeat);
  EXPECT_EQ(maxParseTime.load(), firstTime);
  EXPECT_EQ(minParseTime.load(), firstTime);
  EXPECT_EQ(inMessageCount.load(), 2);
  EXPECT_EQ(sumMessageSize.load(), 2 * static_cast<int>(kHeartbeat.size()));
  // Every parse callback's time is in the sum, whichever message it served.
  second.complete();
  EXPECT_EQ(sumParseTime.load(), firstTime + context()->totalParseTime);
}

TEST_F(BUILD_SUITE(CallbacksTest), ManagementMessageIsNeitherFramedNorCountedNorTimed) {
  const std::string command = "00000000GETLEVEL";
  broker::Message message = parser_->parse(command, {.messageSet = "SYSTMGMT"});
  ParserContext* c = context();
  EXPECT_EQ(message.parsedLength(), static_cast<int>(command.size()));
  EXPECT_EQ(c->iMsgType, kMsgTypeManagement);
  EXPECT_EQ(c->iSize, static_cast<int>(command.size()));
  EXPECT_STREQ(c->iMessageSet, "SYSTMGMT");

  broker::Element reply = message.body().firstChild();  // runs the command
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply.nameUtf8(), "ModuleLevels");
  EXPECT_TRUE(message.body().completeNext());
  EXPECT_EQ(reply.firstChild().text(), corvaleVersion());

  EXPECT_EQ(inMessageCount.load(), 0);
  EXPECT_EQ(inTagCount.load(), 0);
  EXPECT_EQ(sumMessageSize.load(), 0);
  EXPECT_EQ(sumParseTime.load(), 0);
  EXPECT_EQ(c->totalParseTime, 0);

  // The next message records nothing for a management message.
  parser_->parse(kHeartbeat);
  EXPECT_EQ(maxParseTime.load(), 0);
  EXPECT_EQ(minParseTime.load(), -1);
}

TEST_F(BUILD_SUITE(CallbacksTest), WriteIsCountedAndDiscardsTheParse) {
  broker::Message message = parser_->parse(kHeartbeat);
  message.complete();
  std::string output = parser_->write(message);
  const int n = static_cast<int>(output.size());
  ASSERT_GT(n, 0);
  ParserContext* c = context();
  EXPECT_EQ(c->iSize, 0);
  EXPECT_EQ(c->iNotFixOnly, 1);
  EXPECT_STREQ(c->iRootName, "FIX");
  EXPECT_EQ(writeCount.load(), 1);
  EXPECT_EQ(sumOutputSize.load(), n);
  EXPECT_EQ(maxOutputSize.load(), n);
  EXPECT_EQ(minOutputSize.load(), n);
  // The first counted write sets both times to its duration.
  EXPECT_EQ(maxWriteTime.load(), sumWriteTime.load());
  EXPECT_EQ(minWriteTime.load(), sumWriteTime.load());
  EXPECT_EQ(invalidOutputCount.load(), 0);

  // The write reset the context: the parse before it is never recorded.
  parser_->parse(kHeartbeat);
  EXPECT_EQ(maxParseTime.load(), 0);
  EXPECT_EQ(minParseTime.load(), -1);
}

TEST_F(BUILD_SUITE(CallbacksTest), FailedWriteIsNotCounted) {
  broker::Parser parser(*plugin_, "FIXONLY");
  broker::Message message = parser.createMessage();
  message.body().addText("BeginString", "FIX.4.2");
  message.body().addText("NoSuchFieldName", "1");
  EXPECT_THROW(parser.write(message), broker::Error);
  ParserContext* c = static_cast<ParserContext*>(parser.context());
  EXPECT_EQ(c->iError, 1);
  EXPECT_EQ(c->iNotFixOnly, 0);
  EXPECT_EQ(invalidOutputCount.load(), 1);
  EXPECT_EQ(writeCount.load(), 0);
  EXPECT_EQ(sumOutputSize.load(), 0);
  EXPECT_EQ(minOutputSize.load(), -1);
  EXPECT_EQ(minWriteTime.load(), -1);
}

#if CORVALE_DIAGNOSTIC
TEST_F(BUILD_SUITE(CallbacksTest), ParseBufferAndSaveMsgStatsTraceLines) {
  const int n = static_cast<int>(kHeartbeat.size());
  broker::Message first = parser_->parse(kHeartbeat);
  int64_t firstTime = context()->totalParseTime;
  broker::Message second = parser_->parse(kHeartbeat);
  std::vector<std::string> lines = trace_.lines();
  auto matching = [&](const std::string& pattern) {
    std::regex re(pattern);
    std::vector<size_t> at;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (std::regex_match(lines[i], re)) at.push_back(i);
    }
    return at;
  };
  // Each entry line is set apart by an empty line before it.
  std::vector<size_t> entries = matching(
      R"(PLUGIN: -> cpiParseBuffer\(\) [0-9]{4}/[0-9]{1,2}/[0-9]{1,2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{1,3} )");
  ASSERT_EQ(entries.size(), 2u) << trace_.contents();
  for (size_t at : entries) {
    EXPECT_EQ(lines[at - 1], "");
    EXPECT_TRUE(std::regex_match(lines[at + 1],
                                 std::regex(R"( parser \(0x[0-9a-f]+\) context \(0x[0-9a-f]+\) )"
                                            R"(offset \(0\))")))
        << lines[at + 1];
  }
  EXPECT_EQ(matching("PLUGIN: <- cpiParseBuffer\\(\\) buffer 0x[0-9a-f]+ message size =" +
                     std::to_string(n - kTrailerLength))
                .size(),
            2u);
  EXPECT_EQ(matching("PLUGIN: -> saveMsgStats\\(\\) context=0x[0-9a-f]+ totalParseTime=" +
                     std::to_string(firstTime) + " iSize=" + std::to_string(n - kTrailerLength) +
                     " iMsgType=0")
                .size(),
            1u);
  EXPECT_EQ(matching("PLUGIN: <- saveMsgStats\\(\\) maxParseTime=" + std::to_string(firstTime) +
                     ", minParseTime=" + std::to_string(firstTime) +
                     ", maxMessage=" + std::to_string(n) + ", minMessage=" + std::to_string(n))
                .size(),
            1u);
}
#endif

TEST_F(BUILD_SUITE(CallbacksTest), ResetContextFreesWhatItHoldsAndZeroFills) {
  ParserContext* c = static_cast<ParserContext*>(cpiCreateContext(nullptr));
  ASSERT_NE(c, nullptr);
  c->iText = static_cast<char16_t*>(std::calloc(64, sizeof(char16_t)));
  c->iOutBuffer = static_cast<uint8_t*>(std::malloc(128));
  c->iRepeat = new RepeatFrame{};
  c->iRepeat->next = new RepeatFrame{};
  c->iSize = 50;
  c->iError = 1;
  c->iMsgType = kMsgTypeManagement;
  c->totalParseTime = 99;
  std::strcpy(c->iFixLevel, "FIX42");
  std::strcpy(c->iMessageSet, "SYSTMGMT");
  resetContext(c);
  EXPECT_EQ(c->iText, nullptr);
  EXPECT_EQ(c->iOutBuffer, nullptr);
  EXPECT_EQ(c->iRepeat, nullptr);
  EXPECT_EQ(c->iSize, 0);
  EXPECT_EQ(c->iError, 0);
  EXPECT_EQ(c->iMsgType, kMsgTypeFix);
  EXPECT_EQ(c->totalParseTime, 0);
  EXPECT_STREQ(c->iFixLevel, "");
  EXPECT_STREQ(c->iMessageSet, "");
  cpiDeleteContext(nullptr, c);
}

// Under the address sanitizer a leak of anything the context holds fails these.
TEST_F(BUILD_SUITE(CallbacksTest), DeleteContextFreesWhatItHolds) {
  ParserContext* empty = static_cast<ParserContext*>(cpiCreateContext(nullptr));
  cpiDeleteContext(nullptr, empty);  // a context without a message: only the record

  ParserContext* held = static_cast<ParserContext*>(cpiCreateContext(nullptr));
  held->iText = static_cast<char16_t*>(std::calloc(64, sizeof(char16_t)));
  held->iOutBuffer = static_cast<uint8_t*>(std::malloc(128));
  held->iRepeat = new RepeatFrame{};
  held->iRepeat->next = new RepeatFrame{};
  cpiDeleteContext(nullptr, held);
  cpiDeleteContext(nullptr, nullptr);
  EXPECT_EQ(contextCount.load(), 3);
}

TEST_F(BUILD_SUITE(CallbacksTest), ParserDeletedInTheMiddleOfAParseReleasesTheContext) {
  broker::Message message = parser_->parse(kHeartbeat);
  message.body().firstChild();  // part of the message is parsed, the text is held
  EXPECT_NE(context()->iText, nullptr);
  parser_.reset();
}

}  // namespace
