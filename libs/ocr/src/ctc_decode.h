// ctc_decode.h: readings from the per-column class scores of a CTC model.
// Class 0 is the blank; class i+1 is charset[i]. Besides the best reading,
// the decoder gives the best reading of every other length: the server asks
// again only when a reading has the wrong length, so an alternative of a
// length already tried is of no use to it. Pure functions, thread-safe.
#ifndef OCR_CTC_DECODE_H_
#define OCR_CTC_DECODE_H_

#include <opencv2/core.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace libocr {

struct ScoredReading {
  std::string text;
  double logProbability = 0.0;  // of the best alignment giving `text`
};

// Turns raw scores (T x C, CV_32F) into log-probabilities per row.
cv::Mat logSoftmaxRows(const cv::Mat& logits);

// For each length 0..maxLength that some alignment of the T x C
// log-probabilities can produce, the text of the most probable alignment
// (path) of exactly that length; sorted by probability, best first. The
// first entry is the ordinary best-path (greedy) reading.
std::vector<ScoredReading> bestReadingPerLength(const cv::Mat& logProbabilities,
                                                std::string_view charset, int maxLength);

}  // namespace libocr

#endif  // OCR_CTC_DECODE_H_
