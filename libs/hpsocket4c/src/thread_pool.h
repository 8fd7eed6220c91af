// ThreadPool: a fixed set of threads that run queued jobs in order of
// submission. The queue may be bounded; what a submit does when it is full is
// the pool's rejected-job policy (fail, wait for room, or run the job on the
// submitting thread). Every method is safe to call from any thread; stop()
// and the destructor must not be called from one of the pool's own threads.
#ifndef HPSOCKET4C_SRC_THREAD_POOL_H_
#define HPSOCKET4C_SRC_THREAD_POOL_H_

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace hpsocket4c {

class ThreadPool {
 public:
  // A job runs `run(arg)` once, or `discard(arg)` when the pool drops it
  // unrun (stop timed out); exactly one of the two is called.
  struct Job {
    void (*run)(void*) = nullptr;
    void (*discard)(void*) = nullptr;
    void* arg = nullptr;
  };
  enum class Policy { kFail = 0, kWaitFor = 1, kCallerRuns = 2 };
  enum class State { kStarting, kStarted, kStopping, kStopped };

  ThreadPool() = default;
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // threads 0: one per core; max_queue 0: unbounded; stack_size 0: default.
  // False when already started or a thread cannot be made.
  bool start(std::uint32_t threads, std::uint32_t max_queue, int policy, std::uint32_t stack_size);
  // Refuses new jobs, waits up to timeout_ms (negative: no limit) for the
  // queue to drain, drops what is still queued, waits for running jobs and
  // joins the threads. True when everything queued ran.
  bool stop(int timeout_ms);
  // Waits up to timeout_ms (negative: no limit) until nothing is queued or
  // running. True when the pool is idle.
  bool wait(int timeout_ms);
  // Queues the job. When the queue is full: kFail returns false, kWaitFor
  // waits up to timeout_ms (negative: no limit; 0: not at all) for room,
  // kCallerRuns runs the job on this thread and returns true.
  bool submit(const Job& job, int timeout_ms);

  State state() const;
  std::size_t queueSize() const;
  std::uint32_t threadCount() const;
  std::uint32_t maxQueueSize() const;
  int policy() const;
  // True on one of this pool's threads.
  bool onPoolThread() const;

 private:
  static void* threadMain(void* self);
  void work();

  mutable std::mutex mutex_;
  std::condition_variable has_job_;
  std::condition_variable has_room_;
  std::condition_variable idle_;
  std::deque<Job> queue_;
  std::atomic<std::size_t> queued_{0};  // queue_.size(), readable without the lock
  std::vector<pthread_t> threads_;
  State state_ = State::kStopped;
  std::uint32_t max_queue_ = 0;
  Policy policy_ = Policy::kFail;
  std::size_t running_ = 0;
  std::uint32_t thread_count_ = 0;
};

}  // namespace hpsocket4c

#endif  // HPSOCKET4C_SRC_THREAD_POOL_H_
