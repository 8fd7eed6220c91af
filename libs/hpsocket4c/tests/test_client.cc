#include "test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

namespace hpsocket4c::testing {

TestClient::TestClient(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

TestClient::~TestClient() { close(); }

bool TestClient::endSending() { return fd_ >= 0 && ::shutdown(fd_, SHUT_WR) == 0; }

void TestClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TestClient::send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

bool TestClient::fill(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return false;
  char chunk[65536];
  ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
  if (n <= 0) return false;
  buffer_.append(chunk, static_cast<std::size_t>(n));
  return true;
}

std::optional<Response> TestClient::read(bool head_request, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  auto remaining = [&] {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    return static_cast<int>(std::max<long long>(left, 0));
  };
  std::size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
    if (!fill(remaining())) return std::nullopt;
  }
  Response r;
  r.head = buffer_.substr(0, end + 2);
  buffer_.erase(0, end + 4);
  std::size_t line_end = r.head.find("\r\n");
  std::string status_line = r.head.substr(0, line_end);
  // "HTTP/1.1 200 OK"
  if (status_line.size() < 12 || status_line.compare(0, 5, "HTTP/") != 0) return std::nullopt;
  r.status = std::atoi(status_line.substr(9, 3).c_str());
  r.reason = status_line.size() > 13 ? status_line.substr(13) : "";
  std::size_t pos = line_end + 2;
  while (pos < r.head.size()) {
    std::size_t next = r.head.find("\r\n", pos);
    std::string line = r.head.substr(pos, next - pos);
    pos = next + 2;
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    r.header.emplace(name, value);
  }
  if (r.status == 100 || head_request) return r;
  std::size_t length = 0;
  if (auto it = r.header.find("content-length"); it != r.header.end()) {
    length = std::strtoul(it->second.c_str(), nullptr, 10);
  }
  while (buffer_.size() < length) {
    if (!fill(remaining())) return std::nullopt;
  }
  r.body = buffer_.substr(0, length);
  buffer_.erase(0, length);
  return r;
}

bool TestClient::closedByServer(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return false;
  char c;
  ssize_t n = ::recv(fd_, &c, 1, 0);
  return n <= 0;
}

}  // namespace hpsocket4c::testing
