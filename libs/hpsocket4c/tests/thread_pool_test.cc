// The pool through the C interface: each task runs once and is destroyed
// after; the three policies for a full queue; stop with and without timeout.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "hpsocket4c.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> g_runs{0};
std::atomic<std::thread::id> g_last_thread;
std::mutex g_gate_mutex;
std::condition_variable g_gate_cv;
bool g_gate_open = true;

void setGate(bool open) {
  {
    std::lock_guard lock(g_gate_mutex);
    g_gate_open = open;
  }
  g_gate_cv.notify_all();
}

// Adds the task's first user word to g_runs; waits for the gate unless its
// second user word is 1.
void countTask(TSocketTask* task) {
  std::unique_lock lock(g_gate_mutex);
  if (task->lparam != 1) g_gate_cv.wait(lock, [] { return g_gate_open; });
  g_last_thread = std::this_thread::get_id();
  g_runs += static_cast<int>(task->wparam);
}

TSocketTask* newTask(uintptr_t weight = 1, intptr_t ungated = 0) {
  static const uint8_t kBytes[] = {1, 2, 3};
  return Create_HP_SocketTaskObj(&countTask, nullptr, 0, kBytes, 3, HP_TBT_COPY, weight, ungated);
}

TEST(ThreadPool, RunsEachTaskOnceWithItsRecord) {
  g_runs = 0;
  HP_ThreadPool pool = Create_HP_ThreadPool();
  TSocketTask* early = newTask();
  EXPECT_FALSE(HP_ThreadPool_Submit_Task(pool, early, HP_INFINITE));  // not started
  Destroy_HP_SocketTaskObj(early);
  ASSERT_TRUE(HP_ThreadPool_Start(pool, 0, 0, HP_TRP_WAIT_FOR, 0));
  EXPECT_FALSE(HP_ThreadPool_Start(pool, 0, 0, HP_TRP_WAIT_FOR, 0));
  EXPECT_GE(HP_ThreadPool_GetThreadCount(pool), 1u);
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(HP_ThreadPool_Submit_Task(pool, newTask(), -1));
  EXPECT_TRUE(HP_ThreadPool_Wait(pool, 15000));
  EXPECT_EQ(g_runs.load(), 1000);
  EXPECT_NE(g_last_thread.load(), std::this_thread::get_id());
  EXPECT_TRUE(HP_ThreadPool_Stop(pool, HP_INFINITE));
  // Stopped: refused, the task stays the caller's.
  TSocketTask* task = newTask();
  EXPECT_FALSE(HP_ThreadPool_Submit_Task(pool, task, HP_INFINITE));
  Destroy_HP_SocketTaskObj(task);
  Destroy_HP_ThreadPool(pool);
}

TEST(ThreadPool, FullQueuePolicies) {
  for (int policy : {HP_TRP_CALL_FAIL, HP_TRP_WAIT_FOR, HP_TRP_CALLER_RUN}) {
    g_runs = 0;
    HP_ThreadPool pool = Create_HP_ThreadPool();
    ASSERT_TRUE(HP_ThreadPool_Start(pool, 1, 1, policy, 256 * 1024));
    setGate(false);
    ASSERT_TRUE(HP_ThreadPool_Submit_Task(pool, newTask(), -1));  // running, blocked
    // Wait until the thread took it, so that the queue is empty.
    for (int i = 0; i < 1000 && HP_ThreadPool_GetQueueSize(pool) != 0; ++i) {
      std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(HP_ThreadPool_Submit_Task(pool, newTask(), -1));  // queued: the queue is full
    TSocketTask* third = newTask(100, policy == HP_TRP_CALLER_RUN ? 1 : 0);
    if (policy == HP_TRP_CALL_FAIL) {
      EXPECT_FALSE(HP_ThreadPool_Submit_Task(pool, third, -1));
      Destroy_HP_SocketTaskObj(third);
    } else if (policy == HP_TRP_WAIT_FOR) {
      EXPECT_FALSE(HP_ThreadPool_Submit_Task(pool, third, 50));  // times out
      std::thread opener([] {
        std::this_thread::sleep_for(50ms);
        setGate(true);
      });
      EXPECT_TRUE(HP_ThreadPool_Submit_Task(pool, third, HP_INFINITE));  // room comes
      opener.join();
    } else {
      // Runs right here, while the pool's thread is still blocked.
      EXPECT_TRUE(HP_ThreadPool_Submit_Task(pool, third, -1));
      EXPECT_EQ(g_last_thread.load(), std::this_thread::get_id());
    }
    setGate(true);
    EXPECT_TRUE(HP_ThreadPool_Wait(pool, 15000));
    EXPECT_EQ(g_runs.load(), policy == HP_TRP_CALL_FAIL ? 2 : 102) << policy;
    Destroy_HP_ThreadPool(pool);
  }
}

TEST(ThreadPool, StopWithTimeoutDropsWhatIsStillQueued) {
  g_runs = 0;
  HP_ThreadPool pool = Create_HP_ThreadPool();
  ASSERT_TRUE(HP_ThreadPool_Start(pool, 1, 0, HP_TRP_WAIT_FOR, 0));
  setGate(false);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(HP_ThreadPool_Submit_Task(pool, newTask(), -1));
  std::thread opener([] {
    std::this_thread::sleep_for(200ms);
    setGate(true);
  });
  EXPECT_FALSE(HP_ThreadPool_Stop(pool, 50));
  opener.join();
  // The running one finished; the four queued ones were destroyed unrun.
  EXPECT_EQ(g_runs.load(), 1);
  EXPECT_TRUE(HP_ThreadPool_Start(pool, 2, 0, HP_TRP_WAIT_FOR, 0));  // and it starts again
  ASSERT_TRUE(HP_ThreadPool_Submit_Task(pool, newTask(), -1));
  EXPECT_TRUE(HP_ThreadPool_Stop(pool, HP_INFINITE));
  EXPECT_EQ(g_runs.load(), 2);
  Destroy_HP_ThreadPool(pool);
}

}  // namespace
