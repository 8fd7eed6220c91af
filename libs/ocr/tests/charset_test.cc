// The charset filter and the letter-case repair applied to every reading.
#include "charset.h"

#include <gtest/gtest.h>

namespace libocr {
namespace {

TEST(KeepCharset, DropsEverythingButDigitsAndLatinLetters) {
  EXPECT_EQ(keepCharset("A b-9\n\xc4\xe3z."), "Ab9z");
  EXPECT_EQ(keepCharset(""), "");
}

TEST(UnifyAmbiguousCase, RepairsOnlyLettersThatLookAlikeInBothCases) {
  const struct {
    const char* read;
    const char* expected;
  } cases[] = {
      {"R9KmTU", "R9KMTU"},  // m is M drawn small
      {"yCt8m", "yct8m"},    // C is c drawn large
      {"AbCD", "AbCD"},      // b has its own shape: left alone
      {"aBcD", "aBcD"},      // a tie: no majority to follow
      {"K7P2", "K7P2"},      // one case already
      {"x4SW", "X4SW"},     {"2345", "2345"},
  };
  for (const auto& c : cases) EXPECT_EQ(unifyAmbiguousCase(c.read), c.expected) << c.read;
}

}  // namespace
}  // namespace libocr
