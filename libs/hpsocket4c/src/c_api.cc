// The exported C functions: handle checks and hand-over to Server,
// Connection and ThreadPool.
//
// Every server handle is checked against the registry of live servers, and
// the registry stays read-locked for the duration of the call, so that a
// worker calling in after Destroy_HP_HttpServer gets a clean failure instead
// of touching freed memory.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <shared_mutex>
#include <type_traits>
#include <unordered_set>

#include "hpsocket4c.h"
#include "http_server.h"
#include "testing.h"
#include "thread_pool.h"

namespace hpsocket4c {
namespace {

struct ListenerBox {
  std::shared_ptr<Listener> listener = std::make_shared<Listener>();
};

std::shared_mutex& registryMutex() {
  static std::shared_mutex mutex;
  return mutex;
}
std::unordered_set<Server*>& registry() {
  static std::unordered_set<Server*> servers;
  return servers;
}

// A server handle that stays valid while the object lives.
class LiveServer {
 public:
  explicit LiveServer(HP_HttpServer handle) : lock_(registryMutex()) {
    auto* server = reinterpret_cast<Server*>(handle);
    if (server != nullptr && registry().count(server) != 0) server_ = server;
  }
  explicit operator bool() const { return server_ != nullptr; }
  Server* operator->() const { return server_; }

 private:
  std::shared_lock<std::shared_mutex> lock_;
  Server* server_ = nullptr;
};

// The current request's head of a connection, when it may be read.
struct VisibleRequest {
  std::shared_ptr<Connection> connection;
  const RequestHead* head = nullptr;
};
VisibleRequest visibleRequest(HP_HttpServer server, HP_CONNID conn) {
  VisibleRequest result;
  LiveServer live(server);
  if (!live) return result;
  result.connection = live->find(conn);
  if (result.connection) result.head = result.connection->visibleHead();
  return result;
}

// The two-call protocol: too small an array (or none) reports the count and
// fails; a big enough one is filled. No request: count 0, failure.
HP_BOOL fillPairs(const std::vector<std::pair<std::string, std::string>>* pairs, THeader* out,
                  uint32_t* count) {
  if (pairs == nullptr) {
    *count = 0;
    return false;
  }
  auto needed = static_cast<uint32_t>(pairs->size());
  if (out == nullptr || *count < needed) {
    *count = needed;
    return false;
  }
  for (uint32_t i = 0; i < needed; ++i) {
    out[i].name = (*pairs)[i].first.c_str();
    out[i].value = (*pairs)[i].second.c_str();
  }
  *count = needed;
  return true;
}

Listener* listenerOf(HP_HttpServerListener handle) {
  return handle == nullptr ? nullptr : reinterpret_cast<ListenerBox*>(handle)->listener.get();
}

// The task record comes first, so that the record's address is the box's.
struct TaskBox {
  TSocketTask record{};
  std::shared_ptr<Connection> connection;  // holds the connection's close back
  bool free_buffer = false;
};
static_assert(sizeof(TSocketTask) == 8 * sizeof(void*), "eight machine words");
static_assert(std::is_standard_layout_v<TaskBox>, "the record's address is the box's");

void destroyTask(void* arg) {
  auto* box = static_cast<TaskBox*>(arg);
  if (box->free_buffer) std::free(const_cast<std::uint8_t*>(box->record.buffer));
  if (box->connection) box->connection->releaseTaskRef();
  delete box;
}

void runTask(void* arg) {
  auto* box = static_cast<TaskBox*>(arg);
  box->record.fn(&box->record);
  destroyTask(box);
}

ThreadPool* poolOf(HP_ThreadPool handle) { return reinterpret_cast<ThreadPool*>(handle); }

}  // namespace

bool setServerLimitsForTesting(HP_HttpServer server, const Limits& limits) {
  LiveServer live(server);
  return live && live->setLimits(limits);
}

}  // namespace hpsocket4c

using hpsocket4c::LiveServer;

