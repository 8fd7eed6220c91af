/*
 * hpsocket4c.h: the C interface of libhpsocket4c.so, an HTTP/1.1 server with
 * a worker thread pool.
 *
 * Handles are opaque pointers; 0 (NULL) means none. A listener carries the
 * event handlers; servers are created on a listener and deliver their events
 * to its handlers. Handlers run on the server's network threads (a fixed
 * number, one per core unless set otherwise), never on the caller's thread.
 * Every text the library returns belongs to the library, stays valid only as
 * the function's contract says, and is to be copied at once. Unless a
 * function says otherwise it may be called from any thread, and a stale or
 * unknown server handle or connection id makes it fail cleanly (NULL, false
 * or 0) instead of touching freed memory.
 *
 * The life of one connection, as the handlers see it:
 *   OnAccept; then for each request OnHeadersComplete, OnBody for each piece
 *   of the body in order, OnMessageComplete; finally OnClose, exactly once.
 * After OnMessageComplete the server reads nothing more from the connection
 * until the response to that request has gone out (HP_HttpServer_SendResponse),
 * so pipelined requests are answered in order and the request's method, URL,
 * headers and the connection's extra value stay readable from any thread
 * until then. OnClose comes only after every socket task created for the
 * connection (Create_HP_SocketTaskObj with the server and connection id) has
 * finished, so a close handler may free per-connection memory that tasks use.
 *
 * Protocol: HTTP/1.0 and 1.1 with their keep-alive rules, "Connection: close",
 * "Expect: 100-continue" (answered "100 Continue" when the head is complete),
 * chunked and Content-Length bodies. An Upgrade or CONNECT request is served
 * as an ordinary request and the connection is closed after the answer.
 * Limits, each answered and followed by a close, never a crash: a URL above
 * 2 MiB gets 414, a request head above 2 MiB 431, a body above 8 MiB 413, a
 * malformed request 400, a head that has not arrived within 30 s or a body
 * that stalls for 60 s 408; beyond 10 000 open connections a new one gets 503;
 * a keep-alive connection idle for 60 s is closed; a complete request the
 * program has not answered within 300 s is closed.
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
typedef uintptr_t HP_CONNID; /* a connection's id; 0 is never a connection; ids are never reused */

/* What a handler answers. HP_HR_ERROR closes the connection (no answer is
 * sent; OnClose follows); any other value lets the server carry on. */
typedef int En_HP_HandleResult;
#define HP_HR_OK 0
#define HP_HR_IGNORE 1
#define HP_HR_ERROR 2

/* The `operation` passed to OnClose: what the server was doing when the
 * connection ended. `error_code` is the system error (errno), 0 for an orderly
 * end (the client closed, the server closed after an answer, a time limit, a
 * stop). */
#define HP_SO_UNKNOWN 0
#define HP_SO_ACCEPT 1
#define HP_SO_CONNECT 2
#define HP_SO_SEND 3
#define HP_SO_RECEIVE 4
#define HP_SO_CLOSE 5

/* Event handlers. Each receives the server that raised the event as `sender`;
 * pass it back as the server of any call. */
/* A connection has been accepted; client_socket is its descriptor (for
 * information only: the server owns it). */
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnAccept)(HP_HttpServer sender, HP_CONNID conn,
                                                        uintptr_t client_socket);
/* The connection has ended; called once per accepted connection, after every
 * task of the connection has finished. The connection's extra value is still
 * readable here; afterwards the id is unknown. */
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnClose)(HP_HttpServer sender, HP_CONNID conn,
                                                       int operation, int error_code);
/* One piece of the current request's body (dechunked), valid only during the
 * call. */
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnBody)(HP_HttpServer sender, HP_CONNID conn,
                                                      const uint8_t* data, int length);
/* The request head is complete: method, URL fields and headers are readable. */
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnHeadersComplete)(HP_HttpServer sender,
                                                                 HP_CONNID conn);
/* The request is complete; the connection now waits for its response. */
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

/* ---- Listener and servers ------------------------------------------------
 * Create_HP_HttpServerListener: a new listener with no handlers; NULL only
 * when memory is exhausted.
 * Destroy_HP_HttpServerListener: releases the caller's hold; servers created
 * on it keep it (and its handlers) alive until they are destroyed. NULL is
 * ignored.
 * Create_HP_HttpServer: a stopped server on `listener`; NULL when the listener
 * is NULL.
 * Create_HP_HttpsServer: the TLS variant is not available yet: it returns NULL.
 * Destroy_HP_HttpServer / Destroy_HP_HttpsServer: stop the server if it runs
 * (as HP_Server_Stop), then free everything it holds; afterwards the handle is
 * unknown to every call. NULL is ignored. Not from a network thread. */
