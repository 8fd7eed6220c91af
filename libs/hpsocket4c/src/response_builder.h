// Builds the bytes of one HTTP/1.1 response (status line, headers, body) so
// that it can go out in a single write. Knows nothing about sockets.
//
// Rules: a status code outside 100..999 goes out as "400 Bad Request"; a
// missing or empty status text becomes the code's standard reason phrase; the
// caller's headers keep their order (entries with a missing name, or with a
// CR, LF or NUL that would split the header, are dropped); "Content-Length" is
// added unless the caller gave one (or a Transfer-Encoding); "Connection:
// close" is added when the connection will close and the caller did not say
// so; a HEAD request's response, and 1xx, 204 and 304 responses, carry no body.
#ifndef HPSOCKET4C_SRC_RESPONSE_BUILDER_H_
#define HPSOCKET4C_SRC_RESPONSE_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "hpsocket4c.h"

namespace hpsocket4c {

// The standard reason phrase of `code`, or a generic one for its class.
const char* standardReasonPhrase(int code);

struct ResponseOptions {
  bool head_request = false;       // the request was HEAD: no body bytes
  bool will_close = false;         // the server closes the connection after it
  bool http10_keep_alive = false;  // an HTTP/1.0 client asked to keep the connection
};

struct BuiltResponse {
  std::string bytes;
  // The caller's headers asked for the connection to close.
  bool caller_closes = false;
};

void buildResponse(int status_code, const char* status_text, const THeader* headers,
                   int header_count, const std::uint8_t* body, int body_length,
                   const ResponseOptions& options, BuiltResponse& out);

// A complete short answer the server sends on its own (limits, errors):
// status line, "Content-Length: 0", "Connection: close".
std::string buildErrorResponse(int status_code);

}  // namespace hpsocket4c

#endif  // HPSOCKET4C_SRC_RESPONSE_BUILDER_H_
