// JSON that comes from outside the process (a page's request, a socket
// message, a control line, a configuration file) is parsed here, and only
// here: nesting deeper than kMaxDepth is refused before the parser sees the
// text, so that no copy, dump or destruction of a parsed value recurses
// without bound (a line of a million '[' would otherwise end the process).
#ifndef NPTV_BOUNDEDJSON_H
#define NPTV_BOUNDEDJSON_H

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace nptvjson {

constexpr int kMaxDepth = 32;

// Whether the arrays and objects of `text` nest at most `limit` deep
// (brackets inside strings do not count). Linear, no recursion.
inline bool WithinDepth(std::string_view text, int limit = kMaxDepth) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

// Parses `text`; on failure answers a discarded value and says why in
// `*error` ("nested deeper than 32 levels" or the parser's own message).
inline nlohmann::json Parse(std::string_view text, std::string* error) {
  if (!WithinDepth(text)) {
    *error = "nested deeper than " + std::to_string(kMaxDepth) + " levels";
    return nlohmann::json(nlohmann::json::value_t::discarded);
  }
  try {
    return nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& e) {  // parse_error, or out_of_range for 1e400
    std::string what = e.what();                  // "[json.exception.parse_error.101] ..."
    auto at = what.find("] ");
    *error = at == std::string::npos ? what : what.substr(at + 2);
    return nlohmann::json(nlohmann::json::value_t::discarded);
  }
}

}  // namespace nptvjson

#endif
