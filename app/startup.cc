// The process's globals and its start-up and shutdown sequences.
#include "app/startup.h"

#include <unistd.h>

#include "http/event_handlers.h"
#include "http/response.h"
#include "http/server_binding.h"
#include "text/library_entries.h"
#include "text/text_ops.h"

HttpServerBinding g_server;
ThreadPoolBinding g_workerPool;
HeaderList g_responseHeaders;
std::atomic<ServerHandle> g_serverHandle{nullptr};
// Read and written only by initOcrEngine, on the window thread.
bool g_ocrReady = false;

namespace {

bool g_exitRoutineRegistered = false;

void createGlobals() {
  g_server = HttpServerBinding();
  g_workerPool = ThreadPoolBinding();
  g_responseHeaders = HeaderList();
}

// The exit routine, after the window's loop has ended and stopService has
// destroyed the server. The pool is stopped (it waits for its tasks) and the
// listener released here too, because the library that runs them is
// unloaded right after; nothing is loaded when the service never started.
void releaseGlobals() {
  g_workerPool.destroyPool();
  g_server.destroyListener();
  g_server = HttpServerBinding();
  g_workerPool = ThreadPoolBinding();
  g_responseHeaders.clear();
}

}  // namespace

void initOcrEngine() {
  if (g_ocrReady) return;
  // Set before the call: the engine is never initialised twice, even when
  // init fails.
  g_ocrReady = true;
  entry::init();
}

void startProcess() {
  const Text directory = runDirectory();
  if (chdir(directory.c_str()) != 0) {
    // The current directory is a convenience only: every library is found
    // from the library directory, set below.
  }
  createGlobals();
  // The fatal path ends the process with _exit while network and pool
  // threads still run, so it must not free what they use: releaseGlobals is
  // the ordinary shutdown's routine only, and the system reclaims the rest.
  g_exitRoutineRegistered = true;
  setDllDirectory(directory);
}

void endProcess() {
  if (!g_exitRoutineRegistered) return;
  g_exitRoutineRegistered = false;
  releaseGlobals();
  releaseLibraryEntries();
}
