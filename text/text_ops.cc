// Text, byte and number operations. The searches walk code-page-936
// characters; all other operations count and cut bytes.
#include "text/text_ops.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/environment.h"
#include "text/library_entries.h"

Text::Text(const char* s) {
  if (s != nullptr) bytes_.assign(s);
}

Text::Text(std::string_view bytes) : bytes_(bytes.substr(0, bytes.find('\0'))) {}

ByteBuffer::ByteBuffer(const void* data, int length) {
  if (data != nullptr && length > 0) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.assign(p, p + length);
  }
}

namespace {

bool isLeadByte(uint8_t byte) { return byte >= 0x80; }

uint8_t foldCase(uint8_t byte) { return (byte >= 'A' && byte <= 'Z') ? byte + 0x20 : byte; }

bool bytesMatch(const char* a, const char* b, size_t n, bool caseInsensitive) {
  if (!caseInsensitive) return std::memcmp(a, b, n) == 0;
  for (size_t i = 0; i < n; ++i) {
    if (foldCase(static_cast<uint8_t>(a[i])) != foldCase(static_cast<uint8_t>(b[i]))) return false;
  }
  return true;
}

// Width of the character at `offset` of `text`: 1, 2, or 0 for a lone lead
// byte (a lead byte directly followed by the end of the text).
size_t characterWidth(std::string_view text, size_t offset) {
  if (!isLeadByte(static_cast<uint8_t>(text[offset]))) return 1;
  return offset + 1 < text.size() ? 2 : 0;
}

// Case-sensitive searches jump to candidates with memchr and keep track of
// character boundaries eight ASCII bytes at a time: the same results as the
// plain character walk, at memchr speed on long texts (a Base64 image of a
// megabyte travels in the query that the routing searches).
bool asciiWord(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return (w & 0x8080808080808080ull) == 0;
}

// Moves `offset`, a character boundary, to the first boundary at or after
// `pos`. Never meets a lone lead byte, since pos < the text's length.
size_t walkTo(const char* t, size_t offset, size_t pos) {
  while (offset < pos) {
    if (offset + 8 <= pos && asciiWord(t + offset)) {
      offset += 8;
      continue;
    }
    offset += static_cast<uint8_t>(t[offset]) < 0x80 ? 1 : 2;
  }
  return offset;
}

// First match at a boundary at or after `offset` (a boundary); n >= 1.
int findForwardExact(std::string_view t, std::string_view s, size_t offset) {
  const size_t length = t.size();
  const size_t n = s.size();
  while (length - offset >= n) {
    const size_t last = length - n;
    const void* hit = std::memchr(t.data() + offset, s[0], last - offset + 1);
    if (hit == nullptr) return -1;
    const size_t pos = static_cast<size_t>(static_cast<const char*>(hit) - t.data());
    offset = walkTo(t.data(), offset, pos);
    if (offset != pos) continue;  // the byte was the second of a character
    if (std::memcmp(t.data() + pos, s.data(), n) == 0) return static_cast<int>(pos) + 1;
    if (static_cast<uint8_t>(t[pos]) < 0x80) {
      offset += 1;
    } else if (pos + 1 >= length) {
      return -1;  // a lone lead byte ends the walk
    } else {
      offset += 2;
    }
  }
  return -1;
}

// Last match at a boundary lying wholly in the first `window` bytes; n >= 1.
int findLastExact(std::string_view t, std::string_view s, size_t window) {
  const size_t length = t.size();
  const size_t n = s.size();
  int found = -1;
  size_t offset = 0;
  while (window >= n && offset <= window && window - offset >= n) {
    const size_t last = window - n;
    const void* hit = std::memchr(t.data() + offset, s[0], last - offset + 1);
    if (hit == nullptr) break;
    const size_t pos = static_cast<size_t>(static_cast<const char*>(hit) - t.data());
    offset = walkTo(t.data(), offset, pos);
    if (offset != pos) continue;
    if (std::memcmp(t.data() + pos, s.data(), n) == 0) found = static_cast<int>(pos) + 1;
    if (static_cast<uint8_t>(t[pos]) < 0x80) {
      offset += 1;
    } else if (pos + 1 >= length) {
      break;
    } else {
      offset += 2;
    }
  }
  return found;
}

// Bytes built from the bytes of Texts (which never hold a zero) as a Text; the
// constructor's cut at a first zero byte is then a no-op.
Text fromBytes(std::string bytes) { return Text(std::string_view(bytes)); }

}  // namespace

