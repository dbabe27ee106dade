// metadata - the process-wide cache of metadata images (see metadata.h for the contract).
//
// Slot states: free (key's first byte 0, never loaded), loaded (a key), pending (a key and
// REMOVE_PENDING: flushed while held) and removed (every key byte kRemovedMarker). A slot never
// becomes free again; a removed slot keeps its image until findEntry replaces it, so a flush
// never frees memory that a holder might still read.
#include "metadata.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "parsubs.h"
#include "trace.h"

namespace {

#if CORVALE_DIAGNOSTIC
const char kMetadataVersion[] = "metadata V1.0 Debug version (" __DATE__ " " __TIME__ ")";
#else
const char kMetadataVersion[] = "metadata V1.0 Release version (" __DATE__ " " __TIME__ ")";
#endif

constexpr char kSourceFile[] = "metadata";
constexpr char kDefaultKey[] = "default";
constexpr char kSeparator = '/';
constexpr size_t kMaxDirectory = 254;  // FIXMETADIR is cut to this many characters

// ---- Process-wide state -------------------------------------------------------------------
// The slot table: all keys zero (free) until initializeMetadata makes slot 0 the default slot.
// Guarded by metadataLock; a holder reads its own slot's image without the lock.
MetadataCacheEntry cacheTable[kCacheSlots];
// The directory the levels are loaded from, with its trailing separator unless empty. Set once,
// by initializeMetadata, before any parser exists.
std::string metaDir;
// Serialises every change to cacheTable and to the four counters.
std::mutex metadataLock;

bool isRemoved(const MetadataCacheEntry& slot) {
  for (char c : slot.msgType) {
    if (static_cast<unsigned char>(c) != kRemovedMarker) return false;
  }
  return true;
}

bool isFree(const MetadataCacheEntry& slot) {
  return slot.msgType[0] == 0;
}

void markRemoved(MetadataCacheEntry& slot) {
  std::memset(slot.msgType, kRemovedMarker, sizeof slot.msgType);
}

// A requested key laid out as the slots store theirs: its first kCacheKeySize characters,
// zero-padded. Built before the lock is taken, so that each slot's key compares as one
// fixed-size block while it is held.
struct RequestKey {
  explicit RequestKey(const char* msgType) {
    for (size_t i = 0; i < sizeof bytes && msgType[i] != 0; ++i) bytes[i] = msgType[i];
  }
  char bytes[kCacheKeySize] = {};
};

// The key compares exactly. A stored key holds at most ten characters and zeros after them, so it
// equals the padded request exactly when the texts are equal; a request longer than ten
// characters has no zero where the stored key has one, and never equals it.
bool keyEquals(const MetadataCacheEntry& slot, const RequestKey& key) {
  return std::memcmp(slot.msgType, key.bytes, kCacheKeySize) == 0;
}

// A key "begins with" name when its first strlen(name) bytes are the name's characters. A name
// longer than the key field cannot be a prefix of any key.
bool keyBeginsWith(const MetadataCacheEntry& slot, const char* name) {
  size_t length = std::strlen(name);
  if (length > sizeof slot.msgType) return false;
  return std::memcmp(slot.msgType, name, length) == 0;
}

// The image that a request falls back on when no slot can be had: empty, never replaced.
const mtx::MetadataImage& emptyImage() {
  static const std::unique_ptr<mtx::MetadataImage> image = mtx::MetadataImage::makeDefault();
  return *image;
}

// Frees the slot's image and marks it removed. Caller holds metadataLock.
void removeEntry(int index) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> removeEntry() fileno=%d\n", index);
  MetadataCacheEntry& slot = cacheTable[index];
  slot.image.reset();
  slot.lastUse = 0;
  markRemoved(slot);
  slot.flags = 0;
  filesMax.fetch_sub(1, std::memory_order_relaxed);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- removeEntry()\n");
}

