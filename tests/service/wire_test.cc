// The service on the wire: every outcome of a recognition request and every
// decoding rule, reached through real HTTP requests against the program.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/service_process.h"

namespace servicetest {
namespace {

const std::vector<std::pair<std::string, std::string>> kDefaultHeaders = {
    {"Content-Type", "application/json"},
    {"Access-Control-Allow-Origin", "*"},
    {"Access-Control-Allow-Methods", "POST"},
    {"Access-Control-Allow-Headers", "*"},
    {"Server", "KelvHttpApi"},
};

// The five headers first, in order, then only what the library adds.
void expectDefaultHeaders(const HttpResponse& response) {
  ASSERT_GE(response.headers.size(), kDefaultHeaders.size()) << response.statusLine;
  for (size_t i = 0; i < kDefaultHeaders.size(); ++i) {
    EXPECT_EQ(response.headers[i], kDefaultHeaders[i]) << i;
  }
  for (size_t i = kDefaultHeaders.size(); i < response.headers.size(); ++i) {
    const std::string& name = response.headers[i].first;
    EXPECT_TRUE(name == "Content-Length" || name == "Connection") << name;
  }
}

// One service with the hex engine for the whole suite: the engine answers
// the hex of the bytes that reached it, so the answer shows the decoding.
class HexService : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = new RunningService("hex"); }
  static void TearDownTestSuite() {
    EXPECT_TRUE(service_->stop());
    delete service_;
  }
  static int port() { return service_->port; }
  static RunningService* service_;
};
RunningService* HexService::service_ = nullptr;

TEST_F(HexService, RoutingOutcomes) {
  ASSERT_TRUE(service_->started);
  const struct {
    std::string request;
    std::string statusLine;
    std::string body;
  } cases[] = {
      {getRequest("/vexo?code=QUJD&length=6"), "HTTP/1.1 400 Bad Request", "未找到vexo目录"},
      {getRequest("/VEXO/?code=QUJD&length=6"), "HTTP/1.1 400 Bad Request", "未找到vexo目录"},
      {getRequest("/"), "HTTP/1.1 400 Bad Request", "未找到vexo目录"},
      {"POST /vexo/?code=QUJD&length=6 HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc",
       "HTTP/1.1 400 Bad Request", "请使用GET"},
      {"PUT /vexo/?code=QUJD&length=6 HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n",
       "HTTP/1.1 400 Bad Request", "请使用GET"},
      {getRequest("/vexo/"), "HTTP/1.1 400 Bad Request", "请传入code"},
      {getRequest("/vexo/?length=6"), "HTTP/1.1 400 Bad Request", "请传入code"},
      {getRequest("/vexo/?code=QUJD"), "HTTP/1.1 400 Bad Request", "请传入leng"},
      {getRequest("/vexo/?code=QUJD&length=6"), "HTTP/1.1 200 OK", "code:414243"},
      // a plain substring test: "qrcode=" carries "code="
      {getRequest("/vexo/?qrcode=QUJD&length=6"), "HTTP/1.1 200 OK", "code:414243"},
      // no "&" after "code=": the image is empty, the engine answers ""
      {getRequest("/vexo/?length=0&code=QUJD"), "HTTP/1.1 200 OK", "code:"},
      {getRequest("/vexo/?code=&length=0"), "HTTP/1.1 200 OK", "code:"},
      // the last "length=" counts, up to the end of the query
      {getRequest("/vexo/?code=QUJD&length=2&length=6"), "HTTP/1.1 200 OK", "code:414243"},
      {getRequest("/vexo/?code=QUJD&length=6&x=1"), "HTTP/1.1 200 OK", "code:414243"},
      {getRequest("/vexo/?code=QUJD&length=abc"), "HTTP/1.1 200 OK", "识别失败"},
      {getRequest("/vexo/?code=QUJD&length=5"), "HTTP/1.1 200 OK", "识别失败"},
      // percent-encoded Base64 as standard clients send it
      {getRequest("/vexo/?code=QUI%3D&length=4"), "HTTP/1.1 200 OK", "code:4142"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    auto response = fetch(port(), c.request);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusLine, c.statusLine);
    EXPECT_EQ(response->body, c.body);
    expectDefaultHeaders(*response);
  }
}