HPSOCKET_API HP_HttpServerListener Create_HP_HttpServerListener(void);
HPSOCKET_API void Destroy_HP_HttpServerListener(HP_HttpServerListener listener);
HPSOCKET_API HP_HttpServer Create_HP_HttpServer(HP_HttpServerListener listener);
HPSOCKET_API void Destroy_HP_HttpServer(HP_HttpServer server);
HPSOCKET_API HP_HttpServer Create_HP_HttpsServer(HP_HttpServerListener listener);
HPSOCKET_API void Destroy_HP_HttpsServer(HP_HttpServer server);

/* Binds address:port (address NULL or "" means "0.0.0.0"; IPv4 or IPv6
 * literal), listens, starts the network threads and returns true. Address
 * reuse is on, so a restart right after a stop works, but a port on which
 * another socket listens fails. False on any failure, for a port outside
 * 1..65535, for a server that is already started, and when called from a
 * network thread. Events are delivered from the moment it succeeds. */
HPSOCKET_API HP_BOOL HP_Server_Start(HP_HttpServer server, const char* address, int port);
/* Synchronous stop: stops accepting, closes every connection, waits (up to
 * 10 s) for the tasks of its connections to finish so that their closes are
 * reported, and returns when no handler of this server runs or will run. A
 * task of this server that runs afterwards finds every call failing cleanly.
 * A connection whose tasks are still unfinished after the wait is never
 * reported closed. False when the server is not started or when called from
 * one of its network threads. The server may be started again. */
HPSOCKET_API HP_BOOL HP_Server_Stop(HP_HttpServer server);
/* True while the server is started. */
HPSOCKET_API HP_BOOL HP_Server_HasStarted(HP_HttpServer server);
/* Writes the bound address, zero-terminated, into address (of *length bytes)
 * and the bound port into *port. When the buffer is NULL or too small it sets
 * *length to the size needed (terminator included) and returns false. False
 * too when the server is not started. */
HPSOCKET_API HP_BOOL HP_Server_GetListenAddress(HP_HttpServer server, char* address, int* length,
                                                uint16_t* port);
/* Number of connections that have been accepted and not yet reported closed. */
HPSOCKET_API uint32_t HP_Server_GetConnectionCount(HP_HttpServer server);
/* Network thread count for the next start: 0 means one per core (the
 * default). Ignored while started. */
HPSOCKET_API void HP_Server_SetWorkerThreadCount(HP_HttpServer server, uint32_t count);
HPSOCKET_API uint32_t HP_Server_GetWorkerThreadCount(HP_HttpServer server);
/* Open-connection limit for the next start (default 10 000; 0 keeps the
 * default). Ignored while started. */
HPSOCKET_API void HP_Server_SetMaxConnectionCount(HP_HttpServer server, uint32_t count);
HPSOCKET_API uint32_t HP_Server_GetMaxConnectionCount(HP_HttpServer server);

/* ---- Handler setters -----------------------------------------------------
 * Set (or, with NULL, clear) one handler of the listener; takes effect for the
 * next event on every server of that listener. NULL listener: ignored. */
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

/* ---- Per-connection extra value ------------------------------------------
 * One pointer-sized value per connection, 0 at accept, settable and readable
 * from any thread from OnAccept until OnClose has returned. False (and *extra
 * untouched) for an unknown connection or server, or a NULL out argument. */
HPSOCKET_API HP_BOOL HP_Server_SetConnectionExtra(HP_HttpServer server, HP_CONNID conn,
                                                  void* extra);
HPSOCKET_API HP_BOOL HP_Server_GetConnectionExtra(HP_HttpServer server, HP_CONNID conn,
                                                  void** extra);

/* ---- Request accessors ---------------------------------------------------
 * They describe the connection's current request and answer on the
 * connection's network thread (in its handlers) and, from any thread, between
 * OnMessageComplete and the moment the response to that request has gone out.
 * Otherwise, and for an unknown or closed connection, they answer NULL /
 * false. Returned texts stay valid until that response has gone out (within a
 * handler: until the handler returns). */
