#include "http/server_binding.h"

#include <vector>

// Library texts are copied at once; a null address gives the empty text.
static Text copyLibraryText(const char* text) { return text == nullptr ? Text() : Text(text); }

ListenerHandle HttpServerBinding::createListener() {
  if (listener_ == nullptr) listener_ = forward<entry::Create_HP_HttpServerListener>();
  return listener_;
}

void HttpServerBinding::destroyListener() {
  if (listener_ == nullptr) return;
  forward<entry::Destroy_HP_HttpServerListener>(listener_);
  listener_ = nullptr;
}

ServerHandle HttpServerBinding::createServer(bool secure) {
  ListenerHandle listener = createListener();
  if (listener == nullptr) return nullptr;
  return secure ? forward<entry::Create_HP_HttpsServer>(listener)
                : forward<entry::Create_HP_HttpServer>(listener);
}

void HttpServerBinding::destroyServer(ServerHandle server, bool secure) {
  if (server == nullptr) return;
  if (secure) {
    forward<entry::Destroy_HP_HttpsServer>(server);
  } else {
    forward<entry::Destroy_HP_HttpServer>(server);
  }
}

bool HttpServerBinding::startServer(ServerHandle server, const Text& address, int32_t port) {
  const Text boundAddress = address;  // the call's own copy
  return forward<entry::HP_Server_Start>(server, boundAddress.c_str(), port) != 0;
}

bool HttpServerBinding::stopServer(ServerHandle server) {
  return forward<entry::HP_Server_Stop>(server) != 0;
}

template <auto& setter, typename Handler>
bool HttpServerBinding::setHandler(Handler handler) {
  ListenerHandle listener = createListener();
  if (listener == nullptr) return false;
  forward<setter>(listener, handler);
  return true;
}

bool HttpServerBinding::setOnAccept(HP_FN_HttpServer_OnAccept handler) {
  return setHandler<entry::HP_Set_FN_HttpServer_OnAccept>(handler);
}
bool HttpServerBinding::setOnClose(HP_FN_HttpServer_OnClose handler) {
  return setHandler<entry::HP_Set_FN_HttpServer_OnClose>(handler);
}
bool HttpServerBinding::setOnBody(HP_FN_HttpServer_OnBody handler) {
  return setHandler<entry::HP_Set_FN_HttpServer_OnBody>(handler);
}
bool HttpServerBinding::setOnHeadersComplete(HP_FN_HttpServer_OnHeadersComplete handler) {
  return setHandler<entry::HP_Set_FN_HttpServer_OnHeadersComplete>(handler);
}
bool HttpServerBinding::setOnMessageComplete(HP_FN_HttpServer_OnMessageComplete handler) {
  return setHandler<entry::HP_Set_FN_HttpServer_OnMessageComplete>(handler);
}

bool HttpServerBinding::setConnectionExtra(ServerHandle server, ConnectionId connection,
                                           void* value) {
  return forward<entry::HP_Server_SetConnectionExtra>(server, connection, value) != 0;
}

bool HttpServerBinding::getConnectionExtra(ServerHandle server, ConnectionId connection,
                                           void*& value) {
  return forward<entry::HP_Server_GetConnectionExtra>(server, connection, &value) != 0;
}

Text HttpServerBinding::getUrlField(ServerHandle server, ConnectionId connection, int field) {
  return copyLibraryText(forward<entry::HP_HttpServer_GetUrlField>(server, connection, field));
}

Text HttpServerBinding::getMethod(ServerHandle server, ConnectionId connection) {
  return copyLibraryText(forward<entry::HP_HttpServer_GetMethod>(server, connection));
}

Text HttpServerBinding::getHeader(ServerHandle server, ConnectionId connection, const Text& name) {
  const char* value = nullptr;
  if (forward<entry::HP_HttpServer_GetHeader>(server, connection, name.c_str(), &value) == 0) {
    return Text();
  }
  return copyLibraryText(value);
}

