// The library-entry table: every function the program calls in a run-time
// library (the recognition engine libocr.so, the network library
// libhpsocket4c.so) is reached through an entry resolved by name at its first
// call, from the library directory first, then the program directory, then the
// system's search. A library or function that cannot be found is fatal
// (reportFatalError); so an entry call either reaches the function or ends
// the process. Entries are shared by all threads; two threads making the first
// call of an entry at once both get the same address. The modules loaded for
// entries are released at exit.
//
// No stack check follows an entry call: every entry has C linkage and its
// prototype is fixed at build time (decltype of the declaration), so the
// caller and the function cannot disagree about the arguments.
//
// Calling an entry: `entry::HP_Server_Start(server, "0.0.0.0", port)`,
// `entry::ocr(data, length)`: the entries bear the functions' own names.
#ifndef REZ_TEXT_LIBRARY_ENTRIES_H_
#define REZ_TEXT_LIBRARY_ENTRIES_H_

#include <atomic>
#include <cstddef>
#include <mutex>
#include <utility>

#include "libs/ocr/include/ocr_engine.h"
#include "platform/hpsocket.h"
#include "text/text.h"

// Library file names as the table writes them (also quoted in the fatal text).
inline constexpr char kOcrLibrary[] = "libocr.so";
inline constexpr char kHpSocketLibrary[] = "libhpsocket4c.so";

// Resolves `function` of `library` by the search order above, or ends the
// process with the fatal report naming both. Never returns null. The module
// loaded for it is kept in the table's list of modules released at exit.
void* resolveLibraryEntry(const char* library, const char* function);

template <typename Fn>
class LibraryEntry {
 public:
  constexpr LibraryEntry(const char* library, const char* function)
      : library_(library), function_(function) {}

  Fn get() {
    void* address = address_.load(std::memory_order_acquire);
    if (address == nullptr) address = resolve();
    return reinterpret_cast<Fn>(address);
  }

  template <typename... Args>
  decltype(auto) operator()(Args&&... args) {
    return get()(std::forward<Args>(args)...);
  }

  const char* library() const { return library_; }
  const char* function() const { return function_; }

 private:
  void* resolve() {
    std::call_once(resolved_, [this] {
      address_.store(resolveLibraryEntry(library_, function_), std::memory_order_release);
    });
    return address_.load(std::memory_order_acquire);
  }

  const char* library_;
  const char* function_;
  std::once_flag resolved_;
  std::atomic<void*> address_{nullptr};
};

// One entry per function; the lists live in platform/hpsocket.h and here.
#define REZ_OCR_ENTRIES(X) \
  X(kOcrLibrary, init)     \
  X(kOcrLibrary, ocr)

namespace entry {
#define REZ_DECLARE_ENTRY(library, name) extern LibraryEntry<decltype(&::name)> name;
REZ_OCR_ENTRIES(REZ_DECLARE_ENTRY)
REZ_HPSOCKET_ENTRIES(REZ_DECLARE_ENTRY)
#undef REZ_DECLARE_ENTRY
}  // namespace entry

// Releases every module loaded for an entry, once (a second call releases
// nothing). Entries keep their addresses, so it is called at exit only, after
// the exit routine, when no entry is called again.
void releaseLibraryEntries();

// The fatal report: composes the box text ("运行时出错!" ...), shows it (the
// installed presenter: a GTK dialog when a window face runs, else standard
// error), then ends the process with exit status 255. Never returns; safe on
// any thread.
[[noreturn]] void reportFatalError(const Text& message, int code, int routine, int line);

// The box text exactly as the fatal report composes it (for tests and faces).
Text composeFatalText(const Text& message, int code, int routine, int line);

// The routine the fatal path runs (once) before the process ends, the way the
// ordinary shutdown runs the exit routine. It must be safe while other
// threads still run. Null: none.
void setFatalExitRoutine(void (*routine)());

// The fatal report for memory that could not be obtained: "分配 %d 字节内存失败!"
// with the byte count. Raised by the program's operator new.
[[noreturn]] void reportAllocationFailure(size_t bytes);

#endif  // REZ_TEXT_LIBRARY_ENTRIES_H_
