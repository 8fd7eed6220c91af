// image_decode.h: turns untrusted image bytes into a 32-bit RGB picture.
// The header is read first and images above kMaxImagePixels are refused
// before any pixel is decoded (decompression bombs); bytes that are no image,
// truncated files and everything Leptonica rejects give a null result.
// Thread-safe: no state beyond Leptonica's (silenced once) message level.
#ifndef OCR_IMAGE_DECODE_H_
#define OCR_IMAGE_DECODE_H_

#include <cstddef>
#include <cstdint>

#include "pix_handle.h"

namespace libocr {

// Largest picture the engine decodes: captchas are a few hundred pixels wide,
// so 4 megapixels leaves room for photographs of them without letting one
// request allocate gigabytes.
inline constexpr std::int64_t kMaxImagePixels = 4'000'000;
// Longest side accepted: a 1 x 4'000'000 strip is within the pixel budget but
// is no captcha, and the line reader would crawl over it.
inline constexpr int kMaxImageSide = 8'192;
// Largest encoded input: far beyond any captcha, bounds the work spent
// parsing what is probably garbage.
inline constexpr std::size_t kMaxImageBytes = 32u << 20;

// Decodes `data` (any format Leptonica reads: PNG, JPEG, GIF, BMP, TIFF,
// WebP, PNM, JPEG 2000, SPIX) into a 32 bpp RGB picture; transparency is
// flattened onto white. Null when the bytes are no acceptable image.
PixPtr decodeImage(const std::uint8_t* data, std::size_t length);

}  // namespace libocr

#endif  // OCR_IMAGE_DECODE_H_
