#include "http_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "response_builder.h"

namespace hpsocket4c {

namespace {

thread_local NetThread* tls_net_thread = nullptr;

std::atomic<HP_CONNID> g_next_connection_id{1};

constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
// A connection's read buffer starts small (most requests are short) and
// doubles, up to the larger size, while reads fill it.
constexpr std::size_t kReadBufferInitial = 4 * 1024;
constexpr std::size_t kReadBufferMax = 64 * 1024;
// An answer longer than this may leave a short last segment behind a full
// one (the smallest common segment size, less the headers).
constexpr std::size_t kNoDelayNeededAbove = 1200;

}  // namespace

NetThread* currentNetThread() { return tls_net_thread; }

// ---------------------------------------------------------------- Connection

Connection::Connection(Server* server, NetThread* thread, HP_CONNID id,
                       asio::ip::tcp::socket socket)
    : server_(server),
      thread_(thread),
      id_(id),
      socket_(std::move(socket)),
      parser_(this, &server->limits()),
      read_buffer_(kReadBufferInitial),
      fd_(socket_->native_handle()) {}

Connection::~Connection() = default;

const RequestHead* Connection::visibleHead() const {
  if (tls_net_thread == thread_ || request_ready_.load(std::memory_order_acquire)) {
    return &parser_.head();
  }
  return nullptr;
}

bool Connection::sendResponse(int status_code, const char* status_text, const THeader* headers,
                              int header_count, const std::uint8_t* body, int body_length) {
  if (!request_ready_.load(std::memory_order_acquire)) return false;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || orphaned_ || response_claimed_) return false;
    response_claimed_ = true;
  }
  // The head stays untouched until this response has gone out.
  const RequestHead& head = parser_.head();
  ResponseOptions options;
  options.head_request = head.is_head;
  options.will_close = !head.keep_alive || server_->stopping();
  options.http10_keep_alive = head.keep_alive && head.http_major == 1 && head.http_minor == 0;
  Outgoing out;
  out.kind = OutKind::kResponse;
  BuiltResponse built;
  buildResponse(status_code, status_text, headers, header_count, body, body_length, options, built);
  out.bytes = std::move(built.bytes);
  out.close_after = options.will_close || built.caller_closes;

  std::lock_guard lock(mutex_);
  if (closed_ || orphaned_) return false;
  // Nagle's algorithm holds a short segment back while earlier data is
  // unacknowledged: harmless for a connection's first short answer, a stall
  // for the ones after it and for the tail of a long one. The option is set
  // once it matters, which spares connections that carry one request a call.
  if (!no_delay_ && (answered_before_ || out.bytes.size() > kNoDelayNeededAbove)) {
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    no_delay_ = true;
  }
  answered_before_ = true;
  if (direct_write_allowed_) {
    // Nothing else is queued for the socket and the network thread does not
    // write while a response is awaited: write it from here, sparing the
    // hand-back to the network thread (it learns of the response when the
    // client's next bytes, or its end, arrive). The lock keeps the socket open.
    ssize_t n = ::send(fd_, out.bytes.data(), out.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == static_cast<ssize_t>(out.bytes.size())) {
      if (out.close_after) {
        // The client sees the end at once and closes; its end wakes the
        // network thread, which then closes too.
        ::shutdown(fd_, SHUT_WR);
        responded_close_ = true;
      }
      responded_ = true;
      request_ready_.store(false, std::memory_order_release);
      if (has_pending_input_ || resume_wanted_) {
        asio::post(thread_->context,
                   [self = shared_from_this()] { self->resumeAfterDirectResponse(); });
      }
      return true;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      int error = errno;
      asio::post(thread_->context,
                 [self = shared_from_this(), error] { self->closeNow(HP_SO_SEND, error); });
      return false;
    }
    // The socket took part of it: the network thread sends the rest.
    if (n > 0) out.bytes.erase(0, static_cast<std::size_t>(n));
  }
  // Posted under the lock: orphan() (after which the event loop may be
  // destroyed) cannot slip in between the check and the post.
  asio::post(thread_->context, [self = shared_from_this(), out = std::move(out)]() mutable {
    self->enqueue(std::move(out));
  });
  return true;
}

