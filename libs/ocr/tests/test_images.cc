#include "test_images.h"

#include <leptonica/allheaders.h>

#include <opencv2/imgproc.hpp>

#include "pix_handle.h"

namespace libocr::testing {

cv::Mat renderText(const std::string& text) {
  const int font = cv::FONT_HERSHEY_DUPLEX;
  const double scale = 1.3;
  const int thickness = 2;
  int baseline = 0;
  const cv::Size size = cv::getTextSize(text, font, scale, thickness, &baseline);
  cv::Mat rgb(size.height + baseline + 24, size.width + 24, CV_8UC3, cv::Scalar(255, 255, 255));
  cv::putText(rgb, text, cv::Point(12, size.height + 12), font, scale, cv::Scalar(20, 20, 20),
              thickness, cv::LINE_AA);
  return rgb;
}

std::string encode(const cv::Mat& rgb, int format) {
  PixPtr pix(pixCreate(rgb.cols, rgb.rows, 32));
  for (int y = 0; y < rgb.rows; ++y) {
    for (int x = 0; x < rgb.cols; ++x) {
      const cv::Vec3b p = rgb.at<cv::Vec3b>(y, x);
      pixSetRGBPixel(pix.get(), x, y, p[0], p[1], p[2]);
    }
  }
  // GIF and colour-mapped formats want 8 bits; the rest take RGB.
  if (format == IFF_GIF) pix.reset(pixConvertRGBToColormap(pix.get(), 1));
  l_uint8* data = nullptr;
  size_t size = 0;
  if (pixWriteMem(&data, &size, pix.get(), format) != 0 || data == nullptr) return {};
  std::string bytes(reinterpret_cast<const char*>(data), size);
  lept_free(data);
  return bytes;
}

}  // namespace libocr::testing
