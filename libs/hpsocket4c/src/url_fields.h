// Splits a request target into the URL fields of HP_HttpServer_GetUrlField
// (schema, host, port, path, query, fragment, user info). Every field keeps
// exactly the bytes received: nothing is decoded or normalised, because the
// program reads the Base64 image straight out of the query.
#ifndef HPSOCKET4C_SRC_URL_FIELDS_H_
#define HPSOCKET4C_SRC_URL_FIELDS_H_

#include <array>
#include <string>
#include <string_view>

namespace hpsocket4c {

inline constexpr int kUrlFieldCount = 7;

struct UrlFields {
  std::array<std::string, kUrlFieldCount> value;
  std::array<bool, kUrlFieldCount> present{};

  void clear();
  // nullptr when the field is absent from the URL; "" when present but empty.
  const char* get(int field) const;
};

// Fills `fields` from `target` (origin form "/p?q#f", absolute form
// "http://user@host:port/p?q#f", or authority / asterisk form).
void splitUrl(std::string_view target, UrlFields& fields);

}  // namespace hpsocket4c

#endif  // HPSOCKET4C_SRC_URL_FIELDS_H_