/* A field of the request target exactly as received (no decoding):
 * HP_HUF_PATH the path, HP_HUF_QUERY the query without its "?", the others
 * from an absolute-form target. NULL when the field is absent ("" when present
 * but empty) or the field number is unknown. */
HPSOCKET_API const char* HP_HttpServer_GetUrlField(HP_HttpServer server, HP_CONNID conn, int field);
/* The method in upper case ("GET", "POST", ...). */
HPSOCKET_API const char* HP_HttpServer_GetMethod(HP_HttpServer server, HP_CONNID conn);
/* The first value of the header `name` (matched case-insensitively) into
 * *value; false when absent. */
HPSOCKET_API HP_BOOL HP_HttpServer_GetHeader(HP_HttpServer server, HP_CONNID conn, const char* name,
                                             const char** value);
/* Two calls: with headers NULL (or *count smaller than the number of headers)
 * it sets *count to the number of headers and returns false; called again with
 * an array of at least that many entries it fills them in arrival order, sets
 * *count and returns true. With no current request: *count 0, false. */
HPSOCKET_API HP_BOOL HP_HttpServer_GetAllHeaders(HP_HttpServer server, HP_CONNID conn,
                                                 THeader* headers, uint32_t* count);

/* The value of the cookie `name` (matched exactly) from the request's "Cookie"
 * headers into *value; false when absent. */
HPSOCKET_API HP_BOOL HP_HttpServer_GetCookie(HP_HttpServer server, HP_CONNID conn, const char* name,
                                             const char** value);
/* The request's cookies as name and value pairs, in order, by the two-call
 * protocol of HP_HttpServer_GetAllHeaders. */
HPSOCKET_API HP_BOOL HP_HttpServer_GetAllCookies(HP_HttpServer server, HP_CONNID conn,
                                                 THeader* cookies, uint32_t* count);

/* Sends the one response to the connection's current complete request, from
 * any thread, as one write: "HTTP/1.1", the status line, the caller's headers
 * in the caller's order, "Content-Length" unless the caller gave one (or a
 * Transfer-Encoding), "Connection: close" when the connection will close
 * (the client asked for it, HTTP/1.0 without keep-alive, an Upgrade, a stop,
 * or the caller's own "Connection: close"; "Connection: keep-alive" for an
 * HTTP/1.0 keep-alive client), then the body (none for a HEAD request, nor for
 * 1xx, 204 and 304). A status code outside 100..999 (0 included) goes out as
 * "400 Bad Request"; a NULL or empty status text becomes the code's standard
 * reason phrase. Header entries with a NULL or empty name, or with CR or LF in
 * them, are dropped; a NULL value is sent empty. Returns true when the
 * response has been written to the socket or queued for writing (what the
 * socket does not take at once is written by the network thread); false when
 * the connection is unknown or gone, the write failed, no complete request
 * awaits an answer, or it was already answered. The data is copied: the
 * caller's buffers may be reused at once. After the response has gone out the
 * connection parses its next (possibly already buffered) request. */
HPSOCKET_API HP_BOOL HP_HttpServer_SendResponse(HP_HttpServer server, HP_CONNID conn,
                                                int status_code, const char* status_text,
                                                const THeader* headers, int header_count,
                                                const uint8_t* body, int body_length);

/* ---- Thread pool and socket tasks ---------------------------------------- */
typedef struct TSocketTask TSocketTask;
typedef void (*HP_FN_SocketTaskProc)(TSocketTask* task);
typedef void (*HP_FN_TaskProc)(void* arg);

/* The task record: eight pointer-sized words, in this order. The library owns
 * it; the procedure reads it and must not free it. */
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

/* Buffer kinds for Create_HP_SocketTaskObj. */
#define HP_TBT_COPY 0   /* the task keeps its own copy of the bytes */
#define HP_TBT_REFER 1  /* the task keeps the caller's address; the caller keeps it valid */
#define HP_TBT_ATTACH 2 /* the task takes the malloc'ed buffer and free()s it */

/* Rejected-task policies for HP_ThreadPool_Start: what a submit does when the
 * queue is full. */
#define HP_TRP_CALL_FAIL 0  /* fail at once */
#define HP_TRP_WAIT_FOR 1   /* wait for room up to the submit's timeout */
#define HP_TRP_CALLER_RUN 2 /* run the task on the submitting thread */

