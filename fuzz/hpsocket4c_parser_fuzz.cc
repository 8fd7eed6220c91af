// Feeds arbitrary bytes, cut into arbitrary pieces, to a connection's parsing
// path without sockets: the request parser (with limits small enough to be
// reached), the URL splitter, header lookups and the response builder for
// each complete request. Traps when the events come out of order or a
// message completes without its head.
//
// Input: byte 0 picks the limits, byte 1 seeds the piece lengths, the rest
// is the connection's byte stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "request_parser.h"
#include "response_builder.h"

namespace {

using hpsocket4c::RequestParser;

struct CheckingEvents : hpsocket4c::RequestEvents {
  enum class Stage { kIdle, kBody };
  bool onHeadersComplete() override {
    if (stage != Stage::kIdle) __builtin_trap();
    stage = Stage::kBody;
    const auto& head = parser->head();
    for (int field = -1; field <= hpsocket4c::kUrlFieldCount; ++field) (void)head.url.get(field);
    (void)head.findHeader("Cookie");
    return !reject_next;
  }
  bool onBody(const char* data, std::size_t length) override {
    if (stage != Stage::kBody || length == 0 || data == nullptr) __builtin_trap();
    body_bytes += length;
    return true;
  }
  bool onMessageComplete() override {
    if (stage != Stage::kBody) __builtin_trap();
    stage = Stage::kIdle;
    const auto& head = parser->head();
    hpsocket4c::ResponseOptions options;
    options.head_request = head.is_head;
    options.will_close = !head.keep_alive;
    hpsocket4c::BuiltResponse out;
    THeader headers[] = {{"X-Method", head.method.c_str()}, {"X-Target", head.target.c_str()}};
    buildResponse(static_cast<int>(body_bytes % 1100), head.target.c_str(), headers, 2,
                  reinterpret_cast<const std::uint8_t*>(head.target.data()),
                  static_cast<int>(head.target.size()), options, out);
    if (out.bytes.compare(0, 9, "HTTP/1.1 ") != 0) __builtin_trap();
    body_bytes = 0;
    return true;
  }
  RequestParser* parser = nullptr;
  Stage stage = Stage::kIdle;
  std::size_t body_bytes = 0;
  bool reject_next = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  hpsocket4c::Limits limits;
  if (data[0] & 1) {
    limits.max_url_length = 64;
    limits.max_head_size = 256;
    limits.max_body_size = 128;
  }
  unsigned seed = data[1];
  const char* stream = reinterpret_cast<const char*>(data + 2);
  std::size_t length = size - 2;

  CheckingEvents events;
  events.reject_next = (data[0] & 2) != 0 && (data[0] & 4) != 0;
  RequestParser parser(&events, &limits);
  events.parser = &parser;
  std::string pending;
  std::size_t at = 0;
  while (at < length) {
    seed = seed * 1103515245u + 12345u;
    std::size_t piece = 1 + (seed >> 16) % 64;
    if (piece > length - at) piece = length - at;
    pending.append(stream + at, piece);
    at += piece;
    for (;;) {
      RequestParser::Result result = parser.feed(pending.data(), pending.size());
      if (result.consumed > pending.size()) __builtin_trap();
      if (result.status == RequestParser::Status::kError) {
        int status = result.error_status;
        if (status != 0 && status != 400 && status != 413 && status != 414 && status != 431) {
          __builtin_trap();
        }
        return 0;
      }
      pending.erase(0, result.consumed);
      if (result.status == RequestParser::Status::kNeedMore) {
        if (!pending.empty()) __builtin_trap();  // it consumes everything it is given
        break;
      }
      parser.nextMessage();
      if (pending.empty()) break;
    }
  }
  return 0;
}
