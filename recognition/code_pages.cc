#include "recognition/code_pages.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/environment.h"
#include "text/text_ops.h"

namespace {

constexpr char kWideEncoding[] = "UTF-16LE";

// The iconv name of a code page number, or null for one the program never
// uses (its conversions then give empty results).
const char* encodingName(int codePage) {
  switch (codePage) {
    case kCodePageGbk:
      return "CP936";
    case kCodePageUtf8:
      return "UTF-8";
    default:
      return nullptr;
  }
}

// The bytes before the first zero byte.
std::string_view upToZeroByte(const ByteBuffer& bytes) {
  const auto* data = reinterpret_cast<const char*>(bytes.data());
  const size_t size = static_cast<size_t>(bytes.length());
  const void* zero = size == 0 ? nullptr : std::memchr(data, 0, size);
  return std::string_view(data, zero == nullptr ? size : static_cast<const char*>(zero) - data);
}

// The whole UTF-16LE units before the first zero unit. A trailing odd byte
// is read as a unit with a zero high byte, as the appended terminator makes
// it, and ends the input.
std::string upToZeroUnit(const ByteBuffer& wide) {
  const std::vector<uint8_t>& bytes = wide.bytes();
  std::string units;
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    if (bytes[i] == 0 && bytes[i + 1] == 0) return units;
    units.push_back(static_cast<char>(bytes[i]));
    units.push_back(static_cast<char>(bytes[i + 1]));
  }
  if (i < bytes.size() && bytes[i] != 0) {
    units.push_back(static_cast<char>(bytes[i]));
    units.push_back('\0');
  }
  return units;
}

}  // namespace

ByteBuffer multiByteToWide(const ByteBuffer& bytes, int codePage) {
  const char* encoding = encodingName(codePage);
  const std::string_view source = upToZeroByte(bytes);
  if (encoding == nullptr || source.empty()) return ByteBuffer();
  std::string wide = platform::convertCodePage(source, encoding, kWideEncoding);
  if (wide.empty()) return ByteBuffer();  // nothing could be converted
  wide.append(2, '\0');                   // the terminating zero unit belongs to the result
  return ByteBuffer(wide.data(), static_cast<int>(wide.size()));
}

ByteBuffer wideToMultiByte(const ByteBuffer& wide, int codePage) {
  const char* encoding = encodingName(codePage);
  const std::string source = upToZeroUnit(wide);
  if (encoding == nullptr || source.empty()) return ByteBuffer();
  const std::string converted = platform::convertCodePage(source, kWideEncoding, encoding);
  // No zero unit went in, so none comes out; cut at a zero all the same, as
  // the result is read as a zero-terminated text.
  const std::string_view text(converted.data(), std::strlen(converted.c_str()));
  return ByteBuffer(text.data(), static_cast<int>(text.size()));
}

Text wideToText(const ByteBuffer& wide) { return bytesToText(wideToMultiByte(wide, kCodePageGbk)); }

ByteBuffer textToWide(const Text& text) { return multiByteToWide(textToBytes(text), kCodePageGbk); }

Text utf8BytesToText(const ByteBuffer& bytes) {
  return wideToText(multiByteToWide(bytes, kCodePageUtf8));
}

ByteBuffer textToUtf8Bytes(const Text& text) {
  return wideToMultiByte(textToWide(text), kCodePageUtf8);
}
