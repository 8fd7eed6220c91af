// A small program on the library, as the real service uses it: each
// connection gets a body buffer as its extra value (freed on close), body
// pieces are appended on the network threads, and every complete request is
// answered from a pool task. The answer echoes what the task saw, and the
// query can choose the status (status=N) and status text (text=T).
//
// The harness also checks the library's promises as it goes: a close never
// comes while a task of the connection runs or is queued, and no handler
// runs after HP_Server_Stop has returned.
#ifndef HPSOCKET4C_TESTS_TEST_HARNESS_H_
#define HPSOCKET4C_TESTS_TEST_HARNESS_H_

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <unordered_set>

#include "hpsocket4c.h"
#include "server_limits.h"

namespace hpsocket4c::testing {

struct Harness {
  // Starts a listener, a server on a free loopback port (with `limits`) and
  // a pool of `pool_threads` threads.
  explicit Harness(const Limits& limits = Limits(), unsigned pool_threads = 2,
                   unsigned network_threads = 2);
  ~Harness();

  // Stops the server and records the moment (handlers after it count as
  // violations).
  bool stop();

  // Tasks wait here while the gate is closed.
  void closeGate();
  void openGate();

  HP_HttpServerListener listener = nullptr;
  HP_HttpServer server = nullptr;
  HP_ThreadPool pool = nullptr;
  int port = 0;

  std::atomic<int> accepts{0};
  std::atomic<int> closes{0};
  std::atomic<int> messages{0};
  std::atomic<int> tasks_started{0};
  std::atomic<int> tasks_finished{0};
  std::atomic<int> sends_ok{0};
  std::atomic<int> sends_failed{0};
  std::atomic<int> violations{0};  // broken promises (see above)
  std::atomic<bool> stopped{false};
  // Each task sleeps up to this long (pseudo-randomly) before answering.
  std::atomic<int> task_delay_us_max{0};

  // Per-connection states not freed by a close (a stop that gave up on a
  // connection never reports its close); freed by the destructor.
  std::mutex states_mutex;
  std::unordered_set<void*> states;

  std::mutex gate_mutex;
  std::condition_variable gate_cv;
  bool gate_open = true;
};

// The harness that the handlers report to (one at a time).
extern std::atomic<Harness*> g_harness;

}  // namespace hpsocket4c::testing

#endif  // HPSOCKET4C_TESTS_TEST_HARNESS_H_