bool HttpServerBinding::getAllHeaders(ServerHandle server, ConnectionId connection,
                                      HeaderList& list) {
  list.clear();
  uint32_t count = 0;
  forward<entry::HP_HttpServer_GetAllHeaders>(server, connection, nullptr, &count);
  if (count == 0) return false;
  std::vector<THeader> entries(count, THeader{nullptr, nullptr});
  uint32_t filled = count;
  const bool result =
      forward<entry::HP_HttpServer_GetAllHeaders>(server, connection, entries.data(), &filled) != 0;
  // Entries the library left untouched leave their pairs empty.
  list.resetTo(static_cast<int>(count));
  for (uint32_t i = 0; i < count; ++i) {
    list.at(static_cast<int>(i)) =
        HeaderPair{copyLibraryText(entries[i].name), copyLibraryText(entries[i].value)};
  }
  return result;
}

Text createServerFailedText() {
  return Text("\xb4\xb4\xbd\xa8HTTPAPI\xb7\xfe\xce\xf1\xca\xa7\xb0\xdc");  // 创建HTTPAPI服务失败
}

Text startServerFailedText() {
  // 启动HTTPAPI服务失败，可能端口被占用
  return Text(
      "\xc6\xf4\xb6\xafHTTPAPI\xb7\xfe\xce\xf1\xca\xa7\xb0\xdc\xa3\xac\xbf\xc9\xc4\xdc\xb6\xcb\xbf"
      "\xda\xb1\xbb\xd5\xbc\xd3\xc3");
}

void buildDefaultHeaders() {
  // "POST" although only GET is served: the value clients have always seen.
  static constexpr std::pair<const char*, const char*> kDefaultHeaders[] = {
      {"Content-Type", "application/json"},
      {"Access-Control-Allow-Origin", "*"},
      {"Access-Control-Allow-Methods", "POST"},
      {"Access-Control-Allow-Headers", "*"},
      {"Server", "KelvHttpApi"},
  };
  for (const auto& [name, value] : kDefaultHeaders) g_responseHeaders.append(name, value);
}

// Handlers, headers and pool, once per process and before the first server
// starts: a request can then never meet a listener without handlers, a list
// being filled or a pool that does not run yet.
static void prepareServiceOnce() {
  static bool prepared = false;
  if (prepared) return;
  prepared = true;
  buildDefaultHeaders();
  g_server.setOnAccept(onAccept);
  g_server.setOnClose(onClose);
  g_server.setOnBody(onBody);
  g_server.setOnHeadersComplete(onHeadersComplete);
  g_server.setOnMessageComplete(onMessageComplete);
  // Threads: one per core; queue: unbounded; a full queue waits for room.
  g_workerPool.createPool();
  g_workerPool.startPool(0, 0, HP_TRP_WAIT_FOR, 0);
}

bool startService(const Text& address, int32_t port, Text& errorText) {
  // One server at a time: a start while one runs replaces it.
  stopService();

  ServerHandle server = g_server.createServer(false);
  if (server == nullptr) {
    errorText = createServerFailedText();
    return false;
  }
  prepareServiceOnce();
  g_serverHandle.store(server, std::memory_order_release);
  const Text boundAddress = address.empty() ? Text("0.0.0.0") : address;
  if (!g_server.startServer(server, boundAddress, port)) {
    g_serverHandle.store(nullptr, std::memory_order_release);
    g_server.destroyServer(server, false);
    errorText = startServerFailedText();
    return false;
  }
  return true;
}

void stopService() {
  ServerHandle server = g_serverHandle.load(std::memory_order_acquire);
  if (server == nullptr) return;
  // Let the requests being processed send their answers before the server
  // closes their connections.
  if (g_workerPool.handle() != nullptr) g_workerPool.waitPool(kStopWaitMs);
  g_server.stopServer(server);
  g_server.destroyServer(server, false);
  g_serverHandle.store(nullptr, std::memory_order_release);
}
