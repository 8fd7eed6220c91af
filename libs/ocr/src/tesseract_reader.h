// tesseract_reader.h: the line reader, Tesseract 5's LSTM model for English
// restricted to the captcha charset, without dictionaries (captchas are no
// words). One instance per thread: Tesseract objects are not thread-safe,
// and each holds its own copy of the model (about 10 MB).
#ifndef OCR_TESSERACT_READER_H_
#define OCR_TESSERACT_READER_H_

#include <memory>
#include <opencv2/core.hpp>
#include <string>

namespace tesseract {
class TessBaseAPI;
}

namespace libocr {

// Directory of the Tesseract language data: $TESSDATA_PREFIX when set, else
// Debian's location.
std::string tessdataDirectory();

class TesseractReader {
 public:
  enum class Layout { kSingleLine, kSingleWord, kSingleChar };

  TesseractReader();
  ~TesseractReader();
  TesseractReader(const TesseractReader&) = delete;
  TesseractReader& operator=(const TesseractReader&) = delete;

  // False when the language data could not be loaded; read() then gives "".
  bool ready() const { return ready_; }

  struct Reading {
    std::string text;    // filtered to the captcha charset
    int confidence = 0;  // Tesseract's mean word confidence, 0-100
  };

  // Text in `page` (8-bit gray, dark glyphs on light).
  Reading read(const cv::Mat& page, Layout layout);

 private:
  std::unique_ptr<tesseract::TessBaseAPI> api_;
  bool ready_ = false;
};

}  // namespace libocr

#endif  // OCR_TESSERACT_READER_H_
