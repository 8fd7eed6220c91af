#include "response_builder.h"

#include <strings.h>

#include <charconv>
#include <cstring>

namespace hpsocket4c {

const char* standardReasonPhrase(int code) {
  switch (code) {
    case 100:
      return "Continue";
    case 101:
      return "Switching Protocols";
    case 102:
      return "Processing";
    case 103:
      return "Early Hints";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 203:
      return "Non-Authoritative Information";
    case 204:
      return "No Content";
    case 205:
      return "Reset Content";
    case 206:
      return "Partial Content";
    case 207:
      return "Multi-Status";
    case 208:
      return "Already Reported";
    case 226:
      return "IM Used";
    case 300:
      return "Multiple Choices";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 305:
      return "Use Proxy";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 402:
      return "Payment Required";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 406:
      return "Not Acceptable";
    case 407:
      return "Proxy Authentication Required";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 410:
      return "Gone";
    case 411:
      return "Length Required";
    case 412:
      return "Precondition Failed";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 415:
      return "Unsupported Media Type";
    case 416:
      return "Range Not Satisfiable";
    case 417:
      return "Expectation Failed";
    case 421:
      return "Misdirected Request";
    case 422:
      return "Unprocessable Content";
    case 423:
      return "Locked";
    case 424:
      return "Failed Dependency";
    case 425:
      return "Too Early";
    case 426:
      return "Upgrade Required";
    case 428:
      return "Precondition Required";
    case 429:
      return "Too Many Requests";
    case 431:
      return "Request Header Fields Too Large";
    case 451:
      return "Unavailable For Legal Reasons";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    case 505:
      return "HTTP Version Not Supported";
    case 506:
      return "Variant Also Negotiates";
    case 507:
      return "Insufficient Storage";
    case 508:
      return "Loop Detected";
    case 510:
      return "Not Extended";
    case 511:
      return "Network Authentication Required";
    default:
      break;
  }
  switch (code / 100) {
    case 1:
      return "Informational";
    case 2:
      return "Success";
    case 3:
      return "Redirection";
    case 4:
      return "Client Error";
    case 5:
      return "Server Error";
    default:
      return "Unknown";
  }
}

namespace {

bool splitsLine(const char* text) {
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '\r' || *c == '\n') return true;
  }
  return false;
}

bool validName(const char* name) {
  if (name == nullptr || *name == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c == '\r' || *c == '\n' || *c == ':' || *c == ' ' || *c == '\t') return false;
  }
  return true;
}

bool containsToken(const char* value, const char* token) {
  // Comma-separated list, compared case-insensitively.
  std::size_t token_length = std::strlen(token);
  const char* c = value;
  while (*c != '\0') {
    while (*c == ' ' || *c == '\t' || *c == ',') ++c;
    const char* start = c;
    while (*c != '\0' && *c != ',') ++c;
    const char* end = c;
    while (end > start && (end[-1] == ' ' || end[-1] == '\t')) --end;
    if (static_cast<std::size_t>(end - start) == token_length &&
        strncasecmp(start, token, token_length) == 0) {
      return true;
    }
  }
  return false;
}

void appendNumber(std::string& out, long long value) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end);
}

}  // namespace

void buildResponse(int status_code, const char* status_text, const THeader* headers,
                   int header_count, const std::uint8_t* body, int body_length,
                   const ResponseOptions& options, BuiltResponse& out) {
  if (status_code < 100 || status_code > 999) {
    status_code = 400;
    status_text = nullptr;
  }
  if (status_text == nullptr || *status_text == '\0' || splitsLine(status_text)) {
    status_text = standardReasonPhrase(status_code);
  }
  if (body == nullptr || body_length < 0) body_length = 0;
  if (headers == nullptr || header_count < 0) header_count = 0;
  bool bodiless_status = status_code < 200 || status_code == 204 || status_code == 304;

  std::size_t size = 64 + std::strlen(status_text) + static_cast<std::size_t>(body_length);
  for (int i = 0; i < header_count; ++i) {
    if (headers[i].name != nullptr) size += std::strlen(headers[i].name) + 4;
    if (headers[i].value != nullptr) size += std::strlen(headers[i].value);
  }
  std::string& bytes = out.bytes;
  bytes.clear();
  bytes.reserve(size);
  out.caller_closes = false;

  bytes.append("HTTP/1.1 ");
  appendNumber(bytes, status_code);
  bytes.push_back(' ');
  bytes.append(status_text);
  bytes.append("\r\n");

  bool has_length = false;
  bool has_connection = false;
  for (int i = 0; i < header_count; ++i) {
    const char* name = headers[i].name;
    const char* value = headers[i].value != nullptr ? headers[i].value : "";
    if (!validName(name) || splitsLine(value)) continue;
    if (strcasecmp(name, "Content-Length") == 0 || strcasecmp(name, "Transfer-Encoding") == 0) {
      has_length = true;
    } else if (strcasecmp(name, "Connection") == 0) {
      // When the server closes anyway its own "Connection: close" stands.
      if (options.will_close) continue;
      has_connection = true;
      if (containsToken(value, "close")) out.caller_closes = true;
    }
    bytes.append(name);
    bytes.append(": ");
    bytes.append(value);
    bytes.append("\r\n");
  }
  if (!has_length && !bodiless_status) {
    bytes.append("Content-Length: ");
    appendNumber(bytes, body_length);
    bytes.append("\r\n");
  }
  if (options.will_close) {
    bytes.append("Connection: close\r\n");
  } else if (options.http10_keep_alive && !has_connection) {
    bytes.append("Connection: keep-alive\r\n");
  }
  bytes.append("\r\n");
  if (!options.head_request && !bodiless_status && body_length > 0) {
    bytes.append(reinterpret_cast<const char*>(body), static_cast<std::size_t>(body_length));
  }
}

std::string buildErrorResponse(int status_code) {
  std::string bytes = "HTTP/1.1 ";
  appendNumber(bytes, status_code);
  bytes.push_back(' ');
  bytes.append(standardReasonPhrase(status_code));
  bytes.append("\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  return bytes;
}

}  // namespace hpsocket4c
