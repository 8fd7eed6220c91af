// The service's one request handler and the routines that serve it.
//
// handleRecognitionRequest checks a request (path "/vexo/", method GET, the
// query markers "code=" and "length="), decodes the Base64 image once, asks
// the engine up to four times for a result of the expected length and returns
// the answer text; it sets the status code to 200 only once the checks have
// passed. Every text is in code page 936. Stateless: runs on many worker
// threads at once; the engine (libocr.so, through the library-entry table)
// must itself accept concurrent calls.
#ifndef REZ_RECOGNITION_REQUEST_ROUTING_H_
#define REZ_RECOGNITION_REQUEST_ROUTING_H_

#include "text/text.h"

class HeaderList;  // the request's headers (http/response.h); not consulted

// The answer to one request. `statusCode` and `statusText` are the caller's
// (0 and empty when it calls): 200 is written once the request has passed its
// four checks, and a rejected request leaves 0 in place, which the network
// library sends as 400. The status text is never written. `headers`, `body`
// and `cookie` are accepted for the handler's fixed shape and not consulted.
Text handleRecognitionRequest(const Text& path, const Text& method, const Text& query,
                              const HeaderList& headers, const Text& body, const Text& cookie,
                              int& statusCode, Text& statusText);

// The text between the first `leftMarker` at or after `startPosition` (0 and
// 1 both mean the first byte) and the first `rightMarker` after it; empty when
// either is missing. The token "#引号" in a marker stands for a double quote.
Text textBetween(const Text& text, const Text& leftMarker, const Text& rightMarker,
                 int startPosition, bool caseInsensitive);

// Everything after the last `marker` that lies wholly within the first
// (length - skipAtEnd) bytes; empty when there is none or the marker ends the
// text.
Text textAfter(const Text& text, const Text& marker, int skipAtEnd, bool caseInsensitive);

// The engine's result for `image` (a null address for the empty image),
// copied at once; empty when the engine answers null.
Text recogniseImage(const ByteBuffer& image);

// The code value as clients send it, with each %XX of two hex digits made its
// byte, so that standard clients' %2B %2F %3D reach the decoder as + / =.
// %00 stays as it is (a Text holds no zero byte), as do "+" and a "%" not
// followed by two hex digits.
Text percentDecode(Text text);

#endif  // REZ_RECOGNITION_REQUEST_ROUTING_H_
