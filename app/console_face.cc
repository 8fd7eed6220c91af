#include "app/console_face.h"

#include <signal.h>

#include <cstdio>

#include "app/main_window.h"
#include "platform/environment.h"

namespace {

sigset_t stopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

class ConsoleFace : public MainWindowFace {
 public:
  explicit ConsoleFace(Text portText) : portText_(std::move(portText)) {}

  Text portText() override { return portText_; }

  void setStatusCaption(const Text& caption) override {
    const std::string line = platform::convertCodePage(caption.view(), "CP936", "UTF-8");
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

 private:
  Text portText_;
};

}  // namespace

void blockStopSignals() {
  const sigset_t signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int runConsoleFace(const Text& portText) {
  ConsoleFace face(portText);
  face.setStatusCaption(statusIdleCaption());  // the label as the window opens
  onMainWindowCreated(nullptr);                // no themed look on a console
  // There is no button to press again after a failed start.
  if (!onStartClicked(face)) return 1;

  const sigset_t signals = stopSignals();
  int received = 0;
  while (sigwait(&signals, &received) != 0) {
  }
  onMainWindowDestroying();
  return 0;
}
