// The ten-slot metadata cache: loading, reuse, replacement, flushing, pending removal, keys, the
// directory, the use stamps, and what happens when a level cannot be had.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>

#include "broker/broker.h"
#include "metadata.h"
#include "tests/support/files.h"
#include "tests/support/metadata_lines.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class CacheTest : public testing::Test {
 protected:
  void SetUp() override {
    broker::setLogToStderr(false);
    broker::clearLog();
    useDirectory(dir_);
  }

  static void useDirectory(const std::string& dir) {
    setenv("FIXMETADIR", dir.c_str(), 1);
    initializeMetadata();
  }

  // A level file whose one field is named after the level, so that an image tells its level.
  static std::vector<uint8_t> levelBytes(const std::string& level, bool withRepeat = false) {
    return corvale_test::compileMetadata(
        {"1," + level + ",STRING,0"},
        withRepeat ? std::vector<std::string>{"D,78,79,Allocs,80"} : std::vector<std::string>{});
  }
  void writeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(corvale_test::writeFile(dir_ + "/" + name + ".mtx", bytes)) << name;
  }
  void writeLevel(const std::string& level) { writeFile(level, levelBytes(level)); }
  void writeLevels(int first, int last) {
    for (int i = first; i <= last; ++i) writeLevel("L" + std::to_string(i));
  }

  static int take(const std::string& level) { return getMetaDataEntry(0, level.c_str()); }
  static void give(int slot) { decrementUseCount(0, slot); }
  // Takes and gives back at once: loads the level and stamps its slot.
  static int touch(const std::string& level) {
    const int slot = take(level);
    if (slot >= 0) give(slot);
    return slot;
  }

  static bool removed(int slot) {
    const CacheSlotState s = cacheSlotState(slot);
    for (char c : s.msgType) {
      if (static_cast<unsigned char>(c) != kRemovedMarker) return false;
    }
    return true;
  }
  static std::string key(int slot) {
    if (removed(slot)) return "(removed)";
    const CacheSlotState s = cacheSlotState(slot);
    return std::string(s.msgType, strnlen(s.msgType, sizeof s.msgType));
  }
  // The level whose image a slot holds.
  static std::string imageOf(int slot) {
    const mtx::MetadataImage& image = metadataImage(slot);
    if (image.maxVars() == 0) return "";
    std::string name;
    for (const char16_t* p = image.fieldName(0); *p != 0; ++p) name += static_cast<char>(*p);
    return name;
  }

  corvale_test::TempDir scratch_;
  const std::string dir_ = scratch_.path();
};

TEST_F(CacheTest, FirstRequestLoadsTheFileAndLaterOnesReuseIt) {
  writeLevel("FIX42");
  EXPECT_EQ(key(0), "default");
  EXPECT_EQ(take("FIX42"), 1);
  EXPECT_EQ(filesOpened.load(), 1);
  EXPECT_EQ(filesMax.load(), 1);
  EXPECT_EQ(cacheSlotState(1).inUseCount, 1);
  give(1);
  EXPECT_EQ(cacheSlotState(1).inUseCount, 0);
  // Served from the slot: the file is not read again.
  fs::remove(dir_ + "/FIX42.mtx");
  EXPECT_EQ(touch("FIX42"), 1);
  EXPECT_EQ(filesOpened.load(), 1);
  EXPECT_EQ(imageOf(1), "FIX42");
}

TEST_F(CacheTest, TenthLevelReplacesTheDefaultSlot) {
  writeLevels(1, 10);
  for (int i = 1; i <= 9; ++i) EXPECT_EQ(touch("L" + std::to_string(i)), i);
  EXPECT_EQ(touch("L10"), 0);
  EXPECT_EQ(key(0), "L10");
  EXPECT_EQ(imageOf(0), "L10");
  EXPECT_EQ(filesRemoved.load(), 1);
  EXPECT_EQ(filesMax.load(), 9);
  EXPECT_EQ(filesOpened.load(), 10);
  for (int i = 1; i <= 9; ++i) EXPECT_EQ(key(i), "L" + std::to_string(i));
}

TEST_F(CacheTest, LeastRecentlyUsedIdleSlotIsReplacedNext) {
  writeLevels(1, 11);
  for (int i = 1; i <= 10; ++i) touch("L" + std::to_string(i));
  touch("L1");  // L2's slot is now the one used longest ago
  EXPECT_EQ(touch("L11"), 2);
  EXPECT_EQ(key(1), "L1");
  EXPECT_EQ(key(2), "L11");
}

