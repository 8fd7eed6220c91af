// One thread's engine: decoding, the readers in order of preference, and the
// sequence of distinct readings for repeated calls.
#include "recogniser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <string_view>

#include "captcha_cleanup.h"
#include "charset.h"
#include "image_decode.h"

namespace libocr {
namespace {

// Further ways of reading an image, tried in this order only for retries
// once the learned reader's readings and Tesseract's line reading of the
// cleaned picture have been given.
enum class Stage {
  kCleanDarkLine,         // glyphs separated by darkness, read as a line
  kCleanColourKeepLines,  // separated by colour, thin strokes kept (light fonts)
  kCleanColourWord,       // separated by colour, read as one word
  kRawLine,               // the picture as it is, gray
};
constexpr std::array kStages = {Stage::kCleanDarkLine, Stage::kCleanColourKeepLines,
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

// The picture as the learned reader wants it: trained almost only on dark
// glyphs on light ground, it gets light-on-dark pictures inverted.
cv::Mat forLearnedReader(const cv::Mat& rgb) {
  if (!hasDarkBackground(rgb)) return rgb;
  cv::Mat inverted;
  cv::bitwise_not(rgb, inverted);  // all three channels (255 - rgb would touch only the first)
  return inverted;
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
  nextStage_ = 0;
  tesseractLineDone_ = false;
  tesseractSlot_ = 0;
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

void Recogniser::chooseFirstReading() {
  // The learned reader reads the whole picture and the glyph area alone;
  // the more confident of the two readings leads (measured: slightly
  // better than either alone), the other follows it in the retries.
  std::vector<ScoredReading> whole, cropped;
  cv::Mat picture;  // the whole picture as the learned reader wants it
  if (learned_) {
    picture = forLearnedReader(rgb_);
    whole = learned_->read(picture);
    const cv::Rect area = glyphArea(rgb_);
    if (area.area() < rgb_.rows * rgb_.cols) {
      cropped = learned_->read(forLearnedReader(rgb_(area).clone()));
    }
  }
  auto bestOf = [](const std::vector<ScoredReading>& r) {
    return r.empty() ? -INFINITY : r.front().logProbability;
  };
  if (bestOf(cropped) > bestOf(whole)) std::swap(whole, cropped);
  const std::vector<ScoredReading>& primary = whole;
  const std::vector<ScoredReading>& secondary = cropped;
  const bool learnedSure = bestOf(primary) >= std::log(kLearnedSureProbability);
  // Unless the learned reader is sure, the reading most variants of the
  // picture agree on leads (see voteOverVariants).
  // (When it is the learned reader's own best reading, adding it first
  // changes nothing: candidates are added once.)
  std::string voted;
  if (learned_ && !primary.empty() && !learnedSure) {
    voted = voteOverVariants(picture, primary, secondary);
  }
  if (!learnedSure) readTesseractLine();
  // When the two readers differ only in letter case, the learned reader's
  // case is kept: it sees the whole captcha's case, Tesseract guesses per
  // glyph (measured: a confident Tesseract is wrong mostly in case).
  auto sameIgnoringCase = [](const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) ==
                    std::tolower(static_cast<unsigned char>(y));
           });
  };
  const bool tesseractFirst =
      !tesseractReading_.empty() &&
      (primary.empty() || (tesseractConfidence_ >= kTesseractSureConfidence &&
                           !sameIgnoringCase(tesseractReading_, primary.front().text)));

  // Retry order, chosen by measurement on the generator's tuning sets: the
  // learned reader's next length, Tesseract, the other learned reading,
  // then further lengths.
  auto add = [&](const std::vector<ScoredReading>& r, std::size_t i) {
    if (i < r.size()) addCandidate(keepCharset(r[i].text));
  };
  if (tesseractFirst) addCandidate(tesseractReading_);
  if (!voted.empty()) addCandidate(keepCharset(voted));
  add(primary, 0);
  add(primary, 1);
  tesseractSlot_ = candidates_.size();
  if (!learnedSure) addCandidate(tesseractReading_);
  add(secondary, 0);
  add(primary, 2);
  add(secondary, 1);
  add(primary, 3);
}

std::string Recogniser::voteOverVariants(const cv::Mat& picture,
                                         const std::vector<ScoredReading>& first,
                                         const std::vector<ScoredReading>& second) {
  // One reading of a picture can be thrown by where its glyphs sit in the
  // network's columns; the same picture with a margin, higher, or a little
  // wider moves them. Each variant's best reading counts with its
  // probability, and the reading with the largest sum wins. (Measured on a
  // tuning set of 300 captchas per difficulty: 1-2 points more exact
  // readings at every difficulty, for three more passes of the network when
  // the reader is unsure.)
  std::map<std::string, double> votes;
  auto vote = [&](const std::vector<ScoredReading>& readings) {
    if (!readings.empty()) votes[readings.front().text] += std::exp(readings.front().logProbability);
  };
  vote(first);
  vote(second);
  const int margin = std::max(2, picture.cols / 32);
  cv::Mat variant;
  cv::copyMakeBorder(picture, variant, 0, 0, margin, margin, cv::BORDER_REPLICATE);
  vote(learned_->read(variant));
  cv::copyMakeBorder(picture, variant, margin, margin, 0, 0, cv::BORDER_REPLICATE);
  vote(learned_->read(variant));
  cv::resize(picture, variant, cv::Size(picture.cols * 23 / 20, picture.rows), 0, 0,
             cv::INTER_LINEAR);
  vote(learned_->read(variant));
  std::string best;
  double bestVotes = -1.0;
  for (const auto& [text, weight] : votes) {
    if (weight > bestVotes) {
      best = text;
      bestVotes = weight;
    }
  }
  return best;
}

void Recogniser::readTesseractLine() {
  if (tesseractLineDone_) return;
  tesseractLineDone_ = true;
  const cv::Mat page = cleanCaptcha(rgb_, {});
  if (page.empty()) return;
  const TesseractReader::Reading reading =
      tesseract_.read(page, TesseractReader::Layout::kSingleLine);
  tesseractReading_ = reading.text;
  tesseractConfidence_ = reading.confidence;
}

void Recogniser::addCandidate(std::string text, std::size_t position) {
  text = unifyAmbiguousCase(std::move(text));
  if (text.empty() ||
      std::find(candidates_.begin(), candidates_.end(), text) != candidates_.end()) {
    return;
  }
  position = std::min(position, candidates_.size());
  candidates_.insert(candidates_.begin() + static_cast<std::ptrdiff_t>(position), std::move(text));
}

bool Recogniser::runNextStage() {
  if (!tesseractLineDone_) {
    // The learned reader was sure of the first reading, so Tesseract has
    // not read the picture yet: its reading takes the place kept for it.
    readTesseractLine();
    addCandidate(tesseractReading_, tesseractSlot_);
    return true;
  }
  if (nextStage_ >= kStages.size()) return false;
  std::string reading;
  auto readClean = [&](const CleanupOptions& options, TesseractReader::Layout layout) {
    const cv::Mat page = cleanCaptcha(rgb_, options);
    if (!page.empty()) reading = tesseract_.read(page, layout).text;
  };
  switch (kStages[nextStage_++]) {
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
      reading = tesseract_.read(gray, TesseractReader::Layout::kSingleLine).text;
      break;
    }
  }
  addCandidate(std::move(reading));
  return true;
}

}  // namespace libocr
