/*
 * hpsocket4c.h: the C interface of libhpsocket4c.so, an HTTP/1.1 server with
 * a worker thread pool.
 *
 * Handles are opaque pointers; 0 (NULL) means none. Event handlers are set on a
 * listener and run on the library's network threads, never on the caller's
 * thread. Every text the library returns belongs to the library and stays
 * valid only as the function's contract says; callers copy it at once.
 * Unless a function says otherwise it may be called from any thread.
 *
 * (The network library's own developer documents every contract here in
 * full; this first version fixes the names and shapes the program uses.)
 */
#ifndef HPSOCKET4C_H_
#define HPSOCKET4C_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define HPSOCKET_API __attribute__((visibility("default")))
#else
#define HPSOCKET_API
#endif

typedef int HP_BOOL; /* 0 false, non-zero true */

typedef struct HP_HttpServerListener_* HP_HttpServerListener;
typedef struct HP_HttpServer_* HP_HttpServer; /* also the "sender" of events */
typedef struct HP_ThreadPool_* HP_ThreadPool;
typedef uintptr_t HP_CONNID; /* a connection's id; 0 is never a connection */

/* What a handler answers; the program always answers HP_HR_OK (0). */
typedef int En_HP_HandleResult;
#define HP_HR_OK 0
#define HP_HR_IGNORE 1
#define HP_HR_ERROR 2

/* Event handlers. */
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnAccept)(HP_HttpServer sender, HP_CONNID conn,
                                                        uintptr_t client_socket);
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnClose)(HP_HttpServer sender, HP_CONNID conn,
                                                       int operation, int error_code);
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnBody)(HP_HttpServer sender, HP_CONNID conn,
                                                      const uint8_t* data, int length);
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnHeadersComplete)(HP_HttpServer sender,
                                                                 HP_CONNID conn);
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnMessageComplete)(HP_HttpServer sender,
                                                                 HP_CONNID conn);

/* Fields of a request URL, for HP_HttpServer_GetUrlField. */
typedef enum En_HP_HttpUrlField {
  HP_HUF_SCHEMA = 0,
  HP_HUF_HOST = 1,
  HP_HUF_PORT = 2,
  HP_HUF_PATH = 3,
  HP_HUF_QUERY = 4,
  HP_HUF_FRAGMENT = 5,
  HP_HUF_USERINFO = 6
} En_HP_HttpUrlField;

/* One header as name and value, both zero-terminated. */
typedef struct THeader {
  const char* name;
  const char* value;
} THeader;

/* Listener and servers. */
HPSOCKET_API HP_HttpServerListener Create_HP_HttpServerListener(void);
HPSOCKET_API void Destroy_HP_HttpServerListener(HP_HttpServerListener listener);
HPSOCKET_API HP_HttpServer Create_HP_HttpServer(HP_HttpServerListener listener);
HPSOCKET_API void Destroy_HP_HttpServer(HP_HttpServer server);
HPSOCKET_API HP_HttpServer Create_HP_HttpsServer(HP_HttpServerListener listener);
HPSOCKET_API void Destroy_HP_HttpsServer(HP_HttpServer server);

/* Binds address:port and starts serving; false on any failure and for a port
 * outside 1..65535. */
HPSOCKET_API HP_BOOL HP_Server_Start(HP_HttpServer server, const char* address, int port);
/* Synchronous: when it returns, no handler of this server runs or will run. */
HPSOCKET_API HP_BOOL HP_Server_Stop(HP_HttpServer server);

/* Handler setters. */
HPSOCKET_API void HP_Set_FN_HttpServer_OnAccept(HP_HttpServerListener listener,
                                                HP_FN_HttpServer_OnAccept fn);
HPSOCKET_API void HP_Set_FN_HttpServer_OnClose(HP_HttpServerListener listener,
                                               HP_FN_HttpServer_OnClose fn);
HPSOCKET_API void HP_Set_FN_HttpServer_OnBody(HP_HttpServerListener listener,
                                              HP_FN_HttpServer_OnBody fn);
