#include "http/response.h"

#include <iterator>
#include <utility>

#include "text/library_entries.h"

bool sendResponse(ServerHandle server, ConnectionId connection, int32_t statusCode,
                  const std::optional<Text>& description, const HeaderList& headers,
                  const ByteBuffer& body) {
  Text statusText = description.has_value()
                        ? *description
                        : reasonPhrase(static_cast<int16_t>(static_cast<uint16_t>(statusCode)));
  const char* statusAddress = statusText.empty() ? nullptr : statusText.c_str();

  // The entry array borrows the list's texts for the duration of the call.
  const int count = headers.count();
  std::vector<THeader> entries;
  entries.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    entries.push_back(THeader{headers.at(i).name.c_str(), headers.at(i).value.c_str()});
  }
  return entry::HP_HttpServer_SendResponse(server, connection, statusCode, statusAddress,
                                           count == 0 ? nullptr : entries.data(), count,
                                           body.data(), body.length()) != 0;
}

Text reasonPhrase(int16_t code) {
  static constexpr std::pair<int16_t, const char*> kPhrases[] = {
      {100, "Continue"},
      {101, "Switching Protocols"},
      {102, "Processing"},
      {200, "OK"},
      {201, "Created"},
      {202, "Accepted"},
      {203, "Non-Authoritative Information"},
      {204, "No Content"},
      {205, "Reset Content"},
      {206, "Partial Content"},
      {207, "Multi-Status"},
      {208, "Already Reported"},
      {226, "IM Used"},
      {300, "Multiple Choices"},
      {301, "Moved Permanently"},
      {302, "Move temporarily"},
      {303, "See Other"},
      {304, "Not Modified"},
      {305, "Use Proxy"},
      {306, "Switch Proxy"},
      {307, "Temporary Redirect"},
      {308, "Permanent Redirect"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {402, "Payment Required"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {406, "Not Acceptable"},
      {407, "Proxy Authentication Required"},
      {408, "Request Timeout"},
      {409, "Conflict"},
      {410, "Gone"},
      {411, "Length Required"},
      {412, "Precondition Failed"},
      {413, "Request Entity Too Large"},
      {414, "Request-URI Too Long"},
      {415, "Unsupported Media Type"},
      {416, "Requested Range Not Satisfiable"},
      {417, "Expectation Failed"},
      {421, "Misdirected Request"},
      {422, "Unprocessable Entity"},
      {423, "Locked"},
      {424, "Failed Dependency"},
      {425, "Unordered Collection"},
      {426, "Upgrade Required"},
      {428, "Precondition Required"},
      {429, "Too Many Requests"},
      {431, "Request Header Fields Too Large"},
      {449, "Retry With"},
      {451, "Unavailable For Legal Reasons"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
      {505, "HTTP Version Not Supported"},
      {506, "Variant Also Negotiates"},
      {507, "Insufficient Storage"},
      {508, "Loop Detected"},
      {509, "Bandwidth Limit Exceeded"},
      {510, "Not Extended"},
      {511, "Network Authentication Required"},
      {600, "Unparseable Response Headers"},
  };
  static_assert(std::size(kPhrases) == 64);
  for (const auto& [known, phrase] : kPhrases) {
    if (known == code) return Text(phrase);
  }
  return Text("***");
}