TEST_F(HexService, HeadRequestIsRejectedWithoutBody) {
  HttpConnection connection(port());
  ASSERT_TRUE(connection.send("HEAD /vexo/?code=QUJD&length=6 HTTP/1.1\r\nHost: x\r\n\r\n"));
  auto response = connection.read(/*toHeadRequest=*/true);
  ASSERT_TRUE(response);
  EXPECT_EQ(response->statusLine, "HTTP/1.1 400 Bad Request");
  expectDefaultHeaders(*response);
}

TEST_F(HexService, Base64DecodingTable) {
  // Input as it stands in the query (spaces and line ends percent-encoded),
  // and the bytes the engine must receive, in hex.
  const struct {
    std::string code;
    std::string hex;
  } cases[] = {
      {"QUJD", "414243"},
      {"QUI=", "4142"},
      {"QQ==", "41"},
      {"QUJDQQ==", "41424341"},
      {"QUJDQ===", "414243"},
      {"aGVsbG8=", "68656C6C6F"},
      {"QUI", "414200"},
      {"QQ", "410000"},
      {"Q", "400000"},
      {"aGVsbG8", "68656C6C6F00"},
      {"QUJDQQ", "414243410000"},
      {"", ""},
      {"QU%20JD", "414243"},
      {"QUJD%0D%0AQUJD", "414243414243"},
      {"QUJD%A1%A1QUJD", "414243414243"},
      {"QU*DQUJD", "414A80414243"},
      {"QUJD%0AQUJD", "4142432942430C0000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    auto response = fetch(
        port(), getRequest("/vexo/?code=" + c.code + "&length=" + std::to_string(c.hex.size())));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(response->body, "code:" + c.hex);
  }
}

TEST_F(HexService, KeepAliveAnswersEveryRequestOnOneConnection) {
  HttpConnection connection(port());
  ASSERT_TRUE(connection.connected());
  for (int i = 0; i < 20; ++i) {
    const bool accepted = i % 2 == 0;
    ASSERT_TRUE(connection.send(getRequest(accepted ? "/vexo/?code=QUJD&length=6" : "/nope")));
    auto response = connection.read();
    ASSERT_TRUE(response) << i;
    EXPECT_EQ(response->body, accepted ? "code:414243" : "未找到vexo目录");
    expectDefaultHeaders(*response);
  }
}

TEST_F(HexService, PipelinedRequestsAreAnsweredInOrder) {
  HttpConnection connection(port());
  ASSERT_TRUE(connection.connected());
  const std::vector<std::string> codes = {"QQ==", "QUI=", "QUJD", "aGVsbG8=", "QUJDQQ=="};
  std::string burst;
  for (const auto& code : codes) burst += getRequest("/vexo/?code=" + code + "&length=0");
  // Same bytes, but each request with a POST body in between: bodies of
  // pipelined requests must not mix.
  for (int i = 0; i < 5; ++i) {
    burst += "POST /vexo/ HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nbody" + std::to_string(i);
  }
  ASSERT_TRUE(connection.send(burst));
  for (size_t i = 0; i < codes.size(); ++i) {
    auto response = connection.read();
    ASSERT_TRUE(response) << i;
    EXPECT_EQ(response->statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(response->body, "识别失败") << i;  // length 0 never matches a non-empty image
  }
  for (int i = 0; i < 5; ++i) {
    auto response = connection.read();
    ASSERT_TRUE(response) << i;
    EXPECT_EQ(response->body, "请使用GET");
  }
}

TEST_F(HexService, PipelinedAnswersMatchTheirRequests) {
  HttpConnection connection(port());
  ASSERT_TRUE(connection.connected());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"QQ==", "41"}, {"QUI=", "4142"}, {"QUJD", "414243"}, {"aGVsbG8=", "68656C6C6F"}};
  std::string burst;
  for (const auto& [code, hex] : cases) {
    burst += getRequest("/vexo/?code=" + code + "&length=" + std::to_string(hex.size()));
  }
  ASSERT_TRUE(connection.send(burst));
  for (const auto& [code, hex] : cases) {
    auto response = connection.read();
    ASSERT_TRUE(response) << code;
    EXPECT_EQ(response->body, "code:" + hex);
  }
}