bool Connection::addTaskRef() {
  std::lock_guard lock(mutex_);
  if (close_scheduled_ || orphaned_) return false;
  ++pending_tasks_;
  return true;
}

void Connection::releaseTaskRef() {
  std::lock_guard lock(mutex_);
  if (--pending_tasks_ > 0 || !closed_ || close_scheduled_ || orphaned_) return;
  close_scheduled_ = true;
  asio::post(thread_->context, [self = shared_from_this()] { self->reportClose(); });
}

void Connection::orphan() {
  std::lock_guard lock(mutex_);
  orphaned_ = true;
  closed_ = true;
  request_ready_.store(false, std::memory_order_release);
  // The network threads have ended: nobody else touches the socket.
  if (socket_) {
    asio::error_code ignored;
    socket_->close(ignored);
    socket_.reset();
  }
}

void Connection::start() {
  setDeadline(Deadline::kHead, server_->limits().head_timeout);
  readLoop();
}

void Connection::awaitNextRequest() {
  // One read stays outstanding while the response is awaited; what it brings
  // (the client's next request, or its end) waits until the response has
  // gone out. Unlike a readiness wait, a read queued behind an exhausted one
  // re-arms nothing in the kernel, so waiting costs no system call.
  if (socket_closed_ || reading_ || peer_ended_) return;
  startRead();
}

void Connection::resumeAfterDirectResponse() {
  if (socket_closed_ || !awaiting_) return;
  bool close_after;
  {
    std::lock_guard lock(mutex_);
    close_after = responded_close_;
  }
  afterResponse(close_after);
}

void Connection::setDeadline(Deadline kind, std::chrono::milliseconds after) {
  deadline_kind_ = kind;
  deadline_ = std::chrono::steady_clock::now() + after;
}

void Connection::readLoop() {
  if (socket_closed_ || reading_) return;
  if (peer_ended_) {
    // The client ended its side while a request was being answered; the
    // last answer has gone out, so the connection is done.
    closeNow(HP_SO_RECEIVE, 0);
    return;
  }
  startRead();
}

void Connection::startRead() {
  reading_ = true;
  // Asio tries the read at once and waits for readiness only when nothing is
  // there; the completion runs as a separate handler, so a busy client does
  // not starve the others on this thread.
  socket_->async_read_some(asio::buffer(read_buffer_),
                           [self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
                             self->onRead(ec, n);
                           });
}

void Connection::onRead(const asio::error_code& ec, std::size_t n) {
  reading_ = false;
  if (socket_closed_ || ec == asio::error::operation_aborted) return;
  if (awaiting_) {
    // Read ahead while the response is awaited (see awaitNextRequest).
    if (ec == asio::error::eof) {
      peer_ended_ = true;  // a half-close still gets its answer
    } else if (ec) {
      closeNow(HP_SO_RECEIVE, ec.value());  // the client is gone
      return;
    } else {
      pending_input_.assign(read_buffer_.data(), n);
    }
    bool responded;
    bool close_after;
    {
      std::lock_guard lock(mutex_);
      responded = responded_;
      close_after = responded_close_;
      if (!responded) resume_wanted_ = true;
    }
    if (responded) afterResponse(close_after);
    return;
  }
  if (ec) {
    closeNow(HP_SO_RECEIVE, ec == asio::error::eof ? 0 : ec.value());
    return;
  }
  bool filled = n == read_buffer_.size();
  if (!consume(read_buffer_.data(), n)) return;
  if (filled && read_buffer_.size() < kReadBufferMax) read_buffer_.resize(read_buffer_.size() * 2);
  readLoop();
}

