// Test support: point the library directory at one of the test engines
// (tests/engines) and read its call log.
#ifndef REZ_RECOGNITION_TEST_ENGINE_H_
#define REZ_RECOGNITION_TEST_ENGINE_H_

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "text/text.h"
#include "text/text_ops.h"

class HeaderList;

// The handler takes the header list only for its fixed shape and never
// touches it, so the tests hand it a stand-in without building the type.
inline const HeaderList& unusedHeaders() {
  static const int standIn = 0;
  return *reinterpret_cast<const HeaderList*>(&standIn);
}

// A code-page-936 text from a UTF-8 literal, the way the program's texts are
// expected to be encoded.
inline Text gbk(const char8_t* utf8) {
  const std::string bytes =
      platform::convertCodePage(reinterpret_cast<const char*>(utf8), "UTF-8", "CP936");
  return Text(std::string_view(bytes));
}

// Makes this process load `engine` (a directory name under the test engines)
// at its first engine call, and logs the engine's calls to a private file.
class TestEngine {
 public:
  explicit TestEngine(const std::string& engine)
      : directory_(std::string(REZ_TEST_ENGINES_DIR) + "/" + engine),
        logPath_(::testing::TempDir() + "rez_engine_log_" + std::to_string(::getpid())) {
    setDllDirectory(Text(std::string_view(directory_)));
    ::setenv("REZ_TEST_ENGINE_LOG", logPath_.c_str(), 1);
    clearLog();
  }
  ~TestEngine() {
    ::unsetenv("REZ_TEST_ENGINE_LOG");
    std::remove(logPath_.c_str());
  }

  void clearLog() { std::ofstream(logPath_, std::ios::trunc); }

  // The lines logged since the last clearLog ("init", "ocr 3", ...).
  std::vector<std::string> calls() const {
    std::vector<std::string> lines;
    std::ifstream in(logPath_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // For the scripted engine: the answers, given from the first one on.
  void script(const std::string& answers) {
    ::setenv("REZ_TEST_ENGINE_ANSWERS", answers.c_str(), 1);
    const std::string library = directory_ + "/libocr.so";
    if (void* module = ::dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
      if (auto restart = reinterpret_cast<void (*)()>(::dlsym(module, "test_engine_restart"))) {
        restart();
      }
      ::dlclose(module);
    }
  }

 private:
  std::string directory_;
  std::string logPath_;
};

#endif  // REZ_RECOGNITION_TEST_ENGINE_H_
