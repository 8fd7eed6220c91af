#include "request_parser.h"

#include <strings.h>

namespace hpsocket4c {

namespace {

RequestParser* self(llhttp_t* p) { return static_cast<RequestParser*>(p->data); }

bool equalsIgnoreCase(const std::string& text, const char* word) {
  return strcasecmp(text.c_str(), word) == 0;
}

// Status meaning "a handler gave up on the connection": close, no answer.
constexpr int kAbandon = 0;

}  // namespace

void RequestHead::clear() {
  method.clear();
  target.clear();
  url.clear();
  headers.clear();
  cookies.clear();
  http_major = 1;
  http_minor = 1;
  keep_alive = true;
  expect_continue = false;
  is_head = false;
  upgrade = false;
}

const std::string* RequestHead::findHeader(const char* name) const {
  for (const auto& [field, value] : headers) {
    if (strcasecmp(field.c_str(), name) == 0) return &value;
  }
  return nullptr;
}

const std::string* RequestHead::findCookie(const char* name) const {
  for (const auto& [cookie, value] : cookies) {
    if (cookie == name) return &value;
  }
  return nullptr;
}

namespace {

// "a=1; b=2" -> (a, 1), (b, 2); an item without "=" is a name with an
// empty value.
void splitCookies(const std::string& header,
                  std::vector<std::pair<std::string, std::string>>& cookies) {
  std::size_t pos = 0;
  while (pos < header.size()) {
    std::size_t end = header.find(';', pos);
    if (end == std::string::npos) end = header.size();
    std::size_t first = header.find_first_not_of(" \t", pos);
    if (first != std::string::npos && first < end) {
      std::size_t last = header.find_last_not_of(" \t", end - 1);
      std::string item = header.substr(first, last - first + 1);
      std::size_t equals = item.find('=');
      if (equals == std::string::npos) {
        cookies.emplace_back(item, std::string());
      } else {
        cookies.emplace_back(item.substr(0, equals), item.substr(equals + 1));
      }
    }
    pos = end + 1;
  }
}

}  // namespace

const llhttp_settings_t* RequestParser::settings() {
  static const llhttp_settings_t kSettings = [] {
    llhttp_settings_t s;
    llhttp_settings_init(&s);
    s.on_message_begin = &RequestParser::onMessageBegin;
    s.on_url = &RequestParser::onUrl;
    s.on_header_field = &RequestParser::onHeaderField;
    s.on_header_field_complete = &RequestParser::onHeaderFieldComplete;
    s.on_header_value = &RequestParser::onHeaderValue;
    s.on_headers_complete = &RequestParser::onHeadersComplete;
    s.on_body = &RequestParser::onBodyData;
    s.on_message_complete = &RequestParser::onMessageCompleteCb;
    return s;
  }();
  return &kSettings;
}

RequestParser::RequestParser(RequestEvents* events, const Limits* limits)
    : events_(events), limits_(limits) {
  llhttp_init(&parser_, HTTP_REQUEST, settings());
  parser_.data = this;
}

RequestParser::Result RequestParser::feed(const char* data, std::size_t length) {
  Result result;
  if (failed_) {
    result.status = Status::kError;
    result.error_status = error_status_;
    return result;
  }
  if (message_complete_) {
    // Stopped after a message: nothing is consumed until nextMessage().
    result.status = Status::kMessageComplete;
    return result;
  }
  llhttp_errno_t err = llhttp_execute(&parser_, data, length);
  if (err == HPE_OK) {
    result.consumed = length;
    return result;
  }
  if (err == HPE_PAUSED && message_complete_) {
    const char* stop = llhttp_get_error_pos(&parser_);
    result.consumed = stop != nullptr ? static_cast<std::size_t>(stop - data) : length;
    result.status = Status::kMessageComplete;
    return result;
  }
  failed_ = true;
  if (error_status_ == 0 && err != HPE_USER && err != HPE_CB_HEADERS_COMPLETE &&
      err != HPE_CB_MESSAGE_COMPLETE) {
    error_status_ = 400;  // malformed request
  }
  result.status = Status::kError;
  result.error_status = error_status_;
  return result;
}

void RequestParser::nextMessage() {
  if (!message_complete_ || failed_) return;
  message_complete_ = false;
  in_message_ = false;
  head_complete_ = false;
  llhttp_resume(&parser_);
}

bool RequestParser::countHead(std::size_t length) {
  head_bytes_ += length;
  if (head_bytes_ > limits_->max_head_size) {
    error_status_ = 431;
    return false;
  }
  return true;
}

int RequestParser::onMessageBegin(llhttp_t* p) {
  RequestParser* rp = self(p);
  rp->head_.clear();
  rp->head_bytes_ = 0;
  rp->body_bytes_ = 0;
  rp->in_message_ = true;
  rp->head_complete_ = false;
  rp->in_field_ = false;
  return 0;
}

int RequestParser::onUrl(llhttp_t* p, const char* at, std::size_t length) {
  RequestParser* rp = self(p);
  if (rp->head_.target.size() + length > rp->limits_->max_url_length) {
    rp->error_status_ = 414;
    return HPE_USER;
  }
  if (!rp->countHead(length)) return HPE_USER;
  rp->head_.target.append(at, length);
  return 0;
}

int RequestParser::onHeaderField(llhttp_t* p, const char* at, std::size_t length) {
  RequestParser* rp = self(p);
  // Each header also costs its ": " and line end, so that a flood of empty
  // values still reaches the limit.
  if (!rp->countHead(length + (rp->in_field_ ? 0 : 4))) return HPE_USER;
  if (!rp->in_field_) {
    rp->head_.headers.emplace_back();
    rp->in_field_ = true;
  }
  rp->head_.headers.back().first.append(at, length);
  return 0;
}

int RequestParser::onHeaderFieldComplete(llhttp_t* p) {
  self(p)->in_field_ = false;
  return 0;
}

int RequestParser::onHeaderValue(llhttp_t* p, const char* at, std::size_t length) {
  RequestParser* rp = self(p);
  if (!rp->countHead(length)) return HPE_USER;
  if (rp->head_.headers.empty()) return HPE_USER;  // cannot happen: llhttp sends a field first
  rp->head_.headers.back().second.append(at, length);
  return 0;
}

int RequestParser::onHeadersComplete(llhttp_t* p) {
  RequestParser* rp = self(p);
  RequestHead& head = rp->head_;
  head.method = llhttp_method_name(static_cast<llhttp_method_t>(p->method));
  head.http_major = p->http_major;
  head.http_minor = p->http_minor;
  head.is_head = p->method == HTTP_HEAD;
  head.upgrade = p->upgrade != 0 || p->method == HTTP_CONNECT;
  head.keep_alive = llhttp_should_keep_alive(p) != 0 && !head.upgrade;
  splitUrl(head.target, head.url);
  for (const auto& [field, value] : head.headers) {
    if (strcasecmp(field.c_str(), "Cookie") == 0) splitCookies(value, head.cookies);
  }
  bool has_body =
      (p->flags & F_CHUNKED) != 0 || ((p->flags & F_CONTENT_LENGTH) != 0 && p->content_length > 0);
  if ((p->flags & F_CONTENT_LENGTH) != 0 && p->content_length > rp->limits_->max_body_size) {
    rp->error_status_ = 413;
    return -1;
  }
  if (has_body && (head.http_major > 1 || (head.http_major == 1 && head.http_minor >= 1))) {
    const std::string* expect = head.findHeader("Expect");
    head.expect_continue = expect != nullptr && equalsIgnoreCase(*expect, "100-continue");
  }
  rp->head_complete_ = true;
  if (!rp->events_->onHeadersComplete()) {
    rp->error_status_ = kAbandon;
    return -1;
  }
  return 0;
}

int RequestParser::onBodyData(llhttp_t* p, const char* at, std::size_t length) {
  RequestParser* rp = self(p);
  rp->body_bytes_ += length;
  if (rp->body_bytes_ > rp->limits_->max_body_size) {
    rp->error_status_ = 413;
    return HPE_USER;
  }
  if (!rp->events_->onBody(at, length)) {
    rp->error_status_ = kAbandon;
    return HPE_USER;
  }
  return 0;
}

int RequestParser::onMessageCompleteCb(llhttp_t* p) {
  RequestParser* rp = self(p);
  rp->head_.keep_alive = llhttp_should_keep_alive(p) != 0 && !rp->head_.upgrade;
  rp->message_complete_ = true;
  if (!rp->events_->onMessageComplete()) {
    rp->message_complete_ = false;
    rp->error_status_ = kAbandon;
    return -1;
  }
  return HPE_PAUSED;
}

}  // namespace hpsocket4c
