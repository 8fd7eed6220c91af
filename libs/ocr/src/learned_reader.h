// learned_reader.h: the captcha reader trained by libs/ocr/model/train.py,
// a small convolutional CTC recogniser run with OpenCV's DNN module. The
// model (captcha_reader.onnx and its captcha_reader.meta) is read from the
// library's own directory. The file is read once per process; each thread
// builds its own network from it (a cv::dnn::Net must not run forward on
// two threads at once).
#ifndef OCR_LEARNED_READER_H_
#define OCR_LEARNED_READER_H_

#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <string>
#include <vector>

#include "ctc_decode.h"
#include "model_meta.h"

namespace libocr {

inline constexpr const char* kModelFileName = "captcha_reader.onnx";
inline constexpr const char* kModelMetaFileName = "captcha_reader.meta";

class LearnedReader {
 public:
  // The reader for the calling thread, from the model files in `directory`;
  // null with `problem` set (naming the missing or broken file) when there
  // is no usable model.
  static std::unique_ptr<LearnedReader> load(const std::string& directory, std::string* problem);

  // Readings of `rgb` (8-bit, 3 channels), the best of each length, best
  // first. Empty when the network fails.
  std::vector<ScoredReading> read(const cv::Mat& rgb);

 private:
  LearnedReader(ModelMeta meta, cv::dnn::Net net) : meta_(std::move(meta)), net_(std::move(net)) {}

  ModelMeta meta_;
  cv::dnn::Net net_;
};

}  // namespace libocr

#endif  // OCR_LEARNED_READER_H_
