// metadata - the process-wide cache of metadata images, one per FIX level.
//
// Ten slots. Slot 0 holds the empty default image; slots 1 to 9 start free and are loaded in
// index order from "<metaDir>/<level>.mtx". A caller takes a slot with getMetaDataEntry and must
// give it back with decrementUseCount when its parse step or write ends (also when it ends by an
// exception: use MetadataHold). While held, a slot is never replaced and its image may be read
// without the lock. When every slot is held and none matches, a request fails with -1.
//
// Process-wide state (this module): the slot table, metaDir (set once at load), the four
// counters, all guarded by metadataLock; the counters are also atomics so that the statistics
// report may read them without the lock.
#ifndef CORVALE_PLUGIN_METADATA_H
#define CORVALE_PLUGIN_METADATA_H

#include <atomic>
#include <cstdint>
#include <memory>

#include "mtx/mtx.h"

constexpr int kCacheSlots = 10;
constexpr int kCacheKeySize = 11;                 // ten characters and a zero
constexpr unsigned char kRemovedMarker = 0xBB;    // every key byte: the slot is removed
constexpr uint8_t REMOVE_PENDING = 0x01;          // flushed while in use
constexpr int32_t kUseCounterLimit = 2147483642;  // stamps are reset past this

struct MetadataCacheEntry {
  char msgType[kCacheKeySize];  // the key; first byte 0: free; all kRemovedMarker: removed
  uint8_t flags;                // REMOVE_PENDING
  int16_t inUseCount;           // holders
  std::unique_ptr<mtx::MetadataImage> image;  // the loaded image (the default one in slot 0)
  int32_t lastUse;  // useCounter at the last hand-out; 0 when never or flushed
};

extern std::atomic<int32_t> filesOpened;
extern std::atomic<int32_t> filesRemoved;
extern std::atomic<int32_t> filesMax;
extern std::atomic<int32_t> useCounter;

// Builds the table, the default slot and metaDir ("FIXMETADIR", else the build's default).
void initializeMetadata();
// The slot holding msgType, loading it if needed; -1 when it cannot be had. Takes the lock.
int getMetaDataEntry(int trace, const char* msgType);
// Releases a slot taken by getMetaDataEntry. Takes the lock.
void decrementUseCount(int trace, int slot);
// The image of a slot that the caller holds. For -1 (no slot could be had): an empty image that
// is never replaced, so a caller may always read what this returns for the length of its step.
const mtx::MetadataImage& metadataImage(int slot);
// Flush every slot whose key begins with name (pending while in use). Takes the lock.
void removeMetaDataEntry(const char* name);
// Flush slots 1 to 9. Takes the lock.
void removeAllMetaData();

// Releases the held slot when the scope ends, normally or by an exception.
class MetadataHold {
 public:
  MetadataHold(int trace, int slot) : trace_(trace), slot_(slot) {}
  ~MetadataHold() {
    if (slot_ >= 0) decrementUseCount(trace_, slot_);
  }
  MetadataHold(const MetadataHold&) = delete;
  MetadataHold& operator=(const MetadataHold&) = delete;

 private:
  int trace_;
  int slot_;
};

// For tests and the statistics report: a copy of one slot's bookkeeping, taken under the lock.
struct CacheSlotState {
  char msgType[kCacheKeySize];
  uint8_t flags;
  int16_t inUseCount;
  int32_t lastUse;
  bool hasImage;
};
CacheSlotState cacheSlotState(int slot);
const char* metadataDirectory();

const char* metadataVersion();

#endif  // CORVALE_PLUGIN_METADATA_H
