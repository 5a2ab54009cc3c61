#include "text.h"

namespace kv {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string ltrim(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && is_space(s[b])) ++b;
  return std::string(s.substr(b));
}

std::string rtrim(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && is_space(s[e - 1])) --e;
  return std::string(s.substr(0, e));
}

std::string trim(std::string_view s) { return ltrim(rtrim(s)); }

bool starts_with(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::vector<std::string> split(std::string_view s, std::string_view sep) {
  std::vector<std::string> parts;
  if (sep.empty()) {
    parts.emplace_back(s);
    return parts;
  }
  size_t from = 0;
  while (true) {
    size_t at = s.find(sep, from);
    if (at == std::string_view::npos) break;
    parts.emplace_back(s.substr(from, at - from));
    from = at + sep.size();
  }
  parts.emplace_back(s.substr(from));
  return parts;
}

std::string join(const std::vector<std::string>& parts, std::string_view sep) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += sep;
    out += parts[i];
  }
  return out;
}

std::string replace(std::string_view s, std::string_view old, std::string_view repl) {
  if (old.empty()) return std::string(s);
  std::string out;
  size_t from = 0;
  while (true) {
    size_t at = s.find(old, from);
    if (at == std::string_view::npos) break;
    out += s.substr(from, at - from);
    out += repl;
    from = at + old.size();
  }
  out += s.substr(from);
  return out;
}

}  // namespace kv
