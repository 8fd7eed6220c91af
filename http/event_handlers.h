// The request path between the network and the recognition logic: the five
// handlers the listener calls, the worker pool binding and the worker routine.
//
// Network threads only attach a body buffer to each new connection, append
// body pieces to it and queue one task per complete request; reading the
// body and the request fields, recognition and sending the answer run on a
// thread of g_workerPool (processRequestTask). A connection's block is
// handed over by ordering alone: the library reads nothing more from a
// connection until its answer has gone out, and reports the close only after
// the connection's tasks have ended, when onClose releases the block.
#ifndef REZ_HTTP_EVENT_HANDLERS_H_
#define REZ_HTTP_EVENT_HANDLERS_H_

#include <cstdint>

#include "platform/hpsocket.h"

// The library's task record: eight pointer-sized words (procedure, sender,
// connection, buffer, buffer length, buffer kind, two user words).
using SocketTask = TSocketTask;
static_assert(sizeof(SocketTask) == 8 * sizeof(uintptr_t));

// The worker pool: one field, the pool handle. Copying copies the handle;
// destroying the object leaves the pool alone (destroyPool ends it).
class ThreadPoolBinding {
 public:
  // Stores a new pool's handle (one held before is overwritten, not
  // destroyed); true when there is one.
  bool createPool();
  // Stops the pool (waiting for its tasks) and frees it; no pool afterwards.
  void destroyPool();
  bool startPool(uint32_t threadCount, uint32_t maxQueueSize, int rejectedPolicy,
                 uint32_t stackSize);
  bool stopPool(int timeoutMs = -1);
  // Waits up to timeoutMs (negative: no limit) until no task is queued or
  // running.
  bool waitPool(int timeoutMs = -1);
  // 1 when the task was queued (it then belongs to the pool), else 0.
  int submitSocketTask(HP_FN_SocketTaskProc procedure, ServerHandle sender, ConnectionId connection,
                       const uint8_t* buffer = nullptr, intptr_t bufferLength = 0,
                       intptr_t bufferKind = 0, uintptr_t userWord1 = 0, intptr_t userWord2 = 0,
                       int timeoutMs = -1);
  // Copies the whole record to `destination`; 0 (nothing copied) for a null
  // task.
  static int copySocketTask(const SocketTask* task, SocketTask* destination);
  PoolHandle handle() const { return pool_; }

 private:
  PoolHandle pool_ = nullptr;
};

// The handlers; each returns 0 (HP_HR_OK) on every path.
En_HP_HandleResult onAccept(ServerHandle sender, ConnectionId connection, uintptr_t clientSocket);
En_HP_HandleResult onClose(ServerHandle sender, ConnectionId connection, int operation,
                           int errorCode);
En_HP_HandleResult onBody(ServerHandle sender, ConnectionId connection, const uint8_t* data,
                          int length);
En_HP_HandleResult onHeadersComplete(ServerHandle sender, ConnectionId connection);
En_HP_HandleResult onMessageComplete(ServerHandle sender, ConnectionId connection);

// The worker routine: one complete request in, one response out.
void processRequestTask(SocketTask* task);

#endif  // REZ_HTTP_EVENT_HANDLERS_H_
