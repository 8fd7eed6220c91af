// A small server on libhpsocket4c that answers the way the service does:
// every complete request becomes one pool task, which reads the request's
// fields through the library (extra value, all headers, path, query, cookie,
// method) and answers with the service's five default headers and the body
// "code:ABCD". Used by run_bench.sh (throughput against nginx) and
// memory_bench.sh (resident memory over many connections).
//
//   hpsocket4c_bench_server [--port N] [--network-threads N] [--pool-threads N] [--inline]
//
// Runs until SIGINT or SIGTERM; prints "listening on N" once started.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hpsocket4c.h"

namespace {

HP_ThreadPool g_pool = nullptr;
// --inline: answer on the network thread instead of a pool task, to measure
// what the hand-over to the pool costs.
bool g_inline = false;

const THeader kDefaultHeaders[] = {{"Content-Type", "application/json"},
                                   {"Access-Control-Allow-Origin", "*"},
                                   {"Access-Control-Allow-Methods", "POST"},
                                   {"Access-Control-Allow-Headers", "*"},
                                   {"Server", "KelvHttpApi"}};
const char kBody[] = "code:ABCD";

struct BodyBuffer {
  std::string bytes;
};

En_HP_HandleResult onAccept(HP_HttpServer sender, HP_CONNID conn, uintptr_t) {
  HP_Server_SetConnectionExtra(sender, conn, new BodyBuffer);
  return HP_HR_OK;
}

En_HP_HandleResult onClose(HP_HttpServer sender, HP_CONNID conn, int, int) {
  void* extra = nullptr;
  if (HP_Server_GetConnectionExtra(sender, conn, &extra)) delete static_cast<BodyBuffer*>(extra);
  return HP_HR_OK;
}

En_HP_HandleResult onBody(HP_HttpServer sender, HP_CONNID conn, const uint8_t* data, int length) {
  void* extra = nullptr;
  if (HP_Server_GetConnectionExtra(sender, conn, &extra) && extra != nullptr) {
    static_cast<BodyBuffer*>(extra)->bytes.append(reinterpret_cast<const char*>(data),
                                                  static_cast<std::size_t>(length));
  }
  return HP_HR_OK;
}

En_HP_HandleResult onHeadersComplete(HP_HttpServer, HP_CONNID) { return HP_HR_OK; }

void answer(TSocketTask* task) {
  HP_HttpServer server = task->sender;
  HP_CONNID conn = task->conn_id;
  std::string body;
  void* extra = nullptr;
  if (HP_Server_GetConnectionExtra(server, conn, &extra) && extra != nullptr) {
    body.swap(static_cast<BodyBuffer*>(extra)->bytes);
  }
  uint32_t count = 0;
  HP_HttpServer_GetAllHeaders(server, conn, nullptr, &count);
  std::vector<THeader> headers(count);
  HP_HttpServer_GetAllHeaders(server, conn, headers.data(), &count);
  std::string copies;
  for (const THeader& h : headers) {
    copies += h.name;
    copies += h.value;
  }
  const char* path = HP_HttpServer_GetUrlField(server, conn, HP_HUF_PATH);
  const char* query = HP_HttpServer_GetUrlField(server, conn, HP_HUF_QUERY);
  const char* cookie = nullptr;
  HP_HttpServer_GetHeader(server, conn, "Cookie", &cookie);
  const char* method = HP_HttpServer_GetMethod(server, conn);
  std::string fields = std::string(path ? path : "") + (query ? query : "") +
                       (cookie ? cookie : "") + (method ? method : "");
  HP_HttpServer_SendResponse(server, conn, 200, nullptr, kDefaultHeaders, 5,
                             reinterpret_cast<const uint8_t*>(kBody),
                             static_cast<int>(sizeof kBody - 1));
}

En_HP_HandleResult onMessageComplete(HP_HttpServer sender, HP_CONNID conn) {
  TSocketTask* task = Create_HP_SocketTaskObj(&answer, sender, conn, nullptr, 0, 0, 0, 0);
  if (g_inline && task != nullptr) {
    answer(task);
    Destroy_HP_SocketTaskObj(task);
    return HP_HR_OK;
  }
  if (task != nullptr && !HP_ThreadPool_Submit_Task(g_pool, task, HP_INFINITE)) {
    Destroy_HP_SocketTaskObj(task);
  }
  return HP_HR_OK;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 8888;
  unsigned network_threads = 0;
  unsigned pool_threads = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--inline") == 0) g_inline = true;
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--port") == 0) port = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--network-threads") == 0) {
      network_threads = static_cast<unsigned>(std::atoi(argv[i + 1]));
    }
    if (std::strcmp(argv[i], "--pool-threads") == 0) {
      pool_threads = static_cast<unsigned>(std::atoi(argv[i + 1]));
    }
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // the library's threads inherit it

  HP_HttpServerListener listener = Create_HP_HttpServerListener();
  HP_Set_FN_HttpServer_OnAccept(listener, &onAccept);
  HP_Set_FN_HttpServer_OnClose(listener, &onClose);
  HP_Set_FN_HttpServer_OnBody(listener, &onBody);
  HP_Set_FN_HttpServer_OnHeadersComplete(listener, &onHeadersComplete);
  HP_Set_FN_HttpServer_OnMessageComplete(listener, &onMessageComplete);
  g_pool = Create_HP_ThreadPool();
  HP_ThreadPool_Start(g_pool, pool_threads, 0, HP_TRP_WAIT_FOR, 0);
  HP_HttpServer server = Create_HP_HttpServer(listener);
  HP_Server_SetWorkerThreadCount(server, network_threads);
  if (!HP_Server_Start(server, "0.0.0.0", port)) {
    std::fprintf(stderr, "cannot listen on %d\n", port);
    return 1;
  }
  std::printf("listening on %d (network threads %u, pool threads %u)\n", port,
              HP_Server_GetWorkerThreadCount(server), HP_ThreadPool_GetThreadCount(g_pool));
  std::fflush(stdout);
  int signal_number = 0;
  sigwait(&signals, &signal_number);
  HP_Server_Stop(server);
  Destroy_HP_HttpServer(server);
  Destroy_HP_ThreadPool(g_pool);
  Destroy_HP_HttpServerListener(listener);
  return 0;
}
