// One thread's engine: decoding, the readers in order of preference, and the
// sequence of distinct readings for repeated calls.
#include "recogniser.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <string_view>

#include "captcha_cleanup.h"
#include "charset.h"
#include "image_decode.h"

namespace libocr {
namespace {

// The ways of reading an image, in order of preference: the first gives the
// answer to a new image, the others only serve retries.
enum class Stage {
  kLearned,               // CTC reader: best reading of each length
  kCleanColourLine,       // Tesseract on glyphs separated by colour, lines removed
  kCleanDarkLine,         // ... separated by darkness
  kCleanColourKeepLines,  // ... thin strokes kept (light fonts)
  kCleanColourWord,       // colour separation, read as one word
  kRawLine,               // the picture as it is, gray
};
constexpr std::array kStages = {Stage::kLearned,         Stage::kCleanColourLine,
                                Stage::kCleanDarkLine,   Stage::kCleanColourKeepLines,
                                Stage::kCleanColourWord, Stage::kRawLine};

// OpenCV's worker pool is process-wide: with one engine per request thread
// the request threads already use the cores, and the pool's threads would
// only compete with them.
void configureLibrariesOnce() {
  static std::once_flag once;
  std::call_once(once, [] { cv::setNumThreads(1); });
}

cv::Mat pixToRgb(Pix* pix) {
  const int width = pixGetWidth(pix), height = pixGetHeight(pix);
  cv::Mat rgb(height, width, CV_8UC3);
  const l_uint32* data = pixGetData(pix);
  const int wordsPerLine = pixGetWpl(pix);
  for (int y = 0; y < height; ++y) {
    const l_uint32* line = data + static_cast<std::ptrdiff_t>(y) * wordsPerLine;
    auto* out = rgb.ptr<cv::Vec3b>(y);
    for (int x = 0; x < width; ++x) {
      out[x] = cv::Vec3b(static_cast<std::uint8_t>(line[x] >> L_RED_SHIFT),
                         static_cast<std::uint8_t>(line[x] >> L_GREEN_SHIFT),
                         static_cast<std::uint8_t>(line[x] >> L_BLUE_SHIFT));
    }
  }
  return rgb;
}

std::string describeMissingTessdata() {
  const std::string path = tessdataDirectory() + "/eng.traineddata";
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    return "Tesseract language data " + path + " not found (install tesseract-ocr-eng)";
  }
  return "Tesseract language data " + path + " could not be loaded";
}

}  // namespace

Recogniser::Recogniser(const std::string& modelDirectory) {
  configureLibrariesOnce();
  std::vector<std::string> missing;
  std::string learnedProblem;
  learned_ = LearnedReader::load(modelDirectory, &learnedProblem);
  if (!learned_) missing.push_back(learnedProblem + ": reading with Tesseract alone");
  if (!tesseract_.ready()) missing.push_back(describeMissingTessdata());
  for (const std::string& m : missing) {
    if (!problems_.empty()) problems_ += "; ";
    problems_ += m;
  }
}

const std::string& Recogniser::recognise(const std::uint8_t* data, std::size_t length) {
  const std::size_t hash = data == nullptr ? 0
                                           : std::hash<std::string_view>{}(std::string_view(
                                                 reinterpret_cast<const char*>(data), length));
  const bool retry = haveImage_ && hash == imageHash_ && length == imageLength_ &&
                     std::chrono::steady_clock::now() - lastCallEnd_ <= kRetryWindow;
  if (!retry) {
    startImage(data, length);
    imageHash_ = hash;
    imageLength_ = length;
    haveImage_ = true;
  }
  result_ = rgb_.empty() ? std::string() : nextReading();
  lastCallEnd_ = std::chrono::steady_clock::now();
  return result_;
}

void Recogniser::startImage(const std::uint8_t* data, std::size_t length) {
  candidates_.clear();
  given_.clear();
  nextStage_ = 0;
  learnedBestLogProbability_ = 0.0;
  rgb_.release();
  if (PixPtr pix = decodeImage(data, length)) rgb_ = pixToRgb(pix.get());
}

std::string Recogniser::nextReading() {
  auto alreadyGiven = [&](const std::string& text) {
    return std::find(given_.begin(), given_.end(), text) != given_.end();
  };
  auto lengthGiven = [&](const std::string& text) {
    return std::any_of(given_.begin(), given_.end(),
                       [&](const std::string& g) { return g.size() == text.size(); });
  };
  if (candidates_.empty() && nextStage_ == 0) {
    runNextStage();  // the learned reader
    const bool trusted = learned_ && !candidates_.empty() &&
                         learnedBestLogProbability_ >= std::log(kLearnedTrustedProbability);
    if (!trusted) {
      // The line reader's reading goes before the learned ones.
      const std::vector<std::string> learned = std::move(candidates_);
      candidates_.clear();
      runNextStage();
      for (const std::string& r : learned) {
        if (std::find(candidates_.begin(), candidates_.end(), r) == candidates_.end()) {
          candidates_.push_back(r);
        }
      }
    }
  }
  // A retry means the reading had the wrong length for the caller, so a
  // reading of a new length is preferred; then any reading not yet given.
  for (const bool newLengthOnly : {true, false}) {
    for (;;) {
      for (const std::string& candidate : candidates_) {
        if (!alreadyGiven(candidate) && !(newLengthOnly && lengthGiven(candidate))) {
          given_.push_back(candidate);
          return candidate;
        }
      }
      if (!runNextStage()) break;
    }
  }
  // Every reading has been given: start over with the best one.
  given_.clear();
  if (candidates_.empty()) return {};
  given_.push_back(candidates_.front());
  return candidates_.front();
}

bool Recogniser::runNextStage() {
  if (nextStage_ >= static_cast<int>(kStages.size())) return false;
  const Stage stage = kStages[nextStage_++];
  std::vector<std::string> readings;
  auto readClean = [&](const CleanupOptions& options, TesseractReader::Layout layout) {
    const cv::Mat page = cleanCaptcha(rgb_, options);
    if (!page.empty()) readings.push_back(tesseract_.read(page, layout));
  };
  switch (stage) {
    case Stage::kLearned:
      if (learned_) {
        const std::vector<ScoredReading> scored = learned_->read(rgb_);
        learnedBestLogProbability_ = scored.empty() ? -INFINITY : scored.front().logProbability;
        for (const ScoredReading& r : scored) readings.push_back(keepCharset(r.text));
      }
      break;
    case Stage::kCleanColourLine:
      readClean({}, TesseractReader::Layout::kSingleLine);
      break;
    case Stage::kCleanDarkLine:
      readClean({.byColourDistance = false}, TesseractReader::Layout::kSingleLine);
      break;
    case Stage::kCleanColourKeepLines:
      readClean({.removeThinLines = false}, TesseractReader::Layout::kSingleLine);
      break;
    case Stage::kCleanColourWord:
      readClean({}, TesseractReader::Layout::kSingleWord);
      break;
    case Stage::kRawLine: {
      cv::Mat gray;
      cv::cvtColor(rgb_, gray, cv::COLOR_RGB2GRAY);
      readings.push_back(tesseract_.read(gray, TesseractReader::Layout::kSingleLine));
      break;
    }
  }
  for (std::string& r : readings) {
    if (!r.empty() && std::find(candidates_.begin(), candidates_.end(), r) == candidates_.end()) {
      candidates_.push_back(std::move(r));
    }
  }
  return true;
}

}  // namespace libocr
