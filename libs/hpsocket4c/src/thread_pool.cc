#include "thread_pool.h"

#include <chrono>
#include <thread>

namespace hpsocket4c {

namespace {

thread_local const ThreadPool* tls_current_pool = nullptr;

// How long an idle worker looks for a next job before it sleeps (about
// 10-20 microseconds).
constexpr int kSpinRounds = 400;

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

template <typename Predicate>
bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int timeout_ms,
             Predicate done) {
  if (timeout_ms < 0) {
    cv.wait(lock, done);
    return true;
  }
  return cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), done);
}

}  // namespace

ThreadPool::~ThreadPool() { stop(-1); }

bool ThreadPool::start(std::uint32_t threads, std::uint32_t max_queue, int policy,
                       std::uint32_t stack_size) {
  std::unique_lock lock(mutex_);
  if (state_ != State::kStopped) return false;
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  if (policy < 0 || policy > 2) policy = static_cast<int>(Policy::kFail);
  max_queue_ = max_queue;
  policy_ = static_cast<Policy>(policy);
  state_ = State::kStarting;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (stack_size > 0) {
    std::size_t size = std::max<std::size_t>(stack_size, PTHREAD_STACK_MIN);
    pthread_attr_setstacksize(&attr, size);
  }
  bool ok = true;
  for (std::uint32_t i = 0; i < threads; ++i) {
    pthread_t thread;
    if (pthread_create(&thread, &attr, &ThreadPool::threadMain, this) != 0) {
      ok = false;
      break;
    }
    threads_.push_back(thread);
  }
  pthread_attr_destroy(&attr);
  thread_count_ = static_cast<std::uint32_t>(threads_.size());
  if (!ok) {
    state_ = State::kStopping;
    lock.unlock();
    has_job_.notify_all();
    for (pthread_t thread : threads_) pthread_join(thread, nullptr);
    lock.lock();
    threads_.clear();
    thread_count_ = 0;
    state_ = State::kStopped;
    return false;
  }
  state_ = State::kStarted;
  return true;
}

bool ThreadPool::stop(int timeout_ms) {
  if (onPoolThread()) return false;
  std::unique_lock lock(mutex_);
  if (state_ != State::kStarted) return false;
  state_ = State::kStopping;
  has_room_.notify_all();  // waiting submitters give up
  bool drained = waitFor(idle_, lock, timeout_ms, [this] { return queue_.empty(); });
  std::deque<Job> dropped;
  dropped.swap(queue_);
  queued_.store(0, std::memory_order_relaxed);
  std::vector<pthread_t> threads;
  threads.swap(threads_);
  lock.unlock();
  has_job_.notify_all();
  for (const Job& job : dropped) {
    if (job.discard != nullptr) job.discard(job.arg);
  }
  for (pthread_t thread : threads) pthread_join(thread, nullptr);
  lock.lock();
  thread_count_ = 0;
  state_ = State::kStopped;
  return drained;
}

bool ThreadPool::wait(int timeout_ms) {
  std::unique_lock lock(mutex_);
  return waitFor(idle_, lock, timeout_ms, [this] { return queue_.empty() && running_ == 0; });
}

bool ThreadPool::submit(const Job& job, int timeout_ms) {
  if (job.run == nullptr) return false;
  std::unique_lock lock(mutex_);
  if (state_ != State::kStarted) return false;
  auto has_room = [this] {
    return state_ != State::kStarted || max_queue_ == 0 || queue_.size() < max_queue_;
  };
  if (!has_room()) {
    switch (policy_) {
      case Policy::kFail:
        return false;
      case Policy::kCallerRuns:
        lock.unlock();
        job.run(job.arg);
        return true;
      case Policy::kWaitFor:
        if (timeout_ms == 0 || !waitFor(has_room_, lock, timeout_ms, has_room)) return false;
        if (state_ != State::kStarted) return false;
        break;
    }
  }
  queue_.push_back(job);
  queued_.store(queue_.size(), std::memory_order_relaxed);
  lock.unlock();
  has_job_.notify_one();
  return true;
}

ThreadPool::State ThreadPool::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::size_t ThreadPool::queueSize() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

std::uint32_t ThreadPool::threadCount() const {
  std::lock_guard lock(mutex_);
  return thread_count_;
}

std::uint32_t ThreadPool::maxQueueSize() const {
  std::lock_guard lock(mutex_);
  return max_queue_;
}

int ThreadPool::policy() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(policy_);
}

bool ThreadPool::onPoolThread() const { return tls_current_pool == this; }

void* ThreadPool::threadMain(void* self) {
  auto* pool = static_cast<ThreadPool*>(self);
  tls_current_pool = pool;
  pool->work();
  return nullptr;
}

void ThreadPool::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (queue_.empty() && state_ == State::kStarted) {
      // Under load the next job usually comes within microseconds; looking
      // for it a little while is cheaper than going to sleep and being woken
      // (two system calls and two context switches).
      lock.unlock();
      for (int i = 0; i < kSpinRounds && queued_.load(std::memory_order_relaxed) == 0; ++i) {
        cpuRelax();
      }
      lock.lock();
    }
    has_job_.wait(lock, [this] {
      return !queue_.empty() || (state_ != State::kStarted && state_ != State::kStarting);
    });
    if (queue_.empty()) return;  // stopping and nothing left
    Job job = queue_.front();
    queue_.pop_front();
    queued_.store(queue_.size(), std::memory_order_relaxed);
    ++running_;
    lock.unlock();
    has_room_.notify_one();
    job.run(job.arg);
    lock.lock();
    --running_;
    if (queue_.empty()) idle_.notify_all();
  }
}

}  // namespace hpsocket4c
