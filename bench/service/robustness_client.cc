// A load of good and broken requests at once against rez-udo-server running
// the `hex` test engine (which answers the hex of the image bytes, so every
// good request has one right answer). Threads alternate at random between
// good requests (single, kept alive, pipelined) and broken ones: truncated
// heads and bodies, oversized bodies and URLs, binary junk, clients that
// vanish mid-request or before reading the answer. Prints the counts, the
// server's resident memory before and after, and whether it is still alive.
// Exit status 0 only when every good request got its right answer and the
// server lives.
//
//   service_robustness_client --port N --pid P [--seconds 30] [--threads 8]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<long> g_goodOk{0}, g_goodWrong{0}, g_goodLost{0}, g_broken{0};
int g_port = 0;

long residentKiB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

int connectToServer() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(g_port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval timeout{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Reads one Content-Length response from `fd` (keeping what follows in
// `pending`) and returns its body; false when the connection ends first.
bool readBody(int fd, std::string& pending, std::string& body) {
  char chunk[16384];
  for (;;) {
    size_t end = pending.find("\r\n\r\n");
    if (end != std::string::npos) {
      size_t at = pending.find("Content-Length: ");
      size_t length = at < end ? std::strtoul(pending.c_str() + at + 16, nullptr, 10) : 0;
      if (pending.size() >= end + 4 + length) {
        body = pending.substr(end + 4, length);
        pending.erase(0, end + 4 + length);
        return true;
      }
    }
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    pending.append(chunk, static_cast<size_t>(n));
  }
}

std::string base64(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                 (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
  }
  if (i + 1 == bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "%3D%3D";
  } else if (i + 2 == bytes.size()) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                 (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += "%3D";
  }
  // '+' and '/' as clients send them in a query.
  std::string encoded;
  for (char c : out) {
    if (c == '+') {
      encoded += "%2B";
    } else if (c == '/') {
      encoded += "%2F";
    } else {
      encoded += c;
    }
  }
  return encoded;
}

std::string hexUpper(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

struct Good {
  std::string request;
  std::string answer;
};

Good makeGood(std::mt19937& random) {
  std::string image(1 + random() % 300, '\0');
  for (char& c : image) c = static_cast<char>(random());
  return Good{"GET /vexo/?code=" + base64(image) + "&length=" + std::to_string(image.size() * 2) +
                  " HTTP/1.1\r\nHost: robustness\r\n\r\n",
              "code:" + hexUpper(image)};
}

// A few good requests on one connection: one after the other, or all at once.
void goodRound(std::mt19937& random) {
  int fd = connectToServer();
  if (fd < 0) {
    ++g_goodLost;
    return;
  }
  const int count = 1 + static_cast<int>(random() % 5);
  const bool pipelined = random() % 2 == 0;
  std::vector<Good> goods;
  for (int i = 0; i < count; ++i) goods.push_back(makeGood(random));
  std::string pending;
  auto check = [&](const Good& good) {
    std::string body;
    if (!readBody(fd, pending, body)) {
      ++g_goodLost;
    } else if (body == good.answer) {
      ++g_goodOk;
    } else {
      ++g_goodWrong;
    }
  };
  if (pipelined) {
    std::string burst;
    for (const auto& g : goods) burst += g.request;
    sendAll(fd, burst);
    for (const auto& g : goods) check(g);
  } else {
    for (const auto& g : goods) {
      sendAll(fd, g.request);
      check(g);
    }
  }
  ::close(fd);
}

void brokenRound(std::mt19937& random) {
  int fd = connectToServer();
  if (fd < 0) return;
  ++g_broken;
  std::string junk(1 + random() % 4000, '\0');
  for (char& c : junk) c = static_cast<char>(random());
  std::string pending, body;
  switch (random() % 7) {
    case 0:  // a head cut short, then gone
      sendAll(fd, "GET /vexo/?code=QUJD&leng");
      break;
    case 1:  // a body cut short, then gone
      sendAll(fd, "POST /vexo/ HTTP/1.1\r\nHost: x\r\nContent-Length: 5000\r\n\r\nabc");
      break;
    case 2:  // a body above the library's limit: answered 413 and closed
      sendAll(fd, "POST /vexo/ HTTP/1.1\r\nHost: x\r\nContent-Length: 9000000\r\n\r\n" + junk);
      readBody(fd, pending, body);
      break;
    case 3:  // binary junk
      sendAll(fd, junk);
      readBody(fd, pending, body);
      break;
    case 4:  // an oversized URL
      sendAll(fd, "GET /vexo/?code=" + std::string(3u << 20, 'A') + " HTTP/1.1\r\n\r\n");
      readBody(fd, pending, body);
      break;
    case 5:  // a whole request, gone before the answer
      sendAll(fd, makeGood(random).request);
      break;
    default:  // a good request followed by junk on the same connection
      sendAll(fd, makeGood(random).request + junk);
      readBody(fd, pending, body);
      break;
  }
  ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  int pid = 0, seconds = 30, threads = 8;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--port") == 0) g_port = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--pid") == 0) pid = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--threads") == 0) threads = std::atoi(argv[i + 1]);
  }
  if (g_port == 0 || pid == 0) {
    std::fprintf(stderr, "usage: %s --port N --pid P [--seconds S] [--threads T]\n", argv[0]);
    return 2;
  }
  const long before = residentKiB(pid);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t, end] {
      std::mt19937 random(1234u + static_cast<unsigned>(t));
      while (std::chrono::steady_clock::now() < end) {
        if (random() % 3 == 0) {
          brokenRound(random);
        } else {
          goodRound(random);
        }
      }
    });
  }
  for (auto& w : workers) w.join();
  const bool alive = ::kill(pid, 0) == 0;
  const long after = residentKiB(pid);
  std::printf(
      "good requests: %ld right, %ld wrong, %ld unanswered; broken connections: %ld\n"
      "server RSS: %ld KiB before, %ld KiB after; server %s\n",
      g_goodOk.load(), g_goodWrong.load(), g_goodLost.load(), g_broken.load(), before, after,
      alive ? "alive" : "GONE");
  return (alive && g_goodWrong == 0 && g_goodLost == 0) ? 0 : 1;
}
