// Reply decoding. A reply's first byte is its marker: 'E' error, 'I' decimal
// integer, 'A' ASCII text, 'U' UTF-16 text (units in the machine's byte
// order, the last unit being the terminator). The empty reply counts as one
// whose marker is the byte 0.
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bridge/CQuvBase.h"

namespace NSPlTV {

namespace {

// The decoded UTF-8 text is limited to this many bytes, terminator included.
constexpr std::size_t kUtf8Limit = 1024;

bool HasMarker(const std::string& reply, char marker) {
  return !reply.empty() && reply[0] == marker;
}

// The 'A' text: the bytes after the marker up to the first byte 0 or the end.
std::size_t AsciiLength(const std::string& reply) {
  std::size_t end = reply.find('\0', 1);
  return (end == std::string::npos ? reply.size() : end) - 1;
}

// UTF-8 length of the code point at units[i] as u_strToUTF8WithSub writes it
// (an unpaired surrogate becomes U+FFFD, three bytes); advances i.
std::size_t NextUtf8Length(const UChar* units, int32_t& i, int32_t count) {
  UChar32 c;
  U16_NEXT(units, i, count, c);
  return U16_IS_SURROGATE(c) ? 3 : U8_LENGTH(c);
}

}  // namespace

bool CQuvBase::IsError(std::string& reply) { return HasMarker(reply, 'E'); }

bool CQuvBase::GetInteger(std::string& reply, int* value) {
  if (!value || !HasMarker(reply, 'I')) return false;
  // strtoll stops at the first byte that is not part of the number, and the
  // string's own terminator (or an embedded byte 0) is such a byte. The
  // result is clamped to 32 bits whatever the width of long on this machine.
  long long number = std::strtoll(reply.c_str() + 1, nullptr, 10);
  if (number > INT32_MAX) number = INT32_MAX;
  if (number < INT32_MIN) number = INT32_MIN;
  *value = static_cast<int>(number);
  return true;
}

bool CQuvBase::GetASCII(std::string& reply, std::string& text) {
  if (!HasMarker(reply, 'A')) return false;
  text.assign(reply, 1, AsciiLength(reply));
  return true;
}

bool CQuvBase::GetASCII(std::string& reply, char* buffer, std::size_t capacity) {
  if (!buffer || capacity == 0 || !HasMarker(reply, 'A')) return false;
  std::size_t length = AsciiLength(reply);
  if (length > capacity - 1) length = capacity - 1;
  std::memcpy(buffer, reply.data() + 1, length);
  buffer[length] = '\0';
  return true;
}

bool CQuvBase::GetUNICODE(std::string& reply, unsigned short* buffer, std::size_t capacity) {
  if (!buffer || capacity == 0 || !HasMarker(reply, 'U')) return false;
  // n units in all, marker included in the count; unit n-1 is the terminator
  // whatever it holds, so a stray odd byte at the end is dropped too.
  std::size_t n = reply.size() / 2;
  if (n == 0) return true;  // no unit at all: nothing to write
  std::size_t textUnits = n - 1;

  // Every unit before the first 0 unit yields at least one byte of UTF-8, so
  // no more than kUtf8Limit units can ever fit.
  UChar units[kUtf8Limit];
  int32_t count = static_cast<int32_t>(textUnits < kUtf8Limit ? textUnits : kUtf8Limit);
  std::memcpy(units, reply.data() + 1, count * sizeof(UChar));
  for (int32_t i = 0; i < count; ++i) {
    if (units[i] == 0) {
      count = i;
      break;
    }
  }

  // Keep the whole characters whose UTF-8 form fits before the terminator.
  const std::size_t room = (capacity < kUtf8Limit ? capacity : kUtf8Limit) - 1;
  std::size_t bytes = 0;
  int32_t fitting = 0;
  for (int32_t i = 0; i < count;) {
    std::size_t length = NextUtf8Length(units, i, count);
    if (bytes + length > room) break;
    bytes += length;
    fitting = i;
  }

  char utf8[kUtf8Limit];
  int32_t written = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(utf8, static_cast<int32_t>(sizeof utf8), &written, units, fitting, 0xFFFD,
                     nullptr, &status);
  if (U_FAILURE(status) || static_cast<std::size_t>(written) != bytes) return false;

  unsigned char* out = reinterpret_cast<unsigned char*>(buffer);
  std::memcpy(out, utf8, bytes);
  out[bytes] = 0;
  return true;
}

}  // namespace NSPlTV
