// Reading back the call text of a handler given by name when event texts are
// quoted: name("…","…"); must be well-formed UTF-8, and each argument one
// double-quoted string literal as an ES5 engine reads it (no raw line
// terminator inside, LF, CR, U+2028 and U+2029 among them), with nothing
// before, between or after but the name, "(", ",", and ");". Written apart
// from the module's own writing: the text is decoded by ICU's converter and
// the literals by the grammar, so the two cannot share a mistake.
#ifndef NPTV_TESTS_FUZZ_JSCALL_H
#define NPTV_TESTS_FUZZ_JSCALL_H

#include <string>

#include <unicode/ustring.h>

namespace jscall {

// UTF-16 of `bytes`; ill-formed sequences become U+FFFD (one per maximal
// subpart, as a browser's UTF-8 decoder does) when `substitute`, and make
// the result false otherwise.
inline bool ToUtf16(const std::string& bytes, bool substitute, std::u16string* out) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  const auto size = static_cast<int32_t>(bytes.size());
  const UChar32 sub = substitute ? 0xFFFD : -1;
  u_strFromUTF8WithSub(nullptr, 0, &length, bytes.data(), size, sub, nullptr, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
  out->assign(static_cast<std::size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(&(*out)[0]), length + 1, &length, bytes.data(),
                       size, sub, nullptr, &status);
  return U_SUCCESS(status);
}

inline int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// One literal at s[*pos]; its value appended to `out`. False with a reason
// when it is not a complete literal.
inline bool ReadLiteral(const std::u16string& s, std::size_t* pos, std::u16string* out,
                        std::string* why) {
  std::size_t i = *pos;
  if (i >= s.size() || s[i] != u'"') return *why = "no opening quote", false;
  for (++i; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c == u'"') {
      *pos = i + 1;
      return true;
    }
    if (c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029)
      return *why = "a raw line terminator inside a literal", false;
    if (c != u'\\') {
      out->push_back(c);
      continue;
    }
    if (++i >= s.size()) break;
    const char16_t e = s[i];
    int digits = 0;
    switch (e) {
      case u'"': case u'\\': case u'\'': case u'/': out->push_back(e); break;
      case u'n': out->push_back(u'\n'); break;
      case u'r': out->push_back(u'\r'); break;
      case u't': out->push_back(u'\t'); break;
      case u'b': out->push_back(u'\b'); break;
      case u'f': out->push_back(u'\f'); break;
      case u'v': out->push_back(u'\v'); break;
      case u'u': digits = 4; break;
      case u'x': digits = 2; break;
      default: return *why = "an escape the module never writes", false;
    }
    if (!digits) continue;
    if (i + digits >= s.size()) return *why = "a cut-off escape", false;
    char16_t unit = 0;
    for (int k = 1; k <= digits; ++k) {
      const int d = HexDigit(s[i + k]);
      if (d < 0) return *why = "a bad hex digit in an escape", false;
      unit = static_cast<char16_t>(unit << 4 | d);
    }
    out->push_back(unit);
    i += digits;
  }
  return *why = "no closing quote", false;
}

// Reads `script` as name(literal,literal); for the given name; the two
// values, joined by a unit 0, in `args`.
inline bool ReadCall(const std::string& script, const std::string& name, std::u16string* args,
                     std::string* why) {
  if (script.compare(0, name.size(), name) != 0 || script.size() < name.size() + 1 ||
      script[name.size()] != '(')
    return *why = "does not start with the name and (", false;
  std::u16string rest;
  if (!ToUtf16(script.substr(name.size() + 1), false, &rest))
    return *why = "the call text is not well-formed UTF-8", false;
  std::size_t pos = 0;
  if (!ReadLiteral(rest, &pos, args, why)) return false;
  if (pos >= rest.size() || rest[pos] != u',') return *why = "no comma after the first", false;
  args->push_back(u'\0');
  ++pos;
  if (!ReadLiteral(rest, &pos, args, why)) return false;
  if (rest.compare(pos, std::u16string::npos, u");") != 0)
    return *why = "something other than ); after the second", false;
  return true;
}

}  // namespace jscall

#endif