HPSOCKET_API void HP_Set_FN_HttpServer_OnHeadersComplete(HP_HttpServerListener listener,
                                                         HP_FN_HttpServer_OnHeadersComplete fn);
HPSOCKET_API void HP_Set_FN_HttpServer_OnMessageComplete(HP_HttpServerListener listener,
                                                         HP_FN_HttpServer_OnMessageComplete fn);

/* Per-connection extra value. */
HPSOCKET_API HP_BOOL HP_Server_SetConnectionExtra(HP_HttpServer server, HP_CONNID conn,
                                                  void* extra);
HPSOCKET_API HP_BOOL HP_Server_GetConnectionExtra(HP_HttpServer server, HP_CONNID conn,
                                                  void** extra);

/* Request accessors: answer until the response to the current request has
 * gone out; NULL / false for a connection that is gone. */
HPSOCKET_API const char* HP_HttpServer_GetUrlField(HP_HttpServer server, HP_CONNID conn,
                                                   int field);
HPSOCKET_API const char* HP_HttpServer_GetMethod(HP_HttpServer server, HP_CONNID conn);
HPSOCKET_API HP_BOOL HP_HttpServer_GetHeader(HP_HttpServer server, HP_CONNID conn,
                                             const char* name, const char** value);
/* Two calls: with headers NULL and *count 0 it sets *count; called again with
 * an array of *count entries it fills them. */
HPSOCKET_API HP_BOOL HP_HttpServer_GetAllHeaders(HP_HttpServer server, HP_CONNID conn,
                                                 THeader* headers, uint32_t* count);

/* Sends one complete response (status line, headers, body) as one write. */
HPSOCKET_API HP_BOOL HP_HttpServer_SendResponse(HP_HttpServer server, HP_CONNID conn,
                                                int status_code, const char* status_text,
                                                const THeader* headers, int header_count,
                                                const uint8_t* body, int body_length);

/* Thread pool and socket tasks. */
typedef struct TSocketTask TSocketTask;
typedef void (*HP_FN_SocketTaskProc)(TSocketTask* task);

/* The task record: eight pointer-sized words, in this order. */
struct TSocketTask {
  HP_FN_SocketTaskProc fn;
  HP_HttpServer sender;
  HP_CONNID conn_id;
  const uint8_t* buffer;
  intptr_t buffer_length;
  intptr_t buffer_type;
  uintptr_t wparam;
  intptr_t lparam;
};

/* Rejected-task policies for HP_ThreadPool_Start. */
#define HP_TRP_CALL_FAIL 0
#define HP_TRP_WAIT_FOR 1
#define HP_TRP_CALLER_RUN 2

/* Timeout meaning "wait as long as it takes". */
#define HP_INFINITE (-1)

HPSOCKET_API HP_ThreadPool Create_HP_ThreadPool(void);
HPSOCKET_API void Destroy_HP_ThreadPool(HP_ThreadPool pool);
/* threads 0: one per core; max_queue 0: unbounded; policy HP_TRP_*. */
HPSOCKET_API HP_BOOL HP_ThreadPool_Start(HP_ThreadPool pool, uint32_t threads,
                                         uint32_t max_queue, int policy, uint32_t stack_size);
HPSOCKET_API HP_BOOL HP_ThreadPool_Stop(HP_ThreadPool pool, int timeout_ms);
HPSOCKET_API TSocketTask* Create_HP_SocketTaskObj(HP_FN_SocketTaskProc fn, HP_HttpServer sender,
                                                  HP_CONNID conn, const uint8_t* buffer,
                                                  intptr_t buffer_length, intptr_t buffer_type,
                                                  uintptr_t wparam, intptr_t lparam);
HPSOCKET_API void Destroy_HP_SocketTaskObj(TSocketTask* task);
/* Queues the task; on success the pool runs task->fn(task) once on a pool
 * thread and destroys the task afterwards. */
HPSOCKET_API HP_BOOL HP_ThreadPool_Submit_Task(HP_ThreadPool pool, TSocketTask* task,
                                               int timeout_ms);

#ifdef __cplusplus
}
#endif

#endif /* HPSOCKET4C_H_ */
