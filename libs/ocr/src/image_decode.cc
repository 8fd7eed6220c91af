// Decoding of untrusted image bytes, with the size checks done on the header.
#include "image_decode.h"

#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE declared first
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace libocr {
namespace {

// Leptonica prints every decoding error on stderr; garbage input is routine
// for a network service, so the messages are switched off once per process.
void silenceLeptonica() {
  static std::once_flag once;
  std::call_once(once, [] { setMsgSeverity(L_SEVERITY_NONE); });
}

bool sizeAcceptable(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

int readLittle16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }

// A GIF may hold any number of frames and Leptonica's reader (giflib's
// slurp) decodes them all although only the first is used. This walks the
// block structure without decoding, checks the screen and first frame sizes
// and returns the bytes up to the end of the first frame followed by the
// trailer, so exactly one bounded frame is decoded. Nothing when the file is
// malformed, truncated or too large.
std::optional<std::vector<std::uint8_t>> firstGifFrame(const std::uint8_t* data,
                                                       std::size_t length) {
  constexpr std::size_t kHeaderBytes = 6 + 7;
  if (length < kHeaderBytes) return std::nullopt;
  if (!sizeAcceptable(readLittle16(data + 6), readLittle16(data + 8))) return std::nullopt;
  std::size_t pos = kHeaderBytes;
  const int screenFlags = data[10];
  if (screenFlags & 0x80) pos += 3u << ((screenFlags & 7) + 1);
  // Skips a chain of data sub-blocks ending in an empty one.
  auto skipSubBlocks = [&]() -> bool {
    while (pos < length) {
      const std::size_t size = data[pos++];
      if (size == 0) return true;
      pos += size;
    }
    return false;
  };
  while (pos < length) {
    const std::uint8_t introducer = data[pos++];
    if (introducer == 0x21) {  // extension: label, then sub-blocks
      if (pos >= length) return std::nullopt;
      ++pos;
      if (!skipSubBlocks()) return std::nullopt;
    } else if (introducer == 0x2C) {  // image descriptor
      if (length - pos < 9) return std::nullopt;
      if (!sizeAcceptable(readLittle16(data + pos + 4), readLittle16(data + pos + 6))) {
        return std::nullopt;
      }
      const int frameFlags = data[pos + 8];
      pos += 9;
      if (frameFlags & 0x80) pos += 3u << ((frameFlags & 7) + 1);
      ++pos;  // LZW minimum code size
      if (pos > length || !skipSubBlocks()) return std::nullopt;
      std::vector<std::uint8_t> single(data, data + pos);
      single.push_back(0x3B);
      return single;
    } else {  // the trailer before any frame, or no GIF block at all
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::uint32_t readBig32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// libpng and libjpeg print their complaints on stderr whatever Leptonica's
// message level, and truncated files are the commonest broken input. These
// checks refuse such files before the decoders see them: a PNG must be a
// chain of whole chunks up to IEND, a JPEG must contain its end marker.
bool pngComplete(const std::uint8_t* data, std::size_t length) {
  std::size_t pos = 8;  // signature
  while (length - pos >= 12) {
    const std::uint32_t chunkLength = readBig32(data + pos);
    const bool end = std::memcmp(data + pos + 4, "IEND", 4) == 0;
    if (chunkLength > length - pos - 12) return false;
    pos += 12 + chunkLength;
    if (end) return true;
  }
  return false;
}

bool jpegComplete(const std::uint8_t* data, std::size_t length) {
  // Entropy-coded data never holds FF D9 (a data FF is followed by 00), so
  // an end marker anywhere past the start means the scan was not cut off;
  // some writers put more data after it, which the decoder ignores.
  for (std::size_t i = length - 1; i >= 3; --i) {
    if (data[i] == 0xD9 && data[i - 1] == 0xFF) return true;
  }
  return false;
}

// JPEG is decoded here rather than by Leptonica: libjpeg writes its
// warnings about corrupt data on stderr unless its message hook is
// replaced, and a progressive file can make it run through an unbounded
// number of scans. This decoder is silent and stops after kMaxJpegScans.
constexpr int kMaxJpegScans = 64;

struct JpegErrorState {
  jpeg_error_mgr manager;
  std::jmp_buf escape;
};

[[noreturn]] void jpegFail(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegErrorState*>(info->err)->escape, 1);
}
void jpegSilent(j_common_ptr) {}
void jpegLimitScans(j_common_ptr info) {
  if (info->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxJpegScans) {
    jpegFail(info);
  }
}

// Fills `pix` (made here, 32 bpp) from the JPEG in `data`. Only plain C
// objects live in this function, as the error path leaves it by longjmp.
bool decodeJpegInto(const std::uint8_t* data, std::size_t length, Pix** pix) {
  jpeg_decompress_struct info;
  JpegErrorState error;
  jpeg_progress_mgr progress;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = jpegFail;
  error.manager.output_message = jpegSilent;
  jpeg_create_decompress(&info);
  if (setjmp(error.escape)) {
    jpeg_destroy_decompress(&info);
    if (*pix) pixDestroy(pix);
    return false;
  }
  progress.progress_monitor = jpegLimitScans;
  info.progress = &progress;
  jpeg_mem_src(&info, data, static_cast<unsigned long>(length));
  jpeg_read_header(&info, TRUE);
  if (!sizeAcceptable(info.image_width, info.image_height))
    jpegFail(reinterpret_cast<j_common_ptr>(&info));
  // Gray and YCbCr files come out as RGB; CMYK and YCCK ones (Adobe's
  // inverted CMYK) as CMYK, turned into RGB below as Leptonica does.
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&info);
  const int components = cmyk ? 4 : 3;
  if (info.output_components != components) jpegFail(reinterpret_cast<j_common_ptr>(&info));
  *pix = pixCreate(static_cast<l_int32>(info.output_width),
                   static_cast<l_int32>(info.output_height), 32);
  if (*pix == nullptr) jpegFail(reinterpret_cast<j_common_ptr>(&info));
  JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                             info.output_width * components, 1);
  l_uint32* out = pixGetData(*pix);
  const l_int32 wordsPerLine = pixGetWpl(*pix);
  while (info.output_scanline < info.output_height) {
    const JDIMENSION y = info.output_scanline;
    jpeg_read_scanlines(&info, row, 1);
    l_uint32* line = out + static_cast<std::ptrdiff_t>(y) * wordsPerLine;
    for (JDIMENSION x = 0; x < info.output_width; ++x) {
      const JSAMPLE* p = row[0] + components * x;
      l_uint32 r = p[0], g = p[1], b = p[2];
      if (cmyk) {
        r = r * p[3] / 255;
        g = g * p[3] / 255;
        b = b * p[3] / 255;
      }
      line[x] = (r << L_RED_SHIFT) | (g << L_GREEN_SHIFT) | (b << L_BLUE_SHIFT);
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

PixPtr decodeJpeg(const std::uint8_t* data, std::size_t length) {
  Pix* pix = nullptr;
  if (!decodeJpegInto(data, length, &pix)) return nullptr;
  return PixPtr(pix);
}

// Brings any depth and colour map to 32 bpp RGB; transparent pixels become
// white, which is what a browser shows behind a captcha without background.
PixPtr toRgb(PixPtr pix) {
  if (pixGetDepth(pix.get()) == 32 && pixGetSpp(pix.get()) == 4) {
    pix.reset(pixAlphaBlendUniform(pix.get(), 0xffffff00));
    if (!pix) return nullptr;
  }
  if (pixGetDepth(pix.get()) != 32) pix.reset(pixConvertTo32(pix.get()));
  if (pix) pixSetSpp(pix.get(), 3);
  return pix;
}

}  // namespace

PixPtr decodeImage(const std::uint8_t* data, std::size_t length) {
  if (data == nullptr || length == 0 || length > kMaxImageBytes) return nullptr;
  silenceLeptonica();
  // Format detection looks at a fixed number of leading bytes whatever the
  // length, so short inputs are padded with zeros before it looks.
  std::array<std::uint8_t, 16> head{};
  std::memcpy(head.data(), data, std::min(length, head.size()));
  l_int32 format = IFF_UNKNOWN;
  if (findFileFormatBuffer(head.data(), &format) != 0 || format == IFF_UNKNOWN) return nullptr;

  PixPtr pix;
  if (format == IFF_GIF) {
    const auto single = firstGifFrame(data, length);
    if (!single) return nullptr;
    pix.reset(pixReadMem(single->data(), single->size()));
  } else {
    if (length < head.size()) return nullptr;  // no real header fits in fewer bytes
    if (format == IFF_PNG && !pngComplete(data, length)) return nullptr;
    if (format == IFF_JFIF_JPEG) {
      if (!jpegComplete(data, length)) return nullptr;
      pix = decodeJpeg(data, length);
      if (!pix) return nullptr;
      return toRgb(std::move(pix));
    }
    l_int32 width = 0, height = 0, bps = 0, spp = 0, colormapped = 0;
    if (pixReadHeaderMem(data, length, &format, &width, &height, &bps, &spp, &colormapped) != 0 ||
        !sizeAcceptable(width, height)) {
      return nullptr;
    }
    pix.reset(pixReadMem(data, length));
  }
  // The decoder may disagree with the header it reported (TIFF pages, odd
  // files): the limit is checked again on what was actually decoded.
  if (!pix || !sizeAcceptable(pixGetWidth(pix.get()), pixGetHeight(pix.get()))) return nullptr;
  return toRgb(std::move(pix));
}

}  // namespace libocr
