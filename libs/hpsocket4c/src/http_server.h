// The HTTP server behind the C interface: a Listener carries the program's
// event handlers; a Server listens on one port, runs a fixed set of network
// threads (each with its own event loop and its own share of the
// connections) and owns its Connections.
//
// Threads: handlers run on the network threads. The public methods of Server
// and Connection that the C interface calls are safe from any thread, with the
// exception that start/stop/destroy must not be called from a network thread.
// A Connection outlives its socket while a task still refers to it, so that a
// worker finishing late never touches freed memory; its close is reported
// after the last such task has finished.
#ifndef HPSOCKET4C_SRC_HTTP_SERVER_H_
#define HPSOCKET4C_SRC_HTTP_SERVER_H_

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "hpsocket4c.h"
#include "request_parser.h"
#include "server_limits.h"

namespace hpsocket4c {

// The handlers set through HP_Set_FN_HttpServer_*; read on network threads.
struct Listener {
  std::atomic<HP_FN_HttpServer_OnAccept> on_accept{nullptr};
  std::atomic<HP_FN_HttpServer_OnClose> on_close{nullptr};
  std::atomic<HP_FN_HttpServer_OnBody> on_body{nullptr};
  std::atomic<HP_FN_HttpServer_OnHeadersComplete> on_headers_complete{nullptr};
  std::atomic<HP_FN_HttpServer_OnMessageComplete> on_message_complete{nullptr};
};

class Server;
struct NetThread;

class Connection final : public std::enable_shared_from_this<Connection>, private RequestEvents {
 public:
  Connection(Server* server, NetThread* thread, HP_CONNID id, asio::ip::tcp::socket socket);
  ~Connection() override;

  HP_CONNID id() const { return id_; }

  // --- any thread ---
  void setExtra(void* extra) { extra_.store(extra, std::memory_order_release); }
  void* extra() const { return extra_.load(std::memory_order_acquire); }
  // The current request's head, or nullptr when it may not be read: only on
  // the connection's network thread, or between the end of a request and
  // the moment its response has gone out.
  const RequestHead* visibleHead() const;
  // Queues the response to the current complete request. False when no
  // request awaits an answer (or one was already given) or the connection is
  // gone.
  bool sendResponse(int status_code, const char* status_text, const THeader* headers,
                    int header_count, const std::uint8_t* body, int body_length);
  // A task refers to this connection: its close waits for the task.
  bool addTaskRef();
  void releaseTaskRef();
  // Server stop after the network threads have ended: never report a close,
  // never touch the event loop again.
  void orphan();

  // --- the connection's network thread ---
  void start();
  // Closes the socket; the close is reported now or after the last task.
  void closeNow(int operation, int error_code);
  // Checked by the thread's sweep.
  void noticeDirectResponse();
  void checkDeadline(std::chrono::steady_clock::time_point now);
  bool deadlineDue(std::chrono::steady_clock::time_point now) const {
    return deadline_kind_ != Deadline::kNone && now >= deadline_;
  }

 private:
  enum class Deadline { kNone, kHead, kBody, kIdle, kResponse, kLinger };
  enum class OutKind { kInterim, kResponse, kErrorThenClose };
  struct Outgoing {
    std::string bytes;
    OutKind kind;
    bool close_after = false;
  };

  bool onHeadersComplete() override;
  bool onBody(const char* data, std::size_t length) override;
  bool onMessageComplete() override;

  void readLoop();
  void startRead();
  void onRead(const asio::error_code& ec, std::size_t n);
  // While a response is awaited: read ahead, keeping the bytes for later, so
  // that a response written directly by a worker needs no hand-back.
  void awaitNextRequest();
  // The response went out (written by a worker): go on with the next request.
  void resumeAfterDirectResponse();
  // Feeds bytes to the parser; false when reading must stop (paused, closed).
  bool consume(const char* data, std::size_t length);
  void enqueue(Outgoing out);
  void flush();
  void afterResponse(bool close_after);
  void answerAndClose(int status_code);
  void startLinger();
  void reportClose();
  void setDeadline(Deadline kind, std::chrono::milliseconds after);

  Server* const server_;
  NetThread* const thread_;
  const HP_CONNID id_;
  std::atomic<void*> extra_{nullptr};
  std::atomic<bool> request_ready_{false};

