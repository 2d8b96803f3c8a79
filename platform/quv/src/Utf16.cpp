// 'U' replies: the marker, UTF-16LE units, the terminator unit.
#include <unicode/ustring.h>

#include <vector>

#include "Internal.h"

namespace quvimpl {

std::u16string Utf8ToUtf16(const std::string& utf8) {
  if (utf8.empty()) return {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t len = 0;
  int32_t subs = 0;
  u_strFromUTF8WithSub(nullptr, 0, &len, utf8.data(), static_cast<int32_t>(utf8.size()), 0xFFFD,
                       &subs, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return u"\uFFFD";
  std::vector<UChar> buf(static_cast<std::size_t>(len) + 1);
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(buf.data(), static_cast<int32_t>(buf.size()), &len, utf8.data(),
                       static_cast<int32_t>(utf8.size()), 0xFFFD, &subs, &status);
  if (U_FAILURE(status)) return u"\uFFFD";
  return std::u16string(reinterpret_cast<const char16_t*>(buf.data()),
                        static_cast<std::size_t>(len));
}

}  // namespace quvimpl

namespace quvstub {

std::string Utf16Reply(const std::string& utf8) {
  std::u16string units = quvimpl::Utf8ToUtf16(utf8);
  std::string out = "U";
  out.reserve(1 + 2 * (units.size() + 1));
  for (char16_t u : units) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>((u >> 8) & 0xFF));
  }
  out.push_back('\0');
  out.push_back('\0');
  return out;
}

}  // namespace quvstub