bool Connection::consume(const char* data, std::size_t length) {
  if (lingering_) return true;  // answered and closing: what comes is dropped
  bool was_idle = !parser_.inHead() && !parser_.inBody();
  RequestParser::Result result = parser_.feed(data, length);
  if (socket_closed_) return false;
  switch (result.status) {
    case RequestParser::Status::kNeedMore:
      if (parser_.inBody()) {
        setDeadline(Deadline::kBody, server_->limits().idle_timeout);
      } else if (parser_.inHead() && (was_idle || deadline_kind_ != Deadline::kHead)) {
        setDeadline(Deadline::kHead, server_->limits().head_timeout);
      }
      return true;
    case RequestParser::Status::kMessageComplete:
      pending_input_.assign(data + result.consumed, length - result.consumed);
      setDeadline(Deadline::kResponse, server_->limits().response_timeout);
      awaiting_ = true;
      {
        std::lock_guard lock(mutex_);
        direct_write_allowed_ = out_.empty() && !write_waiting_;
        has_pending_input_ = !pending_input_.empty();
        responded_ = false;
        responded_close_ = false;
        resume_wanted_ = false;
      }
      if (pending_input_.empty()) awaitNextRequest();
      return false;
    case RequestParser::Status::kError:
      if (result.error_status == 0) {
        closeNow(HP_SO_RECEIVE, 0);  // a handler gave the connection up
      } else {
        answerAndClose(result.error_status);
      }
      return false;
  }
  return false;
}

bool Connection::onHeadersComplete() {
  if (parser_.head().expect_continue) {
    enqueue(Outgoing{kContinue, OutKind::kInterim});
    if (socket_closed_) return false;
  }
  auto fn = server_->listener().on_headers_complete.load(std::memory_order_acquire);
  return fn == nullptr || fn(server_->handle(), id_) != HP_HR_ERROR;
}

bool Connection::onBody(const char* data, std::size_t length) {
  auto fn = server_->listener().on_body.load(std::memory_order_acquire);
  return fn == nullptr || fn(server_->handle(), id_, reinterpret_cast<const std::uint8_t*>(data),
                             static_cast<int>(length)) != HP_HR_ERROR;
}

bool Connection::onMessageComplete() {
  {
    std::lock_guard lock(mutex_);
    response_claimed_ = false;
  }
  request_ready_.store(true, std::memory_order_release);
  auto fn = server_->listener().on_message_complete.load(std::memory_order_acquire);
  return fn == nullptr || fn(server_->handle(), id_) != HP_HR_ERROR;
}

void Connection::enqueue(Outgoing out) {
  if (socket_closed_) return;
  out_.push_back(std::move(out));
  if (!write_waiting_ && !flushing_) flush();
}

void Connection::flush() {
  flushing_ = true;
  while (!out_.empty() && !socket_closed_) {
    Outgoing& front = out_.front();
    asio::error_code ec;
    std::size_t n = socket_->write_some(
        asio::buffer(front.bytes.data() + out_offset_, front.bytes.size() - out_offset_), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
      write_waiting_ = true;
      socket_->async_wait(asio::socket_base::wait_write,
                          [self = shared_from_this()](const asio::error_code& wait_ec) {
                            self->write_waiting_ = false;
                            if (wait_ec || self->socket_closed_) return;
                            self->flush();
                          });
      flushing_ = false;
      return;
    }
    if (ec) {
      flushing_ = false;
      closeNow(HP_SO_SEND, ec.value());
      return;
    }
    out_offset_ += n;
    if (out_offset_ < front.bytes.size()) continue;
    OutKind kind = front.kind;
    bool close_after = front.close_after;
    out_.pop_front();
    out_offset_ = 0;
    if (kind == OutKind::kResponse) {
      afterResponse(close_after);
    } else if (kind == OutKind::kErrorThenClose) {
      startLinger();
    }
  }
  flushing_ = false;
}

void Connection::afterResponse(bool close_after) {
  request_ready_.store(false, std::memory_order_release);
  awaiting_ = false;
  {
    std::lock_guard lock(mutex_);
    direct_write_allowed_ = false;
  }
  if (close_after) {
    startLinger();
    return;
  }
  parser_.nextMessage();
  setDeadline(Deadline::kIdle, server_->limits().idle_timeout);
  if (!pending_input_.empty()) {
    std::string input = std::move(pending_input_);
    pending_input_.clear();
    if (!consume(input.data(), input.size())) return;
  }
  readLoop();
}

