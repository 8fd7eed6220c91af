#include "text/library_entries.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "text/text_ops.h"

namespace {

// Directories holding the test copies of libocr.so (see CMakeLists.txt):
// "library" answers init() with 1 and has ocr; "other" answers 2 and has ocr;
// "no_ocr" answers 3 and lacks ocr.
std::string copyDirectory(const char* name) {
  return std::string(REZ_ENTRY_LIBRARIES) + "/" + name;
}

TEST(FatalText, ComposedPieceByPiece) {
  // 运行时出错! / 错误代码： / 错误信息：
  const std::string head = "\xd4\xcb\xd0\xd0\xca\xb1\xb3\xf6\xb4\xed\x21\r\n";
  EXPECT_EQ(composeFatalText(Text(), 0, 0, 0).bytes(), head + "\r\n0, 0\r\n");
  EXPECT_EQ(composeFatalText("boom", 0, 7, 12).bytes(),
            head +
                "\r\n\xb4\xed\xce\xf3\xd0\xc5\xcf\xa2\xa3\xba"
                "boom\r\n\r\n7, 12\r\n");
  EXPECT_EQ(composeFatalText("m", 6, 1, 2).bytes(),
            head +
                "\r\n\xb4\xed\xce\xf3\xb4\xfa\xc2\xeb\xa3\xba"
                "6\r\n" +
                "\r\n\xb4\xed\xce\xf3\xd0\xc5\xcf\xa2\xa3\xba"
                "m\r\n\r\n1, 2\r\n");
}

TEST(LibraryEntries, LibraryDirectoryIsSearchedFirst) {
  setDllDirectory(Text(copyDirectory("library").c_str()));
  LibraryEntry<decltype(&::init)> first(kOcrLibrary, "init");
  EXPECT_EQ(first(), 1);
  setDllDirectory(Text(copyDirectory("other").c_str()));
  LibraryEntry<decltype(&::init)> second(kOcrLibrary, "init");
  EXPECT_EQ(second(), 2);
  EXPECT_EQ(first(), 1);  // resolved once, kept
  setDllDirectory();
}

TEST(LibraryEntries, ConcurrentFirstCallsShareOneAddress) {
  setDllDirectory(Text(copyDirectory("library").c_str()));
  LibraryEntry<decltype(&::ocr)> entry(kOcrLibrary, "ocr");
  std::vector<std::thread> threads;
  std::vector<void*> seen(16);
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&, i] { seen[i] = reinterpret_cast<void*>(entry.get()); });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(std::set<void*>(seen.begin(), seen.end()).size(), 1u);
  EXPECT_STREQ(entry(nullptr, 0), "ok");
  setDllDirectory();
}

TEST(LibraryEntriesDeathTest, LibraryLackingTheFunctionIsFatalEvenIfAnotherHasIt) {
  // The copy in the library directory loads but lacks ocr; the one in the
  // "other" directory has it but is not tried.
  EXPECT_EXIT(
      {
        setDllDirectory(Text(copyDirectory("no_ocr").c_str()));
        LibraryEntry<decltype(&::ocr)> entry(kOcrLibrary, "ocr");
        entry(nullptr, 0);
      },
      testing::ExitedWithCode(255),
      "运行时出错!\r?\n\r?\n错误信息：无法找到指定DLL库文件“libocr.so”中的输出命令“ocr”\r?\n\r?\n0,"
      " 0");
}

TEST(LibraryEntriesDeathTest, MissingLibraryIsFatalAndRunsTheExitRoutineOnce) {
  EXPECT_EXIT(
      {
        setDllDirectory(Text("/nonexistent"));
        setFatalExitRoutine([] { fprintf(stderr, "exit routine ran\n"); });
        LibraryEntry<decltype(&::init)> entry("libdoes-not-exist.so", "init");
        entry();
      },
      testing::ExitedWithCode(255), "libdoes-not-exist.so.*init(.|\n)*exit routine ran");
}

TEST(LibraryEntriesDeathTest, AFaultOnAnotherThreadEndsTheProcessToo) {
  EXPECT_EXIT(
      {
        std::thread([] { modulo(1, 0); }).join();
        std::this_thread::sleep_for(std::chrono::seconds(10));
      },
      testing::ExitedWithCode(255), "不能求余数于零");
}

TEST(LibraryEntriesDeathTest, AllocationFailureNamesTheBytes) {
  EXPECT_EXIT(reportAllocationFailure(123456), testing::ExitedWithCode(255),
              "分配 123456 字节内存失败!");
}

}  // namespace
