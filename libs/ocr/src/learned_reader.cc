// The learned captcha reader on OpenCV's DNN module.
#include "learned_reader.h"

#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <sstream>

namespace libocr {
namespace {

// Longest reading decoded: far beyond the 4-8 characters of captchas, and
// bounded by the model's number of columns anyway.
constexpr int kMaxReadingLength = 16;

// The model files of one directory, as read once for the whole process.
struct ModelFiles {
  std::optional<ModelMeta> meta;
  std::vector<char> onnx;
  std::string problem;  // why there is no usable model
};

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ModelFiles readModelFiles(const std::string& directory) {
  ModelFiles files;
  const std::string metaPath = directory + "/" + kModelMetaFileName;
  const std::string onnxPath = directory + "/" + kModelFileName;
  const auto metaText = readFile(metaPath);
  const auto onnx = readFile(onnxPath);
  if (!onnx) {
    files.problem = "model " + onnxPath + " not found";
    return files;
  }
  if (!metaText) {
    files.problem = "model description " + metaPath + " not found";
    return files;
  }
  std::string problem;
  files.meta = parseModelMeta(*metaText, &problem);
  if (!files.meta) {
    files.problem = "model description " + metaPath + ": " + problem;
    return files;
  }
  files.onnx.assign(onnx->begin(), onnx->end());
  return files;
}

// Each directory's files are read once; entries never change afterwards,
// so the reference stays valid and may be used without the lock.
const ModelFiles& modelFiles(const std::string& directory) {
  static std::mutex mutex;
  static std::map<std::string, ModelFiles> byDirectory;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = byDirectory.find(directory);
  if (it == byDirectory.end()) it = byDirectory.emplace(directory, readModelFiles(directory)).first;
  return it->second;
}

}  // namespace

std::unique_ptr<LearnedReader> LearnedReader::load(const std::string& directory,
                                                   std::string* problem) {
  const ModelFiles& files = modelFiles(directory);
  if (!files.meta) {
    if (problem) *problem = files.problem;
    return nullptr;
  }
  try {
    cv::dnn::Net net = cv::dnn::readNetFromONNX(files.onnx.data(), files.onnx.size());
    if (net.empty()) {
      if (problem) *problem = std::string("model ") + kModelFileName + " could not be loaded";
      return nullptr;
    }
    net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    return std::unique_ptr<LearnedReader>(new LearnedReader(*files.meta, std::move(net)));
  } catch (const cv::Exception& e) {
    if (problem) *problem = std::string("model ") + kModelFileName + " is unusable: " + e.what();
    return nullptr;
  }
}

std::vector<ScoredReading> LearnedReader::read(const cv::Mat& rgb) {
  if (rgb.empty() || rgb.type() != CV_8UC3) return {};
  // Exactly the preparation the training script applies: luma gray (or the
  // RGB picture), stretched to the input size with area averaging, then
  // x = (p * scale - mean) / std.
  cv::Mat picture;
  if (meta_.inputChannels == 1) {
    cv::cvtColor(rgb, picture, cv::COLOR_RGB2GRAY);
  } else {
    picture = rgb;
  }
  cv::Mat sized;
  cv::resize(picture, sized, cv::Size(meta_.inputWidth, meta_.inputHeight), 0, 0, cv::INTER_AREA);
  cv::Mat scaled;
  sized.convertTo(scaled, CV_32F, meta_.pixelScale / meta_.pixelStd,
                  -meta_.pixelMean / meta_.pixelStd);
  const cv::Mat blob = cv::dnn::blobFromImage(scaled);  // 1 x channels x H x W

  cv::Mat output;
  try {
    net_.setInput(blob);
    output = net_.forward();
  } catch (const cv::Exception&) {
    return {};
  }
  if (output.dims != 3 || output.type() != CV_32F) return {};
  // Brought to steps x classes whatever the layout.
  const int steps = meta_.timeMajor ? output.size[0] : output.size[1];
  const int classes = output.size[2];
  if ((meta_.timeMajor ? output.size[1] : output.size[0]) != 1 ||
      classes != static_cast<int>(meta_.charset.size()) + 1) {
    return {};
  }
  const cv::Mat scores(steps, classes, CV_32F, output.ptr<float>());
  const cv::Mat logProbabilities = meta_.outputIsLogits ? logSoftmaxRows(scores) : scores.clone();
  return bestReadingPerLength(logProbabilities, meta_.charset, kMaxReadingLength);
}

}  // namespace libocr
