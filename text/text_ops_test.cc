#include "text/text_ops.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using std::nullopt;

Text T(std::string_view bytes) { return Text(bytes); }

ByteBuffer B(std::initializer_list<uint8_t> bytes) {
  return ByteBuffer(std::vector<uint8_t>(bytes));
}

struct FindCase {
  const char* text;
  const char* sought;
  std::optional<int> start;
  int forward;
  int reverse;
};

TEST(FindText, WindowsAndEdgesInBothDirections) {
  const FindCase cases[] = {
      {"", "a", nullopt, -1, -1},       {"abcdefghij", "", nullopt, 1, 1},
      {"abcdefghij", "", 5, 1, 1},    // an empty sought text is found at 1
      {"abcdefghij", "", 11, -1, 1},  // ... unless the window is empty
      {"abcdefghij", "", 1, 1, -1},   // a reverse start of 1 leaves no window
      {"abcabc", "abc", 0, 1, -1},    // 0, 1 and negative all mean the first byte
      {"abcabc", "abc", 1, 1, -1},      {"abcabc", "abc", -3, 1, -1},
      {"abcabc", "abc", 2, 4, -1},  // reverse window: the first byte only
      {"abcabc", "abc", 7, -1, 4},  // length + 1: the whole text
      {"abcabc", "abc", nullopt, 1, 4}, {"abcabc", "abc", 100, -1, 4},
      {"aaa", "aa", nullopt, 1, 2},  // overlapping occurrences
      {"abcabc", "abc", 4, 4, 1},    // reverse window of 3 bytes holds the first
  };
  for (const FindCase& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.sought);
    EXPECT_EQ(findText(c.text, c.sought, c.start), c.forward);
    EXPECT_EQ(findTextReverse(c.text, c.sought, c.start), c.reverse);
  }
}

TEST(FindText, StepsOverDoubleByteCharacters) {
  // D6 41 is one character: "A" (41) at its second byte is not a match.
  EXPECT_EQ(findText(T("\xD6\x41\x41"), "A"), 3);
  EXPECT_EQ(findTextReverse(T("\xD6\x41x"), "A"), -1);
  // A lone lead byte is compared before it ends the walk.
  EXPECT_EQ(findText(T("ab\xD6"), "\xD6"), 3);
  EXPECT_EQ(findText(T("\xD6"), "x"), -1);
  EXPECT_EQ(findText(T("\xD6\xD0\xCE\xC4"), T("\xCE\xC4")), 3);
}

TEST(FindText, CaseInsensitiveFoldsOnlyAsciiLetters) {
  EXPECT_EQ(findText("xxHeLLo", "hello", nullopt, true), 3);
  EXPECT_EQ(findText("xxHeLLo", "hello", nullopt, false), -1);
  EXPECT_EQ(findTextReverse("Ab-aB", "ab", nullopt, true), 4);
  EXPECT_EQ(findText("[", "{", nullopt, true), -1);
}

TEST(ReplaceSubtext, ReplacesEveryOccurrenceWithoutRescanning) {
  EXPECT_EQ(replaceSubtext("xxxx", "xx", "x"), Text("xx"));
  EXPECT_EQ(replaceSubtext("a\r\nb\r\n", "\r\n"), Text("ab"));
  EXPECT_EQ(replaceSubtext("abc", "z", "y"), Text("abc"));
  EXPECT_EQ(replaceSubtext("abc", "", "y"), Text("abc"));
  EXPECT_EQ(replaceSubtext("abab", "ab", "X", 2), Text("abX"));
  EXPECT_EQ(replaceSubtext("ababab", "ab", "X", nullopt, 2), Text("XXab"));
  EXPECT_EQ(replaceSubtext("abab", "ab", "X", nullopt, 0), Text("abab"));
  EXPECT_EQ(replaceSubtext("abab", "ab", "X", nullopt, -1), Text("XX"));
  EXPECT_EQ(replaceSubtext("AbaB", "ab", "X", nullopt, nullopt, false), Text("XX"));
  // The lone lead byte at the end: dropped only when the walk reaches it.
  EXPECT_EQ(replaceSubtext(T("ab\xD6"), "z"), Text("ab"));
  EXPECT_EQ(replaceSubtext(T("ab\xD6"), "zz"), T("ab\xD6"));
}

