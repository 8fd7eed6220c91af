// The decoder works on the bytes directly, with a lookup table in place of a
// search of the alphabet per character, so that it stays linear and fast on
// megabyte images. Its results are those of the character-by-character
// procedure (clean with removeAllSpaces and a CR LF replaceSubtext, then look
// every byte up with findText(alphabet, charFromCode(byte))); the tests keep
// that procedure and compare the two on random texts.
#include "recognition/base64.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/environment.h"
#include "text/text_ops.h"

namespace {

constexpr int kNotInAlphabet = -1;
constexpr int kGroupChars = 4;
constexpr int kGroupBytes = 3;
constexpr uint8_t kLeadByteMin = 0x80;         // code page 936: 80..FF starts a two-byte character
constexpr uint8_t kFullWidthSpaceByte = 0xA1;  // A1 A1 is the full-width space

// Value of every byte in the alphabet, kNotInAlphabet for every other byte.
// The byte 0 never occurs inside a Text; a position past the end of the text
// reads as the value 0 and is handled by the decoder itself.
constexpr std::array<int, 256> makeValueTable() {
  std::array<int, 256> table{};
  for (int& value : table) value = kNotInAlphabet;
  for (int i = 0; kBase64Alphabet[i] != '\0'; ++i) {
    table[static_cast<uint8_t>(kBase64Alphabet[i])] = i;
  }
  return table;
}
constexpr std::array<int, 256> kValue = makeValueTable();

// Bytes that the cleaning can change: the space, CR (of a CR LF pair) and
// every lead byte (the full-width space A1 A1, a lone lead byte at the end,
// and a two-byte character hiding a space, CR or LF as its second byte).
constexpr bool needsCleaning(uint8_t byte) {
  return byte == ' ' || byte == '\r' || byte >= kLeadByteMin;
}

// The same test on eight bytes at once (the usual zero-byte trick).
constexpr bool anyNeedsCleaning(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101, kHighBits = 0x8080808080808080;
  auto hasZeroByte = [](uint64_t v) { return ((v - kOnes) & ~v & kHighBits) != 0; };
  return (word & kHighBits) != 0 || hasZeroByte(word ^ (kOnes * ' ')) ||
         hasZeroByte(word ^ (kOnes * '\r'));
}

// The length of the prefix of `in` that cleaning leaves as it is.
size_t cleanPrefixLength(std::string_view in) {
  size_t i = 0;
  for (uint64_t word; i + sizeof word <= in.size(); i += sizeof word) {
    std::memcpy(&word, in.data() + i, sizeof word);
    if (anyNeedsCleaning(word)) break;
  }
  while (i < in.size() && !needsCleaning(static_cast<uint8_t>(in[i]))) ++i;
  return i;
}

// removeAllSpaces followed by removing every CR LF pair, in one walk. Both
// walk whole code-page-936 characters, and removeAllSpaces keeps characters
// whole, so the pairs it leaves are exactly the single-byte CR directly
// followed by a single-byte LF among the kept characters. A pair that was
// removed is not searched again ("\r\r\n\n" leaves "\r\n"), and a lone lead
// byte at the end is dropped. Texts without any byte that cleaning can change
// (the usual Base64 image) come back as they are, without a copy.
std::string_view cleanText(std::string_view in, std::string& storage) {
  const size_t n = in.size();
  size_t i = cleanPrefixLength(in);
  if (i == n) return in;

  storage.assign(in.substr(0, i));
  storage.reserve(n);
  bool lastKeptIsSingleCr = false;
  while (i < n) {
    const auto byte = static_cast<uint8_t>(in[i]);
    if (byte < kLeadByteMin) {
      ++i;
      if (byte == ' ') continue;
      if (byte == '\n' && lastKeptIsSingleCr) {
        storage.pop_back();
        lastKeptIsSingleCr = false;
        continue;
      }
      storage.push_back(static_cast<char>(byte));
      lastKeptIsSingleCr = byte == '\r';
      continue;
    }
    if (i + 1 >= n) break;  // a lone lead byte ends the walk
    const auto trail = static_cast<uint8_t>(in[i + 1]);
    i += 2;
    if (byte == kFullWidthSpaceByte && trail == kFullWidthSpaceByte) continue;
    storage.push_back(static_cast<char>(byte));
    storage.push_back(static_cast<char>(trail));
    lastKeptIsSingleCr = false;
  }
  return storage;
}

}  // namespace

