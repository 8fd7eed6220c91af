// What the end-to-end tests drive: a temporary program directory holding a
// copy of rez-udo-server, libhpsocket4c.so and one test engine as
// libocr.so; the program started there in console mode; and a small HTTP
// client of the tests' own that speaks raw bytes and reads responses back.
#ifndef REZ_TESTS_SERVICE_SERVICE_PROCESS_H_
#define REZ_TESTS_SERVICE_SERVICE_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace servicetest {

// Generous: the sanitizer builds on a loaded two-core machine are slow.
inline constexpr std::chrono::seconds kPatience{60};

// A port nobody listens on right now (the kernel's pick, then released).
int freePort();

// A fresh directory with the program, the network library and the test
// engine `engine` ("hex", "scripted", "init_only", "instant"; empty: no
// libocr.so at all). Removed when the object goes.
class ProgramDirectory {
 public:
  explicit ProgramDirectory(const std::string& engine);
  ~ProgramDirectory();
  ProgramDirectory(const ProgramDirectory&) = delete;
  ProgramDirectory& operator=(const ProgramDirectory&) = delete;

  const std::string& path() const { return path_; }
  std::string program() const { return path_ + "/rez-udo-server"; }
  std::string engineLog() const { return path_ + "/engine.log"; }
  // The engine log's lines ("init", "ocr <n>").
  std::vector<std::string> engineCalls() const;

 private:
  std::string path_;
};

// The program, run with `arguments`, its standard output and error captured.
// Extra environment entries are added to the test's own; the engine log of
// the directory is always set.
class ServiceProcess {
 public:
  ServiceProcess(const ProgramDirectory& directory, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment = {});
  ~ServiceProcess();  // SIGKILL if still running
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // The next line of standard output (without the newline); nullopt when the
  // output ends or nothing comes within kPatience.
  std::optional<std::string> readLine();
  void signal(int signalNumber);
  // The exit status (or 128 + signal); nullopt when it has not ended within
  // kPatience.
  std::optional<int> waitForExit();
  // Everything written to standard error (read after the exit).
  std::string standardError();

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
  std::string pending_;
  std::optional<int> status_;
};

// Starts the program in console mode on a free port and waits for the
// success caption. Returns the port; fails the test (ADD_FAILURE) otherwise.
struct RunningService {
  RunningService(const std::string& engine, const std::map<std::string, std::string>& env = {});
  ProgramDirectory directory;
  int port = 0;
  std::optional<ServiceProcess> process;
  bool started = false;
  // Stops it with SIGTERM; true when it then exits with status 0.
  bool stop();
};

struct HttpResponse {
  std::string statusLine;                                    // "HTTP/1.1 200 OK"
  std::vector<std::pair<std::string, std::string>> headers;  // in order
  std::string body;
  std::optional<std::string> header(const std::string& name) const;
};

// One client connection. Every wait is bounded by kPatience.
class HttpConnection {
 public:
  explicit HttpConnection(int port);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  bool connected() const { return socket_ >= 0; }
  bool send(const std::string& bytes);
  // Reads one response (Content-Length bodies, or up to the close); nullopt
  // when the connection ends before a whole one has arrived.
  // A response to HEAD has no body, whatever its Content-Length says.
  std::optional<HttpResponse> read(bool toHeadRequest = false);
  // True when the server closes the connection (nothing more to read).
  bool closedByServer();
  void close();

 private:
  bool fill();  // reads more into buffer_; false at the end
  int socket_ = -1;
  bool ended_ = false;  // the server closed (not merely silent)
  std::string buffer_;
};

// "GET <target> HTTP/1.1" with a Host header, as most clients send it.
std::string getRequest(const std::string& target, const std::string& extraHeaders = "");
// One request on a fresh connection.
std::optional<HttpResponse> fetch(int port, const std::string& request);

// UTF-8 of the program's answers, for readable expectations.
std::string hexUpper(const std::string& bytes);

}  // namespace servicetest

#endif  // REZ_TESTS_SERVICE_SERVICE_PROCESS_H_
