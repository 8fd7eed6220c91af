// A blocking raw-socket HTTP client for the server tests: sends bytes exactly
// as given and reads responses back with a generous timeout.
#ifndef HPSOCKET4C_TESTS_TEST_CLIENT_H_
#define HPSOCKET4C_TESTS_TEST_CLIENT_H_

#include <map>
#include <optional>
#include <string>

namespace hpsocket4c::testing {

struct Response {
  int status = 0;
  std::string reason;
  std::string head;                           // status line and headers as received
  std::map<std::string, std::string> header;  // lower-case names, first value
  std::string body;
};

class TestClient {
 public:
  explicit TestClient(int port);
  ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  bool send(const std::string& bytes);
  // One response; for a HEAD request no body is read. Nothing on timeout or
  // when the connection ends first.
  std::optional<Response> read(bool head_request = false, int timeout_ms = 15000);
  // True when the server closed the connection (read gives end of file or a
  // reset) within the timeout, with no further bytes.
  bool closedByServer(int timeout_ms = 15000);
  void close();
  // Shuts the sending side: the server reads the end of the request stream.
  bool endSending();
  const std::string& buffered() const { return buffer_; }

 private:
  bool fill(int timeout_ms);
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace hpsocket4c::testing

#endif  // HPSOCKET4C_TESTS_TEST_CLIENT_H_
