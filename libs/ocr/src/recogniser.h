// recogniser.h: one thread's recognition engine. It owns the thread's
// readers (the learned CTC reader when its model is present, and Tesseract)
// and the readings of the image it saw last, so that asking again about the
// same image gives the next-best distinct reading instead of the same one.
// Not thread-safe: the engine keeps one per thread.
#ifndef OCR_RECOGNISER_H_
#define OCR_RECOGNISER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "learned_reader.h"
#include "tesseract_reader.h"

namespace libocr {

// A call with the same image bytes within this time of the previous call's
// end, on the same thread, counts as a retry of that call. The server
// retries at once (microseconds later), so the window only needs to outlast
// scheduling delays on a loaded machine; a separate request for the same
// image that comes later starts afresh and gets the best reading again.
inline constexpr std::chrono::milliseconds kRetryWindow{250};
// The server makes at most this many calls for one request: the call after
// them is a new request, also when it comes at once.
inline constexpr std::size_t kCallsPerRequest = 4;

// Choice of the first answer. The learned reader's reading is taken at
// once when the probability of its best alignment reaches
// kLearnedSureProbability. Otherwise Tesseract reads the cleaned picture
// too, and its reading is taken instead when Tesseract is confident: clean
// printed text, which the learned reader, trained on one generator's
// styles, may not know. (Measured on the generator's tuning sets: taking
// Tesseract's reading whenever the learned reader is merely unsure loses
// accuracy, even with a weak model.)
inline constexpr double kLearnedSureProbability = 0.9;
inline constexpr int kTesseractSureConfidence = 85;

class Recogniser {
 public:
  explicit Recogniser(const std::string& modelDirectory);

  // What is missing for full reading (one line, no newline); empty when
  // both readers are ready.
  const std::string& problems() const { return problems_; }

  // The reading of the image in `data`: the best one on a new image, the
  // next distinct one on a retry. Valid until the next call.
  const std::string& recognise(const std::uint8_t* data, std::size_t length);

 private:
  void startImage(const std::uint8_t* data, std::size_t length);
  std::string nextReading();
  // Fills candidates_ with the first answer and the retry readings that
  // come with it.
  void chooseFirstReading();
  // The learned reader's reading that variants of `picture` (the whole
  // picture, prepared for it) and the two readings given agree on most,
  // weighted by probability.
  std::string voteOverVariants(const cv::Mat& picture, const std::vector<ScoredReading>& first,
                               const std::vector<ScoredReading>& second);
  // Tesseract's reading of the cleaned picture as a line, once per image.
  void readTesseractLine();
  // Inserts `text` at `position` (default: the end) unless it is empty or
  // already there.
  void addCandidate(std::string text, std::size_t position = SIZE_MAX);
  // Adds the reading of the next way of reading the image not yet tried;
  // false when every way has been tried.
  bool runNextStage();

  TesseractReader tesseract_;
  std::unique_ptr<LearnedReader> learned_;
  std::string problems_;

  // The image seen last and its readings so far.
  bool haveImage_ = false;
  std::size_t imageHash_ = 0;
  std::size_t imageLength_ = 0;
  std::chrono::steady_clock::time_point lastCallEnd_;
  cv::Mat rgb_;
  std::vector<std::string> candidates_;  // in order of preference
  std::size_t nextStage_ = 0;
  bool tesseractLineDone_ = false;
  std::size_t tesseractSlot_ = 0;  // where a late Tesseract reading goes
  int tesseractConfidence_ = 0;
  std::string tesseractReading_;    // of the cleaned picture, read as a line
  std::vector<std::string> given_;  // readings already returned for this image
  std::string result_;
};

}  // namespace libocr

#endif  // OCR_RECOGNISER_H_