TEST_F(CacheTest, FlushedLevelIsLoadedAgainIntoTheFirstFreeSlot) {
  writeLevel("L1");
  EXPECT_EQ(touch("L1"), 1);
  removeMetaDataEntry("L1");
  EXPECT_TRUE(removed(1));
  EXPECT_TRUE(cacheSlotState(1).hasImage) << "flushing frees no memory";
  EXPECT_EQ(cacheSlotState(1).lastUse, 0);
  EXPECT_EQ(touch("L1"), 2);
  EXPECT_EQ(filesOpened.load(), 2);
}

TEST_F(CacheTest, WithoutFreeSlotsAFlushedLevelTakesTheRemovedSlot) {
  writeLevels(1, 9);
  for (int i = 1; i <= 9; ++i) touch("L" + std::to_string(i));
  removeMetaDataEntry("L5");
  EXPECT_EQ(touch("L5"), 5);
  EXPECT_EQ(key(5), "L5");
  EXPECT_EQ(filesRemoved.load(), 1);
  EXPECT_EQ(filesMax.load(), 9);
  EXPECT_EQ(key(0), "default");
}

TEST_F(CacheTest, FlushOfAHeldLevelWaitsForItsLastHolder) {
  writeLevel("L1");
  const int slot = take("L1");
  ASSERT_EQ(slot, 1);
  removeMetaDataEntry("L1");
  EXPECT_EQ(cacheSlotState(1).flags, REMOVE_PENDING);
  EXPECT_EQ(key(1), "L1");
  // Still handed out, with its old image.
  EXPECT_EQ(take("L1"), 1);
  EXPECT_EQ(cacheSlotState(1).inUseCount, 2);
  give(1);
  EXPECT_EQ(key(1), "L1");
  give(1);
  EXPECT_TRUE(removed(1));
  EXPECT_EQ(cacheSlotState(1).flags, 0);
  EXPECT_EQ(touch("L1"), 2);
}

TEST_F(CacheTest, FlushMatchesByPrefix) {
  for (const char* level : {"FIX42", "FIX43", "FIXT11"}) writeLevel(level);
  for (const char* level : {"FIX42", "FIX43", "FIXT11"}) touch(level);
  removeMetaDataEntry("FIX4");
  EXPECT_TRUE(removed(1));
  EXPECT_TRUE(removed(2));
  EXPECT_EQ(key(3), "FIXT11");
  removeMetaDataEntry("NOSUCH");
  EXPECT_EQ(key(3), "FIXT11");
  // The empty name begins every key: the default slot and free slots go too.
  removeMetaDataEntry("");
  for (int slot = 0; slot < kCacheSlots; ++slot) EXPECT_TRUE(removed(slot)) << slot;
}

TEST_F(CacheTest, FlushAllLeavesSlotZero) {
  writeLevels(1, 10);
  for (int i = 1; i <= 10; ++i) touch("L" + std::to_string(i));
  ASSERT_EQ(key(0), "L10");
  const int held = take("L3");
  removeAllMetaData();
  EXPECT_EQ(key(0), "L10");
  EXPECT_EQ(key(3), "L3");
  EXPECT_EQ(cacheSlotState(3).flags, REMOVE_PENDING);
  for (int slot : {1, 2, 4, 9}) EXPECT_TRUE(removed(slot)) << slot;
  give(held);
  EXPECT_TRUE(removed(3));
}

TEST_F(CacheTest, FlushAllMarksFreeSlotsRemoved) {
  writeLevel("L1");
  touch("L1");
  removeAllMetaData();
  EXPECT_EQ(key(0), "default");
  for (int slot = 1; slot < kCacheSlots; ++slot) EXPECT_TRUE(removed(slot)) << slot;
}

TEST_F(CacheTest, KeyIsCutToTenCharactersAndNeverMatchesAgain) {
  writeLevel("ABCDEFGHIJK");
  EXPECT_EQ(touch("ABCDEFGHIJK"), 1);
  EXPECT_EQ(key(1), "ABCDEFGHIJ");
  EXPECT_EQ(touch("ABCDEFGHIJK"), 2);
  EXPECT_EQ(filesOpened.load(), 2);
}

