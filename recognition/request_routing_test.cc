#include "recognition/request_routing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recognition/test_bytes.h"
#include "recognition/test_engine.h"
#include "text/text_ops.h"

namespace {

// The handler's answers, as the operator reads them.
const char8_t kNotFound[] = u8"未找到vexo目录";
const char8_t kUseGet[] = u8"请使用GET";
const char8_t kNoCode[] = u8"请传入code";
const char8_t kNoLength[] = u8"请传入leng";
const char8_t kFailed[] = u8"识别失败";

class RequestRoutingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { engine_ = new TestEngine("scripted"); }
  static void TearDownTestSuite() {
    delete engine_;
    engine_ = nullptr;
  }
  void SetUp() override { engine_->clearLog(); }

  static TestEngine* engine_;
};
TestEngine* RequestRoutingTest::engine_ = nullptr;

struct RequestCase {
  const char* path;
  const char* method;
  std::string query;    // code page 936 bytes
  std::string answers;  // what the scripted engine answers, call after call
  Text expectedAnswer;
  int expectedStatus;
  std::vector<std::string> expectedCalls;  // the engine's log
};

TEST_F(RequestRoutingTest, AnswersEachOutcome) {
  const Text zhongwen = gbk(u8"中文");
  const std::vector<RequestCase> cases = {
      // The four checks, in order; rejected requests keep the status 0 and
      // never reach the engine.
      {"/vexo", "GET", "code=QUJD&length=3", "ABC", gbk(kNotFound), 0, {}},
      {"/VEXO/", "GET", "code=QUJD&length=3", "ABC", gbk(kNotFound), 0, {}},
      {"", "GET", "code=QUJD&length=3", "ABC", gbk(kNotFound), 0, {}},
      {"/vexo/", "POST", "code=QUJD&length=3", "ABC", gbk(kUseGet), 0, {}},
      {"/vexo/", "HEAD", "", "ABC", gbk(kUseGet), 0, {}},
      {"/vexo/", "get", "code=QUJD&length=3", "ABC", gbk(kUseGet), 0, {}},
      {"/vexo/", "GET", "", "ABC", gbk(kNoCode), 0, {}},
      {"/vexo/", "GET", "length=3", "ABC", gbk(kNoCode), 0, {}},
      {"/vexo/", "GET", "code=QUJD", "ABC", gbk(kNoLength), 0, {}},
      {"/vexo/", "GET", "code=QUJD&leng=3", "ABC", gbk(kNoLength), 0, {}},
      // The search walks whole characters: "code=" right after a lead byte
      // begins inside a double-byte character and is not found.
      {"/vexo/",
       "GET",
       "\x81"
       "code=QUJD&length=3",
       "ABC",
       gbk(kNoCode),
       0,
       {}},
      // Accepted requests: the image is decoded once and tried up to 4 times.
      {"/vexo/", "GET", "code=QUJD&length=3", "ABC", Text("code:ABC"), 200, {"ocr 3"}},
      {"/vexo/", "GET", "qrcode=QUJD&length=3", "ABC", Text("code:ABC"), 200, {"ocr 3"}},
      {"/vexo/", "GET", "length=3&code=QUJD", "ABC", Text("code:ABC"), 200, {"ocr 0"}},
      {"/vexo/", "GET", "code=&length=0", "", Text("code:"), 200, {"ocr 0"}},
      {"/vexo/", "GET", "code=&length=0", "<null>", Text("code:"), 200, {"ocr 0"}},
      {"/vexo/", "GET", "code=QUJD&length=4&x=1", "ABCD", Text("code:ABCD"), 200, {"ocr 3"}},
      {"/vexo/",
       "GET",
       "code=QUJD&length=2&length=5",
       "AB|ABCDE",
       Text("code:ABCDE"),
       200,
       {"ocr 3", "ocr 3"}},
      {"/vexo/", "GET", "code=QUJD&length=abc", "", Text("code:"), 200, {"ocr 3"}},
      {"/vexo/",
       "GET",
       "code=QUJD&length=4",
       zhongwen.bytes(),
       concatText({Text("code:"), zhongwen}),
       200,
       {"ocr 3"}},
      {"/vexo/",
       "GET",
       "code=QUJD&length=2",
       zhongwen.bytes(),
       gbk(kFailed),
       200,
       {"ocr 3", "ocr 3", "ocr 3", "ocr 3"}},
      {"/vexo/",
       "GET",
       "code=QUJD&length=3",
       "W|X|Y|Z|ABC",
       gbk(kFailed),
       200,
       {"ocr 3", "ocr 3", "ocr 3", "ocr 3"}},
      {"/vexo/",
       "GET",
       "code=QUJD&length=3",
       "<null>|ABC",
       Text("code:ABC"),
       200,
       {"ocr 3", "ocr 3"}},
      // Percent-encoded pad characters reach the decoder as "=": QQ== is 1
      // byte (taken raw, "%3D" would end the group at "%" and give 3 bytes).
      {"/vexo/", "GET", "code=QQ%3D%3D&length=1", "A", Text("code:A"), 200, {"ocr 1"}},
      {"/vexo/", "GET", "code=QQ==&length=1", "A", Text("code:A"), 200, {"ocr 1"}},
  };
  for (const RequestCase& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.path + "?" + c.query);
    engine_->clearLog();
    engine_->script(c.answers);
    int status = 0;
    Text statusText;
    const Text answer =
        handleRecognitionRequest(Text(c.path), Text(c.method), Text(std::string_view(c.query)),
                                 unusedHeaders(), Text("body"), Text("cookie"), status, statusText);
    EXPECT_EQ(toHex(answer), toHex(c.expectedAnswer));
    EXPECT_EQ(status, c.expectedStatus);
    EXPECT_TRUE(statusText.empty());
    EXPECT_EQ(engine_->calls(), c.expectedCalls);
  }
}

