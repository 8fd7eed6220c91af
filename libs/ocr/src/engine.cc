// The two C entries of libocr.so on a per-thread Recogniser.
//
// init() returns 0 when both readers are ready and 1 when something is
// missing (then it has written one line on stderr naming it); the program
// does not look at the value.
#include <dlfcn.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "ocr_engine.h"
#include "recogniser.h"

namespace libocr {
namespace {

// Directory of the file this code was loaded from (libocr.so): the model
// files are installed beside it, wherever the program and its libraries
// were copied.
std::string libraryDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&libraryDirectory), &info) == 0 || info.dli_fname == nullptr) {
    return ".";
  }
  std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

Recogniser& threadRecogniser() {
  static const std::string modelDirectory = libraryDirectory();
  thread_local Recogniser recogniser(modelDirectory);
  return recogniser;
}

}  // namespace
}  // namespace libocr

extern "C" int init(void) {
  try {
    const libocr::Recogniser& recogniser = libocr::threadRecogniser();
    if (recogniser.problems().empty()) return 0;
    std::fprintf(stderr, "libocr: %s\n", recogniser.problems().c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "libocr: the recogniser could not be prepared: %s\n", e.what());
    return 1;
  }
}

extern "C" const char* ocr(const void* image, int length) {
  // The text for failures: a static empty string is valid forever.
  static const char kNothing[] = "";
  if (length < 0) return kNothing;
  try {
    return libocr::threadRecogniser()
        .recognise(static_cast<const std::uint8_t*>(image), static_cast<std::size_t>(length))
        .c_str();
  } catch (...) {
    // Nothing may cross the C boundary; a reader that throws (OpenCV
    // reports errors as exceptions) yields no reading.
    return kNothing;
  }
}
