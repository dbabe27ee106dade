#include "host/runner.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace fixhost {

namespace {

Outcome guarded(const std::function<Outcome(size_t, int)>& work, size_t index, int worker) {
  try {
    return work(index, worker);
  } catch (const std::exception& e) {
    Outcome outcome;
    outcome.status = Outcome::Status::Failed;
    outcome.err = std::string("internal error: ") + e.what() + "\n";
    return outcome;
  }
}

}  // namespace

void runOrdered(size_t count, int workers, const std::function<Outcome(size_t, int)>& work,
                const std::function<void(size_t, Outcome&)>& emit) {
  if (workers <= 1 || count <= 1) {
    for (size_t i = 0; i < count; ++i) {
      Outcome outcome = guarded(work, i, 0);
      emit(i, outcome);
    }
    return;
  }
  // Workers take blocks of indexes; each outcome is published by its ready flag (release), and
  // the emitting thread waits on the condition variable for the flag of the next index.
  constexpr size_t kBlock = 16;
  std::vector<Outcome> outcomes(count);
  std::unique_ptr<std::atomic<bool>[]> ready(new std::atomic<bool>[count]());
  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::condition_variable published;
  auto run = [&](int worker) {
    for (;;) {
      size_t begin = next.fetch_add(kBlock, std::memory_order_relaxed);
      if (begin >= count) return;
      size_t end = std::min(begin + kBlock, count);
      for (size_t i = begin; i < end; ++i) {
        outcomes[i] = guarded(work, i, worker);
        ready[i].store(true, std::memory_order_release);
      }
      { std::lock_guard<std::mutex> lock(mutex); }
      published.notify_one();
    }
  };
  int threads = static_cast<int>(std::min<size_t>(static_cast<size_t>(workers), count));
  std::vector<std::thread> pool;
  pool.reserve(static_cast<size_t>(threads));
  for (int w = 0; w < threads; ++w) pool.emplace_back(run, w);
  for (size_t i = 0; i < count; ++i) {
    if (!ready[i].load(std::memory_order_acquire)) {
      std::unique_lock<std::mutex> lock(mutex);
      published.wait(lock, [&] { return ready[i].load(std::memory_order_acquire); });
    }
    emit(i, outcomes[i]);
    outcomes[i] = Outcome();  // its text is printed: free it
  }
  for (std::thread& thread : pool) thread.join();
}

Progress::Progress(size_t total)
    : total_(total), terminal_(::isatty(STDERR_FILENO) == 1), start_(Clock::now()) {}

void Progress::update(size_t done) {
  if (!terminal_) return;
  Clock::time_point now = Clock::now();
  if (now - start_ < std::chrono::seconds(2) || now - lastDrawn_ < std::chrono::milliseconds(250)) {
    return;
  }
  lastDrawn_ = now;
  shown_ = true;
  std::fprintf(stderr, "\rfixhost: %zu of %zu messages", done, total_);
  std::fflush(stderr);
}

void Progress::clear() {
  if (!shown_) return;
  shown_ = false;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}

}  // namespace fixhost
