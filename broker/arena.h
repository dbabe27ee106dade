// arena.h - a chunked bump allocator: one per message, freed all at once with the message.
//
// Memory is handed out in order from chunks that grow from 4 KiB to 64 KiB; a request larger
// than a quarter of the chunk size gets a chunk of its own. Nothing is freed before the arena is
// destroyed, and no destructor of what it holds is run. Not thread-safe (a message is used by one
// thread at a time).
#ifndef CORVALE_BROKER_ARENA_H
#define CORVALE_BROKER_ARENA_H

#include <cstddef>
#include <cstdint>

namespace broker::detail {

class Arena {
 public:
  Arena() = default;
  ~Arena();
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // size bytes aligned to alignment (a power of two, at most alignof(std::max_align_t)).
  // Throws std::bad_alloc when memory runs out. Defined here because every element, name and
  // value of a message is allocated through it: the common case, room left in the current
  // chunk, is inlined.
  void* allocate(std::size_t size, std::size_t alignment) {
    if (size == 0) size = 1;  // distinct addresses for empty values
    const std::uintptr_t at = (reinterpret_cast<std::uintptr_t>(cursor_) + alignment - 1) &
                              ~static_cast<std::uintptr_t>(alignment - 1);
    if (cursor_ && at <= reinterpret_cast<std::uintptr_t>(end_) &&
        size <= static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(end_) - at)) {
      cursor_ = reinterpret_cast<char*>(at + size);
      return reinterpret_cast<void*>(at);
    }
    return allocateInNewChunk(size);
  }
  std::size_t bytesReserved() const { return reserved_; }

 private:
  struct Chunk {
    Chunk* next;
    std::size_t size;  // usable bytes after the header
  };
  Chunk* newChunk(std::size_t size);
  // allocate() when the current chunk has no room left: size (not 0) bytes from a new chunk.
  void* allocateInNewChunk(std::size_t size);

  Chunk* chunks_ = nullptr;  // most recent first
  char* cursor_ = nullptr;   // next free byte of the current chunk
  char* end_ = nullptr;      // end of the current chunk
  std::size_t nextSize_ = 4096;
  std::size_t reserved_ = 0;  // bytes of all chunks, headers included
};

}  // namespace broker::detail

#endif  // CORVALE_BROKER_ARENA_H
