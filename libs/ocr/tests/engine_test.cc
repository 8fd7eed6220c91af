// The engine through its two C entries: readings, retries and threads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ocr_engine.h"
#include "recogniser.h"
#include "test_images.h"

namespace libocr {
namespace {

using testing::textPng;

std::string read(const std::string& bytes) {
  const char* text = ocr(bytes.data(), static_cast<int>(bytes.size()));
  EXPECT_NE(text, nullptr);
  return text ? text : "";
}

TEST(Engine, AnswersNoImageWithTheEmptyText) {
  EXPECT_STREQ(ocr(nullptr, 0), "");
  EXPECT_STREQ(ocr(nullptr, 12), "");
  const std::string garbage = "GET /vexo/?code=&length=4 HTTP/1.1\r\n\r\n";
  EXPECT_STREQ(ocr(garbage.data(), static_cast<int>(garbage.size())), "");
  EXPECT_STREQ(ocr(garbage.data(), -1), "");
  const std::string png = textPng("K7P2");
  EXPECT_STREQ(ocr(png.data(), static_cast<int>(png.size() / 2)), "");
  // Repeating garbage does not turn it into a reading either.
  EXPECT_STREQ(ocr(garbage.data(), static_cast<int>(garbage.size())), "");
}

TEST(Engine, ReadsCleanText) {
  for (const std::string text : {"K7P2", "HX4W9", "m3b8ta"}) {
    EXPECT_EQ(read(textPng(text)), text);
  }
  // Light glyphs on a dark ground as well.
  cv::Mat inverted;
  cv::bitwise_not(testing::renderText("HX4W9"), inverted);
  EXPECT_EQ(read(testing::encode(inverted, 3)), "HX4W9");
}

TEST(Engine, InitPreparesTheThreadAndReportsMissingPieces) {
  // This build has Tesseract's English data and the model beside the
  // tests, so nothing is missing.
  EXPECT_EQ(init(), 0);
  Recogniser withoutModel("/nonexistent-model-directory");
  EXPECT_NE(withoutModel.problems().find("captcha_reader.onnx"), std::string::npos)
      << withoutModel.problems();
  EXPECT_EQ(withoutModel.problems().find('\n'), std::string::npos);
}

TEST(Engine, ReportsMissingLanguageData) {
  const char* previous = std::getenv("TESSDATA_PREFIX");
  const std::string saved = previous ? previous : "";
  setenv("TESSDATA_PREFIX", "/nonexistent-tessdata", 1);
  Recogniser recogniser("/nonexistent-model-directory");
  if (previous) {
    setenv("TESSDATA_PREFIX", saved.c_str(), 1);
  } else {
    unsetenv("TESSDATA_PREFIX");
  }
  EXPECT_NE(recogniser.problems().find("/nonexistent-tessdata/eng.traineddata"), std::string::npos)
      << recogniser.problems();
  // Without any reader a picture still gets an answer, the empty one.
  const std::string png = textPng("K7P2");
  EXPECT_EQ(recogniser.recognise(reinterpret_cast<const std::uint8_t*>(png.data()), png.size()),
            "");
}

TEST(Engine, RetriesGiveDistinctReadingsAndTheFirstReadingIsStable) {
  // A hard picture: thin glyphs, so the readers disagree and there are
  // several readings to offer.
  const std::string image = textPng("Wm8Rq3");
  const std::string other = textPng("K7P2");
  std::vector<std::string> readings;
  for (std::size_t call = 0; call < kCallsPerRequest; ++call) readings.push_back(read(image));
  const std::set<std::string> distinct(readings.begin(), readings.end());
  EXPECT_EQ(distinct.size(), readings.size()) << readings[0] << " " << readings[1];
  // Successive readings of a retried image differ in length first: the
  // server retries only after a reading of the wrong length.
  EXPECT_NE(readings[1].size(), readings[0].size());

  // The server makes four calls at most: a fifth is a new request.
  EXPECT_EQ(read(image), readings[0]);

  // Another image resets the sequence: the first reading comes back.
  const std::string otherFirst = read(other);
  EXPECT_EQ(read(image), readings[0]);
  EXPECT_EQ(read(other), otherFirst);
  // So does a pause longer than a retry takes: a later request for the
  // same picture is a new question and gets the best reading again.
  EXPECT_EQ(read(image), readings[0]);
  EXPECT_NE(read(image), readings[0]);  // a retry
  std::this_thread::sleep_for(kRetryWindow + std::chrono::milliseconds(200));
  EXPECT_EQ(read(image), readings[0]);
  // So does a fresh thread, which has never seen the image.
  std::string onOtherThread;
  std::thread([&] { onOtherThread = read(image); }).join();
  EXPECT_EQ(onOtherThread, readings[0]);
}

// Eight threads read eight pictures, each in its own rotation so that every
// call meets another thread's recogniser at work; every answer must be the
// one a single thread gives.
TEST(Engine, ThreadsReadLikeOneThread) {
  const std::vector<std::string> texts = {"K7P2",  "HX4W9", "m3b8ta", "Q2ZE",
                                          "7dFk3", "RN8YV", "u4hc6",  "B39JT"};
  std::vector<std::string> images;
  for (const std::string& t : texts) images.push_back(textPng(t));
  // The single-thread run goes on a fresh thread: this one may have seen
  // one of the pictures last, and a repeated picture gets another reading.
  std::vector<std::string> expected;
  std::thread([&] {
    for (const std::string& image : images) expected.push_back(read(image));
  }).join();
  constexpr int kThreads = 8;
  std::vector<std::vector<std::string>> answers(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      init();
      for (std::size_t i = 0; i < images.size(); ++i) {
        const std::string& image = images[(t + i) % images.size()];
        const char* text = ocr(image.data(), static_cast<int>(image.size()));
        answers[t].push_back(text ? text : "(null)");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (std::size_t i = 0; i < images.size(); ++i) {
      EXPECT_EQ(answers[t][i], expected[(t + i) % images.size()]) << "thread " << t;
    }
  }
}

}  // namespace
}  // namespace libocr
