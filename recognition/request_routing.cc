#include "recognition/request_routing.h"

#include <string>
#include <utility>

#include "recognition/base64.h"
#include "text/library_entries.h"
#include "text/text_ops.h"

namespace {

// The system's texts, as code-page-936 bytes; the readable text beside each.
constexpr char kNotFoundAnswer[] =
    "\xce\xb4\xd5\xd2\xb5\xbd\x76\x65\x78\x6f\xc4\xbf\xc2\xbc";               // 未找到vexo目录
constexpr char kUseGetAnswer[] = "\xc7\xeb\xca\xb9\xd3\xc3\x47\x45\x54";      // 请使用GET
constexpr char kNoCodeAnswer[] = "\xc7\xeb\xb4\xab\xc8\xeb\x63\x6f\x64\x65";  // 请传入code
constexpr char kNoLengthAnswer[] = "\xc7\xeb\xb4\xab\xc8\xeb\x6c\x65\x6e\x67";  // 请传入leng
constexpr char kFailedAnswer[] = "\xca\xb6\xb1\xf0\xca\xa7\xb0\xdc";            // 识别失败
constexpr char kQuoteToken[] = "\x23\xd2\xfd\xba\xc5";                          // #引号
constexpr char kAnswerPrefix[] = "code:";

constexpr char kResourcePath[] = "/vexo/";
constexpr char kMethod[] = "GET";
constexpr char kCodeMarker[] = "code=";
constexpr char kLengthMarker[] = "length=";
constexpr char kSeparator[] = "&";
constexpr int kRecognitionTries = 4;
constexpr int kAcceptedStatus = 200;

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

Text percentDecode(Text text) {
  const std::string& in = text.bytes();
  if (in.find('%') == std::string::npos) return text;  // raw Base64: no copy
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '%' && i + 2 < in.size()) {
      const int high = hexDigitValue(in[i + 1]);
      const int low = hexDigitValue(in[i + 2]);
      const int byte = high * 16 + low;
      if (high >= 0 && low >= 0 && byte != 0) {
        out.push_back(static_cast<char>(byte));
        i += 2;
        continue;
      }
    }
    out.push_back(in[i]);
  }
  return Text(std::string_view(out));
}

Text textBetween(const Text& text, const Text& leftMarker, const Text& rightMarker,
                 int startPosition, bool caseInsensitive) {
  const Text quote("\"");
  const Text left = replaceSubtext(leftMarker, Text(kQuoteToken), quote);
  const Text right = replaceSubtext(rightMarker, Text(kQuoteToken), quote);
  const int leftAt = findText(text, left, startPosition, caseInsensitive);
  if (leftAt == -1) return Text();
  const int valueAt = leftAt + textLength(left);
  const int rightAt = findText(text, right, valueAt, caseInsensitive);
  if (rightAt == -1) return Text();
  return textMid(text, valueAt, rightAt - valueAt);
}

Text textAfter(const Text& text, const Text& marker, int skipAtEnd, bool caseInsensitive) {
  const int length = textLength(text);
  const int markerAt = findTextReverse(text, marker, length - skipAtEnd + 1, caseInsensitive);
  if (markerAt == -1) return Text();
  return textRight(text, length - textLength(marker) - markerAt + 1);
}

Text recogniseImage(const ByteBuffer& image) {
  // The engine's text lives only until its next call on this thread: copy it.
  const char* result = entry::ocr(image.data(), bytesLength(image));
  return result == nullptr ? Text() : Text(result);
}

Text handleRecognitionRequest(const Text& path, const Text& method, const Text& query,
                              const HeaderList& /*headers*/, const Text& /*body*/,
                              const Text& /*cookie*/, int& statusCode, Text& /*statusText*/) {
  // Rejections leave the caller's status code (0) alone on purpose, as the
  // service has always answered them: the network library sends the code 0
  // as 400 Bad Request, with the message as the body.
  if (compareText(path, Text(kResourcePath)) != 0) return Text(kNotFoundAnswer);
  if (compareText(method, Text(kMethod)) != 0) return Text(kUseGetAnswer);
  // Plain substring tests from the first byte: "qrcode=" passes too.
  if (findText(query, Text(kCodeMarker)) == -1) return Text(kNoCodeAnswer);
  if (findText(query, Text(kLengthMarker)) == -1) return Text(kNoLengthAnswer);

  // Accepted: 200 from here on, whatever recognition gives.
  statusCode = kAcceptedStatus;

  // The code value runs to the first "&" after "code="; without one it is
  // empty and the engine sees the empty image.
  Text code = textBetween(query, Text(kCodeMarker), Text(kSeparator), 0, false);
  const ByteBuffer image = base64Decode(percentDecode(std::move(code)));

  // The expected length is read after the last "length=", so a client that
  // repeats the parameter is held to its last value. The query does not
  // change between tries, so it is read once.
  const int expectedLength = textToInt(textAfter(query, Text(kLengthMarker), 0, false));
  Text answer(kFailedAnswer);
  for (int attempt = 1; attempt <= kRecognitionTries; ++attempt) {
    const Text result = recogniseImage(image);
    if (textLength(result) == expectedLength) {
      answer = concatText({Text(kAnswerPrefix), result});
      break;
    }
  }
  return answer;
}
