// The library-entry table and the fatal report.
#include "text/library_entries.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "text/text_ops.h"

namespace entry {
#define REZ_DEFINE_ENTRY(library, name) LibraryEntry<decltype(&::name)> name{library, #name};
REZ_OCR_ENTRIES(REZ_DEFINE_ENTRY)
REZ_HPSOCKET_ENTRIES(REZ_DEFINE_ENTRY)
#undef REZ_DEFINE_ENTRY
}  // namespace entry

namespace {

// Every module loaded for an entry, one per resolved entry (dlopen counts the
// loads), released once at exit.
std::mutex g_modulesMutex;
std::vector<void*>& loadedModules() {
  static auto* modules = new std::vector<void*>();  // never destroyed: used up to _exit
  return *modules;
}

// 无法找到指定DLL库文件“%s”中的输出命令“%s”
Text missingEntryMessage(const char* library, const char* function) {
  return concatText(
      {"\xce\xde\xb7\xa8\xd5\xd2\xb5\xbd\xd6\xb8\xb6\xa8\x44\x4c\x4c\xbf\xe2\xce\xc4"
       "\xbc\xfe\xa1\xb0",
       library, "\xa1\xb1\xd6\xd0\xb5\xc4\xca\xe4\xb3\xf6\xc3\xfc\xc1\xee\xa1\xb0", function,
       "\xa1\xb1"});
}

}  // namespace

void* resolveLibraryEntry(const char* library, const char* function) {
  // The search order: the library directory, the program directory, then the
  // system's own search by the plain name. The first library that loads is
  // the one asked; when it lacks the function the others are not tried.
  std::vector<std::string> candidates;
  const Text directory = dllDirectory();
  if (!directory.empty()) candidates.push_back(directory.bytes() + library);
  candidates.push_back(runDirectory().bytes() + "/" + library);
  candidates.push_back(library);
  void* module = nullptr;
  for (const std::string& path : candidates) {
    module = platform::loadLibrary(path.c_str());
    if (module != nullptr) break;
  }
  void* address = platform::findSymbol(module, function);
  if (address == nullptr) {
    platform::freeLibrary(module);
    reportFatalError(missingEntryMessage(library, function), 0, 0, 0);
  }
  std::lock_guard<std::mutex> lock(g_modulesMutex);
  loadedModules().push_back(module);
  return address;
}

void releaseLibraryEntries() {
  std::vector<void*> modules;
  {
    std::lock_guard<std::mutex> lock(g_modulesMutex);
    modules.swap(loadedModules());
  }
  for (void* module : modules) platform::freeLibrary(module);
}

Text composeFatalText(const Text& message, int code, int routine, int line) {
  static const Text kCrLf("\r\n");
  // 运行时出错!
  Text box = concatText({"\xd4\xcb\xd0\xd0\xca\xb1\xb3\xf6\xb4\xed\x21", kCrLf});
  if (code != 0) {
    // 错误代码：
    box = concatText(
        {box, kCrLf, "\xb4\xed\xce\xf3\xb4\xfa\xc2\xeb\xa3\xba", int64ToText(code), kCrLf});
  }
  if (!message.empty()) {
    // 错误信息：
    box = concatText({box, kCrLf, "\xb4\xed\xce\xf3\xd0\xc5\xcf\xa2\xa3\xba", message, kCrLf});
  }
  return concatText({box, kCrLf, int64ToText(routine), ", ", int64ToText(line), kCrLf});
}

namespace {
std::atomic<void (*)()> g_fatalExitRoutine{nullptr};
}  // namespace

void setFatalExitRoutine(void (*routine)()) { g_fatalExitRoutine.store(routine); }

void reportFatalError(const Text& message, int code, int routine, int line) {
  // A fault raised while this thread is already in the fatal path (building
  // or showing its box, or in the exit routine, e.g. an allocation failing
  // there or an entry the exit routine calls) ends the process at once: the
  // first fault's report is the one that counts, and going round again would
  // recurse or wait on this thread's own lock.
  thread_local bool inFatalPath = false;
  if (inFatalPath) _exit(255);
  inFatalPath = true;
  // Every fault shows its own box; the thread that raised it waits there
  // while the other threads go on (a second fault on another thread shows
  // its box too).
  platform::presentFatalText(composeFatalText(message, code, routine, line).bytes());
  // The first fault past its box ends the process; any later one waits here
  // until the process has gone. The lock is never released.
  static std::mutex ending;
  ending.lock();
  if (auto exitRoutine = g_fatalExitRoutine.exchange(nullptr)) exitRoutine();
  std::fflush(nullptr);
  // _exit, not exit, and no releaseLibraryEntries: other threads (network,
  // workers) may still be running inside the loaded libraries, so neither
  // static destructors (which would free what they use) nor dlclose (which
  // would unmap the code they run) may happen under them. The system
  // releases the modules with the process.
  _exit(255);
}

void reportAllocationFailure(size_t bytes) {
  // 分配 %d 字节内存失败!  (built without allocating: memory is what failed)
  char message[96];
  std::snprintf(message, sizeof message,
                "\xb7\xd6\xc5\xe4\x20%zu\x20\xd7\xd6\xbd\xda\xc4\xda\xb4\xe6\xca\xa7\xb0\xdc\x21",
                bytes);
  reportFatalError(Text(message), 0, 0, 0);
}
