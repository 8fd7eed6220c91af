// The Tesseract line reader.
#include "tesseract_reader.h"

#include <tesseract/baseapi.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "charset.h"

// Tesseract's LSTM runs its matrix products in OpenMP teams of four threads.
// With one recogniser per request thread that multiplies the threads far
// beyond the cores and makes the team's spinning threads fight each other;
// allowing zero active parallel levels on the calling thread makes every
// parallel region run on that thread alone. Declared here so the engine
// needs no OpenMP compiler flags (the symbol comes with libgomp, which
// Tesseract links).
extern "C" void omp_set_max_active_levels(int levels);

namespace libocr {

std::string tessdataDirectory() {
  if (const char* prefix = std::getenv("TESSDATA_PREFIX"); prefix != nullptr && *prefix) {
    return prefix;
  }
  return "/usr/share/tesseract-ocr/5/tessdata";
}

namespace {

// Tesseract's debug and warning output goes to a file named by a
// process-wide setting; pointing it at /dev/null keeps its remarks about
// odd pictures off stderr. Being global, it is set once, before any
// recogniser exists, and never concurrently.
void silenceTesseractOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    tesseract::TessBaseAPI api;
    api.SetVariable("debug_file", "/dev/null");
  });
}

}  // namespace

TesseractReader::TesseractReader() : api_(std::make_unique<tesseract::TessBaseAPI>()) {
  omp_set_max_active_levels(0);
  silenceTesseractOnce();
  // Dictionaries only pull readings of random letters towards English
  // words; they are init-time settings, so they go through Init.
  std::vector<std::string> names = {"load_system_dawg", "load_freq_dawg"};
  std::vector<std::string> values = {"0", "0"};
  ready_ = api_->Init(tessdataDirectory().c_str(), "eng", tesseract::OEM_LSTM_ONLY, nullptr, 0,
                      &names, &values, false) == 0;
  if (!ready_) return;
  const std::string whitelist(kCaptchaCharset);
  api_->SetVariable("tessedit_char_whitelist", whitelist.c_str());
}

TesseractReader::~TesseractReader() {
  if (api_) api_->End();
}

TesseractReader::Reading TesseractReader::read(const cv::Mat& page, Layout layout) {
  if (!ready_ || page.empty() || page.type() != CV_8UC1) return {};
  switch (layout) {
    case Layout::kSingleLine:
      api_->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
      break;
    case Layout::kSingleWord:
      api_->SetPageSegMode(tesseract::PSM_SINGLE_WORD);
      break;
    case Layout::kSingleChar:
      api_->SetPageSegMode(tesseract::PSM_SINGLE_CHAR);
      break;
  }
  api_->SetImage(page.data, page.cols, page.rows, 1, static_cast<int>(page.step));
  // Captchas carry no resolution; this value only silences the warning
  // about the missing one and matches the scale cleanCaptcha produces.
  api_->SetSourceResolution(300);
  std::unique_ptr<char[]> text(api_->GetUTF8Text());
  Reading reading;
  if (text) {
    reading.text = keepCharset(text.get());
    reading.confidence = api_->MeanTextConf();
  }
  api_->Clear();
  return reading;
}

}  // namespace libocr
