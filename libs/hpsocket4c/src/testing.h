// Hooks for the library's own tests: not exported from the shared library.
#ifndef HPSOCKET4C_SRC_TESTING_H_
#define HPSOCKET4C_SRC_TESTING_H_

#include "hpsocket4c.h"
#include "server_limits.h"

namespace hpsocket4c {

// Replaces a stopped server's limits (the time limits too); false when the
// server is unknown or started.
bool setServerLimitsForTesting(HP_HttpServer server, const Limits& limits);

}  // namespace hpsocket4c

#endif  // HPSOCKET4C_SRC_TESTING_H_
