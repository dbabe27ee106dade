// runner - runs one piece of work per record on N threads, each thread with its own parser
// instance, and hands the outcomes back on the calling thread in input order; and the progress
// line of long runs.
#ifndef CORVALE_HOST_RUNNER_H
#define CORVALE_HOST_RUNNER_H

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace fixhost {

// What one record gave: text for standard output and for standard error, and its status.
struct Outcome {
  enum class Status { Ok, Failed, Differs };
  Status status = Status::Ok;
  std::string out;
  std::string err;
};

// Calls work(index, worker) for every index in [0, count), on `workers` threads (the calling
// thread alone when workers is 1); worker is the thread's number in [0, workers), so work can use
// per-thread state without a lock. emit(index, outcome) is called on the calling thread, in index
// order, as soon as each outcome is ready. An exception that escapes work fails that record.
void runOrdered(size_t count, int workers, const std::function<Outcome(size_t, int)>& work,
                const std::function<void(size_t, Outcome&)>& emit);

// "fixhost: 12000 of 50000 messages" on standard error, redrawn in place a few times a second;
// shown only when standard error is a terminal and the run has taken more than two seconds.
class Progress {
 public:
  explicit Progress(size_t total);
  ~Progress() { clear(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void update(size_t done);
  // Removes the line; call before writing anything else to standard error.
  void clear();

 private:
  using Clock = std::chrono::steady_clock;
  size_t total_;
  bool terminal_;
  bool shown_ = false;
  Clock::time_point start_;
  Clock::time_point lastDrawn_;
};

}  // namespace fixhost

#endif  // CORVALE_HOST_RUNNER_H
