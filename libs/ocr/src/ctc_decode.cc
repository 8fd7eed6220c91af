// Length-constrained best-path decoding of CTC scores.
#include "ctc_decode.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace libocr {
namespace {

constexpr double kImpossible = -std::numeric_limits<double>::infinity();

}  // namespace

cv::Mat logSoftmaxRows(const cv::Mat& logits) {
  cv::Mat out(logits.rows, logits.cols, CV_32F);
  for (int t = 0; t < logits.rows; ++t) {
    const float* in = logits.ptr<float>(t);
    float* o = out.ptr<float>(t);
    const float top = *std::max_element(in, in + logits.cols);
    double sum = 0.0;
    for (int c = 0; c < logits.cols; ++c) sum += std::exp(static_cast<double>(in[c] - top));
    const float logSum = static_cast<float>(std::log(sum)) + top;
    for (int c = 0; c < logits.cols; ++c) o[c] = in[c] - logSum;
  }
  return out;
}

std::vector<ScoredReading> bestReadingPerLength(const cv::Mat& logProbabilities,
                                                std::string_view charset, int maxLength) {
  const int steps = logProbabilities.rows;
  const int classes = logProbabilities.cols;
  if (steps == 0 || classes < 2 || logProbabilities.type() != CV_32F ||
      static_cast<int>(charset.size()) < classes - 1 || maxLength < 0) {
    return {};
  }
  const int lengths = std::min(maxLength, steps) + 1;
  // score(t, k, c): best log-probability of a path over columns 0..t that
  // has emitted k characters and sits on class c in column t. `from` keeps
  // the (k, c) the best path came from, for reading the text back.
  const std::size_t stateCount = static_cast<std::size_t>(lengths) * classes;
  std::vector<double> score(static_cast<std::size_t>(steps) * stateCount, kImpossible);
  std::vector<int> from(score.size(), -1);
  auto at = [&](int t, int k, int c) {
    return static_cast<std::size_t>(t) * stateCount + static_cast<std::size_t>(k) * classes + c;
  };
  auto lp = [&](int t, int c) { return static_cast<double>(logProbabilities.at<float>(t, c)); };

  score[at(0, 0, 0)] = lp(0, 0);
  if (lengths > 1) {
    for (int c = 1; c < classes; ++c) score[at(0, 1, c)] = lp(0, c);
  }
  for (int t = 1; t < steps; ++t) {
    for (int k = 0; k < lengths; ++k) {
      // Best and second-best class of the previous column with k-1
      // characters: a new character c may follow any class except c itself
      // (that would be the same character continued).
      int best = -1, second = -1;
      if (k > 0) {
        for (int c = 0; c < classes; ++c) {
          const double s = score[at(t - 1, k - 1, c)];
          if (best < 0 || s > score[at(t - 1, k - 1, best)]) {
            second = best;
            best = c;
          } else if (second < 0 || s > score[at(t - 1, k - 1, second)]) {
            second = c;
          }
        }
      }
      // Blank: stays at k characters, from any class.
      int stay = 0;
      for (int c = 1; c < classes; ++c) {
        if (score[at(t - 1, k, c)] > score[at(t - 1, k, stay)]) stay = c;
      }
      if (score[at(t - 1, k, stay)] > kImpossible) {
        score[at(t, k, 0)] = score[at(t - 1, k, stay)] + lp(t, 0);
        from[at(t, k, 0)] = k * classes + stay;
      }
      for (int c = 1; c < classes; ++c) {
        double bestScore = score[at(t - 1, k, c)];  // the same character continued
        int bestFrom = k * classes + c;
        if (k > 0) {
          const int previous = best != c ? best : second;
          if (previous >= 0 && score[at(t - 1, k - 1, previous)] > bestScore) {
            bestScore = score[at(t - 1, k - 1, previous)];
            bestFrom = (k - 1) * classes + previous;
          }
        }
        if (bestScore > kImpossible) {
          score[at(t, k, c)] = bestScore + lp(t, c);
          from[at(t, k, c)] = bestFrom;
        }
      }
    }
  }

  std::vector<ScoredReading> readings;
  for (int k = 0; k < lengths; ++k) {
    int end = 0;
    for (int c = 1; c < classes; ++c) {
      if (score[at(steps - 1, k, c)] > score[at(steps - 1, k, end)]) end = c;
    }
    const double total = score[at(steps - 1, k, end)];
    if (total == kImpossible) continue;
    std::string text;
    int state = k * classes + end;
    for (int t = steps - 1; t >= 0; --t) {
      const int kk = state / classes, c = state % classes;
      const int previous = t > 0 ? from[at(t, kk, c)] : -1;
      const bool emitsHere = c != 0 && (t == 0 || previous / classes != kk);
      if (emitsHere) text.push_back(charset[c - 1]);
      state = previous;
    }
    std::reverse(text.begin(), text.end());
    readings.push_back({std::move(text), total});
  }
  std::stable_sort(readings.begin(), readings.end(),
                   [](const ScoredReading& a, const ScoredReading& b) {
                     return a.logProbability > b.logProbability;
                   });
  return readings;
}

}  // namespace libocr
