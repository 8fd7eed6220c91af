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

// Captchas keep one letter case throughout (or are read without regard to
// case), and a few letters look the same in both cases apart from size:
// c k m o p s u v w x z. A reading in which only such letters break the
// majority case gets them in the majority case ("R9KmTU" becomes "R9KMTU");
// any other mixture, and a tie, is left as read.
inline std::string unifyAmbiguousCase(std::string text) {
  constexpr std::string_view kSameShape = "ckmopsuvwxz";
  int upper = 0, lower = 0;
  for (char c : text) {
    upper += c >= 'A' && c <= 'Z';
    lower += c >= 'a' && c <= 'z';
  }
  if (upper == 0 || lower == 0 || upper == lower) return text;
  const bool toUpper = upper > lower;
  for (char c : text) {
    const bool minority = toUpper ? (c >= 'a' && c <= 'z') : (c >= 'A' && c <= 'Z');
    if (minority && kSameShape.find(static_cast<char>(c | 0x20)) == std::string_view::npos) {
      return text;
    }
  }
  for (char& c : text) {
    if (toUpper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!toUpper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace libocr

#endif  // OCR_CHARSET_H_