TEST(RemoveAllSpaces, RemovesBothSpacesKeepsTabsAndDropsALoneLeadByte) {
  EXPECT_EQ(removeAllSpaces(T("\x20\x41\xA1\xA1\x42\x09")), T("\x41\x42\x09"));
  EXPECT_EQ(removeAllSpaces(T("a b\xD6")), Text("ab"));
  EXPECT_EQ(removeAllSpaces(T("\xD6\xD0 \r\n")), T("\xD6\xD0\r\n"));
}

TEST(TextToInt, FoldsFullWidthFormsAndWraps) {
  const std::pair<const char*, int32_t> cases[] = {
      {"   42abc", 42},
      {"-17", -17},
      {"", 0},
      {"abc", 0},
      {"0x1F", 0},
      {"12.9", 12},
      {"\xA3\xB1\xA3\xB2\xA3\xB3", 123},  // full-width 123
      {"\xA1\xA1\xA3\xAD\xA3\xB5", -5},   // full-width space, minus, 5
      {"2147483648", std::numeric_limits<int32_t>::min()},
      {"4294967297", 1},
      {"+8", 8},
      {"\t\n 9", 9},
      {"8888abc", 8888},
  };
  for (const auto& [text, value] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(textToInt(text), value);
  }
}

TEST(Cutting, MidRightAndByteCuts) {
  EXPECT_EQ(textMid("abcde", 4, 10), Text("de"));
  EXPECT_EQ(textMid("abcde", 6, 1), Text());
  EXPECT_EQ(textMid("abcde", 0, 1), Text());
  EXPECT_EQ(textMid("abcde", 2, 0), Text());
  EXPECT_EQ(textMid("abcde", 2, 2), Text("bc"));
  EXPECT_EQ(textRight("abc", 10), Text("abc"));
  EXPECT_EQ(textRight("abc", 0), Text());
  EXPECT_EQ(textRight("abc", -1), Text());
  const ByteBuffer abc = B({1, 2, 3});
  EXPECT_EQ(bytesLeft(abc, -1), ByteBuffer());
  EXPECT_EQ(bytesLeft(abc, 9), abc);
  EXPECT_EQ(bytesRight(abc, 2), B({2, 3}));
  EXPECT_EQ(bytesRight(abc, -2), ByteBuffer());
  EXPECT_EQ(concatBytes({&abc, &abc}), B({1, 2, 3, 1, 2, 3}));
}

TEST(CharCode, SignedBytesAndZeroOutsideTheText) {
  const Text t = T("a\xC4z");
  for (int p : {0, 4, 5, -1}) EXPECT_EQ(charCode(t, p), 0) << p;
  EXPECT_EQ(charCode(t, 2), -60);
  EXPECT_EQ(toByte(charCode(t, 2)), 196);
  EXPECT_EQ(charCode(t), 'a');
  EXPECT_EQ(charCode(Text()), 0);
  EXPECT_EQ(charFromCode(0), Text());
  EXPECT_EQ(findText("ABC", charFromCode(0)), 1);
  EXPECT_EQ(charFromCode(0xC4).length(), 1);
}