// The slot that holds msgType, loading the file into a free, removed or least recently used
// idle slot when none does. Returns -1 when the file cannot be had or every slot is held.
// Caller holds metadataLock.
int findEntry(const char* msgType, const RequestKey& key, [[maybe_unused]] int trace) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> findEntry() msgType=%s\n", msgType);
  int candidate = 0;
  int32_t candidateStamp = cacheTable[0].lastUse + 1;
  int index = 0;
  for (; index < kCacheSlots; ++index) {
    MetadataCacheEntry& slot = cacheTable[index];
    if (isFree(slot)) break;
    if (isRemoved(slot)) {
      if (!isRemoved(cacheTable[candidate])) {
        candidate = index;
        candidateStamp = slot.lastUse;
      }
      continue;
    }
    if (keyEquals(slot, key)) {
      TRACE(trace, "Meta data index entry is %d, minUse %d %d\n", index, candidate, candidateStamp);
      TRACE(traceSwitch(traceModule), "PLUGIN: <- findEntry() i=%d\n", index);
      return index;
    }
    if (slot.lastUse < candidateStamp && slot.inUseCount == 0) {
      candidate = index;
      candidateStamp = slot.lastUse;
    }
  }
  TRACE(trace, "Meta data index entry is %d, minUse %d %d\n", index, candidate, candidateStamp);

  if (index == kCacheSlots) {
    // The scan starts with slot 0 as the candidate; when slot 0 is held, the least recently used
    // idle slot is taken instead, and with every slot held the request fails: replacing a held
    // slot would free an image that its holder is reading.
    if (cacheTable[candidate].inUseCount != 0) {
      candidate = -1;
      for (int i = 0; i < kCacheSlots; ++i) {
        if (cacheTable[i].inUseCount != 0) continue;
        if (candidate < 0 || cacheTable[i].lastUse < cacheTable[candidate].lastUse) candidate = i;
      }
      if (candidate < 0) {
        TRACE(trace, "Every meta data slot is in use\n");
        TRACE(traceSwitch(traceModule), "PLUGIN: <- findEntry() i=%d\n", -1);
        return -1;
      }
    }
    removeEntry(candidate);
    filesRemoved.fetch_add(1, std::memory_order_relaxed);
    index = candidate;
  }

  std::string path = metaDir;
  if (!path.empty() && path.back() != kSeparator) path += kSeparator;
  path += msgType;
  path += ".mtx";
  TRACE(trace, "Opening meta data file - %s\n", path.c_str());

  std::string reason;
  std::unique_ptr<mtx::MetadataImage> image = mtx::MetadataImage::fromFile(path, &reason);
  if (!image) {
    // A file that is missing, unreadable or not a metadata file is reported alike.
    TRACE(trace, "Unable to open meta data file - %s\n", path.c_str());
    TRACE(trace, "%s\n", reason.c_str());
    traceError(kSourceFile, __LINE__, "Unable to open meta data file - %s\n", path.c_str());
    TRACE(traceSwitch(traceModule), "PLUGIN: <- findEntry() i=%d\n", -1);
    return -1;
  }
  TRACE(trace, "Number of bytes read %d\n into 0x%x\n", static_cast<int>(image->byteSize()),
        traceAddress(image.get()));
  TRACE(trace, "Names at 0x%x, Unicode names at 0x%x, Repeat data at 0x%x\n",
        traceAddress(image->narrowText(0)), traceAddress(image->unicodeText(0)),
        static_cast<unsigned>(image->header().repeatOffset));

  MetadataCacheEntry& slot = cacheTable[index];
  slot.image = std::move(image);
  filesOpened.fetch_add(1, std::memory_order_relaxed);
  filesMax.fetch_add(1, std::memory_order_relaxed);
  std::memset(slot.msgType, 0, sizeof slot.msgType);
  std::strncpy(slot.msgType, msgType, kCacheKeySize - 1);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- findEntry() i=%d\n", index);
  return index;
}

}  // namespace

// ---- Counters (relaxed atomics; changed under metadataLock, read without it) ---------------
std::atomic<int32_t> filesOpened{0};   // successful loads
std::atomic<int32_t> filesRemoved{0};  // replacements of a slot by another level
std::atomic<int32_t> filesMax{0};      // loads minus replacements
std::atomic<int32_t> useCounter{0};    // stamp source for lastUse

void initializeMetadata() {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> initializeMetadata()\n");
  std::lock_guard<std::mutex> lock(metadataLock);
  for (MetadataCacheEntry& slot : cacheTable) {
    std::memset(slot.msgType, 0, sizeof slot.msgType);
    slot.flags = 0;
    slot.inUseCount = 0;
    slot.image.reset();
    slot.lastUse = 0;
  }

  const char* env = std::getenv("FIXMETADIR");
  if (env != nullptr) {
    metaDir.assign(env, std::min(std::strlen(env), kMaxDirectory));
  } else {
    metaDir = CORVALE_DEFAULT_METADATA_DIR;
  }
  if (!metaDir.empty() && metaDir.back() != kSeparator) metaDir += kSeparator;

  MetadataCacheEntry& slot = cacheTable[0];
  std::strncpy(slot.msgType, kDefaultKey, kCacheKeySize - 1);
  slot.image = mtx::MetadataImage::makeDefault();
  TRACE(traceSwitch(traceModule), "PLUGIN: <- initializeMetadata() metaDir=%s\n", metaDir.c_str());
}

