// charset.h: the characters the engine answers with. Captchas of the web use
// digits and Latin letters; both readers are restricted to these, and every
// reading is filtered to them, so a result is always plain ASCII (and so
// valid code page 936).
#ifndef OCR_CHARSET_H_
#define OCR_CHARSET_H_

#include <string>
#include <string_view>

namespace libocr {

inline constexpr std::string_view kCaptchaCharset =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// `text` without every character outside the captcha charset (spaces,
// newlines, punctuation a reader guessed).
inline std::string keepCharset(std::string_view text) {
  std::string kept;
  for (char c : text) {
    if (kCaptchaCharset.find(c) != std::string_view::npos) kept.push_back(c);
  }
  return kept;
}

}  // namespace libocr

#endif  // OCR_CHARSET_H_
