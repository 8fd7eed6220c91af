// The decoder works on the bytes directly, with a lookup table in place of a
// search of the alphabet per character, so that it stays linear and fast on
// megabyte images. Its results are those of the character-by-character
// procedure (clean with removeAllSpaces and a CR LF replaceSubtext, then look
// every byte up with findText(alphabet, charFromCode(byte))); the tests keep
// that procedure and compare the two on random texts.
#include "recognition/base64.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// removeAllSpaces followed by removing every CR LF pair, in one walk. Both
// walk whole code-page-936 characters, and removeAllSpaces keeps characters
// whole, so the pairs it leaves are exactly the single-byte CR directly
// followed by a single-byte LF among the kept characters. A pair that was
// removed is not searched again ("\r\r\n\n" leaves "\r\n"), and a lone lead
// byte at the end is dropped.
std::string cleanText(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  bool lastKeptIsSingleCr = false;
  const size_t n = in.size();
  size_t i = 0;
  while (i < n) {
    const auto byte = static_cast<uint8_t>(in[i]);
    if (byte < kLeadByteMin) {
      ++i;
      if (byte == ' ') continue;
      if (byte == '\n' && lastKeptIsSingleCr) {
        out.pop_back();
        lastKeptIsSingleCr = false;
        continue;
      }
      out.push_back(static_cast<char>(byte));
      lastKeptIsSingleCr = byte == '\r';
      continue;
    }
    if (i + 1 >= n) break;  // a lone lead byte ends the walk
    const auto trail = static_cast<uint8_t>(in[i + 1]);
    i += 2;
    if (byte == kFullWidthSpaceByte && trail == kFullWidthSpaceByte) continue;
    out.push_back(static_cast<char>(byte));
    out.push_back(static_cast<char>(trail));
    lastKeptIsSingleCr = false;
  }
  return out;
}

}  // namespace

ByteBuffer base64Decode(const Text& text) {
  const std::string cleaned = cleanText(text.view());
  const size_t length = cleaned.size();
  const size_t groups = (length + kGroupChars - 1) / kGroupChars;
  std::vector<uint8_t> output(groups * kGroupBytes);

  // The slots are deliberately not cleared between groups: a group that ends
  // early leaves the slots it did not reach as the group before left them,
  // and its three bytes are built from them as they stand.
  unsigned slot[kGroupChars] = {0, 0, 0, 0};
  int stop = kGroupChars + 1;  // where the current group ended; 5 when complete
  uint8_t* out = output.data();
  for (size_t g = 0; g < groups; ++g) {
    stop = kGroupChars + 1;
    for (int k = 0; k < kGroupChars; ++k) {
      const size_t position = g * kGroupChars + k;
      if (position >= length) {
        slot[k] = 0;  // past the end reads as the value 0, like "A"
        continue;
      }
      const auto byte = static_cast<uint8_t>(cleaned[position]);
      const int value = kValue[byte];
      if (value == kNotInAlphabet) {
        slot[k] = byte;  // the raw byte stays in its slot
        stop = k + 1;
        break;
      }
      slot[k] = static_cast<unsigned>(value);
    }
    *out++ = static_cast<uint8_t>(slot[0] * 4 | slot[1] / 16);
    *out++ = static_cast<uint8_t>(slot[1] * 16 | slot[2] / 4);
    *out++ = static_cast<uint8_t>(slot[2] * 64 | slot[3]);
    processEvents();
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