int getMetaDataEntry([[maybe_unused]] int trace, const char* msgType) {
  TRACE(traceSwitch(traceModule), "Getting meta data for message type %s\n", msgType);
  const RequestKey key(msgType);
  std::lock_guard<std::mutex> lock(metadataLock);
  int index = findEntry(msgType, key, trace);
  if (index < 0) {
    TRACE(trace, "Could not find metadata for %s\n", msgType);
    return -1;
  }
  // Changed only under the lock, so a plain read and store suffice (no locked increment).
  int32_t stamp = useCounter.load(std::memory_order_relaxed) + 1;
  if (stamp > kUseCounterLimit) {
    for (MetadataCacheEntry& slot : cacheTable) slot.lastUse = 0;
    stamp = 1;
  }
  useCounter.store(stamp, std::memory_order_relaxed);
  cacheTable[index].lastUse = stamp;
  cacheTable[index].inUseCount++;
  TRACE(traceSwitch(traceModule), "Returning data index entry %d\n", index);
  return index;
}

void decrementUseCount([[maybe_unused]] int trace, int slotIndex) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> decrementUseCount() fileIdx(%d)\n", slotIndex);
  if (slotIndex < 0 || slotIndex >= kCacheSlots) return;
  std::lock_guard<std::mutex> lock(metadataLock);
  MetadataCacheEntry& slot = cacheTable[slotIndex];
  if (slot.inUseCount > 0) {
    slot.inUseCount--;
    if ((slot.flags & REMOVE_PENDING) != 0 && slot.inUseCount == 0) {
      slot.flags = 0;
      markRemoved(slot);
      slot.lastUse = 0;
      TRACE(trace, "Cache file entry deleted for fileIdx(%d)\n", slotIndex);
    }
  } else {
    TRACE(trace, "Invalid use count for fileIdx(%d) inUseCount(%d)\n", slotIndex,
          static_cast<int>(slot.inUseCount));
  }
  TRACE(traceSwitch(traceModule), "PLUGIN: <- decrementUseCount()\n");
}

const mtx::MetadataImage& metadataImage(int slot) {
  if (slot < 0 || slot >= kCacheSlots || !cacheTable[slot].image) return emptyImage();
  return *cacheTable[slot].image;
}

void removeMetaDataEntry(const char* name) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> removeMetaDataEntry() for %s\n", name);
  {
    std::lock_guard<std::mutex> lock(metadataLock);
    bool found = false;
    for (MetadataCacheEntry& slot : cacheTable) {
      if (!keyBeginsWith(slot, name)) continue;
      found = true;
      if (slot.inUseCount != 0) {
        slot.flags |= REMOVE_PENDING;
        TRACE(traceSwitch(traceMgmt), "Message type(%s) scheduled for later removal\n", name);
      } else {
        markRemoved(slot);
        TRACE(traceSwitch(traceMgmt), "Message type(%s) removed from cache\n", name);
      }
      slot.lastUse = 0;
    }
    if (!found) TRACE(traceSwitch(traceMgmt), "Message type (%s) not found in cache\n", name);
  }
  TRACE(traceSwitch(traceModule), "PLUGIN: <- removeMetaDataEntry()\n");
}

void removeAllMetaData() {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> removeAllMetaData()\n");
  {
    std::lock_guard<std::mutex> lock(metadataLock);
    for (int i = 1; i < kCacheSlots; ++i) {
      MetadataCacheEntry& slot = cacheTable[i];
      if (slot.inUseCount != 0) {
        slot.flags |= REMOVE_PENDING;
      } else {
        markRemoved(slot);
      }
      slot.lastUse = 0;
    }
  }
  TRACE(traceSwitch(traceModule), "PLUGIN: <- removeAllMetaData()\n");
}

CacheSlotState cacheSlotState(int slotIndex) {
  CacheSlotState state{};
  if (slotIndex < 0 || slotIndex >= kCacheSlots) return state;
  std::lock_guard<std::mutex> lock(metadataLock);
  const MetadataCacheEntry& slot = cacheTable[slotIndex];
  std::memcpy(state.msgType, slot.msgType, sizeof state.msgType);
  state.flags = slot.flags;
  state.inUseCount = slot.inUseCount;
  state.lastUse = slot.lastUse;
  state.hasImage = slot.image != nullptr;
  return state;
}

const char* metadataDirectory() {
  return metaDir.c_str();
}

const char* metadataVersion() {
  return kMetadataVersion;
}
