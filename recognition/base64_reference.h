// The Base64 procedure transcribed step by step with the text operations, as
// slow as it reads (quadratic: the output is re-joined per group). It is the
// reference that the table-driven base64Decode must agree with, byte for
// byte; used by the tests and the fuzz target, on short texts only.
#ifndef REZ_RECOGNITION_BASE64_REFERENCE_H_
#define REZ_RECOGNITION_BASE64_REFERENCE_H_

#include <cmath>
#include <cstdint>
#include <vector>

#include "recognition/base64.h"
#include "text/text_ops.h"

inline ByteBuffer stepByStepBase64Decode(const Text& input) {
  const Text alphabet(kBase64Alphabet);
  const Text cleaned = replaceSubtext(removeAllSpaces(input), Text("\r\n"));
  const int length = textLength(cleaned);
  double groups = intDivide(length, 4);
  if (std::fabs(modulo(length, 4)) > 1e-7) groups += 1;
  int slot[4] = {0, 0, 0, 0};
  ByteBuffer output;
  int k = 5;
  for (int g = 1; g <= static_cast<int>(groups); ++g) {
    for (k = 1; k <= 4; ++k) {
      const int position = (g - 1) * 4 + k;
      slot[k - 1] = toByte(charCode(cleaned, position));
      const int found = findText(alphabet, charFromCode(toByte(slot[k - 1])));
      if (found == -1) break;
      slot[k - 1] = found - 1;
    }
    const uint8_t b0 = toByte(bitOr({realToInt(slot[0] * 4.0), realToInt(intDivide(slot[1], 16))}));
    const uint8_t b1 = toByte(bitOr({realToInt(slot[1] * 16.0), realToInt(intDivide(slot[2], 4))}));
    const uint8_t b2 = toByte(bitOr({realToInt(slot[2] * 64.0), slot[3]}));
    const ByteBuffer group(std::vector<uint8_t>{b0, b1, b2});
    output = concatBytes({&output, &group});
    processEvents();
  }
  if (groups > 0 && k <= 4) {
    const int cut = k == 1 ? 3 : 5 - k;
    output = bytesLeft(output, bytesLength(output) - cut);
  }
  return output;
}

#endif  // REZ_RECOGNITION_BASE64_REFERENCE_H_
