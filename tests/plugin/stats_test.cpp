// Message statistics: start values, the minimum and maximum rule, the 32-bit cut of times, and the
// timer's units.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include "plugin/corvale.h"
#include "plugin_test_support.h"

namespace {

TEST(BUILD_SUITE(Statistics), StartValues) {
  struct Case {
    const char* name;
    int64_t value;
    int64_t expected;
  };
  const Case cases[] = {
      {"inMessageCount", inMessageCount, 0},   {"inTagCount", inTagCount, 0},
      {"invalidMsgCount", invalidMsgCount, 0}, {"sumMessageSize", sumMessageSize, 0},
      {"maxMessageSize", maxMessageSize, 0},   {"minMessageSize", minMessageSize, -1},
      {"sumParseTime", sumParseTime, 0},       {"maxParseTime", maxParseTime, 0},
      {"minParseTime", minParseTime, -1},      {"writeCount", writeCount, 0},
      {"outTagCount", outTagCount, 0},         {"invalidOutputCount", invalidOutputCount, 0},
      {"sumOutputSize", sumOutputSize, 0},     {"maxOutputSize", maxOutputSize, 0},
      {"minOutputSize", minOutputSize, -1},    {"sumWriteTime", sumWriteTime, 0},
      {"maxWriteTime", maxWriteTime, 0},       {"minWriteTime", minWriteTime, -1},
      {"contextCount", contextCount, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value, c.expected) << c.name;
}

TEST(BUILD_SUITE(Statistics), MinimumAndMaximumRule) {
  struct Case {
    std::vector<int64_t> values;
    int64_t maximum, minimum;
  };
  const Case cases[] = {
      {{}, 0, -1},
      {{5}, 5, 5},     // the first value sets both
      {{5, 9}, 9, 5},  // a larger one changes only the maximum
      {{9, 5}, 9, 5},
      {{0}, 0, 0},
      {{-3}, 0, -3},       // below the start maximum: only the minimum
      {{7, -1, 3}, 7, 3},  // a minimum of -1 counts as "none yet" again
      {{4000000000}, 4000000000, 4000000000},
  };
  for (const Case& c : cases) {
    std::atomic<int64_t> maximum{0}, minimum{-1};
    for (int64_t v : c.values) updateMinMax(maximum, minimum, v);
    EXPECT_EQ(maximum.load(), c.maximum);
    EXPECT_EQ(minimum.load(), c.minimum);
    if (c.maximum > INT32_MAX) continue;  // the 32-bit pair takes only what fits
    std::atomic<int32_t> maximum32{0}, minimum32{-1};
    for (int64_t v : c.values) updateMinMax(maximum32, minimum32, static_cast<int32_t>(v));
    EXPECT_EQ(maximum32.load(), c.maximum);
    EXPECT_EQ(minimum32.load(), c.minimum);
  }
}

TEST(BUILD_SUITE(Statistics), ConcurrentUpdatesAreNotLost) {
  std::atomic<int32_t> maximum{0}, minimum{-1};
  constexpr int kThreads = 4;
  constexpr int kValues = 5000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kValues; ++i) updateMinMax(maximum, minimum, 10 + i * kThreads + t);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(maximum.load(), 10 + (kValues - 1) * kThreads + kThreads - 1);
  EXPECT_EQ(minimum.load(), 10);
}

TEST(BUILD_SUITE(Statistics), SaveMsgStatsRecordsCleanFixMessagesCutTo32Bits) {
  struct Case {
    int64_t totalParseTime;
    int32_t msgType, error;
    int64_t maximum, minimum;
  };
  const Case cases[] = {
      {1234, kMsgTypeFix, 0, 1234, 1234},
      {1234, kMsgTypeManagement, 0, 0, -1},                // management messages are not recorded
      {1234, kMsgTypeFix, 1, 0, -1},                       // nor messages that raised an error
      {5000000000, kMsgTypeFix, 0, 705032704, 705032704},  // low 32 bits of 5e9
      {0x180000000, kMsgTypeFix, 0, 0, INT32_MIN},         // the low half is negative
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.totalParseTime);
    maxParseTime.store(0);
    minParseTime.store(-1);
    ParserContext context{};
    context.totalParseTime = c.totalParseTime;
    context.iMsgType = c.msgType;
    context.iError = c.error;
    context.iSize = 100;
    saveMsgStats(&context);
    EXPECT_EQ(maxParseTime.load(), c.maximum);
    EXPECT_EQ(minParseTime.load(), c.minimum);
  }
}

