// RequestParser turns the bytes of one connection into HTTP/1.x requests, on
// top of llhttp, without knowing anything about sockets: the connection feeds
// it whatever arrived, in any pieces, and it reports the request head, the
// body pieces and the end of each message through RequestEvents. After a
// complete message it stops (the rest of the input stays unconsumed) until
// nextMessage() is called, so a request's head is never overwritten while
// its response is pending. It enforces the size limits of Limits and reports
// each violation as the status code the client is to be answered with.
//
// Not thread-safe: one thread feeds it; the head it fills may be read by
// other threads only while the parser is stopped after a message.
#ifndef HPSOCKET4C_SRC_REQUEST_PARSER_H_
#define HPSOCKET4C_SRC_REQUEST_PARSER_H_

#include <llhttp.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "server_limits.h"
#include "url_fields.h"

namespace hpsocket4c {

// The current request as the accessors of the C interface see it.
struct RequestHead {
  std::string method;
  std::string target;  // the request target exactly as received
  UrlFields url;
  std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
  // Name and value of each cookie of the "Cookie" headers, in order.
  std::vector<std::pair<std::string, std::string>> cookies;
  int http_major = 1;
  int http_minor = 1;
  bool keep_alive = true;        // the connection may carry a further request
  bool expect_continue = false;  // the client waits for "100 Continue"
  bool is_head = false;          // HEAD: the response carries no body
  bool upgrade = false;          // Upgrade / CONNECT: closed after the answer

  void clear();
  // First value of the header `name`, compared case-insensitively.
  const std::string* findHeader(const char* name) const;
  // Value of the first cookie called exactly `name`.
  const std::string* findCookie(const char* name) const;
};

class RequestEvents {
 public:
  virtual ~RequestEvents() = default;
  // Each returns false to abandon the connection (no answer is sent).
  virtual bool onHeadersComplete() = 0;
  virtual bool onBody(const char* data, std::size_t length) = 0;
  virtual bool onMessageComplete() = 0;
};

class RequestParser {
 public:
  enum class Status {
    kNeedMore,         // everything consumed, the message goes on
    kMessageComplete,  // stopped after a message; `consumed` bytes were used
    kError,            // the connection must be answered `error_status` and closed
  };
  struct Result {
    Status status = Status::kNeedMore;
    std::size_t consumed = 0;
    // Status code for the client: 400, 413, 414 or 431; 0 means close
    // without an answer (a handler asked for it).
    int error_status = 0;
  };

  RequestParser(RequestEvents* events, const Limits* limits);
  RequestParser(const RequestParser&) = delete;
  RequestParser& operator=(const RequestParser&) = delete;

  Result feed(const char* data, std::size_t length);
  // Lets the parser go on after kMessageComplete.
  void nextMessage();

  const RequestHead& head() const { return head_; }
  // Some byte of a message has arrived but its head is not complete yet.
  bool inHead() const { return in_message_ && !head_complete_; }
  // The head is complete and the body is still arriving.
  bool inBody() const { return in_message_ && head_complete_ && !message_complete_; }

 private:
  static int onMessageBegin(llhttp_t* p);
  static int onUrl(llhttp_t* p, const char* at, std::size_t length);
  static int onHeaderField(llhttp_t* p, const char* at, std::size_t length);
  static int onHeaderFieldComplete(llhttp_t* p);
  static int onHeaderValue(llhttp_t* p, const char* at, std::size_t length);
  static int onHeadersComplete(llhttp_t* p);
  static int onBodyData(llhttp_t* p, const char* at, std::size_t length);
  static int onMessageCompleteCb(llhttp_t* p);
  static const llhttp_settings_t* settings();

  // Counts head bytes; false (and error_status_ 431) past the limit.
  bool countHead(std::size_t length);

  llhttp_t parser_;
  RequestEvents* events_;
  const Limits* limits_;
  RequestHead head_;
  std::size_t head_bytes_ = 0;
  std::uint64_t body_bytes_ = 0;
  bool in_message_ = false;
  bool head_complete_ = false;
  bool message_complete_ = false;
  bool in_field_ = false;
  int error_status_ = 0;
  bool failed_ = false;
};

}  // namespace hpsocket4c

#endif  // HPSOCKET4C_SRC_REQUEST_PARSER_H_
