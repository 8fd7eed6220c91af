// Decoding of untrusted bytes: every Leptonica format in, garbage and bombs
// out before they cost anything.
#include "image_decode.h"

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include <string>
#include <vector>

#include "test_images.h"

namespace libocr {
namespace {

using testing::encode;
using testing::renderText;

PixPtr decode(const std::string& bytes) {
  return decodeImage(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(DecodeImage, ReadsEveryFormatAsRgbOfTheSameSize) {
  const cv::Mat picture = renderText("AB12");
  const struct {
    const char* name;
    int format;
  } formats[] = {{"png", IFF_PNG}, {"jpeg", IFF_JFIF_JPEG}, {"gif", IFF_GIF},
                 {"bmp", IFF_BMP}, {"tiff", IFF_TIFF_ZIP},  {"webp", IFF_WEBP},
                 {"pnm", IFF_PNM}, {"jp2", IFF_JP2},        {"spix", IFF_SPIX}};
  for (const auto& f : formats) {
    SCOPED_TRACE(f.name);
    const std::string bytes = encode(picture, f.format);
    ASSERT_FALSE(bytes.empty());
    PixPtr pix = decode(bytes);
    ASSERT_TRUE(pix);
    EXPECT_EQ(pixGetWidth(pix.get()), picture.cols);
    EXPECT_EQ(pixGetHeight(pix.get()), picture.rows);
    EXPECT_EQ(pixGetDepth(pix.get()), 32);
  }
}

TEST(DecodeImage, RefusesBytesThatAreNoCompleteImage) {
  const std::string png = encode(renderText("AB12"), IFF_PNG);
  const std::string gif = encode(renderText("AB12"), IFF_GIF);
  const std::string jpeg = encode(renderText("AB12"), IFF_JFIF_JPEG);
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"one byte", "x"},
      {"text", "this is no picture at all, only words"},
      {"png signature only", png.substr(0, 8)},
      {"png header only", png.substr(0, 40)},
      {"png cut in half", png.substr(0, png.size() / 2)},
      {"gif header only", gif.substr(0, 13)},
      {"gif cut in half", gif.substr(0, gif.size() / 2)},
      {"jpeg header only", jpeg.substr(0, 30)},
      {"bmp magic and zeros", std::string("BM") + std::string(60, '\0')},
  };
  for (const auto& [name, bytes] : cases) {
    EXPECT_FALSE(decode(bytes)) << name;
  }
  EXPECT_FALSE(decodeImage(nullptr, 0));
  EXPECT_FALSE(decodeImage(nullptr, 100));
}

// A picture just over the pixel limit is refused although it is a valid,
// tiny file (one colour compresses to almost nothing), and one just under is
// read: the limit, not the file, decides.
TEST(DecodeImage, RefusesPicturesAboveThePixelLimitFromTheirHeader) {
  auto blank = [](int width, int height, int format) {
    PixPtr pix(pixCreate(width, height, 1));
    l_uint8* data = nullptr;
    size_t size = 0;
    pixWriteMem(&data, &size, pix.get(), format);
    std::string bytes(reinterpret_cast<const char*>(data), size);
    lept_free(data);
    return bytes;
  };
  const int side = 2000;  // 4 megapixels
  static_assert(static_cast<std::int64_t>(side) * side <= kMaxImagePixels);
  for (int format : {IFF_PNG, IFF_TIFF_G4, IFF_GIF}) {
    SCOPED_TRACE(format);
    EXPECT_TRUE(decode(blank(side, side, format)));
    EXPECT_FALSE(decode(blank(side + 1, side, format)));
    EXPECT_FALSE(decode(blank(kMaxImageSide + 1, 10, format)));
  }
}

// Index of the first image descriptor of a GIF written by Leptonica (after
// the screen descriptor, the global colour table and any extensions).
std::size_t firstFrameStart(const std::string& gif) {
  std::size_t pos = 13;
  if (static_cast<std::uint8_t>(gif[10]) & 0x80) pos += 3u << ((gif[10] & 7) + 1);
  while (gif[pos] == 0x21) {
    pos += 2;
    while (gif[pos] != 0) pos += 1 + static_cast<std::uint8_t>(gif[pos]);
    ++pos;
  }
  return pos;
}

// Only the first frame of a GIF is decoded: later frames, however large
// they claim to be or however many there are, cost nothing.
TEST(DecodeImage, ReadsOnlyTheFirstFrameOfAGif) {
  const std::string gif = encode(renderText("AB12"), IFF_GIF);
  const std::size_t start = firstFrameStart(gif);
  ASSERT_EQ(gif[start], 0x2C);
  ASSERT_EQ(gif.back(), 0x3B);
  const std::string frame = gif.substr(start, gif.size() - 1 - start);
  std::string huge = frame;
  huge[5] = huge[6] = huge[7] = huge[8] = '\xff';  // 65535 x 65535 at offset 0
  std::string animated = gif.substr(0, start);
  for (int i = 0; i < 200; ++i) animated += frame;
  animated += huge + ";";
  PixPtr pix = decode(animated);
  ASSERT_TRUE(pix);
  EXPECT_EQ(pixGetWidth(pix.get()), renderText("AB12").cols);

  // A first frame above the limit is refused, as is a GIF without frames.
  EXPECT_FALSE(decode(gif.substr(0, start) + huge + ";"));
  EXPECT_FALSE(decode(gif.substr(0, start) + ";"));
}

}  // namespace
}  // namespace libocr
