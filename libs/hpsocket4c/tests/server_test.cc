// The server driven through its C interface by raw-socket clients on
// loopback, with the harness program answering from pool tasks.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "hpsocket4c.h"
#include "test_client.h"
#include "test_harness.h"
#include "testing.h"

namespace hpsocket4c::testing {
namespace {

using namespace std::chrono_literals;

std::string get(const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: test\r\n" + extra + "\r\n";
}

// Waits until `done` holds (the server reports closes asynchronously).
template <typename Predicate>
bool eventually(Predicate done, std::chrono::milliseconds limit = 15s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

TEST(ServerStart, RefusesBadPortsAndPortsInUse) {
  HP_HttpServerListener listener = Create_HP_HttpServerListener();
  HP_HttpServer server = Create_HP_HttpServer(listener);
  for (int port : {0, -1, 65536, 100000}) {
    EXPECT_FALSE(HP_Server_Start(server, "0.0.0.0", port)) << port;
  }
  EXPECT_FALSE(HP_Server_Start(server, "not an address", 8080));

  // A port some other socket listens on.
  int other = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(other, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(other, 4), 0);
  socklen_t length = sizeof addr;
  ::getsockname(other, reinterpret_cast<sockaddr*>(&addr), &length);
  int busy = ntohs(addr.sin_port);
  EXPECT_FALSE(HP_Server_Start(server, "127.0.0.1", busy));
  EXPECT_FALSE(HP_Server_Start(server, "0.0.0.0", busy));
  ::close(other);

  // Free again: starts; a restart right after a stop (with a connection
  // just closed) works on the same port.
  ASSERT_TRUE(HP_Server_Start(server, "127.0.0.1", busy));
  EXPECT_FALSE(HP_Server_Start(server, "127.0.0.1", busy));  // already started
  {
    TestClient client(busy);
    ASSERT_TRUE(client.connected());
  }
  EXPECT_TRUE(HP_Server_Stop(server));
  EXPECT_FALSE(HP_Server_Stop(server));
  EXPECT_TRUE(HP_Server_Start(server, "127.0.0.1", busy));
  char address[64];
  int address_length = sizeof address;
  uint16_t bound = 0;
  EXPECT_TRUE(HP_Server_GetListenAddress(server, address, &address_length, &bound));
  EXPECT_STREQ(address, "127.0.0.1");
  EXPECT_EQ(bound, busy);
  Destroy_HP_HttpServer(server);
  Destroy_HP_HttpServerListener(listener);
}

TEST(ServerHttp, KeepAliveAnswersEachRequestWithTheRawUrlFields) {
  Harness h;
  ASSERT_NE(h.port, 0);
  TestClient client(h.port);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(client.send(get("/vexo/?code=a%2Bb+c&length=" + std::to_string(i),
                                "X-Echo: hello\r\nCookie: k=v; other=1\r\n")));
    auto r = client.read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->reason, "OK");
    EXPECT_EQ(r->body, "M=GET P=/vexo/ Q=code=a%2Bb+c&length=" + std::to_string(i) +
                           " H=hello N=3 B= C=v/2");
    EXPECT_EQ(r->header["content-length"], std::to_string(r->body.size()));
    EXPECT_EQ(r->header.count("connection"), 0u);
    // Caller's headers first, in the caller's order.
    EXPECT_EQ(
        r->head.find("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nServer: KelvHttpApi\r\n"), 0u);
  }
  // No query at all: the field is absent.
  ASSERT_TRUE(client.send(get("/plain")));
  auto r = client.read();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "M=GET P=/plain Q=(none) H=(none) N=1 B=");
  client.close();
  EXPECT_TRUE(eventually([&] { return h.closes.load() == 1; }));
  EXPECT_EQ(h.accepts.load(), 1);
  EXPECT_EQ(h.violations.load(), 0);
}

TEST(ServerHttp, PipelinedRequestsAreAnsweredInOrder) {
  Harness h(Limits(), 4);
  TestClient client(h.port);
  std::string burst;
  for (int i = 0; i < 20; ++i) burst += get("/p" + std::to_string(i));
  ASSERT_TRUE(client.send(burst));
  for (int i = 0; i < 20; ++i) {
    auto r = client.read();
    ASSERT_TRUE(r) << i;
    EXPECT_EQ(r->body, "M=GET P=/p" + std::to_string(i) + " Q=(none) H=(none) N=1 B=");
  }
  EXPECT_EQ(h.messages.load(), 20);
}

