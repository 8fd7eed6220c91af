// Best reading of each length from CTC column scores.
#include "ctc_decode.h"

#include <gtest/gtest.h>

#include <cmath>

namespace libocr {
namespace {

// Columns of probabilities over {blank, a, b}, turned into log-probabilities.
cv::Mat columns(std::initializer_list<std::array<float, 3>> rows) {
  cv::Mat m(static_cast<int>(rows.size()), 3, CV_32F);
  int t = 0;
  for (const auto& row : rows) {
    for (int c = 0; c < 3; ++c) m.at<float>(t, c) = std::log(row[c]);
    ++t;
  }
  return m;
}

TEST(BestReadingPerLength, GivesTheGreedyReadingFirstAndOtherLengthsAfter) {
  // Clearly "ab", with "b" hesitating between one long glyph and two.
  const cv::Mat lp = columns({{0.1f, 0.8f, 0.1f},
                              {0.7f, 0.2f, 0.1f},
                              {0.1f, 0.1f, 0.8f},
                              {0.4f, 0.0001f, 0.5999f},
                              {0.3f, 0.1f, 0.6f}});
  const auto readings = bestReadingPerLength(lp, "ab", 8);
  ASSERT_GE(readings.size(), 3u);
  EXPECT_EQ(readings[0].text, "ab");
  EXPECT_NEAR(readings[0].logProbability,
              std::log(0.8) + std::log(0.7) + std::log(0.8) + std::log(0.5999) + std::log(0.6),
              1e-5);
  // The next most probable length: "abb" needs a blank between the b's.
  EXPECT_EQ(readings[1].text, "abb");
  for (std::size_t i = 1; i < readings.size(); ++i) {
    EXPECT_LE(readings[i].logProbability, readings[i - 1].logProbability);
    for (std::size_t j = 0; j < i; ++j) EXPECT_NE(readings[i].text.size(), readings[j].text.size());
  }
}

TEST(BestReadingPerLength, RepeatedCharactersNeedABlankBetween) {
  // "a a" with a blank in the middle reads "aa"; without it, "a".
  const auto split = bestReadingPerLength(
      columns({{0.1f, 0.8f, 0.1f}, {0.8f, 0.1f, 0.1f}, {0.1f, 0.8f, 0.1f}}), "ab", 8);
  ASSERT_FALSE(split.empty());
  EXPECT_EQ(split[0].text, "aa");
  const auto joined = bestReadingPerLength(
      columns({{0.1f, 0.8f, 0.1f}, {0.1f, 0.8f, 0.1f}, {0.1f, 0.8f, 0.1f}}), "ab", 8);
  ASSERT_FALSE(joined.empty());
  EXPECT_EQ(joined[0].text, "a");
  // Three columns can hold at most three characters, two equal ones only
  // with a blank between them.
  for (const auto& r : joined) EXPECT_LE(r.text.size(), 3u);
}

TEST(BestReadingPerLength, RejectsScoresThatDoNotFitTheCharset) {
  const cv::Mat lp = columns({{0.1f, 0.8f, 0.1f}});
  EXPECT_TRUE(bestReadingPerLength(lp, "a", 8).empty());  // 3 classes, 1 character
  EXPECT_TRUE(bestReadingPerLength(cv::Mat(), "ab", 8).empty());
}

TEST(LogSoftmaxRows, GivesLogProbabilitiesThatSumToOne) {
  cv::Mat logits = (cv::Mat_<float>(2, 3) << 1.0f, 2.0f, 3.0f, -50.0f, 0.0f, 50.0f);
  const cv::Mat lp = logSoftmaxRows(logits);
  for (int t = 0; t < 2; ++t) {
    double sum = 0;
    for (int c = 0; c < 3; ++c) sum += std::exp(lp.at<float>(t, c));
    EXPECT_NEAR(sum, 1.0, 1e-5);
  }
  EXPECT_NEAR(lp.at<float>(1, 2), 0.0f, 1e-5);
}

}  // namespace
}  // namespace libocr
