#include "tests/service/service_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace servicetest {
namespace {

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Waits until `fd` is readable or the deadline passes.
bool waitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    int ready = ::poll(&entry, 1, remainingMs(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

std::string readAll(int fd) {
  std::string out;
  char chunk[4096];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
      out.append(chunk, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  return out;
}

}  // namespace

int freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = 0;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

ProgramDirectory::ProgramDirectory(const std::string& engine) {
  std::string pattern = (fs::temp_directory_path() / "rez-service-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
  path_ = pattern;
  const fs::path bin = REZ_BIN_DIR;
  fs::copy_file(bin / "rez-udo-server", fs::path(path_) / "rez-udo-server");
  fs::copy_file(bin / "libhpsocket4c.so", fs::path(path_) / "libhpsocket4c.so");
  if (!engine.empty()) {
    fs::copy_file(fs::path(REZ_TEST_ENGINES_DIR) / engine / "libocr.so",
                  fs::path(path_) / "libocr.so");
  }
}

ProgramDirectory::~ProgramDirectory() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::vector<std::string> ProgramDirectory::engineCalls() const {
  std::vector<std::string> lines;
  std::ifstream in(engineLog());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

ServiceProcess::ServiceProcess(const ProgramDirectory& directory,
                               const std::vector<std::string>& arguments,
                               const std::map<std::string, std::string>& environment) {
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return;
  }
  std::vector<std::string> argvStore{directory.program()};
  argvStore.insert(argvStore.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : argvStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::map<std::string, std::string> env = environment;
  env["REZ_TEST_ENGINE_LOG"] = directory.engineLog();
  std::vector<std::pair<std::string, std::string>> envList(env.begin(), env.end());

  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    for (auto& [name, value] : envList) ::setenv(name.c_str(), value.c_str(), 1);
    // A different working directory: the program must find everything
    // from its own directory.
    if (::chdir("/") != 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  stdout_ = out[0];
  stderr_ = err[0];
}

ServiceProcess::~ServiceProcess() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (stdout_ >= 0) ::close(stdout_);
  if (stderr_ >= 0) ::close(stderr_);
}

std::optional<std::string> ServiceProcess::readLine() {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (;;) {
    size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return line;
    }
    if (!waitReadable(stdout_, deadline)) return std::nullopt;
    char chunk[1024];
    ssize_t n = ::read(stdout_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    pending_.append(chunk, static_cast<size_t>(n));
  }
}

void ServiceProcess::signal(int signalNumber) {
  if (pid_ > 0 && !status_) ::kill(pid_, signalNumber);
}

std::optional<int> ServiceProcess::waitForExit() {
  if (status_) return status_;
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::nullopt;
}

std::string ServiceProcess::standardError() {
  if (!status_) return std::string();
  return readAll(stderr_);
}

RunningService::RunningService(const std::string& engine,
                               const std::map<std::string, std::string>& env)
    : directory(engine) {
  // A port picked free may be taken by someone else before the program binds
  // it; try a few.
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    port = freePort();
    process.emplace(directory,
                    std::vector<std::string>{"--headless", "--port", std::to_string(port)}, env);
    auto idle = process->readLine();
    auto outcome = process->readLine();
    if (outcome && *outcome == "服务状态：启动成功，端口：" + std::to_string(port)) {
      started = true;
    } else {
      process.reset();
    }
  }
  if (!started) ADD_FAILURE() << "the service did not start";
}

bool RunningService::stop() {
  if (!process) return false;
  process->signal(SIGTERM);
  auto status = process->waitForExit();
  if (!status || *status != 0) {
    ADD_FAILURE() << "exit status " << (status ? *status : -1) << ": " << process->standardError();
    return false;
  }
  return true;
}

std::optional<std::string> HttpResponse::header(const std::string& name) const {
  for (const auto& [n, v] : headers) {
    if (strcasecmp(n.c_str(), name.c_str()) == 0) return v;
  }
  return std::nullopt;
}

HttpConnection::HttpConnection(int port) {
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(socket_);
    socket_ = -1;
    return;
  }
  int one = 1;
  ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

HttpConnection::~HttpConnection() { close(); }

void HttpConnection::close() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

bool HttpConnection::send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool HttpConnection::fill() {
  if (socket_ < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  if (!waitReadable(socket_, deadline)) return false;
  char chunk[16384];
  for (;;) {
    ssize_t n = ::recv(socket_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ended_ = true;
      return false;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }
}

std::optional<HttpResponse> HttpConnection::read(bool toHeadRequest) {
  size_t headEnd;
  while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
    if (!fill()) return std::nullopt;
  }
  HttpResponse response;
  std::istringstream head(buffer_.substr(0, headEnd));
  std::getline(head, response.statusLine);
  if (!response.statusLine.empty() && response.statusLine.back() == '\r') {
    response.statusLine.pop_back();
  }
  for (std::string line; std::getline(head, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    response.headers.emplace_back(line.substr(0, colon), value);
  }
  buffer_.erase(0, headEnd + 4);
  if (toHeadRequest) return response;
  if (auto length = response.header("Content-Length")) {
    const size_t wanted = std::stoul(*length);
    while (buffer_.size() < wanted) {
      if (!fill()) return std::nullopt;
    }
    response.body = buffer_.substr(0, wanted);
    buffer_.erase(0, wanted);
  } else {
    while (fill()) {
    }
    response.body = std::move(buffer_);
    buffer_.clear();
  }
  return response;
}

bool HttpConnection::closedByServer() { return buffer_.empty() && !fill() && ended_; }

std::string getRequest(const std::string& target, const std::string& extraHeaders) {
  return "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + extraHeaders + "\r\n";
}

std::optional<HttpResponse> fetch(int port, const std::string& request) {
  HttpConnection connection(port);
  if (!connection.connected() || !connection.send(request)) return std::nullopt;
  return connection.read();
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

}  // namespace servicetest
