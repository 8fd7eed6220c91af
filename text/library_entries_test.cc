#include "text/library_entries.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "platform/environment.h"
#include "text/text_ops.h"

namespace {

// Directories holding the test copies of libocr.so (see CMakeLists.txt):
// "library" answers init() with 1 and has ocr; "other" answers 2 and has ocr;
// "no_ocr" answers 3 and lacks ocr.
std::string copyDirectory(const char* name) {
  return std::string(REZ_ENTRY_LIBRARIES) + "/" + name;
}

// The system's texts are code-page-936 bytes; the tests write them readably
// and convert them, which also checks the hex literals of the code.
std::string gbk(const char8_t* utf8) {
  return platform::convertCodePage(reinterpret_cast<const char*>(utf8), "UTF-8", "CP936");
}

TEST(FatalText, ComposedPieceByPiece) {
  struct Case {
    const char8_t* message;
    int code, routine, line;
    const char8_t* box;
  };
  const Case cases[] = {
      {u8"", 0, 0, 0, u8"运行时出错!\r\n\r\n0, 0\r\n"},
      {u8"boom", 0, 7, 12, u8"运行时出错!\r\n\r\n错误信息：boom\r\n\r\n7, 12\r\n"},
      {u8"调用DLL命令后发现堆栈错误", 6, 1, 2,
       u8"运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n\r\n1, "
       u8"2\r\n"},
      {u8"", -1, -3, 0, u8"运行时出错!\r\n\r\n错误代码：-1\r\n\r\n-3, 0\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(reinterpret_cast<const char*>(c.box));
    EXPECT_EQ(composeFatalText(Text(gbk(c.message)), c.code, c.routine, c.line).bytes(),
              gbk(c.box));
  }
}

// Runs entry_search_probe, which lives in a directory of its own beside a
// libocr.so answering 4; "plain" (a libocr.so answering 5 and a
// libentry_plain.so answering 6) is on the system's search path only.
std::string probeAnswer(const std::string& libraryDirectory, const char* library) {
  const std::string command = "LD_LIBRARY_PATH='" + copyDirectory("plain") + "' '" +
                              copyDirectory("program") + "/entry_search_probe' '" +
                              libraryDirectory + "' " + library + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  std::string output;
  char chunk[256];
  while (size_t n = fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
  pclose(pipe);
  return output;
}

TEST(LibraryEntries, SearchOrderLibraryThenProgramDirectoryThenSystemSearch) {
  EXPECT_EQ(probeAnswer(copyDirectory("library"), "libocr.so"), "1\n");
  EXPECT_EQ(probeAnswer(copyDirectory("library") + "/", "libocr.so"), "1\n");
  // An empty library directory, or one without the library, is passed over.
  EXPECT_EQ(probeAnswer("", "libocr.so"), "4\n");
  EXPECT_EQ(probeAnswer("/nonexistent", "libocr.so"), "4\n");
  // Only the system's search finds this one.
  EXPECT_EQ(probeAnswer("", "libentry_plain.so"), "6\n");
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

TEST(LibraryEntriesDeathTest, AFaultInTheExitRoutineEndsTheProcessWithoutASecondBox) {
  EXPECT_EXIT(
      {
        setFatalExitRoutine([] {
          fprintf(stderr, "exit routine ran\n");
          modulo(1, 0);
        });
        intDivide(1, 0);
      },
      // Nothing after the routine's line: the second fault showed no box.
      testing::ExitedWithCode(255), "不能整除于零(.|\n)*exit routine ran\n$");
}

TEST(LibraryEntriesDeathTest, TwoFaultsAtOnceEndTheProcessOnce) {
  setFatalExitRoutine(nullptr);
  EXPECT_EXIT(
      {
        setFatalExitRoutine([] { fprintf(stderr, "exit routine ran\n"); });
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i) threads.emplace_back([] { intDivide(1, 0); });
        for (auto& t : threads) t.join();
      },
      testing::ExitedWithCode(255), "^([^x]*不能整除于零[^x]*)+exit routine ran\n[^x]*$");
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(LibraryEntriesDeathTest, OperatorNewThatCannotGetMemoryIsFatal) {
  // The test program links the program's operator new (left out of the
  // sanitizer builds).
  EXPECT_EXIT(
      {
        volatile size_t huge = size_t{1} << 62;
        char* volatile p = new char[huge];
        p[0] = 1;
      },
      testing::ExitedWithCode(255), "分配 4611686018427387904 字节内存失败!");
  char* p = new (std::nothrow) char[size_t{1} << 62];
  EXPECT_EQ(p, nullptr);
}
#endif

TEST(LibraryEntriesDeathTest, AllocationFailureNamesTheBytes) {
  EXPECT_EXIT(reportAllocationFailure(123456), testing::ExitedWithCode(255),
              "分配 123456 字节内存失败!");
}

}  // namespace