  // Network thread only.
  std::optional<asio::ip::tcp::socket> socket_;
  RequestParser parser_;
  std::string pending_input_;  // bytes after a complete request, parsed after its answer
  std::deque<Outgoing> out_;
  std::size_t out_offset_ = 0;
  bool write_waiting_ = false;
  bool reading_ = false;   // an asynchronous read is outstanding
  bool peer_ended_ = false;  // the client's end arrived while an answer was awaited
  bool awaiting_ = false;  // a complete request waits for its response
  std::vector<char> read_buffer_;
  bool flushing_ = false;
  bool socket_closed_ = false;
  bool lingering_ = false;
  int close_operation_ = 0;
  int close_error_ = 0;
  Deadline deadline_kind_ = Deadline::kNone;
  std::chrono::steady_clock::time_point deadline_{};

  // Shared between threads.
  std::mutex mutex_;
  bool closed_ = false;           // socket gone
  bool close_scheduled_ = false;  // the close report is under way
  bool orphaned_ = false;
  bool response_claimed_ = false;  // SendResponse accepted for the current request
  // A worker may write the response itself: nothing else is queued for the
  // socket. Set when the request completes.
  bool direct_write_allowed_ = false;
  bool has_pending_input_ = false;  // pipelined bytes wait behind the request
  bool responded_ = false;          // a worker wrote the whole response
  bool responded_close_ = false;    // ... and shut the sending side: close follows
  bool resume_wanted_ = false;      // the next bytes arrived before the response
  int pending_tasks_ = 0;
  bool answered_before_ = false;  // a response was given on this connection
  bool no_delay_ = false;         // TCP_NODELAY is on
  const int fd_;
};

// One network thread: its event loop, its acceptor (a duplicate of the
// listening socket), its connections and the sweep that enforces deadlines.
struct NetThread {
  explicit NetThread(Server* owner) : server(owner), context(1), sweep(context) {}
  Server* server;
  asio::io_context context;
  std::optional<asio::ip::tcp::acceptor> acceptor;
  asio::steady_timer sweep;
  std::unordered_set<Connection*> live;  // open sockets on this thread
  std::thread thread;
  bool accept_paused = false;
};

class Server {
 public:
  explicit Server(std::shared_ptr<Listener> listener);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  HP_HttpServer handle() { return reinterpret_cast<HP_HttpServer>(this); }
  Listener& listener() { return *listener_; }
  const Limits& limits() const { return limits_; }
  // Only while stopped.
  bool setLimits(const Limits& limits);
  bool setNetworkThreadCount(std::uint32_t count);
  std::uint32_t networkThreadCount() const;

  bool start(const char* address, int port);
  bool stop();
  bool started() const;
  bool stopping() const { return stopping_.load(std::memory_order_acquire); }
  // The port actually bound (useful after start on port chosen by the system).
  int boundPort() const;
  std::string boundAddress() const;
  std::size_t connectionCount() const { return connection_count_.load(); }

  std::shared_ptr<Connection> find(HP_CONNID id);

  // Network threads.
  void onAccepted(NetThread& thread, asio::ip::tcp::socket socket);
  void removeConnection(HP_CONNID id);

 private:
  static constexpr int kShards = 16;
  struct Shard {
    std::mutex mutex;
    std::unordered_map<HP_CONNID, std::shared_ptr<Connection>> map;
  };

  void acceptNext(NetThread& thread);
  void scheduleSweep(NetThread& thread);
  void sweep(NetThread& thread);
  Shard& shardOf(HP_CONNID id) { return shards_[id % kShards]; }

  std::shared_ptr<Listener> listener_;
  Limits limits_;
  std::uint32_t thread_count_;

  mutable std::mutex state_mutex_;  // start / stop / settings
  bool started_ = false;
  std::atomic<bool> stopping_{false};
  int bound_port_ = 0;
  std::string bound_address_;
  std::vector<std::unique_ptr<NetThread>> threads_;

  Shard shards_[kShards];
  std::atomic<std::size_t> connection_count_{0};
  std::mutex drained_mutex_;
  std::condition_variable drained_;
  std::size_t threads_closed_ = 0;  // network threads done closing, during a stop
};

// The network thread the caller runs on, or nullptr.
NetThread* currentNetThread();

}  // namespace hpsocket4c

#endif  // HPSOCKET4C_SRC_HTTP_SERVER_H_