TEST_F(RequestRoutingTest, LeavesAnyOtherCallerStatusOfARejectedRequest) {
  int status = 123;
  Text statusText("kept");
  handleRecognitionRequest(Text("/other/"), Text("GET"), Text("code=QUJD&length=3"),
                           unusedHeaders(), Text(), Text(), status, statusText);
  EXPECT_EQ(status, 123);
  EXPECT_EQ(statusText, Text("kept"));
}

TEST(TextBetweenTest, CutsBetweenMarkers) {
  struct Case {
    const char* text;
    const char* left;
    const char* right;
    int start;
    const char* expected;
  };
  const std::string quoteToken = gbk(u8"#引号").bytes();
  const std::string quotedLeft = "k=" + quoteToken;
  const Case cases[] = {
      {"code=QUJD&length=3", "code=", "&", 0, "QUJD"},
      {"code=QUJD&length=3", "code=", "&", 1, "QUJD"},
      {"code=QUJD&length=3", "code=", "&", -3, "QUJD"},
      {"code=&length=3", "code=", "&", 0, ""},
      {"length=3&code=QUJD", "code=", "&", 0, ""},  // no "&" after the marker
      {"a&code=x&code=y&", "code=", "&", 0, "x"},   // the first left marker
      {"a&code=x&code=y&", "code=", "&", 4, "y"},
      {"nothing here", "code=", "&", 0, ""},
      {"k=\"v\"&", quotedLeft.c_str(), quoteToken.c_str(), 0, "v"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(textBetween(Text(c.text), Text(c.left), Text(c.right), c.start, false),
              Text(c.expected))
        << c.text << " between " << c.left << " and " << c.right;
  }
}

TEST(TextAfterTest, TakesWhatFollowsTheLastMarkerInTheWindow) {
  struct Case {
    const char* text;
    int skipAtEnd;
    const char* expected;
  };
  const Case cases[] = {
      {"code=QUJD&length=4&x=1", 0, "4&x=1"},
      {"length=2&length=5", 0, "5"},
      {"length=2&length=5", 3, "2&length=5"},  // the last one no longer fits
      {"code=QUJD&length=", 0, ""},
      {"code=QUJD", 0, ""},
      {"", 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(textAfter(Text(c.text), Text("length="), c.skipAtEnd, false), Text(c.expected))
        << c.text << " skipping " << c.skipAtEnd;
  }
}

TEST(PercentDecodeTest, DecodesTwoDigitEscapesButZero) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"%2B%2F%3D", "+/="},   {"%2b%2f%3d", "+/="},
      {"QUJD", "QUJD"},       {"a+b", "a+b"},
      {"%00", "%00"},         {"%", "%"},
      {"%4", "%4"},           {"a%4", "a%4"},
      {"%G1", "%G1"},         {"%4G", "%4G"},
      {"%%41", "%A"},         {"%2541", "%41"},  // decoded once only
      {"%D6%D0", "\xD6\xD0"}, {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(percentDecode(Text(c.in)), Text(c.out)) << c.in;
  }
}

}  // namespace
