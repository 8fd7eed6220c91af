// libFuzzer target for the request road: base64Decode (checked against the
// step-by-step procedure on short texts), the text searches the road uses,
// and handleRecognitionRequest with the hex test engine (which reads every
// image byte, so a wrong address or length shows up under the sanitizers).
//
// Input: the first byte picks the operation; the rest is split at the byte
// 0x00 into up to three texts (a Text holds no zero byte).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "recognition/base64.h"
#include "recognition/base64_reference.h"
#include "recognition/request_routing.h"
#include "text/text_ops.h"

class HeaderList;

namespace {

constexpr size_t kReferenceLimit = 256;  // the reference is quadratic

void check(bool condition) {
  if (!condition) std::abort();
}

std::vector<Text> splitTexts(const uint8_t* data, size_t size) {
  std::vector<Text> texts;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && texts.size() < 2) {
      texts.emplace_back(std::string_view(current));
      current.clear();
    } else if (data[i] != 0) {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  texts.emplace_back(std::string_view(current));
  while (texts.size() < 3) texts.emplace_back();
  return texts;
}

// A found position is a real occurrence within the text.
void checkFound(const Text& text, const Text& sought, int position) {
  if (position == -1) return;
  check(position >= 1 && position <= text.length());
  if (!sought.empty()) {
    check(text.view().substr(size_t(position - 1), size_t(sought.length())) == sought.view());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setDllDirectory(Text(REZ_TEST_ENGINES_DIR "/hex"));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const std::vector<Text> texts = splitTexts(data + 1, size - 1);
  const Text& a = texts[0];
  const Text& b = texts[1];
  const Text& c = texts[2];
  const int start = b.empty() ? 0 : static_cast<int8_t>(b.bytes()[0]);

  switch (selector % 6) {
    case 0: {
      const ByteBuffer decoded = base64Decode(a);
      check(decoded.length() <= (a.length() + 3) / 4 * 3);
      if (size_t(a.length()) <= kReferenceLimit) check(decoded == stepByStepBase64Decode(a));
      break;
    }
    case 1:
      checkFound(a, b, findText(a, b));
      checkFound(a, b, findText(a, b, start));
      checkFound(a, b, findTextReverse(a, b));
      checkFound(a, b, findTextReverse(a, b, start));
      break;
    case 2:
      check(replaceSubtext(a, b, c).length() >= 0);
      check(removeAllSpaces(a).length() <= a.length());
      textToInt(a);
      break;
    case 3:
      textBetween(a, b, c, start, selector & 0x80);
      textAfter(a, b, start < 0 ? -start : start, selector & 0x80);
      break;
    default: {
      // path and method are mostly right, so the fuzzer spends its time
      // behind the four checks.
      static const int standIn = 0;
      const auto& headers = *reinterpret_cast<const HeaderList*>(&standIn);
      const bool wellFormed = selector % 6 == 4;
      int status = 0;
      Text statusText;
      const Text answer =
          handleRecognitionRequest(wellFormed ? Text("/vexo/") : a, wellFormed ? Text("GET") : b,
                                   wellFormed ? a : c, headers, Text(), Text(), status, statusText);
      check(status == 0 || status == 200);
      check(statusText.empty());
      check(!answer.empty());
      break;
    }
  }
  return 0;
}