ByteBuffer base64Decode(const Text& text) {
  std::string storage;
  const std::string_view cleaned = cleanText(text.view(), storage);
  const auto* chars = reinterpret_cast<const uint8_t*>(cleaned.data());
  const size_t length = cleaned.size();
  const size_t groups = (length + kGroupChars - 1) / kGroupChars;
  std::vector<uint8_t> output(groups * kGroupBytes);

  // The slots are deliberately not cleared between groups: a group that ends
  // early leaves the slots it did not reach as the group before left them,
  // and its three bytes are built from them as they stand.
  unsigned slot[kGroupChars] = {0, 0, 0, 0};
  int stop = kGroupChars + 1;  // where the current group ended; 5 when complete
  uint8_t* out = output.data();
  // Window events are handled after every group, so that a long decode on the
  // window thread keeps the window alive. Off the window thread processEvents
  // returns at once, and this thread cannot become the window thread while it
  // decodes, so there the calls are left out (they would cost a sixth of the
  // decoding time).
  const bool onWindowThread = platform::onWindowThread();
  for (size_t first = 0; first < length; first += kGroupChars) {
    stop = kGroupChars + 1;
    if (length - first >= kGroupChars) {
      const int v0 = kValue[chars[first]], v1 = kValue[chars[first + 1]];
      const int v2 = kValue[chars[first + 2]], v3 = kValue[chars[first + 3]];
      if ((v0 | v1 | v2 | v3) >= 0) {
        // The usual group: four characters of the alphabet.
        out[0] = static_cast<uint8_t>(v0 << 2 | v1 >> 4);
        out[1] = static_cast<uint8_t>(v1 << 4 | v2 >> 2);
        out[2] = static_cast<uint8_t>(v2 << 6 | v3);
        out += kGroupBytes;
        slot[0] = static_cast<unsigned>(v0);
        slot[1] = static_cast<unsigned>(v1);
        slot[2] = static_cast<unsigned>(v2);
        slot[3] = static_cast<unsigned>(v3);
        if (onWindowThread) processEvents();
        continue;
      }
    }
    // A group with a character outside the alphabet, or the short last one.
    for (int k = 0; k < kGroupChars; ++k) {
      const size_t position = first + static_cast<size_t>(k);
      if (position >= length) {
        slot[k] = 0;  // past the end reads as the value 0, like "A"
        continue;
      }
      const uint8_t byte = chars[position];
      const int value = kValue[byte];
      if (value == kNotInAlphabet) {
        slot[k] = byte;  // the raw byte stays in its slot
        stop = k + 1;
        break;
      }
      slot[k] = static_cast<unsigned>(value);
    }
    // The group's bytes from the slots as they stand.
    *out++ = static_cast<uint8_t>(slot[0] * 4 | slot[1] / 16);
    *out++ = static_cast<uint8_t>(slot[1] * 16 | slot[2] / 4);
    *out++ = static_cast<uint8_t>(slot[2] * 64 | slot[3]);
    if (onWindowThread) processEvents();
  }

  // Only the last group's surplus is cut: 5 - stop bytes when it ended at its
  // second to fourth character. One that ended at its first character (as in
  // "QUJD=") carried no data: its own three bytes go, and the real data byte
  // before them stays.
  if (groups > 0 && stop <= kGroupChars) {
    const int cut = stop == 1 ? kGroupBytes : kGroupChars + 1 - stop;
    output.resize(output.size() - static_cast<size_t>(cut));
  }
  return ByteBuffer(std::move(output));
}
