// The management module called directly, linked with the diagnostic build's modules: the time
// form of the statistics report, and what FLUSH and FLUSHALL do to the cache slots.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#include "mgmt_support.h"
#include "plugin/metadata.h"
#include "plugin/mgmtmsg.h"

namespace {

struct TimeCase {
  int64_t microseconds;
  const char* text;
};

TEST(MgmtFormatTimeValue, ShowsMillisecondsWithTwoTruncatedDecimals) {
  const TimeCase cases[] = {
      {0, "0.00"},
      {9, "0.00"},  // below a hundredth of a millisecond
      {10, "0.01"},
      {999, "0.99"},  // truncated, not rounded
      {1000, "1.00"},
      {1005, "1.00"},
      {1234567, "1234.56"},
      {2147483648123LL, "2147483648.12"},  // beyond 32 bits
      {INT64_MAX, "9223372036854775.80"},
  };
  for (const TimeCase& c : cases) {
    char text[kTimeTextSize];
    std::memset(text, 'x', sizeof text);
    formatTimeValue(c.microseconds, text, sizeof text);
    EXPECT_STREQ(text, c.text) << c.microseconds;
  }
}

bool removed(const CacheSlotState& slot) {
  for (unsigned char c : slot.msgType) {
    if (c != kRemovedMarker) return false;
  }
  return true;
}

struct SlotCase {
  const char* name;
  void (*flush)();
  bool slotZeroRemoved;
};

void PrintTo(const SlotCase& c, std::ostream* os) {
  *os << c.name;
}

class MgmtFlushSlotsTest : public ::testing::TestWithParam<SlotCase> {};

TEST_P(MgmtFlushSlotsTest, MarksSlotsOneToNineAndSlotZeroOnlyForTheEmptyName) {
  const SlotCase& c = GetParam();
  mgmt_test::TempDir scratch;
  mgmt_test::stageMetadata(scratch.path(), {"FIX42"});
  mgmt_test::setEnv("FIXMETADIR", scratch.path());
  initializeMetadata();
  const int slot = getMetaDataEntry(0, "FIX42");
  ASSERT_EQ(slot, 1);
  decrementUseCount(0, slot);

  c.flush();

  const CacheSlotState zero = cacheSlotState(0);
  if (c.slotZeroRemoved) {
    EXPECT_TRUE(removed(zero));
  } else {
    EXPECT_STREQ(zero.msgType, "default");
    EXPECT_TRUE(zero.hasImage);
  }
  // The loaded slot and the free ones alike.
  for (int i = 1; i < kCacheSlots; ++i) {
    EXPECT_TRUE(removed(cacheSlotState(i))) << "slot " << i;
    EXPECT_EQ(cacheSlotState(i).lastUse, 0) << "slot " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, MgmtFlushSlotsTest,
    ::testing::Values(SlotCase{"Flushall", [] { processFlushallMsg(); }, false},
                      SlotCase{"FlushEmptyName", [] { processFlushMsg(0, 0, "        ", 8); },
                               true},
                      SlotCase{"FlushEmptyNameAfterOthers",
                               [] { processFlushMsg(0, 0, "NOSUCH          ", 16); }, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
