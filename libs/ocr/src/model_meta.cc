// Parsing of the learned reader's meta file.
#include "model_meta.h"

#include <charconv>
#include <map>

namespace libocr {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

bool toInt(std::string_view s, int* out) {
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return error == std::errc() && end == s.data() + s.size();
}

bool toDouble(std::string_view s, double* out) {
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return error == std::errc() && end == s.data() + s.size();
}

}  // namespace

std::optional<ModelMeta> parseModelMeta(std::string_view text, std::string* problem) {
  std::map<std::string, std::string, std::less<>> values;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = trim(text.substr(0, newline));
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    if (line.empty() || line.front() == '#') continue;
    const std::size_t space = line.find_first_of(" \t");
    if (space == std::string_view::npos) continue;
    values.emplace(std::string(line.substr(0, space)), std::string(trim(line.substr(space + 1))));
  }
  auto fail = [&](std::string what) -> std::optional<ModelMeta> {
    if (problem) *problem = std::move(what);
    return std::nullopt;
  };
  auto get = [&](std::string_view key) -> const std::string* {
    const auto it = values.find(key);
    return it == values.end() ? nullptr : &it->second;
  };

  ModelMeta meta;
  struct IntKey {
    std::string_view name;
    int* target;
    int lowest, highest;
  };
  for (const IntKey& key : {IntKey{"input_height", &meta.inputHeight, 8, 512},
                            IntKey{"input_width", &meta.inputWidth, 8, 4096},
                            IntKey{"input_channels", &meta.inputChannels, 1, 3}}) {
    const std::string* v = get(key.name);
    if (!v) return fail("no " + std::string(key.name));
    if (!toInt(*v, key.target) || *key.target < key.lowest || *key.target > key.highest) {
      return fail("bad " + std::string(key.name) + " '" + *v + "'");
    }
  }
  if (meta.inputChannels == 2) return fail("input_channels must be 1 or 3");

  const std::string* charset = get("charset");
  if (!charset || charset->empty()) return fail("no charset");
  meta.charset = *charset;

  struct DoubleKey {
    std::string_view name;
    double* target;
  };
  for (const DoubleKey& key :
       {DoubleKey{"pixel_scale", &meta.pixelScale}, DoubleKey{"pixel_mean", &meta.pixelMean},
        DoubleKey{"pixel_std", &meta.pixelStd}}) {
    const std::string* v = get(key.name);
    if (!v) return fail("no " + std::string(key.name));
    if (!toDouble(*v, key.target)) return fail("bad " + std::string(key.name) + " '" + *v + "'");
  }
  if (meta.pixelStd == 0.0) return fail("pixel_std is 0");

  const std::string* layout = get("output_layout");
  if (!layout) return fail("no output_layout");
  if (*layout == "T,N,C") {
    meta.timeMajor = true;
  } else if (*layout != "N,T,C") {
    return fail("output_layout '" + *layout + "' is neither T,N,C nor N,T,C");
  }
  const std::string* output = get("output");
  if (!output) return fail("no output");
  if (*output == "log_probs") {
    meta.outputIsLogits = false;
  } else if (*output != "logits") {
    return fail("output '" + *output + "' is neither logits nor log_probs");
  }
  // The engine only stretches the picture to the input size.
  if (const std::string* resize = get("resize"); resize && *resize != "stretch") {
    return fail("resize '" + *resize + "' is not stretch");
  }
  return meta;
}

}  // namespace libocr
