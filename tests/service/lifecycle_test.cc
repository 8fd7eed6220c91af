// The program's life as an operator sees it in console mode: start-up and
// its captions, failed starts, the engine's init once, fatal faults, the
// recognition tries, the stop on a signal, the command line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/service/service_process.h"

namespace servicetest {
namespace {

const std::string kIdle = "服务状态：未开启";
const std::string kStarted = "服务状态：启动成功，端口：";
const std::string kFailed = "服务状态：启动失败,";
const std::string kPortInUse = "启动HTTPAPI服务失败，可能端口被占用";

long countOf(const std::vector<std::string>& lines, const std::string& line) {
  return std::count(lines.begin(), lines.end(), line);
}

long ocrCalls(const std::vector<std::string>& lines) {
  return std::count_if(lines.begin(), lines.end(),
                       [](const std::string& l) { return l.rfind("ocr ", 0) == 0; });
}

// A socket that holds a port for the test's lifetime.
class PortHolder {
 public:
  PortHolder() {
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(socket_, 4);
    socklen_t length = sizeof address;
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~PortHolder() { ::close(socket_); }
  int port() const { return port_; }

 private:
  int socket_ = -1;
  int port_ = 0;
};

TEST(ConsoleMode, PortInUseFailsWithItsCaptionAndStatusOne) {
  PortHolder holder;
  ProgramDirectory directory("hex");
  ServiceProcess process(directory, {"--headless", "--port", std::to_string(holder.port())});
  EXPECT_EQ(process.readLine(), kIdle);
  EXPECT_EQ(process.readLine(), kFailed + kPortInUse);
  EXPECT_EQ(process.waitForExit(), 1);
  // The engine was initialised when the window (here: the console) opened.
  EXPECT_EQ(directory.engineCalls(), std::vector<std::string>{"init"});
}

TEST(ConsoleMode, PortTextsThatAreNoPortFailToStart) {
  for (const std::string text : {"", "abc", "0", "70000", "-5"}) {
    SCOPED_TRACE(text);
    ProgramDirectory directory("hex");
    ServiceProcess process(directory, {"--headless", "--port", text});
    EXPECT_EQ(process.readLine(), kIdle);
    EXPECT_EQ(process.readLine(), kFailed + kPortInUse);
    EXPECT_EQ(process.waitForExit(), 1);
  }
}

TEST(ConsoleMode, PortTextWithLettersStartsOnItsNumberAndShowsTheWholeText) {
  ProgramDirectory directory("hex");
  const int port = freePort();
  const std::string text = std::to_string(port) + "abc";
  ServiceProcess process(directory, {"--headless", "--port", text});
  EXPECT_EQ(process.readLine(), kIdle);
  ASSERT_EQ(process.readLine(), kStarted + text);
  auto response = fetch(port, getRequest("/vexo/?code=QUJD&length=6"));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "code:414243");
  process.signal(SIGINT);
  EXPECT_EQ(process.waitForExit(), 0);
}

TEST(ConsoleMode, EngineIsInitialisedOnceAndCalledOncePerMatchingRequest) {
  RunningService service("hex");
  ASSERT_TRUE(service.started);
  for (int i = 0; i < 5; ++i) {
    auto response = fetch(service.port, getRequest("/vexo/?code=QUJD&length=6"));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->body, "code:414243");
  }
  // Rejected requests never reach the engine.
  ASSERT_TRUE(fetch(service.port, getRequest("/vexo/?code=QUJD")));
  EXPECT_TRUE(service.stop());
  const auto calls = service.directory.engineCalls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "init");
  EXPECT_EQ(countOf(calls, "init"), 1);
  EXPECT_EQ(countOf(calls, "ocr 3"), 5);
  EXPECT_EQ(calls.size(), 6u);
}

TEST(ConsoleMode, FourWrongResultsFailAfterExactlyFourTries) {
  RunningService service("scripted", {{"REZ_TEST_ENGINE_ANSWERS", "A|BB|CCCC|DDDDDD"}});
  ASSERT_TRUE(service.started);
  auto response = fetch(service.port, getRequest("/vexo/?code=QUJD&length=3"));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(response->body, "识别失败");
  EXPECT_TRUE(service.stop());
  EXPECT_EQ(ocrCalls(service.directory.engineCalls()), 4);
}

TEST(ConsoleMode, SecondTryThatMatchesEndsTheTries) {
  RunningService service("scripted", {{"REZ_TEST_ENGINE_ANSWERS", "X|ABC"}});
  ASSERT_TRUE(service.started);
  auto response = fetch(service.port, getRequest("/vexo/?code=QUJD&length=3"));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "code:ABC");
  EXPECT_TRUE(service.stop());
  EXPECT_EQ(ocrCalls(service.directory.engineCalls()), 2);
}

TEST(ConsoleMode, DoubleByteResultCountsTwoBytesPerCharacterAndGoesOutAsUtf8) {
  // 中文 in code page 936, as the engine answers.
  RunningService service("scripted", {{"REZ_TEST_ENGINE_ANSWERS", "\xd6\xd0\xce\xc4"}});
  ASSERT_TRUE(service.started);
  auto response = fetch(service.port, getRequest("/vexo/?code=QUJD&length=4"));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "code:中文");
  response = fetch(service.port, getRequest("/vexo/?code=QUJD&length=2"));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "识别失败");
  EXPECT_TRUE(service.stop());
}

