// Response headers and response sending.
//
// A HeaderList is an ordered list of owned (name, value) pairs: insertion
// order, duplicates kept, never looked up by name. sendResponse lends the
// list's texts to the network library for the one call (nothing is copied or
// converted), so many workers may send with one shared list at once as long
// as nobody changes it meanwhile. reasonPhrase is the status-line text used
// when the caller gives none.
#ifndef REZ_HTTP_RESPONSE_H_
#define REZ_HTTP_RESPONSE_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/hpsocket.h"
#include "text/text.h"

struct HeaderPair {
  Text name;
  Text value;
};

class HeaderList {
 public:
  void append(const Text& name, const Text& value) { pairs_.push_back(HeaderPair{name, value}); }
  void append(const HeaderPair& pair) { pairs_.push_back(pair); }
  // Releases every pair; the list becomes empty.
  void clear() { pairs_.clear(); }
  // Makes the list hold `count` pairs with empty names and values.
  void resetTo(int count) { pairs_.assign(static_cast<size_t>(count), HeaderPair{}); }
  int count() const { return static_cast<int>(pairs_.size()); }
  const HeaderPair& at(int index) const { return pairs_[static_cast<size_t>(index)]; }
  HeaderPair& at(int index) { return pairs_[static_cast<size_t>(index)]; }

 private:
  std::vector<HeaderPair> pairs_;
};

// Sends one complete response. With the description omitted the status text
// is reasonPhrase(the code's low 16 bits as a signed number); a given but
// empty description reaches the library as no text at all (the library then
// writes its own status line). The body goes out byte for byte; the list is
// left as it was. Returns the library's result.
bool sendResponse(ServerHandle server, ConnectionId connection, int32_t statusCode,
                  const std::optional<Text>& description, const HeaderList& headers,
                  const ByteBuffer& body);

// The status-line text for `code`, or "***" for a code not in the table (0
// included). The older wordings ("Move temporarily" for 302, "Request Entity
// Too Large" for 413, ...) are intended.
Text reasonPhrase(int16_t code);

#endif  // REZ_HTTP_RESPONSE_H_
