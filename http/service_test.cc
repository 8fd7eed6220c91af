// The service's start and stop sequences and the handlers, in-process on the
// real network library (reached through the library-entry table like the
// program does). Only requests that the routing rejects are sent, so no
// engine is needed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>

#include "http/server_binding.h"
#include "text/text_ops.h"

// The service's globals, which the program defines with its start-up.
HttpServerBinding g_server;
ThreadPoolBinding g_workerPool;
HeaderList g_responseHeaders;
std::atomic<ServerHandle> g_serverHandle{nullptr};

namespace {

int freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// One request with "Connection: close"; the whole answer, or "" when the
// port refuses the connection.
std::string exchange(int port, const std::string& target) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval timeout{60, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET " + target + " HTTP/1.1\r\nConnection: close\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
      char chunk[4096];
      for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) {
        answer.append(chunk, static_cast<size_t>(n));
      }
    }
  }
  ::close(fd);
  return answer;
}

const char kHeaders[] =
    "Content-Type: application/json\r\n"
    "Access-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Methods: POST\r\n"
    "Access-Control-Allow-Headers: *\r\n"
    "Server: KelvHttpApi\r\n";

class ServiceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setDllDirectory(Text(REZ_BIN_DIR)); }
  void TearDown() override { stopService(); }
};

TEST_F(ServiceTest, StartAnswersAndStopCloses) {
  const int port = freePort();
  Text error("untouched");
  ASSERT_TRUE(startService(Text(), port, error));
  EXPECT_EQ(error, Text("untouched"));
  const std::string answer = exchange(port, "/nope");
  EXPECT_EQ(answer.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << answer;
  EXPECT_NE(answer.find(std::string("\r\n") + kHeaders), std::string::npos) << answer;
  // 未找到vexo目录 in UTF-8
  EXPECT_EQ(answer.substr(answer.size() - 19), "未找到vexo目录");
  stopService();
  EXPECT_EQ(g_serverHandle.load(), nullptr);
  EXPECT_EQ(exchange(port, "/nope"), "");
}

TEST_F(ServiceTest, FailedStartDestroysItsServerAndALaterStartWorks) {
  const int port = freePort();
  Text error;
  ASSERT_TRUE(startService(Text("0.0.0.0"), port, error));
  // A second start on the port the first one holds... stops the first one
  // first, so it succeeds: a start replaces the running server.
  ASSERT_TRUE(startService(Text("0.0.0.0"), port, error));
  // A port outside 1..65535 fails with the start text and leaves no server.
  EXPECT_FALSE(startService(Text("0.0.0.0"), 0, error));
  EXPECT_EQ(error, startServerFailedText());
  EXPECT_EQ(g_serverHandle.load(), nullptr);
  EXPECT_EQ(exchange(port, "/nope"), "");  // the replaced server is gone too
  const int other = freePort();
  ASSERT_TRUE(startService(Text("0.0.0.0"), other, error));
  EXPECT_NE(exchange(other, "/nope").find("400 Bad Request"), std::string::npos);
  // However many starts: five headers, in order.
  ASSERT_EQ(g_responseHeaders.count(), 5);
  EXPECT_EQ(g_responseHeaders.at(0).name, Text("Content-Type"));
  EXPECT_EQ(g_responseHeaders.at(4).value, Text("KelvHttpApi"));
}

TEST_F(ServiceTest, StartWhileRunningMovesToTheNewPort) {
  const int first = freePort();
  const int second = freePort();
  Text error;
  ASSERT_TRUE(startService(Text(), first, error));
  ASSERT_TRUE(startService(Text(), second, error));
  EXPECT_EQ(exchange(first, "/nope"), "");
  EXPECT_NE(exchange(second, "/nope").find("400 Bad Request"), std::string::npos);
}

TEST_F(ServiceTest, RequestThatCannotBeQueuedIsAnswered503) {
  const int port = freePort();
  Text error;
  ASSERT_TRUE(startService(Text(), port, error));
  // A stopped pool refuses every task.
  ASSERT_TRUE(g_workerPool.stopPool());
  const std::string answer = exchange(port, "/vexo/?code=QUJD&length=3");
  ASSERT_TRUE(g_workerPool.startPool(0, 0, HP_TRP_WAIT_FOR, 0));
  EXPECT_EQ(answer.rfind(std::string("HTTP/1.1 503 Service Unavailable\r\n") + kHeaders, 0), 0u)
      << answer;
  EXPECT_NE(answer.find("Content-Length: 0\r\n"), std::string::npos) << answer;
  EXPECT_EQ(answer.substr(answer.size() - 4), "\r\n\r\n");
}

}  // namespace
