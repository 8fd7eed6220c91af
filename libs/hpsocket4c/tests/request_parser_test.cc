// The parser without sockets: the same requests fed whole and byte by byte
// give the same events; it stops after each message; limits and malformed
// input give the status the client is to be answered with.
#include "request_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "url_fields.h"

namespace hpsocket4c {
namespace {

struct Recorder : RequestEvents {
  bool onHeadersComplete() override {
    log += "[head " + parser->head().method + " " + parser->head().target + "]";
    return true;
  }
  bool onBody(const char* data, std::size_t length) override {
    body.append(data, length);
    return true;
  }
  bool onMessageComplete() override {
    log += "[done " + body + "]";
    body.clear();
    return true;
  }
  RequestParser* parser = nullptr;
  std::string log;
  std::string body;
};

// Feeds `input` in pieces of `piece` bytes, going on after each message;
// returns the error status, or -1 when all was consumed.
int feedAll(RequestParser& parser, const std::string& input, std::size_t piece) {
  std::string pending;
  for (std::size_t at = 0; at < input.size(); at += piece) {
    pending += input.substr(at, piece);
    while (!pending.empty()) {
      auto result = parser.feed(pending.data(), pending.size());
      if (result.status == RequestParser::Status::kError) return result.error_status;
      pending.erase(0, result.consumed);
      if (result.status == RequestParser::Status::kMessageComplete) parser.nextMessage();
      if (result.status == RequestParser::Status::kNeedMore) break;
    }
  }
  return -1;
}

TEST(RequestParser, PiecesDoNotChangeTheEvents) {
  const std::string input =
      "GET /a?x=1 HTTP/1.1\r\nHost: h\r\nX-Long: " + std::string(300, 'v') +
      "\r\n\r\n"
      "POST /b HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"
      "POST /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n";
  const std::string expected =
      "[head GET /a?x=1][done ][head POST /b][done hello]"
      "[head POST /c][done abcde]";
  for (std::size_t piece : {input.size(), std::size_t{1}, std::size_t{2}, std::size_t{7}}) {
    Limits limits;
    Recorder recorder;
    RequestParser parser(&recorder, &limits);
    recorder.parser = &parser;
    EXPECT_EQ(feedAll(parser, input, piece), -1) << piece;
    EXPECT_EQ(recorder.log, expected) << piece;
  }
}

TEST(RequestParser, StopsAfterEachMessageUntilToldToGoOn) {
  Limits limits;
  Recorder recorder;
  RequestParser parser(&recorder, &limits);
  recorder.parser = &parser;
  std::string two = "GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\n\r\n";
  auto result = parser.feed(two.data(), two.size());
  ASSERT_EQ(result.status, RequestParser::Status::kMessageComplete);
  EXPECT_EQ(result.consumed, two.size() / 2);
  EXPECT_EQ(parser.head().target, "/1");
  // Stopped: nothing more is consumed and the head stays.
  result = parser.feed(two.data() + result.consumed, two.size() / 2);
  EXPECT_EQ(result.status, RequestParser::Status::kMessageComplete);
  EXPECT_EQ(result.consumed, 0u);
  EXPECT_EQ(parser.head().target, "/1");
  parser.nextMessage();
  result = parser.feed(two.data() + two.size() / 2, two.size() / 2);
  EXPECT_EQ(result.status, RequestParser::Status::kMessageComplete);
  EXPECT_EQ(parser.head().target, "/2");
}

TEST(RequestParser, HeadFacts) {
  struct Case {
    std::string request;
    bool keep_alive;
    bool expect_continue;
    bool is_head;
  };
  const Case cases[] = {
      {"GET / HTTP/1.1\r\n\r\n", true, false, false},
      {"GET / HTTP/1.1\r\nConnection: close\r\n\r\n", false, false, false},
      {"GET / HTTP/1.0\r\n\r\n", false, false, false},
      {"GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", true, false, false},
      {"HEAD / HTTP/1.1\r\n\r\n", true, false, true},
      {"POST / HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 1\r\n\r\nx", true, true, false},
      {"POST / HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 0\r\n\r\n", true, false, false},
      {"GET / HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n", false, false, false},
  };
  for (const Case& c : cases) {
    Limits limits;
    Recorder recorder;
    RequestParser parser(&recorder, &limits);
    recorder.parser = &parser;
    auto result = parser.feed(c.request.data(), c.request.size());
    ASSERT_EQ(result.status, RequestParser::Status::kMessageComplete) << c.request;
    EXPECT_EQ(parser.head().keep_alive, c.keep_alive) << c.request;
    EXPECT_EQ(parser.head().expect_continue, c.expect_continue) << c.request;
    EXPECT_EQ(parser.head().is_head, c.is_head) << c.request;
  }
}

TEST(RequestParser, CookiesOfEveryCookieHeader) {
  Limits limits;
  Recorder recorder;
  RequestParser parser(&recorder, &limits);
  recorder.parser = &parser;
  std::string request =
      "GET / HTTP/1.1\r\nCookie: a=1; b = 2 ;flag\r\nX: y\r\ncookie: c=x=y\r\n\r\n";
  ASSERT_EQ(parser.feed(request.data(), request.size()).status,
            RequestParser::Status::kMessageComplete);
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(parser.head().cookies, (Pairs{{"a", "1"}, {"b ", " 2"}, {"flag", ""}, {"c", "x=y"}}));
  ASSERT_NE(parser.head().findCookie("c"), nullptr);
  EXPECT_EQ(*parser.head().findCookie("c"), "x=y");
  EXPECT_EQ(parser.head().findCookie("A"), nullptr);
}

TEST(RequestParser, LimitsAndMalformedInput) {
  Limits limits;
  limits.max_url_length = 50;
  limits.max_head_size = 200;
  limits.max_body_size = 10;
  struct Case {
    std::string request;
    int status;
  };
  const Case cases[] = {
      {"GET /" + std::string(50, 'u') + " HTTP/1.1\r\n\r\n", 414},
      {"GET / HTTP/1.1\r\nA: " + std::string(200, 'h') + "\r\n\r\n", 431},
      {"POST / HTTP/1.1\r\nContent-Length: 11\r\n\r\n", 413},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nb\r\n" + std::string(11, 'c'), 413},
      {"GET / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 2\r\n\r\n", 400},
      {"\x01\x02\x03", 400},
      {"GET / HTTP/9.9\r\n\r\n", 400},
  };
  for (const Case& c : cases) {
    for (std::size_t piece : {c.request.size(), std::size_t{1}}) {
      Recorder recorder;
      RequestParser parser(&recorder, &limits);
      recorder.parser = &parser;
      EXPECT_EQ(feedAll(parser, c.request, piece), c.status) << c.request << " / " << piece;
    }
  }
}

TEST(UrlFields, SplitsWithoutDecoding) {
  struct Case {
    std::string target;
    std::vector<const char*> fields;  // schema, host, port, path, query, fragment, userinfo
  };
  const Case cases[] = {
      {"/vexo/?code=a%2B+b&length=4",
       {nullptr, nullptr, nullptr, "/vexo/", "code=a%2B+b&length=4", nullptr, nullptr}},
      {"/p", {nullptr, nullptr, nullptr, "/p", nullptr, nullptr, nullptr}},
      {"/p?", {nullptr, nullptr, nullptr, "/p", "", nullptr, nullptr}},
      {"/p?q#f", {nullptr, nullptr, nullptr, "/p", "q", "f", nullptr}},
      {"http://u@h:81/p?q", {"http", "h", "81", "/p", "q", nullptr, "u"}},
      {"http://[::1]:8/", {"http", "[::1]", "8", "/", nullptr, nullptr, nullptr}},
      {"h:443", {nullptr, "h", "443", nullptr, nullptr, nullptr, nullptr}},
  };
  for (const Case& c : cases) {
    UrlFields fields;
    splitUrl(c.target, fields);
    for (int i = 0; i < kUrlFieldCount; ++i) {
      if (c.fields[i] == nullptr) {
        EXPECT_EQ(fields.get(i), nullptr) << c.target << " field " << i;
      } else {
        ASSERT_NE(fields.get(i), nullptr) << c.target << " field " << i;
        EXPECT_STREQ(fields.get(i), c.fields[i]) << c.target << " field " << i;
      }
    }
  }
}

}  // namespace
}  // namespace hpsocket4c