TEST_F(HexService, Http10ClosesAfterTheAnswerUnlessKeptAlive) {
  {
    HttpConnection connection(port());
    ASSERT_TRUE(connection.send("GET /vexo/?code=QUJD&length=6 HTTP/1.0\r\n\r\n"));
    auto response = connection.read();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->body, "code:414243");
    expectDefaultHeaders(*response);
    EXPECT_TRUE(connection.closedByServer());
  }
  {
    HttpConnection connection(port());
    const std::string request =
        "GET /vexo/?code=QUI=&length=4 HTTP/1.0\r\nConnection: keep-alive\r\n\r\n";
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(connection.send(request));
      auto response = connection.read();
      ASSERT_TRUE(response) << i;
      EXPECT_EQ(response->body, "code:4142");
    }
  }
}

TEST_F(HexService, ConnectionCloseIsHonoured) {
  HttpConnection connection(port());
  ASSERT_TRUE(connection.send(getRequest("/vexo/?code=QUJD&length=6", "Connection: close\r\n")));
  auto response = connection.read();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "code:414243");
  EXPECT_TRUE(connection.closedByServer());
}

TEST_F(HexService, RequestsArrivingInPiecesAreAnsweredOnce) {
  // The head and a chunked body in small pieces, each sent on its own.
  HttpConnection connection(port());
  const std::string request =
      "GET /vexo/?code=aGVsbG8=&length=10 HTTP/1.1\r\nHost: x\r\n"
      "Transfer-Encoding: chunked\r\n\r\n"
      "3\r\nabc\r\n4\r\ndefg\r\n0\r\n\r\n";
  for (size_t i = 0; i < request.size(); i += 7) {
    ASSERT_TRUE(connection.send(request.substr(i, 7)));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  auto response = connection.read();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "code:68656C6C6F");
  // Nothing more comes for that request: the next one is answered next.
  ASSERT_TRUE(connection.send(getRequest("/vexo/?code=QQ==&length=2")));
  response = connection.read();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "code:41");
}

TEST_F(HexService, BodiesOfManyRequestsOnOneConnection) {
  // Large bodies (several network reads each) on a kept-alive connection,
  // then a request without a body: each is answered by its own head.
  HttpConnection connection(port());
  for (int i = 0; i < 4; ++i) {
    const std::string body(200000 + i, static_cast<char>('a' + i));
    ASSERT_TRUE(connection.send("POST /vexo/ HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body));
    auto response = connection.read();
    ASSERT_TRUE(response) << i;
    EXPECT_EQ(response->body, "请使用GET");
  }
  ASSERT_TRUE(connection.send(getRequest("/vexo/?code=QUJD&length=6")));
  auto response = connection.read();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "code:414243");
}

TEST_F(HexService, BrokenRequestsGetTheLibrarysAnswer) {
  auto response = fetch(port(), "NOT HTTP AT ALL\r\n\r\n");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->statusLine, "HTTP/1.1 400 Bad Request");
  // A client that vanishes mid-request leaves the service as it was.
  {
    HttpConnection connection(port());
    ASSERT_TRUE(connection.send("GET /vexo/?code=QUJD&len"));
  }
  {
    HttpConnection connection(port());
    ASSERT_TRUE(connection.send("POST /vexo/ HTTP/1.1\r\nContent-Length: 100\r\n\r\nab"));
  }
  response = fetch(port(), getRequest("/vexo/?code=QUJD&length=6"));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "code:414243");
}

}  // namespace
}  // namespace servicetest
