// captcha_cleanup.h: turns a captcha picture into black glyphs on white for
// the line reader. Captchas draw coloured or dark glyphs on a tinted, noisy
// background crossed by thin lines; the cleanup separates glyph pixels by
// their distance from the background colour, drops noise dots (small
// connected pieces), erodes away thin lines and scales the result up to the
// text height the line reader was trained on. Pure functions, thread-safe.
#ifndef OCR_CAPTCHA_CLEANUP_H_
#define OCR_CAPTCHA_CLEANUP_H_

#include <opencv2/core.hpp>

namespace libocr {

struct CleanupOptions {
  // Glyphs differ from the background in colour (true) or only in darkness.
  bool byColourDistance = true;
  // Remove lines thinner than the glyph strokes by a morphological opening.
  bool removeThinLines = true;
  // Remove connected pieces much smaller than a glyph.
  bool removeSpecks = true;
};

// `rgb` is 8-bit, 3 channels. The result is 8-bit, one channel, glyphs 0 on
// 255, with a white margin; empty when nothing glyph-like is left.
cv::Mat cleanCaptcha(const cv::Mat& rgb, const CleanupOptions& options);

// The part of `rgb` that holds the glyphs (with a small margin), found by
// the same cleanup: pictures with wide empty margins read better cut to it.
// The whole picture when nothing glyph-like is found.
cv::Rect glyphArea(const cv::Mat& rgb);

// True when the picture's background (the median colour of its border) is
// dark, i.e. the glyphs are probably light on dark.
bool hasDarkBackground(const cv::Mat& rgb);

}  // namespace libocr

#endif  // OCR_CAPTCHA_CLEANUP_H_
