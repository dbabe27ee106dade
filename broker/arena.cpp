#include "broker/arena.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace broker::detail {

namespace {
constexpr std::size_t kMaxChunk = 64 * 1024;
constexpr std::size_t kHeader =
    (sizeof(void*) * 2 + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
}  // namespace

Arena::~Arena() {
  while (chunks_) {
    Chunk* next = chunks_->next;
    std::free(chunks_);
    chunks_ = next;
  }
}

Arena::Chunk* Arena::newChunk(std::size_t size) {
  if (size > SIZE_MAX - kHeader) throw std::bad_alloc();
  void* memory = std::malloc(kHeader + size);
  if (!memory) throw std::bad_alloc();
  Chunk* chunk = static_cast<Chunk*>(memory);
  chunk->size = size;
  reserved_ += kHeader + size;
  return chunk;
}

void* Arena::allocateInNewChunk(std::size_t size) {
  if (size > nextSize_ / 4) {
    // A large block: its own chunk, kept behind the current one so that the current chunk's free
    // space stays in use. Chunk data is aligned to max_align_t.
    Chunk* chunk = newChunk(size);
    if (chunks_) {
      chunk->next = chunks_->next;
      chunks_->next = chunk;
    } else {
      chunk->next = nullptr;
      chunks_ = chunk;
    }
    return reinterpret_cast<char*>(chunk) + kHeader;
  }
  Chunk* chunk = newChunk(nextSize_);
  chunk->next = chunks_;
  chunks_ = chunk;
  if (nextSize_ < kMaxChunk) nextSize_ *= 2;
  char* data = reinterpret_cast<char*>(chunk) + kHeader;
  cursor_ = data + size;
  end_ = data + chunk->size;
  return data;
}

}  // namespace broker::detail
