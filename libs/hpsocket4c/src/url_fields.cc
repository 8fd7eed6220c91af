#include "url_fields.h"

#include "hpsocket4c.h"

namespace hpsocket4c {

void UrlFields::clear() {
  for (int i = 0; i < kUrlFieldCount; ++i) {
    value[i].clear();
    present[i] = false;
  }
}

const char* UrlFields::get(int field) const {
  if (field < 0 || field >= kUrlFieldCount || !present[field]) return nullptr;
  return value[field].c_str();
}

namespace {

void set(UrlFields& fields, int field, std::string_view text) {
  fields.value[field].assign(text.data(), text.size());
  fields.present[field] = true;
}

// Path, query and fragment of "path?query#fragment".
void splitPathPart(std::string_view rest, UrlFields& fields) {
  std::size_t hash = rest.find('#');
  if (hash != std::string_view::npos) {
    set(fields, HP_HUF_FRAGMENT, rest.substr(hash + 1));
    rest = rest.substr(0, hash);
  }
  std::size_t question = rest.find('?');
  if (question != std::string_view::npos) {
    set(fields, HP_HUF_QUERY, rest.substr(question + 1));
    rest = rest.substr(0, question);
  }
  set(fields, HP_HUF_PATH, rest);
}

// "userinfo@host:port"; a bracketed IPv6 host keeps its colons.
void splitAuthority(std::string_view authority, UrlFields& fields) {
  std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    set(fields, HP_HUF_USERINFO, authority.substr(0, at));
    authority = authority.substr(at + 1);
  }
  std::size_t colon = authority.rfind(':');
  std::size_t bracket = authority.rfind(']');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    set(fields, HP_HUF_PORT, authority.substr(colon + 1));
    authority = authority.substr(0, colon);
  }
  set(fields, HP_HUF_HOST, authority);
}

}  // namespace

void splitUrl(std::string_view target, UrlFields& fields) {
  fields.clear();
  if (target.empty()) return;
  if (target.front() == '/' || target == "*") {
    splitPathPart(target, fields);
    return;
  }
  std::size_t scheme_end = target.find("://");
  if (scheme_end != std::string_view::npos &&
      target.substr(0, scheme_end).find_first_of("/?#") == std::string_view::npos) {
    set(fields, HP_HUF_SCHEMA, target.substr(0, scheme_end));
    std::string_view rest = target.substr(scheme_end + 3);
    std::size_t path_start = rest.find_first_of("/?#");
    splitAuthority(rest.substr(0, path_start), fields);
    if (path_start != std::string_view::npos) splitPathPart(rest.substr(path_start), fields);
    return;
  }
  // Authority form (CONNECT host:port).
  splitAuthority(target, fields);
}

}  // namespace hpsocket4c
