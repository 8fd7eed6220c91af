// Opens, uses (one request, one answer) and closes many connections to a
// server on loopback, and reports the server's resident memory (VmRSS of
// --pid) after the first --first connections and after all --total.
//
//   hpsocket4c_memory_client --port N --pid P [--total 100000] [--first 1000]
//                            [--threads 4]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

long residentKiB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// One connection: request, whole answer, close. False on any failure.
bool oneConnection(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  const char request[] = "GET /vexo/?code=QUJD&length=4 HTTP/1.1\r\nHost: bench\r\n\r\n";
  ok = ok && ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) == sizeof request - 1;
  std::string answer;
  char buffer[4096];
  while (ok) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      ok = false;
      break;
    }
    answer.append(buffer, static_cast<std::size_t>(n));
    std::size_t end = answer.find("\r\n\r\n");
    if (end == std::string::npos) continue;
    std::size_t length_at = answer.find("Content-Length: ");
    std::size_t length = length_at == std::string::npos
                             ? 0
                             : std::strtoul(answer.c_str() + length_at + 16, nullptr, 10);
    if (answer.size() >= end + 4 + length) break;
  }
  ::close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 8888, pid = 0, threads = 4;
  long total = 100000, first = 1000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--port") == 0) port = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--pid") == 0) pid = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--total") == 0) total = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--first") == 0) first = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--threads") == 0) threads = std::atoi(argv[i + 1]);
  }
  auto run = [&](long count) {
    std::atomic<long> next{0};
    std::atomic<long> failed{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&] {
        while (next.fetch_add(1) < count) {
          if (!oneConnection(port)) ++failed;
        }
      });
    }
    for (auto& w : workers) w.join();
    return failed.load();
  };
  auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(500)); };
  long rss_start = residentKiB(pid);
  long failed = run(first);
  settle();
  long rss_first = residentKiB(pid);
  auto started = std::chrono::steady_clock::now();
  long step = (total - first) / 9;
  long done = first;
  std::printf("connections %ld: RSS %ld KiB (before any: %ld KiB)\n", done, rss_first, rss_start);
  while (done < total) {
    long count = std::min(step, total - done);
    failed += run(count);
    done += count;
    std::printf("connections %ld: RSS %ld KiB\n", done, residentKiB(pid));
    std::fflush(stdout);
  }
  settle();
  long rss_end = residentKiB(pid);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("total %ld connections (%ld failed) in %.1f s after the first %ld\n", total, failed,
              seconds, first);
  std::printf("RSS after first %ld: %ld KiB; after %ld: %ld KiB; growth %+ld KiB\n", first,
              rss_first, total, rss_end, rss_end - rss_first);
  return failed == 0 ? 0 : 1;
}
