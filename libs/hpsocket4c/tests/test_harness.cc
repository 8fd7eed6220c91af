#include "test_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "testing.h"

namespace hpsocket4c::testing {

std::atomic<Harness*> g_harness{nullptr};

namespace {

// What the harness keeps per connection.
struct ConnectionState {
  std::string body;
  std::atomic<int> tasks{0};  // created and not yet finished
};

Harness& harness() { return *g_harness.load(); }

void noteHandler() {
  if (harness().stopped.load()) ++harness().violations;
}

ConnectionState* stateOf(HP_HttpServer server, HP_CONNID conn) {
  void* extra = nullptr;
  if (!HP_Server_GetConnectionExtra(server, conn, &extra)) return nullptr;
  return static_cast<ConnectionState*>(extra);
}

En_HP_HandleResult onAccept(HP_HttpServer sender, HP_CONNID conn, uintptr_t) {
  noteHandler();
  ++harness().accepts;
  auto* state = new ConnectionState;
  {
    std::lock_guard lock(harness().states_mutex);
    harness().states.insert(state);
  }
  HP_Server_SetConnectionExtra(sender, conn, state);
  return HP_HR_OK;
}

En_HP_HandleResult onClose(HP_HttpServer sender, HP_CONNID conn, int, int) {
  noteHandler();
  ++harness().closes;
  ConnectionState* state = stateOf(sender, conn);
  if (state != nullptr && state->tasks.load() != 0) ++harness().violations;
  {
    std::lock_guard lock(harness().states_mutex);
    harness().states.erase(state);
  }
  delete state;
  return HP_HR_OK;
}

En_HP_HandleResult onBody(HP_HttpServer sender, HP_CONNID conn, const uint8_t* data, int length) {
  noteHandler();
  if (ConnectionState* state = stateOf(sender, conn)) {
    state->body.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
  }
  return HP_HR_OK;
}

En_HP_HandleResult onHeadersComplete(HP_HttpServer, HP_CONNID) {
  noteHandler();
  return HP_HR_OK;
}

std::string text(const char* value) { return value == nullptr ? "(none)" : value; }

// Value of `name=` in a query, or "" when absent.
std::string queryValue(const std::string& query, std::string_view name) {
  std::size_t pos = 0;
  while (pos <= query.size()) {
    std::size_t amp = query.find('&', pos);
    std::string_view item(query.data() + pos,
                          (amp == std::string::npos ? query.size() : amp) - pos);
    if (item.size() > name.size() && item.substr(0, name.size()) == name &&
        item[name.size()] == '=') {
      return std::string(item.substr(name.size() + 1));
    }
    if (amp == std::string::npos) break;
    pos = amp + 1;
  }
  return "";
}

void answerTask(TSocketTask* task) {
  Harness& h = harness();
  ++h.tasks_started;
  {
    std::unique_lock lock(h.gate_mutex);
    h.gate_cv.wait(lock, [&] { return h.gate_open; });
  }
  if (int delay = h.task_delay_us_max.load(); delay > 0) {
    thread_local unsigned seed = 1;
    seed = seed * 1103515245u + 12345u;
    std::this_thread::sleep_for(std::chrono::microseconds((seed >> 8) % delay));
  }
  HP_HttpServer server = task->sender;
  HP_CONNID conn = task->conn_id;
  std::string body;
  ConnectionState* state = stateOf(server, conn);
  if (state != nullptr) {
    body.swap(state->body);
  }
  uint32_t count = 0;
  HP_HttpServer_GetAllHeaders(server, conn, nullptr, &count);
  std::string method = text(HP_HttpServer_GetMethod(server, conn));
  std::string path = text(HP_HttpServer_GetUrlField(server, conn, HP_HUF_PATH));
  std::string query = text(HP_HttpServer_GetUrlField(server, conn, HP_HUF_QUERY));
  const char* echo = nullptr;
  HP_HttpServer_GetHeader(server, conn, "x-echo", &echo);
  std::string answer = "M=" + method + " P=" + path + " Q=" + query + " H=" + text(echo) +
                       " N=" + std::to_string(count) + " B=" + body;
  const char* cookie = nullptr;
  if (HP_HttpServer_GetCookie(server, conn, "k", &cookie)) {
    uint32_t cookies = 0;
    HP_HttpServer_GetAllCookies(server, conn, nullptr, &cookies);
    answer += " C=" + std::string(cookie) + "/" + std::to_string(cookies);
  }
  int status = 200;
  std::string status_text = queryValue(query, "text");
  if (std::string code = queryValue(query, "status"); !code.empty()) {
    status = std::atoi(code.c_str());
  }
  THeader headers[] = {{"Content-Type", "text/plain"}, {"Server", "KelvHttpApi"}};
  bool ok = HP_HttpServer_SendResponse(
      server, conn, status, status_text.empty() ? nullptr : status_text.c_str(), headers, 2,
      reinterpret_cast<const uint8_t*>(answer.data()), static_cast<int>(answer.size()));
  ++(ok ? h.sends_ok : h.sends_failed);
  ++h.tasks_finished;
  if (state != nullptr) --state->tasks;
}

En_HP_HandleResult onMessageComplete(HP_HttpServer sender, HP_CONNID conn) {
  noteHandler();
  Harness& h = harness();
  ++h.messages;
  ConnectionState* state = stateOf(sender, conn);
  if (state != nullptr) ++state->tasks;
  TSocketTask* task = Create_HP_SocketTaskObj(&answerTask, sender, conn, nullptr, 0, 0, 0, 0);
  if (task == nullptr || !HP_ThreadPool_Submit_Task(h.pool, task, HP_INFINITE)) {
    if (state != nullptr) --state->tasks;
    Destroy_HP_SocketTaskObj(task);
  }
  return HP_HR_OK;
}

int freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t length = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  ::close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace

Harness::Harness(const Limits& limits, unsigned pool_threads, unsigned network_threads) {
  g_harness.store(this);
  listener = Create_HP_HttpServerListener();
  HP_Set_FN_HttpServer_OnAccept(listener, &onAccept);
  HP_Set_FN_HttpServer_OnClose(listener, &onClose);
  HP_Set_FN_HttpServer_OnBody(listener, &onBody);
  HP_Set_FN_HttpServer_OnHeadersComplete(listener, &onHeadersComplete);
  HP_Set_FN_HttpServer_OnMessageComplete(listener, &onMessageComplete);
  pool = Create_HP_ThreadPool();
  HP_ThreadPool_Start(pool, pool_threads, 0, HP_TRP_WAIT_FOR, 0);
  server = Create_HP_HttpServer(listener);
  HP_Server_SetWorkerThreadCount(server, network_threads);
  setServerLimitsForTesting(server, limits);
  for (int attempt = 0; attempt < 50 && port == 0; ++attempt) {
    int candidate = freePort();
    if (HP_Server_Start(server, "127.0.0.1", candidate)) port = candidate;
  }
}

Harness::~Harness() {
  openGate();
  stop();
  Destroy_HP_HttpServer(server);
  Destroy_HP_ThreadPool(pool);
  Destroy_HP_HttpServerListener(listener);
  for (void* state : states) delete static_cast<ConnectionState*>(state);
  g_harness.store(nullptr);
}

bool Harness::stop() {
  bool ok = HP_Server_Stop(server);
  stopped.store(true);
  return ok;
}

void Harness::closeGate() {
  std::lock_guard lock(gate_mutex);
  gate_open = false;
}

void Harness::openGate() {
  {
    std::lock_guard lock(gate_mutex);
    gate_open = true;
  }
  gate_cv.notify_all();
}

}  // namespace hpsocket4c::testing
