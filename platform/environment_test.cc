#include "platform/environment.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(ConvertCodePage, RoundTripsChineseBetweenGbkUtf8AndUtf16) {
  const std::string gbk = "\xD6\xD0\xCE\xC4";           // 中文
  const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文
  const std::string utf16(reinterpret_cast<const char*>(u"中文"), 4);
  EXPECT_EQ(platform::convertCodePage(gbk, "CP936", "UTF-8"), utf8);
  EXPECT_EQ(platform::convertCodePage(utf8, "UTF-8", "CP936"), gbk);
  EXPECT_EQ(platform::convertCodePage(gbk, "CP936", "UTF-16LE"), utf16);
  EXPECT_EQ(platform::convertCodePage(utf16, "UTF-16LE", "CP936"), gbk);
}

TEST(ConvertCodePage, ReplacesWhatCannotBeConvertedInsteadOfFailing) {
  // An invalid UTF-8 byte in the middle, a truncated sequence at the end.
  EXPECT_EQ(platform::convertCodePage("A\xFF"
                                      "B\xE4\xB8",
                                      "UTF-8", "UTF-8"),
            "A\xEF\xBF\xBD"
            "B\xEF\xBF\xBD\xEF\xBF\xBD");
  // A character GBK cannot hold (U+1F600) becomes '?'.
  EXPECT_EQ(platform::convertCodePage("x\xF0\x9F\x98\x80y", "UTF-8", "CP936"), "x?y");
  EXPECT_EQ(platform::convertCodePage("", "UTF-8", "CP936"), "");
}

TEST(ExecutablePath, NamesThisTestProgram) {
  EXPECT_NE(platform::executablePath().find("platform_tests"), std::string::npos);
}

int g_pumped = 0;
void countingPump() { ++g_pumped; }

TEST(EventPump, RunsOnlyOnTheThreadThatInstalledIt) {
  platform::installEventPump(countingPump);
  platform::pumpEventsIfWindowThread();
  std::thread([] { platform::pumpEventsIfWindowThread(); }).join();
  EXPECT_EQ(g_pumped, 1);
  platform::installEventPump(nullptr);
  platform::pumpEventsIfWindowThread();
  EXPECT_EQ(g_pumped, 1);
}

}  // namespace
