// The program's value types: Text, ByteBuffer and the arrays.
//
// A Text is an owned, zero-terminated byte string in code page 936 (GBK); it
// never holds a zero byte, and a null Text and an empty one are the same
// value. A ByteBuffer is an owned sequence of bytes that may hold zeros. Both
// copy on assignment and are plain values: const methods may be called from
// several threads at once, any mutation needs external synchronisation.
// Lengths, positions and counts count bytes; positions are 1-based.
#ifndef REZ_TEXT_TEXT_H_
#define REZ_TEXT_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Text {
 public:
  Text() = default;
  // A copy of the zero-terminated text at `s`; the empty text for null.
  Text(const char* s);  // NOLINT(google-explicit-constructor): texts are values
  // The bytes before the first zero byte of `bytes` (all of them when none).
  explicit Text(std::string_view bytes);

  // Zero-terminated bytes, valid while this Text lives and is not changed.
  const char* c_str() const { return bytes_.c_str(); }
  // The bytes without the terminator.
  const std::string& bytes() const { return bytes_; }
  std::string_view view() const { return bytes_; }
  int length() const { return static_cast<int>(bytes_.size()); }
  bool empty() const { return bytes_.empty(); }

  friend bool operator==(const Text& a, const Text& b) = default;

 private:
  std::string bytes_;
};

class ByteBuffer {
 public:
  ByteBuffer() = default;
  explicit ByteBuffer(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  ByteBuffer(const void* data, int length);  // copies `length` bytes (0 or more)

  // Address of the first byte, or null for the empty buffer.
  const uint8_t* data() const { return bytes_.empty() ? nullptr : bytes_.data(); }
  uint8_t* data() { return bytes_.empty() ? nullptr : bytes_.data(); }
  int length() const { return static_cast<int>(bytes_.size()); }
  bool empty() const { return bytes_.empty(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

  friend bool operator==(const ByteBuffer& a, const ByteBuffer& b) = default;

 private:
  std::vector<uint8_t> bytes_;
};

// Owned one-dimensional arrays; an empty array has the count 0.
using TextArray = std::vector<Text>;
using ByteArray = std::vector<uint8_t>;

#endif  // REZ_TEXT_TEXT_H_