void Connection::answerAndClose(int status_code) {
  request_ready_.store(false, std::memory_order_release);
  // Whatever was queued for an earlier request still goes out first.
  enqueue(Outgoing{buildErrorResponse(status_code), OutKind::kErrorThenClose});
}

void Connection::startLinger() {
  if (socket_closed_) return;
  // Closing with unread input would reset the connection and could destroy
  // the answer before the client reads it. With nothing unread a close ends
  // the connection cleanly; otherwise the sending side is shut and what the
  // client still sends is read and dropped until it closes (or briefly).
  int available = 0;
  if (pending_input_.empty() &&
      (peer_ended_ || (::ioctl(fd_, FIONREAD, &available) == 0 && available == 0))) {
    closeNow(HP_SO_CLOSE, 0);
    return;
  }
  asio::error_code ec;
  socket_->shutdown(asio::socket_base::shutdown_send, ec);
  pending_input_.clear();
  lingering_ = true;
  setDeadline(Deadline::kLinger, server_->limits().linger_timeout);
  readLoop();
}

void Connection::closeNow(int operation, int error_code) {
  if (socket_closed_) return;
  socket_closed_ = true;
  close_operation_ = operation;
  close_error_ = error_code;
  deadline_kind_ = Deadline::kNone;
  awaiting_ = false;
  request_ready_.store(false, std::memory_order_release);
  bool report_now = false;
  {
    // Under the lock: a worker writing directly holds it while it uses the
    // descriptor, and checks `closed_` first.
    std::lock_guard lock(mutex_);
    closed_ = true;
    direct_write_allowed_ = false;
    asio::error_code ignored;
    socket_->close(ignored);
    if (pending_tasks_ == 0 && !close_scheduled_) {
      close_scheduled_ = true;
      report_now = true;
    }
  }
  socket_.reset();
  out_.clear();
  pending_input_.clear();
  thread_->live.erase(this);
  if (report_now) reportClose();
}

void Connection::reportClose() {
  {
    std::lock_guard lock(mutex_);
    if (orphaned_) return;
  }
  auto fn = server_->listener().on_close.load(std::memory_order_acquire);
  if (fn != nullptr) fn(server_->handle(), id_, close_operation_, close_error_);
  server_->removeConnection(id_);
}

void Connection::noticeDirectResponse() {
  if (deadline_kind_ != Deadline::kResponse || socket_closed_) return;
  std::lock_guard lock(mutex_);
  // A worker answered directly and the client has sent nothing since: the
  // connection is idle from now on.
  if (responded_) {
    deadline_kind_ = responded_close_ ? Deadline::kLinger : Deadline::kIdle;
    deadline_ =
        std::chrono::steady_clock::now() +
        (responded_close_ ? server_->limits().linger_timeout : server_->limits().idle_timeout);
  }
}

void Connection::checkDeadline(std::chrono::steady_clock::time_point now) {
  if (!deadlineDue(now) || socket_closed_) return;
  Deadline kind = deadline_kind_;
  deadline_kind_ = Deadline::kNone;
  switch (kind) {
    case Deadline::kHead:
    case Deadline::kBody:
      answerAndClose(408);
      break;
    case Deadline::kIdle:
    case Deadline::kResponse:
    case Deadline::kLinger:
    case Deadline::kNone:
      closeNow(HP_SO_CLOSE, 0);
      break;
  }
}

// -------------------------------------------------------------------- Server

Server::Server(std::shared_ptr<Listener> listener)
    : listener_(std::move(listener)),
      thread_count_(std::max(1u, std::thread::hardware_concurrency())) {}

Server::~Server() { stop(); }

bool Server::setLimits(const Limits& limits) {
  std::lock_guard lock(state_mutex_);
  if (started_) return false;
  limits_ = limits;
  return true;
}