TEST(Conversions, NumbersTextsAndBytes) {
  EXPECT_EQ(int64ToText(-5), Text("-5"));
  EXPECT_EQ(int64ToText(0), Text("0"));
  EXPECT_EQ(int64ToText(std::numeric_limits<int64_t>::min()), Text("-9223372036854775808"));
  EXPECT_EQ(bytesToText(B({0x41, 0x42, 0x00, 0x43})), Text("AB"));
  EXPECT_EQ(bytesToText(B({0x00, 0x41})), Text());
  EXPECT_EQ(textToBytes("AB"), B({0x41, 0x42}));
  EXPECT_EQ(blankText(3), Text("   "));
  EXPECT_EQ(blankText(-1), Text());
  EXPECT_EQ(blankBytes(3), B({0, 0, 0}));
  EXPECT_EQ(blankBytes(0), ByteBuffer());
  EXPECT_EQ(pointerToText(nullptr), Text());
  EXPECT_EQ(Text(std::string_view("a\0b", 3)), Text("a"));
  EXPECT_LT(compareText("ab", "abc"), 0);
  EXPECT_GT(compareText(T("\xC4"), "z"), 0);  // bytes compare unsigned
  EXPECT_EQ(concatText({"a", "", "bc"}), Text("abc"));
}

TEST(Numbers, TruncationAndLowBits) {
  EXPECT_EQ(toByte(-1), 255);
  EXPECT_EQ(toByte(256), 0);
  EXPECT_EQ(toByte(300), 44);
  EXPECT_EQ(bitOr({1, 2, 8}), 11);
  EXPECT_EQ(intDivide(7, 2), 3);
  EXPECT_EQ(intDivide(-7, 2), -3);
  EXPECT_EQ(modulo(7, 4), 3);
  EXPECT_EQ(modulo(-7, 4), -3);
  EXPECT_EQ(modulo(7.5, 2), 1.5);
  EXPECT_EQ(realToInt(2.9), 2);
  EXPECT_EQ(realToInt(-2.9), -2);
  EXPECT_EQ(realToInt(4294967296.0 + 5), 5);  // low 32 bits of the 64-bit value
  EXPECT_EQ(realToInt(1e30), 0);
  EXPECT_EQ(realToInt(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(NumbersDeathTest, DivisionByZeroIsFatal) {
  // 不能整除于零 / 不能求余数于零, shown as UTF-8 on standard error.
  EXPECT_EXIT(intDivide(1, 0), testing::ExitedWithCode(255), "不能整除于零");
  EXPECT_EXIT(modulo(1, 0), testing::ExitedWithCode(255), "不能求余数于零");
}

TEST(Environment, LibraryDirectoryGetsATrailingSlash) {
  setDllDirectory();
  EXPECT_EQ(setDllDirectory(Text("/opt/x")), Text());
  EXPECT_EQ(dllDirectory(), Text("/opt/x/"));
  EXPECT_EQ(setDllDirectory(Text("/opt/y/")), Text("/opt/x/"));
  EXPECT_EQ(setDllDirectory(), Text("/opt/y/"));
  EXPECT_EQ(dllDirectory(), Text());
  EXPECT_FALSE(runDirectory().empty());
  EXPECT_NE(runDirectory().bytes().back(), '/');
  processEvents();  // no window face: returns at once
}

}  // namespace

namespace {

// The exact searches take a fast path (memchr and word-wide boundary walks);
// the case-insensitive ones keep the plain character walk. Over bytes that
// hold no letter both must agree, so random texts of digits and lead bytes
// compare the two, lone lead bytes and second-byte traps included.
TEST(FindText, FastExactSearchAgreesWithThePlainWalk) {
  const char alphabet[] = {'1', '2', '3', '\xB1', '\xD6', '\x81'};
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
  auto randomText = [&](size_t maxLength) {
    std::string bytes(next() % (maxLength + 1), '1');
    for (char& c : bytes) c = alphabet[next() % sizeof alphabet];
    return Text(std::string_view(bytes));
  };
  for (int i = 0; i < 20000; ++i) {
    const Text text = randomText(40);
    const Text sought = randomText(3);
    std::optional<int> start;
    if (next() % 2 == 0) start = static_cast<int>(next() % 45) - 2;
    SCOPED_TRACE(i);
    ASSERT_EQ(findText(text, sought, start, false), findText(text, sought, start, true));
    ASSERT_EQ(findTextReverse(text, sought, start, false),
              findTextReverse(text, sought, start, true));
  }
}

}  // namespace
