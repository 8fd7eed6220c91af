// The request-body buffer: a growable byte buffer whose state lives in a
// small separate record, MemoryBlockHeader, so that the buffer travels as one
// plain address (the connection's extra value in the network library).
//
// A MemoryBlock is a short-lived handle: attach it to a header, use it, drop
// it. Copying it copies the address; destroying it releases nothing. The
// header owns its buffer and is owned by whoever calls release() (the close
// handler, for a connection's block). No lock is taken: the users of a header
// make sure that no two threads work on it at once.
#ifndef REZ_HTTP_MEMORY_BLOCK_H_
#define REZ_HTTP_MEMORY_BLOCK_H_

#include <cstdint>

#include "text/text.h"

// Invariants: a fresh header is (null, 0, 0); 0 <= length <= capacity; after
// a growth length equals capacity; freeData, clearHeader and a failed growth
// leave (null, 0, 0).
struct MemoryBlockHeader {
  void* data;
  int32_t length;
  int32_t capacity;
};

class MemoryBlock {
 public:
  MemoryBlock() = default;
  explicit MemoryBlock(MemoryBlockHeader* header) : header_(header) {}

  // A new zeroed header becomes this block's header (an earlier one is
  // forgotten, not released). False, and no header, when out of memory.
  bool createHeader();
  // freeData, then resize(n, zeroFill, keep = false).
  void* allocate(int32_t n, bool zeroFill = false);
  // resize(n, zeroFill, keep = true).
  void* reallocate(int32_t n, bool zeroFill = false);
  // Frees the data and clears the header; does nothing when there is no data.
  void freeData();
  // freeData, then frees the header; the block has no header afterwards.
  void release();
  void attach(MemoryBlockHeader* header) { header_ = header; }
  void appendBytes(const ByteBuffer& bytes);
  // Appends n bytes from source; the growth is exact (capacity = new length).
  // When the buffer cannot grow, the block is left empty and the bytes are
  // dropped.
  void append(const void* source, int32_t n);
  // data + offset; null when there is no header.
  uint8_t* dataAt(int32_t offset = 0) const;
  ByteBuffer toBytes() const;
  MemoryBlockHeader* headerPointer() const { return header_; }
  int32_t length() const;
  bool hasData() const;
  // The capacity for a new length n: max(n, min(2n, current)), unsigned.
  static int32_t capacityFor(int32_t n, int32_t current);
  void* resize(int32_t n, bool zeroFill, bool keep);
  // Sets the header to (null, 0, 0) without releasing anything.
  void clearHeader();

 private:
  MemoryBlockHeader* header_ = nullptr;
};

#endif  // REZ_HTTP_MEMORY_BLOCK_H_
