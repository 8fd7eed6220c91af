#include "recognition/base64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <thread>

#include "platform/environment.h"
#include "recognition/base64_reference.h"
#include "recognition/test_bytes.h"
#include "text/text_ops.h"

namespace {

struct DecodeCase {
  const char* input;
  const char* expectedHex;
};

// The documented results, including the deliberate oddities: no "=" means no
// cut, a foreign character ends only its own group, slots carry over.
const DecodeCase kDecodeCases[] = {
    {"QUJD", "41 42 43"},
    {"QUI=", "41 42"},
    {"QQ==", "41"},
    {"QUJDQQ==", "41 42 43 41"},
    {"QUJDQ===", "41 42 43"},
    {"aGVsbG8=", "68 65 6C 6C 6F"},
    {"QUI", "41 42 00"},
    {"QQ", "41 00 00"},
    {"Q", "40 00 00"},
    {"aGVsbG8", "68 65 6C 6C 6F 00"},
    {"QUJDQQ", "41 42 43 41 00 00"},
    {"", ""},
    {"QU JD", "41 42 43"},
    {"QUJD\r\nQUJD", "41 42 43 41 42 43"},
    {"QUJD\xA1\xA1QUJD", "41 42 43 41 42 43"},
    {"QU*DQUJD", "41 4A 80 41 42 43"},
    {"QUJD\nQUJD", "41 42 43 29 42 43 0C 00 00"},
    // A last group ending at its first character cuts only its own bytes.
    {"QUJD=", "41 42 43"},
    {"QUJD====", "41 42 43"},
    {"QUJD\n", "41 42 43"},
    {"QUI=\n", "41 42 3D"},
    // Only spaces and CR LF pairs: nothing is left.
    {" \r\n\xA1\xA1 \r\n", ""},
    // A removed pair is not searched again; a lone CR stays foreign.
    {"QUJD\r\r\n\nQUJD", "41 42 43 35 42 43 24 30 00"},
    // A double-byte character ends its group at its first byte.
    {"QU\xD6\xD0QUJD", "41 75 80 41 42 43"},
    // A space inside a double-byte character is not a space; a lone lead
    // byte at the end is dropped with the cleaning.
    {"QUJD\x81 QUJD", "41 42 43 05 42 43 24 30 00"},
    {"QUJD\x81", "41 42 43"},
};

TEST(Base64DecodeTest, GivesTheDocumentedResults) {
  for (const DecodeCase& c : kDecodeCases) {
    EXPECT_EQ(toHex(base64Decode(Text(c.input))), c.expectedHex) << "input: " << c.input;
  }
}

TEST(Base64DecodeTest, AgreesWithTheStepByStepProcedureOnRandomTexts) {
  // Bytes weighted toward what changes the outcome: pad, spaces, CR, LF,
  // lead bytes (A1 for the full-width space), other foreign characters.
  const std::string interesting = std::string("= \r\n\t*\xA1\xA1\x81\xFF\x7F", 11);
  std::mt19937 random(20261211);
  for (int round = 0; round < 20000; ++round) {
    std::string bytes;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) {
      const unsigned pick = random() % 4;
      if (pick == 0) {
        bytes += interesting[random() % interesting.size()];
      } else if (pick == 1) {
        bytes += static_cast<char>(1 + random() % 255);
      } else {
        bytes += kBase64Alphabet[random() % 64];
      }
    }
    const Text input(bytes);
    ASSERT_EQ(toHex(base64Decode(input)), toHex(stepByStepBase64Decode(input)))
        << "input: " << toHex(input);
  }
}

int g_pumpCalls = 0;
void countPumpCall() { ++g_pumpCalls; }

// On the window thread the decoder handles pending events after every group;
// on any other thread it never runs the window's pump.
TEST(Base64DecodeTest, HandlesWindowEventsAfterEveryGroupOnTheWindowThread) {
  g_pumpCalls = 0;
  platform::installEventPump(countPumpCall);  // this thread is the window thread now
  base64Decode(Text("QUJDQUJD\nQUJDQQ"));     // four groups, one of them cut short
  EXPECT_EQ(g_pumpCalls, 4);
  std::thread([] { base64Decode(Text("QUJDQUJD")); }).join();
  EXPECT_EQ(g_pumpCalls, 4);
  platform::installEventPump(nullptr);
}

}  // namespace