TEST(ServerHttp, ARequestArrivingBeforeTheAnswerWaitsItsTurn) {
  Harness h;
  h.closeGate();
  TestClient client(h.port);
  ASSERT_TRUE(client.send(get("/first")));
  ASSERT_TRUE(eventually([&] { return h.tasks_started.load() == 1; }));
  ASSERT_TRUE(client.send(get("/second")));  // read by nobody until /first is answered
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(h.messages.load(), 1);
  h.openGate();
  auto first = client.read();
  auto second = client.read();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->body, "M=GET P=/first Q=(none) H=(none) N=1 B=");
  EXPECT_EQ(second->body, "M=GET P=/second Q=(none) H=(none) N=1 B=");
  // And a third, sent after both answers, still gets its own.
  ASSERT_TRUE(client.send(get("/third")));
  auto third = client.read();
  ASSERT_TRUE(third);
  EXPECT_EQ(third->body, "M=GET P=/third Q=(none) H=(none) N=1 B=");
}

// A client may end its sending side once its requests are out (a half
// close): what it sent is still answered, in order, and then the server
// closes. The end arrives while the first answer is awaited.
TEST(ServerHttp, AHalfClosedClientStillGetsEveryAnswer) {
  for (bool pipelined : {false, true}) {
    Harness h;
    h.closeGate();
    TestClient client(h.port);
    ASSERT_TRUE(client.send(get("/first")));
    ASSERT_TRUE(eventually([&] { return h.tasks_started.load() == 1; }));
    if (pipelined) {
      ASSERT_TRUE(client.send(get("/second")));
    }
    ASSERT_TRUE(client.endSending());
    std::this_thread::sleep_for(50ms);
    h.openGate();
    auto first = client.read();
    ASSERT_TRUE(first) << "pipelined " << pipelined;
    EXPECT_EQ(first->body, "M=GET P=/first Q=(none) H=(none) N=1 B=");
    if (pipelined) {
      auto second = client.read();
      ASSERT_TRUE(second);
      EXPECT_EQ(second->body, "M=GET P=/second Q=(none) H=(none) N=1 B=");
    }
    EXPECT_TRUE(client.closedByServer(5000));
    EXPECT_TRUE(eventually([&] { return h.closes.load() == 1; }));
  }
}

TEST(ServerHttp, Http10KeepAliveRules) {
  Harness h;
  {
    TestClient client(h.port);
    ASSERT_TRUE(client.send("GET /old HTTP/1.0\r\n\r\n"));
    auto r = client.read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->header["connection"], "close");
    EXPECT_TRUE(client.closedByServer());
  }
  {
    TestClient client(h.port);
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(client.send("GET /ka HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"));
      auto r = client.read();
      ASSERT_TRUE(r);
      EXPECT_EQ(r->header["connection"], "keep-alive");
    }
  }
  {
    // HTTP/1.1 with "Connection: close".
    TestClient client(h.port);
    ASSERT_TRUE(client.send(get("/bye", "Connection: close\r\n")));
    auto r = client.read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->header["connection"], "close");
    EXPECT_TRUE(client.closedByServer());
  }
  EXPECT_TRUE(eventually([&] { return h.closes.load() == 3; }));
}

TEST(ServerHttp, BodiesArriveWholeWhateverThePieces) {
  Harness h;
  TestClient client(h.port);
  // Content-Length body in three pieces, with pauses between them.
  ASSERT_TRUE(client.send("POST /b HTTP/1.1\r\nContent-Length: 11\r\n\r\nhel"));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(client.send("lo w"));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(client.send("orld"));
  auto r = client.read();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "M=POST P=/b Q=(none) H=(none) N=1 B=hello world");
  // A chunked body, then a request without one: it does not see the first body.
  ASSERT_TRUE(client.send(
      "POST /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabcde\r\n3\r\nfgh\r\n0\r\n\r\n"));
  r = client.read();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "M=POST P=/c Q=(none) H=(none) N=1 B=abcdefgh");
  ASSERT_TRUE(client.send(get("/d")));
  r = client.read();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "M=GET P=/d Q=(none) H=(none) N=1 B=");
}