/* Timeout meaning "wait as long as it takes". */
#define HP_INFINITE (-1)

/* A new, stopped pool; NULL only when memory is exhausted. */
HPSOCKET_API HP_ThreadPool Create_HP_ThreadPool(void);
/* Stops the pool as HP_ThreadPool_Stop(pool, HP_INFINITE) and frees it. NULL
 * is ignored. Not from one of the pool's own threads. */
HPSOCKET_API void Destroy_HP_ThreadPool(HP_ThreadPool pool);
/* Starts `threads` threads (0: one per core) with a queue of at most
 * `max_queue` waiting tasks (0: unbounded), the rejected-task `policy`
 * (HP_TRP_*; an unknown value is HP_TRP_CALL_FAIL) and a stack of
 * `stack_size` bytes per thread (0: the system's default). False when already
 * started or a thread cannot be made. */
HPSOCKET_API HP_BOOL HP_ThreadPool_Start(HP_ThreadPool pool, uint32_t threads, uint32_t max_queue,
                                         int policy, uint32_t stack_size);
/* Refuses further tasks, waits up to timeout_ms (HP_INFINITE or any negative
 * value: no limit) for the queued tasks to run, destroys unrun the ones still
 * queued after that, waits for the running ones to finish (a task is never
 * interrupted) and ends the threads. True when every queued task ran; false on
 * timeout, for a pool that is not started, or when called from one of its
 * own threads. The pool may be started again. */
HPSOCKET_API HP_BOOL HP_ThreadPool_Stop(HP_ThreadPool pool, int timeout_ms);
/* Waits up to timeout_ms (negative: no limit) until no task is queued or
 * running; true when that is so. */
HPSOCKET_API HP_BOOL HP_ThreadPool_Wait(HP_ThreadPool pool, int timeout_ms);
/* Queue length, thread count, queue bound and policy of a started pool (0
 * for NULL). */
HPSOCKET_API uint32_t HP_ThreadPool_GetQueueSize(HP_ThreadPool pool);
HPSOCKET_API uint32_t HP_ThreadPool_GetThreadCount(HP_ThreadPool pool);
HPSOCKET_API uint32_t HP_ThreadPool_GetMaxQueueSize(HP_ThreadPool pool);
HPSOCKET_API int HP_ThreadPool_GetRejectedPolicy(HP_ThreadPool pool);

/* A task record for HP_ThreadPool_Submit_Task with the eight words given; NULL
 * when fn is NULL. When `sender` is a live server and `conn` one of its
 * connections, the task holds the connection: its close is reported only
 * after the task has been destroyed. The buffer is handled by `buffer_type`
 * (HP_TBT_*; `buffer` in the record is the task's copy for HP_TBT_COPY). */
HPSOCKET_API TSocketTask* Create_HP_SocketTaskObj(HP_FN_SocketTaskProc fn, HP_HttpServer sender,
                                                  HP_CONNID conn, const uint8_t* buffer,
                                                  intptr_t buffer_length, intptr_t buffer_type,
                                                  uintptr_t wparam, intptr_t lparam);
/* Frees a task that was not submitted (or whose submit failed). NULL is
 * ignored. Never for a task that was submitted successfully. */
HPSOCKET_API void Destroy_HP_SocketTaskObj(TSocketTask* task);
/* Queues the task (policy and timeout_ms as for the pool; timeout_ms applies
 * to HP_TRP_WAIT_FOR only, HP_INFINITE waits as long as it takes). On success
 * the pool runs task->fn(task) once on a pool thread (or on the caller's
 * thread for HP_TRP_CALLER_RUN when the queue is full) and destroys the task
 * afterwards; a task dropped by a stop is destroyed unrun. False (the task
 * still the caller's) when the pool is not started, is stopping, or the queue
 * stays full. */
HPSOCKET_API HP_BOOL HP_ThreadPool_Submit_Task(HP_ThreadPool pool, TSocketTask* task,
                                               int timeout_ms);
/* As HP_ThreadPool_Submit_Task for a plain procedure and argument. */
HPSOCKET_API HP_BOOL HP_ThreadPool_Submit(HP_ThreadPool pool, HP_FN_TaskProc fn, void* arg,
                                          int timeout_ms);

#ifdef __cplusplus
}
#endif

#endif /* HPSOCKET4C_H_ */