bool Server::setNetworkThreadCount(std::uint32_t count) {
  std::lock_guard lock(state_mutex_);
  if (started_) return false;
  thread_count_ = count == 0 ? std::max(1u, std::thread::hardware_concurrency()) : count;
  return true;
}

std::uint32_t Server::networkThreadCount() const {
  std::lock_guard lock(state_mutex_);
  return thread_count_;
}

bool Server::started() const {
  std::lock_guard lock(state_mutex_);
  return started_;
}

int Server::boundPort() const {
  std::lock_guard lock(state_mutex_);
  return started_ ? bound_port_ : 0;
}

std::string Server::boundAddress() const {
  std::lock_guard lock(state_mutex_);
  return started_ ? bound_address_ : std::string();
}

bool Server::start(const char* address, int port) {
  if (tls_net_thread != nullptr) return false;
  std::lock_guard lock(state_mutex_);
  if (started_ || port < 1 || port > 65535) return false;
  asio::error_code ec;
  asio::ip::address bind_address =
      asio::ip::make_address(address == nullptr || *address == '\0' ? "0.0.0.0" : address, ec);
  if (ec) return false;
  asio::ip::tcp::endpoint endpoint(bind_address, static_cast<unsigned short>(port));

  std::vector<std::unique_ptr<NetThread>> threads;
  for (std::uint32_t i = 0; i < thread_count_; ++i) {
    threads.push_back(std::make_unique<NetThread>(this));
  }
  NetThread& first = *threads.front();
  first.acceptor.emplace(first.context);
  first.acceptor->open(endpoint.protocol(), ec);
  if (!ec) first.acceptor->set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) first.acceptor->bind(endpoint, ec);
  if (!ec) first.acceptor->listen(asio::socket_base::max_listen_connections, ec);
  if (!ec) first.acceptor->non_blocking(true, ec);
  if (ec) return false;
  for (std::size_t i = 1; i < threads.size(); ++i) {
    int fd = ::dup(first.acceptor->native_handle());
    if (fd < 0) return false;
    threads[i]->acceptor.emplace(threads[i]->context);
    threads[i]->acceptor->assign(endpoint.protocol(), fd, ec);
    if (ec) {
      ::close(fd);
      return false;
    }
  }
  bound_port_ = first.acceptor->local_endpoint(ec).port();
  bound_address_ = bind_address.to_string();

  stopping_.store(false, std::memory_order_release);
  threads_ = std::move(threads);
  for (auto& thread : threads_) {
    NetThread* t = thread.get();
    acceptNext(*t);
    scheduleSweep(*t);
    t->thread = std::thread([t] {
      tls_net_thread = t;
      auto guard = asio::make_work_guard(t->context);
      t->context.run();
      tls_net_thread = nullptr;
    });
  }
  started_ = true;
  return true;
}

void Server::acceptNext(NetThread& thread) {
  thread.acceptor->async_accept(
      [this, &thread](const asio::error_code& ec, asio::ip::tcp::socket socket) {
        if (ec == asio::error::operation_aborted || stopping()) return;
        if (ec) {
          // Out of descriptors or similar: retry at the next sweep.
          thread.accept_paused = true;
          return;
        }
        onAccepted(thread, std::move(socket));
        acceptNext(thread);
      });
}

void Server::scheduleSweep(NetThread& thread) {
  thread.sweep.expires_after(limits_.sweep_interval);
  thread.sweep.async_wait([this, &thread](const asio::error_code& ec) {
    if (ec || stopping()) return;
    sweep(thread);
    scheduleSweep(thread);
  });
}

void Server::sweep(NetThread& thread) {
  if (thread.accept_paused) {
    thread.accept_paused = false;
    acceptNext(thread);
  }
  auto now = std::chrono::steady_clock::now();
  std::vector<std::shared_ptr<Connection>> due;
  for (Connection* c : thread.live) {
    c->noticeDirectResponse();
    if (c->deadlineDue(now)) due.push_back(c->shared_from_this());
  }
  for (auto& c : due) c->checkDeadline(now);
}

