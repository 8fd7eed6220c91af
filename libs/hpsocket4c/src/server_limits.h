// What one client can make the server hold or wait for. Every limit is a
// named constant; a server copies the defaults when it is created, and the
// library's own tests shrink them (SetServerLimitsForTesting) so that the
// time limits can be checked without waiting half a minute.
#ifndef HPSOCKET4C_SRC_SERVER_LIMITS_H_
#define HPSOCKET4C_SRC_SERVER_LIMITS_H_

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace hpsocket4c {

// A request line of at least 1 MiB must be served: the service takes a Base64
// image of about 750 KB in the query. A longer URL is answered 414.
inline constexpr std::size_t kMaxUrlLength = 2 * 1024 * 1024;
// The whole request head (request line and header fields) beyond this is
// answered 431.
inline constexpr std::size_t kMaxHeadSize = 2 * 1024 * 1024;
// A request body beyond this is answered 413.
inline constexpr std::uint64_t kMaxBodySize = 8 * 1024 * 1024;
// Connections beyond this are answered 503 and closed at once.
inline constexpr std::size_t kMaxConnections = 10000;
// A request head that has not fully arrived this long after its first byte
// (or after the connection opened) is answered 408.
inline constexpr std::chrono::milliseconds kHeadTimeout{30'000};
// A keep-alive connection with no request for this long is closed; so is a
// body that makes no progress for this long (answered 408).
inline constexpr std::chrono::milliseconds kIdleTimeout{60'000};
// A complete request the program has not answered within this time is closed;
// it bounds what a never-answered request holds.
inline constexpr std::chrono::milliseconds kResponseTimeout{300'000};
// After an error answer the server reads and drops what the client still
// sends for at most this long, so that the client sees the answer instead of
// a reset.
inline constexpr std::chrono::milliseconds kLingerTimeout{2'000};
// How long HP_Server_Stop waits for tasks of its connections to finish before
// it gives up reporting their close.
inline constexpr std::chrono::milliseconds kStopTaskWait{10'000};
// How often each network thread checks its connections' deadlines.
inline constexpr std::chrono::milliseconds kSweepInterval{1'000};

struct Limits {
  std::size_t max_url_length = kMaxUrlLength;
  std::size_t max_head_size = kMaxHeadSize;
  std::uint64_t max_body_size = kMaxBodySize;
  std::size_t max_connections = kMaxConnections;
  std::chrono::milliseconds head_timeout = kHeadTimeout;
  std::chrono::milliseconds idle_timeout = kIdleTimeout;
  std::chrono::milliseconds response_timeout = kResponseTimeout;
  std::chrono::milliseconds linger_timeout = kLingerTimeout;
  std::chrono::milliseconds stop_task_wait = kStopTaskWait;
  std::chrono::milliseconds sweep_interval = kSweepInterval;
};

}  // namespace hpsocket4c

#endif  // HPSOCKET4C_SRC_SERVER_LIMITS_H_