TEST_F(CacheTest, DirectoryRules) {
  struct Case {
    const char* value;  // null: FIXMETADIR unset
    std::string directory;
  };
  const Case cases[] = {
      {"/some/where", "/some/where/"},
      {"/some/where/", "/some/where/"},
      {"", ""},
      {nullptr, std::string(CORVALE_DEFAULT_METADATA_DIR) + "/"},
  };
  for (const Case& c : cases) {
    if (c.value != nullptr) {
      setenv("FIXMETADIR", c.value, 1);
    } else {
      unsetenv("FIXMETADIR");
    }
    initializeMetadata();
    EXPECT_EQ(metadataDirectory(), c.directory) << (c.value ? c.value : "(unset)");
  }
  // Cut to 254 characters, then the separator.
  const std::string longDir(300, 'd');
  setenv("FIXMETADIR", longDir.c_str(), 1);
  initializeMetadata();
  EXPECT_EQ(metadataDirectory(), std::string(254, 'd') + "/");
}

TEST_F(CacheTest, EmptyDirectoryLoadsFromTheCurrentFolder) {
  writeLevel("L1");
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  setenv("FIXMETADIR", "", 1);
  initializeMetadata();
  EXPECT_EQ(touch("L1"), 1);
  EXPECT_EQ(imageOf(1), "L1");
  fs::current_path(before);
}

TEST_F(CacheTest, StampsRestartPastTheLimit) {
  writeLevels(1, 2);
  touch("L1");
  touch("L2");
  EXPECT_EQ(cacheSlotState(2).lastUse, 2);
  useCounter.store(kUseCounterLimit - 1);
  touch("L1");
  EXPECT_EQ(cacheSlotState(1).lastUse, kUseCounterLimit);
  touch("L1");
  EXPECT_EQ(useCounter.load(), 1);
  EXPECT_EQ(cacheSlotState(1).lastUse, 1);
  EXPECT_EQ(cacheSlotState(2).lastUse, 0);
}

TEST_F(CacheTest, GivingBackAnIdleSlotChangesNothing) {
  writeLevel("L1");
  touch("L1");
  give(1);
  EXPECT_EQ(cacheSlotState(1).inUseCount, 0);
  EXPECT_EQ(key(1), "L1");
}

TEST_F(CacheTest, EverySlotHeldFailsInsteadOfReplacing) {
  writeLevels(1, 10);
  std::vector<int> held{take("default")};
  for (int i = 1; i <= 9; ++i) held.push_back(take("L" + std::to_string(i)));
  EXPECT_EQ(take("L10"), -1);
  EXPECT_EQ(filesRemoved.load(), 0);
  EXPECT_EQ(key(0), "default");
  for (int i = 1; i <= 9; ++i) EXPECT_EQ(imageOf(i), "L" + std::to_string(i));
  for (int slot : held) give(slot);
  EXPECT_EQ(touch("L10"), 0);
}

TEST_F(CacheTest, HeldDefaultSlotIsPassedOverForAnIdleOne) {
  writeLevels(1, 10);
  const int held = take("default");
  ASSERT_EQ(held, 0);
  for (int i = 1; i <= 9; ++i) touch("L" + std::to_string(i));
  EXPECT_EQ(touch("L10"), 1);  // L1 was used longest ago
  EXPECT_EQ(key(0), "default");
  EXPECT_EQ(imageOf(1), "L10");
  give(held);
}

TEST_F(CacheTest, UnreadableFilesAreLoggedAndGiveMinusOne) {
  std::vector<uint8_t> cut = levelBytes("CUT", true);
  cut.resize(cut.size() - 8);  // the repeat entry now reaches past the end
  writeFile("CUT", cut);
  writeFile("SHORT", {0x20, 0, 0, 0, 1});
  for (const char* level : {"MISSING", "SHORT", "CUT"}) {
    SCOPED_TRACE(level);
    broker::clearLog();
    EXPECT_EQ(take(level), -1);
    const std::vector<broker::LogEvent> events = broker::logEvents();
    ASSERT_EQ(events.size(), 1u);
    const std::string text = "Unable to open meta data file - " + dir_ + "/" + level + ".mtx\n";
    EXPECT_EQ(events[0].number, 0x8FFF0001u);
    EXPECT_EQ(events[0].messageSource, u"fixerr");
    EXPECT_EQ(events[0].traceText, text);
    EXPECT_EQ(events[0].inserts, std::vector<std::string>{text});
    EXPECT_EQ(cacheSlotState(1).msgType[0], 0) << "the slot stays free";
  }
  EXPECT_EQ(filesOpened.load(), 0);
}

}  // namespace