TEST(ServerHttp, ExpectContinueIsAnsweredBeforeTheBody) {
  Harness h;
  TestClient client(h.port);
  ASSERT_TRUE(client.send(
      "POST /e HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\nExpect: 100-continue\r\n\r\n"));
  auto interim = client.read();
  ASSERT_TRUE(interim);
  EXPECT_EQ(interim->status, 100);
  EXPECT_EQ(interim->head, "HTTP/1.1 100 Continue\r\n");
  ASSERT_TRUE(client.send("data"));
  auto r = client.read();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "M=POST P=/e Q=(none) H=(none) N=3 B=data");
}

TEST(ServerHttp, HeadRequestsGetTheLengthButNoBody) {
  Harness h;
  TestClient client(h.port);
  ASSERT_TRUE(client.send("HEAD /h HTTP/1.1\r\n\r\n" + get("/after")));
  auto r = client.read(/*head_request=*/true);
  ASSERT_TRUE(r);
  std::string would_be = "M=HEAD P=/h Q=(none) H=(none) N=0 B=";
  EXPECT_EQ(r->header["content-length"], std::to_string(would_be.size()));
  // The next response follows at once: no body bytes came in between.
  r = client.read();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "M=GET P=/after Q=(none) H=(none) N=1 B=");
}

TEST(ServerHttp, StatusLineRules) {
  Harness h;
  struct Case {
    std::string query;
    std::string status_line;
  };
  const Case cases[] = {
      {"status=200", "HTTP/1.1 200 OK"},
      {"status=0", "HTTP/1.1 400 Bad Request"},  // what the service sends for rejected requests
      {"status=99", "HTTP/1.1 400 Bad Request"},
      {"status=1000", "HTTP/1.1 400 Bad Request"},
      {"status=-200", "HTTP/1.1 400 Bad Request"},
      {"status=0&text=Fine", "HTTP/1.1 400 Bad Request"},
      {"status=404", "HTTP/1.1 404 Not Found"},
      {"status=299&text=Fine", "HTTP/1.1 299 Fine"},
      {"status=299", "HTTP/1.1 299 Success"},
      {"status=999", "HTTP/1.1 999 Unknown"},
  };
  TestClient client(h.port);
  for (const Case& c : cases) {
    ASSERT_TRUE(client.send(get("/s?" + c.query)));
    auto r = client.read();
    ASSERT_TRUE(r) << c.query;
    EXPECT_EQ(r->head.substr(0, r->head.find("\r\n")), c.status_line) << c.query;
  }
}

TEST(ServerLimits, EachLimitIsAnsweredAndClosed) {
  Limits limits;
  limits.max_url_length = 1000;
  limits.max_head_size = 2000;
  limits.max_body_size = 100;
  Harness h(limits);
  struct Case {
    std::string name;
    std::string request;
    int status;
  };
  const Case cases[] = {
      {"long url", get("/" + std::string(1200, 'a')), 414},
      {"big head", get("/", "X-Big: " + std::string(2500, 'b') + "\r\n"), 431},
      {"many headers",
       get("/",
           [] {
             std::string many;
             for (int i = 0; i < 400; ++i) many += "X: \r\n";
             return many;
           }()),
       431},
      {"declared body", "POST / HTTP/1.1\r\nContent-Length: 101\r\n\r\n", 413},
      {"chunked body",
       "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n64\r\n" + std::string(100, 'c') +
           "\r\n1\r\nd\r\n0\r\n\r\n",
       413},
      {"malformed", "GARBAGE\r\n\r\n", 400},
      {"bad header", "GET / HTTP/1.1\r\nNo colon here\r\n\r\n", 400},
      {"bad length", "POST / HTTP/1.1\r\nContent-Length: x\r\n\r\n", 400},
  };
  for (const Case& c : cases) {
    TestClient client(h.port);
    ASSERT_TRUE(client.send(c.request)) << c.name;
    auto r = client.read();
    ASSERT_TRUE(r) << c.name;
    EXPECT_EQ(r->status, c.status) << c.name;
    EXPECT_EQ(r->header["connection"], "close") << c.name;
    EXPECT_TRUE(client.closedByServer()) << c.name;
  }
  EXPECT_EQ(h.messages.load(), 0);
  EXPECT_TRUE(eventually([&] { return h.closes.load() == h.accepts.load(); }));
}

