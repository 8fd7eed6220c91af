#include "http/event_handlers.h"

#include <cstring>
#include <optional>

#include "http/memory_block.h"
#include "http/server_binding.h"
#include "recognition/code_pages.h"
#include "recognition/request_routing.h"
#include "text/library_entries.h"
#include "text/text_ops.h"

bool ThreadPoolBinding::createPool() {
  pool_ = entry::Create_HP_ThreadPool();
  return pool_ != nullptr;
}

void ThreadPoolBinding::destroyPool() {
  if (pool_ == nullptr) return;
  entry::Destroy_HP_ThreadPool(pool_);
  pool_ = nullptr;
}

bool ThreadPoolBinding::startPool(uint32_t threadCount, uint32_t maxQueueSize, int rejectedPolicy,
                                  uint32_t stackSize) {
  return entry::HP_ThreadPool_Start(pool_, threadCount, maxQueueSize, rejectedPolicy, stackSize) !=
         0;
}

bool ThreadPoolBinding::stopPool(int timeoutMs) {
  return entry::HP_ThreadPool_Stop(pool_, timeoutMs) != 0;
}

bool ThreadPoolBinding::waitPool(int timeoutMs) {
  return entry::HP_ThreadPool_Wait(pool_, timeoutMs) != 0;
}

int ThreadPoolBinding::submitSocketTask(HP_FN_SocketTaskProc procedure, ServerHandle sender,
                                        ConnectionId connection, const uint8_t* buffer,
                                        intptr_t bufferLength, intptr_t bufferKind,
                                        uintptr_t userWord1, intptr_t userWord2, int timeoutMs) {
  SocketTask* task = entry::Create_HP_SocketTaskObj(procedure, sender, connection, buffer,
                                                    bufferLength, bufferKind, userWord1, userWord2);
  if (task == nullptr) return 0;
  if (entry::HP_ThreadPool_Submit_Task(pool_, task, timeoutMs) != 0) return 1;
  entry::Destroy_HP_SocketTaskObj(task);
  return 0;
}

int ThreadPoolBinding::copySocketTask(const SocketTask* task, SocketTask* destination) {
  if (task == nullptr) return 0;
  std::memcpy(destination, task, sizeof(SocketTask));
  return 1;
}

// The answer's UTF-8 bytes. ASCII is the same bytes in code page 936 and in
// UTF-8, so the usual answer ("code:" and the engine's letters) skips the two
// conversions; any other answer goes the ordinary way.
static ByteBuffer answerToUtf8(const Text& answer) {
  for (unsigned char c : answer.bytes()) {
    if (c >= 0x80) return textToUtf8Bytes(answer);
  }
  return ByteBuffer(answer.c_str(), answer.length());
}

En_HP_HandleResult onAccept(ServerHandle sender, ConnectionId connection, uintptr_t clientSocket) {
  // The header belongs to the connection from now on; onClose releases it.
  MemoryBlock block;
  block.createHeader();
  g_server.setConnectionExtra(g_serverHandle.load(std::memory_order_acquire), connection,
                              block.headerPointer());
  return HP_HR_OK;
}

En_HP_HandleResult onClose(ServerHandle sender, ConnectionId connection, int operation,
                           int errorCode) {
  // The library reports a close only after the connection's tasks have
  // ended, so no worker still holds the block.
  void* value = nullptr;
  if (g_server.getConnectionExtra(sender, connection, value) && value != nullptr) {
    MemoryBlock(static_cast<MemoryBlockHeader*>(value)).release();
    g_server.setConnectionExtra(sender, connection, nullptr);
  }
  return HP_HR_OK;
}

En_HP_HandleResult onBody(ServerHandle sender, ConnectionId connection, const uint8_t* data,
                          int length) {
  void* value = nullptr;
  if (g_server.getConnectionExtra(g_serverHandle.load(std::memory_order_acquire), connection,
                                  value) &&
      value != nullptr) {
    MemoryBlock(static_cast<MemoryBlockHeader*>(value)).append(data, length);
  }
  return HP_HR_OK;
}

En_HP_HandleResult onHeadersComplete(ServerHandle sender, ConnectionId connection) {
  return HP_HR_OK;
}

En_HP_HandleResult onMessageComplete(ServerHandle sender, ConnectionId connection) {
  if (g_workerPool.submitSocketTask(processRequestTask, sender, connection) == 0) {
    // A request that cannot be queued still gets an answer, not silence.
    g_server.sendResponse(sender, connection, 503, Text("Service Unavailable"), g_responseHeaders,
                          ByteBuffer());
  }
  return HP_HR_OK;
}

void processRequestTask(SocketTask* task) {
  SocketTask record{};
  if (ThreadPoolBinding::copySocketTask(task, &record) == 0) return;
  // Every call names the event's sender, the server this request came from.
  ServerHandle sender = record.sender;
  ConnectionId connection = record.conn_id;

  // The body first, and the block emptied before anything else is fetched,
  // ready for the connection's next request.
  Text body;
  void* value = nullptr;
  g_server.getConnectionExtra(sender, connection, value);
  if (value != nullptr) {
    MemoryBlock block(static_cast<MemoryBlockHeader*>(value));
    body = utf8BytesToText(pointerToBytes(block.dataAt(0), block.length()));
    block.freeData();
  }

  HeaderList headers;
  g_server.getAllHeaders(sender, connection, headers);
  const Text path = g_server.getUrlField(sender, connection, HP_HUF_PATH);
  const Text query = g_server.getUrlField(sender, connection, HP_HUF_QUERY);
  const Text cookie = g_server.getHeader(sender, connection, Text("Cookie"));
  const Text method = g_server.getMethod(sender, connection);

  int statusCode = 0;
  Text statusText;
  const Text answer =
      handleRecognitionRequest(path, method, query, headers, body, cookie, statusCode, statusText);
  // The status text counts as given even when empty: a rejected request
  // goes out with code 0 and no text, which the library sends as
  // "400 Bad Request"; clients have always read the answer from the body.
  g_server.sendResponse(sender, connection, statusCode, statusText, g_responseHeaders,
                        answerToUtf8(answer));
}
