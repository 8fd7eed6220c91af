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
  kLearned,               // CTC reader: best reading and a few of other lengths
  kLearnedCropped,        // CTC reader on the glyph area alone
  kCleanColourLine,       // Tesseract on glyphs separated by colour, lines removed
  kCleanDarkLine,         // ... separated by darkness
  kCleanColourKeepLines,  // ... thin strokes kept (light fonts)
  kCleanColourWord,       // colour separation, read as one word
  kRawLine,               // the picture as it is, gray
};
constexpr std::array kStages = {
    Stage::kLearned,       Stage::kLearnedCropped,       Stage::kCleanColourLine,
    Stage::kCleanDarkLine, Stage::kCleanColourKeepLines, Stage::kCleanColourWord,
    Stage::kRawLine};

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

// How many readings of other lengths the learned reader offers for retries
// before the other ways of reading get their turn.
constexpr std::size_t kLearnedAlternatives = 2;

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
                     given_.size() < kCallsPerRequest &&
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
  stageDone_.assign(kStages.size(), false);
  learnedBestLogProbability_ = -INFINITY;
  tesseractConfidence_ = 0;
  tesseractReading_.clear();
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
  if (given_.empty() && candidates_.empty()) chooseFirstReading();
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

int stageIndex(Stage stage) {
  return static_cast<int>(std::find(kStages.begin(), kStages.end(), stage) - kStages.begin());
}

void Recogniser::chooseFirstReading() {
  runStage(stageIndex(Stage::kLearned));
  const bool haveLearned = !candidates_.empty();
  if (haveLearned && learnedBestLogProbability_ >= std::log(kLearnedSureProbability)) return;
  runStage(stageIndex(Stage::kCleanColourLine));
  const bool preferTesseract = !haveLearned || tesseractConfidence_ >= kTesseractSureConfidence ||
                               learnedBestLogProbability_ < std::log(kLearnedTrustedProbability);
  const auto tesseract = std::find(candidates_.begin(), candidates_.end(), tesseractReading_);
  if (preferTesseract && !tesseractReading_.empty() && tesseract != candidates_.end()) {
    std::rotate(candidates_.begin(), tesseract, tesseract + 1);
  }
}

bool Recogniser::runNextStage() {
  const auto next = std::find(stageDone_.begin(), stageDone_.end(), false);
  if (next == stageDone_.end()) return false;
  runStage(static_cast<int>(next - stageDone_.begin()));
  return true;
}

void Recogniser::runStage(int index) {
  if (index < 0 || index >= static_cast<int>(kStages.size()) || stageDone_[index]) return;
  stageDone_[index] = true;
  const Stage stage = kStages[index];
  std::vector<std::string> readings;
  auto readClean = [&](const CleanupOptions& options, TesseractReader::Layout layout) {
    const cv::Mat page = cleanCaptcha(rgb_, options);
    if (page.empty()) return;
    TesseractReader::Reading reading = tesseract_.read(page, layout);
    if (stage == Stage::kCleanColourLine) {
      tesseractConfidence_ = reading.confidence;
      tesseractReading_ = reading.text;
    }
    readings.push_back(std::move(reading.text));
  };
  switch (stage) {
    case Stage::kLearned:
      if (learned_) {
        // The model was trained almost only on dark glyphs on light ground.
        const cv::Mat picture = hasDarkBackground(rgb_) ? cv::Mat(255 - rgb_) : rgb_;
        const std::vector<ScoredReading> scored = learned_->read(picture);
        learnedBestLogProbability_ = scored.empty() ? -INFINITY : scored.front().logProbability;
        for (std::size_t i = 0; i < scored.size() && i <= kLearnedAlternatives; ++i) {
          readings.push_back(keepCharset(scored[i].text));
        }
      }
      break;
    case Stage::kLearnedCropped:
      if (learned_) {
        const cv::Rect area = glyphArea(rgb_);
        if (area.area() < rgb_.rows * rgb_.cols) {
          cv::Mat cropped = rgb_(area).clone();
          if (hasDarkBackground(cropped)) cropped = 255 - cropped;
          const std::vector<ScoredReading> scored = learned_->read(cropped);
          for (std::size_t i = 0; i < scored.size() && i <= kLearnedAlternatives; ++i) {
            readings.push_back(keepCharset(scored[i].text));
          }
        }
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
      readings.push_back(tesseract_.read(gray, TesseractReader::Layout::kSingleLine).text);
      break;
    }
  }
  for (std::string& r : readings) {
    if (!r.empty() && std::find(candidates_.begin(), candidates_.end(), r) == candidates_.end()) {
      candidates_.push_back(std::move(r));
    }
  }
}

}  // namespace libocr
