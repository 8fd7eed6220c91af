// With the hex engine, which answers the hex of the bytes it was given: the
// image reaches the engine byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "recognition/request_routing.h"
#include "recognition/test_bytes.h"
#include "recognition/test_engine.h"

namespace {

class RecogniseImageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { engine_ = new TestEngine("hex"); }
  static void TearDownTestSuite() {
    delete engine_;
    engine_ = nullptr;
  }
  void SetUp() override { engine_->clearLog(); }

  static TestEngine* engine_;
};
TestEngine* RecogniseImageTest::engine_ = nullptr;

TEST_F(RecogniseImageTest, HandsTheImageBytesToTheEngine) {
  EXPECT_EQ(recogniseImage(ByteBuffer(hexBytes("41 00 FF 42"))), Text("4100FF42"));
  EXPECT_EQ(recogniseImage(ByteBuffer()), Text());
  EXPECT_EQ(engine_->calls(), (std::vector<std::string>{"ocr 4", "ocr 0"}));
}

TEST_F(RecogniseImageTest, DecodesPercentEncodedCodeValues) {
  struct Case {
    const char* query;
    const char* answer;
  };
  const Case cases[] = {
      {"code=QUJD%3D&length=6", "code:414243"},  {"code=aGVsbG8%3D&length=10", "code:68656C6C6F"},
      {"code=%2B%2F%3D%3D&length=2", "code:FB"}, {"code=+/==&length=2", "code:FB"},
      {"code=%2b%2f%3d%3d&length=2", "code:FB"},
  };
  for (const Case& c : cases) {
    int status = 0;
    Text statusText;
    EXPECT_EQ(handleRecognitionRequest(Text("/vexo/"), Text("GET"), Text(c.query), unusedHeaders(),
                                       Text(), Text(), status, statusText),
              Text(c.answer))
        << c.query;
    EXPECT_EQ(status, 200);
  }
}

// Workers handle requests side by side; each must get the answer for its own
// image (the engine's per-thread answer and the handler share nothing).
TEST_F(RecogniseImageTest, HandlesRequestsOnSeveralThreadsAtOnce) {
  constexpr int kThreads = 4;
  constexpr int kRequestsPerThread = 100;
  const char* const kImages[kThreads][2] = {
      {"code=QUJD&length=6", "code:414243"},
      {"code=aGVsbG8%3D&length=10", "code:68656C6C6F"},
      {"code=QQ==&length=2", "code:41"},
      {"code=+/==&length=2", "code:FB"},
  };
  std::vector<int> wrongAnswers(kThreads, 0);
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([t, &kImages, &wrongAnswers] {
      for (int i = 0; i < kRequestsPerThread; ++i) {
        int status = 0;
        Text statusText;
        const Text answer =
            handleRecognitionRequest(Text("/vexo/"), Text("GET"), Text(kImages[t][0]),
                                     unusedHeaders(), Text(), Text(), status, statusText);
        if (answer != Text(kImages[t][1]) || status != 200) ++wrongAnswers[t];
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(wrongAnswers, std::vector<int>(kThreads, 0));
  EXPECT_EQ(engine_->calls().size(), size_t{kThreads * kRequestsPerThread});
}

}  // namespace
