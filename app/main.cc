// rez-udo-server: the captcha-recognition service behind an HTTP interface.
// Chooses the face of the main window (the GTK window, or the console mode
// with --headless) and runs it between the process's start-up and shutdown.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/console_face.h"
#include "app/startup.h"
#include "platform/environment.h"
#include "text/text.h"

#ifdef REZ_WITH_GTK_FACE
#include "app/gtk_face.h"
#endif

namespace {

constexpr int kUsageError = 2;

void printUsage(std::FILE* out) {
  std::fputs(
      "Usage: rez-udo-server [--headless [--port PORT]]\n"
      "\n"
      "Recognises captcha images sent as GET /vexo/?code=<Base64>&length=<n>.\n"
      "\n"
      "  --headless     run without a window: start the service at once and\n"
      "                 write each status line to standard output; SIGINT or\n"
      "                 SIGTERM stops it\n"
      "  --port PORT    the port box's text in console mode (default 8888)\n"
      "  --help         show this help\n"
      "  --version      show the version\n"
      "\n"
      "Without --headless the program opens its window; that needs a display.\n",
      out);
}

bool displayAvailable() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && x11[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  bool portGiven = false;
  std::string port = "8888";
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
      printUsage(stdout);
      return 0;
    }
    if (std::strcmp(argument, "--version") == 0) {
      std::printf("rez-udo-server %s\n", REZ_VERSION);
      return 0;
    }
    if (std::strcmp(argument, "--headless") == 0) {
      headless = true;
    } else if (std::strcmp(argument, "--port") == 0 && i + 1 < argc) {
      port = argv[++i];
      portGiven = true;
    } else if (std::strncmp(argument, "--port=", 7) == 0) {
      port = argument + 7;
      portGiven = true;
    } else {
      std::fprintf(stderr, "rez-udo-server: unknown option '%s'\n\n", argument);
      printUsage(stderr);
      return kUsageError;
    }
  }
  // A client that goes away must not end the service.
  signal(SIGPIPE, SIG_IGN);

  if (headless) {
    blockStopSignals();  // before any thread exists
    startProcess();
    // The port box holds code page 936 text; the command line is UTF-8.
    const int status = runConsoleFace(Text(platform::convertCodePage(port, "UTF-8", "CP936")));
    endProcess();
    return status;
  }
  if (portGiven) {
    std::fputs("rez-udo-server: --port is for --headless; the window has its own port box\n",
               stderr);
    return kUsageError;
  }
  if (!displayAvailable()) {
    std::fputs(
        "rez-udo-server: no display is open (DISPLAY and WAYLAND_DISPLAY are unset); the window "
        "needs one. Run with --headless [--port PORT] for the console mode.\n",
        stderr);
    return kUsageError;
  }
#ifdef REZ_WITH_GTK_FACE
  startProcess();
  const int status = runGtkFace(argc, argv);
  endProcess();
  return status;
#else
  std::fputs(
      "rez-udo-server: this build has no window (GTK 3 was not found); run with --headless.\n",
      stderr);
  return kUsageError;
#endif
}
