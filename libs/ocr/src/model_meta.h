// model_meta.h: the description that comes with the learned reader's model
// file (captcha_reader.meta, written by the training script beside
// captcha_reader.onnx): plain `key value` lines giving the input size, the
// pixel scaling x = (p * pixel_scale - pixel_mean) / pixel_std, the charset
// (output class i+1 is charset[i], class 0 the CTC blank) and the output
// layout. See libs/ocr/model/README.md.
#ifndef OCR_MODEL_META_H_
#define OCR_MODEL_META_H_

#include <optional>
#include <string>
#include <string_view>

namespace libocr {

struct ModelMeta {
  int inputHeight = 0;
  int inputWidth = 0;
  int inputChannels = 1;  // 1: gray (ITU-R 601 luma), 3: RGB
  std::string charset;
  double pixelScale = 1.0;
  double pixelMean = 0.0;
  double pixelStd = 1.0;
  bool timeMajor = false;      // output layout T,N,C (true) or N,T,C (false)
  bool outputIsLogits = true;  // or log-probabilities
};

// Parses the text of a meta file. Nothing, with `problem` set to a short
// description, when a required key is missing or a value is unusable.
std::optional<ModelMeta> parseModelMeta(std::string_view text, std::string* problem);

}  // namespace libocr

#endif  // OCR_MODEL_META_H_