TEST(BUILD_SUITE(Statistics), WriteTimesEnterMinMaxCutButTheSumInFull) {
  saveWriteStats(100, 3000000000);  // beyond 32 bits: its low half is -1294967296
  EXPECT_EQ(writeCount.load(), 1);
  EXPECT_EQ(sumOutputSize.load(), 100);
  EXPECT_EQ(maxOutputSize.load(), 100);
  EXPECT_EQ(minOutputSize.load(), 100);
  EXPECT_EQ(maxWriteTime.load(), 0);
  EXPECT_EQ(minWriteTime.load(), -1294967296);
  EXPECT_EQ(sumWriteTime.load(), 3000000000);

  saveWriteStats(50, 10);
  EXPECT_EQ(writeCount.load(), 2);
  EXPECT_EQ(sumOutputSize.load(), 150);
  EXPECT_EQ(maxOutputSize.load(), 100);
  EXPECT_EQ(minOutputSize.load(), 50);
  EXPECT_EQ(maxWriteTime.load(), 10);
  EXPECT_EQ(minWriteTime.load(), -1294967296);
  EXPECT_EQ(sumWriteTime.load(), 3000000010);
}

TEST(BUILD_SUITE(Statistics), CalculateTimeGivesMicrosecondsWithoutOverflow) {
  ParserContext context{};
  startTimer(&context);
  EXPECT_GT(context.iStartTime, 0);
  // Pretend the callback began three hours ago: in nanoseconds times 1e6 that exceeds 64 bits.
  constexpr int64_t kThreeHoursNs = int64_t{3} * 3600 * 1000000000;
  context.iStartTime -= kThreeHoursNs;
  int64_t microseconds = calculateTime(&context);
  EXPECT_GE(microseconds, kThreeHoursNs / 1000);
  EXPECT_LT(microseconds, kThreeHoursNs / 1000 + int64_t{3600} * 1000000);
}

TEST(BUILD_SUITE(StringHelpers), CompareLengthCopyAndSpaces) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    int expected;
  };
  const Case cases[] = {
      {u"abc", u"abc", 0},
      {u"abc", u"abd", -1},
      {u"ab", u"abc", -'c'},
      {u"abc", u"ab", 'c'},
      {u"", u"", 0},
      {u"\xFFFF", u"a", 0xFFFF - 'a'},
      {u"a", u"\x8000", 'a' - 0x8000},
  };
  for (const Case& c : cases) EXPECT_EQ(ucsCompare(c.a, c.b), c.expected);

  EXPECT_EQ(ucsLength(u""), 0);
  EXPECT_EQ(ucsLength(u"BeginString"), 11);
  char16_t copy[8] = {u'x', u'x', u'x', u'x', u'x', u'x', u'x', u'x'};
  ucsCopy(copy, u"FIX");
  EXPECT_EQ(std::u16string(copy, 5), std::u16string(u"FIX\0x", 5));

  const std::pair<char16_t, int> spaces[] = {
      {0, 0},  {8, 0},  {9, 1},    {10, 1},    {13, 1},    {14, 0},
      {32, 1}, {33, 0}, {0xA0, 0}, {0x109, 0}, {0x120, 0}, {0x2009, 0},
  };
  for (const auto& [c, expected] : spaces) EXPECT_EQ(isUcsSpace(c), expected) << int{c};
}

}  // namespace
