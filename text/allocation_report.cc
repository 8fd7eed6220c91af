// The program's global operator new: memory that cannot be obtained ends the
// process through the fatal report, naming the bytes requested, instead of an
// exception nobody catches. Linked into the program only (an object library),
// and left out of sanitizer builds, whose allocators must stay their own.
#include <cstdlib>
#include <new>

#include "text/library_entries.h"

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)

void* operator new(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) reportAllocationFailure(size);
  return p;
}

void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#endif
