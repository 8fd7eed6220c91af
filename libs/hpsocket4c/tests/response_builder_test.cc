#include "response_builder.h"

#include <gtest/gtest.h>

#include <string>

namespace hpsocket4c {
namespace {

std::string build(int code, const char* text, std::initializer_list<THeader> headers,
                  const std::string& body, ResponseOptions options = {}) {
  BuiltResponse out;
  buildResponse(code, text, headers.begin(), static_cast<int>(headers.size()),
                reinterpret_cast<const std::uint8_t*>(body.data()), static_cast<int>(body.size()),
                options, out);
  return out.bytes;
}

TEST(ResponseBuilder, StatusLine) {
  struct Case {
    int code;
    const char* text;
    const char* line;
  };
  const Case cases[] = {
      {200, nullptr, "HTTP/1.1 200 OK\r\n"},
      {200, "", "HTTP/1.1 200 OK\r\n"},
      {200, "Fine", "HTTP/1.1 200 Fine\r\n"},
      {0, nullptr, "HTTP/1.1 400 Bad Request\r\n"},
      {0, "Nope", "HTTP/1.1 400 Bad Request\r\n"},
      {99, nullptr, "HTTP/1.1 400 Bad Request\r\n"},
      {1000, nullptr, "HTTP/1.1 400 Bad Request\r\n"},
      {200 + 65536, nullptr, "HTTP/1.1 400 Bad Request\r\n"},
      {413, nullptr, "HTTP/1.1 413 Payload Too Large\r\n"},
      {418, nullptr, "HTTP/1.1 418 Client Error\r\n"},
      {600, nullptr, "HTTP/1.1 600 Unknown\r\n"},
      {200, "Bad\r\nX-Injected: 1", "HTTP/1.1 200 OK\r\n"},
  };
  for (const Case& c : cases) {
    std::string bytes = build(c.code, c.text, {}, "");
    EXPECT_EQ(bytes.substr(0, bytes.find("\r\n") + 2), c.line) << c.code;
  }
}

TEST(ResponseBuilder, HeadersLengthAndBody) {
  EXPECT_EQ(build(200, nullptr, {{"A", "1"}, {"B", "2"}}, "body"),
            "HTTP/1.1 200 OK\r\nA: 1\r\nB: 2\r\nContent-Length: 4\r\n\r\nbody");
  // The caller's own length stands; broken entries are dropped.
  EXPECT_EQ(
      build(
          200, nullptr,
          {{"content-length", "4"}, {nullptr, "x"}, {"", "y"}, {"C", "a\r\nD: 1"}, {"E", nullptr}},
          "body"),
      "HTTP/1.1 200 OK\r\ncontent-length: 4\r\nE: \r\n\r\nbody");
  ResponseOptions head;
  head.head_request = true;
  EXPECT_EQ(build(200, nullptr, {}, "body", head), "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n");
  EXPECT_EQ(build(204, nullptr, {}, "body"), "HTTP/1.1 204 No Content\r\n\r\n");
}

TEST(ResponseBuilder, ConnectionHeader) {
  ResponseOptions closing;
  closing.will_close = true;
  EXPECT_EQ(build(200, nullptr, {{"Connection", "keep-alive"}}, "", closing),
            "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  ResponseOptions old;
  old.http10_keep_alive = true;
  EXPECT_EQ(build(200, nullptr, {}, "", old),
            "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n");
  BuiltResponse out;
  THeader caller_close{"Connection", "Close"};
  buildResponse(200, nullptr, &caller_close, 1, nullptr, 0, {}, out);
  EXPECT_TRUE(out.caller_closes);
  EXPECT_EQ(buildErrorResponse(431),
            "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\n"
            "Connection: close\r\n\r\n");
}

}  // namespace
}  // namespace hpsocket4c