TEST(ConsoleMode, NullAndEmptyEngineResultsCountAsEmpty) {
  RunningService service("scripted", {{"REZ_TEST_ENGINE_ANSWERS", "<null>"}});
  ASSERT_TRUE(service.started);
  auto response = fetch(service.port, getRequest("/vexo/?code=QUJD&length=0"));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "code:");
  EXPECT_TRUE(service.stop());
}

TEST(ConsoleMode, MissingEngineIsFatalAsSoonAsTheConsoleOpens) {
  ProgramDirectory directory("");
  ServiceProcess process(directory, {"--headless", "--port", std::to_string(freePort())});
  EXPECT_EQ(process.readLine(), kIdle);
  EXPECT_EQ(process.readLine(), std::nullopt);  // never starts
  EXPECT_EQ(process.waitForExit(), 255);
  const std::string error = process.standardError();
  EXPECT_NE(error.find("运行时出错!"), std::string::npos) << error;
  EXPECT_NE(error.find("错误信息：无法找到指定DLL库文件“libocr.so”中的输出命令“init”"),
            std::string::npos)
      << error;
}

TEST(ConsoleMode, EngineWithoutOcrStartsAndTheFirstAcceptedRequestIsFatal) {
  RunningService service("init_only");
  ASSERT_TRUE(service.started);
  // Rejected requests never call the engine: they are answered as usual.
  auto response = fetch(service.port, getRequest("/vexo/?code=QUJD"));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "请传入leng");
  // The first accepted one ends the process; it gets no answer.
  EXPECT_FALSE(fetch(service.port, getRequest("/vexo/?code=QUJD&length=3")));
  EXPECT_EQ(service.process->waitForExit(), 255);
  const std::string error = service.process->standardError();
  EXPECT_NE(error.find("无法找到指定DLL库文件“libocr.so”中的输出命令“ocr”"), std::string::npos)
      << error;
  EXPECT_EQ(service.directory.engineCalls(), std::vector<std::string>{"init"});
}

TEST(ConsoleMode, StopSignalEndsWithStatusZeroAndClosesThePort) {
  for (int signalNumber : {SIGINT, SIGTERM}) {
    RunningService service("hex");
    ASSERT_TRUE(service.started);
    // A kept-alive connection, idle after its answer, when the stop comes.
    HttpConnection idle(service.port);
    ASSERT_TRUE(idle.send(getRequest("/vexo/?code=QUJD&length=6")));
    ASSERT_TRUE(idle.read());
    service.process->signal(signalNumber);
    // Status 0 also says that the leak check of a sanitizer build found
    // every connection's block released.
    EXPECT_EQ(service.process->waitForExit(), 0) << service.process->standardError();
    EXPECT_TRUE(idle.closedByServer());
    HttpConnection after(service.port);
    EXPECT_FALSE(after.connected());
  }
}

TEST(ConsoleMode, InFlightRequestsAreAnsweredBeforeTheStop) {
  // Many requests in flight on their own connections when the stop comes:
  // each either gets its full right answer or none, never a wrong or a
  // truncated one. In a sanitizer build, exit status 0 also says that every
  // connection's block was released, those accepted while the stop ran too.
  RunningService service("hex");
  ASSERT_TRUE(service.started);
  std::vector<std::unique_ptr<HttpConnection>> connections;
  for (int i = 0; i < 20; ++i) {
    connections.push_back(std::make_unique<HttpConnection>(service.port));
    ASSERT_TRUE(connections.back()->send(getRequest("/vexo/?code=QUJD&length=6")));
  }
  service.process->signal(SIGTERM);
  for (auto& connection : connections) {
    auto response = connection->read();
    if (response) {
      EXPECT_EQ(response->body, "code:414243");
    }
  }
  EXPECT_EQ(service.process->waitForExit(), 0) << service.process->standardError();
}

TEST(CommandLine, HelpVersionAndUsageErrors) {
  ProgramDirectory directory("hex");
  {
    ServiceProcess process(directory, {"--help"});
    auto first = process.readLine();
    ASSERT_TRUE(first);
    EXPECT_NE(first->find("Usage: rez-udo-server"), std::string::npos);
    EXPECT_EQ(process.waitForExit(), 0);
  }
  {
    ServiceProcess process(directory, {"--version"});
    EXPECT_EQ(process.readLine(), "rez-udo-server 1.0.0");
    EXPECT_EQ(process.waitForExit(), 0);
  }
  {
    ServiceProcess process(directory, {"--frobnicate"});
    EXPECT_EQ(process.waitForExit(), 2);
  }
  // Nothing was loaded: no engine call at all.
  EXPECT_TRUE(directory.engineCalls().empty());
}

TEST(CommandLine, WithoutDisplayAndWithoutHeadlessItSaysSoAndExitsTwo) {
  ProgramDirectory directory("hex");
  ServiceProcess process(directory, {}, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  EXPECT_EQ(process.waitForExit(), 2);
  const std::string error = process.standardError();
  EXPECT_NE(error.find("display"), std::string::npos) << error;
  EXPECT_NE(error.find("--headless"), std::string::npos) << error;
  EXPECT_TRUE(directory.engineCalls().empty());
}

}  // namespace
}  // namespace servicetest