TEST(ServerLimits, DefaultLimitsServeAMegabyteRequestLine) {
  Harness h;
  TestClient client(h.port);
  std::string image(1024 * 1024 + 100, 'A');
  ASSERT_TRUE(client.send(get("/vexo/?code=" + image + "&length=4")));
  auto r = client.read();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body.size(),
            std::string("M=GET P=/vexo/ Q=code=&length=4 H=(none) N=1 B=").size() + image.size());
}

TEST(ServerLimits, SlowAndIdleClientsAreCut) {
  Limits limits;
  limits.head_timeout = 300ms;
  limits.idle_timeout = 600ms;
  limits.sweep_interval = 50ms;
  Harness h(limits);
  {
    // Half a head, then nothing: 408.
    TestClient client(h.port);
    ASSERT_TRUE(client.send("GET / HTTP/1.1\r\nHost:"));
    auto r = client.read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 408);
    EXPECT_TRUE(client.closedByServer());
  }
  {
    // Connected and silent: 408 too (the head never arrived).
    TestClient client(h.port);
    auto r = client.read();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 408);
  }
  {
    // Idle after an answer: closed without a word.
    TestClient client(h.port);
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.send(get("/")));
    ASSERT_TRUE(client.read());
    EXPECT_TRUE(client.closedByServer());
    // The idle time counts from the answer, which came after the request.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 590ms);
    EXPECT_TRUE(client.buffered().empty());
  }
}

TEST(ServerLimits, ConnectionsBeyondTheLimitAreRefused) {
  Limits limits;
  limits.max_connections = 3;
  Harness h(limits);
  std::vector<std::unique_ptr<TestClient>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<TestClient>(h.port));
    ASSERT_TRUE(clients.back()->send(get("/")));
    ASSERT_TRUE(clients.back()->read());
  }
  TestClient extra(h.port);
  auto r = extra.read();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 503);
  EXPECT_TRUE(extra.closedByServer());
  EXPECT_EQ(h.accepts.load(), 3);
  // Room again once one has gone.
  clients.front()->close();
  ASSERT_TRUE(eventually([&] { return h.closes.load() == 1; }));
  TestClient again(h.port);
  ASSERT_TRUE(again.send(get("/")));
  r = again.read();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
}

TEST(ServerLifecycle, CloseIsReportedOnlyAfterTheConnectionsTasks) {
  Harness h;
  h.closeGate();
  {
    TestClient client(h.port);
    ASSERT_TRUE(client.send(get("/a", "Content-Length: 3\r\n") + "abc"));
    ASSERT_TRUE(eventually([&] { return h.tasks_started.load() == 1; }));
  }  // the client vanishes while its task waits
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(h.closes.load(), 0);  // held back by the running task
  h.openGate();
  ASSERT_TRUE(eventually([&] { return h.closes.load() == 1; }));
  EXPECT_EQ(h.tasks_finished.load(), 1);
  EXPECT_EQ(h.violations.load(), 0);
}

TEST(ServerLifecycle, StopWaitsForQueuedTasksWhoseSendsThenFail) {
  Harness h(Limits(), 1);
  h.closeGate();
  std::vector<std::unique_ptr<TestClient>> clients;
  for (int i = 0; i < 5; ++i) {
    clients.push_back(std::make_unique<TestClient>(h.port));
    ASSERT_TRUE(clients.back()->send(get("/q")));
  }
  ASSERT_TRUE(eventually([&] { return h.messages.load() == 5; }));
  // The tasks go on only once every client has seen its connection closed.
  std::atomic<int> seen_closed{0};
  std::thread opener([&] {
    for (auto& client : clients) seen_closed += client->closedByServer() ? 1 : 0;
    h.openGate();
  });
  EXPECT_TRUE(h.stop());
  opener.join();
  EXPECT_EQ(seen_closed.load(), 5);
  // Every close was reported, each after its task, and nothing after the stop.
  EXPECT_EQ(h.tasks_finished.load(), 5);
  EXPECT_EQ(h.closes.load(), 5);
  EXPECT_EQ(h.sends_failed.load(), 5);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(h.violations.load(), 0);
}

