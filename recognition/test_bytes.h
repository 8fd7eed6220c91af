// Small helpers for the recognition tests: byte buffers written as hex.
#ifndef REZ_RECOGNITION_TEST_BYTES_H_
#define REZ_RECOGNITION_TEST_BYTES_H_

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "text/text.h"

// "41 42 0A" -> the bytes 41 42 0A; "" -> no bytes.
inline std::vector<uint8_t> hexBytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  std::istringstream in(hex);
  unsigned value = 0;
  while (in >> std::hex >> value) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

// The bytes as "41 42 0A", for readable failure messages.
inline std::string toHex(const std::vector<uint8_t>& bytes) {
  std::string hex;
  char digits[4];
  for (uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", byte);
    if (!hex.empty()) hex += ' ';
    hex += digits;
  }
  return hex;
}
inline std::string toHex(const ByteBuffer& buffer) { return toHex(buffer.bytes()); }
inline std::string toHex(const Text& text) {
  return toHex(std::vector<uint8_t>(text.bytes().begin(), text.bytes().end()));
}

#endif  // REZ_RECOGNITION_TEST_BYTES_H_