extern "C" {

HP_HttpServerListener Create_HP_HttpServerListener(void) {
  auto* box = new (std::nothrow) hpsocket4c::ListenerBox;
  return reinterpret_cast<HP_HttpServerListener>(box);
}

void Destroy_HP_HttpServerListener(HP_HttpServerListener listener) {
  delete reinterpret_cast<hpsocket4c::ListenerBox*>(listener);
}

HP_HttpServer Create_HP_HttpServer(HP_HttpServerListener listener) {
  if (listener == nullptr) return nullptr;
  auto* server = new (std::nothrow)
      hpsocket4c::Server(reinterpret_cast<hpsocket4c::ListenerBox*>(listener)->listener);
  if (server == nullptr) return nullptr;
  std::unique_lock lock(hpsocket4c::registryMutex());
  hpsocket4c::registry().insert(server);
  return server->handle();
}

void Destroy_HP_HttpServer(HP_HttpServer server) {
  if (server == nullptr) return;
  {
    LiveServer live(server);
    if (!live) return;
    live->stop();
  }
  auto* object = reinterpret_cast<hpsocket4c::Server*>(server);
  {
    std::unique_lock lock(hpsocket4c::registryMutex());
    if (hpsocket4c::registry().erase(object) == 0) return;
  }
  delete object;
}

HP_HttpServer Create_HP_HttpsServer(HP_HttpServerListener) { return nullptr; }

void Destroy_HP_HttpsServer(HP_HttpServer server) { Destroy_HP_HttpServer(server); }

HP_BOOL HP_Server_Start(HP_HttpServer server, const char* address, int port) {
  LiveServer live(server);
  return live && live->start(address, port);
}

HP_BOOL HP_Server_Stop(HP_HttpServer server) {
  LiveServer live(server);
  return live && live->stop();
}

HP_BOOL HP_Server_HasStarted(HP_HttpServer server) {
  LiveServer live(server);
  return live && live->started();
}

HP_BOOL HP_Server_GetListenAddress(HP_HttpServer server, char* address, int* length,
                                   uint16_t* port) {
  LiveServer live(server);
  if (!live || length == nullptr) return false;
  std::string bound = live->boundAddress();
  if (bound.empty()) return false;
  int needed = static_cast<int>(bound.size()) + 1;
  if (address == nullptr || *length < needed) {
    *length = needed;
    return false;
  }
  std::memcpy(address, bound.c_str(), static_cast<std::size_t>(needed));
  *length = needed;
  if (port != nullptr) *port = static_cast<uint16_t>(live->boundPort());
  return true;
}

uint32_t HP_Server_GetConnectionCount(HP_HttpServer server) {
  LiveServer live(server);
  return live ? static_cast<uint32_t>(live->connectionCount()) : 0;
}

void HP_Server_SetWorkerThreadCount(HP_HttpServer server, uint32_t count) {
  LiveServer live(server);
  if (live) live->setNetworkThreadCount(count);
}

uint32_t HP_Server_GetWorkerThreadCount(HP_HttpServer server) {
  LiveServer live(server);
  return live ? live->networkThreadCount() : 0;
}

void HP_Server_SetMaxConnectionCount(HP_HttpServer server, uint32_t count) {
  LiveServer live(server);
  if (!live) return;
  hpsocket4c::Limits limits = live->limits();
  limits.max_connections = count == 0 ? hpsocket4c::kMaxConnections : count;
  live->setLimits(limits);
}

uint32_t HP_Server_GetMaxConnectionCount(HP_HttpServer server) {
  LiveServer live(server);
  return live ? static_cast<uint32_t>(live->limits().max_connections) : 0;
}

void HP_Set_FN_HttpServer_OnAccept(HP_HttpServerListener listener, HP_FN_HttpServer_OnAccept fn) {
  if (auto* l = hpsocket4c::listenerOf(listener)) l->on_accept.store(fn);
}

void HP_Set_FN_HttpServer_OnClose(HP_HttpServerListener listener, HP_FN_HttpServer_OnClose fn) {
  if (auto* l = hpsocket4c::listenerOf(listener)) l->on_close.store(fn);
}

void HP_Set_FN_HttpServer_OnBody(HP_HttpServerListener listener, HP_FN_HttpServer_OnBody fn) {
  if (auto* l = hpsocket4c::listenerOf(listener)) l->on_body.store(fn);
}

void HP_Set_FN_HttpServer_OnHeadersComplete(HP_HttpServerListener listener,
                                            HP_FN_HttpServer_OnHeadersComplete fn) {
  if (auto* l = hpsocket4c::listenerOf(listener)) l->on_headers_complete.store(fn);
}

void HP_Set_FN_HttpServer_OnMessageComplete(HP_HttpServerListener listener,
                                            HP_FN_HttpServer_OnMessageComplete fn) {
  if (auto* l = hpsocket4c::listenerOf(listener)) l->on_message_complete.store(fn);
}

HP_BOOL HP_Server_SetConnectionExtra(HP_HttpServer server, HP_CONNID conn, void* extra) {
  LiveServer live(server);
  if (!live) return false;
  auto connection = live->find(conn);
  if (!connection) return false;
  connection->setExtra(extra);
  return true;
}

HP_BOOL HP_Server_GetConnectionExtra(HP_HttpServer server, HP_CONNID conn, void** extra) {
  if (extra == nullptr) return false;
  LiveServer live(server);
  if (!live) return false;
  auto connection = live->find(conn);
  if (!connection) return false;
  *extra = connection->extra();
  return true;
}

const char* HP_HttpServer_GetUrlField(HP_HttpServer server, HP_CONNID conn, int field) {
  auto request = hpsocket4c::visibleRequest(server, conn);
  return request.head == nullptr ? nullptr : request.head->url.get(field);
}

const char* HP_HttpServer_GetMethod(HP_HttpServer server, HP_CONNID conn) {
  auto request = hpsocket4c::visibleRequest(server, conn);
  if (request.head == nullptr || request.head->method.empty()) return nullptr;
  return request.head->method.c_str();
}

HP_BOOL HP_HttpServer_GetHeader(HP_HttpServer server, HP_CONNID conn, const char* name,
                                const char** value) {
  if (name == nullptr || value == nullptr) return false;
  auto request = hpsocket4c::visibleRequest(server, conn);
  if (request.head == nullptr) return false;
  const std::string* found = request.head->findHeader(name);
  if (found == nullptr) return false;
  *value = found->c_str();
  return true;
}

HP_BOOL HP_HttpServer_GetAllHeaders(HP_HttpServer server, HP_CONNID conn, THeader* headers,
                                    uint32_t* count) {
  if (count == nullptr) return false;
  auto request = hpsocket4c::visibleRequest(server, conn);
  return hpsocket4c::fillPairs(request.head == nullptr ? nullptr : &request.head->headers, headers,
                               count);
}

HP_BOOL HP_HttpServer_GetCookie(HP_HttpServer server, HP_CONNID conn, const char* name,
                                const char** value) {
  if (name == nullptr || value == nullptr) return false;
  auto request = hpsocket4c::visibleRequest(server, conn);
  if (request.head == nullptr) return false;
  const std::string* found = request.head->findCookie(name);
  if (found == nullptr) return false;
  *value = found->c_str();
  return true;
}

HP_BOOL HP_HttpServer_GetAllCookies(HP_HttpServer server, HP_CONNID conn, THeader* cookies,
                                    uint32_t* count) {
  if (count == nullptr) return false;
  auto request = hpsocket4c::visibleRequest(server, conn);
  return hpsocket4c::fillPairs(request.head == nullptr ? nullptr : &request.head->cookies, cookies,
                               count);
}

HP_BOOL HP_HttpServer_SendResponse(HP_HttpServer server, HP_CONNID conn, int status_code,
                                   const char* status_text, const THeader* headers,
                                   int header_count, const uint8_t* body, int body_length) {
  LiveServer live(server);
  if (!live) return false;
  auto connection = live->find(conn);
  return connection && connection->sendResponse(status_code, status_text, headers, header_count,
                                                body, body_length);
}

HP_ThreadPool Create_HP_ThreadPool(void) {
  return reinterpret_cast<HP_ThreadPool>(new (std::nothrow) hpsocket4c::ThreadPool);
}

void Destroy_HP_ThreadPool(HP_ThreadPool pool) { delete hpsocket4c::poolOf(pool); }

HP_BOOL HP_ThreadPool_Start(HP_ThreadPool pool, uint32_t threads, uint32_t max_queue, int policy,
                            uint32_t stack_size) {
  return pool != nullptr && hpsocket4c::poolOf(pool)->start(threads, max_queue, policy, stack_size);
}

HP_BOOL HP_ThreadPool_Stop(HP_ThreadPool pool, int timeout_ms) {
  return pool != nullptr && hpsocket4c::poolOf(pool)->stop(timeout_ms);
}

HP_BOOL HP_ThreadPool_Wait(HP_ThreadPool pool, int timeout_ms) {
  return pool != nullptr && hpsocket4c::poolOf(pool)->wait(timeout_ms);
}

uint32_t HP_ThreadPool_GetQueueSize(HP_ThreadPool pool) {
  return pool == nullptr ? 0 : static_cast<uint32_t>(hpsocket4c::poolOf(pool)->queueSize());
}

uint32_t HP_ThreadPool_GetThreadCount(HP_ThreadPool pool) {
  return pool == nullptr ? 0 : hpsocket4c::poolOf(pool)->threadCount();
}

uint32_t HP_ThreadPool_GetMaxQueueSize(HP_ThreadPool pool) {
  return pool == nullptr ? 0 : hpsocket4c::poolOf(pool)->maxQueueSize();
}

int HP_ThreadPool_GetRejectedPolicy(HP_ThreadPool pool) {
  return pool == nullptr ? 0 : hpsocket4c::poolOf(pool)->policy();
}

TSocketTask* Create_HP_SocketTaskObj(HP_FN_SocketTaskProc fn, HP_HttpServer sender, HP_CONNID conn,
                                     const uint8_t* buffer, intptr_t buffer_length,
                                     intptr_t buffer_type, uintptr_t wparam, intptr_t lparam) {
  if (fn == nullptr) return nullptr;
  auto* box = new (std::nothrow) hpsocket4c::TaskBox;
  if (box == nullptr) return nullptr;
  box->record = TSocketTask{fn, sender, conn, buffer, buffer_length, buffer_type, wparam, lparam};
  if (buffer != nullptr && buffer_length > 0 && buffer_type == HP_TBT_COPY) {
    auto* copy = static_cast<uint8_t*>(std::malloc(static_cast<std::size_t>(buffer_length)));
    if (copy == nullptr) {
      delete box;
      return nullptr;
    }
    std::memcpy(copy, buffer, static_cast<std::size_t>(buffer_length));
    box->record.buffer = copy;
    box->free_buffer = true;
  } else if (buffer != nullptr && buffer_type == HP_TBT_ATTACH) {
    box->free_buffer = true;
  }
  if (sender != nullptr && conn != 0) {
    LiveServer live(sender);
    if (live) {
      auto connection = live->find(conn);
      if (connection && connection->addTaskRef()) box->connection = std::move(connection);
    }
  }
  return &box->record;
}

void Destroy_HP_SocketTaskObj(TSocketTask* task) {
  if (task != nullptr) hpsocket4c::destroyTask(task);
}

HP_BOOL HP_ThreadPool_Submit_Task(HP_ThreadPool pool, TSocketTask* task, int timeout_ms) {
  if (pool == nullptr || task == nullptr || task->fn == nullptr) return false;
  hpsocket4c::ThreadPool::Job job;
  job.run = &hpsocket4c::runTask;
  job.discard = &hpsocket4c::destroyTask;
  job.arg = task;
  return hpsocket4c::poolOf(pool)->submit(job, timeout_ms);
}

HP_BOOL HP_ThreadPool_Submit(HP_ThreadPool pool, HP_FN_TaskProc fn, void* arg, int timeout_ms) {
  if (pool == nullptr || fn == nullptr) return false;
  hpsocket4c::ThreadPool::Job job;
  job.run = fn;
  job.arg = arg;
  return hpsocket4c::poolOf(pool)->submit(job, timeout_ms);
}

}  // extern "C"