TEST(ServerLifecycle, TasksOutlivingStopAndDestroyFailCleanly) {
  Limits limits;
  limits.stop_task_wait = 100ms;
  auto h = std::make_unique<Harness>(limits, 1);
  h->closeGate();
  TestClient a(h->port), b(h->port);
  ASSERT_TRUE(a.send(get("/x")));
  ASSERT_TRUE(b.send(get("/y")));
  ASSERT_TRUE(eventually([&] { return h->messages.load() == 2; }));
  EXPECT_TRUE(h->stop());  // gives up waiting for the gated tasks
  Destroy_HP_HttpServer(h->server);
  h->server = nullptr;
  h->openGate();
  ASSERT_TRUE(HP_ThreadPool_Wait(h->pool, 15000));
  EXPECT_EQ(h->tasks_finished.load(), 2);
  EXPECT_EQ(h->sends_failed.load(), 2);
  EXPECT_EQ(h->closes.load(), 0);  // their closes are never reported
  EXPECT_EQ(h->violations.load(), 0);
}

// Connections keep arriving on every network thread while the stop runs:
// each one the program was told of is reported closed before stop returns,
// also when the stop came while no connection was open (the clients connect
// and leave at once, so the server is often empty).
TEST(ServerLifecycle, ConnectionsAcceptedDuringTheStopAreReportedClosed) {
  for (int round = 0; round < 60; ++round) {
    Harness h(Limits(), 1, 4);
    std::atomic<bool> stopped{false};
    std::vector<std::thread> openers;
    for (int i = 0; i < 4; ++i) {
      openers.emplace_back([&] {
        while (!stopped.load()) TestClient client(h.port);
      });
    }
    ASSERT_TRUE(eventually([&] { return h.accepts.load() >= 1 + round % 7; }));
    EXPECT_TRUE(h.stop());
    const int accepts = h.accepts.load();
    const int closes = h.closes.load();
    stopped = true;
    for (auto& opener : openers) opener.join();
    ASSERT_EQ(closes, accepts) << "round " << round;
    EXPECT_EQ(h.violations.load(), 0);
  }
}

// Many clients send, pipeline and vanish while tasks answer; every accepted
// connection is reported closed once, never under a task.
TEST(ServerStress, ClientsThatPipelineAndVanish) {
  Harness h(Limits(), 3);
  h.task_delay_us_max = 2000;
  constexpr int kThreads = 6;
  constexpr int kConnectionsPerThread = 150;
  std::atomic<int> answered{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t));
      for (int c = 0; c < kConnectionsPerThread; ++c) {
        TestClient client(h.port);
        int requests = 1 + static_cast<int>(random() % 4);
        std::string burst;
        for (int i = 0; i < requests; ++i) {
          burst += "POST /s" + std::to_string(i) + " HTTP/1.1\r\nContent-Length: 2\r\n\r\nok";
        }
        int complete = requests;
        if (random() % 3 == 0) {  // cut mid-request
          std::size_t one = burst.size() / requests;
          burst.resize(burst.size() / 2 + 1);
          complete = static_cast<int>(burst.size() / one);
        }
        client.send(burst);
        int reads = static_cast<int>(random() % (complete + 1));
        for (int i = 0; i < reads; ++i) {
          auto r = client.read(false, 10000);
          if (!r) break;
          ++answered;
          if (r->body != "M=POST P=/s" + std::to_string(i) + " Q=(none) H=(none) N=1 B=ok") {
            ++wrong;
          }
        }
        // and vanish, whatever is still in flight
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(answered.load(), 0);
  EXPECT_TRUE(eventually([&] { return h.closes.load() == h.accepts.load(); }));
  EXPECT_EQ(h.accepts.load(), kThreads * kConnectionsPerThread);
  h.stop();
  EXPECT_EQ(h.closes.load(), h.accepts.load());
  EXPECT_EQ(h.violations.load(), 0);
}

}  // namespace
}  // namespace hpsocket4c::testing
