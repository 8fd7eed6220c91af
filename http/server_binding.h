// The binding to the network library's HTTP server, and the service's start
// and stop sequences.
//
// HttpServerBinding owns the one listener (made at first need, kept for the
// life of the process) and forwards every per-server call to libhpsocket4c.so
// with the server handle the caller passes. It stores no server handle: the
// service keeps the server it created last in g_serverHandle.
//
// startService and stopService run on the window thread, one at a time. The
// handlers, the default headers and the worker pool are put in place once,
// before the first server starts, so no request ever meets a half-built
// service; after that the globals are only read by the network and pool
// threads.
#ifndef REZ_HTTP_SERVER_BINDING_H_
#define REZ_HTTP_SERVER_BINDING_H_

#include <atomic>
#include <cstdint>
#include <utility>

#include "http/event_handlers.h"
#include "http/response.h"
#include "platform/hpsocket.h"
#include "text/library_entries.h"
#include "text/text.h"

class HttpServerBinding {
 public:
  // The listener, made on first call; null when it cannot be made (the next
  // call tries again).
  ListenerHandle createListener();
  void destroyListener();
  // A new stopped server on the listener; null on failure.
  ServerHandle createServer(bool secure);
  void destroyServer(ServerHandle server, bool secure);
  // Binds `address` ("0.0.0.0" when omitted) and `port`, unchanged.
  bool startServer(ServerHandle server, const Text& address, int32_t port);
  bool startServer(ServerHandle server, int32_t port) {
    return startServer(server, Text("0.0.0.0"), port);
  }
  bool stopServer(ServerHandle server);

  // Register a handler on the listener; false when there is no listener.
  bool setOnAccept(HP_FN_HttpServer_OnAccept handler);
  bool setOnClose(HP_FN_HttpServer_OnClose handler);
  bool setOnBody(HP_FN_HttpServer_OnBody handler);
  bool setOnHeadersComplete(HP_FN_HttpServer_OnHeadersComplete handler);
  bool setOnMessageComplete(HP_FN_HttpServer_OnMessageComplete handler);

  // Request accessors. Every text the library returns is copied at once.
  bool setConnectionExtra(ServerHandle server, ConnectionId connection, void* value);
  bool getConnectionExtra(ServerHandle server, ConnectionId connection, void*& value);
  Text getUrlField(ServerHandle server, ConnectionId connection, int field);
  Text getMethod(ServerHandle server, ConnectionId connection);
  // The value when the library reports the header present, else empty.
  Text getHeader(ServerHandle server, ConnectionId connection, const Text& name);
  // Replaces `list` by the request's headers in arrival order (two library
  // calls: count, then fill). The second call's result, or false when there
  // are no headers.
  bool getAllHeaders(ServerHandle server, ConnectionId connection, HeaderList& list);

  bool sendResponse(ServerHandle server, ConnectionId connection, int32_t statusCode,
                    const std::optional<Text>& description, const HeaderList& headers,
                    const ByteBuffer& body) {
    return ::sendResponse(server, connection, statusCode, description, headers, body);
  }

  ListenerHandle listener() const { return listener_; }

 private:
  // The one way the binding reaches the library: the entry, called with the
  // arguments in the library's order, its result handed back unchanged.
  template <auto& libraryFunction, typename... Args>
  static decltype(auto) forward(Args&&... args) {
    return libraryFunction(std::forward<Args>(args)...);
  }
  // A handler setter: the listener first (made if need be), then the setter.
  template <auto& setter, typename Handler>
  bool setHandler(Handler handler);

  ListenerHandle listener_ = nullptr;
};

// The service's long-lived objects (defined with the process's start-up).
extern HttpServerBinding g_server;
extern ThreadPoolBinding g_workerPool;
extern HeaderList g_responseHeaders;
// The server created last; read by the network threads.
extern std::atomic<ServerHandle> g_serverHandle;

// The error texts of a failed start (code page 936).
Text createServerFailedText();  // 创建HTTPAPI服务失败
Text startServerFailedText();   // 启动HTTPAPI服务失败，可能端口被占用

// Starts the service on address ("0.0.0.0" when empty) and port. A running
// service is stopped first (its in-flight answers go out). On failure the
// server made for this start is destroyed, `errorText` holds the message and
// the result is false; on success `errorText` is left alone.
bool startService(const Text& address, int32_t port, Text& errorText);

// Waits (at most kStopWaitMs) for the requests being processed so their
// answers go out, then stops and destroys the current server. Nothing when
// there is none.
void stopService();
inline constexpr int kStopWaitMs = 5000;

// Appends the five default headers to g_responseHeaders.
void buildDefaultHeaders();

#endif  // REZ_HTTP_SERVER_BINDING_H_
