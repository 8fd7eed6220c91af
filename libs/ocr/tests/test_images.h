// test_images.h: pictures for the engine's tests, drawn at run time: dark
// text on white with OpenCV's stroke fonts, encoded by Leptonica in any of
// its formats.
#ifndef OCR_TEST_IMAGES_H_
#define OCR_TEST_IMAGES_H_

#include <opencv2/core.hpp>
#include <string>

namespace libocr::testing {

// `text` drawn large and clean on a white picture about 60 pixels high.
cv::Mat renderText(const std::string& text);

// `rgb` encoded in Leptonica's format `format` (IFF_PNG, IFF_JFIF_JPEG ...).
std::string encode(const cv::Mat& rgb, int format);

inline std::string textPng(const std::string& text) { return encode(renderText(text), 3); }

}  // namespace libocr::testing

#endif  // OCR_TEST_IMAGES_H_
