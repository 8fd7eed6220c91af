// The learned reader's description file.
#include "model_meta.h"

#include <gtest/gtest.h>

#include <string>

namespace libocr {
namespace {

const std::string kGood =
    "input_height 32\ninput_width 128\ninput_channels 1\n"
    "charset 0123456789abc\npixel_scale 0.0039215686\npixel_mean 0.5\npixel_std 0.5\n"
    "output_layout T,N,C\noutput log_probs\nresize stretch\ntime_steps 32\n";

TEST(ParseModelMeta, ReadsEveryKey) {
  std::string problem;
  const auto meta = parseModelMeta(kGood, &problem);
  ASSERT_TRUE(meta) << problem;
  EXPECT_EQ(meta->inputHeight, 32);
  EXPECT_EQ(meta->inputWidth, 128);
  EXPECT_EQ(meta->inputChannels, 1);
  EXPECT_EQ(meta->charset, "0123456789abc");
  EXPECT_DOUBLE_EQ(meta->pixelScale, 0.0039215686);
  EXPECT_DOUBLE_EQ(meta->pixelMean, 0.5);
  EXPECT_DOUBLE_EQ(meta->pixelStd, 0.5);
  EXPECT_TRUE(meta->timeMajor);
  EXPECT_FALSE(meta->outputIsLogits);
}

TEST(ParseModelMeta, ToleratesWindowsLineEndsAndComments) {
  std::string text = "# written by train.py\r\n";
  for (char c : kGood) {
    if (c == '\n') text += '\r';
    text += c;
  }
  std::string problem;
  const auto meta = parseModelMeta(text, &problem);
  ASSERT_TRUE(meta) << problem;
  EXPECT_EQ(meta->charset, "0123456789abc");
}

TEST(ParseModelMeta, NamesWhatIsWrong) {
  auto replaced = [](const std::string& line, const std::string& with) {
    std::string text = kGood;
    const std::size_t at = text.find(line);
    return text.replace(at, line.size(), with);
  };
  const struct {
    std::string text;
    std::string problem;
  } cases[] = {
      {replaced("input_height 32\n", ""), "no input_height"},
      {replaced("input_width 128", "input_width wide"), "bad input_width"},
      {replaced("input_channels 1", "input_channels 2"), "input_channels"},
      {replaced("charset 0123456789abc\n", ""), "no charset"},
      {replaced("pixel_std 0.5", "pixel_std 0"), "pixel_std"},
      {replaced("output_layout T,N,C", "output_layout C,T,N"), "output_layout"},
      {replaced("output log_probs", "output probs"), "output"},
      {replaced("resize stretch", "resize pad"), "resize"},
  };
  for (const auto& c : cases) {
    std::string problem;
    EXPECT_FALSE(parseModelMeta(c.text, &problem)) << c.problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
}

}  // namespace
}  // namespace libocr
