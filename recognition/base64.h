// Decoding of the Base64 image text of a recognition request.
//
// base64Decode never rejects its input: spaces (20 hex and the full-width A1
// A1) and CR LF pairs are dropped first, a character outside the alphabet ends
// its group of four early, a position past the end reads as the value 0, and
// only the last group's surplus bytes are cut. These exact results are
// intended (a short last group without "=" still gives three bytes, so "QUI"
// is 41 42 00): the engine gets what the service has always given it, so do
// not tighten the parsing.
// Stateless; safe on any number of threads at once.
#ifndef REZ_RECOGNITION_BASE64_H_
#define REZ_RECOGNITION_BASE64_H_

#include "text/text.h"

// The standard alphabet; a character's value is its 0-based place in it.
inline constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The image bytes of `text`; empty when no bytes remain. Handles the calling
// thread's pending window events after every group (a no-op off the window
// thread), so a long decode on the window thread keeps the window alive.
ByteBuffer base64Decode(const Text& text);

#endif  // REZ_RECOGNITION_BASE64_H_
