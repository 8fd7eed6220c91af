#include "recognition/code_pages.h"

#include <gtest/gtest.h>

#include <string>

#include "recognition/test_bytes.h"

namespace {

ByteBuffer bytes(const char* hex) { return ByteBuffer(hexBytes(hex)); }
Text textOf(const char* hex) {
  const std::vector<uint8_t> b = hexBytes(hex);
  return Text(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}

TEST(CodePagesTest, ConvertsBetweenGbkUtf16AndUtf8) {
  // 中文 is D6 D0 CE C4 in code page 936 and E4 B8 AD E6 96 87 in UTF-8.
  EXPECT_EQ(toHex(utf8BytesToText(bytes("E4 B8 AD E6 96 87"))), "D6 D0 CE C4");
  EXPECT_EQ(toHex(textToUtf8Bytes(textOf("63 6F 64 65 3A D6 D0 CE C4"))),
            "63 6F 64 65 3A E4 B8 AD E6 96 87");
  // 识别失败
  EXPECT_EQ(toHex(textToUtf8Bytes(textOf("CA B6 B1 F0 CA A7 B0 DC"))),
            "E8 AF 86 E5 88 AB E5 A4 B1 E8 B4 A5");
  EXPECT_EQ(toHex(textToWide(Text("AB"))), "41 00 42 00 00 00");
  EXPECT_EQ(toHex(textToWide(textOf("D6 D0"))), "2D 4E 00 00");
  EXPECT_EQ(toHex(wideToText(bytes("2D 4E 87 65"))), "D6 D0 CE C4");
  EXPECT_EQ(toHex(wideToMultiByte(bytes("2D 4E 00 00"), kCodePageUtf8)), "E4 B8 AD");
  EXPECT_EQ(toHex(multiByteToWide(bytes("E4 B8 AD"), kCodePageUtf8)), "2D 4E 00 00");
}

TEST(CodePagesTest, StopsAtTheFirstZero) {
  EXPECT_EQ(toHex(multiByteToWide(bytes("41 00 42"), kCodePageGbk)), "41 00 00 00");
  EXPECT_EQ(toHex(multiByteToWide(bytes("41 00 42"), kCodePageUtf8)), "41 00 00 00");
  EXPECT_EQ(toHex(wideToMultiByte(bytes("41 00 00 00 42 00"), kCodePageUtf8)), "41");
  EXPECT_EQ(toHex(utf8BytesToText(bytes("41 00 42"))), "41");
  // A zero unit counts only on a unit boundary: 41 00 is "A", 00 42 is U+4200.
  EXPECT_EQ(toHex(wideToMultiByte(bytes("41 00 00 42"), kCodePageUtf8)), "41 E4 88 80");
  // A trailing odd byte reads as a unit with a zero high byte.
  EXPECT_EQ(toHex(wideToMultiByte(bytes("41 00 42"), kCodePageUtf8)), "41 42");
}

TEST(CodePagesTest, EmptyOrZeroLeadInputGivesEmptyOutput) {
  for (const char* hex : {"", "00", "00 41"}) {  // multi-byte: the first byte is zero
    SCOPED_TRACE(hex);
    EXPECT_TRUE(multiByteToWide(bytes(hex), kCodePageGbk).empty());
    EXPECT_TRUE(multiByteToWide(bytes(hex), kCodePageUtf8).empty());
    EXPECT_TRUE(utf8BytesToText(bytes(hex)).empty());
  }
  for (const char* hex : {"", "00", "00 00 41 00"}) {  // wide: the first unit is zero
    SCOPED_TRACE(hex);
    EXPECT_TRUE(wideToMultiByte(bytes(hex), kCodePageGbk).empty());
    EXPECT_TRUE(wideToMultiByte(bytes(hex), kCodePageUtf8).empty());
    EXPECT_TRUE(wideToText(bytes(hex)).empty());
  }
  EXPECT_TRUE(textToWide(Text()).empty());
  EXPECT_TRUE(textToUtf8Bytes(Text()).empty());
}

TEST(CodePagesTest, ReplacesWhatCannotBeConvertedInsteadOfFailing) {
  // Invalid UTF-8, a character code page 936 lacks (U+1F600), a lone
  // surrogate, a byte that is no GBK character, between A and B: each is replaced by
  // something, and A and B survive around it.
  auto asString = [](const ByteBuffer& b) {
    return std::string(b.bytes().begin(), b.bytes().end());
  };
  struct Case {
    const char* what;
    std::string converted;
  };
  const Case cases[] = {
      {"invalid UTF-8", utf8BytesToText(bytes("41 FF 42")).bytes()},
      {"emoji", wideToText(bytes("41 00 3D D8 00 DE 42 00")).bytes()},
      {"lone surrogate", wideToText(bytes("41 00 00 D8 42 00")).bytes()},
      {"invalid GBK byte", asString(multiByteToWide(bytes("41 FF 42"), kCodePageGbk))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_GT(c.converted.size(), 2u);
    EXPECT_EQ(c.converted.front(), 'A');
    EXPECT_NE(c.converted.find('B'), std::string::npos);
  }
}

TEST(CodePagesTest, UnknownCodePageGivesEmptyResult) {
  EXPECT_TRUE(multiByteToWide(bytes("41"), 1252).empty());
  EXPECT_TRUE(wideToMultiByte(bytes("41 00"), 1252).empty());
}

}  // namespace
