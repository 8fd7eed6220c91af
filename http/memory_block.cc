#include "http/memory_block.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

bool MemoryBlock::createHeader() {
  header_ = static_cast<MemoryBlockHeader*>(std::calloc(1, sizeof(MemoryBlockHeader)));
  return header_ != nullptr;
}

void* MemoryBlock::allocate(int32_t n, bool zeroFill) {
  if (header_ == nullptr) return nullptr;
  freeData();
  return resize(n, zeroFill, false);
}

void* MemoryBlock::reallocate(int32_t n, bool zeroFill) {
  if (header_ == nullptr) return nullptr;
  return resize(n, zeroFill, true);
}

void MemoryBlock::freeData() {
  if (header_ == nullptr || header_->data == nullptr) return;
  std::free(header_->data);
  clearHeader();
}

void MemoryBlock::release() {
  if (header_ == nullptr) return;
  freeData();
  std::free(header_);
  header_ = nullptr;
}

void MemoryBlock::appendBytes(const ByteBuffer& bytes) {
  if (header_ == nullptr || bytes.empty()) return;
  append(bytes.data(), bytes.length());
}

void MemoryBlock::append(const void* source, int32_t n) {
  if (header_ == nullptr || n <= 0 || source == nullptr) return;
  const int32_t old = header_->length;
  // A total beyond 32 bits cannot be held: the piece is dropped like a piece
  // that finds no memory.
  if (n > INT32_MAX - old) return;
  auto* buffer = static_cast<uint8_t*>(reallocate(old + n, false));
  if (buffer != nullptr) std::memcpy(buffer + old, source, static_cast<size_t>(n));
}

uint8_t* MemoryBlock::dataAt(int32_t offset) const {
  if (header_ == nullptr || header_->data == nullptr) return nullptr;
  return static_cast<uint8_t*>(header_->data) + offset;
}

ByteBuffer MemoryBlock::toBytes() const {
  if (header_ == nullptr || header_->data == nullptr || header_->length <= 0) return ByteBuffer();
  return ByteBuffer(header_->data, header_->length);
}

int32_t MemoryBlock::length() const { return header_ == nullptr ? 0 : header_->length; }

bool MemoryBlock::hasData() const { return header_ != nullptr && header_->data != nullptr; }

int32_t MemoryBlock::capacityFor(int32_t n, int32_t current) {
  const uint32_t wanted = static_cast<uint32_t>(n);
  const uint32_t doubled = wanted * 2u;  // cut to 32 bits on purpose
  return static_cast<int32_t>(std::max(wanted, std::min(doubled, static_cast<uint32_t>(current))));
}

void* MemoryBlock::resize(int32_t n, bool zeroFill, bool keep) {
  if (header_ == nullptr) return nullptr;
  void* data = header_->data;
  const int32_t length = header_->length;
  const int32_t capacity = header_->capacity;
  if (n >= 0 && n != length) {
    const int32_t newCapacity = capacityFor(n, length);
    if (n > capacity || newCapacity < length) {
      if (newCapacity == 0) {
        // Shrinking to nothing: no buffer at all (realloc to 0 bytes is
        // implementation-defined).
        std::free(data);
        clearHeader();
        data = nullptr;
      } else {
        const bool takesOver = keep && data != nullptr;
        void* fresh = takesOver ? std::realloc(data, static_cast<size_t>(newCapacity))
                                : std::malloc(static_cast<size_t>(newCapacity));
        // The old buffer must not be orphaned: a fresh buffer that does not
        // take it over, and a failed realloc (which leaves it allocated),
        // both release it.
        if (data != nullptr && (!takesOver || fresh == nullptr)) std::free(data);
        if (fresh != nullptr) {
          *header_ = MemoryBlockHeader{fresh, n, newCapacity};
        } else {
          clearHeader();
        }
        data = fresh;
      }
    } else {
      header_->length = n;
    }
  }
  if (zeroFill && data != nullptr) std::memset(data, 0, static_cast<size_t>(header_->length));
  return data;
}

void MemoryBlock::clearHeader() {
  if (header_ == nullptr) return;
  *header_ = MemoryBlockHeader{nullptr, 0, 0};
}
