// Errors raised to the broker and problems logged to it: every argument arrives in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "broker/broker.h"
#include "plugin/corvale.h"
#include "plugin/parsubs.h"
#include "plugin/trace.h"
#include "plugin_test_support.h"
#include "tests/support/trace_file.h"

namespace {

using corvale_test::TraceFile;

// Raises through the one helper and returns what the broker caught.
broker::Error raise(ParserContext* context, ErrorPhase phase, uint32_t number,
                    std::initializer_list<ErrorInsert> inserts) {
  try {
    raiseError(context, phase, "fixsub", 321, "validateCheckSum", number, inserts,
               "Checksum tag value (%d) does not match calculated sum (%d)", 17, 42);
  } catch (const broker::Error& error) {
    return error;
  }
  ADD_FAILURE() << "raiseError returned";
  return {};
}

TEST(BUILD_SUITE(RaiseError), ReachesTheBrokerWithEveryArgumentInOrder) {
  ParserContext context{};
  broker::Error error =
      raise(&context, ErrorPhase::Parse, FIXERR_CHECKSUM_MISMATCH, {42, "seventeen", -3});
  EXPECT_EQ(error.type, 3);
  EXPECT_EQ(error.sourceFile, "fixsub");
  EXPECT_EQ(error.line, 321);
  EXPECT_EQ(error.function, "validateCheckSum");
  EXPECT_EQ(error.messageSource, u"fixerr");
  EXPECT_EQ(error.number, 0xCFFF000Eu);
  EXPECT_EQ(error.traceText, "Checksum tag value (17) does not match calculated sum (42)");
  EXPECT_EQ(error.inserts, (std::vector<std::string>{"42", "seventeen", "-3"}));
}

TEST(BUILD_SUITE(RaiseError), CountsByPhaseAndMarksTheContext) {
  struct Case {
    ErrorPhase phase;
    int32_t invalidMessages, invalidOutputs;
  };
  const Case cases[] = {{ErrorPhase::Parse, 1, 0}, {ErrorPhase::Write, 1, 1}};
  for (const Case& c : cases) {
    ParserContext context{};
    broker::Error error = raise(&context, c.phase, FIXERR_NO_CHECKSUM, {});
    EXPECT_TRUE(error.inserts.empty());
    EXPECT_EQ(context.iError, 1);
    EXPECT_EQ(invalidMsgCount.load(), c.invalidMessages);
    EXPECT_EQ(invalidOutputCount.load(), c.invalidOutputs);
  }
}

TEST(BUILD_SUITE(RaiseError), LongInsertsAreCutNotOverrun) {
  ParserContext context{};
  std::string longText(1000, 'x');
  broker::Error error = raise(&context, ErrorPhase::Parse, FIXERR_EMPTY_TAG, {longText.c_str()});
  ASSERT_EQ(error.inserts.size(), 1u);
  EXPECT_EQ(error.inserts[0], std::string(255, 'x'));
}

#if CORVALE_DIAGNOSTIC
TEST(BUILD_SUITE(RaiseError), TracesTheTextUnderTheSwitchOfItsPhase) {
  TraceFile file;
  initializeTrace();
  ParserContext context{};
  raise(&context, ErrorPhase::Parse, FIXERR_NO_CHECKSUM, {});
  raise(&context, ErrorPhase::Write, FIXERR_UNRECOGNIZED_NAME, {});
  traceLog("|\n");
  traceModule.store(0);
  traceWrite.store(0);
  raise(&context, ErrorPhase::Parse, FIXERR_NO_CHECKSUM, {});
  raise(&context, ErrorPhase::Write, FIXERR_UNRECOGNIZED_NAME, {});
  std::vector<std::string> lines = file.lines();
  ASSERT_GE(lines.size(), 2u);
  // A parse error is a line of its own; a write error is written as it stands (no newline).
  const std::string text = "Checksum tag value (17) does not match calculated sum (42)";
  EXPECT_EQ(lines[lines.size() - 2], text);
  EXPECT_EQ(lines.back(), text + "|");
}
#endif

TEST(BUILD_SUITE(TraceError), LogsOneEventWhoseInsertIsItsText) {
  broker::setLogToStderr(false);
  broker::clearLog();
  traceError("metadata", 77, "Unable to open meta data file - %s", "/data/FIX42.mtx");
  std::vector<broker::LogEvent> events = broker::logEvents();
  ASSERT_EQ(events.size(), 1u);
  const broker::LogEvent& event = events[0];
  EXPECT_EQ(event.type, 0);
  EXPECT_EQ(event.number, 0x8FFF0001u);
  EXPECT_EQ(event.sourceFile, "metadata");
  EXPECT_EQ(event.line, 77);
  EXPECT_EQ(event.function, "traceError");
  EXPECT_EQ(event.messageSource, u"fixerr");
  EXPECT_EQ(event.traceText, "Unable to open meta data file - /data/FIX42.mtx");
  EXPECT_EQ(event.inserts, std::vector<std::string>{event.traceText});
}

}  // namespace