void Server::onAccepted(NetThread& thread, asio::ip::tcp::socket socket) {
  asio::error_code ec;
  socket.non_blocking(true, ec);
  if (connection_count_.load(std::memory_order_relaxed) >= limits_.max_connections) {
    // Full: a short answer and a close; the program never sees it.
    std::string answer = buildErrorResponse(503);
    socket.write_some(asio::buffer(answer), ec);
    socket.shutdown(asio::socket_base::shutdown_send, ec);
    socket.close(ec);
    return;
  }
  int fd = socket.native_handle();
  HP_CONNID id = g_next_connection_id.fetch_add(1, std::memory_order_relaxed);
  auto connection = std::make_shared<Connection>(this, &thread, id, std::move(socket));
  {
    Shard& shard = shardOf(id);
    std::lock_guard lock(shard.mutex);
    shard.map.emplace(id, connection);
  }
  connection_count_.fetch_add(1, std::memory_order_relaxed);
  thread.live.insert(connection.get());
  auto fn = listener_->on_accept.load(std::memory_order_acquire);
  if (fn != nullptr && fn(handle(), id, static_cast<uintptr_t>(fd)) == HP_HR_ERROR) {
    connection->closeNow(HP_SO_ACCEPT, 0);
    return;
  }
  connection->start();
}

std::shared_ptr<Connection> Server::find(HP_CONNID id) {
  Shard& shard = shardOf(id);
  std::lock_guard lock(shard.mutex);
  auto it = shard.map.find(id);
  return it == shard.map.end() ? nullptr : it->second;
}

void Server::removeConnection(HP_CONNID id) {
  std::shared_ptr<Connection> removed;
  {
    Shard& shard = shardOf(id);
    std::lock_guard lock(shard.mutex);
    auto it = shard.map.find(id);
    if (it == shard.map.end()) return;
    removed = std::move(it->second);
    shard.map.erase(it);
  }
  if (connection_count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    std::lock_guard lock(drained_mutex_);
    drained_.notify_all();
  }
}

bool Server::stop() {
  if (tls_net_thread != nullptr) return false;  // would wait for itself
  std::lock_guard lock(state_mutex_);
  if (!started_) return false;
  stopping_.store(true, std::memory_order_release);
  {
    std::lock_guard wait_lock(drained_mutex_);
    threads_closed_ = 0;
  }
  for (auto& thread : threads_) {
    NetThread* t = thread.get();
    asio::post(t->context, [this, t] {
      asio::error_code ignored;
      t->acceptor->close(ignored);
      t->sweep.cancel();
      std::vector<Connection*> open(t->live.begin(), t->live.end());
      for (Connection* c : open) {
        auto keep = c->shared_from_this();
        c->closeNow(HP_SO_CLOSE, 0);
      }
      std::lock_guard wait_lock(drained_mutex_);
      ++threads_closed_;
      drained_.notify_all();
    });
  }
  // Closes of connections with unfinished tasks are reported (on their
  // network threads) when the tasks end; wait for them, within reason. The
  // count means something only once every thread has closed its acceptor:
  // until then a thread may still be taking in a connection it accepted
  // before it saw the stop.
  {
    std::unique_lock wait_lock(drained_mutex_);
    drained_.wait_for(wait_lock, limits_.stop_task_wait, [this] {
      return threads_closed_ == threads_.size() && connection_count_.load() == 0;
    });
  }
  for (auto& thread : threads_) thread->context.stop();
  for (auto& thread : threads_) thread->thread.join();
  // Connections still held by tasks that did not finish in time: they stay
  // valid for those tasks, but their close is never reported.
  for (Shard& shard : shards_) {
    std::unordered_map<HP_CONNID, std::shared_ptr<Connection>> left;
    {
      std::lock_guard shard_lock(shard.mutex);
      left.swap(shard.map);
    }
    for (auto& [id, c] : left) c->orphan();
  }
  connection_count_.store(0);
  threads_.clear();  // event loops, with every handler still queued in them
  started_ = false;
  bound_port_ = 0;
  bound_address_.clear();
  return true;
}

}  // namespace hpsocket4c
