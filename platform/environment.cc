// Linux glue: dlopen, iconv, /proc/self/exe, and the two hooks of a window
// face.
#include "platform/environment.h"

#include <dlfcn.h>
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

void* loadLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* findSymbol(void* module, const char* name) {
  return module == nullptr ? nullptr : dlsym(module, name);
}

void freeLibrary(void* module) {
  if (module != nullptr) dlclose(module);
}

namespace {

// What stands in for input that cannot be converted: U+FFFD where the target
// can hold it, '?' otherwise. Conversions never fail.
std::string replacementFor(const char* to) {
  const std::string target(to);
  if (target == "UTF-8") return "\xEF\xBF\xBD";
  if (target == "UTF-16LE") return std::string("\xFD\xFF", 2);
  return "?";
}

// Bytes to skip at a sequence iconv refused: a whole character when it is
// well formed but has no place in the target (so one replacement stands for
// one character), otherwise one unit.
size_t refusedSequenceSize(const char* from, const unsigned char* p, size_t left) {
  const std::string source(from);
  if (source == "UTF-16LE") {
    if (left >= 4 && (p[1] & 0xFC) == 0xD8 && (p[3] & 0xFC) == 0xDC) return 4;
    return std::min<size_t>(2, left);
  }
  if (source == "UTF-8") {
    size_t n = p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC2 ? 2 : 1;
    if (p[0] >= 0xF5 || n > left) return 1;
    for (size_t i = 1; i < n; ++i) {
      if ((p[i] & 0xC0) != 0x80) return 1;
    }
    return n;
  }
  return 1;
}

}  // namespace

std::string convertCodePage(std::string_view input, const char* from, const char* to) {
  std::string output;
  if (input.empty()) return output;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return output;
  const std::string replacement = replacementFor(to);
  std::vector<char> chunk(4096);
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  while (inLeft > 0) {
    char* out = chunk.data();
    size_t outLeft = chunk.size();
    const size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
    output.append(chunk.data(), chunk.size() - outLeft);
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ (invalid or unrepresentable) or EINVAL (truncated at the end):
    // replace one input unit and go on.
    output += replacement;
    const size_t skip =
        refusedSequenceSize(from, reinterpret_cast<const unsigned char*>(in), inLeft);
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  char* out = chunk.data();
  size_t outLeft = chunk.size();
  iconv(cd, nullptr, nullptr, &out, &outLeft);
  output.append(chunk.data(), chunk.size() - outLeft);
  iconv_close(cd);
  return output;
}

std::string executablePath() {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return std::string();
  return std::string(buffer.data(), static_cast<size_t>(n));
}

namespace {
std::atomic<EventPump> g_eventPump{nullptr};
// Read by every processEvents call on every worker thread: atomic, no lock.
std::atomic<std::thread::id> g_windowThread{std::thread::id()};
std::atomic<FatalPresenter> g_fatalPresenter{nullptr};
}  // namespace

void installEventPump(EventPump pump) {
  g_windowThread.store(pump != nullptr ? std::this_thread::get_id() : std::thread::id());
  g_eventPump.store(pump);
}

bool onWindowThread() {
  const std::thread::id windowThread = g_windowThread.load();
  return windowThread != std::thread::id() && windowThread == std::this_thread::get_id();
}

void pumpEventsIfWindowThread() {
  EventPump pump = g_eventPump.load();
  if (pump != nullptr && onWindowThread()) pump();
}

void installFatalPresenter(FatalPresenter presenter) { g_fatalPresenter.store(presenter); }

void presentFatalText(const std::string& boxTextCp936) {
  FatalPresenter presenter = g_fatalPresenter.load();
  if (presenter != nullptr) {
    presenter(boxTextCp936);
    return;
  }
  const std::string utf8 = convertCodePage(boxTextCp936, "CP936", "UTF-8");
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace platform
