// The program's global operator new: memory that cannot be obtained ends the
// process through the fatal report, naming the bytes requested, instead of an
// exception nobody catches. A replaced operator new is used rather than a
// std::set_new_handler handler because only operator new knows the byte
// count the report names. The nothrow forms keep their promise (null on
// failure); the aligned forms report like the plain ones. Linked into the
// program (and its tests) as an object library, and left out of sanitizer
// builds, whose allocators must stay their own.
#include <cstdlib>
#include <new>

#include "text/library_entries.h"

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)

namespace {

void* allocate(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (size + align - 1) / align * align;
  if (rounded < size) return nullptr;
  return std::aligned_alloc(align, rounded == 0 ? align : rounded);
}

}  // namespace

void* operator new(std::size_t size) {
  void* p = allocate(size);
  if (p == nullptr) reportAllocationFailure(size);
  return p;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }

void* operator new(std::size_t size, std::align_val_t alignment) {
  void* p = allocateAligned(size, alignment);
  if (p == nullptr) reportAllocationFailure(size);
  return p;
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return ::operator new(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocateAligned(size, alignment);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

#endif