// --- Texts -------------------------------------------------------------------

int textLength(const Text& text) { return text.length(); }

Text concatText(std::initializer_list<Text> parts) {
  std::string joined;
  size_t total = 0;
  for (const Text& part : parts) total += part.bytes().size();
  joined.reserve(total);
  for (const Text& part : parts) joined += part.bytes();
  return fromBytes(std::move(joined));
}

int compareText(const Text& a, const Text& b) {
  // std::string compares as unsigned char, a prefix being smaller.
  int result = a.bytes().compare(b.bytes());
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

Text textMid(const Text& text, int start, int count) {
  const int64_t s = static_cast<int64_t>(start) - 1;
  const int length = text.length();
  if (s < 0 || s >= length || count <= 0) return Text();
  const int64_t n = std::min<int64_t>(count, length - s);
  return Text(text.view().substr(static_cast<size_t>(s), static_cast<size_t>(n)));
}

Text textRight(const Text& text, int count) {
  if (count <= 0) return Text();
  const size_t n = std::min<size_t>(static_cast<size_t>(count), text.bytes().size());
  return Text(text.view().substr(text.bytes().size() - n));
}

int findText(const Text& text, const Text& sought, std::optional<int> start, bool caseInsensitive) {
  const std::string_view t = text.view();
  const size_t length = t.size();
  const size_t n = sought.bytes().size();
  size_t s = 0;
  if (start.has_value()) s = *start - 1 > 0 ? static_cast<size_t>(*start - 1) : 0;
  const bool windowEmpty = start.has_value() ? s >= length : length == 0;
  // An empty sought text is found at position 1 of any non-empty window:
  // Base64 decoding relies on this to read the byte 0 as "A".
  if (n == 0) return windowEmpty ? -1 : 1;
  if (windowEmpty) return -1;
  if (!caseInsensitive) return findForwardExact(t, sought.view(), s);
  const char* sp = sought.c_str();
  size_t offset = s;
  while (length - offset >= n) {
    if (bytesMatch(t.data() + offset, sp, n, caseInsensitive)) return static_cast<int>(offset) + 1;
    const size_t width = characterWidth(t, offset);
    if (width == 0) return -1;
    offset += width;
    if (offset >= length) break;
  }
  return -1;
}

int findTextReverse(const Text& text, const Text& sought, std::optional<int> start,
                    bool caseInsensitive) {
  const std::string_view t = text.view();
  const int64_t length = static_cast<int64_t>(t.size());
  const int64_t n = static_cast<int64_t>(sought.bytes().size());
  int64_t window = length;
  if (start.has_value()) window = std::min<int64_t>(static_cast<int64_t>(*start) - 1, length);
  // Unlike findText, a start position of 0 or 1 leaves no window at all.
  if (window <= 0) return -1;
  if (n == 0) return 1;
  if (!caseInsensitive) {
    return findLastExact(t, sought.view(), static_cast<size_t>(window));
  }
  const char* sp = sought.c_str();
  int found = -1;
  int64_t offset = 0;
  while (window - offset >= n) {
    if (bytesMatch(t.data() + offset, sp, static_cast<size_t>(n), caseInsensitive)) {
      found = static_cast<int>(offset) + 1;
    }
    const size_t width = characterWidth(t, static_cast<size_t>(offset));
    if (width == 0) break;
    offset += static_cast<int64_t>(width);
  }
  return found;
}

Text replaceSubtext(const Text& text, const Text& sought, const Text& replacement,
                    std::optional<int> start, std::optional<int> count, bool caseSensitive) {
  const std::string_view t = text.view();
  const size_t length = t.size();
  const size_t n = sought.bytes().size();
  size_t s = 0;
  if (start.has_value()) s = *start - 1 > 0 ? static_cast<size_t>(*start - 1) : 0;
  if (length == 0 || n == 0 || s >= length || (count.has_value() && *count == 0)) return text;
  // A left-out count has no limit; a negative one never reaches 0 either.
  int64_t remaining = count.has_value() ? *count : -1;
  std::string result(t.substr(0, s));
  result.reserve(length);
  const char* sp = sought.c_str();
  size_t offset = s;
  bool stoppedAtLoneLead = false;
  while (length - offset >= n) {
    if (bytesMatch(t.data() + offset, sp, n, !caseSensitive)) {
      result += replacement.bytes();
      offset += n;
      if (remaining > 0 && --remaining == 0) break;
      continue;
    }
    const size_t width = characterWidth(t, offset);
    if (width == 0) {
      stoppedAtLoneLead = true;
      offset = length;  // the lone lead byte is dropped
      break;
    }
    result.append(t.substr(offset, width));
    offset += width;
  }
  if (!stoppedAtLoneLead) result.append(t.substr(offset));
  return fromBytes(std::move(result));
}

Text removeAllSpaces(const Text& text) {
  const std::string_view t = text.view();
  std::string result;
  result.reserve(t.size());
  size_t offset = 0;
  while (offset < t.size()) {
    const size_t width = characterWidth(t, offset);
    if (width == 0) break;  // a lone lead byte is dropped
    const bool space = (width == 1 && t[offset] == ' ') ||
                       (width == 2 && static_cast<uint8_t>(t[offset]) == 0xA1 &&
                        static_cast<uint8_t>(t[offset + 1]) == 0xA1);
    if (!space) result.append(t.substr(offset, width));
    offset += width;
  }
  return fromBytes(std::move(result));
}

int32_t textToInt(const Text& text) {
  // Full-width folding: the full-width forms of printable ASCII (A3 A1..A3 FE),
  // the full-width space, tilde and the two stars become their ASCII bytes.
  const std::string_view t = text.view();
  std::string folded;
  folded.reserve(t.size());
  size_t offset = 0;
  while (offset < t.size()) {
    const size_t width = characterWidth(t, offset);
    if (width == 0) break;
    if (width == 1) {
      folded.push_back(t[offset]);
    } else {
      const uint8_t lead = static_cast<uint8_t>(t[offset]);
      const uint8_t trail = static_cast<uint8_t>(t[offset + 1]);
      if (lead == 0xA1 && trail == 0xA1) {
        folded.push_back(' ');
      } else if (lead == 0xA1 && trail == 0xAB) {
        folded.push_back('~');
      } else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF)) {
        folded.push_back('*');
      } else if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
        folded.push_back(static_cast<char>(trail - 0x80));
      } else {
        folded.append(t.substr(offset, 2));
      }
    }
    offset += width;
  }
  size_t i = 0;
  while (i < folded.size() && (folded[i] == ' ' || (folded[i] >= 0x09 && folded[i] <= 0x0D))) ++i;
  bool negative = false;
  if (i < folded.size() && (folded[i] == '+' || folded[i] == '-')) negative = folded[i++] == '-';
  uint32_t value = 0;  // wraps without notice, as 32-bit arithmetic does
  while (i < folded.size() && folded[i] >= '0' && folded[i] <= '9') {
    value = value * 10u + static_cast<uint32_t>(folded[i++] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

Text int64ToText(int64_t value) { return fromBytes(std::to_string(value)); }

int charCode(const Text& text, std::optional<int> position) {
  const int length = text.length();
  const int p = position.value_or(1);
  if (p < 1 || p > length) return 0;
  return static_cast<int8_t>(text.bytes()[static_cast<size_t>(p - 1)]);
}

Text charFromCode(uint8_t byte) {
  if (byte == 0) return Text();
  const char c = static_cast<char>(byte);
  return Text(std::string_view(&c, 1));
}

Text blankText(int count) {
  if (count <= 0) return Text();
  return fromBytes(std::string(static_cast<size_t>(count), ' '));
}

Text pointerToText(const char* address) { return Text(address); }

// --- Byte buffers ------------------------------------------------------------

int bytesLength(const ByteBuffer& buffer) { return buffer.length(); }

ByteBuffer bytesLeft(const ByteBuffer& buffer, int count) {
  const int m = std::clamp(count, 0, buffer.length());
  return ByteBuffer(buffer.data(), m);
}

ByteBuffer bytesRight(const ByteBuffer& buffer, int count) {
  const int m = std::clamp(count, 0, buffer.length());
  return ByteBuffer(buffer.data() == nullptr ? nullptr : buffer.data() + (buffer.length() - m), m);
}

ByteBuffer concatBytes(std::initializer_list<const ByteBuffer*> parts) {
  std::vector<uint8_t> joined;
  size_t total = 0;
  for (const ByteBuffer* part : parts) total += part->bytes().size();
  joined.reserve(total);
  for (const ByteBuffer* part : parts) {
    joined.insert(joined.end(), part->bytes().begin(), part->bytes().end());
  }
  return ByteBuffer(std::move(joined));
}

ByteBuffer blankBytes(int count) {
  if (count <= 0) return ByteBuffer();
  return ByteBuffer(std::vector<uint8_t>(static_cast<size_t>(count), 0));
}

ByteBuffer pointerToBytes(const void* address, int length) { return ByteBuffer(address, length); }

// --- Conversions -------------------------------------------------------------

ByteBuffer textToBytes(const Text& text) { return ByteBuffer(text.c_str(), text.length()); }

Text bytesToText(const ByteBuffer& buffer) {
  const auto& bytes = buffer.bytes();
  return Text(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

ByteBuffer byteArrayToBytes(const ByteArray& array) { return ByteBuffer(array); }

// --- Numbers -----------------------------------------------------------------

uint8_t toByte(int32_t value) { return static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFFu); }

int32_t bitOr(std::initializer_list<int32_t> values) {
  int32_t result = 0;
  for (int32_t v : values) result |= v;
  return result;
}

double intDivide(double a, double b) {
  // 不能整除于零
  if (b == 0) reportFatalError("\xB2\xBB\xC4\xDC\xD5\xFB\xB3\xFD\xD3\xDA\xC1\xE3", 0, 0, 0);
  return std::trunc(a / b);
}

double modulo(double a, double b) {
  // 不能求余数于零
  if (b == 0) reportFatalError("\xB2\xBB\xC4\xDC\xC7\xF3\xD3\xE0\xCA\xFD\xD3\xDA\xC1\xE3", 0, 0, 0);
  return std::fmod(a, b);
}

int32_t realToInt(double value) {
  if (std::isnan(value)) return 0;
  const double truncated = std::trunc(value);
  // Values outside the 64-bit range (2^63 is not representable as int64).
  if (truncated >= 9223372036854775808.0 || truncated < -9223372036854775808.0) return 0;
  const auto wide = static_cast<int64_t>(truncated);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide) & 0xFFFFFFFFu));
}

// --- Environment -------------------------------------------------------------

void processEvents() { platform::pumpEventsIfWindowThread(); }

void sleepMs(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds));
}

Text runDirectory() {
  const std::string path = platform::executablePath();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return Text();
  return Text(std::string_view(path).substr(0, slash));
}

namespace {
// Written once at start-up before any other thread exists; read by the
// library loader. The mutex makes tests that change it safe as well.
std::mutex g_dllDirectoryMutex;
Text g_dllDirectory;
}  // namespace

Text setDllDirectory(std::optional<Text> directory) {
  Text next = directory.value_or(Text());
  if (!next.empty() && next.bytes().back() != '/') next = concatText({next, "/"});
  std::lock_guard<std::mutex> lock(g_dllDirectoryMutex);
  Text previous = g_dllDirectory;
  g_dllDirectory = next;
  return previous;
}

Text dllDirectory() {
  std::lock_guard<std::mutex> lock(g_dllDirectoryMutex);
  return g_dllDirectory;
}
