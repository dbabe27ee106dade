// The write statistics, read directly from the plug-in's modules linked into this program, and
// what a failed write leaves in the output stream.
#include <gtest/gtest.h>

#include "broker/broker.h"
#include "inprocess_plugin.h"
#include "plugin/corvale.h"
#include "plugin/metadata.h"
#include "writer_support.h"

namespace writer_test {
namespace {

int32_t value(const std::atomic<int32_t>& counter) {
  return counter.load();
}
int64_t value(const std::atomic<int64_t>& counter) {
  return counter.load();
}

class WriteStatsTest : public testing::Test {
 protected:
  WriteStatsTest() : parser_(inProcessPlugin(fixtureMetadata()), "FIX") {}

  broker::Message tree(const char* text, const char* extraName = nullptr) {
    broker::Message message = parser_.createMessage();
    message.body().addText("MsgType", "D");
    message.body().addText("Text", text);
    if (extraName != nullptr) message.body().addText(extraName, "x");
    return message;
  }

  broker::Parser parser_;
};

TEST_F(WriteStatsTest, FirstWriteSetsMinimumAndMaximum) {
  EXPECT_EQ(value(writeCount), 0);
  EXPECT_EQ(value(minOutputSize), -1);
  EXPECT_EQ(value(minWriteTime), -1);

  const std::string first = parser_.write(tree("short"));
  const int32_t n = static_cast<int32_t>(first.size());
  EXPECT_EQ(value(writeCount), 1);
  EXPECT_EQ(value(sumOutputSize), n);
  EXPECT_EQ(value(maxOutputSize), n);
  EXPECT_EQ(value(minOutputSize), n);
  EXPECT_EQ(value(outTagCount), 2);
  EXPECT_GE(value(minWriteTime), 0);
  EXPECT_EQ(value(maxWriteTime), value(minWriteTime));
  EXPECT_EQ(value(sumWriteTime), value(maxWriteTime));

  const std::string second = parser_.write(tree("a longer text than before"));
  const int32_t m = static_cast<int32_t>(second.size());
  ASSERT_GT(m, n);
  EXPECT_EQ(value(writeCount), 2);
  EXPECT_EQ(value(sumOutputSize), n + m);
  EXPECT_EQ(value(maxOutputSize), m);
  EXPECT_EQ(value(minOutputSize), n);
  EXPECT_EQ(value(outTagCount), 4);
  EXPECT_EQ(value(invalidOutputCount), 0);
}

TEST_F(WriteStatsTest, FailedWritesAppendNothingAndAreNotCounted) {
  const std::string good = parser_.write(tree("ok"));
  const int32_t n = static_cast<int32_t>(good.size());
  ASSERT_EQ(observedOutputSize(), n);

  broker::Message unknownName = tree("ok", "NotAField");
  broker::Message noMetadata = parser_.createMessage();
  noMetadata.body().addText("BeginString", "FIX.9.9");
  noMetadata.body().addText("MsgType", "D");
  int failures = 0;
  for (const broker::Message* message : {&unknownName, &noMetadata}) {
    EXPECT_THROW(parser_.write(*message), broker::Error);
    ++failures;
    EXPECT_EQ(observedOutputSize(), 0) << "something was appended by failed write " << failures;
    EXPECT_EQ(value(invalidOutputCount), failures);
    EXPECT_EQ(value(writeCount), 1);
    EXPECT_EQ(value(sumOutputSize), n);
    EXPECT_EQ(value(maxOutputSize), n);
    EXPECT_EQ(value(minOutputSize), n);
  }
  // Items written before the unknown name count as written; nothing of the other failure does.
  EXPECT_EQ(value(outTagCount), 2 + 2);
}

TEST_F(WriteStatsTest, ReEmbeddedMessageCountsItsLengthAndDataFields) {
  broker::Message message = parser_.createMessage();
  message.body().addText("MsgType", "B");
  const broker::Element raw = message.body().addFolder("RawData");
  raw.addText("MsgType", "D");
  raw.addText("Symbol", "XYZ");
  parser_.write(message);
  EXPECT_EQ(value(outTagCount), 1 + 2 + 2);
}

TEST_F(WriteStatsTest, MetadataIsReleasedAfterEveryWrite) {
  const auto slotsInUse = [] {
    int holders = 0;
    for (int slot = 0; slot < kCacheSlots; ++slot) holders += cacheSlotState(slot).inUseCount;
    return holders;
  };
  parser_.write(tree("ok"));
  EXPECT_EQ(slotsInUse(), 0);
  EXPECT_THROW(parser_.write(tree("ok", "NotAField")), broker::Error);
  EXPECT_EQ(slotsInUse(), 0) << "a failed write kept its metadata slot";
}

// A message's parse time reaches the minimum and maximum when the next message is handed to the
// same parser, unless the parser wrote a tree in between.
TEST_F(WriteStatsTest, WriteBetweenTwoParsesKeepsTheEarlierMessageOut) {
  const std::string message = fixMessage("FIX.4.2", "35=D|58=hi|");
  {
    broker::Message first = parser_.parse(message);
    first.complete();
    parser_.write(first);
  }
  broker::Message second = parser_.parse(message);
  second.complete();
  EXPECT_EQ(value(minParseTime), -1) << "the message written in between was recorded";
  EXPECT_EQ(value(maxParseTime), 0);
  broker::Message third = parser_.parse(message);
  EXPECT_NE(value(minParseTime), -1) << "the message before this one was not recorded";
}

}  // namespace
}  // namespace writer_test
