// With the hex engine, which answers the hex of the bytes it was given: the
// image reaches the engine byte for byte.
#include <gtest/gtest.h>

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

}  // namespace
