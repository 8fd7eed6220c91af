// Captcha cleanup for the line reader: glyph mask, specks, lines, scale.
#include "captcha_cleanup.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace libocr {
namespace {

// Height the picture is brought to before thresholding: the line reader
// reads best with glyphs 30-60 pixels tall, and thresholds act on smoother
// edges after upscaling than before.
constexpr double kWorkHeight = 96.0;
constexpr double kMaxUpscale = 4.0;
// White margin around the glyphs: the line reader misreads glyphs touching
// the picture's edge.
constexpr int kMarginPixels = 12;
// Diameter of the line-removing opening relative to the stroke depth (the
// upper-quartile distance of glyph pixels to the background).
// Backgrounds darker than this (0-255 luma) hold light glyphs.
constexpr int kDarkLuma = 110;
constexpr double kLineOpeningToDepth = 1.2;

// Median colour of the outermost rows and columns: captchas leave a margin
// of background around the glyphs, so this is the background colour even
// where noise covers part of it.
cv::Vec3b borderMedian(const cv::Mat& rgb) {
  std::array<std::vector<std::uint8_t>, 3> channels;
  auto take = [&](int y, int x) {
    const cv::Vec3b& p = rgb.at<cv::Vec3b>(y, x);
    for (int c = 0; c < 3; ++c) channels[c].push_back(p[c]);
  };
  for (int x = 0; x < rgb.cols; ++x) {
    take(0, x);
    take(rgb.rows - 1, x);
  }
  for (int y = 1; y + 1 < rgb.rows; ++y) {
    take(y, 0);
    take(y, rgb.cols - 1);
  }
  cv::Vec3b median;
  for (int c = 0; c < 3; ++c) {
    auto& v = channels[c];
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    median[c] = v[v.size() / 2];
  }
  return median;
}

int luma(const cv::Vec3b& rgb) { return (299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2]) / 1000; }

// Per pixel, how far it is from the background: the largest channel
// difference (coloured glyphs on a tinted ground) or the luma difference.
cv::Mat glyphEvidence(const cv::Mat& rgb, bool byColourDistance) {
  const cv::Vec3b background = borderMedian(rgb);
  cv::Mat evidence;
  if (byColourDistance) {
    cv::Mat diff;
    cv::absdiff(rgb, cv::Scalar(background[0], background[1], background[2]), diff);
    std::array<cv::Mat, 3> parts;
    cv::split(diff, parts.data());
    cv::max(parts[0], parts[1], evidence);
    cv::max(evidence, parts[2], evidence);
  } else {
    cv::Mat gray;
    cv::cvtColor(rgb, gray, cv::COLOR_RGB2GRAY);
    // Dark glyphs on light ground, or light glyphs on dark ground.
    if (luma(background) >= kDarkLuma) {
      evidence = 255 - gray;
    } else {
      evidence = gray;
    }
  }
  return evidence;
}

// Glyph pixels (255) of `work` after the cleanup steps `options` ask for.
cv::Mat glyphMask(const cv::Mat& work, const CleanupOptions& options) {
  cv::Mat evidence = glyphEvidence(work, options.byColourDistance);
  cv::medianBlur(evidence, evidence, 3);
  cv::Mat mask;
  cv::threshold(evidence, mask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);

  if (options.removeThinLines) {
    // Glyph strokes make up most of the glyph pixels, so a high quantile of
    // the distance to the background is about half their width; crossing
    // lines are thinner, and an opening a little over half the stroke width
    // wipes them out while the strokes survive.
    cv::Mat distance;
    cv::distanceTransform(mask, distance, cv::DIST_L2, 3);
    std::vector<float> depths;
    for (int y = 0; y < distance.rows; ++y) {
      const float* row = distance.ptr<float>(y);
      for (int x = 0; x < distance.cols; ++x) {
        if (row[x] > 0) depths.push_back(row[x]);
      }
    }
    if (!depths.empty()) {
      auto quantile = depths.begin() + depths.size() * 3 / 4;
      std::nth_element(depths.begin(), quantile, depths.end());
      const int size = std::max(2, static_cast<int>(std::lround(*quantile * kLineOpeningToDepth)));
      cv::morphologyEx(mask, mask, cv::MORPH_OPEN,
                       cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(size, size)));
    }
  }
  if (options.removeSpecks) {
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8);
    const double minimumSide = work.rows * 0.07;
    const int minimumArea = static_cast<int>(minimumSide * minimumSide);
    std::vector<std::uint8_t> keep(count, 0);
    for (int i = 1; i < count; ++i) {
      const bool tallEnough = stats.at<int>(i, cv::CC_STAT_HEIGHT) >= minimumSide;
      keep[i] = stats.at<int>(i, cv::CC_STAT_AREA) >= minimumArea && tallEnough;
    }
    for (int y = 0; y < mask.rows; ++y) {
      const int* label = labels.ptr<int>(y);
      std::uint8_t* out = mask.ptr<std::uint8_t>(y);
      for (int x = 0; x < mask.cols; ++x) out[x] = keep[label[x]] ? 255 : 0;
    }
  }
  return mask;
}

}  // namespace

cv::Mat cleanCaptcha(const cv::Mat& rgb, const CleanupOptions& options) {
  if (rgb.empty() || rgb.type() != CV_8UC3 || rgb.rows < 3 || rgb.cols < 3) return {};
  cv::Mat work = rgb;
  const double scale = std::clamp(kWorkHeight / rgb.rows, 1.0, kMaxUpscale);
  if (scale > 1.0) cv::resize(rgb, work, cv::Size(), scale, scale, cv::INTER_CUBIC);
  const cv::Mat mask = glyphMask(work, options);
  if (cv::countNonZero(mask) == 0) return {};
  cv::Mat page = 255 - mask;
  cv::copyMakeBorder(page, page, kMarginPixels, kMarginPixels, kMarginPixels, kMarginPixels,
                     cv::BORDER_CONSTANT, cv::Scalar(255));
  return page;
}

bool hasDarkBackground(const cv::Mat& rgb) {
  if (rgb.empty() || rgb.type() != CV_8UC3) return false;
  return luma(borderMedian(rgb)) < kDarkLuma;
}

cv::Rect glyphArea(const cv::Mat& rgb) {
  const cv::Rect whole(0, 0, rgb.cols, rgb.rows);
  if (rgb.empty() || rgb.type() != CV_8UC3 || rgb.rows < 3 || rgb.cols < 3) return whole;
  const cv::Mat mask = glyphMask(rgb, {});
  const cv::Rect glyphs = cv::boundingRect(mask);
  if (glyphs.empty()) return whole;
  const int pad = std::max(2, glyphs.height / 6);
  return cv::Rect(glyphs.x - pad, glyphs.y - pad, glyphs.width + 2 * pad, glyphs.height + 2 * pad) &
         whole;
}

}  // namespace libocr
