// Conversions between the program's code page 936 texts, UTF-16LE ("wide")
// buffers and UTF-8 bytes, always by way of UTF-16LE. Request bodies arrive
// as UTF-8 and answers leave as UTF-8; everything inside is code page 936.
//
// Multi-byte input is read up to its first zero byte, wide input up to its
// first zero unit. Nothing fails: empty input gives an empty result, and what
// cannot be converted is replaced (by the platform's replacement character).
// Stateless; safe on any number of threads at once.
#ifndef REZ_RECOGNITION_CODE_PAGES_H_
#define REZ_RECOGNITION_CODE_PAGES_H_

#include "text/text.h"

inline constexpr int kCodePageGbk = 936;
inline constexpr int kCodePageUtf8 = 65001;

// Bytes in `codePage` to UTF-16LE units, ending in the zero unit 00 00 (which
// the length counts). Code pages other than 936 and 65001 give empty results.
ByteBuffer multiByteToWide(const ByteBuffer& bytes, int codePage);
// UTF-16LE units to bytes in `codePage`, without a terminating zero.
ByteBuffer wideToMultiByte(const ByteBuffer& wide, int codePage);

Text wideToText(const ByteBuffer& wide);
ByteBuffer textToWide(const Text& text);  // ends in the zero unit
Text utf8BytesToText(const ByteBuffer& bytes);
ByteBuffer textToUtf8Bytes(const Text& text);  // no terminating zero

#endif  // REZ_RECOGNITION_CODE_PAGES_H_
